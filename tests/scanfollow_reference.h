// SPDX-License-Identifier: BSD-3-Clause
// The tracker's one reference model, shared by the tests and the fuzz
// target: one reading at a time, no precomputed tables or branch-free tricks,
// so its outputs can be compared with the library's bit for bit.
#ifndef SCANFOLLOW_REFERENCE_H
#define SCANFOLLOW_REFERENCE_H

#include <cmath>

namespace ref {

inline double TableAngle(int i) { return static_cast<double>(i) * 3.14159 / 180.0; }

// Single precision throughout, each product and the sum rounded on its own.
inline float Dist(float a, float b, float c, float d) {
  const float dx = a - c;
  const float dy = b - d;
  const float xx = dx * dx;
  const float yy = dy * dy;
  const float s = xx + yy;
  return std::sqrt(s);
}

// Reading k (90..179 or 181..270) at r metres, converted through the offset
// angle from the nearer side axis; products in double, stored as float.
inline void Point(int k, float r, float& x, float& y) {
  const bool minusY = k < 180;
  const int i = minusY ? k - 90 : 270 - k;
  const double rr = static_cast<double>(r);
  x = static_cast<float>(rr * std::sin(TableAngle(i)));
  const double c = rr * std::cos(TableAngle(i));
  y = static_cast<float>(minusY ? -c : c);
}

inline bool Accepted(int k, float r) {
  const float farLimit = k < 180 ? 4.0f : 6.0f;
  return r > 0.25f && r < farLimit;
}

struct Tracker {
  // Zero at load, like the library's statics.
  bool tables = false;
  float lastX = 0.0f, lastY = 0.0f;
  float px[360] = {};
  float py[360] = {};
  int lastCount = 0;       // points averaged by the last call
  bool lastPassed = false;  // the last candidate came back unchanged

  void Thredhold(float x) {
    for (int k = 0; k < 360; ++k) px[k] = py[k] = 0.0f;
    tables = true;
    lastX = x;
    lastY = 0.0f;
  }

  void Filter(float cx, float cy, const float* ranges, float& outX, float& outY) {
    float mx = lastX, my = lastY;
    lastCount = 0;
    if (ranges != nullptr) {
      for (int k = 90; k <= 270; ++k) {
        if (k == 180) continue;
        float x = 0.0f, y = 0.0f;
        if (Accepted(k, ranges[k]) && tables) Point(k, ranges[k], x, y);
        px[k] = x;  // without tables every accepted point lands on the origin
        py[k] = y;
      }
      float sx = 0.0f, sy = 0.0f;
      int n = 0;
      for (int k = 90; k <= 270; ++k) {
        const bool nearTracked = static_cast<double>(Dist(px[k], py[k], lastX, lastY)) < 0.3;
        const bool offOrigin = Dist(px[k], py[k], 0.0f, 0.0f) > 0.25f;
        if (nearTracked && offOrigin) {
          sx = px[k] + sx;
          sy = py[k] + sy;
          ++n;
        }
      }
      lastCount = n;
      if (n > 0) {
        mx = sx / static_cast<float>(n);
        my = sy / static_cast<float>(n);
      }
    }
    lastPassed = static_cast<double>(Dist(cx, cy, lastX, lastY)) < 0.1;
    if (lastPassed) {
      outX = cx;
      outY = cy;
    } else {
      outX = mx;
      outY = my;
    }
    lastX = mx;
    lastY = my;
  }
};

// Range along reading k to a disk of radius rad centred at (cx, cy), or
// infinity when the ray misses it. Exact pi: this is the world, not the model.
inline float DiskRange(int k, double cx, double cy, double rad) {
  const double a = static_cast<double>(k) * 3.14159265358979323846 / 180.0;
  const double ux = -std::cos(a), uy = -std::sin(a);
  const double b = ux * cx + uy * cy;
  const double disc = b * b - (cx * cx + cy * cy - rad * rad);
  if (disc < 0.0) return INFINITY;
  const double t = b - std::sqrt(disc);
  return t > 0.0 ? static_cast<float>(t) : INFINITY;
}

}  // namespace ref

#endif
