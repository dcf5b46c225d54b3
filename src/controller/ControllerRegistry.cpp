#include "controller/ControllerRegistry.h"

#include "controller/ControllerPalette.h"

#include "controller/Controller.h"
#include "link/Connection.h"
#include "setup/ConnectionSettings.h"

ControllerRegistry::~ControllerRegistry()
{
    qDeleteAll(controllers);
}

int ControllerRegistry::indexOf(const QString &address) const
{
    for (int i = 0; i < controllers.size(); ++i)
        if (!leaving.contains(controllers.at(i)) && controllers.at(i)->address() == address)
            return i;
    return -1;
}

int ControllerRegistry::indexOf(const Controller *controller) const
{
    for (int i = 0; i < controllers.size(); ++i)
        if (controllers.at(i) == controller)
            return i;
    return -1;
}

Connection *ControllerRegistry::link(int c) const
{
    return &controllers.at(c)->link();
}

int ControllerRegistry::add(Controller *controller, const ConnectionSettings *settings)
{
    controllers.append(controller);
    const Connection *connection = &controller->link();
    ControllerStatus status;
    status.address = connection->address();
    status.label = connection->label();
    status.connected = connection->linkState() == Connection::Connected;
    if (settings) {
        status.colorX = settings->colorX;
        status.colorY = settings->colorY;
        status.colorI = settings->colorI;
        status.commonColorX = settings->commonColorX;
        status.commonColorY = settings->commonColorY;
        status.commonColorI = settings->commonColorI;
        status.groupId = settings->group;
        status.controllerId = settings->id;
    }
    // A controller without stored colours gets a colour family of its own,
    // one that no other controller uses.
    if (!status.colorX.isValid() || !status.colorY.isValid() || !status.colorI.isValid()) {
        QList<QColor> inUse;
        for (const ControllerStatus &other : qAsConst(controllerStatus))
            inUse << other.colorX;
        const ControllerPalette::Traces traces = ControllerPalette::next(inUse);
        status.colorX = traces.x;
        status.colorY = traces.y;
        status.colorI = traces.intensity;
    }
    controllerStatus.append(status);
    return controllers.size() - 1;
}

Controller *ControllerRegistry::takeAt(int index)
{
    if (index < 0 || index >= controllers.size())
        return nullptr;
    displayed.removeAll(index);
    for (int &d : displayed)
        if (d > index)
            --d;
    activeIndex = displayed.isEmpty() ? -1 : displayed.first();
    controllerStatus.removeAt(index);
    leaving.remove(controllers.at(index));
    return controllers.takeAt(index);
}

int ControllerRegistry::rateLimit() const
{
    for (const Controller *c : controllers)
        if (!c->link().isTcp() && c->link().parameter() == slowSerialBaud)
            return slowSerialMaxRate;
    return maxRate;
}

bool ControllerRegistry::allDisplayedTriggered() const
{
    if (displayed.isEmpty())
        return false;
    for (int d : displayed)
        if (!stageDetectors.at(d).triggerDisplay)
            return false;
    return true;
}
