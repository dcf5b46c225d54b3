#pragma once

#include "link/Connection.h"

#include <QByteArray>

// Test transport: a Connection whose device is one end of a local socket
// pair. The test holds the other end and plays the controller with plain
// blocking reads and writes, so it needs no event loop of its own while
// waitForReply blocks the test thread.
class SocketPairConnection : public Connection
{
    Q_OBJECT
public:
    SocketPairConnection();
    ~SocketPairConnection() override;

    QString address() const override { return QStringLiteral("pair"); }
    bool isTcp() const override { return false; }
    bool initialize(QString, int) override { return true; }
    int parameter() const override { return 0; }
    void resync() override {}
    void clearInput() override;

    // Starts the link thread and waits until it is connected.
    bool open();

    // Controller side.
    void controllerWrite(const QByteArray &bytes);
    // Reads up to count bytes, waiting at most timeoutMs for them.
    QByteArray controllerRead(int count, int timeoutMs = 2000);
    // Everything that arrives within timeoutMs.
    QByteArray controllerDrain(int timeoutMs);

public slots:
    void sendMessage(QByteArray message, int answerLength) override;

protected:
    void run() override;

private:
    int linkFd = -1;
    int controllerFd = -1;
};
