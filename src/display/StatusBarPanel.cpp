#include "display/StatusBarPanel.h"

#include <QLabel>
#include <QStatusBar>
#include <QTime>

namespace {
QLabel *entry(QStatusBar *bar, const char *name)
{
    auto *label = new QLabel(bar);
    label->setObjectName(QLatin1String(name));
    label->setContentsMargins(6, 0, 6, 0);
    return label;
}
} // namespace

StatusBarPanel::StatusBarPanel(QStatusBar *bar)
    : QObject(bar)
    , acquisition(entry(bar, "statusAcquisition"))
    , recording(entry(bar, "statusRecording"))
    , warning(entry(bar, "statusWarning"))
{
    warning->setStyleSheet(QStringLiteral("QLabel { color: rgb(170, 60, 0); }"));
    // A long warning is cut to the room there is (its tool tip and
    // accessible name keep it whole) rather than widening the window.
    warning->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    warning->hide();
    bar->addPermanentWidget(warning, 1);
    bar->addPermanentWidget(recording);
    bar->addPermanentWidget(acquisition);
    showAcquisition(false, 0, 0);
    showRecording(0);
}

void StatusBarPanel::setText(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    label->setAccessibleName(text);
    label->setToolTip(text);
}

void StatusBarPanel::showAcquisition(bool running, int rate, int controllersShown)
{
    QString text;
    if (!running) {
        text = controllersShown > 0 ? QStringLiteral("Acquisition stopped")
                                    : QStringLiteral("Acquisition stopped, no controller displayed");
    } else {
        const QString pace = rate > 500 ? QStringLiteral("one sample per trigger")
                                        : QStringLiteral("%1 Hz").arg(rate);
        text = QStringLiteral("Acquisition running, %1, %2 controller%3")
                   .arg(pace)
                   .arg(controllersShown)
                   .arg(controllersShown == 1 ? QString() : QStringLiteral("s"));
    }
    setText(acquisition, text);
}

void StatusBarPanel::showRecording(int files)
{
    setText(recording, files <= 0 ? QStringLiteral("Not recording")
                                  : QStringLiteral("Recording to %1 file%2").arg(files).arg(files == 1 ? "" : "s"));
}

void StatusBarPanel::warn(const QString &text)
{
    setText(warning, QStringLiteral("%1 %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), text));
    warning->setToolTip(warning->text());
    warning->show();
}

QString StatusBarPanel::acquisitionText() const { return acquisition->text(); }
QString StatusBarPanel::recordingText() const { return recording->text(); }
QString StatusBarPanel::warningText() const { return warning->text(); }
