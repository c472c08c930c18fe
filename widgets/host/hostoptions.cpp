#include "host/hostoptions.h"

#include "hostfw/hosterror.h"

namespace fis {

HostOptions HostOptions::parse(const QStringList &arguments)
{
    HostOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        auto value = [&]() {
            if (i + 1 >= arguments.size())
                throw ConfigError(QStringLiteral("A opção %1 precisa de um valor.").arg(arg));
            return arguments.at(++i);
        };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            options.help = true;
        else if (arg == QLatin1String("--version"))
            options.version = true;
        else if (arg == QLatin1String("--config"))
            options.configPath = value();
        else if (arg == QLatin1String("--package-dir"))
            options.packageDirs.append(value());
        else if (arg == QLatin1String("--open"))
            options.openScreen = value();
        else if (arg == QLatin1String("--report-and-quit"))
            options.reportAndQuit = true;
        else
            throw ConfigError(QStringLiteral("Opção desconhecida: %1.").arg(arg));
    }
    return options;
}

QString HostOptions::usage()
{
    return QStringLiteral(
        "Uso: fis-host [--config ARQUIVO] [--package-dir PASTA] [--open TELA] [--report-and-quit]\n"
        "  --config ARQUIVO     configuração do host; sem ela, são lidos nesta ordem, cada um\n"
        "                       sobrepondo os anteriores chave a chave: "
        "/etc/fis11000/fis-host.ini,\n"
        "                       ~/.config/fis11000/fis-host.ini (ou em $XDG_CONFIG_HOME) e\n"
        "                       fis-host.ini na pasta de trabalho\n"
        "  --package-dir PASTA  pasta dos pacotes de telas (pode se repetir; padrão:\n"
        "                       " FIS_PKGLIBDIR_FROM_BINDIR " e ../lib a partir do executável)\n"
        "  --open TELA          abre uma tela ao iniciar, por exemplo FIS11000\n"
        "  --report-and-quit    mostra as janelas, o menu e as mensagens e termina (testes)\n"
        "  --version            mostra a versão e termina\n"
        "Código de saída: 0 concluído, 1 falha do banco de dados ou da inicialização, 2 linha de\n"
        "comando ou configuração, 3 o pacote de --open não pode ser carregado.\n");
}

} // namespace fis
