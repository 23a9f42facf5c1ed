#include "state_format.h"

#include <algorithm>
#include <cstring>

namespace marlek_sim {

namespace {

// Header fields.
constexpr size_t VERSION_OFFSET = 8;
constexpr size_t SIZE_OFFSET = 12;
constexpr size_t LOCK_KIND_OFFSET = 16;

constexpr size_t CRC_OFFSET = SLOT_CRC_OFFSET;
constexpr size_t SEQUENCE_OFFSET = SLOT_SEQUENCE_OFFSET;
constexpr size_t LENGTH_OFFSET = SLOT_LENGTH_OFFSET;
constexpr size_t PAYLOAD_OFFSET = SLOT_PAYLOAD_OFFSET;
constexpr size_t MAX_PAYLOAD = STATE_SLOT_SIZE - PAYLOAD_OFFSET;

// The payload: the board in fixed places, then the armed failures.
constexpr size_t BOARD_BYTES = 29;
constexpr size_t ARMED_FIXED_BYTES = 7;  // operation, code, call, text length
static_assert(BOARD_BYTES + MAX_ARMED_FAILURES * (ARMED_FIXED_BYTES + MAX_ARMED_TEXT) + 7 <= MAX_PAYLOAD);

void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

// CRC-32 (the polynomial of zip and Ethernet), eight bytes a step: every
// operation checks one slot and writes one, so this is on the hot path.
constexpr std::array<std::array<uint32_t, 256>, 8> CRC_TABLES = [] {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (size_t n = 0; n < 256; ++n) {
        for (size_t k = 1; k < 8; ++k) tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    }
    return tables;
}();

uint32_t CrcUpdate(uint32_t crc, std::span<const uint8_t> bytes) {
    const auto& t = CRC_TABLES;
    const uint8_t* at = bytes.data();
    size_t left = bytes.size();
    for (; left >= 8; left -= 8, at += 8) {
        const uint32_t low = crc ^ Get32(at);
        const uint32_t high = Get32(at + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
              t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; left > 0; --left, ++at) crc = t[0][(crc ^ *at) & 0xFFu] ^ (crc >> 8);
    return crc;
}

void Put64(uint8_t* at, uint64_t value) {
    Put32(at, static_cast<uint32_t>(value));
    Put32(at + 4, static_cast<uint32_t>(value >> 32));
}

uint64_t Get64(const uint8_t* at) { return Get32(at) | static_cast<uint64_t>(Get32(at + 4)) << 32; }

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes) { return CrcUpdate(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu; }

namespace {

size_t Padded(size_t length) { return (length + 7) & ~size_t{7}; }

uint32_t SlotCrc(const uint8_t* slot, size_t length) {
    return Crc32({slot + SEQUENCE_OFFSET, PAYLOAD_OFFSET - SEQUENCE_OFFSET + Padded(length)});
}

size_t EncodePayload(const BoardRecord& record, uint8_t* out) {
    const Board& board = record.board;
    out[0] = board.outputMask;
    out[1] = board.pushPullMask;
    out[2] = board.drivenLevels;
    out[3] = board.externalLevels;
    out[4] = board.ledKnown ? 1 : 0;
    out[5] = board.ledSetting;
    out[6] = static_cast<uint8_t>(board.serialPairs[0].mode);
    out[7] = static_cast<uint8_t>(board.serialPairs[1].mode);
    Put32(out + 8, static_cast<uint32_t>(board.ledPort));
    Put32(out + 12, static_cast<uint32_t>(board.serialPairs[0].firstPort));
    Put32(out + 16, static_cast<uint32_t>(board.serialPairs[0].secondPort));
    Put32(out + 20, static_cast<uint32_t>(board.serialPairs[1].firstPort));
    Put32(out + 24, static_cast<uint32_t>(board.serialPairs[1].secondPort));
    const size_t count = std::min(record.armed.size(), MAX_ARMED_FAILURES);
    out[28] = static_cast<uint8_t>(count);
    size_t at = BOARD_BYTES;
    for (size_t i = 0; i < count; ++i) {
        const FailureRule& rule = record.armed[i];
        const size_t textLength = std::min(rule.detail.size(), MAX_ARMED_TEXT);
        out[at] = static_cast<uint8_t>(rule.operation);
        out[at + 1] = rule.code;
        Put32(out + at + 2, rule.onCall);
        out[at + 6] = static_cast<uint8_t>(textLength);
        std::memcpy(out + at + ARMED_FIXED_BYTES, rule.detail.data(), textLength);
        at += ARMED_FIXED_BYTES + textLength;
    }
    return at;
}

bool DecodeMode(uint8_t code, SerialMode& mode) {
    if (code > static_cast<uint8_t>(SerialMode::Rs422)) return false;
    mode = static_cast<SerialMode>(code);
    return true;
}

bool DecodePayload(const uint8_t* in, size_t length, BoardRecord& record) {
    if (length < BOARD_BYTES || in[4] > 1 || in[5] > 1 || in[28] > MAX_ARMED_FAILURES) return false;
    Board board;
    board.outputMask = in[0];
    board.pushPullMask = in[1];
    board.drivenLevels = in[2];
    board.externalLevels = in[3];
    board.ledKnown = in[4] == 1;
    board.ledSetting = in[5];
    if (!DecodeMode(in[6], board.serialPairs[0].mode) || !DecodeMode(in[7], board.serialPairs[1].mode)) return false;
    board.ledPort = static_cast<int32_t>(Get32(in + 8));
    board.serialPairs[0].firstPort = static_cast<int32_t>(Get32(in + 12));
    board.serialPairs[0].secondPort = static_cast<int32_t>(Get32(in + 16));
    board.serialPairs[1].firstPort = static_cast<int32_t>(Get32(in + 20));
    board.serialPairs[1].secondPort = static_cast<int32_t>(Get32(in + 24));
    record.board = board;
    record.armed.clear();
    size_t at = BOARD_BYTES;
    for (uint8_t i = 0; i < in[28]; ++i) {
        if (at + ARMED_FIXED_BYTES > length) return false;
        const size_t textLength = in[at + 6];
        if (in[at] >= SIM_OPERATION_COUNT || textLength > MAX_ARMED_TEXT ||
            at + ARMED_FIXED_BYTES + textLength > length) {
            return false;
        }
        FailureRule rule;
        rule.operation = static_cast<SimOperation>(in[at]);
        rule.code = in[at + 1];
        rule.onCall = Get32(in + at + 2);
        rule.detail.assign(reinterpret_cast<const char*>(in + at + ARMED_FIXED_BYTES), textLength);
        record.armed.push_back(std::move(rule));
        at += ARMED_FIXED_BYTES + textLength;
    }
    return at == length;
}

// Whether the slot passes its check and decodes.
bool ReadSlot(const uint8_t* image, int slot, BoardRecord& record) {
    const uint8_t* at = image + STATE_SLOT_OFFSETS[static_cast<size_t>(slot)];
    const uint32_t length = Get32(at + LENGTH_OFFSET);
    if (Padded(length) > MAX_PAYLOAD || SlotCrc(at, length) != Get64(at + CRC_OFFSET)) return false;
    return DecodePayload(at + PAYLOAD_OFFSET, length, record);
}

uint64_t SlotSequence(const uint8_t* image, int slot) {
    return Get64(image + STATE_SLOT_OFFSETS[static_cast<size_t>(slot)] + SEQUENCE_OFFSET);
}

}  // namespace

HeaderProblem CheckHeader(std::span<const uint8_t> header, uint64_t fileSize, uint32_t lockKind,
                          uint32_t& version) {
    // A file cut short within the magic (even to nothing) still began as a
    // board state file.
    const size_t compared = std::min(header.size(), STATE_MAGIC.size());
    if (!std::equal(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(compared), STATE_MAGIC.begin()))
        return HeaderProblem::Foreign;
    if (header.size() < STATE_MAGIC.size()) return HeaderProblem::Truncated;
    if (header.size() < SIZE_OFFSET) return HeaderProblem::Truncated;
    version = Get32(header.data() + VERSION_OFFSET);
    if (version != STATE_VERSION) return HeaderProblem::WrongVersion;
    if (fileSize < STATE_FILE_SIZE || header.size() < STATE_HEADER_SIZE) return HeaderProblem::Truncated;
    if (fileSize > STATE_FILE_SIZE) return HeaderProblem::WrongSize;
    if (Get32(header.data() + SIZE_OFFSET) != STATE_FILE_SIZE) return HeaderProblem::Corrupt;
    if (Get32(header.data() + LOCK_KIND_OFFSET) != lockKind) return HeaderProblem::OtherPlatform;
    return HeaderProblem::None;
}

std::vector<uint8_t> FreshStateImage(uint32_t lockKind) {
    std::vector<uint8_t> image(STATE_FILE_SIZE, 0);
    std::copy(STATE_MAGIC.begin(), STATE_MAGIC.end(), image.begin());
    Put32(image.data() + VERSION_OFFSET, STATE_VERSION);
    Put32(image.data() + SIZE_OFFSET, static_cast<uint32_t>(STATE_FILE_SIZE));
    Put32(image.data() + LOCK_KIND_OFFSET, lockKind);
    WriteSlot(image.data(), 0, 1, BoardRecord{});
    return image;
}

std::string ReadBootMark(const uint8_t* image) {
    const char* mark = reinterpret_cast<const char*>(image + STATE_BOOT_MARK_OFFSET);
    return std::string(mark, strnlen(mark, STATE_BOOT_MARK_SIZE));
}

void WriteBootMark(uint8_t* image, const std::string& mark) {
    uint8_t* at = image + STATE_BOOT_MARK_OFFSET;
    std::memset(at, 0, STATE_BOOT_MARK_SIZE);
    std::memcpy(at, mark.data(), std::min(mark.size(), STATE_BOOT_MARK_SIZE - 1));
}

SlotChoice LoadNewest(const uint8_t* image, BoardRecord& record) {
    // The newer slot first: only when its check fails is the other one needed.
    const int newer = SlotSequence(image, 1) > SlotSequence(image, 0) ? 1 : 0;
    for (const int slot : {newer, 1 - newer}) {
        if (ReadSlot(image, slot, record)) return SlotChoice{slot, SlotSequence(image, slot)};
    }
    return SlotChoice{};
}

SlotChoice StoreAfter(uint8_t* image, SlotChoice current, const BoardRecord& record) {
    const SlotChoice next{current.slot == 0 ? 1 : 0, current.sequence + 1};
    WriteSlot(image, next.slot, next.sequence, record);
    return next;
}

void WriteSlot(uint8_t* image, int slot, uint64_t sequence, const BoardRecord& record) {
    // Built aside and copied in one go, so the slot is torn only by a kill in
    // the middle of the copy, which its CRC then shows. Only the bytes written
    // are copied.
    std::array<uint8_t, STATE_SLOT_SIZE> bytes;
    Put64(bytes.data() + SEQUENCE_OFFSET, sequence);
    const size_t length = EncodePayload(record, bytes.data() + PAYLOAD_OFFSET);
    Put32(bytes.data() + LENGTH_OFFSET, static_cast<uint32_t>(length));
    Put32(bytes.data() + LENGTH_OFFSET + 4, 0);
    std::memset(bytes.data() + PAYLOAD_OFFSET + length, 0, Padded(length) - length);
    Put64(bytes.data() + CRC_OFFSET, SlotCrc(bytes.data(), length));
    std::memcpy(image + STATE_SLOT_OFFSETS[static_cast<size_t>(slot)], bytes.data(), PAYLOAD_OFFSET + Padded(length));
}

}  // namespace marlek_sim
