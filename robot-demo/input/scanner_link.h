// SPDX-License-Identifier: BSD-3-Clause
// The requests a live run sends a scanner that waits to be asked (RPLIDAR,
// YDLIDAR X4): start the motor and the scan and check the scanner's answer;
// stop both at the end; stop, reset and start again when it goes quiet.
#ifndef SCANPILOT_INPUT_SCANNER_LINK_H
#define SCANPILOT_INPUT_SCANNER_LINK_H

#include <string>

#include "input/lds_source.h"
#include "input/scanners.h"
#include "input/serial_port.h"

class ScannerLink : public StreamControl {
 public:
  ScannerLink(SerialPort& port, ScannerControl control) : port_(port), control_(control) {}
  ScannerLink(const ScannerLink&) = delete;
  ScannerLink& operator=(const ScannerLink&) = delete;
  ~ScannerLink() override { Stop(); }

  // Whether the scanner takes requests at all.
  bool Active() const { return control_ != ScannerControl::kNone; }
  // Motor on, start request, the answer checked. False with one line; then
  // WrongAnswer() tells an answer that is not the scan descriptor from none.
  bool Start(std::string& why);
  bool WrongAnswer() const { return wrong_answer_; }
  // Stop request and motor off; again only after another Start.
  void Stop();
  bool Restart(std::string& why) override;

 private:
  bool Send(std::initializer_list<unsigned char> bytes);
  bool Motor(bool on);
  bool Request(std::string& why);

  SerialPort& port_;
  ScannerControl control_;
  bool running_ = false;
  bool wrong_answer_ = false;
};

#endif
