#pragma once

class GenericPlot;

// The fixed set-up of the six plots of the main window, one function per
// plot kind. The main window calls these once after creating its plots.
namespace PlotConfigurator {

// Width of a sweep of the time plots in ms, and the time axis end in s.
constexpr double sweepWidthMs = 10000.0;
constexpr double timeAxisSeconds = 10.0;
constexpr double intensityMax = 8.0;
constexpr int positionTrailLength = 10;

// Position plot (y over x): 10-point trails, 3 x 3 symbols, all four axes
// over -5 .. 5, cross hairs, zoomer on.
void configurePositionPlot(GenericPlot* plot);

// x/y time plot: accumulating, time axis at the top (0 .. 10 s), left axis
// -5 .. 5 with at most 5 major steps, no zoom, arrow cursor, zero line.
void configureTimePlot(GenericPlot* plot);

// Intensity time plot: accumulating, time axis at the bottom (0 .. 10 s),
// left axis 0 .. 8 with at most 5 major and 3 minor steps, azure canvas, no
// zoom, arrow cursor.
void configureIntensityPlot(GenericPlot* plot);

// The zero line y = 0 of a time plot from 0 to width (the sweep width in ms);
// replaces the plot's previous zero line.
void drawWhiteLine(GenericPlot* timePlot, double width);

} // namespace PlotConfigurator
