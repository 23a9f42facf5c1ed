// marlek-sim watch: follows the shared board. On a terminal it shows the board
// live, redrawn in place; elsewhere it writes one line per change, for scripts.
//
// Between looks it reads only the board's change mark, without the board's
// lock; the lock is taken only to copy a board whose mark has changed, so a
// quiet board costs next to nothing and the programs are never slowed.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>

#include <csignal>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace marlek_sim::tool {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the board's mark is looked at: changes show within this, and a
// quiet board wakes the watch no more often.
constexpr milliseconds LOOK_INTERVAL{25};
constexpr uint64_t MAX_TIMEOUT_SECONDS = 999'999'999;
constexpr size_t RECENT_KEPT = 64;  // changes the live view keeps for its list

// ---------------------------------------------------------------------------
// The options.

struct WatchOptions {
    std::optional<uint64_t> count;
    std::optional<milliseconds> timeout;
};

// A number written in decimal digits alone, at most max.
std::optional<uint64_t> Decimal(std::string_view text, uint64_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max) return std::nullopt;
    return value;
}

// Seconds with at most three decimals ("5", "0.25"), above 0.
std::optional<milliseconds> Seconds(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
    if (point != std::string_view::npos && (fraction.empty() || fraction.size() > 3)) return std::nullopt;
    const std::optional<uint64_t> seconds = Decimal(whole, MAX_TIMEOUT_SECONDS);
    const std::optional<uint64_t> part = fraction.empty() ? 0 : Decimal(fraction, 999);
    if (!seconds || !part) return std::nullopt;
    uint64_t millis = *part;
    for (size_t digits = fraction.size(); digits < 3; ++digits) millis *= 10;
    const uint64_t total = *seconds * 1000 + millis;
    if (total == 0) return std::nullopt;
    return milliseconds(static_cast<milliseconds::rep>(total));
}

std::optional<std::string> ReadOptions(const std::vector<std::string_view>& args, WatchOptions& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string name(args[i]);
        if (name != "--count" && name != "--timeout") {
            return "watch takes [--count N] [--timeout SECONDS], not '" + name + "'";
        }
        if (i + 1 == args.size()) return name + " needs a value";
        const std::string value(args[++i]);
        if (name == "--count") {
            if (options.count) return "--count is given twice";
            options.count = Decimal(value, UINT32_MAX);
            if (!options.count || *options.count == 0) {
                return "--count must be a number of changes from 1, not '" + value + "'";
            }
        } else {
            if (options.timeout) return "--timeout is given twice";
            options.timeout = Seconds(value);
            if (!options.timeout) {
                return "--timeout must be a number of seconds above 0 with at most three decimals (5, 0.25), not '" +
                       value + "'";
            }
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// What changed, in words.

bool Bit(unsigned value, unsigned pin) { return ((value >> pin) & 1u) != 0; }

const char* Level(unsigned value, unsigned pin) { return Bit(value, pin) ? "1" : "0"; }

const char* Drive(const Board& board, unsigned pin) { return Bit(board.pushPullMask, pin) ? "push-pull" : "open-drain"; }

std::string Direction(const Board& board, unsigned pin) {
    return Bit(board.outputMask, pin) ? std::string("output, ") + Drive(board, pin) : "input";
}

std::string RuleText(const FailureRule& rule) {
    const std::string call = rule.onCall == 0 ? "every call" : "call " + std::to_string(rule.onCall);
    return std::string(OperationName(rule.operation)) + " " + call + ", code " + std::to_string(rule.code) + " \"" +
           rule.detail + "\"";
}

std::string ArmedText(const std::vector<FailureRule>& armed) {
    if (armed.empty()) return "none";
    std::string text;
    for (const FailureRule& rule : armed) text += (text.empty() ? "" : "; ") + RuleText(rule);
    return text;
}

bool SameLed(const Board& a, const Board& b) {
    return a.ledKnown == b.ledKnown && (!a.ledKnown || (a.ledSetting == b.ledSetting && a.ledPort == b.ledPort));
}

bool SamePorts(const SerialPairState& a, const SerialPairState& b) {
    return a.firstPort == b.firstPort && a.secondPort == b.secondPort;
}

bool SamePair(const SerialPairState& a, const SerialPairState& b) {
    return a.mode == b.mode && (a.mode == SerialMode::Unset || SamePorts(a, b));
}

bool SameBoard(const Board& a, const Board& b) {
    return a.outputMask == b.outputMask && a.pushPullMask == b.pushPullMask && a.drivenLevels == b.drivenLevels &&
           a.externalLevels == b.externalLevels && SameLed(a, b) && SamePair(a.serialPairs[0], b.serialPairs[0]) &&
           SamePair(a.serialPairs[1], b.serialPairs[1]);
}

// "old -> new".
std::string Transition(const std::string& from, const std::string& to) { return from + " -> " + to; }

// The lines that tell how the board went from before to after, in their fixed
// order: a reset alone; else the directions of the pins, their drives, what
// their outputs drive, their external levels and the levels a read gives (each
// pin 0 to 7), the LED, the two serial port pairs and the armed failures.
std::vector<std::string> Changes(const BoardRecord& before, const BoardRecord& after) {
    std::vector<std::string> lines;
    const Board& a = before.board;
    const Board& b = after.board;
    if (!SameBoard(a, b) && SameBoard(b, Board{}) && after.armed.empty()) {
        lines.emplace_back("board reset");
        return lines;
    }
    auto each_pin = [&lines](const char* field, auto changed, auto text) {
        for (unsigned pin = 0; pin < 8; ++pin) {
            if (changed(pin)) lines.push_back("pin " + std::to_string(pin) + " " + field + " " + text(pin));
        }
    };
    const auto output_changed = [&](unsigned pin) { return Bit(a.outputMask, pin) != Bit(b.outputMask, pin); };
    each_pin("direction", output_changed,
             [&](unsigned pin) { return Transition(Direction(a, pin), Direction(b, pin)); });
    // A pin that became an output has its drive in its direction line.
    each_pin("drive",
             [&](unsigned pin) {
                 return Bit(a.pushPullMask, pin) != Bit(b.pushPullMask, pin) &&
                        !(output_changed(pin) && Bit(b.outputMask, pin));
             },
             [&](unsigned pin) { return Transition(Drive(a, pin), Drive(b, pin)); });
    each_pin("drives",
             [&](unsigned pin) {
                 return Bit(a.outputMask & b.outputMask, pin) && Bit(a.drivenLevels, pin) != Bit(b.drivenLevels, pin);
             },
             [&](unsigned pin) { return Transition(Level(a.drivenLevels, pin), Level(b.drivenLevels, pin)); });
    each_pin("external level", [&](unsigned pin) { return Bit(a.externalLevels, pin) != Bit(b.externalLevels, pin); },
             [&](unsigned pin) { return Transition(Level(a.externalLevels, pin), Level(b.externalLevels, pin)); });
    const uint8_t levelsBefore = PinLevels(a);
    const uint8_t levelsAfter = PinLevels(b);
    each_pin("level", [&](unsigned pin) { return Bit(levelsBefore, pin) != Bit(levelsAfter, pin); },
             [&](unsigned pin) { return Transition(Level(levelsBefore, pin), Level(levelsAfter, pin)); });

    if (!SameLed(a, b)) {
        const bool portStays = a.ledKnown && b.ledKnown && a.ledPort == b.ledPort;
        lines.push_back("LED " + Transition(LedText(a, !portStays), LedText(b, true)));
    }
    for (size_t i = 0; i < a.serialPairs.size(); ++i) {
        const SerialPairState& from = a.serialPairs[i];
        const SerialPairState& to = b.serialPairs[i];
        if (SamePair(from, to)) continue;
        const bool portsStay = from.mode != SerialMode::Unset && to.mode != SerialMode::Unset && SamePorts(from, to);
        lines.push_back(std::string(i == 0 ? "UART 1 and 2 " : "UART 3 and 4 ") +
                        Transition(PairText(from, !portsStay), PairText(to, true)));
    }
    const std::string armed = ArmedText(after.armed);
    if (armed != ArmedText(before.armed)) lines.push_back("failures armed: " + armed);
    return lines;
}

// The local time to the millisecond: 14:03:07.215.
std::string ClockText() {
    const auto now = std::chrono::system_clock::now();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const auto millis = std::chrono::duration_cast<milliseconds>(now - seconds).count();
    const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &time);
#else
    localtime_r(&time, &local);
#endif
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// ---------------------------------------------------------------------------
// Looking at the board.

class BoardWatch {
public:
    explicit BoardWatch(BoardStore& store) : store_(store) {}

    // The board as the watch begins; what changes after it is told.
    StoreStatus Start() {
        const StoreStatus marked = store_.Mark(seen_);
        return marked.Ok() ? store_.Read(last_) : marked;
    }

    // The lines of what changed since the last look; the lock is taken only
    // when the board's mark has changed.
    StoreStatus Look(std::vector<std::string>& lines) {
        ChangeMark now;
        const StoreStatus marked = store_.Mark(now);
        if (!marked.Ok() || now.Same(seen_)) return marked;
        BoardRecord record;
        const StoreStatus read = store_.Read(record);
        if (!read.Ok()) return read;
        seen_ = now;
        lines = Changes(last_, record);
        last_ = std::move(record);
        return read;
    }

    const BoardRecord& Record() const { return last_; }

private:
    BoardStore& store_;
    ChangeMark seen_;
    BoardRecord last_;
};

// ---------------------------------------------------------------------------
// The live view on a terminal.

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

class LiveView {
public:
    LiveView() = default;
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;
    ~LiveView() { Stop(); }

    // Takes the terminal over when standard output is a terminal that can
    // show the view; false (and nothing changed) otherwise.
    bool Start(const std::string& path) {
        path_ = path;
        if (!TakeTerminal()) return false;
        active_ = true;
        HandleSignals(true);
        return true;
    }

    // Gives the terminal back as it was. A watch ended by SIGTERM or SIGHUP
    // then ends as that signal would have ended it.
    void Stop() {
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

    // Waits up to wait for q (true) or the end signal; comes back sooner when
    // a key was typed.
    bool WaitForQuit(milliseconds wait);

    void Add(std::string line) {
        recent_.push_back(std::move(line));
        if (recent_.size() > RECENT_KEPT) recent_.pop_front();
        stale_ = true;
    }

    // Redraws when something changed or the window has another size.
    void Draw(const BoardRecord& record) {
        int rows = 0;
        int columns = 0;
        WindowSize(rows, columns);
        if (!stale_ && rows == rows_ && columns == columns_) return;
        rows_ = rows;
        columns_ = columns;
        stale_ = false;
        const int armedRows = std::max<int>(1, static_cast<int>(record.armed.size()));
        const int needed = FIXED_ROWS + armedRows + 1;
        std::fputs("\x1b[H", stdout);
        if (rows < needed) {
            std::printf("\x1b[Jmarlek-sim watch: the window is too small, %d rows needed (q quits)", needed);
            if (rows > 1 && !recent_.empty()) std::printf("\n%s", recent_.back().c_str());
            std::fflush(stdout);
            return;
        }
        std::printf("marlek-sim watch  %s  (q quits)\x1b[K\n\x1b[K\n\x1b[J", path_.c_str());
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

private:
    bool TakeTerminal();
    void GiveTerminalBack();
    void HandleSignals(bool on);
    void WindowSize(int& rows, int& columns);

    bool active_ = false;
    bool keys_ = false;  // the keyboard is read: standard input is the terminal
    bool stale_ = true;
    int rows_ = 0;
    int columns_ = 0;
    std::string path_;
    std::deque<std::string> recent_;
#ifdef _WIN32
    DWORD outputMode_ = 0;
    DWORD inputMode_ = 0;
#else
    termios saved_{};
    struct sigaction before_[std::size(END_SIGNALS) + 1] {};
    bool handled_[std::size(END_SIGNALS) + 1] {};
#endif
};

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

// ---------------------------------------------------------------------------
// The change lines elsewhere.

bool WriteLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "marlek-sim: cannot write the change lines: %s\n", std::strerror(errno));
    return false;
}

}  // namespace

int Watch(BoardStore& store, const std::vector<std::string_view>& args) {
    WatchOptions options;
    if (const std::optional<std::string> problem = ReadOptions(args, options)) return UsageError(*problem);
    BoardWatch watch(store);
    const StoreStatus started = watch.Start();
    if (!started.Ok()) return StoreError(started);

    // A whole frame of the view goes out in one write; each change line is
    // flushed on its own.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    LiveView view;
    const bool live = view.Start(store.Path());
    if (live) view.Draw(watch.Record());

    const std::optional<Clock::time_point> deadline =
        options.timeout ? std::optional(Clock::now() + *options.timeout) : std::nullopt;
    uint64_t told = 0;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const bool last = deadline && now >= *deadline;
        if (!last) {
            const milliseconds wait = deadline ? std::min(LOOK_INTERVAL, std::chrono::ceil<milliseconds>(*deadline - now))
                                               : LOOK_INTERVAL;
            if (live) {
                if (view.WaitForQuit(wait)) return EXIT_DONE;
            } else {
                std::this_thread::sleep_for(wait);
            }
        }
        std::vector<std::string> lines;
        const StoreStatus looked = watch.Look(lines);
        if (!looked.Ok()) {
            view.Stop();
            return StoreError(looked);
        }
        const std::string time = lines.empty() ? std::string() : ClockText();  // the time of the look
        for (const std::string& line : lines) {
            const std::string stamped = time + " " + line;
            if (live) {
                view.Add(stamped);
            } else if (!WriteLine(stamped)) {
                return EXIT_FAILED;
            }
            if (++told == options.count) return EXIT_DONE;
        }
        if (live) view.Draw(watch.Record());
        if (last) return options.count || told == 0 ? EXIT_FAILED : EXIT_DONE;
    }
}

}  // namespace marlek_sim::tool
