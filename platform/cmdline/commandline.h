#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <utility>

namespace fis {

class CommandLineError : public std::runtime_error
{
public:
    explicit CommandLineError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
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

} // namespace fis
