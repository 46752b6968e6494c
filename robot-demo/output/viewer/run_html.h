// SPDX-License-Identifier: BSD-3-Clause
// One self-contained HTML page that shows a whole run tick by tick: the
// planner's grid as the tick pictures draw it, the room view when there is a
// room, a timeline of the per-tick figures, and controls to scrub through it.
//
// The page needs no network: style, script and data are all inline. Outside
// text (titles, file names) is HTML-escaped where it enters markup, and the
// embedded data is written so that it cannot close the element it sits in.
//
// Plain structs of its own, so that the host's types may change freely.
#ifndef SCANPILOT_OUTPUT_VIEWER_RUN_HTML_H
#define SCANPILOT_OUTPUT_VIEWER_RUN_HTML_H

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct ViewerCell {
  int col, row;  // 0..99; X ahead = (row - 50) * 0.05 m, Y left = (col - 50) * 0.05 m
};

struct ViewerPoint {
  float x, y;  // metres, robot frame
};

struct ViewerTick {
  std::vector<unsigned char> blocked;    // 100*100, index row*100+col, nonzero = blocked
  std::vector<unsigned char> attraction; // 100*100, pull of each free cell (blocked: ignored)
  std::array<float, 360> scan{};         // metres, index = degree
  std::vector<ViewerCell> path;          // walking order, start excluded
  ViewerCell start{50, 50};
  ViewerPoint steering{0.0f, 0.0f};
  ViewerPoint path_end{0.0f, 0.0f};
  bool has_target = false;
  ViewerCell target{0, 0};
  bool has_raw_target = false;           // tracked point's cell before it was screened
  ViewerCell raw_target{0, 0};
  bool has_tracked = false;
  ViewerPoint tracked{0.0f, 0.0f};
  bool has_pose = false;                 // robot in the room frame (x, y metres, heading rad)
  double pose_x = 0.0, pose_y = 0.0, pose_heading = 0.0;
  bool has_person = false;               // room frame, metres
  double person_x = 0.0, person_y = 0.0;
  bool reached = false;
  int path_length = 0;
  float bearing_deg = 0.0f;              // NaN: none
  bool has_distance = false;             // to the person, metres
  double distance = 0.0;
  std::string info;                      // the line the command line printed for this tick
  bool has_contact = false;              // the run ended on a contact after this tick, here (room frame)
  double contact_x = 0.0, contact_y = 0.0;
  bool has_command = false;  // the drive command and why it does not drive ahead
  double speed = 0.0, turn_rate = 0.0;
  std::string reason;  // PilotReasonName, "driving" when it drives
};

struct ViewerSegment {
  double ax, ay, bx, by;
};
struct ViewerDisc {
  double x, y, r;
};

struct ViewerRoom {
  std::vector<ViewerSegment> walls;
  std::vector<ViewerDisc> pillars;
  double width = 0.0, depth = 0.0;
  std::vector<std::array<double, 2>> route;  // person's planned route, may be empty
  // An occupancy map under it all, when cells_w > 0: cells_w x cells_h cells
  // covering width x depth, rows from the top (highest y) as in an image;
  // 0 free, 1 wall, 2 unknown.
  int cells_w = 0, cells_h = 0;
  std::vector<unsigned char> cells;
};

// Everything about a run except its ticks.
struct ViewerRunHeader {
  std::string title;           // any bytes; escaped and cut to kViewerTitleMax bytes
  std::string tick_name = "tick";  // what one step is called: "tick", "scan"
  bool has_room = false;
  ViewerRoom room;
  double dt = 0.0;             // seconds per tick; 0 when unknown
  double robot_radius = 0.2;   // metres, for the drawings
  double person_radius = 0.18;
};

struct ViewerRun : ViewerRunHeader {
  std::vector<ViewerTick> ticks;
};

constexpr std::size_t kViewerTitleMax = 200;
// A page holds at most this many ticks (some 1.2 KB each, so ~25 MB), which
// keeps it loadable; later ticks are dropped and the page says so.
constexpr std::size_t kViewerMaxTicks = 20000;

// Writes the page as the run goes: each tick is encoded and written when it
// is added, so memory does not grow with the number of ticks. Usage: Begin,
// AddTick per tick, End. Any call after a write error does nothing and
// returns false; End reports whether every byte was written.
class RunHtmlWriter {
 public:
  // The caller opens and closes the file. `max_ticks` is for tests.
  explicit RunHtmlWriter(std::FILE* out, std::size_t max_ticks = kViewerMaxTicks);
  explicit RunHtmlWriter(std::string* out, std::size_t max_ticks = kViewerMaxTicks);  // appends
  RunHtmlWriter(const RunHtmlWriter&) = delete;
  RunHtmlWriter& operator=(const RunHtmlWriter&) = delete;

  bool Begin(const ViewerRunHeader& header);
  // False when not begun, ended, full (nothing written) or on a write error.
  bool AddTick(const ViewerTick& tick);
  // `total`: how many ticks the run had, when more than were added (the page
  // then says "first N of M"); 0 means all were added. Flushes a FILE.
  bool End(std::size_t total = 0);

  bool full() const { return count_ >= max_ticks_; }
  std::size_t count() const { return count_; }  // ticks written
  bool ok() const { return ok_; }

 private:
  bool Put(const std::string& s);
  bool Put(const char* s, std::size_t n);

  std::FILE* file_ = nullptr;
  std::string* text_ = nullptr;
  std::size_t max_ticks_;
  bool ok_ = true;
  int stage_ = 0;  // 0 before Begin, 1 open, 2 ended
  std::size_t count_ = 0;
  std::string escaped_title_;
  std::vector<unsigned char> reference_;  // attraction the next record may refer to
};

// The whole page at once (through RunHtmlWriter, so the same bytes).
std::string RunHtml(const ViewerRun& run);

// Building blocks, exposed for tests.
namespace run_html {

// At most `max_bytes` bytes of valid UTF-8, never ending inside a character;
// "..." (as U+2026) marks a cut.
std::string CutTitle(const std::string& s, std::size_t max_bytes);
// A JSON string literal in which no '<', '>' or '&' appears literally, so it
// may sit inside a script element.
std::string JsonString(const std::string& s);

std::string Base64(const std::vector<unsigned char>& bytes);

// The per-tick grid record (blocked cells, attraction, scan, path, cells).
// `reference` carries the attraction of the last fully coded tick from one
// call to the next; start with an empty vector.
std::vector<unsigned char> EncodeGrid(const ViewerTick& tick, std::vector<unsigned char>& reference);

}  // namespace run_html

#endif
