// The kernel's RS-485 mode of a serial port (TIOCSRS485): in RS-485 the
// port's driver turns the transmitter on only while it sends, with RTS high
// while sending; RS-232 and RS-422 (full duplex, no direction to switch) turn
// the mode off.
#ifndef MARLEK_LINUX_SERIAL_PORT_H
#define MARLEK_LINUX_SERIAL_PORT_H

#include <cstdint>

#include <linux/serial.h>

#include "board_rules.h"
#include "problem.h"

namespace marlek_linux {

// Reads the port's RS-485 settings and writes them back as they are, which
// changes nothing but tells whether the driver can switch: false with errno
// set when the port cannot be opened or its driver has no RS-485 mode (ENOTTY).
bool ReadRs485(const char* tty, serial_rs485& settings);

// Switches the port for the mode, reads the settings back and checks that
// they took. where begins the problem's text.
bool SetRs485(const char* tty, marlek_board::SerialMode mode, uint32_t delayBeforeSend, uint32_t delayAfterSend,
              const char* where, Problem& problem);

// The settings as "RS-485 on, RTS on send, delays 0 and 0 ms" or "RS-485 off".
void DescribeRs485(const serial_rs485& settings, char* out, size_t size);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_SERIAL_PORT_H
