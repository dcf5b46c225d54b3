#pragma once

#include <QByteArray>
#include <QObject>

class Connection;

// Relay that lives in a link thread: a queued call of sendMessage runs the
// connection's sendMessage in that thread, where the device lives.
class CommandRelay : public QObject
{
    Q_OBJECT
public:
    explicit CommandRelay(Connection *connection);

public slots:
    void sendMessage(QByteArray message, int answerLength);

private:
    Connection *connection;
};
