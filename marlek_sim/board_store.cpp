#include "board_store.h"

#include <cstring>

namespace marlek_sim {

namespace {

constexpr const char* RESET_ADVICE = "; 'marlek-sim reset' (or removing the file) starts a fresh board";
constexpr const char* CORRUPT = "is corrupt: neither copy of the board in it passes its check";
// For what marlek-sim reset leaves alone: a file that is not a board state file.
constexpr const char* BY_HAND_ADVICE =
    "; remove it by hand if it may go, or set MARLEK_SIM_STATE to a file of your own elsewhere";
// For a folder, a device, a FIFO: nothing to remove.
constexpr const char* OWN_FILE_ADVICE = "; set MARLEK_SIM_STATE to a file of your own";
constexpr const char* STATE_VARIABLE = "MARLEK_SIM_STATE";
constexpr int64_t BOARD_WAIT_MILLISECONDS = int64_t{BOARD_WAIT_SECONDS} * 1000;

StoreStatus Unusable(std::string detail, bool resettable = false) {
    return StoreStatus{ERROR_STATE_UNUSABLE, std::move(detail), resettable};
}

std::string HeaderProblemText(HeaderProblem problem, uint32_t version, uint64_t size) {
    switch (problem) {
        case HeaderProblem::None: break;
        case HeaderProblem::Foreign: return "is not a board state file";
        case HeaderProblem::WrongVersion:
            return "holds board state of version " + std::to_string(version) + ", and this simulator reads version " +
                   std::to_string(STATE_VERSION);
        case HeaderProblem::Truncated:
            return "is truncated (" + std::to_string(size) + " of " + std::to_string(STATE_FILE_SIZE) + " bytes)";
        case HeaderProblem::WrongSize:
            return "is not a board state file of this simulator (" + std::to_string(size) + " bytes, not " +
                   std::to_string(STATE_FILE_SIZE) + ")";
        case HeaderProblem::Corrupt: return "is corrupt: its header is damaged";
        case HeaderProblem::OtherPlatform: return "was laid out by a simulator built for another platform";
    }
    return "";
}

}  // namespace

BoardStore BoardStore::FromSetting(const char* setting) {
    if (setting != nullptr && std::string_view(setting) == MEMORY_SETTING) return InMemory();
    if (setting != nullptr && setting[0] != '\0') return AtPath(setting);
    BoardStore store;
    std::string folder;
    std::string problem;
    os::FolderProblem kind{};
    if (os::DefaultStateFolder(folder, problem, kind)) {
        store.path_ = os::JoinPath(folder, STATE_FILE_NAME);
        store.fromSetting_ = false;
    } else if (kind == os::FolderProblem::BadSetting) {
        store.location_ = StoreStatus{ERROR_BAD_SETTING, problem};
    } else {
        const char* advice =
            kind == os::FolderProblem::Unfit ? BY_HAND_ADVICE : "; set MARLEK_SIM_STATE to the file for the board";
        store.location_ = Unusable(problem + advice);
    }
    return store;
}

BoardStore BoardStore::InMemory() {
    BoardStore store;
    store.memory_ = true;
    return store;
}

BoardStore BoardStore::AtPath(std::string path) {
    BoardStore store;
    if (os::NamesFolder(path)) {
        store.location_ = StoreStatus{ERROR_BAD_SETTING,
                                      SettingProblem(STATE_VARIABLE, path, "it ends in a separator, so it names a folder "
                                                                           "and not a file")};
    }
    store.path_ = std::move(path);
    return store;
}

StoreStatus BoardStore::NoFolder(const std::string& error) const {
    if (!fromSetting_) return Unusable(error);
    return StoreStatus{ERROR_BAD_SETTING, std::string(STATE_VARIABLE) + "=" + Escaped(path_) + ": " + error +
                                              "; name a file in a folder that exists"};
}

StoreStatus BoardStore::Refused(const std::string& what, bool resettable) {
    file_.reset();  // the next operation looks at the file afresh
    return Unusable(path_ + " " + what + (resettable ? RESET_ADVICE : BY_HAND_ADVICE), resettable);
}

StoreStatus BoardStore::Held(const char* lock) {
    file_.reset();
    gaveUpWaiting_ = true;
    StoreStatus held = Unusable("the board in " + path_ + " is held by another process through " + lock +
                                    " and did not come free within " + std::to_string(BOARD_WAIT_SECONDS) +
                                    " s; when no program is stopped in the middle of a call, the lock is stuck" +
                                    RESET_ADVICE,
                                true);
    held.held = true;
    return held;
}

StoreStatus BoardStore::Open(os::Deadline deadline) {
    std::unique_ptr<os::StateFile> file;
    std::string owner;
    std::string error;
    // A missing file is a fresh board; another process may create it first.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const os::OpenOutcome outcome = os::StateFile::Open(path_, file, owner, error);
        switch (outcome) {
            case os::OpenOutcome::Opened: checked_ = file->Identity(); break;
            case os::OpenOutcome::Missing: {
                if (!makesFile_) {
                    StoreStatus none = Unusable("there is no board in " + path_ + " yet");
                    none.missing = true;
                    return none;
                }
                bool exists = false;
                if (!os::CreateExclusive(path_, FreshStateImage(os::BoardLockKind()), exists, error)) {
                    return os::FolderOfMissing(path_) ? NoFolder(error) : Unusable(error);
                }
                continue;
            }
            case os::OpenOutcome::SymbolicLink:
                return Refused("is a symbolic link, and the board state is kept only in a plain file", false);
            case os::OpenOutcome::NotRegularFile: return Unusable(path_ + " is not a plain file" + OWN_FILE_ADVICE);
            case os::OpenOutcome::OtherOwner: return Refused("belongs to " + owner + ", not to you", false);
            case os::OpenOutcome::Failed: return os::FolderOfMissing(path_) ? NoFolder(error) : Unusable(error);
        }
        break;
    }
    if (!file) return Unusable("cannot open " + path_ + ": it keeps disappearing");

    // The header does not change once the file is made: it is checked before
    // the wait for the lock, so that even a file held by another process is
    // known to be a board state file or not.
    std::array<uint8_t, STATE_HEADER_SIZE> header{};
    size_t got = 0;
    if (!file->ReadAt(0, header, got, error)) return Unusable(error);
    uint32_t version = 0;
    const HeaderProblem problem =
        CheckHeader(std::span(header.data(), got), file->Size(), os::BoardLockKind(), version);
    if (problem != HeaderProblem::None)
        return Refused(HeaderProblemText(problem, version, file->Size()), problem != HeaderProblem::Foreign);
    if (!file->Map(STATE_FILE_SIZE, error)) return Unusable(error);
    switch (file->LockWhole(deadline, error)) {
        case os::LockOutcome::Taken:
        case os::LockOutcome::TakenFromDeadOwner: break;
        case os::LockOutcome::TimedOut: return Held(os::WHOLE_LOCK_NAME);
        case os::LockOutcome::Failed: return Unusable(error);
    }
    // The first process of each boot sets the lock up: no process of an
    // earlier boot can hold it, whatever it says. Never while another process
    // uses the file: that one is of this boot, and may hold the lock now. A
    // process that cannot tell the boot takes a lock once set up as it is. No
    // other process uses the file when it is set up, so its slots can be
    // checked without the lock, and a file that is refused is left as it is.
    file->JoinUsers();
    const std::string bootMark = os::BootMark();
    const std::string mark = ReadBootMark(file->Bytes());
    if ((mark.empty() || (!bootMark.empty() && mark != bootMark)) && file->MaySetUpBoardLock()) {
        BoardRecord record;
        if (LoadNewest(file->Bytes(), record).slot < 0) return Refused(CORRUPT, true);
        file->SetUpBoardLock();
        WriteBootMark(file->Bytes(), bootMark);
    }
    file->UnlockWhole();
    file_ = std::move(file);
    return StoreStatus{};
}

StoreStatus BoardStore::Begin(BoardRecord& record, SlotChoice& choice, bool acceptCorrupt,
                               std::optional<os::Deadline> until) {
    if (memory_) {
        record = memoryRecord_;
        return StoreStatus{};
    }
    if (!location_.Ok()) return location_;
    // One bound for the whole operation, whichever lock it waits for; once a
    // wait has given up, later operations only try, while the board stays held.
    const os::Deadline deadline = until ? *until : os::DeadlineAfter(gaveUpWaiting_ ? 0 : BOARD_WAIT_MILLISECONDS);
    if (!file_) {
        StoreStatus opened = Open(deadline);
        if (!opened.Ok()) return opened;
    }
    std::string error;
    switch (file_->LockBoard(deadline, error)) {
        case os::LockOutcome::Taken:
        case os::LockOutcome::TakenFromDeadOwner: break;
        case os::LockOutcome::TimedOut: return Held(os::BOARD_LOCK_NAME);
        case os::LockOutcome::Failed: return Refused("has a lock that cannot be used (" + error + ")", true);
    }
    gaveUpWaiting_ = false;
    choice = LoadNewest(file_->Bytes(), record);
    if (choice.slot < 0 && !acceptCorrupt) {
        file_->UnlockBoard();
        return Refused(CORRUPT, true);
    }
    return StoreStatus{};
}

void BoardStore::Finish(const BoardRecord* changed, SlotChoice choice) {
    if (memory_) {
        if (changed != nullptr) memoryRecord_ = *changed;
        return;
    }
    if (changed != nullptr) StoreAfter(file_->Bytes(), choice, *changed);
    file_->UnlockBoard();
}

StoreStatus BoardStore::Read(BoardRecord& record, std::optional<os::Deadline> until) {
    SlotChoice choice;
    StoreStatus status = Begin(record, choice, false, until);
    if (status.Ok()) Finish(nullptr, choice);
    return status;
}

StoreStatus BoardStore::Reset() {
    const BoardRecord fresh;
    BoardRecord record;
    SlotChoice choice;
    // In place when the file can be used, so that programs running on it see
    // the fresh board too; otherwise a new file takes its place.
    StoreStatus status = Begin(record, choice, true);
    if (status.Ok()) {
        Finish(&fresh, choice);
        return status;
    }
    if (!status.resettable) return status;
    file_.reset();
    // What is replaced is the file that was checked, even when another took
    // its place while reset waited for its lock.
    std::string error;
    bool changed = false;
    if (os::ReplaceAtomically(path_, FreshStateImage(os::BoardLockKind()), checked_, changed, error))
        return StoreStatus{};
    if (!changed) return Unusable(error);
    return Unusable(path_ + " is another file than the board state file that reset found there: it took that one's "
                    "place while reset waited for it, and is left as it is; 'marlek-sim reset' again looks at it");
}

namespace {

// What the mark is read from: the header, and the sequence and check of both
// slots, which lie before the end of the second slot's sequence.
constexpr size_t MARK_BYTES = STATE_SLOT_OFFSETS[1] + SLOT_SEQUENCE_OFFSET + 8;

uint64_t Word(const uint8_t* at) {
    uint64_t word = 0;
    for (size_t i = 0; i < 8; ++i) word |= static_cast<uint64_t>(at[i]) << (8 * i);
    return word;
}

}  // namespace

StoreStatus BoardStore::Mark(ChangeMark& mark, std::optional<os::Deadline> until) {
    mark = ChangeMark{};
    if (memory_) return StoreStatus{};
    // Read, not mapped: another process may cut the file short at any time.
    std::array<uint8_t, MARK_BYTES> bytes{};
    size_t got = 0;
    std::string error;
    const auto intact = [&] {
        uint32_t version = 0;
        return file_->ReadAt(0, bytes, got, error) && got == bytes.size() &&
               CheckHeader(std::span(bytes.data(), STATE_HEADER_SIZE), STATE_FILE_SIZE, os::BoardLockKind(), version) ==
                   HeaderProblem::None;
    };
    // The file is looked at afresh when the path names another one, or when
    // it is no longer whole (Read then says what is wrong with it).
    if (file_ && !(os::SameFile(file_->Identity(), os::IdentityOf(path_)) && intact())) file_.reset();
    if (!file_) {
        BoardRecord record;
        const StoreStatus opened = Read(record, until);
        if (!opened.Ok()) return opened;
        if (!intact()) return Unusable(error.empty() ? path_ + " changed while it was being read" : error);
    }
    mark.file = file_->Identity();
    for (size_t slot = 0; slot < STATE_SLOT_OFFSETS.size(); ++slot) {
        const uint8_t* at = bytes.data() + STATE_SLOT_OFFSETS[slot];
        mark.slots[2 * slot] = Word(at + SLOT_SEQUENCE_OFFSET);
        mark.slots[2 * slot + 1] = Word(at + SLOT_CRC_OFFSET);
    }
    return StoreStatus{};
}

}  // namespace marlek_sim
