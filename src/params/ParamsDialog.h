#pragma once

#include "detectors/StageDetectors.h"
#include "controller/ControllerStatus.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

class Connection;
class Controller;
class QAbstractButton;
class QComboBox;
class QDoubleSpinBox;
class QMessageBox;
class QPushButton;
class QRadioButton;
class Settings;
struct ConnectionSettings;

namespace Ui {
class ParamsDialog;
}

// The "Parameters" dialog: reads and sets the stabilization parameters of one
// controller (P-factor, adjust-in, Set & Hold, detector sensitivity, detector
// type and unit, beam diameter, trigger display) and keeps the detector
// models of every controller (one StageDetectors entry per connection, same
// index as the main window's lists). Its hidden lower section carries the
// operations of two controllers working as a group (beam overlay).
//
// Every command sequence stops a streaming controller first and restarts it
// at its rate afterwards; a failed restart is reported through errorStream().
// Values are shown as applied only when the controller confirmed them: a
// refused value falls back to "external" and the reason is shown in one
// shared, non-blocking message box.
class ParamsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ParamsDialog(QWidget *parent = nullptr);
    ~ParamsDialog() override;

    // The main window's controller lists (owned by it, one index). Must be
    // given before any controller is added.
    void attachControllers(QList<Controller *> &controllers, QList<ControllerStatus> &status);

    // The detector models of every connection, read by the main window.
    QList<StageDetectors> &stageDetectors() { return detectors; }
    // Appends the entry of a connection that has just been added.
    void addStageDetectors(const ConnectionSettings &settings);
    // Deletes the entry at index; closes the dialog when it showed that
    // controller and keeps the current index on the same controller otherwise.
    void removeStageDetectors(int index);

    int currentIndex() const { return current; }
    QMessageBox *messageBox() const { return infoBox; }
    // The setup file Save merges into (empty: the default file).
    void setSetupPath(const QString &path) { setupPath = path; }

signals:
    void errorStream();

public slots:
    void openDialog(QString address);

protected:
    void showEvent(QShowEvent *event) override;
    // openDialog shows it window-modal; once closed it is non-modal again.
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_pushButtonRefresh_clicked();
    void on_pushButtonApply_clicked();
    void on_pushButtonSave_clicked();
    void on_pushButtonCloseParams_clicked();
    void on_pushButton_SetHold_clicked();
    void on_pushButton_SetHold_2_clicked();
    void on_comboBox_DetecType_currentIndexChanged(int index);
    void on_comboBox_DetecType_2_currentIndexChanged(int index);
    void on_radioButtonPositionInLength_clicked(bool checked);
    void on_radioButtonPositionInVolt_clicked(bool checked);
    void on_radioButtonPositionInLength_2_clicked(bool checked);
    void on_radioButtonPositionInVolt_2_clicked(bool checked);
    void on_radioButton_PFactor_intern_clicked(bool checked);
    void on_radioButton_PFactor_extern_clicked(bool checked);
    void on_radioButton_PFactor_intern_2_clicked(bool checked);
    void on_radioButton_PFactor_extern_2_clicked(bool checked);
    void on_radioButton_Adjust_intern_clicked(bool checked);
    void on_radioButton_Adjust_extern_clicked(bool checked);
    void on_radioButton_Adjust_intern_2_clicked(bool checked);
    void on_radioButton_Adjust_extern_2_clicked(bool checked);
    void on_radioButton_sensitivity_software_clicked(bool checked);
    void on_radioButton_sensitivity_extern_clicked(bool checked);
    void on_radioButton_sensitivity_software_2_clicked(bool checked);
    void on_radioButton_sensitivity_extern_2_clicked(bool checked);
    // Group operations (beam overlay).
    void on_stabPushButton_clicked();
    void on_stab2PushButton_clicked();
    void on_alignPushButton_clicked();
    void on_lockSubsystemButton_clicked();

private:
    // The widgets of one stage (index 0 = stage 1).
    struct StageWidgets
    {
        QDoubleSpinBox *pFactor;
        QRadioButton *pFactorSoftware;
        QRadioButton *pFactorExternal;
        QDoubleSpinBox *adjustX;
        QDoubleSpinBox *adjustY;
        QRadioButton *adjustSoftware;
        QRadioButton *adjustExternal;
        QDoubleSpinBox *holdX;
        QDoubleSpinBox *holdY;
        QPushButton *setHold;
        QDoubleSpinBox *sensitivity;
        QRadioButton *sensitivitySoftware;
        QRadioButton *sensitivityExternal;
        QComboBox *type;
        QRadioButton *inVolt;
        QRadioButton *inLength;
        QDoubleSpinBox *beamDiameter;
    };
    // Which value a source pair selects.
    enum class Source { PFactor, Adjust, Sensitivity };

    bool validIndex() const;
    bool currentConnected() const;
    Connection *link() const;
    ControllerStatus *status(int index) const;

    // One command and its reply (empty when none arrived).
    QByteArray ask(Connection *connection, void (Connection::*sender)(const QByteArray &), const QByteArray &arguments);
    QByteArray ask(Connection *connection, void (Connection::*sender)());
    static bool isGood(const QByteArray &reply);
    static QByteArray stageArgument(int stage);
    static QByteArray valueArgument(int stage, double value);
    static QByteArray axisArgument(int stage, char axis, double value);
    static int unsignedAt(const QByteArray &reply, int pos);
    static int signedAt(const QByteArray &reply, int pos);

    void reset();
    void refresh();
    void apply();
    void save();
    void setHold(int stage);
    void readHoldPositions(const QByteArray &sample, int stage);
    void updateDetectorFromControls(int stage);
    void typeChanged(int stage, int index);
    void unitClicked(int stage, bool lengthButton, bool checked);
    void sourceClicked(Source source, int stage, bool software, bool checked);
    void selectSource(Source source, int stage, bool software);
    void press(QAbstractButton *button);
    QRadioButton *sourceButton(Source source, int stage, bool software) const;
    void enableSourceValues(Source source, int stage, bool on);
    void report(const QString &message);
    void setDetectorLabels();

    // Group operations.
    int partnerOf(int index) const;
    static bool succeeded(const QByteArray &reply);
    void partnerMissing(bool lockToo);
    void lockOwnStage(int stage);

    std::unique_ptr<Ui::ParamsDialog> ui;
    StageWidgets stages[2];
    QList<Controller *> *connections = nullptr;
    QList<ControllerStatus> *statusList = nullptr;
    QList<StageDetectors> detectors;
    int current = 0;
    std::unique_ptr<Settings> settings;
    QString setupPath;
    QMessageBox *infoBox = nullptr;
};
