#include "CommandLine.h"

#include "CliCommon.h"

#include <cmath>

namespace {

const QString helpName = QStringLiteral("help");

} // namespace

QCommandLineOption logOption()
{
    return QCommandLineOption(QStringLiteral("log"), QStringLiteral("Write the link's log lines to stderr."));
}

CommandLine::CommandLine(const QString &command, const QString &synopsis, const QString &description)
    : m_command(command)
    , m_synopsis(synopsis)
{
    // "-rate" is the option "rate", so an unknown option is named as a whole
    // word instead of as a row of one-letter options.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.setApplicationDescription(description);
    // Not addHelpOption(): that adds --help-all, which lists Qt's own options.
    addOptions({QCommandLineOption({QStringLiteral("h"), helpName}, QStringLiteral("Displays this help.")), logOption()});
}

void CommandLine::addOptions(const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        m_parser.addOption(option);
        m_options << option;
    }
}

void CommandLine::addPositionalArgument(const QString &name, const QString &description, const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

void CommandLine::setErrorPrefix(const QString &prefix)
{
    m_errorPrefix = prefix;
}

bool CommandLine::parse(const QStringList &args, int maxPositional, QTextStream &out, QTextStream &err, int &exitCode)
{
    // The parser takes the first word for the program.
    const bool parsed = m_parser.parse(QStringList{QStringLiteral("beamstab-cli ") + m_command} + args);
    if (parsed && m_parser.isSet(helpName)) {
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

QString CommandLine::parseError(const QStringList &args) const
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

int CommandLine::usageError(QTextStream &err, const QString &message) const
{
    err << m_errorPrefix << message << '\n' << usageLine() << '\n';
    return ExitUsage;
}

QString CommandLine::usageLine() const
{
    return QStringLiteral("Usage: beamstab-cli %1 %2").arg(m_command, m_synopsis).trimmed();
}

QString CommandLine::helpText() const
{
    // The parser's usage line names the program as started; the tool's
    // names the command and the arguments in their order of meaning.
    const QString text = m_parser.helpText();
    return usageLine() + text.mid(text.indexOf(QLatin1Char('\n')));
}

bool CommandLine::isSet(const QString &name) const
{
    return m_parser.isSet(name);
}

QString CommandLine::value(const QString &name) const
{
    return m_parser.value(name);
}

QStringList CommandLine::positionalArguments() const
{
    return m_parser.positionalArguments();
}

bool CommandLine::intValue(const QString &name, int min, int max, int &value) const
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

bool CommandLine::positiveValue(const QString &name, double &value) const
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
