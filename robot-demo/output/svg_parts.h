// SPDX-License-Identifier: BSD-3-Clause
// The pieces of this program's SVG pictures: numbers, elements with their
// style, and labels kept apart from each other.
#ifndef SCANPILOT_OUTPUT_SVG_PARTS_H
#define SCANPILOT_OUTPUT_SVG_PARTS_H

#include <string>
#include <utility>
#include <vector>

namespace svg_parts {

// `v` with `decimals` decimals.
std::string F(double v, int decimals = 1);
// The <svg> element of a w x h picture on white.
std::string Header(int w, int h);
// Every text goes through here, escaped: titles carry file names.
std::string Text(double x, double y, const std::string& s, const std::string& extra = "");
std::string Line(double x0, double y0, double x1, double y1, const std::string& style);
std::string Circle(double x, double y, double r, const std::string& style);
std::string Rect(double x, double y, double w, double h, const std::string& style);
// A legend row: a swatch drawn by `swatch` at (x, y), then its text.
std::string LegendRow(double x, double y, const std::string& swatch, const std::string& label);

// Rough extent of a line of text, for keeping labels apart: DejaVu Sans
// averages a little over half the font size per character.
struct Box {
  double x0, y0, x1, y1;
  bool Overlaps(const Box& b) const { return x0 < b.x1 && b.x0 < x1 && y0 < b.y1 && b.y0 < y1; }
};
Box TextBox(double x, double y, const std::string& s, double font);

// Puts each label at the first of its candidate spots that no earlier label
// (or reserved mark) covers; the first spot when every one is taken.
class LabelPlacer {
 public:
  void Reserve(const Box& b) { taken_.push_back(b); }
  std::string Place(const std::vector<std::pair<double, double>>& spots, const std::string& s, double font,
                    const std::string& style);

 private:
  bool Free(const Box& b) const;
  std::vector<Box> taken_;
};

}  // namespace svg_parts

#endif
