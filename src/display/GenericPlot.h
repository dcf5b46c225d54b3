#pragma once

#include "display/IncrementalPlot.h"

class QwtPlotGrid;
class QwtPlotShapeItem;
class Zoomer;

// The plot used for every plot of the live display: dotted grid, light blue
// canvas, all four axes over rangeMin .. rangeMax, a rubber-band zoomer and
// optional cross hairs through the origin.
class GenericPlot : public IncrementalPlot
{
    Q_OBJECT
public:
    explicit GenericPlot(QWidget* parent = nullptr);
    ~GenericPlot() override;

    QSize sizeHint() const override { return QSize(10, 10); }

    double rangeMax() const { return m_rangeMax; }
    double rangeMin() const { return m_rangeMin; }
    Zoomer* zoomer() const { return m_zoomer; }
    QwtPlotGrid* grid() const { return m_grid; }

    // Zoom back to the zoom base and put all four axes to the stored range.
    void resetZoom();

    // A horizontal line y = 0 from x = 0 to x = width (the time plots' zero
    // line). A new line replaces the previous one.
    void drawZeroLine(double width);

    QwtPlotShapeItem* verticalCrossHair() const { return m_verticalCrossHair; }
    QwtPlotShapeItem* horizontalCrossHair() const { return m_horizontalCrossHair; }
    QwtPlotShapeItem* zeroLine() const { return m_zeroLine; }

public slots:
    // Without backing store while acquiring (no copy of the whole canvas per
    // replot); with it again afterwards.
    void start();
    void stop();
    // Empty one curve; -1 empties every curve.
    void clear(int index);
    void clear();
    // Lines x = 0 and y = 0 over the range. New lines replace the previous
    // ones, so repeated range changes do not pile items up.
    void drawCrossHairs();
    // No mouse button or key zooms this plot any more.
    void disableZoomer();
    // Switch the zoomer's position tracker off.
    void zeroZoomStack();
    void setRange(double max, double min);

private:
    QwtPlotShapeItem* makeLine(const QString& title, const QPointF& from, const QPointF& to);
    void setAllAxes(double min, double max);

    double m_rangeMax = 5.0;
    double m_rangeMin = -5.0;
    Zoomer* m_zoomer = nullptr;
    QwtPlotGrid* m_grid = nullptr;
    QwtPlotShapeItem* m_verticalCrossHair = nullptr;
    QwtPlotShapeItem* m_horizontalCrossHair = nullptr;
    QwtPlotShapeItem* m_zeroLine = nullptr;
};
