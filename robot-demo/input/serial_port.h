// SPDX-License-Identifier: BSD-3-Clause
// A scanner's serial port, or a pseudo-terminal standing in for one, as a
// ByteSource: opened without blocking (a port whose modem lines are down
// would otherwise hang the open), set raw at 8N1 (no echo, no line
// discipline, modem lines ignored), its stale input dropped; then read with
// blocking reads behind a poll with a timeout. The port's earlier settings
// are put back when it is closed.
#ifndef SCANPILOT_INPUT_SERIAL_PORT_H
#define SCANPILOT_INPUT_SERIAL_PORT_H

#include <csignal>
#include <string>

#include <termios.h>

#include "input/lds_source.h"

// Whether `baud` is one of the standard rates a port can be set to.
bool StandardBaud(int baud);
// The standard rates, for a usage message: "1200, 2400, ...".
std::string StandardBauds();
// Sets a rate without a B constant (128000, 256000) on an open port set raw;
// false with errno set. In serial_baud.cpp: its header clashes with termios.h.
bool SetOtherBaud(int fd, int baud);

class SerialPort : public ByteSource {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort() override;

  // False with a one-line reason when the port cannot be opened or set.
  bool Open(const std::string& path, int baud, std::string& why);
  // The signal mask to wait under (ppoll): a run that blocks its stop
  // signals while it works lets them in only while it waits for bytes.
  // Null: the mask in force.
  void WaitMask(const sigset_t* mask) { wait_mask_ = mask; }
  Status Read(unsigned char* buf, std::size_t n, std::size_t& got, int wait_ms) override;
  int Errno() const override { return errno_; }
  bool Live() const override { return true; }
  void Close();
  // For scanners that take requests: writes all n bytes and waits until
  // they are sent; false on failure (Errno()).
  bool Write(const unsigned char* data, std::size_t n);
  // Sets (true) or clears the DTR line; false where the port has none (a
  // pseudo-terminal).
  bool SetDtr(bool on);
  // Drops the bytes received and not yet read.
  void DropInput();

 private:
  int fd_ = -1;
  bool restore_ = false;
  termios saved_{};
  const sigset_t* wait_mask_ = nullptr;
  int errno_ = 0;
};

#endif
