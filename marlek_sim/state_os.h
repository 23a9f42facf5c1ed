// What the board state file and the trace need from the operating system:
// opening the state file without following links, mapping it, locking it with a
// bound on every wait, creating and replacing it atomically, the user's folder
// for it, and a file to append the trace to. Everything platform-specific about
// them lives behind this header, in one source for each system, which the
// build chooses: state_os_posix.cpp, state_os_windows.cpp.
//
// Every descriptor opened here lies above the standard streams and is not
// inherited by child processes, so a program started with standard input,
// output or error closed never reads or writes the board through them.
#ifndef MARLEK_SIM_STATE_OS_H
#define MARLEK_SIM_STATE_OS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace marlek_sim::os {

// What the lock area of the file holds on this platform; a file laid out by
// another platform's simulator is not used.
uint32_t BoardLockKind();

// Names the current boot of the system: a lock area set up in an earlier boot
// is set up afresh (no process of that boot can still hold it). Empty when the
// boot cannot be told (no /proc): the lock area is then taken as it is.
std::string BootMark();

// The folder for the state file when no path is given: the user's runtime
// folder, else a private per-user folder under the temporary folder, created
// with access for the user alone. On failure: false with the problem in
// problem, and its kind: a system error; a folder that exists but is not fit
// (not a folder, not the user's, open to others); or a variable naming the
// folder that cannot be used (XDG_RUNTIME_DIR naming no folder), which the
// problem then names with its value.
enum class FolderProblem { SystemError, Unfit, BadSetting };
bool DefaultStateFolder(std::string& folder, std::string& problem, FolderProblem& kind);

// Whether path ends in a separator, and so names a folder rather than a file.
bool NamesFolder(const std::string& path);

#ifdef _WIN32
// The system's text for an error code of GetLastError, without its full stop.
std::string SystemText(unsigned long code);
#endif

// The name of a file in a folder.
std::string JoinPath(const std::string& folder, const char* name);

// Writes the image to a new file at path, atomically: the file appears whole or
// not at all. exists: another process created it first (not a failure).
bool CreateExclusive(const std::string& path, std::span<const uint8_t> image, bool& exists,
                     std::string& error);

// Whether the folder that path would be in does not exist (or is no folder).
bool FolderOfMissing(const std::string& path);

// Whether two open files are one file.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t file = 0;
    bool known = false;
};

// Puts a new file with the image in the place of the file at path, atomically,
// when that is still the file expected (by identity; a symbolic link itself,
// not its target). Otherwise leaves whatever is there alone: false with
// changed set.
bool ReplaceAtomically(const std::string& path, std::span<const uint8_t> image, const FileIdentity& expected,
                       bool& changed, std::string& error);

enum class OpenOutcome { Opened, Missing, SymbolicLink, NotRegularFile, OtherOwner, Failed };

enum class LockOutcome { Taken, TakenFromDeadOwner, TimedOut, Failed };

// The moment by which a wait for the board ends, on a clock that does not jump.
struct Deadline {
    int64_t milliseconds = 0;
};
Deadline DeadlineAfter(int64_t milliseconds);

// What the two locks are, for the texts that say which one held a wait up.
#ifdef _WIN32
inline constexpr const char* WHOLE_LOCK_NAME = "its lock of the whole file (LockFileEx)";
inline constexpr const char* BOARD_LOCK_NAME = "the board's lock (LockFileEx)";
#else
inline constexpr const char* WHOLE_LOCK_NAME = "its lock of the whole file (flock)";
inline constexpr const char* BOARD_LOCK_NAME = "the board's lock (the mutex in the file)";
#endif

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.file == b.file;
}

// The identity of the file at path, following links; not known when there is
// none.
FileIdentity IdentityOf(const std::string& path);

// An open state file: its descriptor or handle, and once mapped, its bytes.
class StateFile {
public:
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;
    ~StateFile();

    // Opens the file at path for reading and writing, refusing a symbolic
    // link, anything but a regular file and a file of another user (who then
    // is in owner).
    static OpenOutcome Open(const std::string& path, std::unique_ptr<StateFile>& file, std::string& owner,
                            std::string& error);

    uint64_t Size() const { return size_; }
    FileIdentity Identity() const;
    bool ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t& got, std::string& error);
    bool Map(size_t size, std::string& error);
    uint8_t* Bytes() { return bytes_; }

    // The lock of the whole file, held while the file is checked or its lock
    // area set up. Gives up at the deadline.
    LockOutcome LockWhole(Deadline deadline, std::string& error);
    void UnlockWhole();

    // The lock of each operation on the board (the file must be mapped). It
    // lives in the lock area of the file where the platform allows, so taking
    // it needs no system call when no other process holds it; the owner's
    // death releases it. Gives up at the deadline.
    void SetUpBoardLock();
    // Counts this process among those that use the file, until it is closed.
    void JoinUsers();
    // Whether the board's lock can be set up without disturbing anyone: no
    // other process uses the file (asked under the lock of the whole file).
    bool MaySetUpBoardLock();
    LockOutcome LockBoard(Deadline deadline, std::string& error);
    void UnlockBoard();

private:
    StateFile() = default;

    std::intptr_t handle_ = -1;
    [[maybe_unused]] std::intptr_t mapping_ = 0;  // Windows: the file mapping object
    uint64_t size_ = 0;
    uint8_t* bytes_ = nullptr;
    size_t mappedSize_ = 0;
};

// A file that lines are appended to, each with one write: the trace.
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile();

    // Opens path for appending, creating it if need be. Refuses anything but a
    // regular file (a FIFO, a device, a folder), without waiting for a reader,
    // and the file at avoidPath (the board state file), which it then leaves as
    // it was. On failure: false with what is wrong in error.
    bool Open(const std::string& path, const std::string& avoidPath, std::string& error);
    bool IsOpen() const;
    // Appends the line; false with the reason in error when not all of it was
    // written.
    bool Append(std::string_view line, std::string& error);

private:
    std::intptr_t handle_ = -1;
};

}  // namespace marlek_sim::os

#endif  // MARLEK_SIM_STATE_OS_H
