#include "display/DropIndicator.h"

#include "controller/ControllerRegistry.h"
#include "link/Connection.h"

#include <QStringList>

DropIndicator::DropIndicator(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("label_DroppedSamples"));
    setAccessibleName(QStringLiteral("Samples lost before display"));
    setStyleSheet(QStringLiteral("color: rgb(190, 30, 20); font-weight: bold"));
    setVisible(false);
}

void DropIndicator::refresh(const ControllerRegistry &registry)
{
    current.resize(0);
    for (int c : registry.displayed) {
        const qint64 dropped = registry.link(c)->droppedSamples();
        if (dropped > 0)
            current.append(Entry{c, dropped});
    }
    if (current == shownEntries)
        return;
    shownEntries = current;
    shownTotal = 0;
    QStringList parts;
    QStringList details;
    for (const Entry &e : qAsConst(shownEntries)) {
        shownTotal += e.dropped;
        const ControllerStatus &status = registry.controllerStatus.at(e.connection);
        const QString address = registry.link(e.connection)->address();
        const QString name = status.label.trimmed().isEmpty() ? address : status.label.trimmed();
        parts << QStringLiteral("%1 %2").arg(name).arg(e.dropped);
        details << QStringLiteral("%1 (%2): %3 samples").arg(name, address).arg(e.dropped);
    }
    if (shownEntries.isEmpty()) {
        clear();
        setToolTip(QString());
        setVisible(false);
        return;
    }
    setText(QStringLiteral("Samples lost: ") + parts.join(QStringLiteral(", ")));
    setToolTip(QStringLiteral("The display or the machine was too slow: samples arrived faster than they were "
                              "taken out of the controller's store, and the oldest were overwritten before they "
                              "could be shown or recorded (counted since the stream started).\n")
               + details.join(QLatin1Char('\n')));
    setVisible(true);
}
