#include "PyController.h"

#include "Errors.h"
#include "Waiting.h"

#include "controller/LinkSequences.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"

#include "app/MessageHandler.h"

#include <QCoreApplication>
#include <QDateTime>

#include <clocale>
#include <cstdio>
#include <mutex>

namespace py = pybind11;
using namespace beamstab;

namespace {

// Where a controller is, from its URL.
struct Target
{
    bool tcp = true;
    QString address;    // host, or serial port name
    int parameter = 0;  // TCP port or baud rate
    QString directory;  // serial: where the port name is looked up; empty = the default
};

constexpr int defaultTcpPort = 2000;
constexpr int defaultBaudRate = 115200; // the first rate the controllers are searched at

Target parseUrl(const std::string &text)
{
    const QString url = QString::fromStdString(text);
    Target target;
    auto invalid = [&text](const char *why) {
        return py::value_error("'" + text + "': " + why);
    };
    if (url.startsWith(QLatin1String("tcp://"))) {
        QString rest = url.mid(6);
        while (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
        target.parameter = defaultTcpPort;
        QString portText;
        if (rest.startsWith(QLatin1Char('['))) { // [IPv6]:port
            const int close = rest.indexOf(QLatin1Char(']'));
            if (close < 0)
                throw invalid("unclosed '[' in the address");
            target.address = rest.mid(1, close - 1);
            if (rest.size() > close + 1) {
                if (rest.at(close + 1) != QLatin1Char(':'))
                    throw invalid("expected ':' after the address");
                portText = rest.mid(close + 2);
            }
        } else {
            const int colon = rest.lastIndexOf(QLatin1Char(':'));
            target.address = colon < 0 ? rest : rest.left(colon);
            if (colon >= 0)
                portText = rest.mid(colon + 1);
        }
        if (!portText.isNull()) {
            bool ok = false;
            target.parameter = portText.toInt(&ok);
            if (!ok || target.parameter <= 0 || target.parameter > 65535)
                throw invalid("invalid TCP port");
        }
        if (target.address.isEmpty())
            throw invalid("no host");
        return target;
    }
    if (url.startsWith(QLatin1String("serial://"))) {
        target.tcp = false;
        QString rest = url.mid(9);
        target.parameter = defaultBaudRate;
        const int question = rest.indexOf(QLatin1Char('?'));
        if (question >= 0) {
            for (const QString &item : rest.mid(question + 1).split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
                bool ok = false;
                if (!item.startsWith(QLatin1String("baud=")))
                    throw invalid("the only option is baud=B");
                target.parameter = item.mid(5).toInt(&ok);
                if (!ok || target.parameter <= 0)
                    throw invalid("invalid baud rate");
            }
            rest.truncate(question);
        }
        const int slash = rest.lastIndexOf(QLatin1Char('/'));
        target.directory = slash < 0 ? QString() : rest.left(slash + 1);
        target.address = rest.mid(slash + 1);
        if (target.address.isEmpty())
            throw invalid("no serial port named");
        return target;
    }
    throw invalid("expected tcp://HOST[:PORT] or serial://[DIR/]PORT[?baud=B]");
}

int milliseconds(double seconds)
{
    if (!(seconds > 0) || seconds > 3600)
        throw py::value_error("the time-out must be more than 0 and at most 3600 seconds");
    return int(seconds * 1000);
}

void checkStage(int stage)
{
    if (stage != 1 && stage != 2)
        throw py::value_error("stage must be 1 or 2");
}

// A controller whose link opens and identifies itself in its worker.
struct Opening
{
    std::unique_ptr<Controller> controller;
    std::string url;
    QString connectFailure; // what to say when the link does not connect
    QFuture<ControllerIdentity> identity;

    Opening() = default;
    Opening(Opening &&) = default;
    ~Opening()
    {
        if (controller) { // a failed or abandoned opening: its request is cancelled
            py::gil_scoped_release release;
            controller.reset();
        }
    }
};

Opening beginOpening(const std::string &url, int waitMs)
{
    const Target target = parseUrl(url);
    std::unique_ptr<Connection> link;
    Opening opening;
    opening.url = url;
    if (target.tcp) {
        link = std::make_unique<TcpClient>();
        opening.connectFailure = QStringLiteral("could not connect to %1:%2").arg(target.address).arg(target.parameter);
    } else {
        auto serial = std::make_unique<SerialPort>();
        if (!target.directory.isEmpty())
            serial->setDeviceDirectory(target.directory);
        link = std::move(serial);
    }
    if (!link->initialize(target.address, target.parameter))
        throw ConnectionFailed(target.tcp
                                   ? QStringLiteral("'%1' is not a usable address").arg(target.address).toStdString()
                                   : std::string("Serial port is not suitable for communication"));
    if (!target.tcp)
        opening.connectFailure = QStringLiteral("could not open serial port %1 at %2 baud")
                                     .arg(static_cast<SerialPort *>(link.get())->devicePath())
                                     .arg(target.parameter);
    opening.controller = std::make_unique<Controller>(std::move(link));
    opening.identity = opening.controller->openAndIdentify(waitMs);
    return opening;
}

std::atomic<bool> logToStderr{false};

// The links' log lines go to standard error only when asked for (as the
// command-line tool's --log); warnings always do.
void quietMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg) {
        if (!logToStderr.load(std::memory_order_relaxed))
            return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(formatLogLine(QDateTime::currentDateTime(), type, message)));
}

} // namespace

void setLogging(bool on)
{
    logToStderr.store(on, std::memory_order_relaxed);
}

void ensureApplication()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication::instance())
            return;
        // Qt takes the environment's locale for the C library; the Python
        // process keeps its own.
        const std::string locale = std::setlocale(LC_ALL, nullptr);
        static int argc = 1;
        static char name[] = "beamstab";
        static char *argv[] = {name, nullptr};
        new QCoreApplication(argc, argv); // lives as long as the process
        qInstallMessageHandler(quietMessageHandler);
        std::setlocale(LC_ALL, locale.c_str());
    });
}

PyController::PyController(std::unique_ptr<Controller> c, std::string url)
    : controller(std::move(c))
    , urlText(std::move(url))
{
}

PyController::~PyController()
{
    close();
}

std::shared_ptr<PyController> PyController::connect(const std::string &url, double timeoutSeconds)
{
    return connectAll({url}, timeoutSeconds).front();
}

std::vector<std::shared_ptr<PyController>> PyController::connectAll(const std::vector<std::string> &urls,
                                                                    double timeoutSeconds)
{
    ensureApplication();
    const int waitMs = milliseconds(timeoutSeconds);
    std::vector<Opening> openings;
    for (const std::string &url : urls)
        openings.push_back(beginOpening(url, waitMs));
    std::vector<std::shared_ptr<PyController>> result;
    for (Opening &opening : openings) {
        const ControllerIdentity found = await(opening.identity);
        const std::string prefix = urls.size() > 1 ? opening.url + ": " : std::string();
        if (!opening.controller->isConnected())
            throw ConnectionFailed(prefix + opening.connectFailure.toStdString());
        if (!found.answered)
            throw NoReply(prefix + "System identification failed: the controller did not answer");
        if (!found.valid)
            throw IdentificationFailed(prefix + "System identification failed");
        std::shared_ptr<PyController> made(new PyController(std::move(opening.controller), opening.url));
        made->identity = found;
        result.push_back(std::move(made));
    }
    return result;
}

void PyController::close()
{
    std::shared_ptr<Controller> closing;
    {
        std::lock_guard<std::mutex> lock(controllerLock);
        closing.swap(controller);
    }
    if (!closing)
        return;
    const bool holdsGil = PyGILState_Check();
    PyThreadState *state = holdsGil ? PyEval_SaveThread() : nullptr;
    if (closing->link().isStreaming()) {
        const QFuture<void> stopped = closing->stopStream();
        while (!stopped.isFinished())
            QThread::msleep(1);
    }
    closing.reset(); // unless a call in another thread still holds it: waits for the request, ends the link
    if (state)
        PyEval_RestoreThread(state);
}

std::shared_ptr<Controller> PyController::current() const
{
    std::lock_guard<std::mutex> lock(controllerLock);
    return controller;
}

std::shared_ptr<Controller> PyController::requests() const
{
    std::shared_ptr<Controller> c = current();
    if (!c)
        throw ConnectionFailed("the connection to " + urlText + " is closed");
    // The controller announces busy changes to the thread it was made in,
    // which here runs no event loop: drop those of earlier requests (nobody
    // listens) so they do not pile up over a long script.
    QCoreApplication::removePostedEvents(c.get(), QEvent::MetaCall);
    return c;
}

std::string PyController::address() const
{
    const auto c = current();
    return c ? c->address().toStdString() : std::string();
}

std::string PyController::label() const
{
    const auto c = current();
    return c ? c->link().label().toStdString() : std::string();
}

long long PyController::dropped() const
{
    const auto c = current();
    return c ? c->link().droppedSamples() : 0;
}

int PyController::linkState() const
{
    const auto c = current();
    // A link whose thread ended (the controller closed the connection) may
    // still read "connected".
    if (!c || c->link().isFinished())
        return Connection::Disconnected;
    return c->link().linkState();
}

bool PyController::isStreaming() const
{
    const auto c = current();
    return c && c->link().isStreaming();
}

void PyController::setStreamOpen(bool open)
{
    std::lock_guard<std::mutex> lock(kept->lock);
    kept->streamOpen = open;
    kept->samples.clear();
}

bool PyController::hasOpenStream() const
{
    std::lock_guard<std::mutex> lock(kept->lock);
    return kept->streamOpen;
}

void PyController::takeSamples(std::vector<StreamSample> &out)
{
    const auto c = current();
    std::lock_guard<std::mutex> lock(kept->lock);
    out.insert(out.end(), kept->samples.begin(), kept->samples.end());
    kept->samples.clear();
    if (!c)
        return;
    constexpr int batch = 256;
    for (;;) {
        const std::size_t at = out.size();
        out.resize(at + batch);
        const int n = c->link().takeSamples(out.data() + at, batch);
        out.resize(at + std::size_t(n));
        if (n < batch)
            break;
    }
}

void PyController::KeptSamples::keepStored(Connection &l)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!streamOpen)
        return;
    StreamSample sample;
    while (l.takeSample(sample))
        samples.push_back(sample);
}

QByteArray PyController::pausedCommand(const std::function<QByteArray(Connection &)> &exchange)
{
    auto outcome = await(requests()->request([kept = kept, exchange](Connection &l) {
        return LinkSequences::paused(l, [&] { return exchange(l); }, [&] { kept->keepStored(l); });
    }));
    if (outcome.reply.isEmpty())
        throw NoReply("no reply");
    if (!outcome.accepted)
        throw CommandFailed("the controller refused the command");
    if (!outcome.streamResumed)
        throw CommandFailed("the stream did not start again after the command");
    return outcome.reply;
}

namespace {
QByteArray waited(Connection &l)
{
    QByteArray reply;
    l.waitForReply(reply);
    return reply;
}
} // namespace

Protocol::StatusFlags PyController::status()
{
    const Protocol::StatusFlags flags = Protocol::statusFromReply(pausedCommand([](Connection &l) {
        l.getStatusFlags();
        return waited(l);
    }));
    if (!flags.valid)
        throw NoReply("no valid reply to the status query");
    return flags;
}

void PyController::setStabilization(int stage, bool on)
{
    checkStage(stage);
    // Repeated once when not accepted, as the stage buttons do.
    auto outcome = await(requests()->request([kept = kept, stage, on](Connection &l) {
        return LinkSequences::switchStabilization(l, stage, on, 2, [&] { kept->keepStored(l); });
    }));
    if (outcome.reply.isEmpty())
        throw NoReply("no reply");
    if (!outcome.accepted)
        throw CommandFailed("the controller refused to switch the stabilization");
    if (!outcome.streamResumed)
        throw CommandFailed("the stream did not start again after the command");
}

double PyController::pFactor(int stage)
{
    checkStage(stage);
    const QByteArray reply = pausedCommand([stage](Connection &l) {
        l.getPFactor(Protocol::stageArgument(stage));
        return waited(l);
    });
    const int value = Protocol::replyValue(reply);
    if (value < 0)
        throw NoReply("no valid reply to the P-factor query");
    return value / 1000.0;
}

void PyController::setPFactor(int stage, double value)
{
    checkStage(stage);
    if (!(value >= 0 && value <= 65.535))
        throw py::value_error("the P-factor takes 0 (external) to 65.535");
    pausedCommand([stage, value](Connection &l) {
        l.setPFactor(Protocol::valueArgument(stage, value));
        return waited(l);
    });
}

void PyController::setLabel(const std::string &text)
{
    const QString label = QString::fromStdString(text);
    pausedCommand([label](Connection &l) {
        l.setLabel(label);
        l.sendLabel(label);
        return waited(l);
    });
}
