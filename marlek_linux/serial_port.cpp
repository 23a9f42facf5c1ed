#include "serial_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "descriptors.h"
#include "devices.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::IoctlRetrying;

namespace {

constexpr uint32_t RTS_BITS = SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND;

// Opens the tty once it is known to be one; a problem otherwise.
bool OpenPort(const char* tty, const char* where, int& fd, Problem& problem) {
    fd = -1;
    DeviceCheck check;
    if (!CheckDevice(tty, DeviceKind::Tty, check)) {
        if (check.error != 0) {
            errno = check.error;
        } else {
            return Fail(problem, ERROR_SERIAL_FAILED, "%s: %s is %s, not a tty; name the port's tty (/dev/ttyS1)",
                        where, tty, check.what);
        }
    } else {
        fd = OpenCheckedDevice(tty, check, O_RDONLY | O_NOCTTY | O_NONBLOCK);
        termios modes{};
        if (fd >= 0 && tcgetattr(fd, &modes) != 0) {
            CloseDescriptor(fd);
            return Fail(problem, ERROR_SERIAL_FAILED, "%s: %s is a tty device but no terminal answers on it (%s); "
                        "name a port that is there", where, tty, std::strerror(errno));
        }
        if (fd >= 0) return true;
    }
    if (errno == EACCES || errno == EPERM) {
        return Fail(problem, ERROR_PERMISSION,
                    "%s: cannot open %s: Permission denied; add the user to the group that owns it (ls -l %s; on "
                    "Debian, dialout), or run as root",
                    where, tty, tty);
    }
    return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot open %s: %s; correct the tty", where, tty,
                std::strerror(errno));
}

bool NoRs485Mode(const char* tty, const char* where, const char* call, int error, Problem& problem) {
    return Fail(problem, ERROR_SERIAL_FAILED,
                "%s: %s cannot switch to RS-485: its driver has no RS-485 mode (%s: %s); name a port whose driver "
                "has one, or leave the tty out and switch by mode lines alone",
                where, tty, call, std::strerror(error));
}

serial_rs485 Wanted(bool rs485, uint32_t delayBeforeSend, uint32_t delayAfterSend) {
    serial_rs485 wanted{};
    if (rs485) {
        wanted.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        wanted.delay_rts_before_send = delayBeforeSend;
        wanted.delay_rts_after_send = delayAfterSend;
    }
    return wanted;
}

bool Took(const serial_rs485& now, const serial_rs485& wanted) {
    const uint32_t checked = SER_RS485_ENABLED | ((wanted.flags & SER_RS485_ENABLED) != 0 ? RTS_BITS : 0u);
    return (now.flags & checked) == (wanted.flags & checked) &&
           ((wanted.flags & SER_RS485_ENABLED) == 0 ||
            (now.delay_rts_before_send == wanted.delay_rts_before_send &&
             now.delay_rts_after_send == wanted.delay_rts_after_send));
}

// Sets the port back to found after a switch that did not take; the text's
// end says whether it is.
const char* SetBack(int fd, const serial_rs485& found) {
    serial_rs485 copy = found;
    serial_rs485 now{};
    const bool back = IoctlRetrying(fd, TIOCSRS485, &copy) == 0 && IoctlRetrying(fd, TIOCGRS485, &now) == 0 &&
                      (now.flags & SER_RS485_ENABLED) == (found.flags & SER_RS485_ENABLED);
    return back ? "the port was set back as it was" : "the port could not be set back and stays as it reads now";
}

}  // namespace

bool ReadRs485(const char* tty, const char* where, serial_rs485& settings, Problem& problem, bool* noMode) {
    settings = serial_rs485{};
    bool ignored = false;
    bool& without = noMode != nullptr ? *noMode : ignored;
    without = false;
    int fd = -1;
    if (!OpenPort(tty, where, fd, problem)) return false;
    const bool read = IoctlRetrying(fd, TIOCGRS485, &settings) == 0;
    const int error = errno;
    CloseDescriptor(fd);
    if (read) return true;
    without = error == ENOTTY;
    if (error == ENOTTY) return NoRs485Mode(tty, where, "TIOCGRS485", error, problem);
    return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot read the RS-485 mode of %s: %s", where, tty,
                std::strerror(error));
}

bool SetRs485(const char* tty, marlek_board::SerialMode mode, uint32_t delayBeforeSend, uint32_t delayAfterSend,
              const char* where, Problem& problem) {
    const bool rs485 = mode == marlek_board::SerialMode::Rs485;
    const char* modeName = marlek_board::SerialModeName(mode);
    int fd = -1;
    if (!OpenPort(tty, where, fd, problem)) return false;
    serial_rs485 found{};
    if (IoctlRetrying(fd, TIOCGRS485, &found) != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        // A driver without an RS-485 mode is in RS-232 or RS-422 already.
        if (error == ENOTTY && !rs485) return true;
        if (error == ENOTTY) return NoRs485Mode(tty, where, "TIOCGRS485", error, problem);
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot read the RS-485 mode of %s: %s", where, tty,
                    std::strerror(error));
    }
    if (!rs485 && (found.flags & SER_RS485_ENABLED) == 0) {
        // Out of RS-485 already: nothing to switch, even on a driver that
        // could not switch at all.
        CloseDescriptor(fd);
        return true;
    }
    const serial_rs485 wanted = Wanted(rs485, delayBeforeSend, delayAfterSend);
    serial_rs485 settings = wanted;
    if (IoctlRetrying(fd, TIOCSRS485, &settings) != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        if (error == ENOTTY) {
            return Fail(problem, ERROR_SERIAL_FAILED,
                        "%s: %s cannot switch to %s: its driver has no RS-485 mode (TIOCSRS485: %s)", where, tty,
                        modeName, std::strerror(error));
        }
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: the driver of %s refused %s (TIOCSRS485: %s)", where, tty,
                    modeName, std::strerror(error));
    }
    serial_rs485 now{};
    if (IoctlRetrying(fd, TIOCGRS485, &now) != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: cannot read back the mode of %s: %s; it may be switched",
                    where, tty, std::strerror(error));
    }
    if (!Took(now, wanted)) {
        char described[128];
        DescribeRs485(now, described, sizeof described);
        const char* back = SetBack(fd, found);
        CloseDescriptor(fd);
        return Fail(problem, ERROR_SERIAL_FAILED, "%s: the driver of %s took %s but reads back %s; %s", where, tty,
                    modeName, described, back);
    }
    // Closed here, a port that left RS-485 mode starts afresh at its next
    // opening, with its transmitter on.
    CloseDescriptor(fd);
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
