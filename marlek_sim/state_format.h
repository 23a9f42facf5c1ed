// The layout of the board state file, independent of how the file is opened,
// locked or mapped.
//
// The file has a fixed size: a header, an area for the lock the platform keeps
// in the file, and two slots. Each slot holds a whole copy of the board with a
// sequence number and a CRC-32. A change is written into the slot that does not
// hold the newest copy, with the next sequence number; readers take the newest
// slot whose check passes. A writer killed halfway leaves a slot that fails its
// check, and the other slot still holds the copy before the change.
#ifndef MARLEK_SIM_STATE_FORMAT_H
#define MARLEK_SIM_STATE_FORMAT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "board_model.h"
#include "sim_settings.h"

namespace marlek_sim {

inline constexpr uint32_t STATE_VERSION = 1;
inline constexpr std::array<uint8_t, 8> STATE_MAGIC{'M', 'A', 'R', 'L', 'E', 'K', 'S', 'B'};

inline constexpr size_t STATE_HEADER_SIZE = 64;
inline constexpr size_t STATE_BOOT_MARK_OFFSET = 24;
inline constexpr size_t STATE_BOOT_MARK_SIZE = STATE_HEADER_SIZE - STATE_BOOT_MARK_OFFSET;
inline constexpr size_t STATE_LOCK_OFFSET = 64;
inline constexpr size_t STATE_LOCK_SIZE = 64;
inline constexpr size_t STATE_SLOT_SIZE = 512;
inline constexpr std::array<size_t, 2> STATE_SLOT_OFFSETS{128, 128 + STATE_SLOT_SIZE};
inline constexpr size_t STATE_FILE_SIZE = 128 + 2 * STATE_SLOT_SIZE;

// The fields of a slot. The CRC (in the low half of its eight bytes) covers
// the sequence, the length and the payload, padded with zeros to whole
// eight-byte words.
inline constexpr size_t SLOT_CRC_OFFSET = 0;
inline constexpr size_t SLOT_SEQUENCE_OFFSET = 8;
inline constexpr size_t SLOT_LENGTH_OFFSET = 16;
inline constexpr size_t SLOT_PAYLOAD_OFFSET = 24;

// What the simulator keeps for the next program run besides the board.
inline constexpr size_t MAX_ARMED_FAILURES = 4;
inline constexpr size_t MAX_ARMED_TEXT = 80;

// The whole persistent state: the board and the failures armed for the next run.
struct BoardRecord {
    Board board;
    std::vector<FailureRule> armed;
};

uint32_t Crc32(std::span<const uint8_t> bytes);

enum class HeaderProblem {
    None,
    Foreign,        // does not begin as a board state file
    WrongVersion,   // a board state file of another version
    Truncated,      // shorter than the layout, even cut within the magic
    WrongSize,      // longer than the layout
    Corrupt,        // the header of a board state file, damaged
    OtherPlatform,  // its lock area was laid out by a simulator built for another platform
};

// Checks the header (the first bytes of the file, as many as there are up to
// STATE_HEADER_SIZE) against the file's size and the platform's lock kind.
// version receives the version the file claims when it has the magic.
HeaderProblem CheckHeader(std::span<const uint8_t> header, uint64_t fileSize, uint32_t lockKind,
                          uint32_t& version);

// The image of a fresh state file: the header and a fresh board in slot 0; the
// boot mark is empty, so the first process to open it sets up the lock area.
std::vector<uint8_t> FreshStateImage(uint32_t lockKind);

// The boot mark in the header: the system boot whose processes set up the lock.
std::string ReadBootMark(const uint8_t* image);
void WriteBootMark(uint8_t* image, const std::string& mark);

// Which slot holds the newest valid copy; slot -1: none does.
struct SlotChoice {
    int slot = -1;
    uint64_t sequence = 0;
};

// Decodes the newest slot whose check passes into record.
SlotChoice LoadNewest(const uint8_t* image, BoardRecord& record);

// Writes record into the slot that current does not name, with the next
// sequence number, and returns that slot.
SlotChoice StoreAfter(uint8_t* image, SlotChoice current, const BoardRecord& record);

// Writes record into the given slot with the given sequence number, as it is
// laid out; for tests and for building images.
void WriteSlot(uint8_t* image, int slot, uint64_t sequence, const BoardRecord& record);

}  // namespace marlek_sim

#endif  // MARLEK_SIM_STATE_FORMAT_H
