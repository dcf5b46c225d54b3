#include "SimOptions.h"

#include <QCommandLineParser>

namespace {
bool toInt(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}
}

bool SimOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        "Simulated beam stabilization controllers over TCP or pseudo-terminals.\n"
        "Prints one line per controller: \"tcp <i> <address>:<port>\" or\n"
        "\"serial <i> <slave device> [<link>]\", then \"ready\".");
    p.addHelpOption();
    const QCommandLineOption port("port", "First TCP port (default 2000); controller i listens on port+i.", "port", "2000");
    const QCommandLineOption count("count", "Number of controllers (default 1).", "n", "1");
    const QCommandLineOption bind("bind", "Address to listen on (default 127.0.0.1).", "address", "127.0.0.1");
    const QCommandLineOption firmware("firmware", "Firmware version reported (default 31; below 11 no stream flags).", "version", "31");
    const QCommandLineOption variantM("variant-m", "Variant M controller: \"-VM\" tag, SGS start, ignored samples.");
    const QCommandLineOption ignoreShare("ignore-share", "Variant M: percent of stream messages marked to be ignored (default 10).", "percent", "10");
    const QCommandLineOption noTrigger("no-trigger", "Not trigger capable ('N' instead of 'A' in the identification, SPS refused).");
    const QCommandLineOption id("id", "ID part of the identification (default SIM + 3-digit index); with --count > 1 the index is appended.", "text");
    const QCommandLineOption seed("seed", "Random seed of the beam model (default 1).", "n", "1");
    const QCommandLineOption pulseRate("pulse-rate", "Trigger pulses per second in trigger mode (default 10).", "hz", "10");
    const QCommandLineOption bench("bench", "Benchmark mode: sequence number in the stage-2 actuator ranges and positions, send time (us) in the stage-1 ranges.");
    const QCommandLineOption garbage("garbage", "Insert K non-zero garbage bytes after every N stream messages.", "N:K");
    const QCommandLineOption dropReplies("drop-replies", "Drop every N-th reply (1 = all).", "n");
    const QCommandLineOption delayReplies("delay-replies", "Delay every reply by this many ms.", "ms");
    const QCommandLineOption refuse("refuse", "Refuse commands: \"all\" or a comma-separated list of codes (e.g. SEA,GID).", "codes");
    const QCommandLineOption silent("silent", "Neither carry out nor answer these commands: comma-separated codes (e.g. SLS).", "codes");
    const QCommandLineOption late("late", "Delay the replies to commands beginning with TEXT (\\xHH for a byte, e.g. GIN\\x01) by MS ms.", "TEXT:MS");
    const QCommandLineOption stall("stall", "Streams start but never send a message after the start reply.");
    const QCommandLineOption closeAfter("close-after", "Close each TCP client this many ms after it connected.", "ms");
    const QCommandLineOption serial("serial", "Serve over pseudo-terminals instead of TCP.");
    const QCommandLineOption serialLink("serial-link", "Create symlinks DIR/NAME to the slave devices (NAME0.. for several; a trailing number is the first index).", "path");
    const QCommandLineOption serialBaud("serial-baud", "Answer only when the terminal is set to this baud rate.", "baud");
    const QCommandLineOption serialFlow("serial-flow", "Answer only with (1) or without (0) hardware flow control.", "0|1");
    const QCommandLineOption keepBaud("keep-baud", "Acknowledge the baud-rate command (SBR) but keep the line's rate.");
    const QCommandLineOption serialKeep("serial-keep-stream", "Keep a stream running when the application closes the port.");
    const QCommandLineOption commandLog("command-log", "Append every received command to FILE: first \"id <i> <identification>\" per controller, then \"<i> <code> <argument bytes in hex>\" per command.", "file");
    const QCommandLineOption controlInput("stdin", "Read control lines from standard input while running: \"offset <i> <stage> <x mV> <y mV>\" displaces the beam on that stage's detector of controller i (beyond about 5000 mV the stabilized actuators reach the end of their range).");
    const QCommandLineOption duration("duration", "Run this many seconds, then exit (default: until SIGINT/SIGTERM).", "s");
    for (const QCommandLineOption &o : {port, count, bind, firmware, variantM, ignoreShare, noTrigger, id, seed,
                                        pulseRate, bench, garbage, dropReplies, delayReplies, refuse, stall,
                                        silent, late, closeAfter, serial, serialLink, serialBaud, serialFlow, keepBaud, serialKeep, commandLog, controlInput, duration})
        p.addOption(o);

    if (!p.parse(arguments)) {
        *error = p.errorText();
        return false;
    }
    if (p.isSet("help"))
        p.showHelp(0);

    int v = 0;
    if (!toInt(p.value(port), 0, 65535, &v)) { *error = "Invalid --port"; return false; }
    this->port = quint16(v);
    if (!toInt(p.value(count), 1, 1000, &this->count)) { *error = "Invalid --count"; return false; }
    if (!this->bind.setAddress(p.value(bind))) { *error = "Invalid --bind address"; return false; }
    if (!toInt(p.value(firmware), 0, 999, &config.firmware)) { *error = "Invalid --firmware"; return false; }
    config.variantM = p.isSet(variantM);
    if (!toInt(p.value(ignoreShare), 0, 100, &config.ignorePercent)) { *error = "Invalid --ignore-share"; return false; }
    config.triggerCapable = !p.isSet(noTrigger);
    config.idText = p.value(id);
    bool ok = false;
    config.seed = p.value(seed).toUInt(&ok);
    if (!ok) { *error = "Invalid --seed"; return false; }
    config.pulseRate = p.value(pulseRate).toDouble(&ok);
    if (!ok || config.pulseRate < 1 || config.pulseRate > 500) { *error = "Invalid --pulse-rate"; return false; }
    config.bench = p.isSet(bench);

    if (p.isSet(garbage)) {
        const QStringList nk = p.value(garbage).split(':');
        if (nk.size() != 2 || !toInt(nk[0], 1, 1000000, &faults.garbageEvery)
            || !toInt(nk[1], 1, 100000, &faults.garbageBytes)) {
            *error = "Invalid --garbage (expected N:K)";
            return false;
        }
    }
    if (p.isSet(dropReplies) && !toInt(p.value(dropReplies), 1, 1000000, &faults.dropEvery)) { *error = "Invalid --drop-replies"; return false; }
    if (p.isSet(delayReplies) && !toInt(p.value(delayReplies), 0, 600000, &faults.delayMs)) { *error = "Invalid --delay-replies"; return false; }
    if (p.isSet(refuse)) {
        if (p.value(refuse) == "all")
            faults.refuseAll = true;
        else
            for (const QString &c : p.value(refuse).split(',', Qt::SkipEmptyParts))
                faults.refuseCodes.insert(c.trimmed().toLatin1());
    }
    for (const QString &c : p.value(silent).split(',', Qt::SkipEmptyParts))
        faults.silentCodes.insert(c.trimmed().toLatin1());
    for (const QString &entry : p.values(late)) {
        const int colon = entry.lastIndexOf(':');
        int ms = 0;
        QByteArray text = entry.left(colon).toLatin1();
        for (int at; (at = text.indexOf("\\x")) >= 0 && at + 4 <= text.size();)
            text.replace(at, 4, QByteArray(1, char(text.mid(at + 2, 2).toInt(nullptr, 16))));
        if (colon < 1 || !toInt(entry.mid(colon + 1), 0, 600000, &ms)) { *error = "Invalid --late (expected TEXT:MS)"; return false; }
        faults.replyDelayByPrefix.insert(text, ms);
    }
    faults.stallStream = p.isSet(stall);
    faults.keepBaudRate = p.isSet(keepBaud);
    if (p.isSet(closeAfter) && !toInt(p.value(closeAfter), 1, 100000000, &faults.closeAfterMs)) { *error = "Invalid --close-after"; return false; }

    this->serial = p.isSet(serial);
    serialOptions.linkPath = p.value(serialLink);
    if (p.isSet(serialBaud) && !toInt(p.value(serialBaud), 1, 4000000, &serialOptions.baud)) { *error = "Invalid --serial-baud"; return false; }
    if (p.isSet(serialFlow) && !toInt(p.value(serialFlow), 0, 1, &serialOptions.flow)) { *error = "Invalid --serial-flow"; return false; }
    serialOptions.keepStreamOnHangUp = p.isSet(serialKeep);
    commandLogPath = p.value(commandLog);
    this->controlInput = p.isSet(controlInput);
    if (p.isSet(duration)) {
        durationS = p.value(duration).toDouble(&ok);
        if (!ok || durationS <= 0) { *error = "Invalid --duration"; return false; }
    }
    if (!p.positionalArguments().isEmpty()) {
        *error = "Unexpected argument " + p.positionalArguments().first();
        return false;
    }
    return true;
}
