#include "serial_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "descriptors.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::IoctlRetrying;
using marlek_board::OpenDescriptor;

namespace {

int OpenPort(const char* tty) {
    // Not waiting for a carrier, and not taking the port as a controlling
    // terminal.
    return OpenDescriptor(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
}

bool OpenProblem(const char* tty, const char* where, Problem& problem) {
    if (errno == EACCES || errno == EPERM) {
        return Fail(problem, ERROR_PERMISSION,
                    "%s: cannot open %s: Permission denied; add the user to the group that owns it (ls -l %s; on "
                    "Debian, dialout), or run as root",
                    where, tty, tty);
    }
    return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot open %s: %s; correct the tty", where, tty,
                std::strerror(errno));
}

}  // namespace

bool ReadRs485(const char* tty, serial_rs485& settings) {
    settings = serial_rs485{};
    const int fd = OpenPort(tty);
    if (fd < 0) return false;
    bool ok = IoctlRetrying(fd, TIOCGRS485, &settings) == 0;
    serial_rs485 same = settings;  // written back as read: a driver without an RS-485 mode refuses it
    ok = ok && IoctlRetrying(fd, TIOCSRS485, &same) == 0;
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

bool SetRs485(const char* tty, marlek_board::SerialMode mode, uint32_t delayBeforeSend, uint32_t delayAfterSend,
              const char* where, Problem& problem) {
    const bool rs485 = mode == marlek_board::SerialMode::Rs485;
    int fd = OpenPort(tty);
    if (fd < 0) return OpenProblem(tty, where, problem);
    serial_rs485 settings{};
    if (IoctlRetrying(fd, TIOCGRS485, &settings) != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        // A driver without an RS-485 mode is in RS-232 or RS-422 already.
        if (error == ENOTTY && !rs485) return true;
        if (error == ENOTTY) {
            return Fail(problem, ERROR_SERIAL_FAILED,
                        "%s: %s cannot switch to RS-485: its driver has no RS-485 mode (TIOCGRS485: %s); name a port "
                        "whose driver has one, or leave the tty out and switch by mode lines alone",
                        where, tty, std::strerror(error));
        }
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot read the RS-485 mode of %s: %s", where, tty,
                    std::strerror(error));
    }
    if (rs485) {
        settings.flags = (settings.flags & ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND)) | SER_RS485_ENABLED |
                         SER_RS485_RTS_ON_SEND;
        settings.delay_rts_before_send = delayBeforeSend;
        settings.delay_rts_after_send = delayAfterSend;
    } else if ((settings.flags & SER_RS485_ENABLED) == 0) {
        // Out of RS-485 already: nothing to switch, even on a driver that
        // could not switch at all.
        CloseDescriptor(fd);
        return true;
    } else {
        settings.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
    }
    const serial_rs485 wanted = settings;
    if (IoctlRetrying(fd, TIOCSRS485, &settings) != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        if (error == ENOTTY) {
            return Fail(problem, ERROR_SERIAL_FAILED,
                        "%s: %s cannot switch to %s: its driver has no RS-485 mode (TIOCSRS485: %s)", where, tty,
                        marlek_board::SerialModeName(mode), std::strerror(error));
        }
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: the driver of %s refused %s (TIOCSRS485: %s)", where, tty,
                    marlek_board::SerialModeName(mode), std::strerror(error));
    }
    serial_rs485 now{};
    const bool read = IoctlRetrying(fd, TIOCGRS485, &now) == 0;
    const int error = errno;
    // Closed here, a port that left RS-485 mode starts afresh at its next
    // opening, with its transmitter on.
    CloseDescriptor(fd);
    if (!read) {
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot read back the mode of %s: %s", where, tty,
                    std::strerror(error));
    }
    const uint32_t checked = SER_RS485_ENABLED | (rs485 ? SER_RS485_RTS_ON_SEND : 0u);
    const bool took = (now.flags & checked) == (wanted.flags & checked) &&
                      (!rs485 || (now.delay_rts_before_send == wanted.delay_rts_before_send &&
                                  now.delay_rts_after_send == wanted.delay_rts_after_send));
    if (!took) {
        char described[128];
        DescribeRs485(now, described, sizeof described);
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: the driver of %s took %s but reads back %s", where, tty,
                    marlek_board::SerialModeName(mode), described);
    }
    return true;
}

void DescribeRs485(const serial_rs485& settings, char* out, size_t size) {
    if ((settings.flags & SER_RS485_ENABLED) == 0) {
        std::snprintf(out, size, "RS-485 off");
        return;
    }
    std::snprintf(out, size, "RS-485 on, RTS %s, delays %u and %u ms",
                  (settings.flags & SER_RS485_RTS_ON_SEND) != 0 ? "high on send" : "low on send",
                  settings.delay_rts_before_send, settings.delay_rts_after_send);
}

}  // namespace marlek_linux
