// Loaded with LD_PRELOAD into every wine process of the tier: the COM port's
// pseudo-terminal then keeps PARENB as a UART's driver does. A pty clears
// it whatever is asked, and over one wine cannot do what it does over a
// serial device: it decodes MARK and SPACE from PARENB with CMSPAR (so
// GetCommState reads back no parity at all), and glibc's tcsetattr reports
// a setting that changed nothing the kernel keeps as EINVAL (so SetCommState
// of the parity the port already runs fails with ERROR_INVALID_PARAMETER).
// The tier then meets the library's check of every setting as a Windows
// host does.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <string.h>
#include <termios.h>

typedef int (*get_function)(int, struct termios*);
typedef int (*set_function)(int, int, const struct termios*);

// The C library's own, found once.
static get_function real_get_function;
static set_function real_set_function;

__attribute__((constructor)) static void find_the_real_calls(void) {
  void* symbol = dlsym(RTLD_NEXT, "tcgetattr");
  memcpy(&real_get_function, &symbol, sizeof symbol);
  symbol = dlsym(RTLD_NEXT, "tcsetattr");
  memcpy(&real_set_function, &symbol, sizeof symbol);
}

int tcgetattr(int fd, struct termios* t) {
  const int result = real_get_function(fd, t);
  if (result == 0 && (t->c_cflag & CMSPAR) != 0) t->c_cflag |= PARENB;
  return result;
}

int tcsetattr(int fd, int actions, const struct termios* t) {
  const int result = real_set_function(fd, actions, t);
  struct termios now;
  if (result != 0 && errno == EINVAL && (t->c_cflag & (PARENB | CMSPAR)) == (PARENB | CMSPAR) &&
      real_get_function(fd, &now) == 0 && (now.c_cflag | PARENB) == t->c_cflag) {
    return 0;  // what the driver keeps is what was asked
  }
  return result;
}
