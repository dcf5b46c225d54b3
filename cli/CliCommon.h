#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

class CommandLine;
class Controller;
class QCommandLineOption;
struct ControllerIdentity;

// Exit codes shared by every command.
enum ExitCode {
    ExitOk = 0,
    ExitUsage = 2,                // bad command line
    ExitConnectionFailed = 3,     // link (or file) could not be opened
    ExitIdentificationFailed = 4, // the controller did not identify itself
    ExitCommandFailed = 5,        // no reply, a refusal, or a stream that did not start or stop
};

// Where the controller is: "--tcp HOST[:PORT]" (port 2000 by default) or
// "--serial PORT [--baud B]" (115200 baud by default, the first rate the
// controllers are searched at), with "--device-dir DIR" naming the directory
// in which serial port names are looked up ("/dev/" by default).
struct LinkTarget
{
    bool tcp = true;
    QString address;
    int parameter = 2000; // TCP port or baud rate
    QString deviceDirectory; // serial only; empty = the default
};

constexpr int defaultSerialBaudRate = 115200;

// The options that name the controller, taken by every command that talks
// to one, and the line of their help that says what "LINK" in the usage
// lines stands for.
QList<QCommandLineOption> linkOptions();
extern const char linkArgumentHelp[];

// Reads the link options of a parsed command line. False with a message
// when they are malformed or name no controller.
bool readLinkTarget(const CommandLine &line, LinkTarget &target, QString &error);

// Adds the link options to the command line of a command that talks to one
// controller, parses args and reads the target. False when the command is
// not to run: exitCode then tells why (help printed, or a usage error).
bool parseLinkCommand(CommandLine &line, const QStringList &args, int maxPositional, QTextStream &out,
                      QTextStream &err, LinkTarget &target, int &exitCode);

// Creates the controller for the link, starts the link and waits (on the
// controller's worker thread) until it is connected.
std::unique_ptr<Controller> openController(const LinkTarget &target, QString &error);

// Opens the controller and identifies it, which also stops a stream left
// running. On failure prints the reason to err, sets exitCode and returns
// null; on success exitCode is ExitOk.
std::unique_ptr<Controller> openIdentifiedController(const LinkTarget &target, QTextStream &err, int &exitCode,
                                                     ControllerIdentity *identity = nullptr);

// Bytes as hexadecimal pairs followed by their printable form.
QString describeBytes(const QByteArray &bytes);
