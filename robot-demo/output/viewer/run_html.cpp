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
// contact, command [speed, turn rate, reason, 0 drove / 1 turned / 2 stood]]
// (null for none).
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
    // Drove, turned on the spot or stood still, judged before rounding, as
    // the summary counts them: a crawl that prints as 0.00 still drove.
    w.Int(t.speed > 0.0 ? 0 : t.turn_rate != 0.0 ? 1 : 2);
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
    const std::uint32_t v =
        (static_cast<std::uint32_t>(bytes[i]) << 16) | (static_cast<std::uint32_t>(bytes[i + 1]) << 8) | bytes[i + 2];
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

}  // namespace run_html

RunHtmlWriter::RunHtmlWriter(std::FILE* out, std::size_t max_ticks) : file_(out), max_ticks_(max_ticks) {}
RunHtmlWriter::RunHtmlWriter(std::string* out, std::size_t max_ticks) : text_(out), max_ticks_(max_ticks) {}

bool RunHtmlWriter::Put(const char* s, std::size_t n) {
  if (!ok_) return false;
  if (text_ != nullptr)
    text_->append(s, n);
  else
    ok_ = file_ != nullptr && std::fwrite(s, 1, n, file_) == n;
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
