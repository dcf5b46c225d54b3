#include "display/ControllerLegend.h"

#include "controller/ControllerRegistry.h"
#include "display/ControllerAlerts.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {
QString swatch(const QColor &colour)
{
    return QStringLiteral("<span style=\"color:%1\">&#9632;</span>").arg(colour.name());
}
} // namespace

ControllerLegend::ControllerLegend(QWidget *parent)
    : QWidget(parent)
    , row(new QHBoxLayout(this))
    , empty(new QLabel(QStringLiteral("No controller displayed"), this))
{
    setObjectName(QStringLiteral("controllerLegend"));
    setAccessibleName(QStringLiteral("Legend of the displayed controllers"));
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(14);
    empty->setEnabled(false);
    row->addWidget(empty);
    row->addStretch(1);
}

void ControllerLegend::refresh(const ControllerRegistry &registry)
{
    QStringList key;
    for (int c : registry.displayed) {
        const ControllerStatus &status = registry.controllerStatus.at(c);
        key << ControllerAlerts::nameOf(status.label, status.address) + QLatin1Char('\t') + status.colorX.name()
                   + status.colorY.name() + status.colorI.name();
    }
    if (key == shownKey)
        return;
    shownKey = key;
    qDeleteAll(entries);
    entries.clear();
    for (int i = 0; i < registry.displayed.size(); ++i) {
        const ControllerStatus &status = registry.controllerStatus.at(registry.displayed.at(i));
        const QString name = ControllerAlerts::nameOf(status.label, status.address);
        auto *entry = new QLabel(this);
        entry->setObjectName(QStringLiteral("legendEntry"));
        entry->setTextFormat(Qt::RichText);
        entry->setText(swatch(status.colorX) + swatch(status.colorY) + swatch(status.colorI) + QLatin1Char(' ')
                       + name.toHtmlEscaped());
        entry->setAccessibleName(name);
        entry->setToolTip(QStringLiteral("%1: x %2, y %3, intensity %4")
                              .arg(name, status.colorX.name(), status.colorY.name(), status.colorI.name()));
        row->insertWidget(i, entry);
        entries << entry;
    }
    empty->setVisible(entries.isEmpty());
}

QStringList ControllerLegend::names() const
{
    QStringList list;
    for (const QLabel *entry : entries)
        list << entry->accessibleName();
    return list;
}
