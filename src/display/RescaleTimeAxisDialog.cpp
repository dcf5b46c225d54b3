#include "display/RescaleTimeAxisDialog.h"

#include "ui_rescaletimeaxisdlg.h"

#include <QStringList>

RescaleTimeAxisDialog::RescaleTimeAxisDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool)
    , ui(new Ui::RescaleTimeAxisDlg)
{
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &RescaleTimeAxisDialog::acceptNewValues);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::close);
    setFixedSize(sizeHint());
}

RescaleTimeAxisDialog::~RescaleTimeAxisDialog() = default;

QString RescaleTimeAxisDialog::formatSeconds(int seconds)
{
    seconds = qMax(0, seconds);
    const int rest = seconds % 3600;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 3, 10, QLatin1Char('0'))
        .arg(rest / 60, 2, 10, QLatin1Char('0'))
        .arg(rest % 60, 2, 10, QLatin1Char('0'));
}

int RescaleTimeAxisDialog::parseSeconds(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    int total = 0;
    for (int i = 0; i < 3; ++i) {
        const int value = i < parts.size() ? parts.at(i).trimmed().toInt() : 0; // blank: 0
        total = total * 60 + value;
    }
    return total;
}

void RescaleTimeAxisDialog::setLower(int seconds)
{
    ui->lineEditLower->setText(formatSeconds(seconds));
}

void RescaleTimeAxisDialog::setUpper(int seconds)
{
    ui->lineEditUpper->setText(formatSeconds(seconds));
}

void RescaleTimeAxisDialog::acceptNewValues()
{
    const int lower = parseSeconds(ui->lineEditLower->text());
    int upper = parseSeconds(ui->lineEditUpper->text());
    if (upper <= lower)
        upper = lower + 1;
    emit axisRescaled(axisId, lower, upper, ui->checkBoxBothStages->isChecked());
    close();
}
