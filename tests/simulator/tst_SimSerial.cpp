#include "Simulator.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Opens a terminal device the way a plain POSIX program does, raw 8N1.
int openTerminal(const QString &path, speed_t speed, bool hardwareFlow)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (hardwareFlow)
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~tcflag_t(CRTSCTS);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void setSpeed(int fd, speed_t speed)
{
    termios t{};
    tcgetattr(fd, &t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

// Writes cmd and reads until `expected` bytes arrived or waitMs passed.
QByteArray ask(int fd, const QByteArray &cmd, int expected, int waitMs)
{
    if (::write(fd, cmd.constData(), size_t(cmd.size())) != cmd.size())
        return {};
    QByteArray out;
    QDeadlineTimer deadline(waitMs);
    while (out.size() < expected && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) > 0) {
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                out.append(buf, int(n));
        }
    }
    return out;
}
}

class SimSerialTest : public QObject
{
    Q_OBJECT

private slots:
    void answersOnlyAtConfiguredLineSettings();
    void reopenAfterHangUpAndLinks();
};

void SimSerialTest::answersOnlyAtConfiguredLineSettings()
{
    Simulator sim;
    SerialOptions opt;
    opt.baud = 921600;
    opt.flow = 1;
    const QStringList paths = sim.startSerial(1, opt);
    QCOMPARE(paths.size(), 1);

    int fd = openTerminal(paths[0], B921600, true);
    QVERIFY(fd >= 0);
    const QByteArray id = ask(fd, "GID;", 50, 3000);
    QCOMPARE(id.size(), 50);
    QVERIFY(id.startsWith(QByteArray("\x00;ORX", 5)));

    // Wrong baud rate: the controller stays silent.
    setSpeed(fd, B115200);
    QVERIFY(ask(fd, "GID;", 50, 300).isEmpty());
    setSpeed(fd, B921600);
    QCOMPARE(ask(fd, "GSF;", 4, 3000).size(), 4);
    ::close(fd);

    // Wrong flow control: silent as well.
    fd = openTerminal(paths[0], B921600, false);
    QVERIFY(fd >= 0);
    QVERIFY(ask(fd, "GID;", 50, 300).isEmpty());
    ::close(fd);
}

void SimSerialTest::reopenAfterHangUpAndLinks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Simulator sim;
    SerialOptions opt;
    opt.linkPath = dir.filePath("ttyUSB0");
    const QStringList paths = sim.startSerial(2, opt);
    QCOMPARE(paths.size(), 2);
    QCOMPARE(QFileInfo(dir.filePath("ttyUSB1")).symLinkTarget(), paths[1]);

    int fd = openTerminal(dir.filePath("ttyUSB1"), B115200, false);
    QVERIFY(fd >= 0);
    QCOMPARE(ask(fd, QByteArray("SLS") + QByteArray("\x00\x00\x00\x64;", 5), 25, 3000).size(), 25);
    QVERIFY(sim.isStreaming(1));
    ::close(fd);
    // The hang-up ends the stream; the device can be opened again.
    QTRY_VERIFY_WITH_TIMEOUT(!sim.isStreaming(1), 3000);
    fd = openTerminal(paths[1], B115200, false);
    QVERIFY(fd >= 0);
    tcflush(fd, TCIOFLUSH);
    QTRY_COMPARE_WITH_TIMEOUT(ask(fd, "GID;", 50, 500).size(), 50, 5000);
    ::close(fd);

    sim.stop();
    QVERIFY(!QFileInfo::exists(dir.filePath("ttyUSB0")));
}

QTEST_GUILESS_MAIN(SimSerialTest)
#include "tst_SimSerial.moc"
