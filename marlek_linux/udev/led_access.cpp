#include "led_access.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "descriptors.h"

namespace marlek_linux {

namespace {

constexpr const char DEVICES[] = "/devices/";
constexpr const char* SYSFS = "/sys";
constexpr const char* GROUP_FILE = "/etc/group";
constexpr const char* LED_SUBSYSTEM = "/class/leds";  // the end of the target of an LED's link "subsystem"

// A descriptor of the helper's own, closed at the end of its scope. Each is
// at 3 or above, so that the message on standard error never goes into a
// file when udev (or a caller) left a standard stream closed.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(marlek_board::AboveStandardStreams(fd)) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { marlek_board::CloseDescriptor(fd_); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

private:
    int fd_;
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool Fail(char (&problem)[PROBLEM_SIZE], const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(problem, sizeof problem, format, args);
    va_end(args);
    return false;
}

bool OnSysfs(int fd) {
    struct statfs system {};
    return fstatfs(fd, &system) == 0 && system.f_type == static_cast<decltype(system.f_type)>(SYSFS_MAGIC);
}

// The device's folder, /sys and then devpath one part at a time, each a
// folder and none a link: a name cannot lead anywhere else. -1 with errno set
// when it cannot be opened (ENOENT: the device is gone; ENODEV: /sys is not
// sysfs).
int OpenDeviceFolder(const char* devpath) {
    Descriptor sys(open(SYSFS, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sys.Valid()) return -1;
    if (!OnSysfs(sys.Get())) {
        errno = ENODEV;
        return -1;
    }
    int folder = fcntl(sys.Get(), F_DUPFD_CLOEXEC, 3);
    const char* at = devpath + 1;
    while (folder >= 0 && *at != '\0') {
        const char* end = std::strchr(at, '/');
        const size_t length = end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at);
        char part[NAME_MAX + 1];
        std::memcpy(part, at, length);  // DeviceName checked that each part fits
        part[length] = '\0';
        const int next = openat(folder, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        close(folder);
        errno = error;
        folder = marlek_board::AboveStandardStreams(next);
        at += length + (end != nullptr ? 1 : 0);
    }
    return folder;
}

// Whether the folder is an LED class device's: its link "subsystem" leads to
// the class leds.
bool IsLedClassDevice(int folder) {
    char target[PATH_TEXT_SIZE];
    const ssize_t length = readlinkat(folder, "subsystem", target, sizeof target - 1);
    const size_t tail = std::strlen(LED_SUBSYSTEM);
    if (length < static_cast<ssize_t>(tail)) return false;
    target[length] = '\0';
    return std::strcmp(target + static_cast<size_t>(length) - tail, LED_SUBSYSTEM) == 0;
}

// The group's number, from the group file itself: a system group is there,
// and a look through NSS might wait on a directory service.
bool LedGroup(gid_t& gid) {
    std::FILE* file = std::fopen(GROUP_FILE, "re");
    if (file == nullptr) return false;
    bool found = false;
    while (const group* entry = fgetgrent(file)) {
        if (std::strcmp(entry->gr_name, LED_GROUP) == 0) {
            gid = entry->gr_gid;
            found = true;
            break;
        }
    }
    std::fclose(file);
    return found;
}

// The folder of the records, which only root may change; made when make is
// true and it is missing. -1 with errno set when there is none (ENOENT) or it
// is not root's alone (EPERM).
int RecordFolder(bool make) {
    if (make) {
        for (const char* folder : {"/run/marlek-board-linux", RECORD_FOLDER}) {
            if (mkdir(folder, 0755) != 0 && errno != EEXIST) return -1;
        }
    }
    Descriptor folder(open(RECORD_FOLDER, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!folder.Valid() || fstat(folder.Get(), &status) != 0) return -1;
    if (status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EPERM;
        return -1;
    }
    return fcntl(folder.Get(), F_DUPFD_CLOEXEC, 3);
}

// Records that the LED name, whose folder is target, was given the group.
bool Record(const char* name, const char* target) {
    Descriptor folder(RecordFolder(true));
    if (!folder.Valid()) return false;
    if (unlinkat(folder.Get(), name, 0) != 0 && errno != ENOENT) return false;
    return symlinkat(target, folder.Get(), name) == 0;
}

// Whether the LED name, whose folder is target, is the one recorded as given.
bool Recorded(const char* name, const char* target) {
    Descriptor folder(RecordFolder(false));
    if (!folder.Valid()) return false;
    char recorded[PATH_TEXT_SIZE];
    const ssize_t length = readlinkat(folder.Get(), name, recorded, sizeof recorded - 1);
    if (length < 0) return false;
    recorded[length] = '\0';
    return std::strcmp(recorded, target) == 0;
}

// Drops the record of an LED of this name: given back, or one that was removed since.
void Forget(const char* name) {
    Descriptor folder(RecordFolder(false));
    if (folder.Valid()) unlinkat(folder.Get(), name, 0);
}

enum class Naming : uint8_t { This, Other, Unreadable };

// Whether the description names the LED. No description at all names none.
Naming DescriptionNames(const char* path, const char* name, char (&problem)[PROBLEM_SIZE]) {
    struct stat status {};
    if (stat(path, &status) != 0 && errno == ENOENT) return Naming::Other;
    static Description description;
    if (!LoadDescription(path, PathOrigin::Default, description, problem)) return Naming::Unreadable;
    const bool named = description.led.kind == LedKind::Class && std::strcmp(description.led.className, name) == 0;
    return named ? Naming::This : Naming::Other;
}

}  // namespace

const char* DeviceName(const char* devpath) {
    constexpr size_t prefix = sizeof DEVICES - 1;
    if (std::strncmp(devpath, DEVICES, prefix) != 0 || std::strlen(devpath) >= PATH_TEXT_SIZE - 16) return nullptr;
    const char* part = devpath + 1;
    for (;;) {
        const char* end = std::strchr(part, '/');
        const size_t length = end != nullptr ? static_cast<size_t>(end - part) : std::strlen(part);
        const bool dots = part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'));
        if (length == 0 || length > NAME_MAX || dots) return nullptr;
        if (end == nullptr) return part;
        part = end + 1;
    }
}

bool UpdateLedAccess(const char* devpath, const char* descriptionPath, char (&problem)[PROBLEM_SIZE]) {
    const char* name = DeviceName(devpath);
    if (name == nullptr) {
        return Fail(problem, "\"%.200s\" is not a device's path in sysfs (/devices/...): the helper takes the LED "
                    "from udev's DEVPATH; let udev run it (%s)", devpath, RETRIGGER);
    }
    char folderPath[PATH_TEXT_SIZE];
    std::snprintf(folderPath, sizeof folderPath, "%s%s", SYSFS, devpath);
    Descriptor folder(OpenDeviceFolder(devpath));
    if (!folder.Valid() && errno == ENOENT) return true;  // removed since udev had the event
    if (!folder.Valid()) {
        return Fail(problem, "cannot open %s one folder at a time: %s; sysfs must be mounted on %s", folderPath,
                    errno == ENODEV ? "not on sysfs" : std::strerror(errno), SYSFS);
    }
    if (!IsLedClassDevice(folder.Get())) {
        return Fail(problem, "%s is not an LED class device: the helper is for the LEDs alone (SUBSYSTEM==\"leds\" "
                    "in the rule)", folderPath);
    }
    Descriptor brightness(openat(folder.Get(), "brightness", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                                 O_CLOEXEC));
    struct stat status {};
    if (!brightness.Valid()) {
        return Fail(problem, "cannot open %s/brightness: %s; the LED's driver must give it one", folderPath,
                    std::strerror(errno));
    }
    if (fstat(brightness.Get(), &status) != 0 || !S_ISREG(status.st_mode) || !OnSysfs(brightness.Get())) {
        return Fail(problem, "%s/brightness is not an attribute in sysfs; left as it is", folderPath);
    }

    char unreadable[PROBLEM_SIZE] = "";
    const Naming naming = DescriptionNames(descriptionPath, name, unreadable);
    gid_t gid = 0;
    const bool haveGroup = LedGroup(gid);
    if (naming == Naming::This) {
        if (!haveGroup) {
            return Fail(problem, "%s has no group %s, to which the LED %s is to be given; make it (systemd-sysusers "
                        "marlek-board-linux.conf, or addgroup --system %s), then apply the rule again: %s",
                        GROUP_FILE, LED_GROUP, name, LED_GROUP, RETRIGGER);
        }
        // Recorded first: a record of an LED that did not get the group costs nothing.
        if (!Record(name, folderPath)) {
            return Fail(problem, "cannot record the LED %s in %s: %s; it is not given to the group %s until it can "
                        "be (%s)", name, RECORD_FOLDER, std::strerror(errno), LED_GROUP, RETRIGGER);
        }
        if (fchown(brightness.Get(), static_cast<uid_t>(-1), gid) != 0 ||
            fchmod(brightness.Get(), static_cast<mode_t>((status.st_mode & 0777) | S_IWGRP)) != 0) {
            return Fail(problem, "cannot give the group %s %s/brightness: %s", LED_GROUP, folderPath,
                        std::strerror(errno));
        }
        return true;
    }
    if (haveGroup && status.st_gid == gid && Recorded(name, folderPath)) {
        if (fchown(brightness.Get(), static_cast<uid_t>(-1), 0) != 0 ||
            fchmod(brightness.Get(), static_cast<mode_t>(status.st_mode & 0777u & ~static_cast<mode_t>(S_IWGRP))) != 0) {
            return Fail(problem, "cannot give %s/brightness back to root: %s", folderPath, std::strerror(errno));
        }
    }
    Forget(name);
    if (naming == Naming::Unreadable) {
        return Fail(problem, "%s; until it is corrected no LED is given to the group %s (then: %s)", unreadable,
                    LED_GROUP, RETRIGGER);
    }
    return true;
}

}  // namespace marlek_linux
