// SPDX-License-Identifier: BSD-3-Clause
#include "output/viewer/run_html.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "base/json_writer.h"
#include "base/safe_text.h"
#include "grid_frame.h"

namespace {

// Built from viewer.html, .css and .js beside this file; holds {{TITLE}} and {{DATA}}.
#include "run_html_page.inc"

constexpr std::string_view kDataMarker = "{{DATA}}";

constexpr int kN = kGridCells;
constexpr int kCells = kN * kN;
constexpr double kGridHalf = kGridReach;

// A path cell that is not a neighbour of the one before: the step code past
// the last of kStepCol/kStepRow, followed by the cell.
constexpr unsigned char kFarStep = kSteps;

void PutVarint(std::vector<unsigned char>& out, std::uint32_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<unsigned char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<unsigned char>(v));
}

std::uint32_t ZigZag(std::int32_t v) {
  return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v < 0 ? -1 : 0);
}

void PutSigned(std::vector<unsigned char>& out, std::int32_t v) { PutVarint(out, ZigZag(v)); }

void PutCell(std::vector<unsigned char>& out, ViewerCell c) {
  PutSigned(out, c.col);
  PutSigned(out, c.row);
}

// Prediction of a cell's pull from its left, upper and upper-left neighbours:
// a plane through them, which fits a cone's flanks closely.
int Predict(const std::vector<unsigned char>& a, int col, int row) {
  const auto at = [&](int c, int r) { return static_cast<int>(a[static_cast<std::size_t>(r * kN + c)]); };
  if (row == 0) return col == 0 ? 0 : at(col - 1, 0);
  if (col == 0) return at(0, row - 1);
  return std::clamp(at(col - 1, row) + at(col, row - 1) - at(col - 1, row - 1), 0, 255);
}

// Pull of a cell (dcol, drow) away from a target, as the planner stamps it;
// the page's reader computes the same from the grid numbers it is given.
int Cone(int dcol, int drow) { return PathgridConeAt(dcol, drow); }

bool Blocked(const ViewerTick& t, std::size_t k) { return k < t.blocked.size() && t.blocked[k] != 0; }

unsigned char Pull(const ViewerTick& t, std::size_t k) { return k < t.attraction.size() ? t.attraction[k] : 0; }

// Pairs (run of cells equal to their prediction, residual) in row order;
// blocked cells take the prediction. `decoded` (may be null) gets the values
// a reader rebuilds, which is what a prediction from neighbours looks at.
template <typename P>
void PutResiduals(std::vector<unsigned char>& out, const ViewerTick& t, P&& predict,
                  std::vector<unsigned char>* decoded) {
  std::vector<unsigned char> own(kCells, 0);
  std::vector<unsigned char>& a = decoded ? *decoded : own;
  std::uint32_t zeros = 0;
  for (int row = 0; row < kN; ++row)
    for (int col = 0; col < kN; ++col) {
      const auto k = static_cast<std::size_t>(row * kN + col);
      const int p = predict(a, col, row);
      const int v = Blocked(t, k) ? p : Pull(t, k);
      a[k] = static_cast<unsigned char>(v);
      if (v == p) {
        ++zeros;
        continue;
      }
      PutVarint(out, zeros);
      PutSigned(out, v - p);
      zeros = 0;
    }
  if (zeros > 0) PutVarint(out, zeros);
}

// Millimetres plus kScanOffset; 0 means "not drawn" (no finite return on the
// grid, where |reading| < 2.5 * sqrt(2) m).
constexpr std::int32_t kScanOffset = 4096;

std::int32_t ScanCode(float reading, int degree) {
  const double d = static_cast<double>(reading);
  if (!std::isfinite(d)) return 0;
  const double a = degree * kPi / 180.0;
  const double x = -d * std::cos(a), y = -d * std::sin(a);
  if (!(std::fabs(x) < kGridHalf && std::fabs(y) < kGridHalf)) return 0;
  return static_cast<std::int32_t>(std::lround(d * 1000.0)) + kScanOffset;  // |d| < 3.6 m here
}

// Variable-length codes of 4 bits: 3 value bits, low first, and a "more"
// bit; two codes to a byte, the first in the low half.
class Nibbles {
 public:
  explicit Nibbles(std::vector<unsigned char>& out) : out_(out) {}
  void Put(std::uint32_t v) {
    do {
      const unsigned n = (v & 7u) | (v > 7u ? 8u : 0u);
      v >>= 3;
      if (half_) out_.back() = static_cast<unsigned char>(out_.back() | (n << 4));
      else out_.push_back(static_cast<unsigned char>(n));
      half_ = !half_;
    } while (v > 0);
  }

 private:
  std::vector<unsigned char>& out_;
  bool half_ = false;
};

// The parts of a tick's grid record, in the order EncodeGrid writes them.

void PutBlocked(std::vector<unsigned char>& out, const ViewerTick& t) {
  std::vector<std::uint32_t> runs;
  bool state = false;
  std::uint32_t run = 0;
  for (std::size_t k = 0; k < kCells; ++k) {
    if (Blocked(t, k) != state) {
      runs.push_back(run);
      state = !state;
      run = 0;
    }
    ++run;
  }
  runs.push_back(run);
  PutVarint(out, static_cast<std::uint32_t>(runs.size()));
  for (std::uint32_t r : runs) PutVarint(out, r);
}

// The shortest of: against the reference (a field that stays put), against
// a cone around the target cell (how the pull usually looks), or a fresh
// field from neighbours, which then becomes the reference.
void PutAttraction(std::vector<unsigned char>& out, const ViewerTick& t, std::vector<unsigned char>& reference) {
  std::vector<unsigned char> best;
  if (reference.size() == kCells) {
    best.push_back(0);
    PutResiduals(best, t, [&](const std::vector<unsigned char>&, int col, int row) {
      return static_cast<int>(reference[static_cast<std::size_t>(row * kN + col)]);
    }, nullptr);
  }
  std::vector<unsigned char> cone{2};
  PutResiduals(cone, t, [&](const std::vector<unsigned char>&, int col, int row) {
    return t.has_target ? Cone(col - t.target.col, row - t.target.row) : 0;
  }, nullptr);
  if (best.empty() || cone.size() < best.size()) best.swap(cone);
  std::vector<unsigned char> full{1}, decoded(kCells, 0);
  PutResiduals(full, t, Predict, &decoded);
  if (full.size() < best.size()) {
    best.swap(full);
    reference = decoded;
  }
  out.insert(out.end(), best.begin(), best.end());
}

// Each code predicted from the two before it (a straight wall continues),
// or from the one before at the edge of what is drawn.
void PutScan(std::vector<unsigned char>& out, const ViewerTick& t) {
  Nibbles scan(out);
  std::int32_t before = 0, last = 0;
  for (int i = 0; i < 360; ++i) {
    const std::int32_t code = ScanCode(t.scan[static_cast<std::size_t>(i)], i);
    const std::int32_t guess = before != 0 && last != 0 ? 2 * last - before : last;
    scan.Put(ZigZag(code - guess));
    before = last;
    last = code;
  }
}

void PutPath(std::vector<unsigned char>& out, const ViewerTick& t) {
  PutVarint(out, static_cast<std::uint32_t>(t.path.size()));
  for (std::size_t i = 0; i < t.path.size(); ++i) {
    const ViewerCell c = t.path[i];
    unsigned char code = kFarStep;
    if (i > 0)
      for (unsigned char s = 0; s < kSteps; ++s)
        if (c.col - t.path[i - 1].col == kStepCol[s] && c.row - t.path[i - 1].row == kStepRow[s]) code = s;
    if (i > 0) out.push_back(code);
    if (i == 0 || code == kFarStep) PutCell(out, c);
  }
}

// Numbers on the page: fixed places, which keep it small.
void Fixed3(JsonWriter& w, std::initializer_list<double> values) {
  w.BeginArray();
  for (double v : values) w.Fixed(v, 3);
  w.EndArray();
}

void Point(JsonWriter& w, ViewerPoint p) { Fixed3(w, {static_cast<double>(p.x), static_cast<double>(p.y)}); }

// Text on the page goes through the page's own escaping (safe inside <script>).
void PageString(JsonWriter& w, const std::string& s) { w.Json(run_html::JsonString(s)); }

void RoomJson(JsonWriter& w, const ViewerRoom& r) {
  w.BeginObject().Key("width").Fixed(r.width, 3).Key("depth").Fixed(r.depth, 3);
  w.Key("walls").BeginArray();
  for (const ViewerSegment& s : r.walls) Fixed3(w, {s.ax, s.ay, s.bx, s.by});
  w.EndArray().Key("pillars").BeginArray();
  for (const ViewerDisc& d : r.pillars) Fixed3(w, {d.x, d.y, d.r});
  w.EndArray().Key("route").BeginArray();
  for (const std::array<double, 2>& p : r.route) Fixed3(w, {p[0], p[1]});
  w.EndArray();
  if (r.cells_w > 0 && r.cells_h > 0 &&
      r.cells.size() == static_cast<std::size_t>(r.cells_w) * static_cast<std::size_t>(r.cells_h)) {
    w.Key("cells").BeginObject().Key("w").Int(r.cells_w).Key("h").Int(r.cells_h);
    w.Key("data").String(run_html::Base64(r.cells)).EndObject();
  }
  w.EndObject();
}

// Up to the opening of the ticks array.
std::string HeaderJson(const ViewerRunHeader& run, const std::string& title) {
  JsonWriter w;
  w.BeginObject().Key("title");
  PageString(w, title);
  w.Key("tickName");
  PageString(w, run.tick_name);
  w.Key("dt").Fixed(run.dt > 0.0 ? run.dt : NAN, 6);
  w.Key("robotRadius").Fixed(run.robot_radius, 3).Key("personRadius").Fixed(run.person_radius, 3);
  // The path steps' table, so that the page's decoder cannot disagree with it.
  w.Key("steps").BeginArray();
  for (int i = 0; i < kSteps; ++i) w.BeginArray().Int(kStepCol[i]).Int(kStepRow[i]).EndArray();
  w.EndArray();
  // The grid's numbers, so that the page's drawing and cone cannot disagree with the planner's.
  w.Key("grid").BeginObject().Key("side").Int(kPathgridSide).Key("centre").Int(kPathgridCentre);
  w.Key("cellsPerMetre").Fixed(kPathgridCellsPerMetre, 6).Key("coneTop").Int(kPathgridConeTop);
  w.Key("mark").Int(kPathgridTargetMark).EndObject();
  w.Key("room");
  if (run.has_room)
    RoomJson(w, run.room);
  else
    w.Null();
  w.Key("ticks").BeginArray();
  return w.Text();
}

// One tick, in the order viewer.js reads it: [info, reached (0/1), path
// length, bearing, distance, steering, path end, tracked, pose, person, grid,
// contact, command [speed, turn rate, reason]] (null for none).
std::string TickJson(const ViewerTick& t, std::vector<unsigned char>& reference) {
  JsonWriter w;
  w.BeginArray();
  PageString(w, t.info);
  w.Int(t.reached ? 1 : 0).Int(t.path_length).Fixed(static_cast<double>(t.bearing_deg), 1);
  if (t.has_distance)
    w.Fixed(t.distance, 3);
  else
    w.Null();
  Point(w, t.steering);
  Point(w, t.path_end);
  if (t.has_tracked)
    Point(w, t.tracked);
  else
    w.Null();
  if (t.has_pose)
    Fixed3(w, {t.pose_x, t.pose_y, t.pose_heading});
  else
    w.Null();
  if (t.has_person)
    Fixed3(w, {t.person_x, t.person_y});
  else
    w.Null();
  w.String(run_html::Base64(run_html::EncodeGrid(t, reference)));
  if (t.has_contact)
    Fixed3(w, {t.contact_x, t.contact_y});
  else
    w.Null();
  if (t.has_command) {
    w.BeginArray().Fixed(t.speed, 2).Fixed(t.turn_rate, 2);
    PageString(w, t.reason);
    w.EndArray();
  } else {
    w.Null();
  }
  return w.EndArray().Text();
}

// Copies `page` with {{TITLE}} replaced, in one pass: substituted text is
// never searched again, and other markers stay as they are.
std::string FillTitle(const char* page, std::size_t size, const std::string& title) {
  std::string o;
  std::size_t i = 0;
  const std::string_view p(page, size);
  while (i < p.size()) {
    const std::size_t at = p.find("{{TITLE}}", i);
    if (at == std::string_view::npos) break;
    o.append(p.substr(i, at - i));
    o += title;
    i = at + 9;
  }
  o.append(p.substr(i));
  return o;
}


}  // namespace

namespace run_html {

std::string CutTitle(const std::string& s, std::size_t max_bytes) {
  const std::string v = CleanUtf8(s);
  if (v.size() <= max_bytes) return v;
  const std::string mark = "\xe2\x80\xa6";
  if (max_bytes < mark.size()) return "";
  std::size_t end = max_bytes - mark.size();
  while (end > 0 && (static_cast<unsigned char>(v[end]) & 0xc0) == 0x80) --end;  // not inside a character
  return v.substr(0, end) + mark;
}

std::string JsonString(const std::string& s) {
  const std::string v = CleanUtf8(s);
  std::string o = "\"";
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto c = static_cast<unsigned char>(v[i]);
    char buf[8];
    if (c == '"' || c == '\\') {
      o += '\\';
      o += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7f) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      o += buf;
    } else if (c == 0xe2 && i + 2 < v.size() && static_cast<unsigned char>(v[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(v[i + 2]) == 0xa8 || static_cast<unsigned char>(v[i + 2]) == 0xa9)) {
      o += static_cast<unsigned char>(v[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";  // line breaks to old parsers
      i += 2;
    } else {
      o += static_cast<char>(c);
    }
  }
  return o + "\"";
}

std::string Base64(const std::vector<unsigned char>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string o;
  o.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<std::uint32_t>(bytes[i]) << 16) |
                            (static_cast<std::uint32_t>(bytes[i + 1]) << 8) | bytes[i + 2];
    o += kAlphabet[(v >> 18) & 63];
    o += kAlphabet[(v >> 12) & 63];
    o += kAlphabet[(v >> 6) & 63];
    o += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    o += kAlphabet[(v >> 18) & 63];
    o += kAlphabet[(v >> 12) & 63];
    o += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o += '=';
  }
  return o;
}

// Record layout (all integers LEB128 varints, signed ones zigzagged):
//   flags (1: target, 2: raw target); start cell; [target]; [raw target]
//   blocked: number of runs, then run lengths alternating free, blocked, ...
//   attraction: a mode byte, then (zero run, residual) pairs over the cells,
//     blocked cells taking the prediction; mode 1 predicts from the left,
//     upper and upper-left neighbours and makes the result the reference,
//     mode 0 predicts the reference (the last mode 1 tick's values), mode 2
//     predicts Cone around the target cell (0 without a target)
//   scan: 360 residuals of ScanCode against its prediction, zigzagged, in
//     4-bit codes (Nibbles), padded to a whole byte
//   path: count, first cell, then per cell its step from the one before
//     (an index into kStepCol/kStepRow, the page's "steps"), or 8 + the cell
std::vector<unsigned char> EncodeGrid(const ViewerTick& t, std::vector<unsigned char>& reference) {
  std::vector<unsigned char> out;
  out.push_back(static_cast<unsigned char>((t.has_target ? 1 : 0) | (t.has_raw_target ? 2 : 0)));
  PutCell(out, t.start);
  if (t.has_target) PutCell(out, t.target);
  if (t.has_raw_target) PutCell(out, t.raw_target);
  PutBlocked(out, t);
  PutAttraction(out, t, reference);
  PutScan(out, t);
  PutPath(out, t);
  return out;
}

}  // namespace run_html

RunHtmlWriter::RunHtmlWriter(std::FILE* out, std::size_t max_ticks) : file_(out), max_ticks_(max_ticks) {}
RunHtmlWriter::RunHtmlWriter(std::string* out, std::size_t max_ticks) : text_(out), max_ticks_(max_ticks) {}

bool RunHtmlWriter::Put(const char* s, std::size_t n) {
  if (!ok_) return false;
  if (text_ != nullptr) text_->append(s, n);
  else ok_ = file_ != nullptr && std::fwrite(s, 1, n, file_) == n;
  return ok_;
}

bool RunHtmlWriter::Put(const std::string& s) { return Put(s.data(), s.size()); }

bool RunHtmlWriter::Begin(const ViewerRunHeader& header) {
  if (stage_ != 0) return false;
  stage_ = 1;
  const std::string title = run_html::CutTitle(header.title, kViewerTitleMax);
  escaped_title_ = XmlEscape(title);
  const std::string_view page(kRunHtmlPage, sizeof kRunHtmlPage - 1);
  const std::size_t at = page.find(kDataMarker);
  if (at == std::string_view::npos) return ok_ = false;
  return Put(FillTitle(page.data(), at, escaped_title_)) && Put(HeaderJson(header, title));
}

bool RunHtmlWriter::AddTick(const ViewerTick& tick) {
  if (stage_ != 1 || full()) return false;
  const std::string record = (count_ > 0 ? "," : "") + TickJson(tick, reference_);
  ++count_;
  return Put(record);
}

bool RunHtmlWriter::End(std::size_t total) {
  if (stage_ != 1) return false;
  stage_ = 2;
  const std::string_view page(kRunHtmlPage, sizeof kRunHtmlPage - 1);
  const std::size_t at = page.find(kDataMarker) + kDataMarker.size();
  Put("],\"total\":" + std::to_string(std::max(total, count_)) + "}");
  Put(FillTitle(page.data() + at, page.size() - at, escaped_title_));
  if (file_ != nullptr && ok_) ok_ = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  return ok_;
}

std::string RunHtml(const ViewerRun& run) {
  std::string page;
  RunHtmlWriter w(&page);
  w.Begin(run);
  for (const ViewerTick& t : run.ticks)
    if (!w.AddTick(t)) break;
  w.End(run.ticks.size());
  return page;
}
