#pragma once

#include "display/ScrollZoomer.h"

// The zoomer of every plot canvas: rubber-band zoom with the left button,
// scroll bars while zoomed in, a fixed y label width while zoomed so the
// plot does not jump sideways, and a rubber band that stays on the canvas.
class Zoomer : public ScrollZoomer
{
    Q_OBJECT
public:
    // A key code Qt never delivers (0 comes with compose and unknown keys);
    // used to switch key patterns off.
    static constexpr int NoKey = -1;

    explicit Zoomer(QWidget* canvas);

    // Largest value of the y axis, used to size the y axis labels.
    void setRangeMax(double max) { m_rangeMax = max; }
    double rangeMax() const { return m_rangeMax; }

    void rescale() override;

    // The area the tracked point is kept in while the rubber band is drawn:
    // the canvas contents without the visible scroll bars.
    QRect clampRect() const;

protected:
    void widgetMouseMoveEvent(QMouseEvent* event) override;

private:
    double m_rangeMax = 5.0;
};
