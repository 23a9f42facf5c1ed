#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "state_format.h"

namespace marlek_sim {
namespace {

constexpr uint32_t LOCK_KIND = 0x12345678;

BoardRecord BusyRecord() {
    BoardRecord record;
    record.board.outputMask = 0xF0;
    record.board.pushPullMask = 0x30;
    record.board.drivenLevels = 0xA5;
    record.board.externalLevels = 0x0F;
    record.board.ledKnown = true;
    record.board.ledSetting = 0;
    record.board.ledPort = -3;
    record.board.serialPairs[0] = SerialPairState{SerialMode::Rs422, 1, 2};
    record.board.serialPairs[1] = SerialPairState{SerialMode::Rs485, INT32_MIN, INT32_MAX};
    record.armed = {
        FailureRule{SimOperation::DIOInputByte, 2, 9, "sensor off line"},
        FailureRule{SimOperation::GetErrorString, 0, 0, ""},
        FailureRule{SimOperation::SerialConfig, UINT32_MAX, 255, std::string(MAX_ARMED_TEXT, 'x')},
        FailureRule{SimOperation::DIOInit, 1, 5, "no board found"},
    };
    return record;
}

void ExpectSame(const BoardRecord& actual, const BoardRecord& expected) {
    const Board& a = actual.board;
    const Board& e = expected.board;
    EXPECT_EQ(a.outputMask, e.outputMask);
    EXPECT_EQ(a.pushPullMask, e.pushPullMask);
    EXPECT_EQ(a.drivenLevels, e.drivenLevels);
    EXPECT_EQ(a.externalLevels, e.externalLevels);
    EXPECT_EQ(a.ledKnown, e.ledKnown);
    EXPECT_EQ(a.ledSetting, e.ledSetting);
    EXPECT_EQ(a.ledPort, e.ledPort);
    for (size_t pair = 0; pair < a.serialPairs.size(); ++pair) {
        EXPECT_EQ(a.serialPairs[pair].mode, e.serialPairs[pair].mode);
        EXPECT_EQ(a.serialPairs[pair].firstPort, e.serialPairs[pair].firstPort);
        EXPECT_EQ(a.serialPairs[pair].secondPort, e.serialPairs[pair].secondPort);
    }
    ASSERT_EQ(actual.armed.size(), expected.armed.size());
    for (size_t i = 0; i < actual.armed.size(); ++i) {
        EXPECT_EQ(actual.armed[i].operation, expected.armed[i].operation);
        EXPECT_EQ(actual.armed[i].onCall, expected.armed[i].onCall);
        EXPECT_EQ(actual.armed[i].code, expected.armed[i].code);
        EXPECT_EQ(actual.armed[i].detail, expected.armed[i].detail);
    }
}

TEST(StateFormat, Crc32IsTheUsualOne) {
    const std::string_view check = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
}

TEST(StateFormat, FreshImageHoldsAFreshBoard) {
    const std::vector<uint8_t> image = FreshStateImage(LOCK_KIND);
    ASSERT_EQ(image.size(), STATE_FILE_SIZE);
    BoardRecord record = BusyRecord();
    const SlotChoice choice = LoadNewest(image.data(), record);
    EXPECT_EQ(choice.slot, 0);
    ExpectSame(record, BoardRecord{});
    EXPECT_EQ(ReadBootMark(image.data()), "");
}

TEST(StateFormat, EveryFieldSurvivesAStoreAndLoad) {
    std::vector<uint8_t> image = FreshStateImage(LOCK_KIND);
    BoardRecord loaded;
    SlotChoice choice = LoadNewest(image.data(), loaded);
    choice = StoreAfter(image.data(), choice, BusyRecord());
    EXPECT_EQ(choice.slot, 1);
    EXPECT_EQ(choice.sequence, 2u);
    const SlotChoice again = LoadNewest(image.data(), loaded);
    EXPECT_EQ(again.slot, 1);
    ExpectSame(loaded, BusyRecord());
}

TEST(StateFormat, NewestSlotThatPassesItsCheckWins) {
    const struct {
        const char* what;
        uint64_t sequences[2];
        bool damaged[2];
        int expected;  // -1: neither
    } cases[] = {
        {"the higher sequence", {7, 8}, {false, false}, 1},
        {"the higher sequence in slot 0", {9, 8}, {false, false}, 0},
        {"the newer one damaged", {7, 8}, {false, true}, 0},
        {"the older one damaged", {7, 8}, {true, false}, 1},
        {"both damaged", {7, 8}, {true, true}, -1},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = FreshStateImage(LOCK_KIND);
        for (int slot = 0; slot < 2; ++slot) {
            BoardRecord record;
            record.board.drivenLevels = static_cast<uint8_t>(slot + 1);  // tells the slots apart
            WriteSlot(image.data(), slot, c.sequences[slot], record);
            if (c.damaged[slot]) image[STATE_SLOT_OFFSETS[static_cast<size_t>(slot)] + SLOT_PAYLOAD_OFFSET + 2] ^= 0x40;
        }
        BoardRecord loaded;
        const SlotChoice choice = LoadNewest(image.data(), loaded);
        EXPECT_EQ(choice.slot, c.expected) << c.what;
        if (c.expected >= 0) {
            EXPECT_EQ(loaded.board.drivenLevels, c.expected + 1) << c.what;
        }
    }
}

TEST(StateFormat, AWriteCutShortAtAnyByteLeavesTheOldOrTheNewBoard) {
    std::vector<uint8_t> before = FreshStateImage(LOCK_KIND);
    BoardRecord old;
    old.board.drivenLevels = 0x11;
    old.armed = {FailureRule{SimOperation::DIOFree, 3, 4, "old"}};
    SlotChoice choice = StoreAfter(before.data(), SlotChoice{0, 1}, old);  // slot 1, sequence 2
    std::vector<uint8_t> after = before;
    StoreAfter(after.data(), choice, BusyRecord());  // slot 0, sequence 3
    const size_t start = STATE_SLOT_OFFSETS[0];
    for (size_t cut = 0; cut <= STATE_SLOT_SIZE; ++cut) {
        std::vector<uint8_t> torn = before;
        std::memcpy(torn.data() + start, after.data() + start, cut);
        BoardRecord loaded;
        const SlotChoice got = LoadNewest(torn.data(), loaded);
        ASSERT_GE(got.slot, 0) << "cut after " << cut << " bytes";
        if (got.slot == 0) {
            ExpectSame(loaded, BusyRecord());
        } else {
            ExpectSame(loaded, old);
        }
    }
}

TEST(StateFormat, SlotsThatPassTheCheckButHoldNonsenseAreRefused) {
    // Written as the format lays them out, with a valid CRC, but with values no
    // board has: they count as damaged.
    const struct {
        const char* what;
        size_t offset;  // within the payload
        uint8_t value;
    } cases[] = {
        {"LED known neither 0 nor 1", 4, 2},
        {"LED setting 2", 5, 2},
        {"serial mode 4", 6, 4},
        {"more failures armed than there is room for", 28, MAX_ARMED_FAILURES + 1},
        {"an operation that does not exist", 29, SIM_OPERATION_COUNT},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = FreshStateImage(LOCK_KIND);
        BoardRecord record;
        record.armed = {FailureRule{}};
        WriteSlot(image.data(), 0, 5, record);
        uint8_t* slot = image.data() + STATE_SLOT_OFFSETS[0];
        slot[SLOT_PAYLOAD_OFFSET + c.offset] = c.value;
        uint32_t length = 0;
        std::memcpy(&length, slot + SLOT_LENGTH_OFFSET, sizeof length);  // little-endian where we build
        const size_t covered = SLOT_PAYLOAD_OFFSET - SLOT_SEQUENCE_OFFSET + ((length + 7) & ~7u);
        const uint32_t crc = Crc32({slot + SLOT_SEQUENCE_OFFSET, covered});
        std::memcpy(slot + SLOT_CRC_OFFSET, &crc, sizeof crc);
        BoardRecord loaded;
        EXPECT_EQ(LoadNewest(image.data(), loaded).slot, -1) << c.what;
    }
}

TEST(StateFormat, HeaderProblems) {
    const std::vector<uint8_t> fresh = FreshStateImage(LOCK_KIND);
    auto with = [&fresh](size_t offset, uint8_t value) {
        std::vector<uint8_t> header(fresh.begin(), fresh.begin() + STATE_HEADER_SIZE);
        header[offset] = value;
        return header;
    };
    const std::vector<uint8_t> header(fresh.begin(), fresh.begin() + STATE_HEADER_SIZE);
    const struct {
        const char* what;
        std::vector<uint8_t> header;
        uint64_t size;
        HeaderProblem expected;
        uint32_t version;
    } cases[] = {
        {"a fresh file", header, STATE_FILE_SIZE, HeaderProblem::None, 1},
        {"an empty file", {}, 0, HeaderProblem::Truncated, 0},
        {"cut within the magic", {header.begin(), header.begin() + 5}, 5, HeaderProblem::Truncated, 0},
        {"another magic", {'M', 'A', 'R', 'L', 'E', 'K', 'S', 'X'}, 8, HeaderProblem::Foreign, 0},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'b', 'o', 'a', 'r', 'd'}, 11, HeaderProblem::Foreign, 0},
        {"the magic alone", {header.begin(), header.begin() + 8}, 8, HeaderProblem::Truncated, 0},
        {"cut after the version", {header.begin(), header.begin() + 12}, 12, HeaderProblem::Truncated, 1},
        {"cut in the slots", header, STATE_FILE_SIZE - 1, HeaderProblem::Truncated, 1},
        {"version 2", with(8, 2), STATE_FILE_SIZE, HeaderProblem::WrongVersion, 2},
        {"version 2 of another size", with(8, 2), 4096, HeaderProblem::WrongVersion, 2},
        {"longer than the layout", header, STATE_FILE_SIZE + 1, HeaderProblem::WrongSize, 1},
        {"a damaged size field", with(12, 0), STATE_FILE_SIZE, HeaderProblem::Corrupt, 1},
        {"another platform's lock", with(16, 0), STATE_FILE_SIZE, HeaderProblem::OtherPlatform, 1},
    };
    for (const auto& c : cases) {
        uint32_t version = 0;
        EXPECT_EQ(CheckHeader(c.header, c.size, LOCK_KIND, version), c.expected) << c.what;
        EXPECT_EQ(version, c.version) << c.what;
    }
}

}  // namespace
}  // namespace marlek_sim
