// SPDX-License-Identifier: BSD-3-Clause
// No <cmath> here: its declarations of these names carry exception
// specifications that the replacements below must not repeat.
#include "elementary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace elementary {

bool use_libm = false;
unsigned long own_calls[kFns] = {};

namespace {

constexpr double kHalfPi = 1.57079632679489661923;
constexpr double kPi = 3.14159265358979323846;

bool IsNaN(double x) { return x != x; }
bool IsInf(double x) { return x - x != x - x && !IsNaN(x); }

// The next definition after ours: the C library's.
template <class F>
F Libm(const char* name) {
  void* p = dlsym(RTLD_NEXT, name);
  if (p == nullptr) {
    std::fprintf(stderr, "pilot_digest: the C library has no %s\n", name);
    std::_Exit(2);
  }
  F f;
  std::memcpy(&f, &p, sizeof f);
  return f;
}

// atan on [0, inf]: two half-angle steps bring the argument below
// tan(pi/16), where 12 terms of the series are below 1e-17.
double Atan(double x) {
  const bool inv = x > 1.0;
  if (inv) x = 1.0 / x;
  x = x / (1.0 + __builtin_sqrt(1.0 + x * x));
  x = x / (1.0 + __builtin_sqrt(1.0 + x * x));
  const double x2 = x * x;
  double s = 0.0;
  for (int n = 12; n >= 1; --n) s = x2 * ((n % 2 ? -1.0 : 1.0) / (2 * n + 1) + s);
  const double r = 4.0 * (x + x * s);
  return inv ? kHalfPi - r : r;
}

}  // namespace

// a = k pi/2 + r with pi/2 in three pieces, then Taylor series on |r| <= pi/4.
void SinCos(double a, double& s, double& c) {
  if (IsNaN(a) || IsInf(a)) {
    s = c = a - a;
    return;
  }
  const double k = __builtin_floor(a * 6.36619772367581382433e-01 + 0.5);
  const double r =
      ((a - k * 1.57079632673412561417e+00) - k * 6.07710050630396597660e-11) - k * 2.02226624871116645580e-21;
  const double r2 = r * r;
  double ps = 0.0, pc = 0.0;
  for (int n = 17; n >= 3; n -= 2) ps = (ps + (n % 4 == 1 ? 1.0 : -1.0)) * r2 / (n * (n - 1));
  for (int n = 18; n >= 2; n -= 2) pc = (pc + (n % 4 == 0 ? 1.0 : -1.0)) * r2 / (n * (n - 1));
  const double sn = r + r * ps, cs = 1.0 + pc;
  switch (static_cast<int>(k - 4.0 * __builtin_floor(k * 0.25))) {
    case 0: s = sn, c = cs; break;
    case 1: s = cs, c = -sn; break;
    case 2: s = -sn, c = -cs; break;
    default: s = -cs, c = sn; break;
  }
}

}  // namespace elementary

using elementary::own_calls;
using elementary::use_libm;

extern "C" double sin(double a) {
  static const auto libm = elementary::Libm<double (*)(double)>("sin");
  if (use_libm) return libm(a);
  ++own_calls[elementary::kSin];
  double s, c;
  elementary::SinCos(a, s, c);
  return s;
}

extern "C" double cos(double a) {
  static const auto libm = elementary::Libm<double (*)(double)>("cos");
  if (use_libm) return libm(a);
  ++own_calls[elementary::kCos];
  double s, c;
  elementary::SinCos(a, s, c);
  return c;
}

extern "C" double atan2(double y, double x) {
  static const auto libm = elementary::Libm<double (*)(double, double)>("atan2");
  if (use_libm) return libm(y, x);
  ++own_calls[elementary::kAtan2];
  using elementary::IsInf;
  if (elementary::IsNaN(x) || elementary::IsNaN(y)) return x + y;
  double a;
  if (IsInf(x) && IsInf(y))
    a = x > 0.0 ? 0.25 * elementary::kPi : 0.75 * elementary::kPi;
  else if (IsInf(y) || (x == 0.0 && y != 0.0))
    a = elementary::kHalfPi;
  else if (x == 0.0 || IsInf(x))
    a = __builtin_signbit(x) ? elementary::kPi : 0.0;
  else {
    a = elementary::Atan(__builtin_fabs(y / x));
    if (x < 0.0) a = elementary::kPi - a;
  }
  return __builtin_copysign(a, y);
}

extern "C" double hypot(double x, double y) {
  static const auto libm = elementary::Libm<double (*)(double, double)>("hypot");
  if (use_libm) return libm(x, y);
  ++own_calls[elementary::kHypot];
  if (elementary::IsInf(x) || elementary::IsInf(y)) return __builtin_inf();
  x = __builtin_fabs(x);
  y = __builtin_fabs(y);
  if (elementary::IsNaN(x) || elementary::IsNaN(y)) return x + y;
  const double big = x > y ? x : y, small = x > y ? y : x;
  if (big == 0.0) return 0.0;
  const double q = small / big;
  return big * __builtin_sqrt(1.0 + q * q);
}

extern "C" float atanf(float x) {
  static const auto libm = elementary::Libm<float (*)(float)>("atanf");
  if (use_libm) return libm(x);
  ++own_calls[elementary::kAtanf];
  const double d = x;
  if (elementary::IsNaN(d)) return x;
  const double a = elementary::Atan(__builtin_fabs(d));
  return static_cast<float>(d < 0.0 ? -a : a);
}

extern "C" void sincos(double a, double* s, double* c) {
  static const auto libm = elementary::Libm<void (*)(double, double*, double*)>("sincos");
  if (use_libm) return libm(a, s, c);
  ++own_calls[elementary::kSinCos];
  elementary::SinCos(a, *s, *c);
}

// Squares of floats are exact in double: one rounding in the sum, one in
// the root, one to float.
extern "C" float hypotf(float x, float y) {
  static const auto libm = elementary::Libm<float (*)(float, float)>("hypotf");
  if (use_libm) return libm(x, y);
  ++own_calls[elementary::kHypotf];
  const double dx = x, dy = y;
  if (elementary::IsInf(dx) || elementary::IsInf(dy)) return __builtin_inff();
  return static_cast<float>(__builtin_sqrt(dx * dx + dy * dy));
}
