// Line charts of the sweep figures, drawn by gnuplot.
//
// A chart is one or more panels stacked top to bottom over a shared x
// axis; each panel has its own y axis, linear or logarithmic, and series
// of (x, y) points.  draw_chart writes the points and a gnuplot script to
// a scratch folder, runs gnuplot on them and leaves an 800 x 600 PNG.
//
// On a logarithmic axis a y of zero (or anything below the axis floor)
// cannot be drawn where it belongs: such points are drawn on the floor,
// so a curve that reaches no errors runs along the bottom edge.
#ifndef SENSITIVITY_CHARTS_H
#define SENSITIVITY_CHARTS_H

#include <cmath>
#include <string>
#include <vector>

namespace sensitivity {

struct series {
	std::string title;
	std::vector<double> x, y; // NaN y: the point is left out
	int colour = 0;           // index into the chart colours, one per chain
	int dash = 0;             // 0 solid, 1 dashed, 2 dotted
};

struct panel {
	std::string ylabel;
	bool log_y = false;
	double ymin = 0, ymax = 100; // ymin is the floor of a log axis
	double yref = NAN;           // a horizontal reference line, NaN for none
	std::vector<series> lines;
};

struct chart {
	std::string title, xlabel;
	double xmin = NAN, xmax = NAN; // NaN: from the points
	std::vector<panel> panels;
};

// Draws the chart into png_path with the gnuplot program named (a name
// looked up in PATH, or a path).  Empty on success, else what went wrong:
// gnuplot missing, its error output, or nothing to draw.
std::string draw_chart(const chart &c, const std::string &png_path, const std::string &gnuplot = "gnuplot");

} // namespace sensitivity

#endif
