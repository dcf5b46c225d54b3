#pragma once

#include <QHash>
#include <QObject>

class QWidget;
struct DisplayPlots;

// Makes the value and time axes of the time and intensity plots clickable:
// the pointing hand shows over them, and a left click reports which axis
// was hit as an axis id (1/2 position axis of stage 1/2, 3/4 time axis,
// 5/6 intensity axis), for the main window to open its rescale dialog.
// The position plots are left out: they zoom with the mouse instead.
class AxisClickFilter : public QObject
{
    Q_OBJECT
public:
    explicit AxisClickFilter(QObject *parent = nullptr);

    // Watches the axes of the six plots (the plots must exist).
    void watch(const DisplayPlots &plots);
    // The axis id of a watched axis widget, 0 for any other widget.
    int axisOf(const QObject *widget) const { return axes.value(widget, 0); }

signals:
    void axisClicked(int axisId);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void add(QWidget *axisWidget, int id);

    QHash<const QObject *, int> axes;
};
