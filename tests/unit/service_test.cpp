#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_protocol.h"
#include "state_file.h"

namespace marlek_linux {
namespace {

using marlek_board::Operation;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (const int value : values) bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

TEST(ServiceProtocol, HeadersTakenOrRefused) {
    struct Row {
        std::vector<uint8_t> header;
        bool fromService;
        HeaderCheck check;
    };
    const Row rows[] = {
        {Bytes({'M', 'B', 1, 2, 8, 0, 0, 0}), false, HeaderCheck::Ok},            // a call
        {Bytes({'M', 'B', 1, 3, 8, 0, 0, 0}), false, HeaderCheck::BadKind},       // an answer, to the service
        {Bytes({'M', 'B', 1, 2, 8, 0, 0, 0}), true, HeaderCheck::BadKind},        // a call, to a client
        {Bytes({'M', 'B', 1, 3, 3, 0, 0, 0}), true, HeaderCheck::Ok},
        {Bytes({'M', 'b', 1, 2, 8, 0, 0, 0}), false, HeaderCheck::BadMark},
        {Bytes({'M', 'B', 2, 2, 8, 0, 0, 0}), false, HeaderCheck::BadVersion},
        {Bytes({'M', 'B', 1, 0, 0, 0, 0, 0}), false, HeaderCheck::BadKind},
        {Bytes({'M', 'B', 1, 2, 0, 0x40, 0, 0}), false, HeaderCheck::Ok},         // 16 KiB: the most
        {Bytes({'M', 'B', 1, 2, 1, 0x40, 0, 0}), false, HeaderCheck::TooLong},
        {Bytes({'M', 'B', 1, 2, 0, 0, 0, 0x80}), false, HeaderCheck::TooLong},    // no sign to wrap
    };
    for (const Row& row : rows) {
        MessageKind kind{};
        uint32_t length = 0;
        EXPECT_EQ(ReadHeader(row.header.data(), row.fromService, kind, length), row.check)
            << "header kind " << int{row.header[3]} << " length byte " << int{row.header[4]};
    }
}

TEST(ServiceProtocol, CallsTravelWhole) {
    BoardRequest sent;
    sent.operation = Operation::DIOInputBit;
    sent.first = 0xA5;
    sent.second = 0x5A;
    sent.pin = -2147483647 - 1;
    sent.nullArgument = true;
    uint8_t body[CALL_BODY];
    PutCall(sent, body);
    BoardRequest taken;
    ASSERT_TRUE(TakeCall(body, sizeof body, taken));
    EXPECT_EQ(taken.operation, sent.operation);
    EXPECT_EQ(taken.first, 0xA5);
    EXPECT_EQ(taken.second, 0x5A);
    EXPECT_EQ(taken.pin, sent.pin);
    EXPECT_TRUE(taken.nullArgument);
    // What is no call: another size, an operation past the board's, a flag past 1.
    EXPECT_FALSE(TakeCall(body, sizeof body - 1, taken));
    body[0] = static_cast<uint8_t>(Operation::GetLastError);
    EXPECT_FALSE(TakeCall(body, sizeof body, taken));
    body[0] = 0;
    body[3] = 2;
    EXPECT_FALSE(TakeCall(body, sizeof body, taken));
}

TEST(ServiceProtocol, AnswersKeepStatusCodeAndAnEscapedText) {
    marlek_board::ErrorRecord failure;
    marlek_board::RecordError(failure, 12, "line held by \"x\x1b[2J\"");
    uint8_t body[MAX_BODY];
    const size_t length = PutAnswer(12, 0, failure, body);
    LibStatus status = 0;
    uint8_t value = 0;
    marlek_board::ErrorRecord taken;
    ASSERT_TRUE(TakeAnswer(body, length, status, value, taken));
    EXPECT_EQ(status, 12);
    EXPECT_EQ(taken.code, 12);
    EXPECT_STREQ(taken.detail, "line held by \"x\\x1b[2J\"");
    // A text that arrives raw is escaped on arrival all the same.
    const uint8_t raw[] = {0xFF, 0, 7, 'a', 0x1b, 'b'};
    ASSERT_TRUE(TakeAnswer(raw, sizeof raw, status, value, taken));
    EXPECT_EQ(status, 0xFF);  // a failure with code 0 is still a failure
    EXPECT_STREQ(taken.detail, "a\\x1bb");
    // Success carries the value and nothing else.
    const uint8_t done[] = {0, 0, 0xA5};
    ASSERT_TRUE(TakeAnswer(done, sizeof done, status, value, taken));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value, 0xA5);
    const uint8_t doneWithText[] = {0, 0, 0xA5, 'x'};
    EXPECT_FALSE(TakeAnswer(doneWithText, sizeof doneWithText, status, value, taken));
    EXPECT_FALSE(TakeAnswer(done, 2, status, value, taken));
}

TEST(ServiceProtocol, ChangesTravelWholeAndAreChecked) {
    ChangeNote sent;
    sent.cause = ChangeCause::Call;
    sent.missed = 70000;
    sent.timeMs = 1765343100123;
    sent.uid = 4000000000u;
    sent.pid = 1234;
    std::strcpy(sent.program, "0123456789abcdef");  // the longest comm
    std::strcpy(sent.user, "operator");
    sent.board.pinsHeld = 1;
    sent.board.drivenLevels = 0xA5;
    sent.board.modes[1] = static_cast<uint8_t>(marlek_board::SerialMode::Rs422);
    sent.board.ttys[0][1] = TTY_RS485_ON;
    uint8_t body[CHANGE_BODY];
    ASSERT_EQ(PutChange(sent, body), CHANGE_BODY);
    ChangeNote taken;
    ASSERT_TRUE(TakeChange(body, sizeof body, taken));
    EXPECT_EQ(taken.cause, ChangeCause::Call);
    EXPECT_EQ(taken.missed, 70000u);
    EXPECT_EQ(taken.timeMs, sent.timeMs);
    EXPECT_EQ(taken.uid, sent.uid);
    EXPECT_EQ(taken.pid, 1234);
    EXPECT_STREQ(taken.program, sent.program);
    EXPECT_STREQ(taken.user, "operator");
    EXPECT_TRUE(taken.board == sent.board);
    // The whole message from its parts, with who made it put once, is the
    // same; no one (a change from outside) is all zeros.
    uint8_t who[CHANGE_WHO_SIZE];
    PutChangeWho(sent.uid, sent.pid, sent.program, sent.user, who);
    uint8_t message[HEADER_SIZE + CHANGE_BODY];
    PutChangeMessage(sent.cause, sent.missed, sent.timeMs, who, sent.board, message);
    uint8_t expected[HEADER_SIZE + CHANGE_BODY];
    PutMessage(MessageKind::Change, body, sizeof body, expected);
    EXPECT_EQ(std::memcmp(message, expected, sizeof message), 0);
    const uint8_t nobody[CHANGE_WHO_SIZE] = {};
    PutChangeWho(0, 0, "", "", who);
    EXPECT_EQ(std::memcmp(who, nobody, sizeof who), 0);
    // A field past what it may hold is refused, as is a name longer than its room.
    const size_t snapshot = CHANGE_BODY - sizeof(BoardSnapshot);
    const std::pair<size_t, uint8_t> wrong[] = {
        {0, 3},                                                          // the cause
        {21, 17},                                                        // the program's length
        {snapshot + offsetof(BoardSnapshot, pinsHeld), 2},
        {snapshot + offsetof(BoardSnapshot, led), LED_NOT_KNOWN + 1},
        {snapshot + offsetof(BoardSnapshot, modes) + 1, 4},
        {snapshot + offsetof(BoardSnapshot, modeLines), MAX_MODE_LINES + 1},
        {snapshot + offsetof(BoardSnapshot, ttys) + 3, TTY_RS485_ON + 1},
    };
    for (const auto& [at, value] : wrong) {
        uint8_t bad[CHANGE_BODY];
        std::memcpy(bad, body, sizeof bad);
        bad[at] = value;
        EXPECT_FALSE(TakeChange(bad, sizeof bad, taken)) << "byte " << at;
    }
    EXPECT_FALSE(TakeChange(body, sizeof body - 1, taken));
}

}  // namespace

namespace service {
namespace {

SavedState Sample() {
    SavedState state;
    state.boot = "5d900299-b153-43ef-bc17-410b8b343c69";
    state.held.pins = PinState{true, 0xFF, 0x0F, 0xA5};
    state.held.ledLineHeld = true;
    state.held.ledOn = true;
    state.held.modeLinesHeld = {true, false};
    state.held.modes = {marlek_board::SerialMode::Rs485, marlek_board::SerialMode::Unset};
    state.description = "pin 0 marlek-dio DIO0\n# no newline at the end";
    return state;
}

TEST(StateFile, ReadsBackWhatItWrites) {
    const SavedState state = Sample();
    const std::optional<SavedState> back = ParseState(StateText(state));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->boot, state.boot);
    EXPECT_TRUE(back->held == state.held);
    EXPECT_EQ(back->description, state.description);
}

TEST(StateFile, RefusesWhatItDidNotWrite) {
    const std::string good = StateText(Sample());
    const std::pair<std::string, std::string> edits[] = {
        {"marlek-boardd state 1", "marlek-boardd state 2"},
        {"pins 1 255 15 165", "pins 1 256 15 165"},
        {"pins 1 255 15 165", "pins 2 255 15 165"},
        {"pins 1 255 15 165", "pins 1 -1 15 165"},
        {"pins 1 255 15 165", "pins 1 255 15 165x"},
        {"pins 1 255 15 165", "pins 1 255 15"},
        {"led-line 1 1", "led-line 1 10"},
        {"uart12 1 2", "uart12 1 4"},
        {"uart34 0 0", "uart21 0 0"},
        {"description 45", "description 44"},
        {"description 45", "description 99999999"},
        {"boot 5d90", "boot\n5d90"},
    };
    for (const auto& [from, to] : edits) {
        std::string text = good;
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        EXPECT_FALSE(ParseState(text)) << to;
    }
    EXPECT_FALSE(ParseState(good + "x"));
}

// The state file is never followed through a link: one at its name is refused
// when read, and one at the new file's name is removed as a link when written.
TEST(StateFile, NeverFollowsALink) {
    char folderName[] = "/tmp/state-test-XXXXXX";
    ASSERT_NE(mkdtemp(folderName), nullptr);
    const std::string folderPath = folderName;
    const std::string target = folderPath + "/target";
    ASSERT_EQ(symlink(target.c_str(), (folderPath + "/board.state.new").c_str()), 0);
    const int folder = OpenStateFolder(folderPath);
    ASSERT_GE(folder, 0);
    std::string problem;
    ASSERT_TRUE(WriteState(folder, Sample(), problem)) << problem;
    struct stat status {};
    EXPECT_NE(lstat(target.c_str(), &status), 0) << "written through the link";
    ASSERT_TRUE(ReadState(folder, problem)) << problem;
    const std::string state = folderPath + "/board.state";
    ASSERT_EQ(rename(state.c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), state.c_str()), 0);
    EXPECT_FALSE(ReadState(folder, problem));
    EXPECT_EQ(problem, "it is a symbolic link, which is not followed");
    close(folder);
    unlink(state.c_str());
    unlink(target.c_str());
    rmdir(folderName);
}

}  // namespace
}  // namespace service
}  // namespace marlek_linux
