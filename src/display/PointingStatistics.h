#pragma once

#include "analysis/PointingAccumulator.h"

#include <qwt_text.h>

#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QVector>

#include <functional>

class GenericPlot;
class QwtPlotShapeItem;
class QwtPlotTextLabel;

// Pointing-mode statistics of the two stages: per connection an accumulator
// of each stage's positions, the mean and the RMS radius about the running
// mean of each stage, their texts in the upper left corner of the
// stage's position plot and a target cross with a circle of the RMS radius.
class PointingStatistics
{
public:
    // What one connection has added over the current run, per stage.
    struct Accumulator {
        PointingAccumulator stage1;
        PointingAccumulator stage2;
    };
    // Converted positions of one sample, in the display unit of each stage.
    struct Positions {
        double x1;
        double y1;
        double x2;
        double y2;
    };
    // Milliseconds on any monotonic clock; replaceable so the 10 ms text
    // refresh can be driven by hand.
    using Clock = std::function<qint64()>;
    // Unit text ("V", "mm", "µm") of stage 1 or 2 of a connection.
    using UnitSource = std::function<QString(int connection, int stage)>;

    static const QString clearedText;
    static constexpr qint64 refreshIntervalMs = 10;

    // The items are created here and attached to / detached from the two
    // position plots by setShown(). The plots must outlive this object.
    PointingStatistics(GenericPlot* stage1Plot, GenericPlot* stage2Plot, Clock clock = {});
    ~PointingStatistics();
    PointingStatistics(const PointingStatistics&) = delete;
    PointingStatistics& operator=(const PointingStatistics&) = delete;

    void setUnitSource(UnitSource source);

    // Accumulators follow the connection list: insert at index (-1 or the
    // count appends), remove at index.
    void addConnection(int index = -1);
    void removeConnection(int index);
    int connectionCount() const { return m_accumulators.size(); }
    Accumulator accumulator(int index) const;

    // One step of a run. display false: add the sample of connection index
    // (samplesTaken already counts it); a stage whose position is not finite
    // is left out, and each stage divides by the samples it added. The texts are rewritten when more
    // than 10 ms have passed since the last rewrite, or whenever display is
    // true; count is the number shown as "#samples". The crosses always
    // follow the means and the last RMS radii. Nothing is replotted.
    void update(int count, int index, int samplesTaken, bool display,
                const Positions& current = Positions());

    // Start a new run: zero every accumulator, cleared texts, unit crosses,
    // replot both position plots.
    void clear();

    // Restart the clock of the text refresh (at acquisition start).
    void restartClock();

    // Attach (on) or detach the text and cross of stage 1 or 2. Showing
    // recomputes the last shown result first when displayedIndex (the single
    // displayed connection, -1 when not exactly one) is valid and something
    // has been shown; the stage's plot is replotted.
    void setShown(int stage, bool on, int displayedIndex = -1, int samplesTaken = 0);
    bool isShown(int stage) const;

    double rms(int stage) const { return stage == 2 ? m_rms2 : m_rms1; }
    QPointF centre(int stage) const { return stage == 2 ? m_centre2 : m_centre1; }
    int lastShownCount() const { return m_lastShownCount; }
    QString text(int stage) const;
    QPainterPath crossShape(int stage) const;
    QwtPlotTextLabel* textItem(int stage) const;
    QwtPlotShapeItem* crossItem(int stage) const;

    // A circle of radius around centre with a horizontal and a vertical arm
    // reaching armHalfLength to each side.
    static QPainterPath crossPath(const QPointF& centre, double radius, double armHalfLength);
    // Cross of the RMS radius: arms of 2.6 x rms in total.
    static QPainterPath targetCross(const QPointF& centre, double rms);
    // The cross shown while nothing has been measured.
    static QPainterPath unitCross();
    static QString resultText(double meanX, double meanY, int count, double rms,
                              const QString& unit);

private:
    GenericPlot* plot(int stage) const { return stage == 2 ? m_plot2 : m_plot1; }
    void setTexts(const QString& text1, const QString& text2);

    GenericPlot* m_plot1;
    GenericPlot* m_plot2;
    Clock m_clock;
    UnitSource m_unitSource;
    QVector<Accumulator> m_accumulators;
    QPointF m_centre1;
    QPointF m_centre2;
    double m_rms1 = 0.0;
    double m_rms2 = 0.0;
    int m_lastShownCount = 0;
    qint64 m_lastRefresh = 0;
    QwtText m_text1;
    QwtText m_text2;
    QwtPlotTextLabel* m_textItem1;
    QwtPlotTextLabel* m_textItem2;
    QwtPlotShapeItem* m_cross1;
    QwtPlotShapeItem* m_cross2;
};
