#include "PtyPort.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPort::PtyPort(QObject *parent)
    : QObject(parent)
{
}

PtyPort::~PtyPort()
{
    close();
}

bool PtyPort::open()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return false;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Raw 8N1 on the slave side (set through the master) until the application
    // applies its own settings.
    termios t{};
    if (tcgetattr(m_master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_master, TCSANOW, &t);
    }

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPort::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyPort::flushQueue);
    // While nobody holds the terminal the master reports a hang-up all the
    // time, so it is polled instead of watched. The poll is short: a program
    // that reopens the port and clears its buffers soon after writing throws
    // away whatever the simulator has not yet read.
    m_hangupTimer = new QTimer(this);
    m_hangupTimer->setInterval(5);
    connect(m_hangupTimer, &QTimer::timeout, this, &PtyPort::checkReopened);
    return true;
}

void PtyPort::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    m_queue.clear();
    delete m_hangupTimer;
    m_hangupTimer = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

int PtyPort::currentBaud() const
{
    termios t{};
    if (m_master < 0 || tcgetattr(m_master, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}

int PtyPort::currentFlow() const
{
    termios t{};
    if (m_master < 0 || tcgetattr(m_master, &t) != 0)
        return -1;
    return (t.c_cflag & CRTSCTS) ? 1 : 0;
}

bool PtyPort::lineMatches() const
{
    if (m_baud > 0 && currentBaud() != m_baud)
        return false;
    if (m_flow >= 0 && currentFlow() != m_flow)
        return false;
    return true;
}

bool PtyPort::hungUpNow() const
{
    return m_hangupTimer && m_hangupTimer->isActive();
}

void PtyPort::write(const char *data, int size)
{
    if (m_master < 0 || size <= 0)
        return;
    if (hungUpNow()) {
        m_notDelivered += size;
        return;
    }
    if (m_queue.size() + qint64(size) > maximumQueued) {
        if (m_dropped == 0)
            qWarning().noquote() << "Pseudo-terminal" << m_slavePath << "is not being read; output dropped";
        m_dropped += size;
        return;
    }
    m_queue.append(data, size);
    flushQueue();
}

void PtyPort::flushQueue()
{
    int written = 0;
    while (written < m_queue.size()) {
        const ssize_t n = ::write(m_master, m_queue.constData() + written, size_t(m_queue.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // Nobody at the other end (EIO): the rest goes nowhere.
            m_notDelivered += m_queue.size() - written;
            written = m_queue.size();
            break;
        }
        if (n <= 0)
            break;   // the terminal is full; the write notifier resumes
        written += int(n);
    }
    m_queue.remove(0, written);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_queue.isEmpty() && !hungUpNow());
}

void PtyPort::readMaster()
{
    char buf[4096];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n > 0) {
        emit bytesReceived(QByteArray(buf, int(n)));
        return;
    }
    if (n < 0 && errno == EAGAIN)
        return;
    // EIO: the last holder of the slave closed it; what it had not read is gone.
    m_notifier->setEnabled(false);
    m_notDelivered += m_queue.size();
    m_queue.clear();
    m_writeNotifier->setEnabled(false);
    m_hangupTimer->start();
    emit hungUp();
}

void PtyPort::checkReopened()
{
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP)) {
        m_hangupTimer->stop();
        m_notifier->setEnabled(true);
    }
}
