// The live view of marlek-sim watch: drawing the board, and taking the terminal
// over and giving it back on each system.
#include "watch_view.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace marlek_sim::tool {

namespace {

using std::chrono::milliseconds;

constexpr size_t RECENT_KEPT = 64;  // changes the view keeps for its list

// Set from signal handlers (POSIX) or the console's control handler, which
// runs on a thread of its own (Windows).
std::atomic<int> g_endSignal{0};
std::atomic<bool> g_suspend{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr const char* ENTER_SCREEN = "\x1b[?1049h\x1b[?25l\x1b[?7l";  // own screen, no cursor, no wrapping
constexpr const char* LEAVE_SCREEN = "\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr const char* LIT = "\x1b[1;30;103m(*)\x1b[0m";
constexpr const char* BOLD = "\x1b[1m";
constexpr const char* PLAIN = "\x1b[0m";
constexpr int LABEL_WIDTH = 16;
// Rows besides the armed failures and the changes: the title, a blank, the
// pin table, a blank, the LED and the two pairs, a blank and the changes'
// heading.
constexpr int FIXED_ROWS = 1 + 1 + 11 + 1 + 3 + 1 + 1;

#ifndef _WIN32
extern "C" void OnEndSignal(int signal) { g_endSignal = signal; }
extern "C" void OnSuspendSignal(int) { g_suspend = true; }
constexpr int END_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
static_assert(std::size(END_SIGNALS) + 1 == LiveView::HANDLED_SIGNALS);
#else
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    g_endSignal = 1;
    return TRUE;
}
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#endif

}  // namespace

bool LiveView::Start(const std::string& path) {
    path_ = Escaped(path);
    if (!TakeTerminal()) return false;
    active_ = true;
    HandleSignals(true);
    return true;
}

void LiveView::Stop() {
    if (!active_) return;
    active_ = false;
    HandleSignals(false);
    GiveTerminalBack();
#ifndef _WIN32
    const int ending = g_endSignal;
    if (ending == SIGTERM || ending == SIGHUP) {
        std::signal(ending, SIG_DFL);
        std::raise(ending);
    }
#endif
}

void LiveView::Add(std::string line) {
    recent_.push_back(std::move(line));
    if (recent_.size() > RECENT_KEPT) recent_.pop_front();
    stale_ = true;
}

void LiveView::Note(const std::string& note) {
    if (note == note_) return;
    note_ = note;
    stale_ = true;
}

void LiveView::Draw(const BoardRecord* seen) {
    int rows = 0;
    int columns = 0;
    WindowSize(rows, columns);
    if (!stale_ && rows == rows_ && columns == columns_) return;
    rows_ = rows;
    columns_ = columns;
    stale_ = false;
    const BoardRecord none;
    const BoardRecord& record = seen != nullptr ? *seen : none;
    const int armedRows = std::max<int>(1, static_cast<int>(record.armed.size()));
    const int needed = FIXED_ROWS + armedRows + 1;
    std::fputs("\x1b[H", stdout);
    if (rows < needed) {
        std::printf("\x1b[Jmarlek-sim watch: the window is too small, %d rows needed (q quits)", needed);
        if (rows > 1 && !recent_.empty()) std::printf("\n%s", recent_.back().c_str());
        std::fflush(stdout);
        return;
    }
    std::printf("marlek-sim watch  %s  (q quits)\x1b[K\n%s\x1b[K\n\x1b[J", path_.c_str(), note_.c_str());
    if (seen == nullptr) {
        std::fflush(stdout);
        return;
    }
    PrintPinTable(stdout, record.board);
    const Board& board = record.board;
    std::printf("\n%-*s%s %s\n", LABEL_WIDTH, "LED:", board.ledKnown && board.ledSetting == 0 ? LIT : "( )",
                LedText(board, true).c_str());
    std::printf("%-*s%s\n", LABEL_WIDTH, "UART 1 and 2:", PairText(board.serialPairs[0], true).c_str());
    std::printf("%-*s%s\n", LABEL_WIDTH, "UART 3 and 4:", PairText(board.serialPairs[1], true).c_str());
    if (record.armed.empty()) std::printf("%-*sno failure armed\n", LABEL_WIDTH, "Next run:");
    for (size_t i = 0; i < record.armed.size(); ++i) {
        std::printf("%-*s%s\n", LABEL_WIDTH, i == 0 ? "Next run:" : "", RuleText(record.armed[i]).c_str());
    }
    std::printf("\nChanges, the newest marked >:");
    const size_t shown = std::min(recent_.size(), static_cast<size_t>(rows - needed + 1));
    if (shown == 0) std::printf("\n  none yet");
    for (size_t i = recent_.size() - shown; i < recent_.size(); ++i) {
        const bool newest = i + 1 == recent_.size();
        std::printf("\n%s%s%s", newest ? BOLD : "", newest ? "> " : "  ", recent_[i].c_str());
        if (newest) std::fputs(PLAIN, stdout);
    }
    std::fflush(stdout);
}

#ifdef _WIN32

bool LiveView::TakeTerminal() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(output, &outputMode_)) return false;
    // Consoles before Windows 10 do not take the control sequences: lines then.
    if (!SetConsoleMode(output, outputMode_ | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    keys_ = GetConsoleMode(input, &inputMode_) != 0;
    if (keys_) SetConsoleMode(input, (inputMode_ | ENABLE_PROCESSED_INPUT) & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
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

bool LiveView::WaitForQuit(milliseconds wait) {
    const auto waitMillis = static_cast<DWORD>(wait.count());
    if (!keys_) {
        Sleep(waitMillis);
        return g_endSignal != 0;
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD woken = WaitForSingleObject(input, waitMillis);
    if (woken == WAIT_FAILED) keys_ = false;
    if (woken == WAIT_OBJECT_0) {
        INPUT_RECORD records[32];
        DWORD got = 0;
        if (!ReadConsoleInputA(input, records, 32, &got)) keys_ = false;
        for (DWORD i = 0; i < got; ++i) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
                (key.uChar.AsciiChar == 'q' || key.uChar.AsciiChar == 'Q'))
                return true;
        }
    }
    return g_endSignal != 0;
}

#else  // POSIX

bool LiveView::TakeTerminal() {
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
    std::fputs(ENTER_SCREEN, stdout);
    return true;
}

void LiveView::GiveTerminalBack() {
    std::fputs(LEAVE_SCREEN, stdout);
    std::fflush(stdout);
    if (keys_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

void LiveView::HandleSignals(bool on) {
    constexpr size_t suspend = std::size(END_SIGNALS);
    for (size_t i = 0; i <= suspend; ++i) {
        const int signal = i == suspend ? SIGTSTP : END_SIGNALS[i];
        if (!on) {
            if (handled_[i]) sigaction(signal, &before_[i], nullptr);
            handled_[i] = false;
            continue;
        }
        // A signal the watch was started to ignore stays ignored.
        if (sigaction(signal, nullptr, &before_[i]) != 0 || before_[i].sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = i == suspend ? OnSuspendSignal : OnEndSignal;
        sigemptyset(&action.sa_mask);
        handled_[i] = sigaction(signal, &action, nullptr) == 0;
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

bool LiveView::WaitForQuit(milliseconds wait) {
    if (g_suspend.exchange(false)) {
        // Ctrl-Z: the terminal is given back while the watch is stopped, and
        // taken again when it goes on.
        GiveTerminalBack();
        std::signal(SIGTSTP, SIG_DFL);
        std::raise(SIGTSTP);
        std::signal(SIGTSTP, OnSuspendSignal);
        TakeTerminal();
        stale_ = true;
    }
    pollfd keyboard{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&keyboard, keys_ ? 1 : 0, static_cast<int>(wait.count()));
    if (ready > 0) {
        char typed[64];
        const ssize_t got = (keyboard.revents & POLLIN) != 0 ? read(STDIN_FILENO, typed, sizeof typed) : 0;
        if (got <= 0) keys_ = false;  // the terminal has gone: Ctrl-C and the bounds still end the watch
        for (ssize_t i = 0; i < got; ++i) {
            if (typed[i] == 'q' || typed[i] == 'Q') return true;
        }
    }
    return g_endSignal != 0;
}

#endif  // _WIN32

}  // namespace marlek_sim::tool
