#include "display/Counter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

Counter::Counter(QWidget *parent, const QString &prefix, const QString &suffix, int min, int max,
                 int step, Counter *masterCounter)
    : QWidget(parent)
    , box(new QSpinBox(this))
    , master(masterCounter)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (!prefix.isEmpty()) {
        auto *label = new QLabel(prefix + QLatin1Char(' '), this);
        layout->addWidget(label);
        label->setBuddy(box);
        box->setAccessibleName(prefix);
    }
    box->setAlignment(Qt::AlignRight);
    box->setGroupSeparatorShown(true);
    box->setRange(min, max);
    box->setSingleStep(step);
    layout->addWidget(box);
    if (!suffix.isEmpty())
        layout->addWidget(new QLabel(QLatin1Char(' ') + suffix, this));
    wanted = box->value();
    connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &Counter::ownValueChanged);
    if (master)
        connect(master, &Counter::valueChanged, this, &Counter::masterValueChanged);
}

int Counter::value() const { return box->value(); }
int Counter::maximum() const { return box->maximum(); }
int Counter::minimum() const { return box->minimum(); }
void Counter::setMaximum(int max) { box->setMaximum(max); }

void Counter::setValue(int value)
{
    if (master && value > master->value()) {
        box->setValue(master->value());
        wanted = master->value();
    } else if (master && value > 500) {
        box->setValue(500);
    } else {
        wanted = value;
        box->setValue(value);
    }
}

void Counter::ownValueChanged(int value)
{
    if (master && value > master->value()) {
        box->setValue(master->value()); // re-enters with the clamped value
        return;
    }
    if (box->hasFocus())
        wanted = value;
    emit valueChanged(value);
}

void Counter::masterValueChanged(int value)
{
    if (value <= wanted)
        box->setValue(value);
    else if (box->value() != wanted)
        box->setValue(wanted);
}
