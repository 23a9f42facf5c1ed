#include "board_keeper.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <unistd.h>

#include "led_class.h"
#include "line_set.h"
#include "problem.h"
#include "service_client.h"

namespace marlek_linux::service {

namespace {

using marlek_board::SERIAL_PAIR_COUNT;
using marlek_board::SerialMode;

bool SameLine(const LineEntry& a, const LineEntry& b) {
    if ((a.sourceLine == 0) != (b.sourceLine == 0)) return false;
    return a.sourceLine == 0 ||
           (std::strcmp(a.chip, b.chip) == 0 && std::strcmp(a.line, b.line) == 0 && a.activeLow == b.activeLow);
}

// The pins that both descriptions map to the same line, however else they differ.
uint8_t PinsAlike(const Description& a, const Description& b) {
    uint8_t alike = 0;
    for (size_t pin = 0; pin < a.pins.size(); ++pin) {
        if (SameLine(a.pins[pin], b.pins[pin])) alike = static_cast<uint8_t>(alike | 1u << pin);
    }
    return alike;
}

bool LedLineAlike(const Description& a, const Description& b) {
    return a.led.kind == LedKind::Line && b.led.kind == LedKind::Line && SameLine(a.led.line, b.led.line);
}

// The pair's mode lines and their values for each mode.
bool ModeLinesAlike(const PairEntry& a, const PairEntry& b) {
    if (a.lineCount != b.lineCount || a.values != b.values || a.valueCount != b.valueCount) return false;
    for (int i = 0; i < a.lineCount; ++i) {
        if (!SameLine(a.lines[static_cast<size_t>(i)], b.lines[static_cast<size_t>(i)])) return false;
    }
    return true;
}

bool TtysAlike(const PairEntry& a, const PairEntry& b) {
    return a.tty == b.tty && a.delayBeforeSend == b.delayBeforeSend && a.delayAfterSend == b.delayAfterSend;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void KeepProblem(const Problem& found, void* context) {
    std::string& problem = *static_cast<std::string*>(context);
    if (problem.empty()) problem = found.detail;
}

std::string ClockText(time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

BoardKeeper::BoardKeeper(std::string descriptionPath, PathOrigin origin, int stateFolder, Log log)
    : path_(std::move(descriptionPath)),
      origin_(origin),
      stateFolder_(stateFolder),
      log_(log),
      engine_(std::make_unique<BoardEngine>()) {
    engine_->keepsLines = true;
    engine_->followEdges = true;
}

BoardKeeper::~BoardKeeper() { Stop(); }

bool BoardKeeper::ReadDescription(Description& description, struct stat& identity, std::string& text,
                                  std::string& problem) {
    static char buffer[MAX_DESCRIPTION_BYTES + 1];
    static char found[PROBLEM_SIZE];
    size_t length = 0;
    identity = {};
    if (!ReadDescriptionFile(path_.c_str(), origin_, buffer, length, &identity, found) ||
        !ParseDescription(path_.c_str(), buffer, length, description, found)) {
        problem = found;
        return false;
    }
    text.assign(buffer, length);
    problem.clear();
    if (FindSharedLines(description, KeepProblem, &problem) > 0) return false;
    return true;
}

void BoardKeeper::Start() {
    boot_ = BootId();
    std::string problem;
    std::optional<SavedState> saved = stateFolder_ >= 0 ? ReadState(stateFolder_, problem) : std::nullopt;
    if (!problem.empty()) log_("the state file " + std::string(STATE_FILE) + " is left alone: " + problem);
    auto heldUnder = std::make_unique<Description>();
    if (saved && (boot_.empty() || saved->boot != boot_)) {
        log_("the state file is of an earlier boot: the board is taken as it is");
        saved.reset();
    }
    if (saved) {
        char found[PROBLEM_SIZE];
        if (!ParseDescription(path_.c_str(), saved->description.data(), saved->description.size(), *heldUnder,
                              found)) {
            log_("the state file's description does not read: the board is taken as it is");
            saved.reset();
        }
    }
    auto next = std::make_unique<Description>();
    struct stat identity {};
    std::string text;
    if (!ReadDescription(*next, identity, text, problem)) {
        problem_ = problem;
        problemIdentity_ = identity;
        log_("the board description cannot be used: " + problem);
        return;
    }
    TakeNew(*next, text, identity, true, saved ? saved->held : HeldBoard{}, saved ? heldUnder.get() : nullptr);
}

void BoardKeeper::Refresh(bool forced) {
    struct stat now {};
    if (stat(path_.c_str(), &now) != 0) now = {};
    if (!forced && inForce_ && problem_.empty() && SameFile(now, identity_)) return;
    if (!forced && !problem_.empty() && SameFile(now, problemIdentity_)) return;
    auto next = std::make_unique<Description>();
    struct stat identity {};
    std::string text;
    std::string problem;
    if (!ReadDescription(*next, identity, text, problem)) {
        const bool news = problem != problem_;
        problem_ = problem;
        problemIdentity_ = now;
        if (news) {
            log_("the board description cannot be used: " + problem +
                 (inForce_ ? "; the board stays as the description read at " + ClockText(readAt_) + " has it" : ""));
        }
        return;
    }
    problem_.clear();
    if (inForce_ && text == text_) {  // touched, not changed
        identity_ = identity;
        return;
    }
    const auto before = std::make_unique<Description>(engine_->description);
    TakeNew(*next, text, identity, false, HeldOf(*engine_), inForce_ ? before.get() : nullptr);
    log_("the board description " + path_ + " is taken again");
}

void BoardKeeper::TakeNew(const Description& next, const std::string& text, const struct stat& identity,
                          bool restoring, const HeldBoard& wanted, const Description* heldUnder) {
    BoardEngine& engine = *engine_;
    const uint8_t pinsAlike = heldUnder != nullptr ? PinsAlike(*heldUnder, next) : 0;
    const bool ledAlike = heldUnder != nullptr && LedLineAlike(*heldUnder, next);
    std::array<bool, SERIAL_PAIR_COUNT> linesAlike{};
    std::array<bool, SERIAL_PAIR_COUNT> ttysAlike{};
    for (size_t pair = 0; pair < linesAlike.size(); ++pair) {
        linesAlike[pair] = heldUnder != nullptr && ModeLinesAlike(heldUnder->pairs[pair], next.pairs[pair]);
        ttysAlike[pair] = heldUnder != nullptr && TtysAlike(heldUnder->pairs[pair], next.pairs[pair]);
    }
    // What is named otherwise now is given back; the pins that stay keep
    // their state, taken again at once with the others as they are.
    const bool pinsHeld = wanted.pins.held && (restoring ? pinsAlike != 0 : true);
    if (!restoring) {
        if (engine.pins.held && pinsAlike != 0xFF) ReleasePins(engine);
        if (!ledAlike) ReleaseLedLine(engine);
        for (size_t pair = 0; pair < linesAlike.size(); ++pair) {
            if (!linesAlike[pair]) ReleaseModeLines(engine, static_cast<int>(pair));
        }
    }
    TakeDescription(engine, next);
    engine.linesApart = true;  // checked as it was read
    text_ = text;
    identity_ = identity;
    inForce_ = true;
    readAt_ = time(nullptr);
    Problem problem;
    if (pinsHeld && !engine.pins.held && !HoldPins(engine, pinsAlike, wanted.pins, problem)) {
        log_(std::string("the pins cannot be held again: ") + problem.detail);
    }
    if (restoring && wanted.ledLineHeld && ledAlike && !SetLedLine(engine, wanted.ledOn, problem)) {
        log_(std::string("the LED's line cannot be held again: ") + problem.detail);
    }
    for (size_t pair = 0; pair < linesAlike.size(); ++pair) {
        const int index = static_cast<int>(pair);
        const bool lines = next.pairs[pair].lineCount > 0;
        SerialMode& mode = engine.modes[pair];
        mode = (lines ? linesAlike[pair] : ttysAlike[pair]) ? wanted.modes[pair] : SerialMode::Unset;
        if (!ttysAlike[pair]) engine.ttys[pair] = {};
        if (restoring && wanted.modeLinesHeld[pair] && linesAlike[pair] && mode != SerialMode::Unset &&
            !SetModeLines(engine, index, mode, problem)) {
            log_(std::string("the mode lines cannot be held again: ") + problem.detail);
        }
    }
    const HeldBoard given = HeldOf(engine);
    if (restoring && (given.pins.held || given.ledLineHeld || given.modeLinesHeld[0] || given.modeLinesHeld[1])) {
        log_("the board is given back as it was held before the service stopped");
    }
    NoteChange();
    SaveNow();
}

LibStatus BoardKeeper::Call(RunState& run, const BoardRequest& request, uint8_t& value,
                            marlek_board::ErrorRecord& failure) {
    value = 0;
    if (!inForce_) return marlek_board::RecordError(failure, ERROR_DESCRIPTION, "%s", problem_.c_str());
    if (!problem_.empty()) {
        return marlek_board::RecordError(failure, ERROR_DESCRIPTION,
                                         "%s; the board service keeps the board as its last good description left "
                                         "it until this is mended (marlek-board checks the file)",
                                         problem_.c_str());
    }
    const LibStatus status = RunBoardCall(*engine_, run, request, value, failure);
    NoteChange();
    return status;
}

bool BoardKeeper::SameDescription(const std::string& named) const { return named.empty() || named == path_; }

LibStatus BoardKeeper::RefuseOtherDescription(const std::string& named, marlek_board::ErrorRecord& failure) const {
    return marlek_board::RecordError(failure, ERROR_DESCRIPTION,
                                     "MARLEK_BOARD names %s, but the board service holds the board as %s describes "
                                     "it; unset MARLEK_BOARD, or have the service read %s (marlek-boardd --board)",
                                     named.c_str(), path_.c_str(), named.c_str());
}

BoardSnapshot BoardKeeper::Snapshot(bool readLevels) {
    BoardEngine& engine = *engine_;
    BoardSnapshot board;
    if (!inForce_) return board;
    const Description& description = engine.description;
    for (size_t pin = 0; pin < description.pins.size(); ++pin) {
        if (description.pins[pin].sourceLine != 0) board.pinsDescribed = static_cast<uint8_t>(board.pinsDescribed | 1u << pin);
    }
    board.pinsHeld = engine.pins.held ? 1 : 0;
    board.outputMask = engine.pins.outputMask;
    board.pushPullMask = engine.pins.pushPullMask;
    board.drivenLevels = engine.pins.drivenLevels;
    board.levelsKnown = readLevels && ReadPinLevels(engine, board.levels) ? 1 : 0;
    board.ledKind = static_cast<uint8_t>(description.led.kind);
    if (description.led.kind == LedKind::Class && !engine.ledKnown) {
        // Read once: from then on the service sets it.
        unsigned long brightness = 0;
        unsigned long maximum = 0;
        Problem ignored;
        if (ReadLed(description.led.className, "", brightness, maximum, ignored)) {
            engine.ledKnown = true;
            engine.ledOn = brightness > 0;
        }
    }
    board.led = !engine.ledKnown ? LED_NOT_KNOWN : engine.ledOn ? LED_ON_SHOWN : LED_OFF_SHOWN;
    for (size_t pair = 0; pair < description.pairs.size(); ++pair) {
        const PairEntry& entry = description.pairs[pair];
        const SerialMode mode = engine.modes[pair];
        board.modes[pair] = static_cast<uint8_t>(mode);
        board.modeLines[pair] = static_cast<uint8_t>(entry.lineCount);
        board.modeLinesHeld[pair] = engine.modeLinesHeld[pair] ? 1 : 0;
        if (engine.modeLinesHeld[pair] && mode != SerialMode::Unset) {
            board.modeValues[pair] = entry.values[static_cast<size_t>(ModeIndex(mode))];
        }
        for (size_t port = 0; port < PAIR_PORTS; ++port) {
            const TtyState state = engine.ttys[pair][port];
            board.ttys[pair][port] = entry.tty[port][0] == '\0'          ? TTY_NONE
                                     : state == TtyState::Rs485On  ? TTY_RS485_ON
                                     : state == TtyState::Rs485Off ? TTY_RS485_OFF
                                                                   : TTY_NOT_KNOWN;
        }
    }
    return board;
}

int BoardKeeper::PinRequests(int (&fds)[MAX_SET_LINES]) const { return marlek_linux::PinRequests(*engine_, fds); }

std::string BoardKeeper::StatusText() const {
    std::string text = "pid " + std::to_string(getpid()) + "\ndescription " + path_ + "\n";
    text += inForce_ ? "read " + ClockText(readAt_) + "\n" : "read never\n";
    if (!problem_.empty()) text += "problem " + problem_ + "\n";
    return text;
}

void BoardKeeper::Stop() {
    SaveNow();
    ReleaseBoard(*engine_);
}

void BoardKeeper::NoteChange() {
    if (changedAt_ < 0 && (!savedOnce_ || !(HeldOf(*engine_) == saved_))) changedAt_ = NowMs();
}

int BoardKeeper::SaveDueMs() const {
    if (changedAt_ < 0) return -1;
    const int64_t left = changedAt_ + SAVE_DELAY_MS - NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

void BoardKeeper::SaveNow() {
    if (changedAt_ < 0) return;
    changedAt_ = -1;
    const HeldBoard now = HeldOf(*engine_);
    if (stateFolder_ < 0 || (savedOnce_ && now == saved_)) return;
    std::string problem;
    if (!WriteState(stateFolder_, SavedState{boot_, now, text_}, problem)) {
        if (problem != saveProblem_) log_("the state cannot be kept: " + problem);
        saveProblem_ = problem;
        return;
    }
    saveProblem_.clear();
    saved_ = now;
    savedOnce_ = true;
}

}  // namespace marlek_linux::service
