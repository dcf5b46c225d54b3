#include "setup/LinkOpening.h"

#include "link/Identification.h"
#include "link/SerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace LinkOpening {

bool waitForConnected(Connection &link, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && timer.elapsed() < milliseconds) {
        if (link.isFinished())
            break;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return link.linkState() == Connection::Connected;
}

bool identify(Connection &link, IdText idText, QString &controllerId)
{
    QByteArray reply;
    for (int attempt = 0; attempt < 2; ++attempt) {
        link.clearLiveStream();
        link.waitForReply(reply);
    }
    link.getControllerId();
    link.waitForReply(reply);
    const ControllerIdentity identity = parseIdentification(reply);
    if (!applyIdentification(link, identity))
        return false;
    controllerId = idText == IdText::Connect ? identity.controllerId
                                             : QString::fromLatin1(reply.mid(2)).remove(QLatin1Char(';'));
    return true;
}

void sendLabel(Connection &link, const QString &label)
{
    link.setLabel(label);
    link.sendLabel(label);
    QByteArray reply;
    link.waitForReply(reply);
}

void release(Connection *link, bool started)
{
    if (started)
        link->disconnectLink();
    delete link;
}

char baudRateCode(int baud)
{
    switch (baud) {
    case 921600: return 9;
    case 460800: return 4;
    default: return 1;
    }
}

BaudAdjustment adjustBaudRate(const QString &portName, int currentBaud, int newBaud, int connectWaitMs,
                              const std::function<void()> &opening)
{
    auto *temporary = new SerialPort;
    if (!temporary->initialize(portName, currentBaud)) {
        temporary->dispose();
        return BaudAdjustment::PortNotSuitable;
    }
    if (opening)
        opening();
    temporary->start(QThread::InheritPriority);
    const bool connected = waitForConnected(*temporary, connectWaitMs);
    QByteArray reply;
    if (connected) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            temporary->clearLiveStream();
            temporary->waitForReply(reply);
        }
        temporary->setBaudRate(QByteArray(1, baudRateCode(newBaud)) + ';');
        temporary->waitForReply(reply);
    }
    release(temporary, true);
    return connected && !reply.isEmpty() && reply.at(0) == 0 ? BaudAdjustment::Done : BaudAdjustment::Failed;
}

} // namespace LinkOpening
