#include "display/ControllerAlerts.h"

#include "controller/Controller.h"
#include "controller/ControllerRegistry.h"
#include "link/Connection.h"

#include <QDateTime>
#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>

namespace {
qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString clock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

const QString entryStyle = QStringLiteral(
    "QLabel { background-color: rgb(190, 30, 20); color: white; font-weight: bold; padding: 1px 6px; }");
} // namespace

ControllerAlerts::ControllerAlerts(ControllerRegistry &controllers, QStatusBar *bar, QObject *parent)
    : QObject(parent)
    , registry(controllers)
    , statusBar(bar)
{
}

int ControllerAlerts::stallMs(int rate)
{
    // A few sample periods, but never less than a second: the display tick
    // and the link's batching delay samples by a few hundred milliseconds.
    return qMax(1000, rate > 0 ? 3000 / rate : 3000);
}

QString ControllerAlerts::nameOf(const QString &label, const QString &address)
{
    const QString trimmed = label.trimmed();
    return trimmed.isEmpty() ? address : QStringLiteral("%1 (%2)").arg(trimmed, address);
}

void ControllerAlerts::watch(Controller *controller)
{
    State &state = states[controller];
    state.lastHeardMs = nowMs();
    QPointer<Controller> guarded(controller);
    // Both arrive from other threads; taken here in the order they were sent.
    connect(controller, &Controller::statusRead, this, [this, guarded](Protocol::StatusFlags flags) {
        if (!guarded)
            return;
        if (flags.valid)
            heard(guarded);
        else
            pollFailed(guarded);
    });
    connect(&controller->link(), &Connection::hostDisconnected, this, [this, guarded] {
        if (guarded)
            linkLost(guarded);
    });
}

void ControllerAlerts::expectDisconnect(const Controller *controller)
{
    auto it = states.find(controller);
    if (it != states.end())
        it->userEnded = true;
}

void ControllerAlerts::forget(const Controller *controller)
{
    auto it = states.find(controller);
    if (it == states.end())
        return;
    if (it->entry) {
        statusBar->removeWidget(it->entry);
        it->entry->deleteLater();
    }
    states.erase(it);
}

ControllerAlerts::Kind ControllerAlerts::kind(const Controller *controller) const
{
    return states.value(controller).kind;
}

QString ControllerAlerts::text(const Controller *controller) const
{
    return states.value(controller).text;
}

void ControllerAlerts::afterTick(const QVector<int> *taken)
{
    const qint64 now = nowMs();
    for (int d = 0; d < registry.displayed.size(); ++d) {
        Controller *controller = registry.controllers.at(registry.displayed.at(d));
        auto it = states.find(controller);
        if (it == states.end() || registry.leaving.contains(controller))
            continue;
        State &state = *it;
        if (taken && d < taken->size() && taken->at(d) > 0) {
            heard(controller);
            continue;
        }
        const Connection &link = controller->link();
        // Only a stream left to run on its own is judged: a command sequence
        // pauses it, a speed test takes the samples itself and trigger
        // pulses may simply not come.
        const bool judged = taken && link.linkState() == Connection::Connected && link.isStreaming()
                            && !controller->isBusy() && !controller->ownsSamples() && !link.isTriggerMode();
        if (!judged) {
            state.streamSeenMs = 0;
            continue;
        }
        if (state.streamSeenMs == 0)
            state.streamSeenMs = now;
        const qint64 quietSince = qMax(state.lastHeardMs, state.streamSeenMs);
        if (state.kind == Kind::None && !state.userEnded && now - quietSince > stallMs(link.samplingRate()))
            raise(controller, state, Kind::NoSamples, state.lastHeardMs);
    }
}

void ControllerAlerts::heard(Controller *controller)
{
    auto it = states.find(controller);
    if (it == states.end())
        return;
    it->lastHeardMs = nowMs();
    if (!controller->isConnected())
        return;
    it->userEnded = false;
    if (it->kind != Kind::None)
        clear(controller, *it);
}

void ControllerAlerts::pollFailed(Controller *controller)
{
    auto it = states.find(controller);
    if (it == states.end() || it->userEnded || it->kind != Kind::None || registry.leaving.contains(controller))
        return;
    raise(controller, *it, Kind::NoReply, it->lastHeardMs);
}

void ControllerAlerts::linkLost(Controller *controller)
{
    auto it = states.find(controller);
    if (it == states.end() || it->userEnded || it->kind == Kind::LinkLost || registry.leaving.contains(controller))
        return;
    raise(controller, *it, Kind::LinkLost, nowMs());
}

QString ControllerAlerts::describe(const Controller *controller, Kind kind, qint64 atMs) const
{
    const int c = registry.indexOf(controller);
    const QString label = c >= 0 ? registry.controllerStatus.at(c).label : controller->link().label();
    const QString name = nameOf(label, controller->address());
    switch (kind) {
    case Kind::NoReply:
        return QStringLiteral("%1: no reply since %2").arg(name, clock(atMs));
    case Kind::NoSamples:
        return QStringLiteral("%1: no samples since %2").arg(name, clock(atMs));
    case Kind::LinkLost:
        return QStringLiteral("%1: link lost at %2").arg(name, clock(atMs));
    case Kind::None:
        break;
    }
    return QString();
}

void ControllerAlerts::raise(Controller *controller, State &state, Kind kind, qint64 atMs)
{
    state.kind = kind;
    state.text = describe(controller, kind, atMs);
    if (!state.entry) {
        state.entry = new QLabel(statusBar);
        state.entry->setObjectName(QStringLiteral("controllerAlert"));
        state.entry->setStyleSheet(entryStyle);
        // Several alerts share the bar's room; none widens the window.
        state.entry->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        statusBar->addWidget(state.entry, 1);
    }
    state.entry->setProperty("address", controller->address());
    state.entry->setText(state.text);
    state.entry->setAccessibleName(state.text);
    state.entry->setToolTip(state.text);
    state.entry->show();
    qWarning().noquote() << state.text;
    emit raised(controller, state.text);
}

void ControllerAlerts::clear(Controller *controller, State &state)
{
    state.kind = Kind::None;
    state.text.clear();
    if (state.entry) {
        statusBar->removeWidget(state.entry);
        state.entry->deleteLater();
        state.entry = nullptr;
    }
    const int c = registry.indexOf(controller);
    const QString name = nameOf(c >= 0 ? registry.controllerStatus.at(c).label : QString(), controller->address());
    const QString back = QStringLiteral("%1: answering again").arg(name);
    qInfo().noquote() << back;
    emit cleared(controller, back);
}
