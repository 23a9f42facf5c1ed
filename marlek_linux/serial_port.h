// The kernel's RS-485 mode of a serial port (TIOCSRS485): in RS-485 the
// port's driver turns the transmitter on only while it sends, with RTS high
// while sending; RS-232 and RS-422 (full duplex, no direction to switch) turn
// the mode off.
//
// The library owns the port's whole RS-485 setting: RS-485 writes exactly
// SER_RS485_ENABLED and SER_RS485_RTS_ON_SEND with the description's delays,
// and RS-232 or RS-422 writes the mode off with nothing else set, so that a
// switch leaves the port the same whatever was set before it. Bits another
// owner set (SER_RS485_RX_DURING_TX, SER_RS485_TERMINATE_BUS, a driver's
// default) are cleared in both directions; Linux itself clears every setting
// of a port whose RS-485 mode goes off.
//
// A tty is opened only once it is known to be a terminal device (a character
// device of the tty subsystem), read-only, which is all the switch needs,
// without waiting for a carrier and without becoming the controlling terminal.
// Opening a tty raises its DTR and RTS (Linux does so at every opening), so a
// port is opened only when it is named: by the description, for a switch or
// a check, or by the operator for a look at it.
#ifndef MARLEK_LINUX_SERIAL_PORT_H
#define MARLEK_LINUX_SERIAL_PORT_H

#include <cstdint>

#include <linux/serial.h>

#include "board_rules.h"
#include "problem.h"

namespace marlek_linux {

// The longest RTS delay that Linux takes (since 6.0; a longer one is cut to
// it): a description's longer delays are told from this, not by trying them.
inline constexpr uint32_t KERNEL_MAX_RS485_DELAY_MS = 100;

// The port's RS-485 settings as the kernel reads them (TIOCGRS485); nothing is
// written, since writing a setting back, even the one just read, changes a
// port (Linux 6.1 clears RTS_ON_SEND of a port out of RS-485 mode that way).
// A read cannot tell whether the driver can switch: Linux answers it for every
// serial port, RS-485 off where the driver has no RS-485 mode; only a tty
// that answers no read at all is known to have none. where begins the
// problem's text: a tty that is not one, cannot be opened or answers no read
// (code 17, or 13 for permission).
// noMode, when given, says whether it failed for want of an RS-485 mode.
bool ReadRs485(const char* tty, const char* where, serial_rs485& settings, Problem& problem, bool* noMode = nullptr);

// Switches the port for the mode, reads the settings back and checks that
// they took; a switch that does not take is set back as the port was, and
// the text says whether that worked.
bool SetRs485(const char* tty, marlek_board::SerialMode mode, uint32_t delayBeforeSend, uint32_t delayAfterSend,
              const char* where, Problem& problem);

// The settings as "RS-485 on, RTS high on send, delays 0 and 0 ms" or "RS-485 off".
void DescribeRs485(const serial_rs485& settings, char* out, size_t size);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_SERIAL_PORT_H
