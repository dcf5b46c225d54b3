#pragma once

#include "controller/Controller.h"
#include "link/Connection.h"

#include <QByteArray>
#include <QDialog>
#include <QFuture>
#include <QList>
#include <QPointer>

#include <functional>

class QPushButton;

namespace Ui {
class ServiceDialog;
}

// Operation tests of one controller for service technicians. Every test
// pauses the controller's stream, sends one command, takes the reply,
// restarts the stream if it was running and appends its outcome as text to
// the result pane; nothing raises a message box. A test is one request on
// the controller (it runs on the controller's worker thread); the dialog
// shows its lines when the request has finished and never waits for it.
// While the controller is busy the test buttons are disabled and the title
// says so; the lines of a test whose controller was replaced meanwhile are
// dropped.
//
// The main window owns the controller and hands it over with setController
// before showing the dialog.
class ServiceDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ServiceDialog(QWidget *parent = nullptr);
    ~ServiceDialog() override;

    // Takes the controller under test and fills the information rows
    // (board id, baud rate or TCP port) once it has answered.
    void setController(Controller *controller);
    Controller *controller() const { return target.data(); }
    // The controller is running a request (of this dialog or another).
    bool isBusy() const;

private slots:
    void on_buttonSSH_1_clicked();
    void on_buttonSSH_2_clicked();
    void on_buttonSSH_3_clicked();
    void on_buttonCSH_1_clicked();
    void on_buttonCSH_2_clicked();
    void on_buttonCSH_3_clicked();
    void on_buttonSTF_1_clicked();
    void on_buttonSTF_2_clicked();
    void on_buttonSTF_3_clicked();
    void on_buttonCTF_1_clicked();
    void on_buttonCTF_2_clicked();
    void on_buttonCTF_3_clicked();
    void on_buttonSDA_1x_clicked();
    void on_buttonSDA_2x_clicked();
    void on_buttonSDA_1y_clicked();
    void on_buttonSDA_2y_clicked();
    void on_buttonGAS_clicked();
    void buttonGIN_clicked();
    void on_buttonS1S_clicked();
    void on_buttonCLS_clicked();
    void on_speed_pushButton_clicked();
    void on_baudrateChange_clicked();
    void on_error_PushButton_clicked();
    void on_fram_PushButton_clicked();
    void manualPositionClicked(bool checked);
    void on_clear_pushButton_clicked();
    void on_buttonClose_clicked();

private:
    using Sender = void (Connection::*)(const QByteArray &);

    void buildQuickSetGrid();
    void equalizeCommandColumns();
    void appendResult(const QString &text);
    // Queues one test on the controller: stream pause, `send`, the reply,
    // stream resume; `show` gets the reply on this thread afterwards. False
    // (and a line saying so) when there is no controller.
    bool exchange(const std::function<void(Connection &)> &send, const std::function<void(const QByteArray &)> &show);
    // Runs `show` with a request's result unless the controller was replaced
    // meanwhile or the dialog is gone.
    template<typename T, typename Show>
    void whenDone(const QFuture<T> &future, Show show);
    // One command whose outcome is "<what>: Success" or "<what>: Failed".
    void runSimple(Sender sender, const QByteArray &arguments, const QString &what);
    void stageCommand(Sender sender, int stage, const QString &caption);
    void driveActuator(int stage, char axis);
    int driveValue() const;
    void quickSet(Sender sender, const QString &caption, int stage, int value);
    void quickSetAdjustIn(int stage, char axis);
    void showBaudRate(int baudRate);
    // Disables the test buttons (and marks the title) while the controller
    // is busy; enables again only those it disabled.
    void showBusy();

    Ui::ServiceDialog *ui;
    QPointer<Controller> target;
    unsigned generation = 0;                 // bumped by setController
    int outstanding = 0;                     // this dialog's requests not yet shown
    QString title;
    QList<QPushButton *> testButtons;
    QList<QPushButton *> disabledWhileBusy;
};
