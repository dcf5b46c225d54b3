// Program entry: prepares the process environment and the per-user
// directories, reads the switches, installs the log handler and runs the
// main window.

#include "app/MessageHandler.h"
#include "app/StartupFlags.h"
#include "app/WindowPlacement.h"
#include "link/DirectorySerialPorts.h"
#include "display/MainWindow.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QScreen>


int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("LC_NUMERIC"))
        qputenv("LC_NUMERIC", "C");

    dataDirectory.setPath(defaultDataDirectoryPath());
    bool directoryFailed = false;
    if (!dataDirectory.exists() && !dataDirectory.mkpath(QStringLiteral(".")))
        directoryFailed = true;
    if (!dataDirectory.exists(QStringLiteral("Data")))
        dataDirectory.mkdir(QStringLiteral("Data"));

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    qInstallMessageHandler(messageHandler);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    applyCommandLineSwitches(arguments);
    // Serial device files in another directory than /dev/ (for example links
    // to simulated controllers); their files carry no maker, so the search
    // lists them only with "-e".
    const QString serialDirectory = qEnvironmentVariable("BEAMSTAB_SERIAL_DIR");
    if (!serialDirectory.isEmpty()) {
        useSerialDeviceDirectory(serialDirectory);
        qInfo().noquote() << "Serial device directory" << serialDirectory;
    }
    qInfo().noquote() << "Starting" << programVersion << programBuild;

    auto *application = new QApplication(argc, argv);
    qDebug().noquote() << "Number of command line arguments passed:" << argc - 1;

    // The message box needs the application object, so a directory that
    // could not be created is reported here, once, and start-up carries on.
    if (directoryFailed)
        QMessageBox::critical(nullptr, QStringLiteral("Can not create configuration directory"),
                              QStringLiteral("The directory could not be created.\nPlease make sure that "
                                             "the configuration directory can be created."),
                              QMessageBox::Ok);

    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    auto *window = new MainWindow;
    const QRect geometry = mainWindowGeometry(available);
    window->resize(geometry.size());
    window->move(geometry.topLeft());
    window->show();
    window->raise();

    const int exitCode = application->exec();
    delete window;
    delete application;
    return exitCode;
}
