#include "overview/OverviewWidget.h"

#include "ui_overviewwidget.h"

#include "controller/ControllerStatus.h"

#include <QColorDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QPixmap>

namespace {
// Column widths shared by the header and the controller rows, so that the
// titles stand above their controls.
constexpr int columnWidths[] = {120, 44, 44, 52, 52, 54, 24, 24, 24, 80};
constexpr int lightSize = 18;

QPixmap light(bool on)
{
    static const QPixmap green = QPixmap(QStringLiteral(":/images/green_light.png"))
                                     .scaled(lightSize, lightSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    static const QPixmap red = QPixmap(QStringLiteral(":/images/red_light.png"))
                                   .scaled(lightSize, lightSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return on ? green : red;
}

QString colorStyle(const QColor &color)
{
    return QStringLiteral("background-color: %1").arg(color.name());
}
} // namespace

OverviewWidget::OverviewWidget(bool isHeaderRow, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::OverviewWidget)
    , header(isHeaderRow)
{
    ui->setupUi(this);
    for (int c = 0; c < int(std::size(columnWidths)); ++c)
        ui->gridLayout->setColumnMinimumWidth(c, columnWidths[c]);

    QWidget *titles[] = {ui->label_6, ui->label_5, ui->label_4, ui->displayLabel, ui->configLabel,
                         ui->activeStage1Label, ui->activeStage2Label, ui->switchStage1Label,
                         ui->switchStage2Label, ui->xLabel, ui->yLabel, ui->iLabel};
    QWidget *controls[] = {ui->label, ui->active1, ui->active2, ui->enable1, ui->enable2,
                           ui->showCheckBox, ui->xColor, ui->yColor, ui->iColor, ui->parameterPushButton};
    QWidget *alwaysHidden[] = {ui->typeComboBox, ui->type2ComboBox, ui->commonLabel, ui->label_10,
                               ui->groupSpinBox, ui->groupLabel, ui->showCheckBox2,
                               ui->xColor2, ui->yColor2, ui->iColor2};
    for (QWidget *w : titles)
        w->setVisible(header);
    for (QWidget *w : controls)
        w->setVisible(!header);
    for (QWidget *w : alwaysHidden)
        w->setVisible(false);
    if (header) {
        QFont bold = ui->label_6->font();
        bold.setBold(true);
        for (QWidget *w : {ui->label_6, ui->label_5, ui->label_4, ui->displayLabel, ui->configLabel})
            w->setFont(bold);
        return;
    }

    onPalette.setColor(QPalette::Button, QColor("lightgreen"));
    offPalette.setColor(QPalette::Button, QColor("lightcoral"));
    ui->enable1->setPalette(offPalette);
    ui->enable2->setPalette(offPalette);
    ui->active1->setPixmap(light(false));
    ui->active2->setPixmap(light(false));
    for (int target = 0; target < 3; ++target)
        showColor(target);
    // Nothing is valid until the first status record says the link is connected.
    for (QWidget *w : {static_cast<QWidget *>(ui->enable1), static_cast<QWidget *>(ui->enable2),
                       static_cast<QWidget *>(ui->active1), static_cast<QWidget *>(ui->active2),
                       static_cast<QWidget *>(ui->parameterPushButton), static_cast<QWidget *>(ui->showCheckBox)})
        w->setEnabled(false);
}

OverviewWidget::~OverviewWidget() = default;

QColor OverviewWidget::color(int target) const
{
    return target >= 0 && target < 3 ? colors[target] : QColor();
}

void OverviewWidget::updateFromSettings(const ControllerStatus &status)
{
    if (status.label != shownLabel) {
        shownLabel = status.label;
        const QFontMetrics metrics(ui->label->font());
        ui->label->setText(metrics.elidedText(shownLabel, Qt::ElideRight, columnWidths[0]));
        ui->label->setToolTip(shownLabel);
        nameControls();
    }
    if (status.address != rowAddress)
        rowAddress = status.address;
    if (status.alert != shownAlert) {
        // A controller that went away is marked in its row until it is back.
        shownAlert = status.alert;
        ui->label->setStyleSheet(shownAlert.isEmpty()
                                     ? QString()
                                     : QStringLiteral("QLabel { color: white; background-color: rgb(190, 30, 20); }"));
        ui->label->setToolTip(shownAlert.isEmpty() ? shownLabel : shownAlert);
        setAccessibleName(shownAlert.isEmpty() ? QStringLiteral("Controller ") + shownLabel : shownAlert);
    }
    if (status.stabOn1 != stabOn[0])
        showStage(1, status.stabOn1);
    if (status.stabOn2 != stabOn[1])
        showStage(2, status.stabOn2);
    if (status.active1 != active[0])
        showActive(1, status.active1);
    if (status.active2 != active[1])
        showActive(2, status.active2);
    const QColor *wanted[3] = {&status.colorX, &status.colorY, &status.colorI};
    bool colorChanged[3] = {false, false, false};
    for (int target = 0; target < 3; ++target) {
        if (*wanted[target] == colors[target])
            continue;
        colors[target] = *wanted[target];
        showColor(target);
        colorChanged[target] = true;
    }
    if (status.connected != connected) {
        connected = status.connected;
        for (QWidget *w : {static_cast<QWidget *>(ui->enable1), static_cast<QWidget *>(ui->enable2),
                           static_cast<QWidget *>(ui->active1), static_cast<QWidget *>(ui->active2),
                           static_cast<QWidget *>(ui->parameterPushButton), static_cast<QWidget *>(ui->showCheckBox)})
            w->setEnabled(connected);
        showSwitches();
    }
    if (status.shown != displayOn) {
        displayOn = status.shown;
        ui->showCheckBox->setChecked(displayOn);
    }
    // Announced last: a receiver may change the record this row was given.
    for (int target = 0; target < 3; ++target)
        if (colorChanged[target])
            emit newColor(rowAddress, colors[target], target);
}

// Controls without a text of their own, or with the same text in every
// row, are named after the controller for screen readers.
void OverviewWidget::nameControls()
{
    const QString of = QStringLiteral(", ") + shownLabel;
    ui->active1->setAccessibleName(QStringLiteral("Stage 1 ") + (active[0] ? "active" : "inactive") + of);
    ui->active2->setAccessibleName(QStringLiteral("Stage 2 ") + (active[1] ? "active" : "inactive") + of);
    ui->enable1->setAccessibleName(QStringLiteral("Stage 1 stabilization") + of + QStringLiteral(": ") + ui->enable1->text());
    ui->enable2->setAccessibleName(QStringLiteral("Stage 2 stabilization") + of + QStringLiteral(": ") + ui->enable2->text());
    if (shownAlert.isEmpty())
        setAccessibleName(QStringLiteral("Controller ") + shownLabel);
    ui->showCheckBox->setAccessibleName(QStringLiteral("Show") + of);
    ui->xColor->setAccessibleName(QStringLiteral("X colour") + of);
    ui->yColor->setAccessibleName(QStringLiteral("Y colour") + of);
    ui->iColor->setAccessibleName(QStringLiteral("Intensity colour") + of);
    ui->parameterPushButton->setAccessibleName(QStringLiteral("Parameters") + of);
}

void OverviewWidget::showStage(int stage, bool on)
{
    stabOn[stage - 1] = on;
    QPushButton *button = stage == 2 ? ui->enable2 : ui->enable1;
    button->setText(on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    button->setPalette(on ? onPalette : offPalette);
    button->setChecked(on);
    button->setAccessibleName(QStringLiteral("Stage %1 stabilization, %2: %3").arg(stage).arg(shownLabel, button->text()));
}

void OverviewWidget::showActive(int stage, bool on)
{
    active[stage - 1] = on;
    (stage == 2 ? ui->active2 : ui->active1)->setPixmap(light(on));
    (stage == 2 ? ui->active2 : ui->active1)
        ->setAccessibleName(QStringLiteral("Stage %1 %2, %3").arg(stage).arg(on ? "active" : "inactive", shownLabel));
}

void OverviewWidget::showColor(int target)
{
    QPushButton *buttons[3] = {ui->xColor, ui->yColor, ui->iColor};
    buttons[target]->setStyleSheet(colorStyle(colors[target]));
}

// ---- Row actions --------------------------------------------------------------

void OverviewWidget::on_enable1_clicked()
{
    // The switch asks for the opposite of what the controller reported; it
    // changes only when a later status brings the new state, so its checked
    // state is put back at once.
    ui->enable1->setChecked(stabOn[0]);
    emit updateStage(rowAddress, 1, !stabOn[0]);
}

void OverviewWidget::on_enable2_clicked()
{
    ui->enable2->setChecked(stabOn[1]);
    emit updateStage(rowAddress, 2, !stabOn[1]);
}

void OverviewWidget::on_showCheckBox_clicked()
{
    displayOn = ui->showCheckBox->isChecked();
    emit display(rowAddress, displayOn);
}

void OverviewWidget::on_showCheckBox2_clicked()
{
}

void OverviewWidget::on_xColor_clicked() { openColorDialog(0); }
void OverviewWidget::on_yColor_clicked() { openColorDialog(1); }
void OverviewWidget::on_iColor_clicked() { openColorDialog(2); }
void OverviewWidget::on_xColor2_clicked() { openColorDialog(3); }
void OverviewWidget::on_yColor2_clicked() { openColorDialog(4); }
void OverviewWidget::on_iColor2_clicked() { openColorDialog(5); }

void OverviewWidget::openColorDialog(int target)
{
    colorTarget = target;
    if (!colorDialog) {
        colorDialog = new QColorDialog(this);
        colorDialog->setObjectName(QStringLiteral("colorDialog"));
        colorDialog->setWindowTitle(QStringLiteral("Please choose a color"));
        colorDialog->setWindowIcon(QIcon(QStringLiteral(":/images/logo.gif")));
        connect(colorDialog, &QColorDialog::colorSelected, this, &OverviewWidget::on_colorSelected);
    }
    if (target < 3)
        colorDialog->setCurrentColor(colors[target]);
    colorDialog->setWindowModality(Qt::WindowModal);
    colorDialog->show();
    colorDialog->raise();
}

void OverviewWidget::on_colorSelected(QColor color)
{
    if (!color.isValid() || colorTarget < 0 || colorTarget > 2)
        return;
    colors[colorTarget] = color;
    showColor(colorTarget);
    emit newColor(rowAddress, color, colorTarget);
}

void OverviewWidget::on_parameterPushButton_clicked()
{
    emit openParams(rowAddress);
}

void OverviewWidget::on_typeComboBox_currentIndexChanged(int index)
{
    if (index == 0 || index == 1)
        emit multiplexingUpdate(rowAddress, index == 1, 1);
}

void OverviewWidget::on_type2ComboBox_currentIndexChanged(int index)
{
    if (index == 0 || index == 1)
        emit multiplexingUpdate(rowAddress, index == 1, 2);
}

void OverviewWidget::on_groupSpinBox_valueChanged(int arg1)
{
    emit newGroup(rowAddress, arg1);
}

void OverviewWidget::setBusy(bool on)
{
    if (header || busy == on)
        return;
    busy = on;
    showSwitches();
}

void OverviewWidget::showSwitches()
{
    // A controller that is running a command sequence takes no second one
    // from its Start/Stop switches until it is done.
    ui->enable1->setEnabled(connected && !busy);
    ui->enable2->setEnabled(connected && !busy);
}
