// SPDX-License-Identifier: BSD-3-Clause
// A step as one line of JSON, its fields from step_fields.h.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "scanpilot.h"
#include "step_fields.h"

namespace {

class JsonOut {
 public:
  JsonOut(char* out, std::size_t size) : out_(out), size_(size) {}
  void Raw(const char* s) { Put(s, std::strlen(s)); }
  void Key(const char* k) {
    Raw(first_ ? "\"" : ",\"");
    first_ = false;
    Raw(k);
    Raw("\":");
  }
  void Bool(bool b) { Raw(b ? "true" : "false"); }
  void Int(long long v) {
    char buf[24];
    const int n = std::snprintf(buf, sizeof buf, "%lld", v);
    Put(buf, static_cast<std::size_t>(n));
  }
  void Float(float v) { Number(v); }
  void Double(double v) { Number(v); }
  void Point(const PilotPoint& p) {
    Raw("{");
    first_ = true;
    Key("x");
    Float(p.x);
    Key("y");
    Float(p.y);
    Raw("}");
    first_ = false;
  }
  void Cell(const PilotCell& c) {
    Raw("[");
    Int(c.col);
    Raw(",");
    Int(c.row);
    Raw("]");
  }
  void Command(const PilotCommand& c) {
    Raw("{");
    first_ = true;
    Key("speed");
    Double(c.speed);
    Key("turn_rate");
    Double(c.turn_rate);
    Raw("}");
    first_ = false;
  }
  void Reason(PilotReason r) {
    Raw("\"");
    Raw(PilotReasonName(r));
    Raw("\"");
  }
  std::size_t Finish() {
    if (size_ > 0) out_[std::min(len_, size_ - 1)] = '\0';
    return len_;
  }

 private:
  // Shortest text that reads back to the same value.
  template <typename T>
  void Number(T v) {
    if (!std::isfinite(v)) return Raw("null");
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    Put(buf, static_cast<std::size_t>(r.ptr - buf));
  }
  void Put(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, ++len_)
      if (len_ + 1 < size_) out_[len_] = s[i];
  }

  char* out_;
  std::size_t size_;
  std::size_t len_ = 0;
  bool first_ = true;
};

}  // namespace

std::size_t PilotStepJson(const PilotStep& s, long long scan, char* out, std::size_t size) {
  JsonOut j(out, size);
  j.Raw("{");
  j.Key("schema");
  j.Int(kPilotJsonSchema);
  j.Key("scan");
  j.Int(scan);
#define SCANPILOT_JSON_FIELD(key, kind, value, present) \
  j.Key(key);                                           \
  if (present)                                          \
    j.kind(value);                                      \
  else                                                  \
    j.Raw("null");
  SCANPILOT_STEP_FIELDS(SCANPILOT_JSON_FIELD)
#undef SCANPILOT_JSON_FIELD
  j.Raw("}");
  return j.Finish();
}
