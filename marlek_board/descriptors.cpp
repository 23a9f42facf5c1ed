#include "descriptors.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace marlek_board {

int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

int OpenDescriptor(const char* path, int flags, unsigned mode) {
    int fd = -1;
    do {
        fd = open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return AboveStandardStreams(fd);
}

DIR* OpenFolder(const char* path) {
    const int fd = OpenDescriptor(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return nullptr;
    DIR* folder = fdopendir(fd);
    if (folder == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return folder;
}

int IoctlRetrying(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

void CloseDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace marlek_board
