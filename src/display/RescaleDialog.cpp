#include "display/RescaleDialog.h"

#include "ui_rescaledialog.h"

#include <QDebug>

namespace {
const QString invalidMark = QStringLiteral("border: 1px solid red");

QString unitText(int kind)
{
    switch (kind) {
    case RescaleDialog::Micrometre:
        return QStringLiteral("μm");
    case RescaleDialog::Millimetre:
        return QStringLiteral("mm");
    default:
        return QStringLiteral("V");
    }
}
} // namespace

RescaleDialog::RescaleDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool)
    , ui(new Ui::RescaleDialog)
{
    qInfo() << "Constructing RescaleDialog";
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &RescaleDialog::acceptNewValues);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::close);
    for (QDoubleSpinBox *box : {ui->doubleSpinBoxUpper, ui->doubleSpinBoxLower})
        connect(box, &QDoubleSpinBox::textChanged, box, [box] { box->setStyleSheet(QString()); });
    // Wide enough for the longest unit, then fixed.
    ui->labelUpper->setText(QStringLiteral("Upper limit [mm]"));
    ui->labelLower->setText(QStringLiteral("Lower limit [mm]"));
    setFixedSize(sizeHint());
    showUnit();
    qInfo() << "Finished constructing RescaleDialog";
}

RescaleDialog::~RescaleDialog() = default;

void RescaleDialog::setAxis(int id)
{
    axisId = id;
    showUnit();
}

void RescaleDialog::setUnitKind(int kind, int stage)
{
    (stage == 2 ? unitKind2 : unitKind1) = kind;
    showUnit();
}

void RescaleDialog::showUnit()
{
    int kind = Volt;
    if (axisId == 1)
        kind = unitKind1;
    else if (axisId == 2)
        kind = unitKind2;
    const QString unit = QStringLiteral(" [") + unitText(kind) + QLatin1Char(']');
    ui->labelUpper->setText(QStringLiteral("Upper limit") + unit);
    ui->labelLower->setText(QStringLiteral("Lower limit") + unit);
}

void RescaleDialog::setLimits(double upperMax, double upperMin, double lowerMax, double lowerMin)
{
    ui->doubleSpinBoxUpper->setRange(upperMin, upperMax);
    ui->doubleSpinBoxLower->setRange(lowerMin, lowerMax);
    ui->doubleSpinBoxUpper->setDecimals(2);
    ui->doubleSpinBoxLower->setDecimals(2);
}

void RescaleDialog::setUpper(double value)
{
    ui->doubleSpinBoxUpper->setValue(value);
    ui->doubleSpinBoxUpper->setStyleSheet(QString());
}

void RescaleDialog::setLower(double value)
{
    ui->doubleSpinBoxLower->setValue(value);
    ui->doubleSpinBoxLower->setStyleSheet(QString());
}

void RescaleDialog::acceptNewValues()
{
    // A field left empty or holding a number outside its range has no value
    // the user meant: mark it and apply nothing.
    bool valid = true;
    for (QDoubleSpinBox *box : {ui->doubleSpinBoxUpper, ui->doubleSpinBoxLower}) {
        if (!box->hasAcceptableInput()) {
            box->setStyleSheet(invalidMark);
            valid = false;
        }
    }
    if (!valid)
        return;
    const double a = ui->doubleSpinBoxUpper->value();
    const double b = ui->doubleSpinBoxLower->value();
    const double lower = qMin(a, b);
    double upper = qMax(a, b);
    if (upper - lower < minimumSpan)
        upper = lower + minimumSpan;
    emit axisRescaled(axisId, lower, upper, ui->checkBoxBothStages->isChecked());
    close();
}
