// SPDX-License-Identifier: BSD-3-Clause
// The step's field list (scanpilot/step_fields.h) against what users read:
// the table of docs/json.md and the Python stub's Step. A field added to
// the list and not described, or described with another type, fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scanpilot.h"
#include "step_fields.h"

namespace {

struct Field {
  std::string key, kind;
  bool nullable;  // its presence depends on the step
};

std::vector<Field> Table() {
  std::vector<Field> t;
#define SCANPILOT_TEST_FIELD(key, kind, value, present) t.push_back({key, #kind, std::strcmp(#present, "true") != 0});
  SCANPILOT_STEP_FIELDS(SCANPILOT_TEST_FIELD)
#undef SCANPILOT_TEST_FIELD
  return t;
}

std::string Read(const char* relative) {
  std::ifstream in(std::string(SCANPILOT_SOURCE_DIR) + "/" + relative);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// docs/json.md's type column for a field.
std::string DocType(const Field& f) {
  static const std::map<std::string, std::string> base = {{"Bool", "bool"},
                                                          {"Int", "int"},
                                                          {"Float", "float or null"},
                                                          {"Double", "double or null"},
                                                          {"Point", "`{\"x\",\"y\"}` float"},
                                                          {"Cell", "`[col, row]`"},
                                                          {"Command", "`{\"speed\",\"turn_rate\"}` double"},
                                                          {"Reason", "string"}};
  return base.at(f.kind) + (f.nullable ? " or null" : "");
}

// The stub's return type of the Step property of the same name.
std::string StubType(const Field& f) {
  static const std::map<std::string, std::string> base = {{"Bool", "bool"},
                                                          {"Int", "int"},
                                                          {"Float", "float"},
                                                          {"Double", "float"},
                                                          {"Point", "Point"},
                                                          {"Cell", "Cell"},
                                                          {"Command", "Tuple[float, float]"},
                                                          {"Reason", "str"}};
  const std::string t = base.at(f.kind);
  return f.nullable ? "Optional[" + t + "]" : t;
}

// (key, type) of each row of the per-scan table, in order.
std::vector<std::pair<std::string, std::string>> DocRows(const std::string& doc) {
  std::vector<std::pair<std::string, std::string>> rows;
  const auto start = doc.find("## One object per scan");
  if (start == std::string::npos) return rows;
  std::istringstream in(doc.substr(start));
  std::string line;
  bool in_table = false;
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) == 0) {
      in_table = true;
      const std::size_t k0 = 3, k1 = line.find('`', 3);
      const auto c1 = line.find(" | ", k1), c2 = line.find(" | ", c1 + 3);
      rows.emplace_back(line.substr(k0, k1 - k0), Trim(line.substr(c1 + 3, c2 - c1 - 3)));
    } else if (in_table && line.rfind("|", 0) != 0) {
      break;
    }
  }
  return rows;
}

// Property name -> return type in the stub's class Step.
std::map<std::string, std::string> StubProperties(const std::string& stub) {
  std::map<std::string, std::string> props;
  const auto start = stub.find("\nclass Step:");
  const auto end = stub.find("\nclass ", start + 1);
  if (start == std::string::npos) return props;
  std::istringstream in(stub.substr(start, end - start));
  std::string line;
  bool property = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line == "@property") {
      property = true;
      continue;
    }
    const auto arrow = line.find(") -> ");
    if (property && line.rfind("def ", 0) == 0 && arrow != std::string::npos) {
      const std::string name = line.substr(4, line.find('(') - 4);
      const auto colon = line.find(':', arrow);
      props[name] = line.substr(arrow + 5, colon - arrow - 5);
    }
    property = false;
  }
  return props;
}

TEST(StepFields, DocsDescribeEveryFieldInOrderWithItsType) {
  const auto rows = DocRows(Read("docs/json.md"));
  std::vector<std::pair<std::string, std::string>> want = {{"schema", "int"}, {"scan", "int"}};
  for (const Field& f : Table()) want.emplace_back(f.key, DocType(f));
  ASSERT_FALSE(rows.empty()) << "no per-scan table in docs/json.md";
  for (std::size_t i = 0; i < want.size() || i < rows.size(); ++i) {
    const auto got = i < rows.size() ? rows[i] : std::make_pair(std::string("(none)"), std::string());
    const auto exp = i < want.size() ? want[i] : std::make_pair(std::string("(none)"), std::string());
    EXPECT_EQ(got, exp) << "row " << i;
  }
}

TEST(StepFields, StubHasAPropertyOfTheSameTypeForEveryField) {
  const auto props = StubProperties(Read("python/scanpilot/__init__.pyi"));
  ASSERT_FALSE(props.empty()) << "no class Step in the stub";
  for (const Field& f : Table()) {
    const auto it = props.find(f.key);
    if (it == props.end()) {
      ADD_FAILURE() << "the stub's Step has no property " << f.key;
      continue;
    }
    EXPECT_EQ(it->second, StubType(f)) << f.key;
  }
}

}  // namespace
