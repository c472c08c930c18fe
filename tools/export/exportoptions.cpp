#include "exportoptions.h"

#include "cmdline/commandline.h"
#include "cmdline/inifile.h"

#include "compralegal/outputname.h"
#include "contracts/compralegalcontract.h"
#include "hostfw/hosterror.h"
#include "hostfw/hosthelpers.h"
#include "keylist/keylist.h"

#include <QFileInfo>
#include <QLocale>
#include <QSettings>

#include <cmath>
#include <functional>

namespace fis::exportcommand {

namespace {

// The characters the screen refuses in the output name.

// The dates the host's date fields take.
const QDate kFirstDate(1900, 1, 1);
const QDate kLastDate(9999, 12, 31);

QDate parseDate(const QString &option, const QString &value)
{
    for (const QString &format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd/MM/yyyy")}) {
        const QDate date = QDate::fromString(value.trimmed(), format);
        if (!date.isValid())
            continue;
        if (date < kFirstDate || date > kLastDate)
            throw OptionsError(
                QStringLiteral("%1: %2 está fora do intervalo; informe uma data de %3 a %4.")
                    .arg(option, value, kFirstDate.toString(Qt::ISODate),
                         kLastDate.toString(Qt::ISODate)));
        return date;
    }
    throw OptionsError(
        QStringLiteral("%1: \"%2\" não é uma data (AAAA-MM-DD ou DD/MM/AAAA).").arg(option, value));
}

QString keyList(const QString &option, const QString &value)
{
    QStringList keys;
    for (const QString &key : value.split(u',', Qt::SkipEmptyParts)) {
        const QString k = key.trimmed();
        if (!k.isEmpty())
            keys << k;
    }
    if (keys.isEmpty())
        throw OptionsError(QStringLiteral("%1: nenhuma chave foi informada.").arg(option));
    return formatKeyList(keys);
}

QString upperText(const QString &option, const QString &value, int size)
{
    const QString text = value.trimmed().toUpper();
    if (text.size() > size)
        throw OptionsError(QStringLiteral("%1: no máximo %2 caracteres, e \"%3\" tem %4.")
                               .arg(option)
                               .arg(size)
                               .arg(value)
                               .arg(text.size()));
    return text;
}

QString code(const QString &option, const QString &value, int width)
{
    const QString text = value.trimmed();
    if (text.isEmpty() || text.size() > width)
        throw OptionsError(QStringLiteral("%1: informe um código de 1 a %2 caracteres, não \"%3\".")
                               .arg(option)
                               .arg(width)
                               .arg(value));
    return Ajusta(text, width);
}

struct Setting
{
    const char *option;
    const char *iniKey;
    const char *help;
    std::function<void(ExportOptions &, const QString &option, const QString &value)> apply;
};

// --- How each option's value is read into the options ---

void applyTax(ExportOptions &o, const QString &opt, const QString &v)
{
    o.imposto = code(opt, v, 2);
}

void applyCompany(ExportOptions &o, const QString &opt, const QString &v)
{
    o.empresa = code(opt, v, 2);
}

void checkOutputCharacters(const QString &opt, const QString &v)
{
    for (const QChar c : v) {
        if (compralegal::isRefusedInName(c))
            throw OptionsError(
                QStringLiteral("%1: o caractere \"%2\" não pode fazer parte de um nome de arquivo.")
                    .arg(opt, QString(c)));
        // A line break would also split the list of paths the command prints.
        if (c.category() == QChar::Other_Control)
            throw OptionsError(QStringLiteral("%1: um caractere de controle (U+%2) não pode fazer "
                                              "parte de um nome de arquivo.")
                                   .arg(opt)
                                   .arg(c.unicode(), 4, 16, QLatin1Char('0')));
    }
}

void applyOutput(ExportOptions &o, const QString &opt, const QString &v)
{
    if (v.size() > 16)
        throw OptionsError(QStringLiteral("%1: no máximo 16 caracteres.").arg(opt));
    checkOutputCharacters(opt, v);
    // The screen lets a name such as ".TXT" through (its files start with "_"); a script is
    // better told.
    if (!EmptyString(v) && EmptyString(compralegal::outputBaseName(v)))
        throw OptionsError(QStringLiteral("%1: \"%2\" deixa os arquivos sem nome: o texto antes do "
                                          "seu primeiro \".\" está vazio.")
                               .arg(opt, v));
    o.nomeArquivo = v;
}

void applyBranch(ExportOptions &o, const QString &opt, const QString &v)
{
    o.filial = code(opt, v, 4);
}

void applyClient(ExportOptions &o, const QString &opt, const QString &v)
{
    QString number = v;
    if (Ajusta_Inscricao(number) == QLatin1String("O"))
        throw OptionsError(
            QStringLiteral("%1: \"%2\" não é um CNPJ (14 dígitos) nem um CPF (11 dígitos).")
                .arg(opt, v));
    o.cliente = number;
}

void applyStateRegistration(ExportOptions &o, const QString &opt, const QString &v)
{
    o.inscEstadual = upperText(opt, v, 16);
}

void applyMunicipalRegistration(ExportOptions &o, const QString &opt, const QString &v)
{
    o.inscMunicipal = upperText(opt, v, 16);
}

void applyInvoiceNumber(ExportOptions &o, const QString &opt, const QString &v)
{
    const QString digits = v.trimmed();
    bool allDigits = !digits.isEmpty() && digits.size() <= 20;
    for (const QChar c : digits)
        allDigits = allDigits && c.isDigit();
    if (!allDigits)
        throw OptionsError(
            QStringLiteral("%1: informe de 1 a 20 dígitos, não \"%2\".").arg(opt, v));
    o.numeroNF = digits;
}

void applyMinValue(ExportOptions &o, const QString &opt, const QString &v)
{
    QString text = v.trimmed();
    text.replace(u',', u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value) || value < 0)
        throw OptionsError(
            QStringLiteral("%1: \"%2\" não é um valor igual ou maior que zero.").arg(opt, v));
    o.valorMinimo = value;
}

void applyFrom(ExportOptions &o, const QString &opt, const QString &v)
{
    o.inicio = parseDate(opt, v);
}

void applyTo(ExportOptions &o, const QString &opt, const QString &v)
{
    o.fim = parseDate(opt, v);
}

void applyOperationTypes(ExportOptions &o, const QString &opt, const QString &v)
{
    o.codTipoOper = keyList(opt, v);
}

void applySeries(ExportOptions &o, const QString &opt, const QString &v)
{
    o.codSerie = keyList(opt, v);
}

void applyStatus(ExportOptions &o, const QString &opt, const QString &v)
{
    const QString s = v.trimmed().toLower();
    if (s == QLatin1String("pending"))
        o.status = compralegal::kStatusPending;
    else if (s == QLatin1String("exported"))
        o.status = compralegal::kStatusExported;
    else if (s == QLatin1String("both"))
        o.status = compralegal::kStatusBoth;
    else
        throw OptionsError(
            QStringLiteral("%1: use pending, exported ou both, não \"%2\".").arg(opt, v));
}

void applyInvoices(ExportOptions &o, const QString &opt, const QString &v)
{
    QStringList invoices;
    for (const QString &item : v.split(u',', Qt::SkipEmptyParts)) {
        if (item.trimmed().isEmpty())
            continue;
        const QStringList parts = item.trimmed().split(u':');
        if (parts.size() != 2 || parts.at(0).trimmed().isEmpty() || parts.at(1).trimmed().isEmpty())
            throw OptionsError(
                QStringLiteral("%1: \"%2\" não está na forma FILIAL:LANÇAMENTO.").arg(opt, item));
        invoices << Ajusta(parts.at(0).trimmed(), 4) + parts.at(1).trimmed();
    }
    // Naming none must never fall back to exporting all.
    if (invoices.isEmpty())
        throw OptionsError(QStringLiteral("%1: nenhuma nota foi informada.").arg(opt));
    o.invoices = invoices;
}

void applyCallTimeout(ExportOptions &o, const QString &opt, const QString &v)
{
    bool ok = false;
    const int seconds = v.trimmed().toInt(&ok);
    if (!ok || seconds < 1 || seconds > 24 * 3600)
        throw OptionsError(
            QStringLiteral("%1: informe um número de segundos de 1 a 86400, não \"%2\".")
                .arg(opt, v));
    o.callTimeoutSecs = seconds;
}

void applyServer(ExportOptions &o, const QString &opt, const QString &v)
{
    const qsizetype colon = v.lastIndexOf(u':');
    bool ok = false;
    const int port = colon > 0 ? v.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port < 1 || port > 65535)
        throw OptionsError(QStringLiteral("%1: \"%2\" não está na forma HOST:PORTA.").arg(opt, v));
    o.host.serverHost = v.left(colon);
    o.host.serverPort = port;
}

// In the order the usage lists them and the ini file is read.
const QList<Setting> &settings()
{
    static const QList<Setting> list{
        {"tax", "export/tax", "código do imposto (obrigatório)", applyTax},
        {"company", "export/company", "código da empresa (obrigatório)", applyCompany},
        {"output", "export/output",
         "nome do arquivo, no máximo 16 caracteres; os arquivos recebem o nome do texto antes do "
         "seu primeiro \".\" (obrigatório)",
         applyOutput},
        {"branch", "export/branch", "código da filial", applyBranch},
        {"client", "export/client", "CNPJ (14 dígitos) ou CPF (11 dígitos) do cliente",
         applyClient},
        {"state-registration", "export/state_registration", "inscrição estadual",
         applyStateRegistration},
        {"municipal-registration", "export/municipal_registration", "inscrição municipal",
         applyMunicipalRegistration},
        {"nf", "export/nf", "número da nota fiscal (só dígitos)", applyInvoiceNumber},
        {"min-value", "export/min_value", "valor mínimo da nota, por exemplo 250.50",
         applyMinValue},
        {"from", "export/from", "início do período (padrão: o primeiro dia do mês da filial)",
         applyFrom},
        {"to", "export/to", "fim do período (padrão: a data de processamento da filial)", applyTo},
        {"operation-types", "export/operation_types",
         "chaves dos tipos de operação como a lista de seleção as mostra, separadas por vírgula, "
         "por exemplo S01,E05",
         applyOperationTypes},
        {"series", "export/series",
         "chaves das séries como a lista de seleção as mostra, separadas por vírgula; exige as "
         "duas inscrições",
         applySeries},
        {"status", "export/status",
         "pending (pendentes; o padrão), exported (exportadas) ou both (ambas)", applyStatus},
        {"invoices", "export/invoices",
         "as notas a exportar como FILIAL:LANÇAMENTO, separadas por vírgula (padrão: todas as "
         "carregadas)",
         applyInvoices},
        {"call-timeout", "export/call_timeout",
         "segundos de espera por cada resposta do servidor de aplicação (padrão 600)",
         applyCallTimeout},
        {"server", "", "o servidor de aplicação como HOST:PORTA (padrão: [Server] da configuração)",
         applyServer},
    };
    return list;
}

} // namespace

QString exportUsage()
{
    QString text = QStringLiteral(
        "Uso: fis11000-export [--config ARQUIVO] [--OPÇÃO VALOR ...]\n"
        "Exporta os arquivos do Compra LEGAL das notas que os critérios selecionam, por meio do\n"
        "servidor de aplicação. Mostra o andamento em stderr e os caminhos dos arquivos gravados\n"
        "em stdout. Código de saída: 0 concluído; 1 falha; 2 opções ou configuração inválidas;\n"
        "3 nenhuma nota a exportar.\n\n"
        "  --config ARQUIVO  o arquivo ini do host ([Database], [Server], [Host]); a sua\n"
        "                    seção [export] pode conter as opções abaixo, que a linha de\n"
        "                    comando sobrepõe; sem ela, os arquivos do host: /etc/fis11000/\n"
        "                    fis-host.ini, ~/.config/fis11000/fis-host.ini e fis-host.ini na\n"
        "                    pasta de trabalho, cada um sobrepondo os anteriores\n"
        "  --version         mostra a versão e termina\n");
    for (const Setting &s : settings()) {
        text += QStringLiteral("  --%1 VALOR  %2")
                    .arg(QLatin1String(s.option), QString::fromUtf8(s.help));
        if (*s.iniKey)
            text += QStringLiteral(" [%1]").arg(QLatin1String(s.iniKey));
        text += u'\n';
    }
    return text;
}

ExportOptions parseExportOptions(const QStringList &arguments, bool *helpWanted)
{
    if (helpWanted)
        *helpWanted = false;
    const auto parsed = parseOptions<OptionsError>(arguments, settings());
    if (parsed.help) {
        if (helpWanted)
            *helpWanted = true;
        return {};
    }
    const auto &given = parsed.given;
    const QString &configFile = parsed.configFile;

    ExportOptions options;
    QStringList configFiles;
    try {
        configFiles = configFile.isEmpty() ? HostConfig::defaultFiles() : QStringList{configFile};
        options.host = HostConfig::load(configFiles);
    } catch (const ConfigError &e) {
        throw OptionsError(e.message());
    }
    const IniLayers ini(configFiles);
    for (const Setting &s : settings()) {
        const QString key = QLatin1String(s.iniKey);
        if (!key.isEmpty() && ini.contains(key))
            s.apply(options, QStringLiteral("%1 em %2").arg(key, ini.fileOf(key)), ini.text(key));
    }
    for (const auto &[setting, value] : given)
        setting->apply(options, QStringLiteral("--") + QLatin1String(setting->option), value);

    if (options.imposto.isEmpty())
        throw OptionsError(QStringLiteral("Nenhum imposto foi informado (--tax)."));
    if (options.empresa.isEmpty())
        throw OptionsError(QStringLiteral("Nenhuma empresa foi informada (--company)."));
    if (EmptyString(options.nomeArquivo))
        throw OptionsError(QStringLiteral("Nenhum nome de arquivo foi informado (--output)."));
    if (!options.codSerie.isEmpty() &&
        (options.inscEstadual.isEmpty() || options.inscMunicipal.isEmpty()))
        throw OptionsError(
            QStringLiteral("--series exige --state-registration e --municipal-registration."));
    if (options.inicio && options.fim && *options.fim < *options.inicio)
        throw OptionsError(QStringLiteral("O período termina (--to) antes de começar (--from)."));
    if (options.host.serverPort == 0)
        throw OptionsError(QStringLiteral(
            "Nenhuma porta do servidor de aplicação foi informada ([Server] Port ou --server)."));
    return options;
}

} // namespace fis::exportcommand
