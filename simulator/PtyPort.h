#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// The controller's end of a pseudo-terminal pair. The application opens the
// slave device like a serial interface; the simulator reads and writes the
// master side.
//
// Line settings: on Linux the termios calls on a pty master report the
// settings of the slave, so the baud rate and the hardware flow control that
// the application applied to "its" serial port are read from the master
// (QSerialPort sets 115200 and 921600 as the standard B115200/B921600 codes and
// CRTSCTS; both are visible through tcgetattr). The slave is not kept open by
// the simulator so that the application closing it is seen as a hang-up
// (POLLHUP on the master); the port then waits until the slave is opened again.
class PtyPort : public QObject
{
    Q_OBJECT
public:
    explicit PtyPort(QObject *parent = nullptr);
    ~PtyPort() override;

    bool open();
    void close();
    QString slavePath() const { return m_slavePath; }

    // 0 = any baud rate, -1 = any flow control.
    void setRequiredLine(int baud, int flow) { m_baud = baud; m_flow = flow; }
    bool lineMatches() const;
    int currentBaud() const;
    int currentFlow() const;

    void write(const char *data, int size);

signals:
    void bytesReceived(const QByteArray &data);
    void hungUp();

private:
    void readMaster();
    void checkReopened();

    int m_master = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_hangupTimer = nullptr;
    int m_baud = 0;
    int m_flow = -1;
};
