#include "display/LinkedSpinBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

LinkedSpinBox::LinkedSpinBox(QWidget *parent, const QString &prefix, const QString &suffix, int min, int max,
                 int step, LinkedSpinBox *masterBox)
    : QWidget(parent)
    , box(new QSpinBox(this))
    , master(masterBox)
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
    connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &LinkedSpinBox::ownValueChanged);
    if (master)
        connect(master, &LinkedSpinBox::valueChanged, this, &LinkedSpinBox::masterValueChanged);
}

int LinkedSpinBox::value() const { return box->value(); }
int LinkedSpinBox::maximum() const { return box->maximum(); }
int LinkedSpinBox::minimum() const { return box->minimum(); }
void LinkedSpinBox::setMaximum(int max) { box->setMaximum(max); }

void LinkedSpinBox::setValue(int value)
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

void LinkedSpinBox::ownValueChanged(int value)
{
    if (master && value > master->value()) {
        box->setValue(master->value()); // re-enters with the clamped value
        return;
    }
    if (box->hasFocus())
        wanted = value;
    emit valueChanged(value);
}

void LinkedSpinBox::masterValueChanged(int value)
{
    if (value <= wanted)
        box->setValue(value);
    else if (box->value() != wanted)
        box->setValue(wanted);
}
