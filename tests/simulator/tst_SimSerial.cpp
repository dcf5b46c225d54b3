#include "Simulator.h"

#include <QSerialPort>
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
    void serialPortSettingsAreSeen_data();
    void serialPortSettingsAreSeen();
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

void SimSerialTest::serialPortSettingsAreSeen_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("hardwareFlow");
    QTest::addColumn<bool>("answers");
    QTest::newRow("921600 hw") << 921600 << true << true;
    QTest::newRow("921600 none") << 921600 << false << false;
    QTest::newRow("115200 hw") << 115200 << true << false;
}

// QSerialPort's line settings on the pty are what the simulator checks.
void SimSerialTest::serialPortSettingsAreSeen()
{
    QFETCH(int, baud);
    QFETCH(bool, hardwareFlow);
    QFETCH(bool, answers);

    Simulator sim;
    SerialOptions opt;
    opt.baud = 921600;
    opt.flow = 1;
    const QStringList paths = sim.startSerial(1, opt);
    QCOMPARE(paths.size(), 1);

    QSerialPort port(paths[0]);
    port.setBaudRate(baud);
    port.setFlowControl(hardwareFlow ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write("GID;");
    port.flush();
    QByteArray reply;
    QDeadlineTimer deadline(answers ? 3000 : 300);
    while (reply.size() < 50 && !deadline.hasExpired())
        if (port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            reply += port.readAll();
    QCOMPARE(reply.size(), answers ? 50 : 0);
    if (!answers)
        return;

    // After SBR the controller answers only at the new rate.
    port.write(QByteArray("SBR\x01;"));
    QVERIFY(port.waitForReadyRead(3000));
    QCOMPARE(port.readAll(), QByteArray("\x00;", 2));
    port.write("GSF;");
    QVERIFY(!port.waitForReadyRead(300));
    QVERIFY(port.setBaudRate(115200));
    port.write("GSF;");
    QVERIFY(port.waitForReadyRead(3000));
    QCOMPARE(port.readAll().left(2), QByteArray("\x00;", 2));
}

QTEST_GUILESS_MAIN(SimSerialTest)
#include "tst_SimSerial.moc"
