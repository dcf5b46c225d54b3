#pragma once

#include <QStringList>
#include <QWidget>

class ControllerRegistry;
class QHBoxLayout;
class QLabel;

// A compact legend of the displayed controllers, in display order: per
// controller its x, y and intensity colours as three swatches and its name
// (label and address). The window hides and shows it from its View menu.
class ControllerLegend : public QWidget
{
    Q_OBJECT
public:
    explicit ControllerLegend(QWidget *parent = nullptr);

    // Rebuilds the entries when a displayed controller, its name or a colour
    // changed since the last call; cheap otherwise (runs every display tick).
    void refresh(const ControllerRegistry &registry);

    // The entries' texts as shown, in display order.
    QStringList names() const;

private:
    QHBoxLayout *row;
    QLabel *empty;
    QStringList shownKey;
    QList<QLabel *> entries;
};
