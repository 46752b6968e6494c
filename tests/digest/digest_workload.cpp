// SPDX-License-Identifier: BSD-3-Clause
// One fixed, seeded workload over both libraries, hashed output by output.
// Every build of the libraries (any compiler, any optimisation level, any CPU
// with IEEE single precision evaluated in single precision) must print the same
// digests; tests/digest.txt holds the expected ones, made on x86-64 glibc.
//
// A NaN result may be any NaN (x86 makes 0/0 negative, ARM and RISC-V
// positive), so every NaN is hashed as one canonical pattern. CalAngle calls the
// C library's atanf, whose last bit differs between C libraries and even
// between ports of one: its results form a part of their own, "atanf", kept out
// of "total", and each of them is checked here against CalAngle's own steps
// computed with this C library's atanf.
//
//   digest_workload                 print the digests
//   digest_workload --expect FILE   also compare with FILE: exit 1 when a part
//                                   other than atanf differs, or when CalAngle
//                                   disagrees with its steps; a differing atanf
//                                   part alone only prints a note
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "pathgrid.h"
#include "scanfollow.h"

namespace {

// ---- hashing ----------------------------------------------------------------

struct Fnv {
  uint64_t h = 0xcbf29ce484222325ULL;
  uint64_t n = 0;  // bytes hashed, printed so a skipped output shows too
  void Bytes(const void* p, size_t len) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < len; ++i) {
      h ^= b[i];
      h *= 0x100000001b3ULL;
    }
    n += len;
  }
  void F(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    if (std::isnan(v)) u = 0x7fc00000u;  // whatever the sign and payload
    Bytes(&u, sizeof u);
  }
  void I(int v) { Bytes(&v, sizeof v); }
  void B(bool v) {
    const unsigned char c = v ? 1 : 0;
    Bytes(&c, 1);
  }
};

Fnv hPass, hListing, hGrid, hWalk, hAngle, hTrack;

// ---- deterministic generator (splitmix64) -------------------------------------

uint64_t state = 0x5ca1ab1e20261208ULL;

uint64_t Next() {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
bool Chance(int percent) { return Below(100) < percent; }

// Uniform in [lo, hi) built from integers only, so no build rounds it differently.
float Uniform(float lo, float hi) {
  const float u = static_cast<float>(Next() >> 40) / 16777216.0f;  // 24 bits
  return lo + (hi - lo) * u;
}

float Bits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

float Special() {
  static const float kSpecial[] = {NAN,
                                   -NAN,
                                   Bits(0x7fc00001u),
                                   Bits(0xffa00000u),
                                   INFINITY,
                                   -INFINITY,
                                   0.0f,
                                   -0.0f,
                                   Bits(1u),
                                   Bits(0x807fffffu),
                                   1.17549435e-38f,
                                   1e30f,
                                   -1e30f,
                                   3.40282347e38f,
                                   0.25f,
                                   Bits(0x3e800001u),
                                   4.0f,
                                   Bits(0x407fffffu),
                                   6.0f,
                                   2.5f,
                                   2.45f,
                                   2.55f,
                                   1.0f,
                                   -1.0f,
                                   -2.0f,
                                   107374182.0f,
                                   -107374184.0f,
                                   1e-8f,
                                   1e-7f,
                                   0.35f,
                                   0.05f};
  return kSpecial[Below(static_cast<int>(sizeof kSpecial / sizeof kSpecial[0]))];
}

float AnyFloat() {
  switch (Below(3)) {
    case 0: return Bits(static_cast<uint32_t>(Next()));
    case 1: return Special();
    default: return Uniform(-3.0f, 3.0f);
  }
}

int AnyCoord() {
  static const int kSpecial[] = {INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, -1, 100, 0, 99, 50};
  switch (Below(6)) {
    case 0: return kSpecial[Below(9)];
    case 1: return static_cast<int>(static_cast<uint32_t>(Next()));
    case 2: return Below(124) - 12;
    default: return Below(100);
  }
}

float Border() {
  static const float kBorders[] = {0.35f, 0.0f,  0.04f, 0.05f,    0.1f,      0.25f, 0.45f,     0.5f,
                                   2.0f,  -1.0f, NAN,   INFINITY, -INFINITY, 1e10f, 0.0499999f};
  switch (Below(4)) {
    case 0: return Bits(static_cast<uint32_t>(Next()));
    case 1: return Uniform(0.0f, 0.6f);
    default: return kBorders[Below(static_cast<int>(sizeof kBorders / sizeof kBorders[0]))];
  }
}

void MakeScan(float* scan) {
  switch (Below(8)) {
    case 0:  // raw bit patterns
      for (int i = 0; i < 360; ++i) scan[i] = Bits(static_cast<uint32_t>(Next()));
      break;
    case 1: {  // one value everywhere
      const float v = AnyFloat();
      for (int i = 0; i < 360; ++i) scan[i] = v;
      break;
    }
    case 2: {  // sparse clusters in free space
      for (int i = 0; i < 360; ++i) scan[i] = INFINITY;
      const int k = Below(6);
      for (int n = 0; n < k; ++n) {
        const int at = Below(360), span = 1 + Below(30);
        const float d = Uniform(0.2f, 2.6f);
        for (int s = 0; s < span; ++s) scan[(at + s) % 360] = d;
      }
      break;
    }
    default: {  // a room: smooth walls, an object ahead, a few bad readings
      const float base = Uniform(0.6f, 3.5f);
      const float wobble = Uniform(0.0f, 1.5f);
      const int phase = Below(360);
      for (int i = 0; i < 360; ++i) {
        const int a = (i + phase) % 360;
        scan[i] = base + wobble * static_cast<float>(a < 180 ? a : 360 - a) / 180.0f;
      }
      const int ahead = 170 + Below(21), half = Below(6);
      const float d = Uniform(0.4f, 1.8f);
      for (int i = ahead - half; i <= ahead + half; ++i) scan[i] = d + Uniform(-0.02f, 0.02f);
      for (int n = Below(8); n > 0; --n) {
        const int at = Below(360);
        scan[at] = Chance(50) ? Special() : AnyFloat();
      }
    }
  }
}

// ---- the path listing, captured from stdout ---------------------------------

char listing[1 << 20];

void HashListing() {
  PrintPath();
  std::fflush(stdout);
  const long len = std::ftell(stdout);
  if (len < 0 || static_cast<size_t>(len) > sizeof listing) std::abort();
  const ssize_t got = pread(fileno(stdout), listing, static_cast<size_t>(len), 0);
  if (got != len) std::abort();
  hListing.Bytes(listing, static_cast<size_t>(len));
  if (ftruncate(fileno(stdout), 0) != 0) std::abort();
  std::rewind(stdout);
}

void HashGrid() {
  for (int y = -1; y <= 100; ++y) {
    for (int x = -1; x <= 100; ++x) {
      hGrid.B(ChkTarget(x, y));
      hGrid.I(calPointCost(x, y));
    }
  }
  const int far[] = {INT_MIN, INT_MAX, -100000, 100000};
  for (int a : far) {
    hGrid.B(ChkTarget(a, 50));
    hGrid.B(ChkTarget(50, a));
    hGrid.I(calPointCost(a, a));
  }
}

// CalAngle's steps with this C library's atanf, called through a volatile
// pointer so that no compiler folds it into a correctly rounded constant.
float (*volatile hostAtanf)(float) = ::atanf;

float AngleSteps(float a, float b) {
  const float q = b / a;
  float t = hostAtanf(q);
  if (a < 0.0f) t = static_cast<float>(static_cast<double>(t) + 3.141592653589793);
  if (static_cast<double>(t) > 3.141592653589793) t = static_cast<float>(static_cast<double>(t) - 6.283185307179586);
  return t;
}

long angleCalls = 0, angleWrong = 0;

void Angle(float a, float b) {
  const float got = CalAngle(a, b), want = AngleSteps(a, b);
  ++angleCalls;
  const bool same = std::isnan(got) ? std::isnan(want) : std::memcmp(&got, &want, sizeof got) == 0;
  if (!same) {
    if (++angleWrong <= 5)
      std::fprintf(stderr, "CalAngle(%a, %a) = %a, its steps give %a\n", static_cast<double>(a), static_cast<double>(b),
                   static_cast<double>(got), static_cast<double>(want));
  }
  hAngle.F(got);
}

// ---- workload ---------------------------------------------------------------

constexpr int kScans = 3000;

void Run() {
  float scan[360];
  float candidate[2] = {0.0f, 0.0f};
  float objBearing = 180.0f, objRange = 1.0f, objStep = 2.0f;
  InitHelper();
  thredhold(1.0f);
  for (int s = 0; s < kScans; ++s) {
    if (s % 211 == 7) InitHelper();
    if (Chance(4)) SetBorder(Border());
    if (s % 301 == 150) SetBorder(0.35f);

    MakeScan(scan);
    SetRanges(scan);
    // Generator calls each in a statement of their own: argument order is
    // unspecified and differs between compilers.
    for (int n = Below(3); n > 0; --n) {
      const int x = AnyCoord(), y = AnyCoord();
      SetObst(x, y);
    }
    if (Chance(2)) ClearObst();

    if (!Chance(10)) ClearTarget();
    for (int n = Below(4); n > 0; --n) {
      const int x = AnyCoord(), y = AnyCoord();
      hPass.B(ChkTarget(x, y));
      SetTarget(x, y);
    }
    if (Chance(3)) {
      const int x = AnyCoord(), y = AnyCoord();
      SetBack(x, y);
    }

    hPass.B(OutLine());
    hPass.I(GetHelperNum());
    hPass.F(GetFixX());
    hPass.F(GetFixY());
    hPass.F(GetFaceX());
    hPass.F(GetFaceY());
    HashListing();
    Angle(GetFixX(), GetFixY());
    Angle(GetFaceX(), GetFaceY());
    const float a = AnyFloat(), b = AnyFloat();
    Angle(a, b);

    if (s % 25 == 0) HashGrid();
    if (s % 40 == 13) {  // the walker driven by hand
      if (Chance(50)) StartPos();
      for (int n = 0; n < 30; ++n) hWalk.B(PathGrow());
      for (int n = 0; n < 200; ++n) {
        const int x = Below(100), y = Below(100);
        hWalk.I(calPointCost(x, y));
      }
      ShowMap();
      hWalk.I(GetHelperNum());
    }

    // Tracker: an object drifting across the whole front half (so the points
    // near the 90 and 270 readings are gathered too), drawn into this scan or
    // into an empty one.
    if (s % 197 == 0) {
      objBearing = 180.0f;
      objRange = Uniform(0.5f, 2.5f);
      const float d = Chance(30) ? AnyFloat() : objRange;
      hTrack.F(thredhold(d));
    }
    if (Chance(10)) objStep = Uniform(-4.0f, 4.0f);
    objBearing += objStep;
    if (objBearing > 272.0f) objStep = -std::fabs(objStep);
    if (objBearing < 88.0f) objStep = std::fabs(objStep);
    objRange += Uniform(-0.03f, 0.03f);
    if (objRange < 0.3f) objRange = 0.3f;
    if (objRange > 3.9f) objRange = 3.9f;
    if (Chance(50)) {
      for (int i = 0; i < 360; ++i) scan[i] = INFINITY;
    }
    const int centre = static_cast<int>(objBearing), half = Below(3);
    for (int i = centre - half; i <= centre + half; ++i) {
      if (i >= 0 && i < 360) scan[i] = objRange + Uniform(-0.01f, 0.01f);
    }
    float cx, cy;
    switch (Below(4)) {
      case 0:  // near the last answer, either side of the pass-through radius
        cx = candidate[0] + Uniform(-0.15f, 0.15f);
        cy = candidate[1] + Uniform(-0.15f, 0.15f);
        break;
      case 1:
        cx = AnyFloat();
        cy = AnyFloat();
        break;
      default: cx = Uniform(0.0f, 2.5f); cy = Uniform(-1.0f, 1.0f);
    }
    float outX = 0.0f, outY = 0.0f;
    hTrack.F(filter(cx, cy, Chance(2) ? nullptr : scan, nullptr, outX, outY));
    hTrack.F(outX);
    hTrack.F(outY);
    candidate[0] = outX;
    candidate[1] = outY;
  }
}

bool Say(int fd, const std::string& text) {
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// name -> rest of the line, for the lines of a digest report.
std::map<std::string, std::string> Parts(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const size_t gap = line.find(' ');
    if (gap != std::string::npos) out[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
    at = end + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* expectPath = nullptr;
  if (argc == 3 && std::strcmp(argv[1], "--expect") == 0) {
    expectPath = argv[2];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--expect FILE]\n", argv[0]);
    return 2;
  }
  // The listing goes to a scratch file so it can be read back and hashed;
  // the report goes to the original stdout.
  std::fflush(stdout);
  const int report = dup(fileno(stdout));
  FILE* scratch = std::tmpfile();
  if (report < 0 || scratch == nullptr || dup2(fileno(scratch), fileno(stdout)) < 0) {
    std::perror("digest_workload");
    return 2;
  }
  Run();

  // "total" covers the parts that must be identical everywhere; "atanf" stands
  // apart because it follows the C library.
  Fnv total;
  std::string text;
  const struct {
    const char* name;
    const Fnv* h;
  } parts[] = {{"pass", &hPass}, {"listing", &hListing}, {"grid", &hGrid}, {"walk", &hWalk}, {"track", &hTrack}};
  char line[96];
  for (const auto& p : parts) {
    std::snprintf(line, sizeof line, "%-8s %016" PRIx64 " %" PRIu64 "\n", p.name, p.h->h, p.h->n);
    text += line;
    total.Bytes(&p.h->h, sizeof p.h->h);
  }
  std::snprintf(line, sizeof line, "%-8s %016" PRIx64 "\n", "total", total.h);
  text += line;
  std::snprintf(line, sizeof line, "%-8s %016" PRIx64 " %" PRIu64 "\n", "atanf", hAngle.h, hAngle.n);
  text += line;
  if (!Say(report, text)) return 2;

  int status = 0;
  if (angleWrong != 0) {
    Say(report, "CalAngle differs from its own steps with this C library's atanf in " + std::to_string(angleWrong) +
                    " of " + std::to_string(angleCalls) + " calls\n");
    status = 1;
  }
  if (expectPath != nullptr) {
    FILE* f = std::fopen(expectPath, "r");
    if (f == nullptr) {
      std::perror(expectPath);
      return 1;
    }
    std::string want;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) want.append(buf, n);
    std::fclose(f);
    const std::map<std::string, std::string> wantParts = Parts(want), gotParts = Parts(text);
    std::string wrong;
    for (const auto& g : gotParts) {
      const auto w = wantParts.find(g.first);
      if (g.first != "atanf" && (w == wantParts.end() || w->second != g.second)) wrong += " " + g.first;
    }
    if (wantParts.size() != gotParts.size() || wantParts.count("atanf") == 0) wrong += " (set of parts)";
    if (!wrong.empty()) {
      Say(report, "digest differs from " + std::string(expectPath) + " in" + wrong + ":\n" + want);
      status = 1;
    } else {
      const auto w = wantParts.find("atanf");
      if (w->second != gotParts.at("atanf")) {
        Say(report, "digest matches except atanf: the C library arctangent differs from the one " +
                        std::string(expectPath) +
                        " was made with (CalAngle follows it; it equals its steps with this one)\n");
      } else {
        Say(report, "digest matches\n");
      }
    }
  }
  return status;
}
