#pragma once

#include "detectors/StageDetectors.h"
#include "controller/ControllerStatus.h"

#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

class Connection;
class Controller;
struct ConnectionSettings;

// The controllers the main window owns, with everything kept per controller
// at the same index: the link, its status record and its detector models;
// and which of them are displayed, in display order.
// Removing a controller re-indexes the displayed list, so nothing behind it
// shifts to the wrong controller.
class ControllerRegistry
{
public:
    static constexpr int maxDisplayed = 50;
    static constexpr int slowSerialBaud = 115200;
    static constexpr int slowSerialMaxRate = 430;
    static constexpr int maxRate = 500;

    // detectors: the stage detector list, kept by the parameters dialog.
    explicit ControllerRegistry(QList<StageDetectors> &detectors) : stageDetectors(detectors) {}
    ~ControllerRegistry();
    ControllerRegistry(const ControllerRegistry &) = delete;
    ControllerRegistry &operator=(const ControllerRegistry &) = delete;

    QList<Controller *> controllers;
    QList<ControllerStatus> controllerStatus;
    // The stage detector models of each connection, same index; entries are
    // added and removed by the parameters dialog, not by add() and takeAt().
    QList<StageDetectors> &stageDetectors;
    QList<int> displayed;
    int activeIndex = -1;

    // Controllers whose removal has begun: still in the lists until their
    // link has ended, but no longer found by address, so a new link to the
    // same address can be added and addressed meanwhile.
    QSet<const Controller *> leaving;

    int count() const { return controllers.size(); }
    // The link of controller c.
    Connection *link(int c) const;
    // Index of the first connection with that address that is not leaving,
    // -1 when none.
    int indexOf(const QString &address) const;
    // Index of this controller, -1 when it is no longer in the list.
    int indexOf(const Controller *controller) const;
    // Appends a controller (owned from now on) with its status record built
    // from the link and the settings (colours, detectors).
    int add(Controller *controller, const ConnectionSettings *settings);
    // Forgets controller index (not deleting it) and lowers every displayed
    // index above it; the active controller becomes the first displayed one.
    Controller *takeAt(int index);

    bool isDisplayed(int index) const { return displayed.contains(index); }
    // Exactly one displayed controller: its index, else -1.
    int singleDisplayed() const { return displayed.size() == 1 ? displayed.first() : -1; }
    // The highest sampling rate allowed: 430 while any link is a serial line
    // at 115200 baud, 500 otherwise.
    int rateLimit() const;
    // Whether every displayed controller (at least one) shows its samples per trigger.
    bool allDisplayedTriggered() const;
};
