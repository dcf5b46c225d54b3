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

    // Writes what the controller says. Bytes the terminal cannot take at
    // once are queued and written as the application reads (a real line
    // paces the controller the same way); nothing is dropped while someone
    // has the device open. Output while nobody has it open goes nowhere and
    // is counted in bytesNotDelivered(); a queue grown past maximumQueued
    // (an application that stopped reading for minutes) is cut, counted in
    // bytesDropped() and reported once in the log.
    void write(const char *data, int size);
    qint64 bytesNotDelivered() const { return m_notDelivered; }
    qint64 bytesDropped() const { return m_dropped; }
    int bytesQueued() const { return m_queue.size(); }

    static constexpr int maximumQueued = 64 * 1024 * 1024;

signals:
    void bytesReceived(const QByteArray &data);
    void hungUp();

private:
    void readMaster();
    void checkReopened();
    void flushQueue();
    bool hungUpNow() const;

    int m_master = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_queue;
    qint64 m_notDelivered = 0;
    qint64 m_dropped = 0;
    QTimer *m_hangupTimer = nullptr;
    int m_baud = 0;
    int m_flow = -1;
};
