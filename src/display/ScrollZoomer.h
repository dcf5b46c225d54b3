#pragma once

#include <qwt_plot_zoomer.h>

class ScrollBar;

// A zoomer that shows scroll bars while the view is zoomed in, so the zoomed
// rectangle can be moved over the zoom base. The bars lie over the canvas
// edges, by default on the side opposite to the zoomer's axes.
class ScrollZoomer : public QwtPlotZoomer
{
    Q_OBJECT
public:
    enum ScrollBarPosition { AttachedToScale, OppositeToScale };

    explicit ScrollZoomer(QWidget* canvas);
    ~ScrollZoomer() override;

    ScrollBar* horizontalScrollBar() const;
    ScrollBar* verticalScrollBar() const;

    void setCornerWidget(QWidget* widget);
    QWidget* cornerWidget() const;

    bool eventFilter(QObject* object, QEvent* event) override;
    void rescale() override;

    // Whether a bar is needed in that orientation under its policy.
    bool needScrollBar(Qt::Orientation orientation) const;

protected:
    virtual ScrollBar* scrollBar(Qt::Orientation orientation);
    virtual void updateScrollBars();
    virtual void layoutScrollBars(const QRect& rect);
    // Whether the visible horizontal bar lies at the top of the canvas and
    // the visible vertical bar at the left.
    bool horizontalBarAtTop() const;
    bool verticalBarAtLeft() const;

private slots:
    void scrollBarMoved(Qt::Orientation orientation, double min, double max);

private:
    struct ScrollData {
        ScrollBar* scrollBar = nullptr;
        ScrollBarPosition position = OppositeToScale;
        Qt::ScrollBarPolicy mode = Qt::ScrollBarAsNeeded;
    };

    QWidget* m_cornerWidget = nullptr;
    ScrollData m_hData;
    ScrollData m_vData;
    // Set while the bars are updated, so the slider moves caused by the
    // update are not taken for user scrolling, and while laying out.
    bool m_inZoom = false;
    bool m_inLayout = false;
};
