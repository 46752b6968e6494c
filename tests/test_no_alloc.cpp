// SPDX-License-Identifier: BSD-3-Clause
// No library may touch the heap. This process replaces every allocation
// entry point and counts the calls made while a flag is up; the libraries'
// own references bind to these definitions at load time.
#include "pathgrid.h"
#include "scanbin.h"
#include "scanfollow.h"
#include "scanpilot.h"
#include "scanwire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#include "lds_stream.h"
#include "spin_stream.h"

#if defined(__SANITIZE_ADDRESS__)
#define NOALLOC_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NOALLOC_UNDER_ASAN 1
#endif
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0};
}  // namespace

#ifndef NOALLOC_UNDER_ASAN
namespace {
void Note() {
  if (g_counting.load(std::memory_order_relaxed)) g_calls.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t n) noexcept {
  Note();
  return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) noexcept {
  Note();
  return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) noexcept {
  Note();
  return __libc_realloc(p, n);
}
void free(void* p) noexcept {
  if (p != nullptr) Note();
  __libc_free(p);
}
void* aligned_alloc(size_t al, size_t n) noexcept {
  Note();
  return __libc_memalign(al, n);
}
void* memalign(size_t al, size_t n) noexcept {
  Note();
  return __libc_memalign(al, n);
}
int posix_memalign(void** out, size_t al, size_t n) noexcept {
  Note();
  void* p = __libc_memalign(al, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
}  // extern "C"

// The operators count and hand over to the C++ runtime's own definitions, so
// that a memory checker replacing those still sees matching allocation and
// release kinds. The runtime's operators then reach malloc above.
template <typename Fn>
Fn NextDefinition(const char* mangled) {
  void* sym = dlsym(RTLD_NEXT, mangled);
  if (sym == nullptr) std::abort();
  Fn fn;
  std::memcpy(&fn, &sym, sizeof fn);
  return fn;
}

#define COUNTED_NEW(decl, mangled, type, args)                          \
  void* decl {                                                          \
    Note();                                                             \
    static const auto next = NextDefinition<void* (*) type>(mangled); \
    return next args;                                                   \
  }
#define COUNTED_DELETE(decl, mangled, type, args)                      \
  void decl noexcept {                                                 \
    if (p != nullptr) Note();                                          \
    static const auto next = NextDefinition<void (*) type>(mangled); \
    next args;                                                         \
  }
// size_t mangles as unsigned long (m) on 64-bit Linux, unsigned int (j) on 32-bit.
#if __SIZEOF_SIZE_T__ == 8
#define SIZE_T_CODE "m"
static_assert(std::is_same<size_t, unsigned long>::value, "size_t mangling");
#else
#define SIZE_T_CODE "j"
static_assert(std::is_same<size_t, unsigned int>::value, "size_t mangling");
#endif
using std::align_val_t;
using std::nothrow_t;
COUNTED_NEW(operator new(size_t n), "_Znw" SIZE_T_CODE, (size_t), (n))
COUNTED_NEW(operator new[](size_t n), "_Zna" SIZE_T_CODE, (size_t), (n))
COUNTED_NEW(operator new(size_t n, const nothrow_t& t) noexcept, "_Znw" SIZE_T_CODE "RKSt9nothrow_t", (size_t, const nothrow_t&), (n, t))
COUNTED_NEW(operator new[](size_t n, const nothrow_t& t) noexcept, "_Zna" SIZE_T_CODE "RKSt9nothrow_t", (size_t, const nothrow_t&), (n, t))
COUNTED_NEW(operator new(size_t n, align_val_t a), "_Znw" SIZE_T_CODE "St11align_val_t", (size_t, align_val_t), (n, a))
COUNTED_NEW(operator new[](size_t n, align_val_t a), "_Zna" SIZE_T_CODE "St11align_val_t", (size_t, align_val_t), (n, a))
COUNTED_NEW(operator new(size_t n, align_val_t a, const nothrow_t& t) noexcept, "_Znw" SIZE_T_CODE "St11align_val_tRKSt9nothrow_t",
            (size_t, align_val_t, const nothrow_t&), (n, a, t))
COUNTED_NEW(operator new[](size_t n, align_val_t a, const nothrow_t& t) noexcept, "_Zna" SIZE_T_CODE "St11align_val_tRKSt9nothrow_t",
            (size_t, align_val_t, const nothrow_t&), (n, a, t))
COUNTED_DELETE(operator delete(void* p), "_ZdlPv", (void*), (p))
COUNTED_DELETE(operator delete[](void* p), "_ZdaPv", (void*), (p))
COUNTED_DELETE(operator delete(void* p, size_t n), "_ZdlPv" SIZE_T_CODE, (void*, size_t), (p, n))
COUNTED_DELETE(operator delete[](void* p, size_t n), "_ZdaPv" SIZE_T_CODE, (void*, size_t), (p, n))
COUNTED_DELETE(operator delete(void* p, const nothrow_t& t), "_ZdlPvRKSt9nothrow_t", (void*, const nothrow_t&), (p, t))
COUNTED_DELETE(operator delete[](void* p, const nothrow_t& t), "_ZdaPvRKSt9nothrow_t", (void*, const nothrow_t&), (p, t))
COUNTED_DELETE(operator delete(void* p, align_val_t a), "_ZdlPvSt11align_val_t", (void*, align_val_t), (p, a))
COUNTED_DELETE(operator delete[](void* p, align_val_t a), "_ZdaPvSt11align_val_t", (void*, align_val_t), (p, a))
COUNTED_DELETE(operator delete(void* p, size_t n, align_val_t a), "_ZdlPv" SIZE_T_CODE "St11align_val_t", (void*, size_t, align_val_t),
               (p, n, a))
COUNTED_DELETE(operator delete[](void* p, size_t n, align_val_t a), "_ZdaPv" SIZE_T_CODE "St11align_val_t", (void*, size_t, align_val_t),
               (p, n, a))
COUNTED_DELETE(operator delete(void* p, align_val_t a, const nothrow_t& t), "_ZdlPvSt11align_val_tRKSt9nothrow_t",
               (void*, align_val_t, const nothrow_t&), (p, a, t))
COUNTED_DELETE(operator delete[](void* p, align_val_t a, const nothrow_t& t), "_ZdaPvSt11align_val_tRKSt9nothrow_t",
               (void*, align_val_t, const nothrow_t&), (p, a, t))
#endif  // NOALLOC_UNDER_ASAN

namespace {

// A memory checker such as valgrind takes the allocation entry points over
// from this file, so nothing can be counted under it.
bool UnderMemoryChecker() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

// Keeps the compiler from eliding an allocation whose result is unused.
void Escape(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

struct Counted {
  Counted() {
    g_calls.store(0);
    g_counting.store(true);
  }
  long Stop() {
    g_counting.store(false);
    return g_calls.load();
  }
};

TEST(allocFree, CounterSeesAllocationsFromThisFileAndFromSharedLibraries) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  Counted c;
  {
    std::vector<int> v(1000, 3);
    Escape(v.data());
    auto* aligned = new (std::align_val_t{64}) double[4];
    Escape(aligned);
    delete[] aligned;
    char* text = nullptr;
    if (asprintf(&text, "allocated inside the C library %d", 42) > 0) Escape(text);
    std::free(text);
  }
  // vector new + delete, aligned new[] + delete[], asprintf's malloc + free.
  EXPECT_GE(c.Stop(), 6);
}

TEST(allocFree, EveryOperationOfBothLibrariesAllocatesNothing) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::array<float, 360> good, bad;
  for (size_t i = 0; i < good.size(); ++i) good[i] = 0.6f + 0.01f * static_cast<float>(i % 50);
  const float junk[] = {nan, inf, -inf, 0.0f, -0.0f, -1.0f, 1e-40f, 1e30f, 0.25f, 4.0f, 6.0f};
  for (size_t i = 0; i < bad.size(); ++i) bad[i] = junk[i % (sizeof junk / sizeof junk[0])];
  PrintPath();  // standard output's buffer, the one allowed allocation
  float sink = 0.0f;
  float ox = 0.0f, oy = 0.0f;
  long calls;
  {
    Counted c;
    InitHelper();
    SetBorder(0.35f);
    SetBorder(nan);
    SetBorder(-1.0f);
    SetBorder(inf);
    SetBorder(0.2f);
    SetRanges(bad.data());
    SetRanges(nullptr);
    SetRanges(good.data());
    SetObst(60, 60);
    SetObst(-1, 5);
    SetObst(INT_MAX, INT_MIN);
    ClearObst();
    SetRanges(good.data());
    SetTarget(200, -3);
    SetTarget(INT_MIN, INT_MAX);
    ClearTarget();
    SetTarget(50, 80);
    SetTarget(60, 20);
    SetBack(50, 50);
    SetBack(-5, 1000);
    sink += static_cast<float>(ChkTarget(50, 80) + ChkTarget(-1, -1) + ChkTarget(INT_MAX, 0));
    sink += static_cast<float>(OutLine());
    StartPos();
    sink += static_cast<float>(PathGrow());
    sink += static_cast<float>(calPointCost(50, 51) + calPointCost(INT_MIN, 0));
    ShowMap();
    sink += static_cast<float>(GetHelperNum()) + GetFixX() + GetFixY() + GetFaceX() + GetFaceY();
    sink += CalAngle(GetFixX(), GetFixY()) + CalAngle(0.0f, 0.0f) + CalAngle(nan, inf);
    PrintPath();
    InitHelper();
    sink += static_cast<float>(OutLine());
    sink += thredhold(1.0f);
    sink += filter(1.5f, 0.0f, good.data(), nullptr, ox, oy);
    sink += filter(nan, inf, bad.data(), good.data(), ox, oy);
    sink += filter(ox, oy, nullptr, nullptr, ox, oy);
    sink += thredhold(nan);
    sink += filter(0.0f, 0.0f, good.data(), nullptr, ox, oy);
    calls = c.Stop();
  }
  Escape(&sink);
  EXPECT_EQ(calls, 0) << "allocation entry points called by the libraries";
}

TEST(allocFree, ScanBinningAllocatesNothing) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::array<float, 720> ranges, angles;
  for (size_t k = 0; k < ranges.size(); ++k) {
    ranges[k] = static_cast<float>(k % 7) * 500.0f;
    angles[k] = static_cast<float>(k) * 0.7f - 40.0f;
  }
  angles[3] = nan;
  angles[4] = 3e38f;
  ranges[5] = inf;
  ScanLayout mm;
  mm.zero_deg = 37.5;
  mm.clockwise = true;
  mm.range_scale = kScanMillimetres;
  mm.min_range = 0.1f;
  mm.max_range = 8.0f;
  ScanLayout bad = mm;
  bad.range_scale = nan;
  float out[360];
  long calls;
  bool sink = false;
  {
    Counted c;
    sink ^= BinEvenScan(ranges.data(), ranges.size(), mm, out);
    sink ^= BinEvenScan(ranges.data(), ranges.size(), bad, out);
    sink ^= BinSamples(angles.data(), ranges.data(), ranges.size(), mm, out);
    sink ^= BinSamples(nullptr, ranges.data(), ranges.size(), mm, out);
    sink ^= BinLaserScan(-3.14159274f, 0.00872664f, ranges.data(), ranges.size(), 0.1f, 8.0f, out);
    sink ^= BinLaserScan(nan, 0.1f, ranges.data(), 3, 0.0f, 1.0f, out);
    calls = c.Stop();
  }
  Escape(&sink);
  Escape(out);
  EXPECT_EQ(calls, 0) << "allocation entry points called by scanbin";
}

TEST(allocFree, PilotStepsAndReadBackAllocateNothing) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  const float inf = std::numeric_limits<float>::infinity();
  std::array<float, 360> scan;
  scan.fill(inf);
  for (int i = 170; i <= 190; ++i) scan[static_cast<size_t>(i)] = 1.0f;
  std::array<float, 1500> laser;
  laser.fill(1.5f);
  static PilotPass pass;  // the caller's, and large
  PilotConfig follow;
  follow.mode = PilotMode::kFollow;
  follow.mount_yaw_deg = 90;  // the piecewise LaserScan path
  Pilot pilot;
  PilotStep step;
  const PilotPoint candidate{1.0f, 0.0f};
  char json[kPilotJsonMax];
  long calls;
  size_t sink = 0;
  {
    Counted c;
    sink += static_cast<size_t>(pilot.Start(follow));
    sink += pilot.Step(scan.data(), &candidate, step);
    sink += pilot.StepLaserScan(-1.5f, 0.002f, laser.data(), laser.size(), 0.1f, 8.0f, nullptr, step);
    sink += pilot.StepEvenTurn(laser.data(), 400, nullptr, step);
    sink += pilot.ReadPass(pass);
    sink += PilotStepJson(step, 7, json, sizeof json);
    pilot.Stop();
    calls = c.Stop();
  }
  Escape(&sink);
  Escape(json);
  EXPECT_EQ(calls, 0) << "allocation entry points called by scanpilot";
}

TEST(allocFree, StreamDecodingAllocatesNothing) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  lds::Options o;
  o.turns = 3;
  o.start_inside = 5;
  o.markers_in_data = true;
  o.flip_every = 7;
  o.drop_every = 11;
  o.missing = {{1, 40}};
  const std::vector<uint8_t> bytes = lds::Generate(o).bytes;
  WireDecoder dec;
  WireDecoder unknown(static_cast<WireProtocol>(200));
  std::size_t turns = 0;
  long calls;
  {
    Counted c;
    for (std::size_t off = 0, step = 1; off < bytes.size(); step = step % 97 + 13) {
      off += dec.Feed(bytes.data() + off, std::min(step, bytes.size() - off));
      if (dec.TurnReady()) {
        turns += dec.Turn().count > 0 ? 1 : 0;
        dec.NextTurn();
      }
    }
    turns += dec.Flush() ? 1 : 0;
    dec.NextTurn();
    dec.Feed(nullptr, 3);
    unknown.Feed(bytes.data(), bytes.size());
    dec.Reset();
    calls = c.Stop();
  }
  Escape(&dec);
  EXPECT_EQ(turns, 3u);
  EXPECT_EQ(calls, 0) << "allocation entry points called by scanwire";
}

TEST(allocFree, SpinDecodingAllocatesNothing) {
#ifdef NOALLOC_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer owns malloc in this build";
#endif
  if (UnderMemoryChecker()) GTEST_SKIP() << "a memory checker owns malloc in this process";
  for (spin::Kind k : {spin::Kind::kLd06, spin::Kind::kRplidar, spin::Kind::kYdlidar}) {
    spin::Options o;
    o.turns = 3;
    o.flip_every = 7;
    o.drop_every = 11;
    const std::vector<uint8_t> bytes = spin::Write(k, o).bytes;
    static SpinDecoder dec(SpinProtocol::kLd06);
    dec = SpinDecoder(k == spin::Kind::kLd06      ? SpinProtocol::kLd06
                      : k == spin::Kind::kRplidar ? SpinProtocol::kRplidar
                                                  : SpinProtocol::kYdlidar);
    std::size_t turns = 0;
    long calls;
    {
      Counted c;
      for (std::size_t off = 0, step = 1; off < bytes.size(); step = step % 97 + 13) {
        off += dec.Feed(bytes.data() + off, std::min(step, bytes.size() - off));
        if (dec.TurnReady()) {
          ++turns;
          dec.NextTurn();
        }
      }
      dec.DropPartial();
      dec.Reset();
      calls = c.Stop();
    }
    Escape(&dec);
    EXPECT_GE(turns, 1u);  // a lost start packet may join two turns
    EXPECT_EQ(calls, 0) << "allocation entry points called by scanwire";
  }
}

}  // namespace
