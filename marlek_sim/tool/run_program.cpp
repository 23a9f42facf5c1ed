// marlek-sim run: a program on the simulated board, which is kept off the
// loader's usual path so that it never shadows the maker's library. The
// simulated library lies at a fixed place relative to marlek-sim itself (in the
// build tree as installed); run puts that folder first on the loader's path of
// the program it starts, and of nothing else. And marlek-sim --version.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool.h"
#include "tool_build.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#endif

namespace marlek_sim::tool {

namespace {

constexpr const char* RUN_FORM = "run takes PROGRAM [ARGUMENTS...]";
constexpr const char* REINSTALL_ADVICE = "; install marlek-sim together with the simulated board library beside it";

int CannotRun(const std::string& problem) {
    Complain(problem);
    return EXIT_CANNOT_RUN;
}

int NotFound(const char* program, bool named) {
    Complain(std::string("no program ") + program + (named ? " in the folders of PATH; give its path" : ""));
    return EXIT_NOT_FOUND;
}

#ifdef _WIN32

using os::SystemText;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0) return "?";
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Variable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

// The folder of marlek-sim.exe, which holds the simulated marlek.dll.
bool OwnFolder(std::wstring& folder, std::string& problem) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            problem = "cannot find its own file: " + SystemText(GetLastError());
            return false;
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    return true;
}

bool HasExtension(const std::wstring& name) {
    const size_t dot = name.find_last_of(L'.');
    const size_t slash = name.find_last_of(L"\\/:");
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

// The program's file: a path as given (.exe may be left out), or a name looked
// up in the folders of PATH, in their order.
bool FindProgram(const std::wstring& program, std::wstring& file) {
    auto tryFile = [&](const std::wstring& candidate) {
        if (IsFile(candidate)) file = candidate;
        else if (!HasExtension(candidate) && IsFile(candidate + L".exe")) file = candidate + L".exe";
        else return false;
        return true;
    };
    if (program.find_first_of(L"\\/:") != std::wstring::npos) return tryFile(program);
    const std::wstring path = Variable(L"PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        if (!folder.empty() && tryFile(folder + L"\\" + program)) return true;
        start = end + 1;
    }
    return false;
}

// One argument as the C runtime of the program will read it back.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        line += c;
        backslashes = 0;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// Ctrl+C and Ctrl+Break reach the program, which shares the console; marlek-sim
// waits for it to end rather than leave it running.
BOOL WINAPI LeaveInterruptToProgram(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// A standard handle of marlek-sim, made one the program inherits.
HANDLE Inheritable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return handle;
}

int Run(int argc, char** argv) {
    // The arguments as the system holds them, so that none is lost to the code page.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return CannotRun("cannot read its own command line: " + SystemText(GetLastError()));
    std::vector<std::wstring> args(wide + 2, wide + (count > 2 ? count : 2));
    LocalFree(wide);
    if (count != argc) return CannotRun("cannot read its own command line");

    std::wstring folder;
    std::string problem;
    if (!OwnFolder(folder, problem)) return CannotRun(problem);
    if (!IsFile(folder + L"\\marlek.dll")) {
        return CannotRun("no simulated board library at " + Narrow(folder) + "\\marlek.dll" + REINSTALL_ADVICE);
    }
    if (folder.find(L';') != std::wstring::npos) {
        return CannotRun("PATH cannot name the folder " + Narrow(folder) + ", as it holds a ';'; move it elsewhere");
    }
    std::wstring file;
    if (!FindProgram(args[0], file)) {
        return NotFound(argv[2], std::strpbrk(argv[2], "\\/:") == nullptr);
    }
    std::wstring line;
    AppendQuoted(line, file);
    for (size_t i = 1; i < args.size(); ++i) AppendQuoted(line, args[i]);

    // Windows looks for a DLL that is neither beside the program nor a system
    // one in the folders of PATH: the simulated board's folder comes first.
    const std::wstring path = Variable(L"PATH");
    const std::wstring first = path.empty() ? folder : folder + L";" + path;
    if (!SetEnvironmentVariableW(L"PATH", first.c_str())) {
        return CannotRun("cannot set PATH: " + SystemText(GetLastError()));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = Inheritable(STD_ERROR_HANDLE);
    SetConsoleCtrlHandler(LeaveInterruptToProgram, TRUE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(file.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return CannotRun("cannot run " + Narrow(file) + ": " + SystemText(GetLastError()));
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = EXIT_CANNOT_RUN;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

#else

// The folder of the simulated libmarlek.so: MARLEK_SIM_LIBRARY_DIR from the
// folder of marlek-sim's own file, with links resolved.
bool LibraryFolder(std::string& folder, std::string& problem) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof self) {
        problem = std::string("cannot find its own file through /proc/self/exe: ") +
                  (length < 0 ? std::strerror(errno) : "the path is too long");
        return false;
    }
    std::string own(self, static_cast<size_t>(length));
    const std::string expected = own.substr(0, own.rfind('/') + 1) + MARLEK_SIM_LIBRARY_DIR;
    char resolved[PATH_MAX];
    struct stat facts {};
    if (realpath(expected.c_str(), resolved) == nullptr ||
        stat((std::string(resolved) + "/libmarlek.so").c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
        problem = "no simulated board library at " + expected + "/libmarlek.so" + REINSTALL_ADVICE;
        return false;
    }
    folder = resolved;
    if (folder.find(':') != std::string::npos) {
        problem = "LD_LIBRARY_PATH cannot name the folder " + folder + ", as it holds a ':'; move it elsewhere";
        return false;
    }
    return true;
}

// The file execvp would have run for program: a path as given, or the first
// executable file of that name in the folders of PATH. Empty when none is.
std::string ProgramFile(const char* program) {
    auto runnable = [](const std::string& file) {
        struct stat facts {};
        return stat(file.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) && access(file.c_str(), X_OK) == 0;
    };
    if (std::strchr(program, '/') != nullptr) return runnable(program) ? program : "";
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/bin:/usr/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end == start ? "." : folders.substr(start, end - start);
        const std::string file = folder + "/" + program;
        if (runnable(file)) return file;
        start = end + 1;
    }
    return "";
}

// Why an existing file could not be started although the system said that
// something is missing: the interpreter its #! line names, or a file (such as
// the loader) that the system needs to start it.
std::string WhatIsMissing(const std::string& file) {
    char head[256] = {};
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd >= 0 ? read(fd, head, sizeof head - 1) : -1;
    if (fd >= 0) close(fd);
    if (got > 2 && head[0] == '#' && head[1] == '!') {
        // The system ends the interpreter's name at a blank or the line's end,
        // and takes a carriage return before it for part of the name.
        const char* start = head + 2 + std::strspn(head + 2, " \t");
        const std::string interpreter(start, std::strcspn(start, " \t\n"));
        if (!interpreter.empty() && interpreter.back() == '\r') {
            return "its #! line ends in a carriage return (\\r), which the system takes for part of the "
                   "interpreter's name (" + interpreter + "): the file was saved with Windows line ends; convert it "
                   "(dos2unix " + file + ")";
        }
        if (!interpreter.empty()) return "its interpreter " + interpreter + " is missing";
    }
    return "a file that the system needs to start it is missing (" + std::string(std::strerror(ENOENT)) + ")";
}

int Run(int, char** argv) {
    std::string folder;
    std::string problem;
    if (!LibraryFolder(folder, problem)) return CannotRun(problem);
    // An empty entry would stand for the working folder: none is added.
    const char* path = std::getenv("LD_LIBRARY_PATH");
    const std::string first = path == nullptr || path[0] == '\0' ? folder : folder + ":" + path;
    if (setenv("LD_LIBRARY_PATH", first.c_str(), 1) != 0) {
        return CannotRun(std::string("cannot set LD_LIBRARY_PATH: ") + std::strerror(errno));
    }
    execvp(argv[2], argv + 2);
    const int error = errno;
    const bool named = std::strchr(argv[2], '/') == nullptr;
    const std::string file = error == ENOENT ? ProgramFile(argv[2]) : "";
    if (!file.empty()) return CannotRun("cannot run " + file + ": " + WhatIsMissing(file));
    if (error == ENOENT) {
        return NotFound(argv[2], named);
    }
    return CannotRun(std::string("cannot run ") + argv[2] + ": " + std::strerror(error));
}

#endif

}  // namespace

int RunProgram(int argc, char** argv) {
    if (argc < 3 || argv[2][0] == '\0') return UsageError(RUN_FORM);
    std::fflush(nullptr);
    return Run(argc, argv);
}

int PrintVersion() {
    std::printf("marlek-sim (%s) %s\n", MARLEK_SIM_PROJECT, MARLEK_SIM_VERSION);
    return EXIT_DONE;  // the output is checked as every command's is
}

}  // namespace marlek_sim::tool
