#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class ConnectionWidget;
}

// One row of the connection settings dialog: a controller link with its
// controller ID, address and label, the auto-connect choice and the
// Reconnect/Disconnect and delete buttons. The row only reports what the
// user does; the dialog acts on it.
class ConnectionWidget : public QWidget
{
    Q_OBJECT

public:
    ConnectionWidget(const QString &controllerId, const QString &label, const QString &address,
                     QWidget *parent = nullptr);
    ~ConnectionWidget() override;

    QString controllerId() const { return m_controllerId; }
    QString label() const { return m_label; }
    QString address() const { return m_address; }
    bool isConnected() const { return m_connected; }
    // Changes the button text only when the flag changes.
    void setConnected(bool connected);
    void setAutoConnect(bool on);
    // Marks the row of a controller that went away with what happened;
    // empty text: it is fine (again).
    void setAlert(const QString &text);
    QString alert() const { return m_alert; }
    bool autoConnect() const;

signals:
    void autoConnectChanged(bool isActive);
    void reconnectRequested(QString address);
    void disconnectRequested(QString address);
    void labelChanged(QString address, QString label);
    void deleteConnection(QString address);

public slots:
    void on_Button_clicked();
    void on_deleteButton_clicked();
    void on_lineEdit_textEdited(const QString &text);
    void checkBoxAutoConnectChanged(bool checked);

private:
    void describe();

private:
    std::unique_ptr<Ui::ConnectionWidget> ui;
    QString m_controllerId;
    QString m_label;
    QString m_address;
    QString m_alert;
    bool m_connected = false;
};
