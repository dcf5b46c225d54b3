#pragma once

#include "link/Protocol.h"

#include <QObject>
#include <QPair>
#include <QSet>
#include <QPalette>
#include <QString>

class Controller;
class ControllerRegistry;
class QLabel;
class QPushButton;
struct ControllerStatus;

// The stage side of the main window: the two stabilization buttons and
// their lamps for the active controller, and the stage commands (buttons,
// the system configuration's stage switches, multiplex). A command is a
// request of the controller; while the active controller carries out any
// sequence, its stage buttons are disabled and say why. Results are looked
// up by controller when they arrive, so a list changed meanwhile does not
// send them to another controller's record.
class StagePanel : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QPushButton *button[2];
        QLabel *lamp[2];
        QLabel *lampText[2];
    };

    StagePanel(ControllerRegistry &registry, const Widgets &widgets, QObject *parent);

    // Follows the busy state of a newly added controller.
    void watch(Controller *controller);

    // Enables the buttons when a controller is active and not busy; a busy
    // one's buttons are disabled with the reason as tool tip.
    void refresh();

    // The stabilization button of stage 1 or 2 was clicked (its checked
    // state is what the user asked for). False when no controller is active.
    bool clicked(int stage);
    // Stabilization of a stage of the controller with that address on or off.
    void switchStage(const QString &address, int stage, bool on);
    // Multiplex operation of a stage on or off; ignored while one runs or
    // when the stage is in that state already.
    void multiplex(const QString &address, bool on, int stage);

    // Buttons and lamps as a status record says (only disagreeing widgets
    // are touched).
    void sync(const ControllerStatus &status);
    void setButton(int stage, bool on);
    void setLamp(int stage, bool active);

    static QString busyText(const QString &label);

private:
    void applyStatus(Controller *controller, const Protocol::StatusFlags &flags);
    Controller *activeController() const;

    ControllerRegistry &registry;
    Widgets ui;
    QPalette onPalette;
    QPalette offPalette;
    // Stages whose multiplex switch is on its way (controller, stage): a
    // second switch of the same stage waits for the first one's answer.
    QSet<QPair<const Controller *, int>> multiplexPending;
};
