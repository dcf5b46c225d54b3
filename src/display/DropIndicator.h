#pragma once

#include <QLabel>
#include <QVector>

class ControllerRegistry;

// Status-bar entry that appears when a displayed controller's store had to
// overwrite samples nobody had taken yet (counted since its stream
// started): the controller's label with the count, and a tool tip saying
// that the display or the machine was too slow. Hidden while nothing was
// lost. refresh() runs every display tick: it reads one atomic counter per
// displayed controller and rewrites the text only when a count changed.
class DropIndicator : public QLabel
{
    Q_OBJECT
public:
    explicit DropIndicator(QWidget *parent = nullptr);

    void refresh(const ControllerRegistry &registry);
    // Samples lost by the displayed controllers, as last shown.
    qint64 total() const { return shownTotal; }

private:
    struct Entry {
        int connection;
        qint64 dropped;
        bool operator==(const Entry &o) const { return connection == o.connection && dropped == o.dropped; }
    };
    QVector<Entry> current; // reused every tick
    QVector<Entry> shownEntries;
    qint64 shownTotal = 0;
};
