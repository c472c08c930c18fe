#pragma once

#include "base/error.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace fis {

class CommandLineError : public Error
{
public:
    explicit CommandLineError(const QString &message)
        : Error(Kind::Input, message)
    {}
};

// A command line split into its options, each "--name value" or "--name=value", in their order.
// --config FILE is kept aside, so that the ini file can be read before the options override it;
// --help or -h only sets `help`.
struct CommandLine
{
    bool help = false;
    QString configFile;
    QList<std::pair<int, QString>> options; // index of the option in `known`, value
};

// `known` names the options a program takes, without "--". Throws CommandLineError for an
// argument that is no option, an unknown option or an option without a value.
CommandLine splitCommandLine(const QStringList &arguments, const QStringList &known);

// The command line of a program whose options are described by `settings` (each with a
// `const char *option`): the settings given, with their values, in their order. A bad command
// line throws the program's own error type E, built from the message.
template<typename Setting> struct ParsedOptions
{
    bool help = false;
    QString configFile;
    QList<std::pair<const Setting *, QString>> given;
};

template<typename E, typename Setting>
ParsedOptions<Setting> parseOptions(const QStringList &arguments, const QList<Setting> &settings)
{
    QStringList names;
    for (const Setting &s : settings)
        names << QLatin1String(s.option);
    CommandLine line;
    try {
        line = splitCommandLine(arguments, names);
    } catch (const CommandLineError &e) {
        throw E(e.message());
    }
    ParsedOptions<Setting> parsed{line.help, line.configFile, {}};
    for (const auto &[index, value] : std::as_const(line.options))
        parsed.given.append({&settings.at(index), value});
    return parsed;
}

} // namespace fis
