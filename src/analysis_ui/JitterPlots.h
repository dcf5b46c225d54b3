#pragma once

#include "analysis/JitterAnalysis.h"

#include <QString>

#include <vector>

class QwtPlot;
class QWidget;

// The plots of a jitter analysis: the amplitude spectral density of x and y
// per stage on log-log axes with the cumulative RMS on the right axis, and
// the Allan deviation over the averaging time. Used by the analysis window
// and by the command-line tool's picture.
class JitterPlots
{
public:
    static QwtPlot *createSpectrumPlot(QWidget *parent = nullptr);
    static QwtPlot *createAllanPlot(QWidget *parent = nullptr);

    // Replace the curves of a plot made by the functions above with those of
    // the analysed axes (stage 1 x, y, stage 2 x, y) and replot.
    static void showSpectra(QwtPlot *plot, const std::vector<JitterAnalysis::Axis> &axes);
    static void showAllan(QwtPlot *plot, const std::vector<JitterAnalysis::Axis> &axes);

    // The spectrum above the Allan deviation in one PNG of width x height
    // pixels, under a title line. Needs a QApplication (the offscreen
    // platform will do). False with a message when the file cannot be written.
    static bool renderPng(const std::vector<JitterAnalysis::Axis> &axes, const QString &title, const QString &path,
                          int width, int height, QString &error);

    // Name and colour of an analysed axis's curve ("stage 1 x").
    static QString curveName(const JitterAnalysis::Axis &axis);
};
