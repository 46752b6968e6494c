// SPDX-License-Identifier: BSD-3-Clause
#include "input/scanner_link.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr unsigned char kDescriptor[7] = {0xA5, 0x5A, 0x05, 0x00, 0x00, 0x40, 0x81};
constexpr int kAnswerMs = 2000;  // a scanner answers its start request within milliseconds
constexpr int kPwm = 660;        // RPLIDAR A2/A3 motor: the maker's usual speed

std::string Hex(const unsigned char* b, std::size_t n) {
  std::string s;
  char h[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(h, sizeof h, "%s%02X", i > 0 ? " " : "", b[i]);
    s += h;
  }
  return s;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

bool ScannerLink::Send(std::initializer_list<unsigned char> bytes) {
  const std::vector<unsigned char> b(bytes);
  return port_.Write(b.data(), b.size());
}

bool ScannerLink::Motor(bool on) {
  switch (control_) {
    case ScannerControl::kRplidarDtr:
      (void)port_.SetDtr(!on);  // the adapter runs the motor while DTR is cleared; a pty has no DTR
      return true;
    case ScannerControl::kRplidarPwm: {
      const int pwm = on ? kPwm : 0;
      const unsigned char lo = static_cast<unsigned char>(pwm & 0xFF), hi = static_cast<unsigned char>(pwm >> 8);
      const unsigned char sum = static_cast<unsigned char>(0xA5 ^ 0xF0 ^ 0x02 ^ lo ^ hi);
      return Send({0xA5, 0xF0, 0x02, lo, hi, sum});
    }
    default: return true;
  }
}

// The start request and its descriptor.
bool ScannerLink::Request(std::string& why) {
  const bool yd = control_ == ScannerControl::kYdlidarX4;
  port_.DropInput();
  if (!Send({0xA5, static_cast<unsigned char>(yd ? 0x60 : 0x20)})) {
    why = std::string("cannot send the start request: ") + std::strerror(port_.Errno());
    return false;
  }
  running_ = true;
  unsigned char got[7];
  std::size_t have = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
  while (have < sizeof got) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    std::size_t n = 0;
    const ByteSource::Status st = port_.Read(got + have, sizeof got - have, n, static_cast<int>(left.count()));
    if (st == ByteSource::kData)
      have += n;
    else if (st == ByteSource::kTimeout)
      break;
    else if (st == ByteSource::kInterrupted)
      continue;
    else {
      why = "the device went away while starting the scan";
      return false;
    }
  }
  if (have == sizeof got && std::memcmp(got, kDescriptor, sizeof got) == 0) return true;
  if (have == 0) {
    why =
        "no answer to the start request within 2 s: is the scanner's RX wired to the adapter's TX, at the right baud "
        "rate?";
    return false;
  }
  wrong_answer_ = true;
  why = "the scanner answered the start request with " + Hex(got, have) + ", not the scan descriptor " +
        Hex(kDescriptor, sizeof kDescriptor) + ": another model or baud rate?";
  return false;
}

bool ScannerLink::Start(std::string& why) {
  if (!Active()) return true;
  const bool yd = control_ == ScannerControl::kYdlidarX4;
  // A scan left running by an earlier program would bury the answer: stop it first.
  if (!Send({0xA5, static_cast<unsigned char>(yd ? 0x65 : 0x25)})) {
    why = std::string("cannot write to the scanner: ") + std::strerror(port_.Errno());
    return false;
  }
  if (!Motor(true)) {
    why = std::string("cannot start the motor: ") + std::strerror(port_.Errno());
    return false;
  }
  Pause(10);
  return Request(why);
}

void ScannerLink::Stop() {
  if (!Active() || !running_) return;
  running_ = false;
  const bool yd = control_ == ScannerControl::kYdlidarX4;
  (void)Send({0xA5, static_cast<unsigned char>(yd ? 0x65 : 0x25)});
  (void)Motor(false);
}

bool ScannerLink::Restart(std::string& why) {
  const bool yd = control_ == ScannerControl::kYdlidarX4;
  if (!Send({0xA5, static_cast<unsigned char>(yd ? 0x65 : 0x25)})) {
    why = std::string("cannot write to the scanner: ") + std::strerror(port_.Errno());
    return false;
  }
  if (!yd) {
    Pause(2);
    if (!Send({0xA5, 0x40})) {  // reset; it restarts and prints a banner, dropped below
      why = std::string("cannot write to the scanner: ") + std::strerror(port_.Errno());
      return false;
    }
    Pause(50);
    if (!Motor(true)) {
      why = std::string("cannot start the motor: ") + std::strerror(port_.Errno());
      return false;
    }
  }
  Pause(2);
  return Request(why);
}
