// SPDX-License-Identifier: BSD-3-Clause
#include "base/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/safe_text.h"

namespace {

template <typename T>
std::string Shortest(T v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string JsonNumber(double v) { return Shortest(v); }
std::string JsonFloat(float v) { return Shortest(v); }

std::string JsonFixed(double v, int decimals) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

JsonWriter JsonWriter::Members() {
  JsonWriter w;
  w.first_.push_back(true);
  return w;
}

JsonWriter JsonWriter::Continuing() {
  JsonWriter w;
  w.first_.push_back(false);
  return w;
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_ += ',';
  first_.back() = false;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += JsonString(key);
  out_ += ':';
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Int(long long v) { return Json(std::to_string(v)); }
JsonWriter& JsonWriter::Count(unsigned long long v) { return Json(std::to_string(v)); }
JsonWriter& JsonWriter::Number(double v) { return Json(JsonNumber(v)); }
JsonWriter& JsonWriter::Float(float v) { return Json(JsonFloat(v)); }
JsonWriter& JsonWriter::Fixed(double v, int decimals) { return Json(JsonFixed(v, decimals)); }
JsonWriter& JsonWriter::Bool(bool v) { return Json(v ? "true" : "false"); }
JsonWriter& JsonWriter::Null() { return Json("null"); }
JsonWriter& JsonWriter::String(std::string_view s) { return Json(JsonString(s)); }

JsonWriter& JsonWriter::Json(std::string_view value) {
  BeforeValue();
  out_ += value;
  return *this;
}

JsonWriter& JsonWriter::MoreMembers(std::string_view members) {
  if (members.empty()) return *this;
  if (members.front() == ',') members.remove_prefix(1);
  if (members.empty()) return *this;
  if (!first_.empty() && !first_.back()) out_ += ',';
  out_ += members;
  if (!first_.empty()) first_.back() = false;
  return *this;
}
