#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <memory>

class QColorDialog;
struct ControllerStatus;

namespace Ui {
class OverviewWidget;
}

// One row of the system configuration overview: either the header row with
// the column titles, or the row of one controller with its label, the active
// lights and Start/Stop switches of both stages, the display check box, the
// colour buttons of its x, y and intensity curves and the "Parameters"
// button. A row never talks to a controller: every user action becomes a
// signal carrying the controller's address, and the row
// shows what updateFromSettings brings. The group and common-detector
// controls of the form are kept hidden.
class OverviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OverviewWidget(bool header, QWidget *parent = nullptr);
    ~OverviewWidget() override;

    bool isHeader() const { return header; }
    QString address() const { return rowAddress; }
    void setAddress(const QString &address) { rowAddress = address; }
    QString label() const { return shownLabel; }
    QColor color(int target) const;
    bool displayFlag() const { return displayOn; }

    // Brings the row in line with a status record, touching only what
    // differs from what it shows; a changed colour is announced (newColor).
    void updateFromSettings(const ControllerStatus &status);

    // The row's controller is busy with a command sequence: its Start/Stop
    // switches are disabled until it is not (Controller::busyChanged).
    void setBusy(bool busy);
    bool isBusy() const { return busy; }

    // The colour dialog chose a colour for the current target: a valid one
    // is taken for the x, y or intensity curve and announced; an invalid one,
    // or one for a common-detector target, changes nothing.
    void on_colorSelected(QColor color);

signals:
    void display(QString address, bool show);
    void displayCommonDetector(QString address, bool show);
    void newColor(QString address, QColor color, int graph);
    void updateStage(QString address, int stage, bool activate);
    void openParams(QString address);
    void multiplexingUpdate(QString address, bool status, int stage);
    void newGroup(QString address, int groupId);

private slots:
    void on_enable1_clicked();
    void on_enable2_clicked();
    void on_showCheckBox_clicked();
    void on_showCheckBox2_clicked();
    void on_xColor_clicked();
    void on_yColor_clicked();
    void on_iColor_clicked();
    void on_xColor2_clicked();
    void on_yColor2_clicked();
    void on_iColor2_clicked();
    void on_parameterPushButton_clicked();
    void on_typeComboBox_currentIndexChanged(int index);
    void on_groupSpinBox_valueChanged(int arg1);
    void on_type2ComboBox_currentIndexChanged(int index);

private:
    void showStage(int stage, bool on);
    void showSwitches();
    void showActive(int stage, bool active);
    void showColor(int target);
    void openColorDialog(int target);
    void nameControls();

    std::unique_ptr<Ui::OverviewWidget> ui;
    const bool header;
    QString shownLabel;
    QString shownAlert; // why the controller stopped answering; empty while fine
    QString rowAddress;
    bool stabOn[2] = {false, false};
    bool active[2] = {false, false};
    bool connected = false;
    bool busy = false;
    QColor colors[3] = {Qt::white, Qt::white, Qt::white};
    bool displayOn = false;
    int colorTarget = 0;
    QPalette onPalette;
    QPalette offPalette;
    QColorDialog *colorDialog = nullptr; // created on first use
};
