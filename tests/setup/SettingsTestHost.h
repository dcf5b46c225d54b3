#pragma once

// Stands where the main window will stand: takes the links the dialog hands
// over, owns them, records what the dialog asked, and carries out close,
// disconnect and reconnect on the real links.

#include "LinkTestUtil.h"

#include "link/Identification.h"
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
    std::vector<std::unique_ptr<Connection>> links;
    QList<ConnectionSettings> handed;          // copies of the records given with newConnection
    QHash<QString, ConnectionSettings> current; // what the window would copy back before a save

    auto find(const QString &address) { return std::find_if(links.begin(), links.end(), [&](const auto &l) { return l->address() == address; }); }
    Connection *link(const QString &address) { return find(address) == links.end() ? nullptr : find(address)->get(); }

    void newConnection(Connection *connection, ConnectionSettings *settings) override
    {
        links.emplace_back(connection);
        handed << *settings;
        if (dialog)
            QObject::connect(connection, &Connection::hostDisconnected, dialog, &SettingsDialog::on_WidgetDisconnect);
    }

    bool closedConnection(QString address) override
    {
        const auto it = find(address);
        if (it == links.end() || !(*it)->disconnectLink())
            return false;
        links.erase(it);
        return true;
    }

    bool disconnectConnection(QString address) override
    {
        Connection *l = link(address);
        if (l)
            l->disconnectLink();
        return l && l->linkState() != Connection::Connected;
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
        if (identity.valid)
            boardID = identity.controllerId;
        else
            l->disconnectLink();
        return identity.valid;
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
            ConnectionSettings &s = settings[i]; // takes the display and detector fields the window holds
            std::tie(s.colorX, s.colorY, s.colorI, s.pulsedLaser) = std::tie(it->colorX, it->colorY, it->colorI, it->pulsedLaser);
            std::copy_n(it->model, 2, s.model);
            std::copy_n(it->beamDiameter, 2, s.beamDiameter);
            std::copy_n(it->calculation, 2, s.calculation);
        }
        return true;
    }
};
