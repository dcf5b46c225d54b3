#include "display/ScrollBar.h"

#include <cmath>

ScrollBar::ScrollBar(QWidget* parent)
    : ScrollBar(Qt::Horizontal, parent)
{
}

ScrollBar::ScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
    , m_inverted(orientation == Qt::Vertical)
{
    init();
}

ScrollBar::ScrollBar(double minBase, double maxBase, Qt::Orientation orientation,
                     QWidget* parent)
    : QScrollBar(orientation, parent)
    , m_inverted(orientation == Qt::Vertical)
{
    init();
    setBase(minBase, maxBase);
    moveSlider(minBase, maxBase);
}

void ScrollBar::init()
{
    connect(this, QOverload<int>::of(&QAbstractSlider::valueChanged), this,
            &ScrollBar::catchValueChanged);
    connect(this, QOverload<int>::of(&QAbstractSlider::sliderMoved), this,
            &ScrollBar::catchSliderMoved);
}

void ScrollBar::setInverted(bool inverted)
{
    if (m_inverted == inverted)
        return;
    m_inverted = inverted;
    moveSlider(m_minBase, m_maxBase);
}

void ScrollBar::setBase(double min, double max)
{
    if (min == m_minBase && max == m_maxBase)
        return;
    m_minBase = min;
    m_maxBase = max;
    moveSlider(m_minBase, m_maxBase);
}

int ScrollBar::mapToTick(double value) const
{
    const double width = m_maxBase - m_minBase;
    if (width == 0.0)
        return 0;
    return static_cast<int>(std::lround((value - m_minBase) / width * m_baseTicks));
}

double ScrollBar::mapFromTick(int tick) const
{
    return m_minBase + (m_maxBase - m_minBase) * tick / m_baseTicks;
}

void ScrollBar::moveSlider(double min, double max)
{
    const double width = m_maxBase - m_minBase;
    // An empty base cannot be divided; show it as one full-width slider.
    const int sliderTicks = width == 0.0
        ? m_baseTicks
        : static_cast<int>(std::lround((max - min) / width * m_baseTicks));
    const bool wasBlocked = blockSignals(true);
    setRange(sliderTicks / 2, m_baseTicks - sliderTicks / 2);
    setSingleStep(qMax(sliderTicks / 200, 1));
    setPageStep(sliderTicks);
    int tick = mapToTick(min + (max - min) / 2.0);
    if (m_inverted)
        tick = m_baseTicks - tick;
    setSliderPosition(tick);
    blockSignals(wasBlocked);
}

void ScrollBar::sliderRange(int value, double& min, double& max) const
{
    if (m_inverted)
        value = m_baseTicks - value;
    const int visibleTicks = pageStep();
    min = mapFromTick(value - visibleTicks / 2);
    max = mapFromTick(value + visibleTicks / 2);
}

void ScrollBar::catchValueChanged(int value)
{
    double min = 0.0;
    double max = 0.0;
    sliderRange(value, min, max);
    emit valueChanged(orientation(), min, max);
}

void ScrollBar::catchSliderMoved(int value)
{
    double min = 0.0;
    double max = 0.0;
    sliderRange(value, min, max);
    emit sliderMoved(orientation(), min, max);
}
