// A serial line's output queue, emulated on a pseudo-terminal.
//
// A pseudo-terminal takes every byte at once and always reports an empty
// output queue, so the termios backend's waits for the queue never wait.
// While an emulation is started, the definitions of write(), ioctl() and poll() in
// emulated_line.c, linked into a test or bench program (where the shared
// object's calls reach them before the C library's),
// make the given device behave as a UART without a FIFO: each byte written
// takes its character time at the baud, parity and stop bits in force,
// TIOCOUTQ reports the bytes that have not started on the line yet, and
// TIOCGSERIAL a transmit FIFO of one byte, and a setting applied with
// TCSETSW2 or a tcdrain waits until the last character has left the line.
// The bytes still reach the other side at once; only the output queue is
// emulated.
#pragma once

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// Emulates the line on character device `device` for every descriptor of it
// but `spared` (the terminal's own).
void emulated_line_start(dev_t device, int spared);
void emulated_line_stop(void);

// The serial driver behind the emulated line, for settings with CMSPAR
// (MARK and SPACE parity): one that applies them, one that accepts them and
// clears CMSPAR on its way (the line then runs odd or even parity, as a
// USB-serial driver without mark/space support does), one that refuses
// them with EINVAL. Loaded with LD_PRELOAD (the tarvex_driver_standin
// module), the variable EMULATED_LINE_DRIVER=drops-mark-space or
// refuses-mark-space puts every terminal device of the process behind
// such a driver.
enum emulated_driver { EMULATED_DRIVER_APPLIES, EMULATED_DRIVER_DROPS_MARK_SPACE,
                       EMULATED_DRIVER_REFUSES_MARK_SPACE };
void emulated_line_driver(enum emulated_driver driver);

// Since the start: settings applied while a character was still on the line
// (it would leave under the new one), and waits without a time limit for the
// output (TCSETSW2, tcdrain) entered while characters were still queued (a
// port whose flow control holds them would never return).
int emulated_line_hazards(void);

// The device goes as some drivers report it: poll() answers POLLHUP alone,
// with no POLLIN that a read could find the end of the file by.
void emulated_line_hang_up(void);

#ifdef __cplusplus
}
#endif
