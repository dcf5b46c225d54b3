#pragma once

#include "detectors/StageDetectors.h"
#include "controller/Controller.h"
#include "controller/ControllerStatus.h"
#include "controller/FutureCallback.h"

#include <QByteArray>
#include <QDialog>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QPointer>
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

namespace ParameterSequences {
struct Reading;
struct ApplyOutcome;
}

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
// Every user action gathers its inputs from the widgets, queues one request
// on the controller (ParameterSequences, run on the controller's worker
// thread, which stops a streaming controller first and restarts it at its
// rate afterwards) and shows the outcome when the request has finished; the
// dialog never waits for a controller. A failed restart is reported through
// the controller's streamRestartFailed(). Values are shown
// as applied only when the controller confirmed them: a refused value falls
// back to "external" and the reason is shown in one shared, non-blocking
// message box.
//
// While the controller is busy (a request of this dialog or of anyone else
// is queued or running) the buttons that start a sequence are disabled and
// the title says "Busy...". An outcome that arrives after the dialog was
// closed or pointed at another controller is dropped.
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
    // The current controller is busy or an outcome of this dialog is due.
    bool isBusy() const;
    QMessageBox *messageBox() const { return infoBox; }
    // The setup file Save merges into (empty: the default file).
    void setSetupPath(const QString &path) { setupPath = path; }

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
    // The current controller; null without a valid index.
    Controller *controller() const;
    ControllerStatus *status(int index) const;
    // The status record of a controller (it may have moved in the lists).
    ControllerStatus *statusOf(Controller *controller) const;

    // Queues `future`'s outcome for `show`, which runs on this thread when
    // the request has finished, if the dialog still shows that controller in
    // the same opening; the dialog counts as busy until then.
    template<typename T, typename Show>
    void whenDone(const QFuture<T> &future, Show show);
    bool stillCurrent(Controller *controller, unsigned opening) const;
    // Follows the current controller's busy state.
    void watchController();
    void showBusy();
    // Enables a button that has a state of its own (Set & Hold, the group
    // buttons) as far as the dialog is not busy.
    void allow(QPushButton *button, bool on);

    void reset();
    void refresh();
    void showReading(const ParameterSequences::Reading &reading);
    void apply();
    void showApplied(const ParameterSequences::ApplyOutcome &outcome);
    void save();
    void saveRecord(const QByteArray &idReply);
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
    void partnerMissing(bool lockToo);
    void lockOwnStage(int stage);
    void readCommonFor(Controller *own, Controller *partner);
    void applyTargets(Controller *partner, const int values[4]);

    std::unique_ptr<Ui::ParamsDialog> ui;
    StageWidgets stages[2];
    QList<Controller *> *connections = nullptr;
    QList<ControllerStatus> *statusList = nullptr;
    QList<StageDetectors> detectors;
    int current = 0;
    std::unique_ptr<Settings> settings;
    QString setupPath;
    QMessageBox *infoBox = nullptr;
    QPointer<Controller> watched;         // whose busyChanged is followed
    unsigned opening = 0;                 // bumped by openDialog and on hiding
    int outstanding = 0;                  // outcomes of this opening still due
    QHash<QPushButton *, bool> allowed;   // own state of the stateful buttons
};

template<typename T, typename Show>
void ParamsDialog::whenDone(const QFuture<T> &future, Show show)
{
    Controller *c = controller();
    ++outstanding;
    showBusy();
    whenReady(future, this, [this, c, sentIn = opening, show = std::move(show)](const T &result) mutable {
        if (!stillCurrent(c, sentIn))
            return; // closed or pointed elsewhere meanwhile: its count was reset
        --outstanding;
        show(result);
        showBusy();
    });
}
