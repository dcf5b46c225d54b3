#pragma once

#include "CliCommon.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cmath>

// --log: main switches the log on before a command runs; every command's
// help lists it.
inline QCommandLineOption logOption()
{
    return QCommandLineOption(QStringLiteral("log"), QStringLiteral("Write the link's log lines to stderr."));
}

// The command line of one command of the tool (the words after its name):
// its options, value names, descriptions and positional arguments live in a
// QCommandLineParser, which also writes the --help text. Every command takes
// -h/--help and --log (the log itself is switched on by main before the
// command runs). Defined in this header, so a command's source compiled on
// its own needs nothing but Qt Core besides.
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

inline CommandLine::CommandLine(const QString &command, const QString &synopsis, const QString &description)
    : m_command(command)
    , m_synopsis(synopsis)
{
    // "-rate" is the option "rate", so an unknown option is named as a whole
    // word instead of as a row of one-letter options.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.setApplicationDescription(description);
    // Not addHelpOption(): that adds --help-all, which lists Qt's own options.
    addOptions({QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help.")), logOption()});
}

inline void CommandLine::addOptions(const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        m_parser.addOption(option);
        m_options << option;
    }
}

inline void CommandLine::addPositionalArgument(const QString &name, const QString &description, const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

inline void CommandLine::setErrorPrefix(const QString &prefix)
{
    m_errorPrefix = prefix;
}

inline bool CommandLine::parse(const QStringList &args, int maxPositional, QTextStream &out, QTextStream &err, int &exitCode)
{
    // The parser takes the first word for the program.
    const bool parsed = m_parser.parse(QStringList{QStringLiteral("beamstab-cli ") + m_command} + args);
    if (parsed && m_parser.isSet(QStringLiteral("help"))) {
        out << helpText();
        exitCode = ExitOk;
        return false;
    }
    QString error = parsed ? QString() : parseError(args);
    for (const QCommandLineOption &option : qAsConst(m_options)) {
        if (error.isEmpty() && !option.valueName().isEmpty() && m_parser.values(option).size() > 1)
            error = QStringLiteral("--%1 given more than once").arg(option.names().constLast());
    }
    const QStringList positional = m_parser.positionalArguments();
    if (error.isEmpty() && positional.size() > maxPositional)
        error = QStringLiteral("unexpected argument '%1'").arg(positional.at(maxPositional));
    if (!error.isEmpty()) {
        exitCode = usageError(err, error);
        return false;
    }
    exitCode = ExitOk;
    return true;
}

inline QString CommandLine::parseError(const QStringList &args) const
{
    const QStringList unknown = m_parser.unknownOptionNames();
    if (unknown.isEmpty()) { // a missing or an unexpected value: the parser's words
        QString text = m_parser.errorText();
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return text;
    }
    // The word as it was written, dashes and all.
    QString word = QStringLiteral("--") + unknown.first();
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            break;
        QString name = arg.section(QLatin1Char('='), 0, 0);
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        if (arg.startsWith(QLatin1Char('-')) && name == unknown.first()) {
            word = arg;
            break;
        }
    }
    return QStringLiteral("unexpected argument '%1' (no such option; see beamstab-cli %2 --help)").arg(word, m_command);
}

inline int CommandLine::usageError(QTextStream &err, const QString &message) const
{
    err << m_errorPrefix << message << '\n' << usageLine() << '\n';
    return ExitUsage;
}

inline QString CommandLine::usageLine() const
{
    return QStringLiteral("Usage: beamstab-cli %1 %2").arg(m_command, m_synopsis).trimmed();
}

inline QString CommandLine::helpText() const
{
    // The parser's usage line names the program as started; the tool's
    // names the command and the arguments in their order of meaning.
    const QString text = m_parser.helpText();
    return usageLine() + text.mid(text.indexOf(QLatin1Char('\n')));
}

inline bool CommandLine::isSet(const QString &name) const
{
    return m_parser.isSet(name);
}

inline QString CommandLine::value(const QString &name) const
{
    return m_parser.value(name);
}

inline QStringList CommandLine::positionalArguments() const
{
    return m_parser.positionalArguments();
}

inline bool CommandLine::intValue(const QString &name, int min, int max, int &value) const
{
    if (!m_parser.isSet(name))
        return true;
    bool ok = false;
    const int v = m_parser.value(name).toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    value = v;
    return true;
}

inline bool CommandLine::positiveValue(const QString &name, double &value) const
{
    if (!m_parser.isSet(name))
        return true;
    bool ok = false;
    const double v = m_parser.value(name).toDouble(&ok);
    if (!ok || !(v > 0) || !std::isfinite(v))
        return false;
    value = v;
    return true;
}
