// Planner fuzz target: arbitrary borders, scans, obstacle and target cells
// (any int), passes and hand-driven walker steps. A naive model of the
// planner, written straight from the documented rules and sharing no code
// with the library, runs alongside; every pass checks the invariants callers
// rely on and then demands bit equality with the model.
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

namespace {

constexpr int kN = 100;
constexpr double kDeg = 0.017453292519943295;

using Cell = std::pair<int, int>;

// ---- naive model ------------------------------------------------------------

struct Model {
  unsigned char obst[kN * kN] = {};
  unsigned char target[kN * kN] = {};
  unsigned char path[kN * kN] = {};
  int radius = 0;  // disk kernel is zero before the first InitHelper
  int curX = 0, curY = 0;
  std::vector<Cell> entries;
  float fixX = 0.0f, fixY = 0.0f;
};
Model m;

bool On(int x, int y) { return x >= 0 && x <= 99 && y >= 0 && y <= 99; }

// 20*border in single precision, truncated, clamped to 0..10; NaN gives 0.
int ModelRadius(float border) {
  const float cells = 20.0f * border;
  if (!(cells >= 1.0f)) return 0;  // NaN, negative, below one cell
  if (cells >= 10.0f) return 10;
  return static_cast<int>(cells);
}

void ModelSetObst(int x, int y) {
  if (!On(x, y)) return;
  const long r2 = static_cast<long>(m.radius) * m.radius;
  for (int i = y - 10; i <= y + 10; ++i) {
    for (int j = x - 10; j <= x + 10; ++j) {
      if (!On(j, i)) continue;
      const long dx = j - x, dy = i - y;
      if (dx * dx + dy * dy < r2) m.obst[i * kN + j] = 255;
    }
  }
}

int ModelReadingCell(double r, double factor) {
  const double v = r * factor + 50.0;
  if (std::isnan(v) || v >= 2147483648.0 || v <= -2147483649.0) return INT_MIN;
  return static_cast<int>(std::trunc(v));
}

void ModelSetRanges(const float* ranges) {
  std::memset(m.obst, 0, sizeof m.obst);
  for (int i = 0; i < 360; ++i) {
    const double a = 0.0 - static_cast<double>(i) * kDeg;
    const double xs = 20.0 * std::sin(a);
    const double yc = -20.0 * std::cos(a);
    const double r = ranges[i];
    ModelSetObst(ModelReadingCell(r, xs), ModelReadingCell(r, yc));
  }
}

void ModelSetTarget(int x, int y) {
  if (!On(x, y)) return;
  // Cone value by |dx|, |dy|: 127 less the truncated distance, at least 0.
  static unsigned char cone[kN][kN];
  static bool built = false;
  if (!built) {
    for (int a = 0; a < kN; ++a) {
      for (int b = 0; b < kN; ++b) {
        const int d = static_cast<int>(std::sqrt(static_cast<double>(a * a + b * b)));
        cone[a][b] = static_cast<unsigned char>(d >= 127 ? 0 : 127 - d);
      }
    }
    built = true;
  }
  m.target[y * kN + x] = 255;
  for (int i = 0; i < kN; ++i) {
    for (int j = 0; j < kN; ++j) {
      const unsigned char v = cone[std::abs(i - y)][std::abs(j - x)];
      if (m.target[i * kN + j] < v) m.target[i * kN + j] = v;
    }
  }
}

int ModelCost(int x, int y) {
  if (!On(x, y)) return 999;
  const int k = y * kN + x;
  if (m.obst[k] == 255 || m.path[k] != 0) return 999;
  return m.obst[k] - m.target[k];
}

bool ModelPathGrow() {
  static const int dx[8] = {0, -1, 1, 0, -1, 1, -1, 1};
  static const int dy[8] = {1, 1, 1, -1, -1, -1, 0, 0};
  bool found = false;
  int bx = m.curX, by = m.curY, best = 256;
  for (int n = 0; n < 8; ++n) {
    const int c = ModelCost(m.curX + dx[n], m.curY + dy[n]);
    if (c < best) {
      best = c;
      bx = m.curX + dx[n];
      by = m.curY + dy[n];
      found = true;
    }
  }
  m.curX = bx;
  m.curY = by;
  m.path[by * kN + bx] = 150;
  return found;
}

void ModelStartPos() {
  m.curX = 50;
  m.curY = 50;
  if (m.obst[50 * kN + 50] != 255) return;
  for (int i = 1; i <= 49; ++i) {
    for (int row = 50 - i; row <= 50 + i - 1; ++row) {
      for (int col = 50 - i; col <= 50 + i - 1; ++col) {
        if (m.obst[row * kN + col] != 255) {
          m.curX = col;
          m.curY = row;
          return;
        }
      }
    }
  }
}

float Metres(int cell) { return static_cast<float>(static_cast<double>(cell - 50) * 0.05); }

// Returns reached; the steering point for a path that never leaves the
// 2-cell neighbourhood is open, so it is left unset (caller checks loosely).
bool ModelOutLine(bool& steerOpen) {
  std::memset(m.path, 0, sizeof m.path);
  m.entries.clear();
  ModelStartPos();
  bool reached = false;
  while (ModelPathGrow()) {
    m.entries.emplace_back(m.curX, m.curY);
    if (m.target[m.curY * kN + m.curX] == 255) {
      reached = true;
      break;
    }
  }
  steerOpen = false;
  m.fixX = m.fixY = 0.0f;
  if (!m.entries.empty()) {
    steerOpen = true;
    for (const Cell& c : m.entries) {
      const int sx = c.first - 50, sy = c.second - 50;
      if (static_cast<int>(std::sqrt(static_cast<double>(sx * sx + sy * sy))) > 2) {
        m.fixX = Metres(c.second);
        m.fixY = Metres(c.first);
        steerOpen = false;
        break;
      }
    }
  }
  return reached;
}

// ---- helpers ----------------------------------------------------------------

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool IsCellMetres(float v) {
  for (int k = -50; k <= 49; ++k) {
    if (SameBits(v, static_cast<float>(static_cast<double>(k) * 0.05))) return true;
  }
  return false;
}

float ModelCalAngle(float a, float b) {
  const float q = b / a;
  float t = std::atan(q);
  if (a < 0.0f) t = static_cast<float>(static_cast<double>(t) + 3.141592653589793);
  if (static_cast<double>(t) > 3.141592653589793) {
    t = static_cast<float>(static_cast<double>(t) - 6.283185307179586);
  }
  return t;
}

void CheckAngle(float a, float b) {
  const float t = CalAngle(a, b);
  const float want = ModelCalAngle(a, b);
  if (std::isnan(want)) {
    CHECK(std::isnan(t), "CalAngle(%a, %a) = %a, want NaN", a, b, t);
    return;
  }
  CHECK(static_cast<double>(t) < 3.141592653589793 && static_cast<double>(t) > -3.141592653589793,
        "CalAngle(%a, %a) = %a out of (-pi, pi)", a, b, t);
  CHECK(SameBits(t, want), "CalAngle(%a, %a) = %a, want %a", a, b, t, want);
}

// The listing, read back through a memory stream standing in for stdout.
std::vector<Cell> CapturePath() {
  char* buf = nullptr;
  size_t len = 0;
  FILE* ms = open_memstream(&buf, &len);
  CHECK(ms != nullptr, "open_memstream");
  FILE* saved = stdout;
  stdout = ms;
  PrintPath();
  stdout = saved;
  std::fclose(ms);
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
  std::free(buf);
  return out;
}

void CheckFields() {
  for (int y = 0; y < kN; ++y) {
    for (int x = 0; x < kN; ++x) {
      CHECK(ChkTarget(x, y) == (m.obst[y * kN + x] != 255), "ChkTarget(%d, %d)", x, y);
      CHECK(calPointCost(x, y) == ModelCost(x, y), "calPointCost(%d, %d) = %d, want %d", x, y,
            calPointCost(x, y), ModelCost(x, y));
    }
  }
}

void CheckResults(bool steerOpen) {
  const int n = GetHelperNum();
  CHECK(n == static_cast<int>(m.entries.size()), "count %d, want %zu", n, m.entries.size());
  const float fx = GetFixX(), fy = GetFixY();
  CHECK(IsCellMetres(fx) && IsCellMetres(fy), "steering point (%a, %a)", fx, fy);
  const float ex = GetFaceX(), ey = GetFaceY();
  CHECK(IsCellMetres(ex) && IsCellMetres(ey), "path end (%a, %a)", ex, ey);
  if (n == 0) {
    CHECK(SameBits(fx, 0.0f) && SameBits(fy, 0.0f) && SameBits(ex, 0.0f) && SameBits(ey, 0.0f),
          "empty path must give zeros");
    return;
  }
  const Cell& last = m.entries.back();
  CHECK(SameBits(ex, Metres(last.second)) && SameBits(ey, Metres(last.first)), "path end");
  if (!steerOpen) {
    CHECK(SameBits(fx, m.fixX) && SameBits(fy, m.fixY), "steering point (%a, %a), want (%a, %a)",
          fx, fy, m.fixX, m.fixY);
  } else {
    bool any = false;
    for (const Cell& c : m.entries) {
      any = any || (SameBits(fx, Metres(c.second)) && SameBits(fy, Metres(c.first)));
    }
    CHECK(any, "steering point of a short path is no path cell");
  }
}

void Pass() {
  const bool got = OutLine();
  bool steerOpen = false;
  const bool want = ModelOutLine(steerOpen);
  const int n = GetHelperNum();
  CHECK(n >= 0 && n <= 10000, "count %d", n);
  const std::vector<Cell> path = CapturePath();
  CHECK(static_cast<int>(path.size()) == n, "listing has %zu entries, count %d", path.size(), n);
  static bool seen[kN * kN];
  std::memset(seen, 0, sizeof seen);
  for (size_t i = 0; i < path.size(); ++i) {
    const int x = path[i].first, y = path[i].second;
    CHECK(On(x, y), "entry %zu (%d, %d) off the grid", i, x, y);
    CHECK(!seen[y * kN + x], "entry %zu (%d, %d) repeated", i, x, y);
    seen[y * kN + x] = true;
    CHECK(ChkTarget(x, y), "entry %zu (%d, %d) blocked", i, x, y);
    CHECK(calPointCost(x, y) == 999, "entry %zu (%d, %d) not marked visited", i, x, y);
    if (i > 0) {
      const int ax = std::abs(x - path[i - 1].first), ay = std::abs(y - path[i - 1].second);
      CHECK(ax <= 1 && ay <= 1 && ax + ay > 0, "entries %zu and %zu not neighbours", i - 1, i);
    }
    // A walk stops on the first target cell it stands on.
    if (i + 1 < path.size()) CHECK(m.target[y * kN + x] != 255, "walked over target %zu", i);
  }
  if (got) {
    CHECK(n > 0 && m.target[path.back().second * kN + path.back().first] == 255,
          "reached without ending on a target");
  } else if (n > 0) {
    const int x = path.back().first, y = path.back().second;
    CHECK(m.target[y * kN + x] != 255, "ended on a target but reported false");
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        CHECK(calPointCost(x + dx, y + dy) == 999, "stuck at (%d, %d) beside a free cell", x, y);
      }
    }
  }
  CHECK(got == want, "OutLine %d, want %d", got, want);
  CHECK(path == m.entries, "path differs from the model (%zu vs %zu entries)", path.size(),
        m.entries.size());
  CheckResults(steerOpen);
  CheckFields();
  CheckAngle(GetFixX(), GetFixY());
  CheckAngle(GetFaceX(), GetFaceY());
}

// ---- input decoding ---------------------------------------------------------

float Bits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

float SpecialFloat(FuzzedDataProvider& in) {
  static const float kSpecial[] = {
      NAN, -NAN, Bits(0x7fc00001u), Bits(0xffbfffffu), INFINITY, -INFINITY, 0.0f, -0.0f,
      Bits(1u), Bits(0x807fffffu), 1.17549435e-38f, 1e30f, -1e30f, 3.40282347e38f,
      0.25f, 4.0f, 6.0f, 2.5f, 2.45f, 1.0f, -1.0f, 0.35f, 0.05f, 0.5f, 107374182.0f,
      -107374184.0f, 1e-8f, 1e-7f};
  return kSpecial[in.ConsumeIntegralInRange<size_t>(0, sizeof kSpecial / sizeof kSpecial[0] - 1)];
}

float AnyFloat(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return Bits(in.ConsumeIntegral<uint32_t>());
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
      for (int i = 0; i < 360; ++i) scan[i] = Bits(in.ConsumeIntegral<uint32_t>());
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
  m.radius = ModelRadius(0.35f);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // A cheap restart (InitHelper rebuilds 65025 cone elements); the path
  // field and walker carry over, and the model carries them over likewise.
  ClearObst();
  ClearTarget();
  SetBorder(0.35f);
  std::memset(m.obst, 0, sizeof m.obst);
  std::memset(m.target, 0, sizeof m.target);
  m.radius = ModelRadius(0.35f);
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
        std::memset(m.obst, 0, sizeof m.obst);
        std::memset(m.target, 0, sizeof m.target);
        std::memset(m.path, 0, sizeof m.path);
        m.radius = ModelRadius(0.35f);
        break;
      case 1: {
        const float b = AnyFloat(in);
        SetBorder(b);
        m.radius = ModelRadius(b);
        break;
      }
      case 2:
      case 3:
        FillScan(in, scan);
        SetRanges(scan);
        ModelSetRanges(scan);
        break;
      case 4: {
        const int x = AnyCoord(in), y = AnyCoord(in);
        SetObst(x, y);
        ModelSetObst(x, y);
        break;
      }
      case 5:
        ClearObst();
        std::memset(m.obst, 0, sizeof m.obst);
        break;
      case 6:
      case 7: {
        const int x = AnyCoord(in), y = AnyCoord(in);
        SetTarget(x, y);
        ModelSetTarget(x, y);
        break;
      }
      case 8:
        ClearTarget();
        std::memset(m.target, 0, sizeof m.target);
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
          ModelStartPos();
        }
        const int n0 = GetHelperNum();
        const float f0 = GetFixX(), e0 = GetFaceY();
        const int steps = in.ConsumeIntegralInRange<int>(0, 40);
        for (int s = 0; s < steps; ++s) {
          const bool got = PathGrow();
          CHECK(got == ModelPathGrow(), "PathGrow step %d", s);
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
        CHECK(ChkTarget(x, y) == (!On(x, y) || m.obst[y * kN + x] != 255), "ChkTarget(%d, %d)", x,
              y);
        CHECK(calPointCost(x, y) == ModelCost(x, y), "calPointCost(%d, %d)", x, y);
        PrintPath();
        (void)GetFixY();
        (void)GetFaceX();
      }
    }
  }
  if (passes == 0) Pass();
  return 0;
}
