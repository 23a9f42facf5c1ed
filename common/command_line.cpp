#include "command_line.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "terminal_text.h"

namespace {

#ifdef _WIN32
#define BOARD_LIBRARY "marlek.dll"
#else
#define BOARD_LIBRARY "libmarlek.so"
#endif

// The usage's lines, with the program's name for the first two %s and its
// summary for the third; the line that says where the manual is follows.
constexpr const char* USAGE =
    "Usage: %s\n"
    "       %s --help | --version\n"
    "%s\n"
    "It takes no arguments but these. It prints a menu, reads the operator's\n"
    "answers from standard input line by line and calls the board library\n"
    BOARD_LIBRARY ", until the answer q or the end of the input.\n"
    "  --help     prints this text and ends\n"
    "  --version  prints the version and ends\n";

// The bytes of text escaped at a time. Each takes at most four characters
// (\xHH), so a piece never fills PIECE_SHOWN and is never cut.
constexpr size_t PIECE = 64;
constexpr size_t PIECE_SHOWN = 4 * PIECE + 1;
// The most continuation bytes a UTF-8 character has after its first byte.
constexpr size_t MOST_CONTINUATION_BYTES = 3;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

// Where a piece of text that would end before text[end] ends so as not to
// split a character: at the first byte of the character that text[end]
// continues, if any. A byte that follows three continuation bytes continues
// none, so a piece of PIECE bytes shrinks by at most three.
size_t PieceEnd(const char* text, size_t end) {
    for (size_t back = 0; back <= MOST_CONTINUATION_BYTES; ++back) {
        if (!IsContinuationByte(text[end - back])) return end - back;
    }
    return end;
}

// A failed write of --help or --version ends the program with a line that
// says so, rather than a status 0 for output nobody got. errno is cleared
// before the output, as an unbuffered stream (the Windows C runtime's on a
// character device) fails in printf already.
int Written(const ProgramAbout& program, const char* what) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write the %s: %s\n", program.name, what,
                 error != 0 ? std::strerror(error) : "write error");
    return EXIT_OUTPUT_FAILED;
}

int PrintUsage(const ProgramAbout& program) {
    errno = 0;
    std::printf(USAGE, program.name, program.name, program.summary);
#ifdef _WIN32
    std::fputs("More in README.txt, beside the folder bin\\.\n", stdout);  // the package has no manual pages
#else
    std::printf("The manual: man %s\n", program.name);
#endif
    return Written(program, "usage");
}

int PrintVersion(const ProgramAbout& program) {
    errno = 0;
    std::printf("%s (%s) %s\n", program.name, MARLEK_PROJECT_TITLE, MARLEK_VERSION);
    return Written(program, "version");
}

int RefuseArguments(const ProgramAbout& program, int argc, char** argv) {
    std::fprintf(stderr, "%s: %s '", program.name, argc == 2 ? "unknown argument" : "too many arguments:");
    WriteForTerminal(stderr, argv[1]);
    std::fputs("'", stderr);
    if (argc > 2) std::fprintf(stderr, " and %d more", argc - 2);
    std::fprintf(stderr, "; %s takes no arguments (%s --help)\n", program.name, program.name);
    return EXIT_USAGE;
}

}  // namespace

std::optional<int> AnswerCommandLine(const ProgramAbout& program, int argc, char** argv) {
    if (argc < 2) return std::nullopt;
    if (argc == 2) {
        const std::string_view argument = argv[1];
        if (argument == "--help") return PrintUsage(program);
        if (argument == "--version") return PrintVersion(program);
    }
    return RefuseArguments(program, argc, argv);
}

void WriteForTerminal(std::FILE* out, const char* text) {
    const size_t length = std::strlen(text);
    char shown[PIECE_SHOWN];
    size_t at = 0;
    while (at < length) {
        const size_t end = length - at > PIECE ? PieceEnd(text, at + PIECE) : length;
        marlek_board::EscapeForTerminal(text + at, end - at, shown, sizeof shown);
        std::fputs(shown, out);
        at = end;
    }
}
