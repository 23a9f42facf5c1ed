// Where the simulated board lives: one board shared by every run through its
// state file, or a private board in the memory of one process. Every operation
// reads, changes and writes the board under the board's lock.
#ifndef MARLEK_SIM_BOARD_STORE_H
#define MARLEK_SIM_BOARD_STORE_H

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "state_format.h"
#include "state_os.h"

namespace marlek_sim {

inline constexpr const char* STATE_FILE_NAME = "marlek-sim.board";
inline constexpr const char* MEMORY_SETTING = "memory";
// No operation waits longer than this for the board, whatever holds it.
inline constexpr int BOARD_WAIT_SECONDS = 10;

struct StoreStatus {
    uint8_t code = ERROR_NONE;  // ERROR_STATE_UNUSABLE, or ERROR_BAD_SETTING for a path that cannot be
    std::string detail;         // what is wrong and what to do about it
    bool resettable = false;    // a board state file, or none: a reset puts a fresh board in its place
    bool held = false;          // another process held the board past the wait's end
    bool missing = false;       // no file, for a store that makes none
    bool Ok() const { return code == ERROR_NONE; }
};

// What tells a watcher, without the board's lock, that the board may have
// changed: which file is at the path, and the sequence and check of both
// copies of the board in it, one of which every write changes.
struct ChangeMark {
    os::FileIdentity file;
    std::array<uint64_t, 4> slots{};
    bool Same(const ChangeMark& other) const { return os::SameFile(file, other.file) && slots == other.slots; }
};

class BoardStore {
public:
    // From the value of MARLEK_SIM_STATE: not set or empty, the file in the
    // user's runtime folder; "memory", a private board; otherwise the path of
    // the file.
    static BoardStore FromSetting(const char* setting);
    static BoardStore InMemory();
    static BoardStore AtPath(std::string path);

    bool IsMemory() const { return memory_; }
    const std::string& Path() const { return path_; }
    // Not Ok when no path for the file could be found.
    const StoreStatus& Location() const { return location_; }

    // A store that only looks: a missing file is reported (missing), not made.
    void MakeNoFile() { makesFile_ = false; }

    // Reads the board. The wait for it ends at until when given, else after
    // BOARD_WAIT_SECONDS.
    StoreStatus Read(BoardRecord& record, std::optional<os::Deadline> until = std::nullopt);

    // Reads the board, lets change alter it and, when change returns true,
    // writes it back: all under the lock.
    template <typename Change>
    StoreStatus Update(Change&& change) {
        BoardRecord record;
        SlotChoice choice;
        StoreStatus status = Begin(record, choice, false);
        if (status.Ok()) Finish(change(record) ? &record : nullptr, choice);
        return status;
    }

    // Puts a fresh board in place of the one there, which may be refused: a
    // missing file, or one that begins as a board state file (corrupt,
    // truncated, of another version, or held by a stuck lock), gives way to a
    // new file. Anything else is left as it is: a file that is not a board
    // state file, a symbolic link, a file of another user, not a file at all.
    StoreStatus Reset();

    // The mark of the board now, read without the board's lock: a Read is
    // worth its lock only when the mark differs from the last one. The file is
    // opened afresh (through Read) when the path no longer names the open one
    // (a reset may have put a new file there) or when its header is no longer
    // that of a board state file, so that a file made unusable is reported as
    // Read reports it. A private board has no mark. The mark is read from the
    // file, not from its mapping, so that a file cut short is an error and
    // not a signal; a wait for the board ends at until when given.
    StoreStatus Mark(ChangeMark& mark, std::optional<os::Deadline> until = std::nullopt);

private:
    BoardStore() = default;

    StoreStatus Open(os::Deadline deadline);
    StoreStatus Begin(BoardRecord& record, SlotChoice& choice, bool acceptCorrupt,
                      std::optional<os::Deadline> until = std::nullopt);
    void Finish(const BoardRecord* changed, SlotChoice choice);
    StoreStatus Refused(const std::string& what, bool resettable);
    StoreStatus Held(const char* lock);
    // A path in a folder that does not exist: MARLEK_SIM_STATE is named when it gave the path.
    StoreStatus NoFolder(const std::string& error) const;

    bool memory_ = false;
    std::string path_;
    StoreStatus location_;  // not Ok: no path for the file could be found
    bool fromSetting_ = true;  // the path is MARLEK_SIM_STATE's, not the default
    bool makesFile_ = true;    // a missing file is made, as a fresh board
    BoardRecord memoryRecord_;
    std::unique_ptr<os::StateFile> file_;
    os::FileIdentity checked_;  // the file that the last open looked at
    bool gaveUpWaiting_ = false;  // the last wait for the board gave up
};

}  // namespace marlek_sim

#endif  // MARLEK_SIM_BOARD_STORE_H
