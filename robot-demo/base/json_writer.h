// SPDX-License-Identifier: BSD-3-Clause
// The one way robot-demo writes JSON: values and members in order, the
// commas and the escapes by the writer, numbers in one of three forms.
//
//   JsonWriter w;
//   w.BeginObject().Key("scans").Int(12).Key("rpm").Float(6.5f).EndObject();
//   Print("%s\n", w.Text().c_str());   // {"scans":12,"rpm":6.5}
//
// Objects built in parts (a step and the members a run adds to it) pass
// member lists as text: Members() starts one, Continuing() one that goes on
// after members already written (its first member starts with a comma).
#ifndef SCANPILOT_BASE_JSON_WRITER_H
#define SCANPILOT_BASE_JSON_WRITER_H

#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  JsonWriter() = default;
  // Members of an object whose braces someone else writes.
  static JsonWriter Members();
  // The same, after members already written there: each starts with a comma.
  static JsonWriter Continuing();

  JsonWriter& Key(std::string_view key);
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();

  JsonWriter& Int(long long v);
  JsonWriter& Count(unsigned long long v);
  // Shortest text that reads back to the same value; null when not finite.
  JsonWriter& Number(double v);
  JsonWriter& Float(float v);
  // `decimals` places, trailing zeros and a bare point dropped, no "-0";
  // null when not finite (for pages, where size counts more than bits).
  JsonWriter& Fixed(double v, int decimals);
  JsonWriter& Bool(bool v);
  JsonWriter& Null();
  // Any bytes, made valid UTF-8 and escaped (JsonString).
  JsonWriter& String(std::string_view s);
  // A value already written as JSON (PilotStepJson's object).
  JsonWriter& Json(std::string_view value);
  // Members already written as JSON (another Members() or Continuing()
  // writer's text), with a comma before them unless they come first.
  JsonWriter& MoreMembers(std::string_view members);

  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();

  std::string out_;
  std::vector<bool> first_;  // per open object or array: nothing in it yet
  bool after_key_ = false;
};

// The number forms on their own, for text that is not JSON but must read
// the same (a command line to repeat a run).
std::string JsonNumber(double v);
std::string JsonFloat(float v);
std::string JsonFixed(double v, int decimals);

#endif
