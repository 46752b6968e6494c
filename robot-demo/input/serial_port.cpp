// SPDX-License-Identifier: BSD-3-Clause
#include "input/serial_port.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct Rate {
  int baud;
  speed_t code;
};

const Rate kRates[] = {
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    // Rates of common scanners that have no B constant: set through termios2.
    {128000, 0},
    {256000, 0},
};

const Rate* RateOf(int baud) {
  for (const Rate& r : kRates)
    if (r.baud == baud) return &r;
  return nullptr;
}

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Raw 8N1 at `code`, receiver on, modem lines ignored, no flow control;
// a read returns as soon as one byte is there.
void MakeRaw(termios& t, speed_t code) {
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, code);
  ::cfsetospeed(&t, code);
}

}  // namespace

bool StandardBaud(int baud) { return RateOf(baud) != nullptr; }

std::string StandardBauds() {
  std::string s;
  for (const Rate& r : kRates) s += (s.empty() ? "" : ", ") + std::to_string(r.baud);
  return s;
}

SerialPort::~SerialPort() { Close(); }

void SerialPort::Close() {
  if (fd_ < 0) return;
  if (restore_) (void)::tcsetattr(fd_, TCSANOW, &saved_);  // the device may be gone: nothing to do then
  ::close(fd_);
  fd_ = -1;
  restore_ = false;
}

bool SerialPort::Open(const std::string& path, int baud, std::string& why) {
  const Rate* rate = RateOf(baud);
  if (rate == nullptr) {
    why = "not a standard baud rate: " + std::to_string(baud);
    return false;
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    why = Reason("cannot open");
    return false;
  }
  if (::tcgetattr(fd_, &saved_) != 0) {
    why = errno == ENOTTY ? "not a serial port or terminal (a capture file is read with --scans)"
                          : Reason("cannot read the port's settings");
    Close();
    return false;
  }
  restore_ = true;
  (void)::ioctl(fd_, TIOCEXCL);  // a second reader would take half the bytes; not every driver has it
  termios t = saved_;
  const bool other = rate->code == 0;
  MakeRaw(t, other ? B38400 : rate->code);
  // TCSAFLUSH: bytes that arrived before, under the old settings, are old and maybe mangled.
  termios got{};
  if (::tcsetattr(fd_, TCSAFLUSH, &t) != 0 || ::tcgetattr(fd_, &got) != 0) {
    why = Reason("cannot set the port to raw 8N1");
    Close();
    return false;
  }
  if (other && !SetOtherBaud(fd_, baud)) {
    why = Reason(("cannot set " + std::to_string(baud) + " baud").c_str());
    Close();
    return false;
  }
  if ((!other && ::cfgetispeed(&got) != rate->code) || (got.c_lflag & (ICANON | ECHO)) != 0) {
    why = "the port did not take raw 8N1 at " + std::to_string(baud) + " baud";
    Close();
    return false;
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    why = Reason("cannot make reads blocking");
    Close();
    return false;
  }
  return true;
}

bool SerialPort::Write(const unsigned char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd_, data, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      errno_ = errno;
      return false;
    }
    data += k;
    n -= static_cast<std::size_t>(k);
  }
  return ::tcdrain(fd_) == 0 || errno == ENOTTY || errno == EINVAL;
}

bool SerialPort::SetDtr(bool on) {
  int bits = TIOCM_DTR;
  return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

void SerialPort::DropInput() { (void)::tcflush(fd_, TCIFLUSH); }

ByteSource::Status SerialPort::Read(unsigned char* buf, std::size_t n, std::size_t& got, int wait_ms) {
  got = 0;
  pollfd p{fd_, POLLIN, 0};
  timespec ts{wait_ms / 1000, static_cast<long>(wait_ms % 1000) * 1000000L};
  const int r = ::ppoll(&p, 1, wait_ms < 0 ? nullptr : &ts, wait_mask_);
  if (r < 0) {
    if (errno == EINTR) return kInterrupted;
    errno_ = errno;
    return kError;
  }
  if (r == 0) return kTimeout;
  // Whatever poll reported (data, hang-up, error), the read tells what it is:
  // buffered bytes still come before a hang-up.
  const ssize_t k = ::read(fd_, buf, n);
  if (k > 0) {
    got = static_cast<std::size_t>(k);
    return kData;
  }
  if (k == 0) {
    errno_ = 0;
    return kGone;
  }
  if (errno == EINTR || errno == EAGAIN) return kInterrupted;
  errno_ = errno;
  return errno == EIO || errno == ENXIO || errno == ENODEV ? kGone : kError;
}
