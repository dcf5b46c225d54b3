#pragma once

// Stands where the main window will stand: takes the links the dialog hands
// over, owns them, records what the dialog asked, and carries out close,
// disconnect and reconnect on the real links.

#include "LinkTestUtil.h"

#include "link/Identification.h"
#include "controller/Controller.h"
#include "setup/ConnectionHost.h"
#include "setup/SettingsDialog.h"

#include <QHash>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

class SettingsTestHost : public ConnectionHost
{
public:
    SettingsDialog *dialog = nullptr;          // receives hostDisconnected, as from the window
    std::vector<std::unique_ptr<Controller>> links;
    QList<ConnectionSettings> handed;          // copies of the records given with newConnection
    QHash<QString, ConnectionSettings> current; // what the window would copy back before a save
    QStringList ready;                         // addresses reported by connectionReady
    QStringList events;                        // "new <address>" and "ready <address>" in the order they came

    auto find(const QString &address) { return std::find_if(links.begin(), links.end(), [&](const auto &l) { return l->address() == address; }); }
    Connection *link(const QString &address) { return find(address) == links.end() ? nullptr : &(*find(address))->link(); }

    void newConnection(Controller *controller, ConnectionSettings *settings) override
    {
        links.emplace_back(controller);
        handed << *settings;
        events << "new " + controller->address();
        if (dialog)
            QObject::connect(&controller->link(), &Connection::hostDisconnected, dialog, &SettingsDialog::disconnectRow);
    }

    void connectionReady(QString address, QString) override { ready << address, events << "ready " + address; }

    Controller *controllerAt(QString address) const override
    {
        for (const auto &l : links)
            if (l->address() == address)
                return l.get();
        return nullptr;
    }

    // The test host carries requests out at once: the dialog's side is what is tested.
    void closedConnection(QString address, std::function<void(bool)> done) override
    {
        const auto it = find(address);
        if (it == links.end() || !(*it)->link().disconnectLink())
            return done(false);
        links.erase(it);
        done(true);
    }

    void disconnectConnection(QString address, std::function<void(bool)> done) override
    {
        Connection *l = link(address);
        if (l)
            l->disconnectLink();
        done(l && l->linkState() != Connection::Connected);
    }

    void reconnectConnection(QString address, std::function<void(bool, QString)> done) override
    {
        Connection *l = link(address);
        if (!l)
            return done(false, QString());
        if (l->isRunning())
            l->disconnectLink();
        l->start();
        if (!waitUntilConnected(*l))
            return done(false, QString());
        const ControllerIdentity identity = identifyController(*l, 3);
        if (!identity.valid)
            l->disconnectLink();
        done(identity.valid, identity.valid ? identity.controllerId : QString());
    }

    bool updateSettingsAndParameters(QList<ConnectionSettings> &settings) override
    {
        if (settings.size() != int(links.size()))
            return false;
        for (int i = 0; i < settings.size(); ++i) {
            settings[i].label = links[i]->link().label();
            const auto it = current.constFind(links[i]->address());
            if (it == current.constEnd())
                continue;
            ConnectionSettings &s = settings[i]; // takes the display and detector fields the window holds
            std::tie(s.colorX, s.colorY, s.colorI, s.pulsedLaser) = std::tie(it->colorX, it->colorY, it->colorI, it->pulsedLaser);
            std::copy_n(it->model, 2, s.model);
            std::copy_n(it->beamDiameter, 2, s.beamDiameter);
            std::copy_n(it->calculation, 2, s.calculation);
        }
        return true;
    }
};
