#pragma once

#include <QScrollBar>

// A scroll bar over a double range: the base range minBase .. maxBase is
// divided into baseTicks integer ticks; the slider shows a part min .. max of
// it. A vertical bar is inverted so that its top shows the largest values.
class ScrollBar : public QScrollBar
{
    Q_OBJECT
public:
    explicit ScrollBar(QWidget* parent = nullptr);
    explicit ScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);
    ScrollBar(double minBase, double maxBase, Qt::Orientation orientation,
              QWidget* parent = nullptr);

    void setInverted(bool inverted);
    bool isInverted() const { return m_inverted; }
    double minBaseValue() const { return m_minBase; }
    double maxBaseValue() const { return m_maxBase; }
    int baseTicks() const { return m_baseTicks; }

    // The part of the base shown for slider position value (the slider
    // position in QScrollBar terms, before mirroring).
    void sliderRange(int value, double& min, double& max) const;

    int mapToTick(double value) const;
    double mapFromTick(int tick) const;

signals:
    void sliderMoved(Qt::Orientation orientation, double min, double max);
    void valueChanged(Qt::Orientation orientation, double min, double max);

public slots:
    virtual void setBase(double min, double max);
    virtual void moveSlider(double min, double max);

private slots:
    void catchValueChanged(int value);
    void catchSliderMoved(int value);

private:
    void init();

    bool m_inverted;
    double m_minBase = 0.0;
    double m_maxBase = 1.0;
    int m_baseTicks = 1000000;
};
