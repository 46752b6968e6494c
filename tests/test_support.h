// SPDX-License-Identifier: BSD-3-Clause
// Float bits for the tests and fuzz targets. The libraries' results are
// compared bit for bit, so +0 and -0 differ and a NaN is compared by its bits.
#ifndef SCANPILOT_TEST_SUPPORT_H
#define SCANPILOT_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tsup {

inline uint32_t BitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

// Any NaN as one pattern: which NaN an operation yields differs between CPUs
// (0xffc00000 on x86, 0x7fc00000 on ARM and RISC-V), and no caller relies on it.
inline uint32_t ValueBits(float f) { return std::isnan(f) ? 0x7fc00000u : BitsOf(f); }

inline float FloatWithBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

inline bool SameBits(float a, float b) { return BitsOf(a) == BitsOf(b); }

// For values whose NaN payload nobody relies on.
inline bool SameBitsOrBothNaN(float a, float b) {
  return SameBits(a, b) || (std::isnan(a) && std::isnan(b));
}

}  // namespace tsup

#endif
