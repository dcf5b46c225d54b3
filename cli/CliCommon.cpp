#include "CliCommon.h"

#include "link/TcpClient.h"

#include <QElapsedTimer>
#include <QThread>

bool takeOption(QStringList &args, const QString &name, QString &value)
{
    const int at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.size())
        return false;
    value = args.at(at + 1);
    args.removeAt(at + 1);
    args.removeAt(at);
    return true;
}

bool takeFlag(QStringList &args, const QString &name)
{
    return args.removeAll(name) > 0;
}

bool takeLinkOptions(QStringList &args, LinkTarget &target, QString &error)
{
    if (args.contains(QStringLiteral("--tcp"))) {
        QString text;
        if (!takeOption(args, QStringLiteral("--tcp"), text)) {
            error = QStringLiteral("--tcp needs HOST[:PORT]");
            return false;
        }
        target.tcp = true;
        target.given = true;
        target.address = text;
        target.parameter = 2000;
        // "HOST:PORT", but an IPv6 address alone has colons of its own.
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && text.count(QLatin1Char(':')) == 1) {
            bool ok = false;
            target.parameter = text.mid(colon + 1).toInt(&ok);
            target.address = text.left(colon);
            if (!ok || target.parameter <= 0 || target.parameter > 65535) {
                error = QStringLiteral("invalid TCP port in '%1'").arg(text);
                return false;
            }
        }
    }
    return true;
}

std::unique_ptr<Connection> openLink(const LinkTarget &target, QString &error)
{
    std::unique_ptr<Connection> link;
    if (target.tcp)
        link = std::make_unique<TcpClient>();
    if (!link->initialize(target.address, target.parameter)) {
        error = QStringLiteral("'%1' is not a usable address").arg(target.address);
        return nullptr;
    }
    link->start();
    QElapsedTimer timer;
    timer.start();
    while (link->linkState() != Connection::Connected && !link->isFinished() && timer.elapsed() < 5000)
        QThread::msleep(1);
    if (link->linkState() != Connection::Connected) {
        error = QStringLiteral("could not connect to %1:%2").arg(target.address).arg(target.parameter);
        return nullptr;
    }
    return link;
}

QString describeBytes(const QByteArray &bytes)
{
    QString hex = QString::fromLatin1(bytes.toHex(' '));
    QString text;
    for (char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
    return QStringLiteral("%1 bytes: %2  |%3|").arg(bytes.size()).arg(hex, text);
}

QString linkOptionsHelp()
{
    return QStringLiteral("Link options:\n"
                          "  --tcp HOST[:PORT]   controller on TCP/IP (IP address, port 2000 by default)\n");
}
