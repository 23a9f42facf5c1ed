// marlek-sim watch: follows the shared board. On a terminal it shows the board
// live, redrawn in place, in the view marlek-board shares (live_view.h);
// elsewhere it writes one line per change, for scripts.
//
// Between looks it reads only the board's change mark, without the board's
// lock; the lock is taken only to copy a board whose mark has changed, so a
// quiet board costs next to nothing and the programs are never slowed.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "change_lines.h"
#include "live_view.h"
#include "tool.h"
#include "watch_options.h"

namespace marlek_sim::tool {

namespace {

namespace view = marlek_board::view;
using Clock = std::chrono::steady_clock;

// How often the board's mark is looked at: changes show within this, and a
// quiet board wakes the watch no more often.
constexpr int LOOK_INTERVAL_MS = 25;

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
        fresh_ = true;
        return looked;
    }

    // The board as last seen; none before the first look that found one.
    const BoardRecord* Record() const { return started_ ? &last_ : nullptr; }

    // Whether Record() is another since the last question.
    bool Fresh() { return std::exchange(fresh_, false); }

private:
    BoardStore& store_;
    std::optional<ChangeMark> seen_;
    bool started_ = false;
    bool fresh_ = true;
    BoardRecord last_;
};

}  // namespace

int Watch(BoardStore& store, const std::vector<std::string_view>& args) {
    const std::vector<std::string> words(args.begin(), args.end());
    std::vector<const char*> arguments;
    for (const std::string& word : words) arguments.push_back(word.c_str());
    view::WatchOptions options;
    char problem[view::OPTION_PROBLEM_SIZE];
    if (!view::ReadWatchOptions(arguments.data(), arguments.size(), options, problem, sizeof problem)) {
        return UsageError(problem);
    }
    BoardWatch watch(store);
    view::LiveView live;
    live.Start("marlek-sim watch", store.Path().c_str());
    view::BoardPicture picture;

    // The watch's own end and its keys come first: a look waits for the
    // board no longer than one interval, and a board held for the whole bound
    // of every wait ends the watch as it ends any other command.
    view::WatchEnds ends(options);
    Clock::time_point heldSince{};  // when the board was first found held, while it is
    bool holding = false;
    for (bool first = true;; first = false) {
        const Clock::time_point now = Clock::now();
        const bool last = ends.TimedOut();
        const int wait = ends.WaitMillis(LOOK_INTERVAL_MS);
        if (!last && !first && live.Wait(wait) == view::Woken::Quit) return EXIT_DONE;
        std::vector<std::string> lines;
        const StoreStatus looked = watch.Look(lines, os::DeadlineAfter(wait));
        if (looked.held && !holding) heldSince = now;
        holding = looked.held;
        const bool held = looked.held && Clock::now() - heldSince < std::chrono::seconds(BOARD_WAIT_SECONDS);
        if (!looked.Ok() && !looked.missing && !held) {
            live.Stop();
            return StoreError(looked);
        }
        live.Note(looked.missing ? "no board yet, waiting for a program to make it"
                  : held         ? "the board is held by another process, waiting"
                                 : "");
        char time[view::CLOCK_STAMP_SIZE] = "";
        if (!lines.empty()) view::ClockStamp(time);  // the time of the look
        for (const std::string& line : lines) {
            const std::string stamped = std::string(time) + " " + line;
            if (live.Active()) {
                live.Add(stamped.c_str());
            } else {
                int error = 0;
                const Output written = view::WriteChangeLine(stamped.c_str(), error);
                if (OutputReported(written, error) != Output::Written) {
                    return written == Output::ReaderGone ? EXIT_DONE : EXIT_FAILED;  // no one reads the lines now
                }
            }
            if (ends.Told()) return EXIT_DONE;
        }
        if (live.Active()) {
            if (watch.Fresh()) picture = PictureOf(watch.Record() != nullptr ? *watch.Record() : BoardRecord{},
                                                    RuleForm::Watch);
            live.Draw(picture, watch.Record() != nullptr);
        }
        if (last) return ends.EndedShort() ? EXIT_FAILED : EXIT_DONE;
    }
}

}  // namespace marlek_sim::tool
