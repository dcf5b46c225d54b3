#pragma once

#include "link/Connection.h"

#include <QHostAddress>

class QTcpSocket;
class QTimer;

// Connection to a controller with an Ethernet interface. The socket, the
// relay object and the connect timer belong to the link thread; the link
// ends when the controller closes the connection, when nobody answers
// within the base time-out, on disconnectLink or on destruction.
class TcpClient : public Connection
{
    Q_OBJECT
public:
    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    QString address() const override;
    bool isTcp() const override { return true; }
    bool initialize(QString address, int parameter) override;
    int parameter() const override { return port; }
    void clearInput() override;
    void resync() override;

public slots:
    void sendMessage(QByteArray message, int answerLength) override;

protected:
    void run() override;

private slots:
    void firstTalk();
    void checkConnection();
    void handleDisCon();

private:
    QTcpSocket *socket() const;

    QHostAddress hostAddress;
    int port = 2000;
    QTimer *connectTimer = nullptr;
    bool connectTimedOut = false; // link thread
};
