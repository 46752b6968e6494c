// SPDX-License-Identifier: BSD-3-Clause
#include "output/scan_saver.h"

#include <charconv>
#include <cmath>

void AppendScanLine(const Scan& scan, std::string& out) {
  char buf[32];
  for (std::size_t i = 0; i < scan.size(); ++i) {
    if (i > 0) out += ' ';
    const float v = scan[i];
    if (std::isnan(v)) {
      out += "nan";  // the tokens the reader accepts; to_chars could write "-nan"
      continue;
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest round trip; "inf", "-inf"
    out.append(buf, r.ptr);
  }
  out += '\n';
}

bool ScanSaver::Add(const Scan& scan) {
  line_.clear();
  AppendScanLine(scan, line_);
  return file_.Write(line_.data(), line_.size());
}
