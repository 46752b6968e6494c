// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's JSON writer: commas wherever parts meet, numbers that read
// back to the bits they came from, and text that stays one JSON string.
#include "base/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

TEST(JsonWriter, CommasWhereverPartsMeet) {
  JsonWriter w;
  w.BeginObject().Key("a").Int(1).Key("b").BeginArray().EndArray().Key("c").BeginArray();
  w.Int(-2).BeginObject().EndObject().Null().BeginArray().Bool(true).Bool(false).EndArray();
  w.EndArray().EndObject();
  EXPECT_EQ(w.Text(), R"({"a":1,"b":[],"c":[-2,{},null,[true,false]]})");

  // Member lists made apart and joined: a first list takes no comma, a later
  // one gets exactly one whether or not it starts with its own.
  JsonWriter first = JsonWriter::Members();
  first.Key("x").Int(1).Key("y").Int(2);
  EXPECT_EQ(first.Text(), R"("x":1,"y":2)");
  JsonWriter more = JsonWriter::Continuing();
  more.Key("z").Int(3);
  EXPECT_EQ(more.Text(), R"(,"z":3)");
  JsonWriter joined;
  joined.BeginObject().MoreMembers(more.Text()).MoreMembers(first.Text()).MoreMembers("").MoreMembers(",");
  joined.Key("w").Int(4).EndObject();
  EXPECT_EQ(joined.Text(), R"({"z":3,"x":1,"y":2,"w":4})");
  JsonWriter after;
  after.BeginObject().Key("k").Json("{\"inner\":0}").MoreMembers(first.Text()).EndObject();
  EXPECT_EQ(after.Text(), R"({"k":{"inner":0},"x":1,"y":2})");
  // Unsigned counts beyond a long long's range keep every digit.
  JsonWriter big;
  big.Count(std::numeric_limits<unsigned long long>::max());
  EXPECT_EQ(big.Text(), "18446744073709551615");
}

TEST(JsonWriter, NumbersReadBackToTheSameBits) {
  std::mt19937_64 rng(28);
  std::uniform_int_distribution<unsigned long long> bits;
  int doubles = 0, floats = 0;
  for (int i = 0; i < 20000; ++i) {
    const unsigned long long b = bits(rng);
    double d;
    float f;
    static_assert(sizeof d == sizeof b);
    std::memcpy(&d, &b, sizeof d);
    const auto b32 = static_cast<std::uint32_t>(b >> 11);
    std::memcpy(&f, &b32, sizeof f);
    if (std::isfinite(d)) {
      const std::string s = JsonNumber(d);
      doubles +=
          std::strtod(s.c_str(), nullptr) == d && std::signbit(std::strtod(s.c_str(), nullptr)) == std::signbit(d);
    } else {
      doubles += JsonNumber(d) == "null";
    }
    if (std::isfinite(f)) {
      const std::string s = JsonFloat(f);
      floats += std::strtof(s.c_str(), nullptr) == f;
    } else {
      floats += JsonFloat(f) == "null";
    }
  }
  EXPECT_EQ(doubles, 20000);
  EXPECT_EQ(floats, 20000);
  // A float is written as the float it is, not as the double it widens to.
  JsonWriter w;
  w.BeginArray().Float(0.1f).Number(static_cast<double>(0.1f)).Number(0.1).Number(-0.0);
  w.Number(std::numeric_limits<double>::infinity()).Float(std::nanf("")).EndArray();
  EXPECT_EQ(w.Text(), "[0.1,0.10000000149011612,0.1,-0,null,null]");
}

TEST(JsonWriter, FixedPlacesDropTrailingZerosAndTheSignOfZero) {
  EXPECT_EQ(JsonFixed(1.5, 3), "1.5");
  EXPECT_EQ(JsonFixed(2.0, 3), "2");
  EXPECT_EQ(JsonFixed(-0.0004, 3), "0");
  EXPECT_EQ(JsonFixed(-0.0005001, 3), "-0.001");
  EXPECT_EQ(JsonFixed(120.0, 0), "120");
  EXPECT_EQ(JsonFixed(12.3456, 2), "12.35");
  EXPECT_EQ(JsonFixed(std::nan(""), 3), "null");
  EXPECT_EQ(JsonFixed(-std::numeric_limits<double>::infinity(), 1), "null");
}

TEST(JsonWriter, KeysAndTextStayOneString) {
  JsonWriter w;
  w.BeginObject().Key("a\"b\\").String("line\nbreak\t\x7f").Key("bad").String("\xff").EndObject();
  EXPECT_EQ(w.Text(), "{\"a\\\"b\\\\\":\"line\\u000abreak\\u0009\\u007f\",\"bad\":\"\xEF\xBF\xBD\"}");
}

}  // namespace
