// The state file on POSIX systems (Linux).
//
// The file is opened with O_NOFOLLOW and mapped shared; the lock of each
// operation is a robust process-shared mutex in the file's lock area, so an
// uncontended operation makes no system call, and the kernel marks the mutex
// when its owner dies. flock guards opening and setting up the lock. No wait
// for either lock goes past its deadline.
#include "state_os.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "descriptors.h"
#include "state_format.h"

namespace marlek_sim::os {

namespace {

constexpr char SEPARATOR = '/';
constexpr const char* RUNTIME_VARIABLE = "XDG_RUNTIME_DIR";
constexpr const char* TEMPORARY_VARIABLE = "TMPDIR";
// Why TMPDIR matters to the board, for a text that blames it.
constexpr const char* TEMPORARY_ROLE = " (the board's folder is made there when XDG_RUNTIME_DIR names none)";

std::string Failure(const char* what, const std::string& path) {
    return std::string(what) + path + ": " + std::strerror(errno);
}

// A descriptor that came out as one of the standard streams (one of them was
// closed) moves above them, close-on-exec as every descriptor here is.
using marlek_board::AboveStandardStreams;

int OpenFile(const char* path, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return AboveStandardStreams(fd);
}

int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sleeps a little less than the time left, a little longer each round: a lock
// held for a moment is taken soon, one held for long costs few wake-ups.
bool PauseBefore(Deadline deadline, int64_t& pause) {
    const int64_t left = deadline.milliseconds - MonotonicMilliseconds();
    if (left <= 0) return false;
    const int64_t step = std::min(pause, left);
    timespec nap{static_cast<time_t>(step / 1000), static_cast<long>(step % 1000) * 1000000};
    nanosleep(&nap, nullptr);
    pause = std::min<int64_t>(pause * 2, 50);
    return true;
}

FileIdentity IdentityOfStat(const struct stat& facts) {
    return FileIdentity{static_cast<uint64_t>(facts.st_dev), static_cast<uint64_t>(facts.st_ino), true};
}

pthread_mutex_t* BoardMutex(uint8_t* bytes) {
    static_assert(sizeof(pthread_mutex_t) <= STATE_LOCK_SIZE);
    return reinterpret_cast<pthread_mutex_t*>(bytes + STATE_LOCK_OFFSET);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
}

// Writes the image to a new private file beside path; its name in temporary.
bool WriteNewFile(const std::string& path, std::span<const uint8_t> image, std::string& temporary,
                  std::string& error) {
    std::string name = path + ".XXXXXX";
    const int fd = AboveStandardStreams(mkostemp(name.data(), O_CLOEXEC));
    if (fd < 0) {
        error = Failure("cannot create a file beside ", path);
        return false;
    }
    const bool ok = WriteAll(fd, image);
    if (!ok) error = Failure("cannot write ", name);
    close(fd);
    if (!ok) unlink(name.c_str());
    temporary = name;
    return ok;
}

}  // namespace

uint32_t BoardLockKind() {
    return 0x50000000u | static_cast<uint32_t>(sizeof(pthread_mutex_t) << 8) | static_cast<uint32_t>(sizeof(void*));
}

Deadline DeadlineAfter(int64_t milliseconds) { return Deadline{MonotonicMilliseconds() + milliseconds}; }

FileIdentity IdentityOf(const std::string& path) {
    struct stat facts {};
    return stat(path.c_str(), &facts) == 0 ? IdentityOfStat(facts) : FileIdentity{};
}

std::string BootMark() {
    std::string mark;
    const int fd = OpenFile("/proc/sys/kernel/random/boot_id", O_RDONLY);
    if (fd >= 0) {
        char text[64] = {};
        const ssize_t got = read(fd, text, sizeof text - 1);
        if (got > 0) mark.assign(text, strcspn(text, "\n"));
        close(fd);
    }
    return mark;
}

namespace {

// What keeps path from being a folder that can be used; empty when it is one.
std::string FolderTrouble(const char* path) {
    struct stat facts {};
    if (stat(path, &facts) == 0) return S_ISDIR(facts.st_mode) ? "" : "it is not a folder";
    const int code = errno;
    return code == ENOTDIR ? "it is not a folder" : code == ENOENT ? "there is no such folder" : std::strerror(code);
}

}  // namespace

bool DefaultStateFolder(std::string& folder, std::string& problem, FolderProblem& kind) {
    kind = FolderProblem::SystemError;
    // A variable that names the folder and cannot be used is blamed by name.
    const auto blame = [&](const char* variable, const char* value, const std::string& what) {
        problem = SettingProblem(variable, value, what);
        kind = FolderProblem::BadSetting;
        return false;
    };
    const char* runtime = std::getenv(RUNTIME_VARIABLE);
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string trouble = FolderTrouble(runtime);
        if (!trouble.empty()) return blame(RUNTIME_VARIABLE, runtime, trouble);
        folder = runtime;
        return true;
    }
    const char* temporary = std::getenv(TEMPORARY_VARIABLE);
    const bool temporarySet = temporary != nullptr && temporary[0] != '\0';
    if (temporarySet) {
        const std::string trouble = temporary[0] != '/' ? "it is not an absolute path" : FolderTrouble(temporary);
        if (!trouble.empty()) return blame(TEMPORARY_VARIABLE, temporary, trouble + TEMPORARY_ROLE);
    }
    folder = JoinPath(temporarySet ? temporary : "/tmp", ("marlek-sim-" + std::to_string(geteuid())).c_str());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (temporarySet) {
            const int code = errno;
            return blame(TEMPORARY_VARIABLE, temporary,
                         "cannot create the folder " + folder + " in it: " + std::strerror(code) + TEMPORARY_ROLE);
        }
        problem = Failure("cannot create the folder ", folder);
        return false;
    }
    struct stat facts {};
    if (lstat(folder.c_str(), &facts) != 0) {
        problem = Failure("cannot examine the folder ", folder);
        return false;
    }
    kind = FolderProblem::Unfit;
    if (!S_ISDIR(facts.st_mode)) {
        problem = folder + " is not a folder";
    } else if (facts.st_uid != geteuid()) {
        problem = "the folder " + folder + " belongs to user " + std::to_string(facts.st_uid);
    } else if ((facts.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(facts.st_mode & 07777));
        problem = "the folder " + folder + " is open to other users (mode " + mode + ")";
    } else {
        return true;
    }
    return false;
}

bool CreateExclusive(const std::string& path, std::span<const uint8_t> image, bool& exists, std::string& error) {
    exists = false;
    std::string temporary;
    if (!WriteNewFile(path, image, temporary, error)) return false;
    // link, unlike rename, fails when path exists: the first creator wins.
    const bool linked = link(temporary.c_str(), path.c_str()) == 0;
    if (!linked) {
        exists = errno == EEXIST;
        if (!exists) error = Failure("cannot create ", path);
    }
    unlink(temporary.c_str());
    return linked || exists;
}

bool ReplaceAtomically(const std::string& path, std::span<const uint8_t> image, const FileIdentity& expected,
                       bool& changed, std::string& error) {
    changed = false;
    std::string temporary;
    if (!WriteNewFile(path, image, temporary, error)) return false;
    auto identity = [](const std::string& name) {
        struct stat facts {};
        return lstat(name.c_str(), &facts) == 0 ? IdentityOfStat(facts) : FileIdentity{};
    };
    // Exchanged, the file that was at path is at the temporary name, where it
    // is checked; one that is not the file expected goes back. Where the file
    // system cannot exchange, it is checked just before a rename.
    bool done = false;
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        changed = !SameFile(identity(temporary), expected);
        if (changed) renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
        done = true;
    } else if (errno == ENOENT) {
        // Nothing is there now: the new file goes there unless another comes first.
        const bool linked = link(temporary.c_str(), path.c_str()) == 0;
        changed = !linked && errno == EEXIST;
        done = linked || changed;
    } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        changed = !SameFile(identity(path), expected);
        done = changed || rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!done) error = Failure("cannot replace ", path);
    unlink(temporary.c_str());
    return done && !changed;
}

StateFile::~StateFile() {
    if (bytes_ != nullptr) munmap(bytes_, mappedSize_);
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

OpenOutcome StateFile::Open(const std::string& path, std::unique_ptr<StateFile>& file, std::string& owner,
                            std::string& error) {
    // Looked at before it is opened: a device named by mistake (a watchdog
    // starts when it is opened) is never opened. O_NONBLOCK: a FIFO put in
    // the file's place meanwhile must not hang the open.
    struct stat before {};
    if (lstat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode) && !S_ISLNK(before.st_mode)) {
        return OpenOutcome::NotRegularFile;
    }
    const int fd = OpenFile(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int code = errno;
        struct stat facts {};
        if (code == ENOENT) return OpenOutcome::Missing;
        if (code == ELOOP && lstat(path.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode))
            return OpenOutcome::SymbolicLink;
        if (code == EISDIR) return OpenOutcome::NotRegularFile;
        error = "cannot open " + path + ": " + std::strerror(code);
        return OpenOutcome::Failed;
    }
    file.reset(new StateFile);
    file->handle_ = fd;
    struct stat facts {};
    if (fstat(fd, &facts) != 0) {
        error = Failure("cannot examine ", path);
        file.reset();
        return OpenOutcome::Failed;
    }
    if (!S_ISREG(facts.st_mode)) {
        file.reset();
        return OpenOutcome::NotRegularFile;
    }
    if (facts.st_uid != geteuid()) {
        owner = "user " + std::to_string(facts.st_uid);
        file.reset();
        return OpenOutcome::OtherOwner;
    }
    file->size_ = static_cast<uint64_t>(facts.st_size);
    return OpenOutcome::Opened;
}

bool StateFile::ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t& got, std::string& error) {
    got = 0;
    while (got < buffer.size()) {
        const ssize_t read = pread(static_cast<int>(handle_), buffer.data() + got, buffer.size() - got,
                                   static_cast<off_t>(offset + got));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) {
            error = Failure("cannot read ", "the board state");
            return false;
        }
        if (read == 0) break;
        got += static_cast<size_t>(read);
    }
    return true;
}

bool StateFile::Map(size_t size, std::string& error) {
    void* bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(handle_), 0);
    if (bytes == MAP_FAILED) {
        error = Failure("cannot map ", "the board state");
        return false;
    }
    bytes_ = static_cast<uint8_t*>(bytes);
    mappedSize_ = size;
    return true;
}

FileIdentity StateFile::Identity() const {
    struct stat facts {};
    return fstat(static_cast<int>(handle_), &facts) == 0 ? IdentityOfStat(facts) : FileIdentity{};
}

LockOutcome StateFile::LockWhole(Deadline deadline, std::string& error) {
    // flock has no timeout of its own: try, and pause between tries.
    int64_t pause = 1;
    while (flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            error = Failure("cannot lock ", "the board state");
            return LockOutcome::Failed;
        }
        if (!PauseBefore(deadline, pause)) return LockOutcome::TimedOut;
    }
    return LockOutcome::Taken;
}

void StateFile::UnlockWhole() { flock(static_cast<int>(handle_), LOCK_UN); }

void StateFile::SetUpBoardLock() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    std::memset(bytes_ + STATE_LOCK_OFFSET, 0, STATE_LOCK_SIZE);
    pthread_mutex_init(BoardMutex(bytes_), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

namespace {

// Each process that uses the file holds a read lock (an open file
// description's, which dies with it) on this byte; a write lock is never
// taken, only asked whether it could be, to learn whether others use it.
struct flock UsersRange(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = STATE_LOCK_OFFSET;
    range.l_len = 1;
    return range;
}

}  // namespace

void StateFile::JoinUsers() {
    struct flock range = UsersRange(F_RDLCK);
    fcntl(static_cast<int>(handle_), F_OFD_SETLK, &range);
}

bool StateFile::MaySetUpBoardLock() {
    struct flock range = UsersRange(F_WRLCK);
    // A system that cannot tell leaves the lock as it is.
    return fcntl(static_cast<int>(handle_), F_OFD_GETLK, &range) == 0 && range.l_type == F_UNLCK;
}

LockOutcome StateFile::LockBoard(Deadline deadline, std::string& error) {
    pthread_mutex_t* mutex = BoardMutex(bytes_);
    int result = pthread_mutex_trylock(mutex);
    if (result == EBUSY) {
        const timespec until{static_cast<time_t>(deadline.milliseconds / 1000),
                             static_cast<long>(deadline.milliseconds % 1000) * 1000000};
        result = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &until);
    }
    switch (result) {
        case 0: return LockOutcome::Taken;
        case EOWNERDEAD:
            // Its owner died holding it, at worst halfway through writing a
            // slot, which then fails its check; the other slot is whole.
            pthread_mutex_consistent(mutex);
            return LockOutcome::TakenFromDeadOwner;
        case ETIMEDOUT: return LockOutcome::TimedOut;
        default: error = std::strerror(result); return LockOutcome::Failed;
    }
}

void StateFile::UnlockBoard() { pthread_mutex_unlock(BoardMutex(bytes_)); }

AppendFile::~AppendFile() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool AppendFile::IsOpen() const { return handle_ >= 0; }

bool AppendFile::Open(const std::string& path, const std::string& avoidPath, std::string& error) {
    // A device named by mistake is never opened; O_NONBLOCK: a FIFO put there
    // meanwhile fails at once instead of waiting for a reader.
    struct stat before {};
    if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
        error = "it is not a regular file";
        return false;
    }
    constexpr int FLAGS = O_WRONLY | O_APPEND | O_NONBLOCK;
    bool created = true;
    int fd = OpenFile(path.c_str(), FLAGS | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = OpenFile(path.c_str(), FLAGS);
    }
    if (fd < 0) {
        error = errno == ENXIO ? "it is not a regular file" : std::string("cannot open it to append: ") + std::strerror(errno);
        return false;
    }
    struct stat facts {};
    if (fstat(fd, &facts) != 0) {
        error = std::string("cannot examine it: ") + std::strerror(errno);
    } else if (!S_ISREG(facts.st_mode)) {
        error = "it is not a regular file";
    } else if (!avoidPath.empty() && SameFile(IdentityOfStat(facts), IdentityOf(avoidPath))) {
        // Compared after the open, so that a trace just made at the board's path is found too.
        error = "it is the board state file";
    } else {
        handle_ = fd;
        return true;
    }
    close(fd);
    if (created) unlink(path.c_str());
    return false;
}

bool AppendFile::Append(std::string_view line, std::string& error) {
    while (!line.empty()) {
        const ssize_t written = write(static_cast<int>(handle_), line.data(), line.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = std::string("cannot write to it: ") + (written < 0 ? std::strerror(errno) : "nothing written");
            return false;
        }
        line.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}


bool FolderOfMissing(const std::string& path) {
    const size_t end = path.find_last_of('/');
    if (end == std::string::npos) return false;  // the current folder
    const std::string folder = end == 0 ? path.substr(0, 1) : path.substr(0, end);
    struct stat facts {};
    return stat(folder.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode);
}

bool NamesFolder(const std::string& path) { return !path.empty() && path.back() == SEPARATOR; }

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty() || folder.back() == SEPARATOR) return folder + name;
    return folder + SEPARATOR + name;
}

}  // namespace marlek_sim::os
