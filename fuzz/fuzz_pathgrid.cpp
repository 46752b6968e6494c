// SPDX-License-Identifier: BSD-3-Clause
// Planner fuzz target: arbitrary borders, scans, obstacle and target cells
// (any int), passes and hand-driven walker steps. The planner's reference
// model (tests/pathgrid_reference.h), which shares no code with the library,
// runs alongside; every pass checks the invariants callers rely on and then
// demands bit equality with the model.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "pathgrid.h"
#include "pathgrid_reference.h"
#include "test_support.h"

namespace {

using pgref::Cell;
using pgref::kN;
using pgref::metres;
using pgref::onGrid;
using tsup::FloatWithBits;
using tsup::SameBits;

pgref::Model m;

// ---- helpers ----------------------------------------------------------------

bool IsCellMetres(float v) {
  for (int k = -50; k <= 49; ++k) {
    if (SameBits(v, static_cast<float>(static_cast<double>(k) * 0.05))) return true;
  }
  return false;
}

void CheckAngle(float a, float b) {
  const float t = CalAngle(a, b);
  const float want = pgref::refCalAngle(a, b);
  if (std::isnan(want)) {
    CHECK(std::isnan(t), "CalAngle(%a, %a) = %a, want NaN", a, b, t);
    return;
  }
  CHECK(static_cast<double>(t) < 3.141592653589793 && static_cast<double>(t) > -3.141592653589793,
        "CalAngle(%a, %a) = %a out of (-pi, pi)", a, b, t);
  CHECK(SameBits(t, want), "CalAngle(%a, %a) = %a, want %a", a, b, t, want);
}

// The listing, read back line by line, each line checked for its exact form.
std::vector<Cell> CapturePath() {
  const std::string text = pgref::capturePrintPath();
  const char* buf = text.data();
  const size_t len = text.size();
  std::vector<Cell> out;
  static const char kHead[] = "--------------------------\n";
  CHECK(len >= sizeof kHead - 1 && std::memcmp(buf, kHead, sizeof kHead - 1) == 0,
        "listing header");
  size_t pos = sizeof kHead - 1;
  while (pos < len) {
    const char* nl = static_cast<const char*>(std::memchr(buf + pos, '\n', len - pos));
    CHECK(nl != nullptr, "unterminated listing line");
    const std::string line(buf + pos, static_cast<size_t>(nl + 1 - (buf + pos)));
    int i = 0, x = 0, y = 0;
    CHECK(std::sscanf(line.c_str(), "loc_path [%d] - (%d , %d)", &i, &x, &y) == 3,
          "listing line '%s'", line.c_str());
    char expect[96];
    std::snprintf(expect, sizeof expect, "loc_path [%d] - (%d , %d)\n", i, x, y);
    CHECK(line == expect, "listing line '%s'", line.c_str());
    CHECK(i == static_cast<int>(out.size()), "listing index %d at line %zu", i, out.size());
    out.emplace_back(x, y);
    pos = static_cast<size_t>(nl + 1 - buf);
  }
  return out;
}

void CheckFields() {
  for (int y = 0; y < kN; ++y) {
    for (int x = 0; x < kN; ++x) {
      CHECK(ChkTarget(x, y) == !m.blocked(x, y), "ChkTarget(%d, %d)", x, y);
      CHECK(calPointCost(x, y) == m.cost(x, y), "calPointCost(%d, %d) = %d, want %d", x, y,
            calPointCost(x, y), m.cost(x, y));
    }
  }
}

void CheckResults() {
  const int n = GetHelperNum();
  CHECK(n == static_cast<int>(m.record.size()), "count %d, want %zu", n, m.record.size());
  const float fx = GetFixX(), fy = GetFixY();
  CHECK(IsCellMetres(fx) && IsCellMetres(fy), "steering point (%a, %a)", fx, fy);
  const float ex = GetFaceX(), ey = GetFaceY();
  CHECK(IsCellMetres(ex) && IsCellMetres(ey), "path end (%a, %a)", ex, ey);
  if (n == 0) {
    CHECK(SameBits(fx, 0.0f) && SameBits(fy, 0.0f) && SameBits(ex, 0.0f) && SameBits(ey, 0.0f),
          "empty path must give zeros");
    return;
  }
  const Cell& last = m.record.back();
  CHECK(SameBits(ex, metres(last.second)) && SameBits(ey, metres(last.first)), "path end");
  bool onPath = false;
  for (const Cell& c : m.record) {
    onPath = onPath || (SameBits(fx, metres(c.second)) && SameBits(fy, metres(c.first)));
  }
  CHECK(onPath, "steering point is no path cell");
  CHECK(SameBits(fx, m.fixx) && SameBits(fy, m.fixy), "steering point (%a, %a), want (%a, %a)",
        fx, fy, m.fixx, m.fixy);
}

void Pass() {
  const bool got = OutLine();
  const bool want = m.outLine();
  const int n = GetHelperNum();
  CHECK(n >= 0 && n <= 10000, "count %d", n);
  const std::vector<Cell> path = CapturePath();
  CHECK(static_cast<int>(path.size()) == n, "listing has %zu entries, count %d", path.size(), n);
  static bool seen[kN * kN];
  std::memset(seen, 0, sizeof seen);
  for (size_t i = 0; i < path.size(); ++i) {
    const int x = path[i].first, y = path[i].second;
    CHECK(onGrid(x, y), "entry %zu (%d, %d) off the grid", i, x, y);
    CHECK(!seen[y * kN + x], "entry %zu (%d, %d) repeated", i, x, y);
    seen[y * kN + x] = true;
    CHECK(ChkTarget(x, y), "entry %zu (%d, %d) blocked", i, x, y);
    CHECK(calPointCost(x, y) == 999, "entry %zu (%d, %d) not marked visited", i, x, y);
    if (i > 0) {
      const int ax = std::abs(x - path[i - 1].first), ay = std::abs(y - path[i - 1].second);
      CHECK(ax <= 1 && ay <= 1 && ax + ay > 0, "entries %zu and %zu not neighbours", i - 1, i);
    }
    // A walk stops on the first target cell it stands on.
    if (i + 1 < path.size()) CHECK(m.target[y][x] != 255, "walked over target %zu", i);
  }
  if (got) {
    CHECK(n > 0 && m.target[path.back().second][path.back().first] == 255,
          "reached without ending on a target");
  } else if (n > 0) {
    const int x = path.back().first, y = path.back().second;
    CHECK(m.target[y][x] != 255, "ended on a target but reported false");
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        CHECK(calPointCost(x + dx, y + dy) == 999, "stuck at (%d, %d) beside a free cell", x, y);
      }
    }
  }
  CHECK(got == want, "OutLine %d, want %d", got, want);
  CHECK(path == m.record, "path differs from the model (%zu vs %zu entries)", path.size(),
        m.record.size());
  CheckResults();
  CheckFields();
  CheckAngle(GetFixX(), GetFixY());
  CheckAngle(GetFaceX(), GetFaceY());
}

// ---- input decoding ---------------------------------------------------------

float SpecialFloat(FuzzedDataProvider& in) {
  static const float kSpecial[] = {
      NAN, -NAN, FloatWithBits(0x7fc00001u), FloatWithBits(0xffbfffffu), INFINITY, -INFINITY, 0.0f, -0.0f,
      FloatWithBits(1u), FloatWithBits(0x807fffffu), 1.17549435e-38f, 1e30f, -1e30f, 3.40282347e38f,
      0.25f, 4.0f, 6.0f, 2.5f, 2.45f, 1.0f, -1.0f, 0.35f, 0.05f, 0.5f, 107374182.0f,
      -107374184.0f, 1e-8f, 1e-7f};
  return kSpecial[in.ConsumeIntegralInRange<size_t>(0, sizeof kSpecial / sizeof kSpecial[0] - 1)];
}

float AnyFloat(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return FloatWithBits(in.ConsumeIntegral<uint32_t>());
    case 1: return SpecialFloat(in);
    default: return static_cast<float>(in.ConsumeIntegralInRange<int>(-60, 60)) * 0.05f;
  }
}

int AnyCoord(FuzzedDataProvider& in) {
  static const int kSpecial[] = {INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, -1, 100, 0, 99};
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<int>(0, 99);
    case 1: return in.ConsumeIntegralInRange<int>(-12, 111);
    case 2: return in.ConsumeIntegral<int>();
    default: return kSpecial[in.ConsumeIntegralInRange<int>(0, 7)];
  }
}

void FillScan(FuzzedDataProvider& in, float* scan) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      for (int i = 0; i < 360; ++i) scan[i] = FloatWithBits(in.ConsumeIntegral<uint32_t>());
      break;
    case 1: {
      const float v = AnyFloat(in);
      for (int i = 0; i < 360; ++i) scan[i] = v;
      break;
    }
    case 2:  // coarse ranges, 255 = no echo
      for (int i = 0; i < 360; ++i) {
        const uint8_t b = in.ConsumeIntegral<uint8_t>();
        scan[i] = b == 255 ? INFINITY : static_cast<float>(b) * 0.02f;
      }
      break;
    default: {
      for (int i = 0; i < 360; ++i) scan[i] = INFINITY;
      const int k = in.ConsumeIntegralInRange<int>(0, 24);
      for (int n = 0; n < k; ++n) {
        const int i = in.ConsumeIntegralInRange<int>(0, 359);
        const int span = in.ConsumeIntegralInRange<int>(1, 40);
        const float v = AnyFloat(in);
        for (int s = 0; s < span; ++s) scan[(i + s) % 360] = v;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The listing goes nowhere unless captured.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  InitHelper();
  m.init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // A cheap restart (InitHelper rebuilds 65025 cone elements); the path
  // field and walker carry over, and the model carries them over likewise.
  ClearObst();
  ClearTarget();
  SetBorder(0.35f);
  m.clearObst();
  m.clearTarget();
  m.setBorder(0.35f);
  // Exactly 360 readings on the heap, so a read past them is caught.
  std::vector<float> scanBuf(360);
  float* scan = scanBuf.data();
  int passes = 0;
  int inits = 0;
  for (int op = 0; op < 64 && in.remaining_bytes() > 0; ++op) {
    // InitHelper rebuilds every kernel and is slow, so it is drawn rarely
    // (and not from the zero bytes that mutations favour).
    const int pick = in.ConsumeIntegralInRange<int>(0, 26);
    const bool init = pick == 13 && inits < 2;
    inits += init ? 1 : 0;
    switch (init ? 0 : 1 + pick % 13) {
      case 0:
        InitHelper();
        m.init();
        break;
      case 1: {
        const float b = AnyFloat(in);
        SetBorder(b);
        m.setBorder(b);
        break;
      }
      case 2:
      case 3:
        FillScan(in, scan);
        SetRanges(scan);
        m.setRanges(scan);
        break;
      case 4: {
        const int x = AnyCoord(in), y = AnyCoord(in);
        SetObst(x, y);
        m.setObst(x, y);
        break;
      }
      case 5:
        ClearObst();
        m.clearObst();
        break;
      case 6:
      case 7: {
        const int x = AnyCoord(in), y = AnyCoord(in);
        SetTarget(x, y);
        m.setTarget(x, y);
        break;
      }
      case 8:
        ClearTarget();
        m.clearTarget();
        break;
      case 9:
        // The start field feeds nothing observable; it must only be safe.
        SetBack(AnyCoord(in), AnyCoord(in));
        break;
      case 10:
        if (passes < 8) {
          Pass();
          ++passes;
        }
        break;
      case 11: {
        if (in.ConsumeBool()) {
          StartPos();
          m.startPos();
        }
        const int n0 = GetHelperNum();
        const float f0 = GetFixX(), e0 = GetFaceY();
        const int steps = in.ConsumeIntegralInRange<int>(0, 40);
        for (int s = 0; s < steps; ++s) {
          const bool got = PathGrow();
          CHECK(got == m.grow(), "PathGrow step %d", s);
        }
        CHECK(GetHelperNum() == n0 && SameBits(GetFixX(), f0) && SameBits(GetFaceY(), e0),
              "hand steps changed the results");
        ShowMap();
        break;
      }
      case 12: {
        const float a = AnyFloat(in), b = AnyFloat(in);
        CheckAngle(a, b);
        break;
      }
      default: {
        const int x = AnyCoord(in), y = AnyCoord(in);
        CHECK(ChkTarget(x, y) == !m.blocked(x, y), "ChkTarget(%d, %d)", x, y);
        CHECK(calPointCost(x, y) == m.cost(x, y), "calPointCost(%d, %d)", x, y);
        PrintPath();
        (void)GetFixY();
        (void)GetFaceX();
      }
    }
  }
  if (passes == 0) Pass();
  return 0;
}
