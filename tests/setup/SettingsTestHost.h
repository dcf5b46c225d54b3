#pragma once

// Stands where the main window will stand: takes the links the dialog hands
// over, owns them, records what the dialog asked, and carries out close,
// disconnect and reconnect on the real links.

#include "LinkTestUtil.h"

#include "link/Identification.h"
#include "setup/ConnectionHost.h"
#include "setup/SettingsDialog.h"

#include <QHash>

#include <memory>
#include <vector>

class SettingsTestHost : public ConnectionHost
{
public:
    SettingsDialog *dialog = nullptr;          // receives hostDisconnected, as from the window
    std::vector<std::unique_ptr<Connection>> links;
    QList<ConnectionSettings> handed;          // copies of the records given with newConnection
    QHash<QString, ConnectionSettings> current; // what the window would copy back before a save

    Connection *link(const QString &address) const
    {
        for (const auto &l : links)
            if (l->address() == address)
                return l.get();
        return nullptr;
    }

    void newConnection(Connection *connection, ConnectionSettings *settings) override
    {
        links.emplace_back(connection);
        handed << *settings;
        if (dialog)
            QObject::connect(connection, &Connection::hostDisconnected, dialog, &SettingsDialog::on_WidgetDisconnect);
    }

    bool closedConnection(QString address) override
    {
        for (auto it = links.begin(); it != links.end(); ++it) {
            if ((*it)->address() == address) {
                if (!(*it)->disconnectLink())
                    return false;
                links.erase(it);
                return true;
            }
        }
        return false;
    }

    bool disconnectConnection(QString address) override
    {
        Connection *l = link(address);
        if (!l)
            return false;
        l->disconnectLink();
        return l->linkState() != Connection::Connected;
    }

    bool reconnectConnection(QString address, QString &boardID) override
    {
        Connection *l = link(address);
        if (!l)
            return false;
        if (l->isRunning())
            l->disconnectLink();
        l->start();
        if (!waitUntilConnected(*l))
            return false;
        const ControllerIdentity identity = identifyController(*l, 3);
        if (!identity.valid) {
            l->disconnectLink();
            return false;
        }
        boardID = identity.controllerId;
        return true;
    }

    bool updateSettingsAndParameters(QList<ConnectionSettings> &settings) override
    {
        if (settings.size() != int(links.size()))
            return false;
        for (int i = 0; i < settings.size(); ++i) {
            setFixedText(settings[i].label, links[i]->label());
            const auto it = current.constFind(links[i]->address());
            if (it == current.constEnd())
                continue;
            settings[i].colorX = it->colorX;
            settings[i].colorY = it->colorY;
            settings[i].colorI = it->colorI;
            settings[i].pulsedLaser = it->pulsedLaser;
            for (int stage = 0; stage < 2; ++stage) {
                settings[i].model[stage] = it->model[stage];
                settings[i].beamDiameter[stage] = it->beamDiameter[stage];
                settings[i].calculation[stage] = it->calculation[stage];
            }
        }
        return true;
    }
};
