#include "display/HelpMenu.h"

#include "about/InformationDialog.h"
#include "app/StartupFlags.h"
#include "app/Version.h"
#include "controller/ControllerRegistry.h"
#include "service/ServiceDialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>

HelpMenu::HelpMenu(QMainWindow *window, const ControllerRegistry &registry, const Actions &actions)
    : QObject(window)
    , window(window)
    , registry(registry)
{
    serviceMenu = window->menuBar()->addMenu(QStringLiteral("Service"));
    serviceMenu->setObjectName(QStringLiteral("menuService"));
    QAction *operationTestsAction = serviceMenu->addAction(QStringLiteral("Operation Tests"));
    operationTestsAction->setObjectName(QStringLiteral("actionOperationTests"));
    connect(operationTestsAction, &QAction::triggered, this, &HelpMenu::showServiceDialog);
    serviceMenu->menuAction()->setVisible(serviceMode);

    operationTests = new ServiceDialog(window);
    operationTests->setObjectName(QStringLiteral("serviceDialog"));
    about = new InformationDialog(window);

    connect(actions.about, &QAction::triggered, this, &HelpMenu::showAbout);
    connect(actions.manualSoftware, &QAction::triggered, this,
            [this] { openManual(QStringLiteral(BEAMSTAB_MANUAL_SOFTWARE)); });
    connect(actions.manualHardware, &QAction::triggered, this,
            [this] { openManual(QStringLiteral(BEAMSTAB_MANUAL_HARDWARE)); });
}

void HelpMenu::showServiceDialog()
{
    const int c = registry.activeIndex;
    if (c >= 0 && c < registry.count())
        operationTests->setController(registry.controllers.at(c));
    operationTests->show();
    operationTests->raise();
    operationTests->activateWindow();
}

void HelpMenu::showAbout()
{
    about->show();
    about->raise();
}

void HelpMenu::closeAbout()
{
    about->close();
}

void HelpMenu::openManual(const QString &fileName)
{
    // Beside the program (where the build writes it), in the data directory,
    // or in the working directory.
    QString path;
    for (const QString &folder : {QCoreApplication::applicationDirPath(), dataDirectory.path(), QDir::currentPath()}) {
        if (QFile::exists(QDir(folder).filePath(fileName))) {
            path = QDir(folder).filePath(fileName);
            break;
        }
    }
    if (path.isEmpty()) {
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("File not found"),
                                    QStringLiteral("Cannot open user manual.\n\nPlease check if the pdf file is in the program folder."),
                                    QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("manualNotFoundBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Error with opening user manual"),
                                    path, QMessageBox::Ok, window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}
