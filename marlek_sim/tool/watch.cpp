// marlek-sim watch: follows the shared board. On a terminal it shows the board
// live, redrawn in place (watch_view.cpp); elsewhere it writes one line per
// change, for scripts.
//
// Between looks it reads only the board's change mark, without the board's
// lock; the lock is taken only to copy a board whose mark has changed, so a
// quiet board costs next to nothing and the programs are never slowed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tool.h"
#include "watch_view.h"

namespace marlek_sim::tool {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the board's mark is looked at: changes show within this, and a
// quiet board wakes the watch no more often.
constexpr milliseconds LOOK_INTERVAL{25};
constexpr uint64_t MAX_TIMEOUT_SECONDS = 999'999'999;

// ---------------------------------------------------------------------------
// The options.

struct WatchOptions {
    std::optional<uint64_t> count;
    std::optional<milliseconds> timeout;
};

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
    explicit BoardWatch(BoardStore& store) : store_(store) { store_.MakeNoFile(); }

    // The lines of what changed since the last look; the lock is taken only
    // when the board's mark has changed, and waited for until then. The first
    // look at the board is what the watch starts from; a missing file stands
    // for a fresh board, so the board a program then makes is told.
    StoreStatus Look(std::vector<std::string>& lines, os::Deadline until) {
        ChangeMark now;
        StoreStatus looked = store_.Mark(now, until);
        if (looked.Ok() && seen_ && now.Same(*seen_)) return looked;
        BoardRecord record;
        if (looked.Ok()) looked = store_.Read(record, until);
        if (looked.missing && !started_) started_ = true;  // from a fresh board
        if (!looked.Ok()) {
            seen_.reset();
            return looked;
        }
        if (started_) lines = Changes(last_, record);
        started_ = true;
        seen_ = now;
        last_ = std::move(record);
        return looked;
    }

    // The board as last seen; none before the first look that found one.
    const BoardRecord* Record() const { return started_ ? &last_ : nullptr; }

private:
    BoardStore& store_;
    std::optional<ChangeMark> seen_;
    bool started_ = false;
    BoardRecord last_;
};

// ---------------------------------------------------------------------------
// The change lines elsewhere.

// A change line, flushed at once.
Output WriteLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    return FlushOutput();
}

}  // namespace

int Watch(BoardStore& store, const std::vector<std::string_view>& args) {
    WatchOptions options;
    if (const std::optional<std::string> problem = ReadOptions(args, options)) return UsageError(*problem);
    BoardWatch watch(store);

    // A whole frame of the view goes out in one write; each change line is
    // flushed on its own.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    LiveView view;
    const bool live = view.Start(store.Path());

    // The watch's own end and its keys come first: a look waits for the
    // board no longer than one interval, and a board held for the whole bound
    // of every wait ends the watch as it ends any other command.
    const std::optional<Clock::time_point> deadline =
        options.timeout ? std::optional(Clock::now() + *options.timeout) : std::nullopt;
    std::optional<Clock::time_point> heldSince;
    uint64_t told = 0;
    for (bool first = true;; first = false) {
        const Clock::time_point now = Clock::now();
        const bool last = deadline && now >= *deadline;
        const milliseconds left = deadline ? std::chrono::ceil<milliseconds>(*deadline - now) : LOOK_INTERVAL;
        const milliseconds wait = std::max(milliseconds(0), std::min(LOOK_INTERVAL, left));
        if (!last && !first) {
            if (live) {
                if (view.WaitForQuit(wait)) return EXIT_DONE;
            } else {
                std::this_thread::sleep_for(wait);
            }
        }
        std::vector<std::string> lines;
        const StoreStatus looked = watch.Look(lines, os::DeadlineAfter(wait.count()));
        if (looked.held && !heldSince) heldSince = now;
        const bool held = looked.held && Clock::now() - *heldSince < std::chrono::seconds(BOARD_WAIT_SECONDS);
        if (!looked.held) heldSince.reset();
        if (!looked.Ok() && !looked.missing && !held) {
            view.Stop();
            return StoreError(looked);
        }
        view.Note(looked.missing ? "no board yet, waiting for a program to make it"
                  : held         ? "the board is held by another process, waiting"
                                 : "");
        const std::string time = lines.empty() ? std::string() : ClockText();  // the time of the look
        for (const std::string& line : lines) {
            const std::string stamped = time + " " + line;
            if (live) {
                view.Add(stamped);
            } else if (const Output written = WriteLine(stamped); written != Output::Written) {
                return written == Output::ReaderGone ? EXIT_DONE : EXIT_FAILED;  // no one reads the lines now
            }
            if (++told == options.count) return EXIT_DONE;
        }
        if (live) view.Draw(watch.Record());
        if (last) return options.count || told == 0 ? EXIT_FAILED : EXIT_DONE;
    }
}

}  // namespace marlek_sim::tool
