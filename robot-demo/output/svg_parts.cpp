// SPDX-License-Identifier: BSD-3-Clause
#include "output/svg_parts.h"

#include <cstdio>

#include "base/safe_text.h"

namespace svg_parts {

std::string F(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string Header(int w, int h) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) +
         "\" viewBox=\"0 0 " + std::to_string(w) + " " + std::to_string(h) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n"
         "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string Text(double x, double y, const std::string& s, const std::string& extra) {
  return "<text x=\"" + F(x) + "\" y=\"" + F(y) + "\" " + extra + ">" + XmlEscape(s) + "</text>\n";
}

std::string Line(double x0, double y0, double x1, double y1, const std::string& style) {
  return "<line x1=\"" + F(x0) + "\" y1=\"" + F(y0) + "\" x2=\"" + F(x1) + "\" y2=\"" + F(y1) + "\" " + style + "/>\n";
}

std::string Circle(double x, double y, double r, const std::string& style) {
  return "<circle cx=\"" + F(x) + "\" cy=\"" + F(y) + "\" r=\"" + F(r) + "\" " + style + "/>\n";
}

std::string Rect(double x, double y, double w, double h, const std::string& style) {
  return "<rect x=\"" + F(x) + "\" y=\"" + F(y) + "\" width=\"" + F(w) + "\" height=\"" + F(h) + "\" " + style + "/>\n";
}

std::string LegendRow(double x, double y, const std::string& swatch, const std::string& label) {
  return swatch + Text(x + 28, y + 4, label);
}

Box TextBox(double x, double y, const std::string& s, double font) {
  return {x, y - 0.8 * font, x + 0.62 * font * static_cast<double>(s.size()), y + 0.25 * font};
}

std::string LabelPlacer::Place(const std::vector<std::pair<double, double>>& spots, const std::string& s, double font,
                               const std::string& style) {
  std::size_t pick = 0;
  for (std::size_t i = 0; i < spots.size(); ++i) {
    if (Free(TextBox(spots[i].first, spots[i].second, s, font))) {
      pick = i;
      break;
    }
  }
  const auto& at = spots[pick];
  Reserve(TextBox(at.first, at.second, s, font));
  // A white halo keeps the label readable over tracks and circles.
  return Text(at.first, at.second, s,
              style + " font-size=\"" + F(font, 0) + "\" stroke=\"white\" stroke-width=\"3\" paint-order=\"stroke\"");
}

bool LabelPlacer::Free(const Box& b) const {
  for (const Box& t : taken_)
    if (t.Overlaps(b)) return false;
  return true;
}

}  // namespace svg_parts
