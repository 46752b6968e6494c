// SPDX-License-Identifier: BSD-3-Clause
// FNV-1a digests of a workload's parts, printed as "part hash bytes" lines
// and compared with a file of the expected ones (--expect FILE).
#ifndef TESTS_DIGEST_PART_DIGEST_H
#define TESTS_DIGEST_PART_DIGEST_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

struct PartHash {
  std::uint64_t h = 1469598103934665603ULL;
  std::uint64_t bytes = 0;
  void Add(const void* p, std::size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ULL;
    bytes += n;
  }
};

// Prints each part's line (names padded to `width`); with --expect FILE,
// answers 1 when the lines differ from FILE's, else 0.
inline int ReportParts(const char* program, int width, const std::vector<std::pair<const char*, PartHash>>& parts,
                       int argc, char** argv) {
  std::ostringstream out;
  for (const auto& [name, x] : parts) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%-*s %016llx %llu\n", width, name, static_cast<unsigned long long>(x.h),
                  static_cast<unsigned long long>(x.bytes));
    out << buf;
  }
  std::fputs(out.str().c_str(), stdout);
  if (argc == 3 && std::strcmp(argv[1], "--expect") == 0) {
    std::ifstream f(argv[2]);
    std::stringstream want;
    want << f.rdbuf();
    if (want.str() != out.str()) {
      std::fprintf(stderr, "%s: differs from %s:\n%s", program, argv[2], want.str().c_str());
      return 1;
    }
  }
  return 0;
}

#endif
