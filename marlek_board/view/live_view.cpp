// The live view: drawing the board, and taking the terminal over, waiting and
// giving the terminal back on each system.
#include "live_view.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "terminal_text.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "descriptors.h"
#endif

namespace marlek_board::view {

namespace {

// Set from signal handlers (POSIX) or the console's control handler, which
// runs on a thread of its own (Windows).
std::atomic<int> g_endSignal{0};
std::atomic<bool> g_suspend{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// A whole frame of the view goes out in one write.
char g_frame[1 << 16];

constexpr const char* ENTER_SCREEN = "\x1b[?1049h\x1b[?25l\x1b[?7l";  // own screen, no cursor, no wrapping
constexpr const char* LEAVE_SCREEN = "\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr const char* LIT = "\x1b[1;30;103m(*)\x1b[0m";
constexpr const char* BOLD = "\x1b[1m";
constexpr const char* PLAIN = "\x1b[0m";
constexpr int LABEL_WIDTH = 16;
// Rows besides the pin table and the extra rows: the title, the note, a
// blank, the LED and the two pairs, a blank and the changes' heading, and
// room for one change.
constexpr int FIXED_ROWS = 1 + 1 + 1 + 3 + 1 + 1 + 1;

template <size_t N>
void SetText(char (&field)[N], const char* text) {
    EscapeForTerminal(text, std::strlen(text), field, N);
}

#ifndef _WIN32
volatile sig_atomic_t g_wakeWrite = -1;

// Wakes a wait: one byte into the view's pipe, which a full pipe does not need.
void Wake() {
    const int fd = g_wakeWrite;
    if (fd < 0) return;
    const int saved = errno;
    const char byte = 0;
    const ssize_t written = write(fd, &byte, 1);
    static_cast<void>(written);
    errno = saved;
}

extern "C" void OnEndSignal(int signal) {
    g_endSignal = signal;
    Wake();
}
extern "C" void OnSuspendSignal(int) {
    g_suspend = true;
    Wake();
}
extern "C" void OnResizeSignal(int) { Wake(); }

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGWINCH};
static_assert(sizeof SIGNALS / sizeof SIGNALS[0] == LiveView::HANDLED_SIGNALS);

void (*HandlerOf(int signal))(int) {
    return signal == SIGTSTP ? OnSuspendSignal : signal == SIGWINCH ? OnResizeSignal : OnEndSignal;
}

bool Install(int signal) {
    struct sigaction action {};
    action.sa_handler = HandlerOf(signal);
    sigemptyset(&action.sa_mask);
    return sigaction(signal, &action, nullptr) == 0;
}

// A descriptor of the view's own: at 3 or above, close-on-exec, not blocking.
int OwnEnd(int fd) {
    fd = AboveStandardStreams(fd);
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}
#else
HANDLE g_wake = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    g_endSignal = 1;
    if (g_wake != nullptr) SetEvent(g_wake);
    return TRUE;
}
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#endif

}  // namespace

bool LiveView::Start(const char* name, const char* where) {
    if (active_) return false;
    SetText(name_, name);
    SetText(where_, where);
    if (!TakeTerminal(true)) return false;
    active_ = true;
    stale_ = true;
    g_endSignal = 0;
    g_suspend = false;
#ifdef _WIN32
    woken_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_wake = woken_;
#else
    int ends[2];
    if (pipe(ends) == 0) {
        wakeRead_ = OwnEnd(ends[0]);
        wakeWrite_ = OwnEnd(ends[1]);
        if (wakeRead_ < 0 || wakeWrite_ < 0) {
            CloseDescriptor(wakeRead_);
            CloseDescriptor(wakeWrite_);
        }
    }
    g_wakeWrite = wakeWrite_;
#endif
    HandleSignals(true);
    return true;
}

void LiveView::Stop() {
    if (!active_) return;
    active_ = false;
    HandleSignals(false);
#ifdef _WIN32
    g_wake = nullptr;
    if (woken_ != nullptr) CloseHandle(woken_);
    woken_ = nullptr;
#else
    g_wakeWrite = -1;
    CloseDescriptor(wakeRead_);
    CloseDescriptor(wakeWrite_);
#endif
    GiveTerminalBack();
#ifndef _WIN32
    const int ending = g_endSignal;
    if (ending == SIGTERM || ending == SIGHUP) {
        std::signal(ending, SIG_DFL);
        std::raise(ending);
    }
#endif
}

void LiveView::Add(const char* line) {
    recent_.Add(line);
    stale_ = true;
}

void LiveView::Note(const char* note) {
    char escaped[sizeof note_];
    SetText(escaped, note);
    if (std::strcmp(escaped, note_) == 0) return;
    std::memcpy(note_, escaped, sizeof note_);
    stale_ = true;
}

void LiveView::Draw(const BoardPicture& picture, bool seen) {
    if (!active_) return;
    int rows = 0;
    int columns = 0;
    WindowSize(rows, columns);
    if (!stale_ && rows == rows_ && columns == columns_ && seen == drawnSeen_ && SamePicture(picture, drawn_)) return;
    rows_ = rows;
    columns_ = columns;
    stale_ = false;
    drawnSeen_ = seen;
    drawn_ = picture;
    const int needed = FIXED_ROWS + PinTableRows(picture) + static_cast<int>(picture.extraCount);
    const size_t count = recent_.Count();
    std::fputs("\x1b[H", stdout);
    if (rows < needed) {
        std::printf("\x1b[J%s: the window is too small, %d rows needed (q quits)", name_, needed);
        if (rows > 1 && count > 0) std::printf("\n%s", recent_.Line(count - 1));
        std::fflush(stdout);
        return;
    }
    std::printf("%s  %s  (q quits)\x1b[K\n%s\x1b[K\n\x1b[J", name_, where_, note_);
    if (!seen) {
        std::fflush(stdout);
        return;
    }
    PrintPinTable(stdout, picture);
    std::printf("\n%-*s%s %s\n", LABEL_WIDTH, "LED:", picture.ledLit ? LIT : "( )", picture.led);
    std::printf("%-*s%s\n", LABEL_WIDTH, "UART 1 and 2:", picture.pairs[0]);
    std::printf("%-*s%s\n", LABEL_WIDTH, "UART 3 and 4:", picture.pairs[1]);
    for (size_t i = 0; i < picture.extraCount; ++i) {
        const char* label = picture.extra[i].label;
        const bool again = i > 0 && std::strcmp(label, picture.extra[i - 1].label) == 0;
        std::printf("%-*s%s\n", LABEL_WIDTH, again ? "" : label, picture.extra[i].text);
    }
    std::printf("\nChanges, the newest marked >:");
    const size_t room = static_cast<size_t>(rows - needed + 1);
    const size_t shown = count < room ? count : room;
    if (shown == 0) std::printf("\n  none yet");
    for (size_t i = count - shown; i < count; ++i) {
        const bool newest = i + 1 == count;
        std::printf("\n%s%s%s", newest ? BOLD : "", newest ? "> " : "  ", recent_.Line(i));
        if (newest) std::fputs(PLAIN, stdout);
    }
    std::fflush(stdout);
}

#ifdef _WIN32

bool LiveView::TakeTerminal(bool first) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(output, &outputMode_)) return false;
    // Consoles before Windows 10 do not take the control sequences: lines then.
    if (!SetConsoleMode(output, outputMode_ | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    keys_ = GetConsoleMode(input, &inputMode_) != 0;
    // A new window size comes as an input record, which ends a wait.
    if (keys_) {
        SetConsoleMode(input, (inputMode_ | ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT) &
                                  ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    }
    if (first) std::setvbuf(stdout, g_frame, _IOFBF, sizeof g_frame);
    std::fputs(ENTER_SCREEN, stdout);
    return true;
}

void LiveView::GiveTerminalBack() {
    std::fputs(LEAVE_SCREEN, stdout);
    std::fflush(stdout);
    SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), outputMode_);
    if (keys_) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), inputMode_);
}

void LiveView::HandleSignals(bool on) { SetConsoleCtrlHandler(OnConsoleControl, on ? TRUE : FALSE); }

void LiveView::WindowSize(int& rows, int& columns) {
    CONSOLE_SCREEN_BUFFER_INFO facts{};
    rows = 24;
    columns = 80;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &facts)) {
        rows = facts.srWindow.Bottom - facts.srWindow.Top + 1;
        columns = facts.srWindow.Right - facts.srWindow.Left + 1;
    }
}

Woken LiveView::WaitInactive(int timeoutMillis, int) {
    Sleep(timeoutMillis < 0 ? INFINITE : static_cast<DWORD>(timeoutMillis));
    return Woken::Other;
}

Woken LiveView::Wait(int timeoutMillis, int descriptor) {
    if (!active_) return WaitInactive(timeoutMillis, descriptor);
    if (g_endSignal != 0) return Woken::Quit;
    const DWORD wait = timeoutMillis < 0 ? INFINITE : static_cast<DWORD>(timeoutMillis);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE handles[2];
    DWORD count = 0;
    if (keys_) handles[count++] = input;
    if (woken_ != nullptr) handles[count++] = woken_;
    DWORD woke = WAIT_TIMEOUT;
    if (count == 0) {
        Sleep(wait);
    } else {
        woke = WaitForMultipleObjects(count, handles, FALSE, wait);
    }
    if (woke == WAIT_FAILED) keys_ = false;
    if (g_endSignal != 0) return Woken::Quit;
    if (keys_ && woke == WAIT_OBJECT_0) {
        INPUT_RECORD records[32];
        DWORD got = 0;
        if (!ReadConsoleInputA(input, records, 32, &got)) keys_ = false;
        for (DWORD i = 0; i < got; ++i) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
                (key.uChar.AsciiChar == 'q' || key.uChar.AsciiChar == 'Q'))
                return Woken::Quit;
        }
    }
    return Woken::Other;
}

#else  // POSIX

bool LiveView::TakeTerminal(bool first) {
    const char* term = std::getenv("TERM");
    if (!isatty(STDOUT_FILENO) || (term != nullptr && std::strcmp(term, "dumb") == 0)) return false;
    keys_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (keys_) {
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        keys_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    if (first) std::setvbuf(stdout, g_frame, _IOFBF, sizeof g_frame);
    std::fputs(ENTER_SCREEN, stdout);
    return true;
}

void LiveView::GiveTerminalBack() {
    std::fputs(LEAVE_SCREEN, stdout);
    std::fflush(stdout);
    if (keys_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

void LiveView::HandleSignals(bool on) {
    for (size_t i = 0; i < HANDLED_SIGNALS; ++i) {
        const int signal = SIGNALS[i];
        if (!on) {
            if (handled_[i]) sigaction(signal, &before_[i], nullptr);
            handled_[i] = false;
            continue;
        }
        // A signal the watch was started to ignore stays ignored.
        if (sigaction(signal, nullptr, &before_[i]) != 0 || before_[i].sa_handler == SIG_IGN) continue;
        handled_[i] = Install(signal);
    }
}

void LiveView::WindowSize(int& rows, int& columns) {
    winsize size{};
    rows = 24;
    columns = 80;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        rows = size.ws_row;
        columns = size.ws_col;
    }
}

// Ctrl-Z: the terminal is given back while the watch is stopped, and taken
// again, to be drawn afresh, when it goes on.
void LiveView::Suspend() {
    GiveTerminalBack();
    std::signal(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    Install(SIGTSTP);
    TakeTerminal(false);
    stale_ = true;
}

Woken LiveView::WaitInactive(int timeoutMillis, int descriptor) {
    pollfd watched{descriptor, POLLIN, 0};
    const int ready = poll(&watched, descriptor >= 0 ? 1 : 0, timeoutMillis);
    return ready > 0 && watched.revents != 0 ? Woken::Descriptor : Woken::Other;
}

Woken LiveView::Wait(int timeoutMillis, int descriptor) {
    if (!active_) return WaitInactive(timeoutMillis, descriptor);
    pollfd watched[3]{};
    nfds_t count = 0;
    auto watch = [&](bool wanted, int fd) -> pollfd* {
        if (!wanted) return nullptr;
        watched[count] = {fd, POLLIN, 0};
        return &watched[count++];
    };
    pollfd* wake = watch(wakeRead_ >= 0, wakeRead_);
    pollfd* keyboard = watch(keys_, STDIN_FILENO);
    pollfd* other = watch(descriptor >= 0, descriptor);
    // A signal handled since the last wait has its byte in the pipe, and the
    // poll returns at once; without the pipe the flags are looked at first.
    const bool pending = g_endSignal != 0 || g_suspend;
    if (pending || poll(watched, count, timeoutMillis) <= 0) {
        for (nfds_t i = 0; i < count; ++i) watched[i].revents = 0;  // the time, or a signal
    }
    if (wake != nullptr && (pending || wake->revents != 0)) {
        char drained[64];
        while (read(wakeRead_, drained, sizeof drained) > 0) {
        }
    }
    if (g_endSignal != 0) return Woken::Quit;
    if (g_suspend.exchange(false)) {
        Suspend();
        return Woken::Other;
    }
    if (keyboard != nullptr && keyboard->revents != 0) {
        char typed[64];
        const ssize_t got = (keyboard->revents & POLLIN) != 0 ? read(STDIN_FILENO, typed, sizeof typed) : 0;
        // The terminal has gone: Ctrl-C and the watch's own ends still end it.
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) keys_ = false;
        for (ssize_t i = 0; i < got; ++i) {
            if (typed[i] == 'q' || typed[i] == 'Q') return Woken::Quit;
        }
    }
    if (other != nullptr && other->revents != 0) return Woken::Descriptor;
    return Woken::Other;
}

#endif  // _WIN32

}  // namespace marlek_board::view
