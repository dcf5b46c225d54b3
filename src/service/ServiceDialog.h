#pragma once

#include "link/Connection.h"

#include <QByteArray>
#include <QDialog>
#include <QPointer>

#include <functional>

namespace Ui {
class ServiceDialog;
}

// Operation tests of one controller for service technicians. Every test
// pauses the controller's stream, sends one command, waits for the reply,
// restarts the stream if it was running and appends its outcome as text to
// the result pane; nothing raises a message box. The tests run in the
// user-interface thread and block it for at most the link's reply waits
// (the speed test also for its one measuring second).
//
// The main window owns the connection and hands it over with setConnection
// before showing the dialog.
class ServiceDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ServiceDialog(QWidget *parent = nullptr);
    ~ServiceDialog() override;

    // Takes the connection under test and fills the information rows
    // (board id, baud rate or TCP port).
    void setConnection(Connection *connection);
    Connection *connection() const { return link; }

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
    void on_manalPosition_checkBox_clicked(bool checked);
    void on_clear_pushButton_clicked();
    void on_buttonClose_clicked();

private:
    using Sender = void (Connection::*)(const QByteArray &);

    void buildQuickSetGrid();
    void equalizeCommandColumns();
    void appendResult(const QString &text);
    // Pauses the stream, runs send, waits for the reply, resumes. False
    // (with an empty reply) when there is no connection.
    bool exchange(const std::function<void()> &send, QByteArray &reply);
    // One command whose outcome is "<what>: Success" or "<what>: Failed".
    void runSimple(Sender sender, const QByteArray &arguments, const QString &what);
    void stageCommand(Sender sender, int stage, const QString &caption);
    void driveActuator(int stage, char axis);
    int driveValue() const;
    void quickSet(Sender sender, const QString &caption, int stage, int value);
    void quickSetAdjustIn(int stage, char axis);
    // Reopens the link at the given parameter (baud rate or TCP port) and
    // asks for the identification; true when the controller answers.
    bool reopenAndCheck(int parameter);
    void showBaudRate(int baudRate);

    Ui::ServiceDialog *ui;
    QPointer<Connection> link;
};
