// A serial line's output queue, emulated on a pseudo-terminal.
//
// A pseudo-terminal takes every byte at once and always reports an empty
// output queue, so the termios backend's waits for the queue never wait.
// While an emulation is started, the definitions of write() and ioctl() in
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

#ifdef __cplusplus
}
#endif
