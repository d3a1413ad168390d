// The emulated output queue (emulated_line.h). These definitions of write(),
// ioctl() and poll() stand in for the C library's for the whole process; every call
// on another descriptor goes straight through.
#define _GNU_SOURCE
#include "emulated_line.h"

#include <asm/termbits.h>
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef ssize_t (*write_function)(int, const void*, size_t);
typedef int (*ioctl_function)(int, unsigned long, void*);
typedef int (*poll_function)(struct pollfd*, nfds_t, int);

static write_function real_write;
static ioctl_function real_ioctl;
static poll_function real_poll;

// Written by the bench's main thread between exchanges, read by every thread.
static _Atomic dev_t line_device;
static _Atomic int spared_descriptor = -1;
static _Atomic int driver = EMULATED_DRIVER_APPLIES;
static _Atomic int gone;
// Set from the environment when loaded with LD_PRELOAD: the driver stands
// behind every terminal device, emulated or not.
static int driver_everywhere;

// The line, touched only by the thread that runs the library.
static int64_t line_free_ns;   // when the last character written ends
static int64_t character_ns = 1;
static _Atomic int hazards;

__attribute__((constructor)) static void find_the_real_calls(void) {
  void* symbol = dlsym(RTLD_NEXT, "write");
  memcpy(&real_write, &symbol, sizeof symbol);
  symbol = dlsym(RTLD_NEXT, "ioctl");
  memcpy(&real_ioctl, &symbol, sizeof symbol);
  symbol = dlsym(RTLD_NEXT, "poll");
  memcpy(&real_poll, &symbol, sizeof symbol);
  const char* named = getenv("EMULATED_LINE_DRIVER");
  if (named == NULL) return;
  driver_everywhere = 1;
  if (strcmp(named, "drops-mark-space") == 0) driver = EMULATED_DRIVER_DROPS_MARK_SPACE;
  if (strcmp(named, "refuses-mark-space") == 0) driver = EMULATED_DRIVER_REFUSES_MARK_SPACE;
}

static int64_t now_ns(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

static int on_the_line(int fd) {
  const dev_t device = atomic_load(&line_device);
  if (device == 0 || fd == atomic_load(&spared_descriptor)) return 0;
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == device;
}

// Start bit, 8 data bits, a parity bit unless the parity is NONE, the stop
// bits. A pseudo-terminal clears PARENB whatever is asked but keeps CMSPAR,
// which the backend sets for MARK and SPACE alike.
static int64_t character_time_ns(int fd) {
  struct termios2 tio;
  if (real_ioctl(fd, TCGETS2, &tio) != 0 || tio.c_ospeed == 0) return 1;
  const int64_t bits = 1 + 8 + ((tio.c_cflag & CMSPAR) != 0 ? 1 : 0) +
                       ((tio.c_cflag & CSTOPB) != 0 ? 2 : 1);
  return bits * 1000000000 / (int64_t)tio.c_ospeed;
}

// Bytes not yet started: those behind the character on the line now.
static int queued_characters(void) {
  const int64_t left = line_free_ns - now_ns();
  if (left <= 0) return 0;
  const int64_t characters = (left + character_ns - 1) / character_ns;
  return (int)(characters - 1);
}

void emulated_line_start(dev_t device, int spared) {
  line_free_ns = 0;
  atomic_store(&hazards, 0);
  atomic_store(&spared_descriptor, spared);
  atomic_store(&line_device, device);
}

void emulated_line_stop(void) {
  atomic_store(&line_device, 0);
  atomic_store(&gone, 0);
  atomic_store(&driver, EMULATED_DRIVER_APPLIES);
}

void emulated_line_driver(enum emulated_driver chosen) { atomic_store(&driver, chosen); }

int emulated_line_hazards(void) { return atomic_load(&hazards); }

void emulated_line_hang_up(void) { atomic_store(&gone, 1); }

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  int gone_here = 0;
  for (nfds_t i = 0; atomic_load(&gone) && i < count; ++i) {
    fds[i].revents = on_the_line(fds[i].fd) ? POLLHUP : 0;
    gone_here += fds[i].revents != 0;
  }
  return gone_here > 0 ? gone_here : real_poll(fds, count, timeout);
}

static int behind_the_driver(int fd) {
  if (!driver_everywhere) return on_the_line(fd);
  struct termios2 tio;
  return real_ioctl(fd, TCGETS2, &tio) == 0;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  const ssize_t taken = real_write(fd, bytes, count);
  if (taken > 0 && on_the_line(fd)) {
    character_ns = character_time_ns(fd);
    const int64_t now = now_ns();
    const int64_t first = line_free_ns > now ? line_free_ns : now;
    line_free_ns = first + taken * character_ns;
  }
  return taken;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  struct termios2 changed;
  const int setting = request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2;
  if (setting && (((const struct termios2*)argument)->c_cflag & CMSPAR) != 0 &&
      atomic_load(&driver) != EMULATED_DRIVER_APPLIES && behind_the_driver(fd)) {
    if (atomic_load(&driver) == EMULATED_DRIVER_REFUSES_MARK_SPACE) {
      errno = EINVAL;
      return -1;
    }
    changed = *(const struct termios2*)argument;
    changed.c_cflag &= ~(tcflag_t)CMSPAR;
    argument = &changed;
  }
  if (request == TIOCOUTQ && on_the_line(fd)) {
    *(int*)argument = queued_characters();
    return 0;
  }
  const int waits = request == TCSETSW2 || (request == TCSBRK && argument == (void*)1);
  if (((setting && !waits && line_free_ns > now_ns()) || (waits && queued_characters() > 0)) &&
      on_the_line(fd)) {
    atomic_fetch_add(&hazards, 1);
  }
  // The forms that wait for the output (a setting applied with TCSETSW2,
  // tcdrain) return once the last character has left the line.
  if (waits && on_the_line(fd)) {
    const int64_t left = line_free_ns - now_ns();
    if (left > 0) {
      const struct timespec pause = {left / 1000000000, left % 1000000000};
      nanosleep(&pause, NULL);
    }
  }
  if (request == TIOCGSERIAL && on_the_line(fd)) {
    struct serial_struct* serial = argument;
    memset(serial, 0, sizeof *serial);
    serial->type = PORT_8250;  // no FIFO: one byte in the transmitter at a time
    serial->xmit_fifo_size = 1;
    serial->baud_base = 115200;
    return 0;
  }
  return real_ioctl(fd, request, argument);
}
