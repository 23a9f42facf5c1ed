// The state file on Windows.
//
// Byte-range locks (LockFileEx) past the end of the file, one for the whole
// file and one for each operation; the system releases both when their owner
// dies. No wait for either lock goes past its deadline.
#include "state_os.h"

#include <algorithm>
#include <cstring>

#include "state_format.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace marlek_sim::os {

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

bool DefaultStateFolder(std::string& folder, std::string& problem, FolderProblem& kind) {
    kind = FolderProblem::SystemError;
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
        kind = FolderProblem::Unfit;
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

bool ReplaceAtomically(const std::string& path, std::span<const uint8_t> image, const FileIdentity& expected,
                       bool& changed, std::string& error) {
    const std::string temporary = TemporaryName(path);
    if (!WriteNewFile(temporary, path, image, error)) return false;
    // Checked just before the move: a link is looked at itself.
    const HANDLE there = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    changed = there == INVALID_HANDLE_VALUE || !SameFile(IdentityOfHandle(there), expected);
    if (there != INVALID_HANDLE_VALUE) CloseHandle(there);
    if (changed) {
        DeleteFileA(temporary.c_str());
        return false;
    }
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

// The board's lock lies outside the file: setting up writes only the mark.
void StateFile::SetUpBoardLock() {}

void StateFile::JoinUsers() {}

bool StateFile::MaySetUpBoardLock() { return true; }

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


bool FolderOfMissing(const std::string& path) {
    const size_t end = path.find_last_of("\\/");
    if (end == std::string::npos) return false;  // the current folder
    const std::string folder = end == 0 ? path.substr(0, 1) : path.substr(0, end);
    return !IsFolder(folder);
}

bool NamesFolder(const std::string& path) { return !path.empty() && (path.back() == SEPARATOR || path.back() == '/'); }

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty() || folder.back() == SEPARATOR || folder.back() == '/') return folder + name;
    return folder + SEPARATOR + name;
}

}  // namespace marlek_sim::os
