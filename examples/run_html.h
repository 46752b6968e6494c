// One self-contained HTML page that shows a whole run tick by tick: the
// planner's grid as the tick pictures draw it, the room view when there is a
// room, a timeline of the per-tick figures, and controls to scrub through it.
//
// The page needs no network: style, script and data are all inline. Outside
// text (titles, file names) is HTML-escaped where it enters markup, and the
// embedded data is written so that it cannot close the element it sits in.
//
// Plain structs of its own, so that the host's types may change freely.
#ifndef SCANPILOT_RUN_HTML_H
#define SCANPILOT_RUN_HTML_H

#include <array>
#include <cstddef>
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
};

struct ViewerRun {
  std::string title;           // any bytes; escaped and cut to kViewerTitleMax bytes
  std::string tick_name = "tick";  // what one step is called: "tick", "scan"
  std::vector<ViewerTick> ticks;
  bool has_room = false;
  ViewerRoom room;
  double dt = 0.0;             // seconds per tick; 0 when unknown
  double robot_radius = 0.2;   // metres, for the drawings
  double person_radius = 0.18;
};

constexpr std::size_t kViewerTitleMax = 200;

// The whole page.
std::string RunHtml(const ViewerRun& run);

// Building blocks, exposed for tests.
namespace run_html {

// Replaces bytes that are not well-formed UTF-8 with U+FFFD.
std::string ValidUtf8(const std::string& s);
// At most `max_bytes` bytes of valid UTF-8, never ending inside a character;
// "..." (as U+2026) marks a cut.
std::string CutTitle(const std::string& s, std::size_t max_bytes);
// &, <, >, " and ' as character references.
std::string HtmlEscape(const std::string& s);
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
