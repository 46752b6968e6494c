// SPDX-License-Identifier: BSD-3-Clause
// Rates without a B constant, through the kernel's termios2 (Linux).
#include <cerrno>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

bool SetOtherBaud(int fd, int baud) {
#if defined(__linux__) && defined(TCGETS2) && defined(BOTHER)
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  t.c_cflag |= BOTHER;
  t.c_ispeed = static_cast<speed_t>(baud);
  t.c_ospeed = static_cast<speed_t>(baud);
  if (::ioctl(fd, TCSETS2, &t) != 0) return false;
  struct termios2 got {};
  if (::ioctl(fd, TCGETS2, &got) != 0) return false;
  if (got.c_ispeed != static_cast<speed_t>(baud)) {
    errno = EINVAL;
    return false;
  }
  return true;
#else
  (void)fd;
  (void)baud;
  errno = ENOTSUP;
  return false;
#endif
}
