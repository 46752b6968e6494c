// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/route_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string DirOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool ParseNumber(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool LoadRoute(const std::string& file, std::vector<SimPoint>& route, std::string& why) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    why = file + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::string line;
  long long n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::stringstream ss(line);
    std::string a, b, extra;
    double x = 0, y = 0;
    if (!(ss >> a >> b) || (ss >> extra) || !ParseNumber(a, x) || !ParseNumber(b, y)) {
      why = file + ":" + std::to_string(n) + ": a waypoint is two finite numbers 'x y' in metres";
      return false;
    }
    route.push_back({x, y});
  }
  if (in.bad()) {
    why = file + ": read error";
    return false;
  }
  if (route.empty()) {
    why = file + ": the route is empty";
    return false;
  }
  return true;
}

std::string Relative(const std::string& base_file, const std::string& p) {
  return !p.empty() && p[0] == '/' ? p : DirOf(base_file) + p;
}
