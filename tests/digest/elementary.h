// SPDX-License-Identifier: BSD-3-Clause
// The C library's elementary functions the pilot calls (sin, cos, atan2,
// hypot, and atanf through pathgrid), replaced for the digest program by
// ones built from +, -, *, / and sqrt: these give the same bits on every
// CPU, so that a digest made with them differs between CPUs only through
// our own code. With `use_libm` set they hand each call to the C library.
#ifndef TESTS_DIGEST_ELEMENTARY_H
#define TESTS_DIGEST_ELEMENTARY_H

namespace elementary {

extern bool use_libm;
// Calls answered by the replacements, per function: none after a pilot's
// run means the C library answered them after all (the program was not
// linked to export them).
enum Fn { kSin, kCos, kSinCos, kAtan2, kHypot, kHypotf, kAtanf, kFns };
extern unsigned long own_calls[kFns];

void SinCos(double a, double& s, double& c);

}  // namespace elementary

#endif
