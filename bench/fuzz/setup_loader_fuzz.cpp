// libFuzzer target for the connection setup file: every input is written to
// a file, loaded, and merged into a copy of itself with the detector saver.
// Beyond "no crash, no sanitizer report" it checks the file-handling
// promises and aborts when one is broken:
// - a failed load leaves the record list as it was;
// - a merge into a non-empty file that does not load is refused and leaves
//   the file byte for byte unchanged;
// - whatever was loaded can be saved as a setup that loads again with the
//   same number of devices.
// Built and run by scripts/fuzz-setup.

#include "app/StartupFlags.h"
#include "setup/Settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QTemporaryDir *workDir = nullptr;

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QString workFile(const char *name)
{
    return workDir->filePath(QString::fromLatin1(name));
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

[[noreturn]] void broken(const char *promise)
{
    std::fprintf(stderr, "setup_loader_fuzz: broken promise: %s\n", promise);
    std::abort();
}

// Records present before every load, to see that a failed load keeps them.
QList<ConnectionSettings> sentinelRecords()
{
    ConnectionSettings record;
    record.id = QStringLiteral("ORX-KV-V31-A-0123456789ABCDEF");
    record.name = QStringLiteral("ttyUSB0");
    record.model[0] = 1;
    return {record};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quietHandler);
    workDir = new QTemporaryDir();
    if (!workDir->isValid())
        broken("temporary directory");
    dataDirectory = QDir(workDir->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QString inputFile = workFile("input.xml");
    const QString copyFile = workFile("copy.xml");
    if (!writeFile(inputFile, input) || !writeFile(copyFile, input))
        broken("writing the input");

    Settings settings;
    settings.setConnections(sentinelRecords());
    const bool loaded = settings.loadFile(inputFile);
    if (!loaded && (settings.records().size() != 1 || settings.records().at(0).name != QLatin1String("ttyUSB0")))
        broken("a failed load keeps the records");

    const bool merged = settings.saveDetectorFile(copyFile);
    if (!loaded && !input.isEmpty()) {
        if (merged)
            broken("a merge into an unloadable file is refused");
        if (readFile(copyFile) != input)
            broken("a refused merge leaves the file unchanged");
    }
    if (loaded && !merged)
        broken("a loadable file accepts a merge");
    if (merged) {
        Settings reread;
        if (!reread.loadFile(copyFile))
            broken("a merged file loads again");
    }

    if (loaded) {
        const QString setupFile = workFile("setup.xml");
        QFile::remove(setupFile);
        const int count = settings.records().size();
        if (!settings.saveConnectionFile(setupFile) || !settings.saveDetectorFile(setupFile))
            broken("saving a loaded setup");
        Settings reread;
        if (!reread.loadFile(setupFile) || reread.records().size() != count)
            broken("a saved setup loads again with every device");
    }
    return 0;
}
