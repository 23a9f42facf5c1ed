#include "tool.h"

#include <cstring>

namespace marlek_sim::tool {

std::optional<uint64_t> Decimal(std::string_view text, uint64_t max) {
    uint64_t value = 0;
    if (!ParseDecimal(text, max, value)) return std::nullopt;
    return value;
}

Output FlushOutput() {
    int error = 0;
    const Output flushed = marlek_board::view::FlushStandardOutput(error);
    return OutputReported(flushed, error);
}

Output OutputReported(Output written, int error) {
    static bool reported = false;
    if (written != Output::Failed) return written;
    if (!reported) {
        Complain(std::string("cannot write the output: ") + (error != 0 ? std::strerror(error) : "write error"));
    }
    reported = true;
    return Output::Failed;
}

void Complain(const std::string& text) { std::fprintf(stderr, "marlek-sim: %s\n", Escaped(text).c_str()); }

int UsageError(const std::string& problem) {
    Complain(problem);
    std::fprintf(stderr, "Try 'marlek-sim --help'.\n");
    return EXIT_USAGE;
}

int StoreError(const StoreStatus& status) {
    Complain(std::string(ErrorText(status.code)) + ": " + status.detail);
    return EXIT_FAILED;
}

std::string LedText(const Board& board, bool withPort) {
    if (!board.ledKnown) return "not set";
    std::string text = board.ledSetting == 0 ? "on" : "off";
    if (withPort) text += ", first COM port " + std::to_string(board.ledPort);
    return text;
}

std::string PairText(const SerialPairState& pair, bool withPorts) {
    if (pair.mode == SerialMode::Unset) return "not set";
    std::string text = SerialModeName(pair.mode);
    if (withPorts) text += ", ports " + std::to_string(pair.firstPort) + " and " + std::to_string(pair.secondPort);
    return text;
}

std::string RuleText(const FailureRule& rule) {
    const std::string call = rule.onCall == 0 ? "every call" : "call " + std::to_string(rule.onCall);
    return std::string(OperationName(rule.operation)) + " " + call + ", code " + std::to_string(rule.code) + " \"" +
           Escaped(rule.detail) + "\"";
}

namespace {

bool Bit(unsigned value, unsigned pin) { return ((value >> pin) & 1u) != 0; }

std::string ShowRuleText(const FailureRule& rule) {
    const std::string call = rule.onCall == 0 ? "every call" : "call " + std::to_string(rule.onCall);
    return std::string(OperationName(rule.operation)) + " fails on " + call + " with code " +
           std::to_string(rule.code) + " \"" + Escaped(rule.detail) + "\"";  // as an older file may hold it
}

}  // namespace

marlek_board::view::BoardPicture PictureOf(const BoardRecord& record, RuleForm form) {
    using marlek_board::view::Level;
    using marlek_board::view::LevelOf;
    marlek_board::view::BoardPicture picture;
    const Board& board = record.board;
    const uint8_t levels = PinLevels(board);
    for (unsigned pin = 0; pin < marlek_board::view::PICTURE_PINS; ++pin) {
        marlek_board::view::PinPicture& shown = picture.pins[pin];
        shown.held = true;
        shown.output = Bit(board.outputMask, pin);
        shown.pushPull = Bit(board.pushPullMask, pin);
        shown.driven = shown.output ? LevelOf(Bit(board.drivenLevels, pin)) : Level::Unknown;
        shown.external = LevelOf(Bit(board.externalLevels, pin));
        shown.read = LevelOf(Bit(levels, pin));
    }
    picture.SetLed(board.ledKnown && board.ledSetting == 0, LedText(board, true).c_str());
    for (size_t pair = 0; pair < board.serialPairs.size(); ++pair) {
        picture.SetPair(pair, PairText(board.serialPairs[pair], true).c_str());
    }
    if (record.armed.empty()) picture.AddRow("Next run:", "no failure armed");
    for (const FailureRule& rule : record.armed) {
        picture.AddRow("Next run:", (form == RuleForm::Watch ? RuleText(rule) : ShowRuleText(rule)).c_str());
    }
    return picture;
}

}  // namespace marlek_sim::tool
