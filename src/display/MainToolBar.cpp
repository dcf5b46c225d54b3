#include "display/MainToolBar.h"

#include "display/LinkedSpinBox.h"

#include <QAction>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>

namespace {
QWidget *box(QWidget *parent, QHBoxLayout *&layout)
{
    auto *widget = new QWidget(parent);
    layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return widget;
}
} // namespace

MainToolBar::MainToolBar(QWidget *parent)
    : QToolBar(parent)
{
    qInfo() << "Constructing ToolBar";
    setObjectName(QStringLiteral("toolBar"));
    setAllowedAreas(Qt::TopToolBarArea);
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(22, 22));

    start = addAction(QIcon(QStringLiteral(":/images/go.xpm")), QStringLiteral("Start"));
    start->setObjectName(QStringLiteral("actionStart"));
    start->setCheckable(true);
    clear = addAction(QIcon(QStringLiteral(":/images/clear.png")), QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("actionClear"));

    QHBoxLayout *layout = nullptr;
    QWidget *rates = box(this, layout);
    sampling = new LinkedSpinBox(rates, QStringLiteral("Sampling rate [Hz]"), QString(), 1, 430, 1);
    sampling->setObjectName(QStringLiteral("counterSamplingRate"));
    sampling->setValue(100);
    update = new LinkedSpinBox(rates, QStringLiteral("Update rate [Hz]"), QString(), 1, 430, 1, sampling);
    update->setObjectName(QStringLiteral("counterUpdateRate"));
    update->setValue(100);
    layout->addWidget(update);
    layout->addSpacing(5);
    layout->addWidget(sampling);
    layout->addSpacing(15);
    addWidget(rates);

    QWidget *mode = box(this, layout);
    layout->addSpacing(10);
    oscilloscopeButton = new QRadioButton(QStringLiteral("Oscilloscope"), mode);
    oscilloscopeButton->setObjectName(QStringLiteral("radioOscilloscope"));
    oscilloscopeButton->setChecked(true);
    layout->addWidget(oscilloscopeButton);
    layout->addSpacing(5);
    pointingButton = new QRadioButton(QStringLiteral("Pointing mode"), mode);
    pointingButton->setObjectName(QStringLiteral("radioPointingMode"));
    layout->addWidget(pointingButton);
    samples = new LinkedSpinBox(mode, QStringLiteral("Samples to take"), QString(), 1, 10000000, 1000);
    samples->setObjectName(QStringLiteral("counterSamplesToTake"));
    samples->setValue(1000000);
    samples->setEnabled(false);
    layout->addWidget(samples);
    layout->addSpacing(20);
    addWidget(mode);

    QWidget *recording = box(this, layout);
    lamp = new QLabel(QStringLiteral("Data Recording"), recording);
    lamp->setObjectName(QStringLiteral("labelRecordingLamp"));
    lamp->setAccessibleName(QStringLiteral("Data recording lamp"));
    lamp->setMaximumSize(22, 22);
    lamp->setScaledContents(true);
    lamp->setPixmap(QPixmap(QStringLiteral(":/images/red_light.png")));
    layout->addWidget(lamp);
    recordingText = new QLabel(QStringLiteral("Data recording disabled"), recording);
    recordingText->setObjectName(QStringLiteral("labelRecording"));
    layout->addSpacing(4);
    layout->addWidget(recordingText);
    addWidget(recording);

    auto *stretch = new QWidget(this);
    stretch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(stretch);
    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("labelLogo"));
    logo->setAccessibleName(QStringLiteral("Logo"));
    logo->setMaximumSize(77, 30);
    logo->setScaledContents(true);
    logo->setPixmap(QPixmap(QStringLiteral(":/images/logo.gif")));
    addWidget(logo);
    auto *end = new QWidget(this);
    end->setFixedWidth(20);
    addWidget(end);
}
