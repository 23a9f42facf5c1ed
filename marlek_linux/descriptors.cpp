#include "descriptors.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace marlek_linux {

int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

int OpenDescriptor(const char* path, int flags) {
    int fd = -1;
    do {
        fd = open(path, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return AboveStandardStreams(fd);
}

void CloseDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace marlek_linux
