// beamstab-tango: Tango device server of beam stabilization controllers, one
// BeamStabilizer device per controller.
//
//   beamstab-tango <instance>          devices and properties from the Tango database
//   beamstab-tango <instance> -nodb -dlist a/b/c -ORBendPoint giop:tcp::30500
//                  -prop a/b/c:Address=127.0.0.1 -prop a/b/c:Port=2000
#include "DeviceProperties.h"
#include "TangoLogging.h"

#include "app/StartupFlags.h"
#include "link/DirectorySerialPorts.h"

#include <QCoreApplication>

#include <tango.h>

#include <iostream>

int main(int argc, char *argv[])
{
    std::string error;
    if (!DeviceProperties::takeFromCommandLine(argc, argv, error)) {
        std::cerr << "beamstab-tango: " << error << std::endl;
        return 2;
    }
    // The links live in Qt threads; the application object gives them the
    // process-wide parts of Qt. Its own event loop is never run: the Tango
    // server loop owns the main thread.
    TangoLogging::install();
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    app.setApplicationName("beamstab-tango");
    // Detector settings come from the setup file in the data directory of
    // the user the server runs as, unless the SetupFile property (of the
    // class, or of a device) names another.
    dataDirectory = QDir(defaultDataDirectoryPath());
    // As in the application: serial port names are looked up in this
    // directory instead of /dev/ (links to simulated controllers).
    const QString serialDirectory = qEnvironmentVariable("BEAMSTAB_SERIAL_DIR");
    if (!serialDirectory.isEmpty())
        useSerialDeviceDirectory(serialDirectory);

    try {
        Tango::Util *tango = Tango::Util::init(argc, argv);
        // Tango's own logger while the devices are made, then the admin
        // device's, whose level and targets clients can set at run time.
        TangoLogging::attach(Tango::Logging::get_core_logger());
        tango->server_init(false);
        TangoLogging::attach(tango->get_dserver_device()->get_logger());
        std::cout << "Ready to accept request" << std::endl;
        tango->server_run();
        TangoLogging::attach(nullptr);
        tango->server_cleanup();
    } catch (const std::bad_alloc &) {
        std::cerr << "beamstab-tango: out of memory" << std::endl;
        return 1;
    } catch (const CORBA::Exception &e) {
        Tango::Except::print_exception(e);
        return 1;
    }
    return 0;
}
