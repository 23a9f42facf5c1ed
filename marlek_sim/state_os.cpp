// The state file on each platform: POSIX (Linux) below the Windows branch.
//
// Linux: the file is opened with O_NOFOLLOW and mapped shared; the lock of
// each operation is a robust process-shared mutex in the file's lock area, so
// an uncontended operation makes no system call, and the kernel marks the mutex
// when its owner dies. flock guards opening and setting up the lock.
// Windows: byte-range locks (LockFileEx) past the end of the file, one for the
// whole file and one for each operation; the system releases both when their
// owner dies. No wait for any of these locks goes past its deadline.
#include "state_os.h"

#include <algorithm>
#include <cstring>

#include "state_format.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#endif

namespace marlek_sim::os {

#ifdef _WIN32

std::string SystemText(unsigned long code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

namespace {

constexpr char SEPARATOR = '\\';
constexpr DWORD WHOLE_LOCK_OFFSET = 0;  // both locks lie past 4 GiB, where no data is
constexpr DWORD BOARD_LOCK_OFFSET = 1;

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }


std::string Failure(const char* what, const std::string& path) {
    return std::string(what) + path + ": " + SystemText(GetLastError());
}

int64_t MonotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

// LockFileEx waits without a bound or not at all: try, and pause between
// tries, a little longer each round.
LockOutcome LockRange(HANDLE handle, DWORD offset, Deadline deadline, std::string& error) {
    DWORD pause = 1;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = offset;
        at.OffsetHigh = 1;
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return LockOutcome::Taken;
        const DWORD code = GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            error = "cannot lock the board state: " + SystemText(code);
            return LockOutcome::Failed;
        }
        const int64_t left = deadline.milliseconds - MonotonicMilliseconds();
        if (left <= 0) return LockOutcome::TimedOut;
        Sleep(static_cast<DWORD>(std::min<int64_t>(pause, left)));
        pause = std::min<DWORD>(pause * 2, 50);
    }
}

FileIdentity IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(handle, &facts)) return FileIdentity{};
    return FileIdentity{facts.dwVolumeSerialNumber,
                        static_cast<uint64_t>(facts.nFileIndexHigh) << 32 | facts.nFileIndexLow, true};
}

// The user this process runs as, and the owner it gives the files it makes
// (an administrator's files may belong to the Administrators group).
bool IsOwnSid(PSID owner) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool own = false;
    for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        alignas(void*) unsigned char buffer[512];
        DWORD length = 0;
        if (!GetTokenInformation(token, kind, buffer, sizeof buffer, &length)) continue;
        const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
        own = own || EqualSid(owner, sid);
    }
    CloseHandle(token);
    return own;
}

std::string AccountName(PSID sid) {
    char name[256];
    char domain[256];
    DWORD nameLength = sizeof name;
    DWORD domainLength = sizeof domain;
    SID_NAME_USE use{};
    if (LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return domainLength > 0 ? std::string(domain) + "\\" + name : std::string(name);
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "another user";
    std::string result = text;
    LocalFree(text);
    return result;
}

// Whether the open file belongs to another user, who is then named in owner.
bool HasOtherOwner(HANDLE handle, std::string& owner) {
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;  // a file system without owners (FAT) has no other user
    }
    const bool other = sid != nullptr && !IsOwnSid(sid);
    if (other) owner = AccountName(sid);
    LocalFree(descriptor);
    return other;
}

void UnlockRange(HANDLE handle, DWORD offset) {
    OVERLAPPED at{};
    at.Offset = offset;
    at.OffsetHigh = 1;
    UnlockFileEx(handle, 0, 1, 0, &at);
}

// Writes the image to the new file at path, beside target.
bool WriteNewFile(const std::string& path, const std::string& target, std::span<const uint8_t> image,
                  std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Failure("cannot create a file beside ", target);
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr) &&
                    written == image.size();
    if (!ok) error = Failure("cannot write ", path);
    CloseHandle(file);
    if (!ok) DeleteFileA(path.c_str());
    return ok;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A name beside path for the file being written before it takes path's place.
std::string TemporaryName(const std::string& path) {
    static unsigned counter = 0;
    return path + ".new-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

}  // namespace

uint32_t BoardLockKind() { return 0x57000000u | static_cast<uint32_t>(sizeof(void*)); }

Deadline DeadlineAfter(int64_t milliseconds) { return Deadline{MonotonicMilliseconds() + milliseconds}; }

FileIdentity IdentityOf(const std::string& path) {
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return FileIdentity{};
    const FileIdentity identity = IdentityOfHandle(handle);
    CloseHandle(handle);
    return identity;
}

std::string BootMark() { return "-"; }

bool DefaultStateFolder(std::string& folder, std::string& problem, bool& refused) {
    refused = false;
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) {
        problem = "cannot find the temporary folder: " + SystemText(GetLastError());
        return false;
    }
    folder = JoinPath(std::string(base, length), "marlek-sim");
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        problem = Failure("cannot create the folder ", folder);
        return false;
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        problem = folder + " is not a plain folder";
        refused = true;
        return false;
    }
    return true;
}

bool CreateExclusive(const std::string& path, std::span<const uint8_t> image, bool& exists, std::string& error) {
    exists = false;
    const std::string temporary = TemporaryName(path);
    if (!WriteNewFile(temporary, path, image, error)) return false;
    bool ok = MoveFileExA(temporary.c_str(), path.c_str(), 0) != 0;
    if (!ok) {
        exists = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
        if (!exists) error = Failure("cannot create ", path);
        DeleteFileA(temporary.c_str());
    }
    return ok || exists;
}

bool ReplaceAtomically(const std::string& path, std::span<const uint8_t> image, std::string& error) {
    const std::string temporary = TemporaryName(path);
    if (!WriteNewFile(temporary, path, image, error)) return false;
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = Failure("cannot replace ", path);
    DeleteFileA(temporary.c_str());
    return false;
}

StateFile::~StateFile() {
    if (bytes_ != nullptr) UnmapViewOfFile(bytes_);
    if (mapping_ != 0) CloseHandle(AsHandle(mapping_));
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
}

OpenOutcome StateFile::Open(const std::string& path, std::unique_ptr<StateFile>& file, std::string& owner,
                            std::string& error) {
    owner.clear();
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return OpenOutcome::Missing;
        if (IsFolder(path)) return OpenOutcome::NotRegularFile;
        error = "cannot open " + path + ": " + SystemText(code);
        return OpenOutcome::Failed;
    }
    file.reset(new StateFile);
    file->handle_ = reinterpret_cast<std::intptr_t>(handle);
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(handle, &facts)) {
        error = Failure("cannot examine ", path);
        file.reset();
        return OpenOutcome::Failed;
    }
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        file.reset();
        return OpenOutcome::SymbolicLink;
    }
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || GetFileType(handle) != FILE_TYPE_DISK) {
        file.reset();
        return OpenOutcome::NotRegularFile;
    }
    if (HasOtherOwner(handle, owner)) {
        file.reset();
        return OpenOutcome::OtherOwner;
    }
    file->size_ = static_cast<uint64_t>(facts.nFileSizeHigh) << 32 | facts.nFileSizeLow;
    return OpenOutcome::Opened;
}

bool StateFile::ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t& got, std::string& error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle_), buffer.data(), static_cast<DWORD>(buffer.size()), &read, &at) &&
        GetLastError() != ERROR_HANDLE_EOF) {
        error = "cannot read the board state: " + SystemText(GetLastError());
        return false;
    }
    got = read;
    return true;
}

bool StateFile::Map(size_t size, std::string& error) {
    const HANDLE mapping = CreateFileMappingA(AsHandle(handle_), nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping == nullptr) {
        error = "cannot map the board state: " + SystemText(GetLastError());
        return false;
    }
    mapping_ = reinterpret_cast<std::intptr_t>(mapping);
    bytes_ = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (bytes_ == nullptr) {
        error = "cannot map the board state: " + SystemText(GetLastError());
        return false;
    }
    mappedSize_ = size;
    return true;
}

FileIdentity StateFile::Identity() const { return IdentityOfHandle(AsHandle(handle_)); }

LockOutcome StateFile::LockWhole(Deadline deadline, std::string& error) {
    return LockRange(AsHandle(handle_), WHOLE_LOCK_OFFSET, deadline, error);
}

void StateFile::UnlockWhole() { UnlockRange(AsHandle(handle_), WHOLE_LOCK_OFFSET); }

void StateFile::SetUpBoardLock() {}

LockOutcome StateFile::LockBoard(Deadline deadline, std::string& error) {
    return LockRange(AsHandle(handle_), BOARD_LOCK_OFFSET, deadline, error);
}

void StateFile::UnlockBoard() { UnlockRange(AsHandle(handle_), BOARD_LOCK_OFFSET); }

AppendFile::~AppendFile() {
    if (IsOpen()) CloseHandle(AsHandle(handle_));
}

bool AppendFile::IsOpen() const { return AsHandle(handle_) != INVALID_HANDLE_VALUE; }

bool AppendFile::Open(const std::string& path, const std::string& avoidPath, std::string& error) {
    const HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot open it to append: " + SystemText(GetLastError());
        return false;
    }
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        error = "it is not a regular file";
    } else if (!avoidPath.empty() && SameFile(IdentityOfHandle(handle), IdentityOf(avoidPath))) {
        error = "it is the board state file";
    } else {
        handle_ = reinterpret_cast<std::intptr_t>(handle);
        return true;
    }
    CloseHandle(handle);
    if (created) DeleteFileA(path.c_str());
    return false;
}

bool AppendFile::Append(std::string_view line, std::string& error) {
    DWORD written = 0;
    if (WriteFile(AsHandle(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size())
        return true;
    error = "cannot write to it: " + SystemText(GetLastError());
    return false;
}

#else  // POSIX

namespace {

constexpr char SEPARATOR = '/';

std::string Failure(const char* what, const std::string& path) {
    return std::string(what) + path + ": " + std::strerror(errno);
}

// A descriptor that came out as one of the standard streams (one of them was
// closed) moves above them, close-on-exec as every descriptor here is.
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

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
    std::string mark = "unknown boot";
    const int fd = OpenFile("/proc/sys/kernel/random/boot_id", O_RDONLY);
    if (fd >= 0) {
        char text[64] = {};
        const ssize_t got = read(fd, text, sizeof text - 1);
        if (got > 0) mark.assign(text, strcspn(text, "\n"));
        close(fd);
    }
    return mark;
}

bool DefaultStateFolder(std::string& folder, std::string& problem, bool& refused) {
    refused = false;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = runtime;
        return true;
    }
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    folder = JoinPath(base, ("marlek-sim-" + std::to_string(geteuid())).c_str());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = Failure("cannot create the folder ", folder);
        return false;
    }
    struct stat facts {};
    if (lstat(folder.c_str(), &facts) != 0) {
        problem = Failure("cannot examine the folder ", folder);
        return false;
    }
    refused = true;
    if (!S_ISDIR(facts.st_mode)) {
        problem = folder + " is not a folder";
    } else if (facts.st_uid != geteuid()) {
        problem = "the folder " + folder + " belongs to user " + std::to_string(facts.st_uid);
    } else if ((facts.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(facts.st_mode & 07777));
        problem = "the folder " + folder + " is open to other users (mode " + mode + ")";
    } else {
        refused = false;
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

bool ReplaceAtomically(const std::string& path, std::span<const uint8_t> image, std::string& error) {
    std::string temporary;
    if (!WriteNewFile(path, image, temporary, error)) return false;
    if (rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = Failure("cannot replace ", path);
    unlink(temporary.c_str());
    return false;
}

StateFile::~StateFile() {
    if (bytes_ != nullptr) munmap(bytes_, mappedSize_);
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

OpenOutcome StateFile::Open(const std::string& path, std::unique_ptr<StateFile>& file, std::string& owner,
                            std::string& error) {
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
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
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
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

#endif  // _WIN32

bool FolderOfMissing(const std::string& path) {
    const size_t end = path.find_last_of(SEPARATOR == '/' ? "/" : "\\/");
    if (end == std::string::npos) return false;  // the current folder
    const std::string folder = end == 0 ? path.substr(0, 1) : path.substr(0, end);
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
    struct stat facts {};
    return stat(folder.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode);
#endif
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.file == b.file;
}

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty() || folder.back() == SEPARATOR || folder.back() == '/') return folder + name;
    return folder + SEPARATOR + name;
}

}  // namespace marlek_sim::os
