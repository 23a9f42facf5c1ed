// A board library's own descriptors (POSIX): close-on-exec, and never 0, 1 or
// 2, so that a program run with a standard stream closed never writes into
// one of them.
#ifndef MARLEK_BOARD_DESCRIPTORS_H
#define MARLEK_BOARD_DESCRIPTORS_H

#include <dirent.h>

namespace marlek_board {

// open(2) with O_CLOEXEC added (mode for a file it makes); the descriptor is
// at 3 or above. -1 with errno set on failure.
int OpenDescriptor(const char* path, int flags, unsigned mode = 0);

// Moves a descriptor the kernel gave out to 3 or above, close-on-exec; the
// descriptor it returns, or -1 with errno set (the one given is then closed).
int AboveStandardStreams(int fd);

// opendir(3) on a descriptor that OpenDescriptor gives, so that the folder's
// descriptor too is close-on-exec and at 3 or above. nullptr with errno set.
DIR* OpenFolder(const char* path);

// ioctl(2), again when a signal interrupts it.
int IoctlRetrying(int fd, unsigned long request, void* argument);

// Closes a descriptor the library owns, if it is one, and forgets it.
void CloseDescriptor(int& fd);

}  // namespace marlek_board

#endif  // MARLEK_BOARD_DESCRIPTORS_H
