#pragma once

#include <QFrame>

// A fixed colour scale beside a range bar: red at both ends, light green in
// between.
class ColorScalesFrame : public QFrame
{
    Q_OBJECT
public:
    explicit ColorScalesFrame(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
