#include "display/RangeBars.h"

#include "display/ThermoSlider.h"

#include <QGridLayout>
#include <QLabel>

namespace {
const char *const barNames[4] = {"Piezo range x, stage 1", "Piezo range y, stage 1", "Piezo range x, stage 2",
                                 "Piezo range y, stage 2"};
}

RangeBars::RangeBars(ThermoSlider *const bars[4], QGridLayout *const layouts[2])
{
    for (int b = 0; b < 4; ++b)
        bar[b] = bars[b];
    for (int s = 0; s < 2; ++s) {
        captions[s] = new QLabel(layouts[s]->parentWidget());
        captions[s]->setObjectName(s == 0 ? QStringLiteral("label_rangeSource") : QStringLiteral("label_rangeSource_2"));
        captions[s]->setWordWrap(true);
        captions[s]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        QFont small = captions[s]->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        captions[s]->setFont(small);
        captions[s]->setMaximumWidth(90);
        layouts[s]->addWidget(captions[s], layouts[s]->rowCount(), 0, 1, 4);
    }
    setShown(false, QString());
}

void RangeBars::offer(const QString &name, const double volts[4], qint64 nowMs)
{
    source = name;
    offeredMs = nowMs;
    for (int b = 0; b < 4; ++b)
        values[b] = volts[b];
    setShown(true, name);
}

void RangeBars::refresh(bool live, const QString &activeName, qint64 nowMs, int maxAgeMs)
{
    const bool fresh = live && !activeName.isEmpty() && activeName == source && nowMs - offeredMs <= maxAgeMs;
    if (!fresh)
        setShown(false, activeName);
}

void RangeBars::setShown(bool shown, const QString &name)
{
    const QString caption = shown ? name : (name.isEmpty() ? QStringLiteral("no value") : name + QStringLiteral(": no value"));
    for (QLabel *label : captions) {
        if (label->text() != caption) {
            label->setText(caption);
            label->setAccessibleName(QStringLiteral("Piezo range source: ") + caption);
        }
    }
    for (int b = 0; b < 4; ++b) {
        if (shown) {
            bar[b]->setValue(values[b]);
            bar[b]->setAccessibleName(QStringLiteral("%1: %2 V").arg(QLatin1String(barNames[b])).arg(values[b], 0, 'f', 2));
        } else if (valueShown) {
            bar[b]->setValue(bar[b]->lowerBound());
            bar[b]->setAccessibleName(QStringLiteral("%1: no value").arg(QLatin1String(barNames[b])));
        }
        bar[b]->setEnabled(shown);
    }
    valueShown = shown;
}

QString RangeBars::caption() const
{
    return captions[0]->text();
}
