#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

// --log: main switches the log on before a command runs; every command's
// help lists it.
QCommandLineOption logOption();

// The command line of one command of the tool (the words after its name):
// its options, value names, descriptions and positional arguments live in a
// QCommandLineParser, which also writes the --help text. Every command takes
// -h/--help and --log (the log itself is switched on by main before the
// command runs).
class CommandLine
{
public:
    // synopsis: the arguments as the usage line shows them ("LINK --rate R");
    // description: what the command does, printed under the usage line.
    CommandLine(const QString &command, const QString &synopsis, const QString &description);

    void addOptions(const QList<QCommandLineOption> &options);
    void addPositionalArgument(const QString &name, const QString &description, const QString &syntax = QString());
    // What the command's error lines start with; "error: " by default.
    void setErrorPrefix(const QString &prefix);

    // Parses the words after the command name. Returns true when the command
    // is to run. Otherwise exitCode is set: ExitOk after printing the help
    // to out for -h/--help, ExitUsage after printing the error to err for an
    // unknown option, a missing value, a value option given twice or more
    // than maxPositional positional arguments.
    bool parse(const QStringList &args, int maxPositional, QTextStream &out, QTextStream &err, int &exitCode);

    // Prints a usage error (the prefix, the message, the usage line) to err;
    // returns ExitUsage.
    int usageError(QTextStream &err, const QString &message) const;

    QString helpText() const;
    QString usageLine() const;

    bool isSet(const QString &name) const;
    QString value(const QString &name) const;
    QStringList positionalArguments() const;

    // The value of an option as a whole number in [min, max] or a finite
    // number above zero. True when the option is absent (value unchanged)
    // or valid; false when it is given with another value.
    bool intValue(const QString &name, int min, int max, int &value) const;
    bool positiveValue(const QString &name, double &value) const;

private:
    QString parseError(const QStringList &args) const;

    QString m_command;
    QString m_synopsis;
    QString m_errorPrefix = QStringLiteral("error: ");
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
};
