#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

class Controller;
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
    bool given = false;
};

constexpr int defaultSerialBaudRate = 115200;

// Takes the link options out of args. Returns false with a message on a
// malformed option; target.given tells whether a link was named at all.
bool takeLinkOptions(QStringList &args, LinkTarget &target, QString &error);

// Takes "--name value" out of args; false when the option is missing or has
// no value (value then left unchanged).
bool takeOption(QStringList &args, const QString &name, QString &value);
bool takeFlag(QStringList &args, const QString &name);

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

// One command's "--help" text plus the link options.
QString linkOptionsHelp();
