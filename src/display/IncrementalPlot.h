#pragma once

#include "display/CurveLayer.h"

#include <qwt_plot.h>

#include <QColor>
#include <QPointF>
#include <QSize>
#include <QVector>

class QwtPlotCurve;
class CurveData;

// A plot of point series that grow one point at a time. Each series is drawn
// as dots with an ellipse symbol in the series' colour. Without accumulation a
// series keeps only its last trailLength() points (a trail). Points are only
// stored here; the owner replots once per display tick (auto replot is off).
class IncrementalPlot : public QwtPlot
{
    Q_OBJECT
public:
    explicit IncrementalPlot(QWidget* parent = nullptr);
    ~IncrementalPlot() override;

    // Inserts a curve at index i (i <= curveCount()); false when i is beyond
    // the end. The curve is titled with the number of curves before it.
    bool addCurve(int i);
    // false when i >= curveCount(); true without removing anything for i < 0.
    bool removeCurve(int i);
    int curveCount() const { return m_curves.size(); }

    void setCurveColor(const QColor& colour, int i);
    QColor curveColor(int i) const;
    QwtPlotCurve* curve(int i) const;
    const CurveData* curveData(int i) const;

    void setSymbolSize(const QSize& size);
    QSize symbolSize() const { return m_symbolSize; }
    void setTrailLength(int length);
    int trailLength() const { return m_trailLength; }
    bool accumulates() const { return m_accumulate; }

    void appendData(int i, const QPointF& point);
    void clearCurve(int i);
    void clearAllCurves();

public slots:
    // Keep every point (true) or a trail (false). Switching off empties every
    // curve; switching on keeps what is there.
    void setAccumulate(bool on);

protected:
    // While the curves accumulate they are drawn through one kept image
    // (CurveLayer) when that gives the same picture; otherwise, and for
    // every other item, as QwtPlot draws them.
    void drawItems(QPainter* painter, const QRectF& canvasRect,
                   const QwtScaleMap maps[axisCnt]) const override;

private:
    bool drawThroughLayer(QPainter* painter, const QRectF& canvasRect,
                          const QwtScaleMap maps[axisCnt]) const;
    CurveData* data(int i) const;
    void updateSymbol(int i);

    QVector<QwtPlotCurve*> m_curves;
    QVector<QColor> m_colours;
    int m_trailLength = 10;
    bool m_accumulate = false;
    QSize m_symbolSize{2, 2};
    mutable CurveLayer m_layer;
    mutable QVector<CurveLayer::Curve> m_layerCurves; // reused per replot
};
