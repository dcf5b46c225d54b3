#pragma once

#include <QObject>
#include <QString>

class ControllerRegistry;
class InformationDialog;
class QAction;
class QMainWindow;
class QMenu;
class ServiceDialog;

// The main window's help and service entries: the about dialog, the two user
// manuals (PDF files opened with the desktop's viewer) and the "Service"
// menu with the operation tests of the active controller, shown only in
// service mode.
class HelpMenu : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        QAction *about;
        QAction *manualSoftware;
        QAction *manualHardware;
    };
    // Adds the "Service" menu to the window's menu bar.
    HelpMenu(QMainWindow *window, const ControllerRegistry &registry, const Actions &actions);

    ServiceDialog *serviceDialog() const { return operationTests; }
    void closeAbout();

private:
    void showServiceDialog();
    void showAbout();
    void openManual(const QString &fileName);

    QMainWindow *window;
    const ControllerRegistry &registry;
    QMenu *serviceMenu = nullptr;
    ServiceDialog *operationTests = nullptr;
    InformationDialog *about = nullptr;
};
