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
#ifndef MARLEK_LINUX_SERIAL_PORT_H
#define MARLEK_LINUX_SERIAL_PORT_H

#include <cstdint>

#include <linux/serial.h>

#include "board_rules.h"
#include "problem.h"

namespace marlek_linux {

// The port's RS-485 settings, written back as they are read, which changes
// nothing but tells whether the driver can switch. where begins the problem's
// text: a tty that is not one, cannot be opened or whose driver has no RS-485
// mode (code 17, or 13 for permission).
// noMode, when given, says whether it failed for want of an RS-485 mode.
bool ReadRs485(const char* tty, const char* where, serial_rs485& settings, Problem& problem, bool* noMode = nullptr);

// Whether the driver takes RS-485 with these delays: switched to them for a
// moment and set back as it was. False with the problem when it does not.
bool TryRs485Delays(const char* tty, uint32_t delayBeforeSend, uint32_t delayAfterSend, const char* where,
                    Problem& problem);

// Switches the port for the mode, reads the settings back and checks that
// they took; a switch that does not take is set back as the port was, and
// the text says whether that worked.
bool SetRs485(const char* tty, marlek_board::SerialMode mode, uint32_t delayBeforeSend, uint32_t delayAfterSend,
              const char* where, Problem& problem);

// The settings as "RS-485 on, RTS high on send, delays 0 and 0 ms" or "RS-485 off".
void DescribeRs485(const serial_rs485& settings, char* out, size_t size);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_SERIAL_PORT_H
