#include "cmdline/commandline.h"

namespace fis {

CommandLine splitCommandLine(const QStringList &arguments, const QStringList &known)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.help = true;
            return line;
        }
        if (!arg.startsWith(QLatin1String("--")))
            throw CommandLineError(QStringLiteral("Argumento inesperado: \"%1\".").arg(arg));
        arg = arg.mid(2);
        QString value;
        if (const qsizetype eq = arg.indexOf(u'='); eq >= 0) {
            value = arg.mid(eq + 1);
            arg.truncate(eq);
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            throw CommandLineError(QStringLiteral("A opção --%1 precisa de um valor.").arg(arg));
        }
        if (arg == QLatin1String("config")) {
            line.configFile = value;
            continue;
        }
        const qsizetype index = known.indexOf(arg);
        if (index < 0)
            throw CommandLineError(QStringLiteral("Opção desconhecida: --%1.").arg(arg));
        line.options.append({int(index), value});
    }
    return line;
}

} // namespace fis
