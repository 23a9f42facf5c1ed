#include "service_protocol.h"

#include <cstring>

#include "board_rules.h"

namespace marlek_linux {

namespace {

constexpr uint8_t MARK[2] = {'M', 'B'};

uint32_t Little32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

void PutLittle32(uint32_t value, uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Signed32(int32_t value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

int32_t FromBits32(uint32_t bits) {
    int32_t value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A name as its length and size bytes, and back.
uint8_t* PutName(const char* name, size_t size, uint8_t* at) {
    const size_t length = strnlen(name, size);
    *at++ = static_cast<uint8_t>(length);
    std::memset(at, 0, size);
    std::memcpy(at, name, length);
    return at + size;
}

bool TakeName(const uint8_t*& at, size_t size, char* name) {
    const size_t length = *at++;
    if (length > size) return false;
    std::memcpy(name, at, length);
    name[length] = '\0';
    at += size;
    return true;
}

}  // namespace

HeaderCheck ReadHeader(const uint8_t* header, bool fromService, MessageKind& kind, uint32_t& length) {
    if (header[0] != MARK[0] || header[1] != MARK[1]) return HeaderCheck::BadMark;
    if (header[2] != PROTOCOL_VERSION) return HeaderCheck::BadVersion;
    kind = static_cast<MessageKind>(header[3]);
    const bool known = fromService ? (kind == MessageKind::Answer || kind == MessageKind::StatusAnswer ||
                                      kind == MessageKind::Change)
                                   : (kind == MessageKind::Hello || kind == MessageKind::Call ||
                                      kind == MessageKind::Status || kind == MessageKind::Watch);
    if (!known) return HeaderCheck::BadKind;
    length = Little32(header + 4);
    if (length > MAX_BODY) return HeaderCheck::TooLong;
    return HeaderCheck::Ok;
}

const char* HeaderCheckText(HeaderCheck check) {
    switch (check) {
        case HeaderCheck::Ok: return "a message";
        case HeaderCheck::BadMark: return "not a message of the board service's protocol";
        case HeaderCheck::BadVersion: return "a message of another version of the board service's protocol";
        case HeaderCheck::BadKind: return "a message of a kind that is not asked here";
        case HeaderCheck::TooLong: return "a message longer than the protocol allows";
    }
    return "not a message";
}

namespace {

void PutHeader(MessageKind kind, size_t length, uint8_t* out) {
    out[0] = MARK[0];
    out[1] = MARK[1];
    out[2] = PROTOCOL_VERSION;
    out[3] = static_cast<uint8_t>(kind);
    PutLittle32(static_cast<uint32_t>(length), out + 4);
}

}  // namespace

size_t PutMessage(MessageKind kind, const void* body, size_t length, uint8_t* out) {
    PutHeader(kind, length, out);
    if (length > 0) std::memcpy(out + HEADER_SIZE, body, length);
    return HEADER_SIZE + length;
}

void PutCall(const BoardRequest& request, uint8_t (&body)[CALL_BODY]) {
    body[0] = static_cast<uint8_t>(request.operation);
    body[1] = request.first;
    body[2] = request.second;
    body[3] = request.nullArgument ? 1 : 0;
    PutLittle32(Signed32(request.pin), body + 4);
}

bool TakeCall(const uint8_t* body, size_t length, BoardRequest& request) {
    // The calls that reach a board; the two error functions stay in the library.
    if (length != CALL_BODY || body[0] > static_cast<uint8_t>(marlek_board::Operation::SerialConfig) || body[3] > 1) {
        return false;
    }
    request.operation = static_cast<marlek_board::Operation>(body[0]);
    request.first = body[1];
    request.second = body[2];
    request.nullArgument = body[3] != 0;
    request.pin = FromBits32(Little32(body + 4));
    return true;
}

size_t PutAnswer(LibStatus status, uint8_t value, const marlek_board::ErrorRecord& failure, uint8_t* body) {
    body[0] = status;
    body[1] = status == 0 ? 0 : failure.code;
    body[2] = value;
    if (status == 0) return ANSWER_FIXED;
    const size_t text = strnlen(failure.detail, sizeof failure.detail);
    const size_t kept = text < MAX_BODY - ANSWER_FIXED ? text : MAX_BODY - ANSWER_FIXED;
    std::memcpy(body + ANSWER_FIXED, failure.detail, kept);
    return ANSWER_FIXED + kept;
}

bool TakeAnswer(const uint8_t* body, size_t length, LibStatus& status, uint8_t& value,
                marlek_board::ErrorRecord& failure) {
    if (length < ANSWER_FIXED || (body[0] == 0 && length != ANSWER_FIXED)) return false;
    value = body[2];
    status = 0;
    if (body[0] == 0) return true;
    const size_t text = length - ANSWER_FIXED;
    marlek_board::RecordError(failure, body[1], "%.*s", static_cast<int>(text),
                              reinterpret_cast<const char*>(body + ANSWER_FIXED));
    // The status the service's library returned: the code, or 0xFF for code 0.
    status = body[0];
    return true;
}

void PutChangeWho(uint32_t uid, int32_t pid, const char* program, const char* user,
                  uint8_t (&who)[CHANGE_WHO_SIZE]) {
    PutLittle32(uid, who);
    PutLittle32(Signed32(pid), who + 4);
    PutName(user, USER_NAME_SIZE, PutName(program, PROGRAM_NAME_SIZE, who + 8));
}

namespace {

// The body of a change: cause, missed, time, who, board.
void PutChangeBody(ChangeCause cause, uint32_t missed, int64_t timeMs, const uint8_t (&who)[CHANGE_WHO_SIZE],
                   const BoardSnapshot& board, uint8_t* body) {
    body[0] = static_cast<uint8_t>(cause);
    PutLittle32(missed, body + 1);
    uint64_t time = 0;
    std::memcpy(&time, &timeMs, sizeof time);
    PutLittle32(static_cast<uint32_t>(time), body + 5);
    PutLittle32(static_cast<uint32_t>(time >> 32), body + 9);
    std::memcpy(body + 13, who, CHANGE_WHO_SIZE);
    std::memcpy(body + 13 + CHANGE_WHO_SIZE, &board, sizeof board);
}
static_assert(13 + CHANGE_WHO_SIZE + sizeof(BoardSnapshot) == CHANGE_BODY, "a change's body is its parts");

}  // namespace

void PutChangeMessage(ChangeCause cause, uint32_t missed, int64_t timeMs, const uint8_t (&who)[CHANGE_WHO_SIZE],
                      const BoardSnapshot& board, uint8_t (&message)[HEADER_SIZE + CHANGE_BODY]) {
    PutHeader(MessageKind::Change, CHANGE_BODY, message);
    PutChangeBody(cause, missed, timeMs, who, board, message + HEADER_SIZE);
}

size_t PutChange(const ChangeNote& note, uint8_t (&body)[CHANGE_BODY]) {
    uint8_t who[CHANGE_WHO_SIZE];
    PutChangeWho(note.uid, note.pid, note.program, note.user, who);
    PutChangeBody(note.cause, note.missed, note.timeMs, who, note.board, body);
    return CHANGE_BODY;
}

namespace {

// Every field within what it may hold, since a watch draws by them.
bool SnapshotValid(const BoardSnapshot& board) {
    bool valid = board.pinsHeld <= 1 && board.levelsKnown <= 1 && board.ledKind <= static_cast<uint8_t>(LedKind::Line) &&
                 board.led <= LED_NOT_KNOWN;
    for (size_t pair = 0; pair < 2; ++pair) {
        valid = valid && board.modes[pair] <= static_cast<uint8_t>(marlek_board::SerialMode::Rs422) &&
                board.modeLines[pair] <= MAX_MODE_LINES && board.modeLinesHeld[pair] <= 1 &&
                board.ttys[pair][0] <= TTY_RS485_ON && board.ttys[pair][1] <= TTY_RS485_ON;
    }
    return valid;
}

}  // namespace

bool TakeChange(const uint8_t* body, size_t length, ChangeNote& note) {
    if (length != CHANGE_BODY || body[0] > static_cast<uint8_t>(ChangeCause::Outside)) return false;
    note.cause = static_cast<ChangeCause>(body[0]);
    note.missed = Little32(body + 1);
    const uint64_t time = uint64_t{Little32(body + 5)} | uint64_t{Little32(body + 9)} << 32;
    std::memcpy(&note.timeMs, &time, sizeof time);
    note.uid = Little32(body + 13);
    note.pid = FromBits32(Little32(body + 17));
    const uint8_t* at = body + 21;
    if (!TakeName(at, PROGRAM_NAME_SIZE, note.program) || !TakeName(at, USER_NAME_SIZE, note.user)) return false;
    std::memcpy(&note.board, at, sizeof note.board);
    return SnapshotValid(note.board);
}

}  // namespace marlek_linux
