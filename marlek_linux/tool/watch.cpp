// marlek-board watch and show: the board as the board service holds it, live
// or once. The service tells each change as it is made, so the watch waits
// for its socket and the keyboard with no timeout: a quiet board wakes it
// for nothing.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/socket.h>
#include <unistd.h>

#include "board_description.h"
#include "commands.h"
#include "descriptors.h"
#include "change_lines.h"
#include "live_view.h"
#include "output.h"
#include "problem.h"
#include "service_client.h"
#include "service_protocol.h"
#include "terminal_text.h"
#include "watch_options.h"

namespace marlek_linux {

namespace {

namespace view = marlek_board::view;

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr size_t CHANGE_LINE_SIZE = 2 * view::PICTURE_TEXT_SIZE + 64;

bool Bit(unsigned value, unsigned pin) { return ((value >> pin) & 1u) != 0; }

const char* ModeName(uint8_t mode) {
    return mode == 0 ? "not switched" : marlek_board::SerialModeName(static_cast<marlek_board::SerialMode>(mode));
}

// ---- the board as a picture ----

void LedText(const BoardSnapshot& board, char* out, size_t size) {
    std::snprintf(out, size, "%s", board.ledKind == static_cast<uint8_t>(LedKind::None) ? "not described"
                                   : board.led == LED_ON_SHOWN                         ? "on"
                                   : board.led == LED_OFF_SHOWN                        ? "off"
                                                                                       : "not known yet");
}

const char* TtyText(uint8_t tty) {
    switch (tty) {
        case TTY_RS485_ON: return "RS-485 on";
        case TTY_RS485_OFF: return "RS-485 off";
        case TTY_NOT_KNOWN: return "not switched yet";
        default: return "";
    }
}

// Adds to the text at out[used] what the format makes of its arguments.
#if defined(__GNUC__)
__attribute__((format(printf, 4, 5)))
#endif
void Append(char* out, size_t size, size_t& used, const char* format, ...) {
    if (used >= size) return;
    va_list args;
    va_start(args, format);
    const int wrote = std::vsnprintf(out + used, size - used, format, args);
    va_end(args);
    if (wrote > 0) used += static_cast<size_t>(wrote);
}

// "RS-485, mode lines 0 1, tty1 RS-485 on", "not described".
void PairText(const BoardSnapshot& board, size_t pair, char* out, size_t size) {
    const bool ttys = board.ttys[pair][0] != TTY_NONE || board.ttys[pair][1] != TTY_NONE;
    if (board.modeLines[pair] == 0 && !ttys) {
        std::snprintf(out, size, "not described");
        return;
    }
    size_t used = 0;
    Append(out, size, used, "%s", ModeName(board.modes[pair]));
    if (board.modeLines[pair] > 0) {
        Append(out, size, used, ", mode lines");
        for (unsigned line = 0; line < board.modeLines[pair]; ++line) {
            if (board.modeLinesHeld[pair] == 0) {
                Append(out, size, used, " -");
            } else {
                Append(out, size, used, " %d", Bit(board.modeValues[pair], line) ? 1 : 0);
            }
        }
    }
    for (size_t port = 0; port < PAIR_PORTS; ++port) {
        if (board.ttys[pair][port] != TTY_NONE) {
            Append(out, size, used, ", tty%zu %s", port + 1, TtyText(board.ttys[pair][port]));
        }
    }
}

view::BoardPicture PictureOf(const BoardSnapshot& board) {
    view::BoardPicture picture;
    for (unsigned pin = 0; pin < view::PICTURE_PINS; ++pin) {
        view::PinPicture& shown = picture.pins[pin];
        shown.held = board.pinsHeld != 0 && Bit(board.pinsDescribed, pin);
        shown.output = Bit(board.outputMask, pin);
        shown.pushPull = Bit(board.pushPullMask, pin);
        shown.driven = shown.output ? view::LevelOf(Bit(board.drivenLevels, pin)) : view::Level::Unknown;
        shown.read = board.levelsKnown != 0 ? view::LevelOf(Bit(board.levels, pin)) : view::Level::Unknown;
    }
    char text[view::PICTURE_TEXT_SIZE];
    LedText(board, text, sizeof text);
    picture.SetLed(board.led == LED_ON_SHOWN, text);
    for (size_t pair = 0; pair < view::PICTURE_PAIRS; ++pair) {
        PairText(board, pair, text, sizeof text);
        picture.SetPair(pair, text);
    }
    return picture;
}

// ---- what changed, in words ----

const char* Direction(const BoardSnapshot& board, unsigned pin) {
    if (!Bit(board.outputMask, pin)) return "input";
    return Bit(board.pushPullMask, pin) ? "output, push-pull" : "output, open-drain";
}

// "pin 3 direction input -> output, push-pull": a pin's line, put together
// without a format; its length.
size_t PinLine(char (&text)[CHANGE_LINE_SIZE], unsigned pin, const char* field, const char* from, const char* to) {
    size_t used = 0;
    auto add = [&](const char* part) {
        const size_t length = std::strlen(part);
        if (used + length < sizeof text) {
            std::memcpy(text + used, part, length);
            used += length;
        }
    };
    const char digit[2] = {static_cast<char>('0' + pin), '\0'};
    add("pin ");
    add(digit);
    add(" ");
    add(field);
    add(" ");
    add(from);
    add(" -> ");
    add(to);
    text[used] = '\0';
    return used;
}

// "pin 3 drives 0 -> 1", "pin 3 level 1 -> 0": a form with the pin and the
// two levels put in at its three #, as a watch writes thousands of these a
// second.
struct LevelForm {
    const char* text;
    size_t length;
    size_t marks[3];
};

template <size_t N>
constexpr LevelForm FormOf(const char (&text)[N]) {
    static_assert(N <= CHANGE_LINE_SIZE, "the form fits a line");
    LevelForm form{text, N - 1, {}};
    size_t next = 0;
    for (size_t at = 0; at + 1 < N && next < 3; ++at) {
        if (text[at] == '#') form.marks[next++] = at;
    }
    return form;
}

constexpr LevelForm DRIVES_FORM = FormOf("pin # drives # -> #");
constexpr LevelForm LEVEL_FORM = FormOf("pin # level # -> #");

// The line's length.
size_t LevelLine(char (&text)[CHANGE_LINE_SIZE], const LevelForm& form, unsigned pin, bool from, bool to) {
    std::memcpy(text, form.text, form.length + 1);
    text[form.marks[0]] = static_cast<char>('0' + pin);
    text[form.marks[1]] = from ? '1' : '0';
    text[form.marks[2]] = to ? '1' : '0';
    return form.length;
}

// Calls line(text, length) for each change from before to after, in a fixed order:
// the pins held or given back, the directions, drives, driven levels and the
// levels a read gives (pin 0 to 7), the LED and the two pairs.
template <typename Line>
void Changes(const BoardSnapshot& before, const BoardSnapshot& after, Line line) {
    char text[CHANGE_LINE_SIZE];
    if (before.pinsHeld != after.pinsHeld) {
        const char* held = after.pinsHeld != 0 ? "pins held" : "pins given back";
        line(held, std::strlen(held));
    }
    const bool directions = before.outputMask != after.outputMask ||
                            (before.pushPullMask ^ after.pushPullMask) & after.outputMask;
    for (unsigned pin = 0; pin < 8 && directions; ++pin) {
        const bool wasOutput = Bit(before.outputMask, pin);
        const bool isOutput = Bit(after.outputMask, pin);
        if (wasOutput != isOutput) {
            line(text, PinLine(text, pin, "direction", Direction(before, pin), Direction(after, pin)));
        } else if (isOutput && Bit(before.pushPullMask, pin) != Bit(after.pushPullMask, pin)) {
            line(text, PinLine(text, pin, "drive", Bit(before.pushPullMask, pin) ? "push-pull" : "open-drain",
                               Bit(after.pushPullMask, pin) ? "push-pull" : "open-drain"));
        }
    }
    const unsigned driven = before.outputMask & after.outputMask & (before.drivenLevels ^ after.drivenLevels);
    for (unsigned pin = 0; pin < 8 && driven != 0; ++pin) {
        if (Bit(driven, pin)) {
            line(text, LevelLine(text, DRIVES_FORM, pin, Bit(before.drivenLevels, pin), Bit(after.drivenLevels, pin)));
        }
    }
    const bool known = before.levelsKnown != 0 && after.levelsKnown != 0;
    const unsigned levels = known ? before.levels ^ after.levels : 0u;
    for (unsigned pin = 0; pin < 8 && levels != 0; ++pin) {
        if (Bit(levels, pin)) {
            line(text, LevelLine(text, LEVEL_FORM, pin, Bit(before.levels, pin), Bit(after.levels, pin)));
        }
    }
    char from[view::PICTURE_TEXT_SIZE];
    char to[view::PICTURE_TEXT_SIZE];
    if (before.ledKind != after.ledKind || before.led != after.led) {
        LedText(before, from, sizeof from);
        LedText(after, to, sizeof to);
        std::snprintf(text, sizeof text, "LED %s -> %s", from, to);
        line(text, std::strlen(text));
    }
    for (size_t pair = 0; pair < 2; ++pair) {
        if (before.modes[pair] == after.modes[pair] && before.modeLines[pair] == after.modeLines[pair] &&
            before.modeValues[pair] == after.modeValues[pair] &&
            before.modeLinesHeld[pair] == after.modeLinesHeld[pair] &&
            std::memcmp(before.ttys[pair], after.ttys[pair], sizeof before.ttys[pair]) == 0) {
            continue;
        }
        PairText(before, pair, from, sizeof from);
        PairText(after, pair, to, sizeof to);
        if (std::strcmp(from, to) == 0) continue;
        std::snprintf(text, sizeof text, "%s %s -> %s", pair == 0 ? "UART 1 and 2" : "UART 3 and 4", from, to);
        line(text, std::strlen(text));
    }
}

// Who made a change: " (pinio, pid 1234, user operator)", " (from outside)";
// escaped, since the program's and the user's names come from outside.
void Who(const ChangeNote& note, char* out, size_t size) {
    char who[128];
    if (note.cause == ChangeCause::Outside) {
        std::snprintf(who, sizeof who, " (from outside)");
    } else if (note.cause == ChangeCause::Now) {
        who[0] = '\0';
    } else if (note.user[0] != '\0') {
        std::snprintf(who, sizeof who, " (%s, pid %d, user %s)", note.program, static_cast<int>(note.pid), note.user);
    } else {
        std::snprintf(who, sizeof who, " (%s, pid %d, uid %u)", note.program, static_cast<int>(note.pid), note.uid);
    }
    marlek_board::EscapeForTerminal(who, std::strlen(who), out, size);
}

// The words of who made the last change, made again only for another
// maker: a program's thousands of changes a second share them.
struct WhoWords {
    bool made = false;
    ChangeNote maker;  // its cause, uid, pid, program and user
    char text[512] = "";
    size_t length = 0;
};

const WhoWords& WhoOf(const ChangeNote& note, WhoWords& words) {
    const ChangeNote& maker = words.maker;
    if (words.made && maker.cause == note.cause && maker.pid == note.pid && maker.uid == note.uid &&
        std::strcmp(maker.program, note.program) == 0 && std::strcmp(maker.user, note.user) == 0) {
        return words;
    }
    words.made = true;
    words.maker = note;
    Who(note, words.text, sizeof words.text);
    words.length = std::strlen(words.text);
    return words;
}

// The change lines off a terminal, gathered and written on standard output
// together, a batch of changes at a time.
struct ChangeLines {
    char bytes[64 * 1024];
    size_t used = 0;

    void Put(const char* line, size_t length) {
        if (used + length > sizeof bytes) WriteOut();
        std::memcpy(bytes + used, line, length);
        used += length;
    }
    void WriteOut() {
        if (used > 0) std::fwrite(bytes, 1, used, stdout);
        used = 0;
    }
};

// ---- talking to the service ----

// The watch's connection; false with what is wrong said on standard error.
bool Connect(char (&socket)[108], int& fd) {
    bool named = false;
    if (!ServicePath(socket, named)) {
        ErrorLine("the board service does not run here (no %s): start it (sudo systemctl start marlek-board.socket), "
                  "or name another's socket with MARLEK_BOARD_SERVICE",
                  socket);
        return false;
    }
    static Problem problem;
    fd = ConnectToService(socket, named, problem);
    if (fd < 0) {
        ErrorLine("%s", problem.detail);
        return false;
    }
    uint8_t message[HEADER_SIZE];
    const size_t size = PutMessage(MessageKind::Watch, nullptr, 0, message);
    if (send(fd, message, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        ErrorLine("cannot ask the board service at %s: %s", socket, std::strerror(errno));
        marlek_board::CloseDescriptor(fd);
        return false;
    }
    return true;
}

// The changes the service sends, taken whole from what its socket has.
struct Incoming {
    uint8_t bytes[MAX_MESSAGE * 4];
    size_t start = 0;  // the first byte not yet taken
    size_t used = 0;
};

enum class Took { Change, Waiting, Closed, Broken };

// The next change from what has come, reading what the socket has when it
// has none; Waiting when it has to be waited for.
Took NextChange(int fd, Incoming& in, ChangeNote& note, bool mayRead) {
    for (;;) {
        const size_t waiting = in.used - in.start;
        if (waiting >= HEADER_SIZE) {
            const uint8_t* at = in.bytes + in.start;
            MessageKind kind{};
            uint32_t length = 0;
            if (ReadHeader(at, true, kind, length) != HeaderCheck::Ok) return Took::Broken;
            if (waiting >= HEADER_SIZE + length) {
                const bool taken = kind == MessageKind::Change && TakeChange(at + HEADER_SIZE, length, note);
                in.start += HEADER_SIZE + length;
                if (in.start == in.used) in.start = in.used = 0;
                return taken ? Took::Change : Took::Broken;
            }
        }
        if (!mayRead) return Took::Waiting;
        // What is left of a message moves to the front once, before the next read.
        if (in.start > 0) {
            std::memmove(in.bytes, in.bytes + in.start, waiting);
            in.used = waiting;
            in.start = 0;
        }
        const ssize_t got = recv(fd, in.bytes + in.used, sizeof in.bytes - in.used, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) return Took::Closed;
        if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Took::Waiting : Took::Closed;
        in.used += static_cast<size_t>(got);
        mayRead = false;  // once; the rest when the socket says it has more
    }
}

int Lost(const char* socket, Took took) {
    ErrorLine(took == Took::Broken ? "the board service at %s sent what this marlek-board cannot read: install the "
                                     "same version of marlek-board-linux on both sides"
                                   : "the board service at %s closed the connection: it has stopped; start it again "
                                     "(sudo systemctl start marlek-board.socket)",
              socket);
    return EXIT_FAILED;
}

}  // namespace

int ShowBoard() {
    char socket[108];
    int fd = -1;
    if (!Connect(socket, fd)) return EXIT_FAILED;
    static Incoming in;
    ChangeNote note;
    const int64_t deadline = NowMs() + CALL_BOUND_MS;
    Took took = Took::Waiting;
    while ((took = NextChange(fd, in, note, true)) == Took::Waiting) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) {
            marlek_board::CloseDescriptor(fd);
            ErrorLine("the board service at %s did not answer within %d s", socket, CALL_BOUND_MS / 1000);
            return EXIT_FAILED;
        }
        view::LiveView idle;  // not started: waits for the socket and the time alone
        idle.Wait(static_cast<int>(left), fd);
    }
    marlek_board::CloseDescriptor(fd);
    if (took != Took::Change) return Lost(socket, took);
    view::PrintBoard(stdout, PictureOf(note.board));
    return OutputWritten() ? EXIT_DONE : EXIT_FAILED;
}

int WatchBoard(const char* const* args, size_t count) {
    view::WatchOptions options;
    char problem[view::OPTION_PROBLEM_SIZE];
    if (!view::ReadWatchOptions(args, count, options, problem, sizeof problem)) {
        ErrorLine("%s; see marlek-board --help", problem);
        return EXIT_USAGE;
    }
    char socket[108];
    int fd = -1;
    if (!Connect(socket, fd)) return EXIT_FAILED;
    view::LiveView live;
    live.Start("marlek-board watch", socket);
    view::WatchEnds ends(options);
    static Incoming in;
    static WhoWords whoWords;
    static ChangeLines lines;
    BoardSnapshot seen;
    bool started = false;
    view::BoardPicture picture;
    bool fresh = false;       // the picture is to be made again
    bool unflushed = false;   // change lines wait to be flushed
    bool readable = true;
    for (;;) {
        ChangeNote note;
        const Took took = NextChange(fd, in, note, readable);
        readable = false;
        if (took == Took::Closed || took == Took::Broken) {
            live.Stop();
            marlek_board::CloseDescriptor(fd);
            return Lost(socket, took);
        }
        if (took == Took::Change) {
            const WhoWords& who = WhoOf(note, whoWords);
            char stamp[view::CLOCK_STAMP_SIZE];
            view::ClockStampAt(note.timeMs, stamp);  // the service's time of the change
            const size_t stampLength = std::strlen(stamp);
            bool done = false;
            auto tell = [&](const char* what, size_t whatLength) {
                if (done) return;
                // The line's own words are printable, who made it is escaped.
                char line[view::CLOCK_STAMP_SIZE + CHANGE_LINE_SIZE + sizeof who.text + 1];
                whatLength = std::min(whatLength, CHANGE_LINE_SIZE);
                size_t used = 0;
                std::memcpy(line, stamp, stampLength);
                used += stampLength;
                line[used++] = ' ';
                std::memcpy(line + used, what, whatLength);
                used += whatLength;
                std::memcpy(line + used, who.text, who.length);
                used += who.length;
                if (live.Active()) {
                    line[used] = '\0';
                    live.Add(line);
                } else {
                    // Written once the changes that have come are told.
                    line[used++] = '\n';
                    lines.Put(line, used);
                    unflushed = true;
                }
                if (ends.Told()) done = true;
            };
            if (note.missed > 0) {
                char missed[96];
                std::snprintf(missed, sizeof missed, "missed %u change%s; the board as it is now:", note.missed,
                              note.missed == 1 ? "" : "s");
                tell(missed, std::strlen(missed));
            }
            if (started) Changes(seen, note.board, tell);
            seen = note.board;
            started = true;
            fresh = true;
            if (!done) continue;  // the next change, if one has come whole
        }
        // The lines of the changes that have come, at once.
        if (unflushed) {
            unflushed = false;
            lines.WriteOut();
            int error = 0;
            const view::Output written = view::FlushStandardOutput(error);
            if (written != view::Output::Written) {
                if (written == view::Output::Failed) {
                    ErrorLine("cannot write the change lines: %s", std::strerror(error != 0 ? error : EIO));
                }
                marlek_board::CloseDescriptor(fd);
                return written == view::Output::Failed ? EXIT_FAILED : EXIT_DONE;  // no one reads the lines now
            }
        }
        if (took == Took::Change) {  // --count is met
            live.Stop();
            marlek_board::CloseDescriptor(fd);
            return EXIT_DONE;
        }
        if (fresh && live.Active()) picture = PictureOf(seen);
        fresh = false;
        live.Draw(picture, started);
        if (ends.TimedOut()) {
            live.Stop();
            marlek_board::CloseDescriptor(fd);
            return ends.EndedShort() ? EXIT_FAILED : EXIT_DONE;
        }
        const view::Woken woken = live.Wait(ends.WaitMillis(view::NO_TIMEOUT), fd);
        if (woken == view::Woken::Quit) {
            live.Stop();
            marlek_board::CloseDescriptor(fd);
            return EXIT_DONE;
        }
        readable = woken == view::Woken::Descriptor;
    }
}

}  // namespace marlek_linux
