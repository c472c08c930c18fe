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
            throw OptionsError(QStringLiteral("%1: %2 is out of range; give a date from %3 to %4")
                                   .arg(option, value, kFirstDate.toString(Qt::ISODate),
                                        kLastDate.toString(Qt::ISODate)));
        return date;
    }
    throw OptionsError(
        QStringLiteral("%1: \"%2\" is no date (YYYY-MM-DD or DD/MM/YYYY)").arg(option, value));
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
        throw OptionsError(QStringLiteral("%1: no key given").arg(option));
    return formatKeyList(keys);
}

QString upperText(const QString &option, const QString &value, int size)
{
    const QString text = value.trimmed().toUpper();
    if (text.size() > size)
        throw OptionsError(QStringLiteral("%1: at most %2 characters, \"%3\" has %4")
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
        throw OptionsError(QStringLiteral("%1: a code of 1 to %2 characters, not \"%3\"")
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
                QStringLiteral("%1: the character \"%2\" cannot be part of a file name")
                    .arg(opt, QString(c)));
        // A line break would also split the list of paths the command prints.
        if (c.category() == QChar::Other_Control)
            throw OptionsError(
                QStringLiteral("%1: a control character (U+%2) cannot be part of a file name")
                    .arg(opt)
                    .arg(c.unicode(), 4, 16, QLatin1Char('0')));
    }
}

void applyOutput(ExportOptions &o, const QString &opt, const QString &v)
{
    if (v.size() > 16)
        throw OptionsError(QStringLiteral("%1: at most 16 characters").arg(opt));
    checkOutputCharacters(opt, v);
    // The screen lets a name such as ".TXT" through (its files start with "_"); a script is
    // better told.
    if (!EmptyString(v) && EmptyString(compralegal::outputBaseName(v)))
        throw OptionsError(QStringLiteral("%1: \"%2\" leaves the files without a name: the text "
                                          "before its first \".\" is empty")
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
            QStringLiteral("%1: \"%2\" is no CNPJ (14 digits) or CPF (11 digits)").arg(opt, v));
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
        throw OptionsError(QStringLiteral("%1: 1 to 20 digits, not \"%2\"").arg(opt, v));
    o.numeroNF = digits;
}

void applyMinValue(ExportOptions &o, const QString &opt, const QString &v)
{
    QString text = v.trimmed();
    text.replace(u',', u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value) || value < 0)
        throw OptionsError(QStringLiteral("%1: \"%2\" is no value of zero or more").arg(opt, v));
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
        throw OptionsError(QStringLiteral("%1: pending, exported or both, not \"%2\"").arg(opt, v));
}

void applyInvoices(ExportOptions &o, const QString &opt, const QString &v)
{
    QStringList invoices;
    for (const QString &item : v.split(u',', Qt::SkipEmptyParts)) {
        if (item.trimmed().isEmpty())
            continue;
        const QStringList parts = item.trimmed().split(u':');
        if (parts.size() != 2 || parts.at(0).trimmed().isEmpty() || parts.at(1).trimmed().isEmpty())
            throw OptionsError(QStringLiteral("%1: \"%2\" is not BRANCH:POSTING").arg(opt, item));
        invoices << Ajusta(parts.at(0).trimmed(), 4) + parts.at(1).trimmed();
    }
    // Naming none must never fall back to exporting all.
    if (invoices.isEmpty())
        throw OptionsError(QStringLiteral("%1: no invoice given").arg(opt));
    o.invoices = invoices;
}

void applyCallTimeout(ExportOptions &o, const QString &opt, const QString &v)
{
    bool ok = false;
    const int seconds = v.trimmed().toInt(&ok);
    if (!ok || seconds < 1 || seconds > 24 * 3600)
        throw OptionsError(
            QStringLiteral("%1: a number of seconds from 1 to 86400, not \"%2\"").arg(opt, v));
    o.callTimeoutSecs = seconds;
}

void applyServer(ExportOptions &o, const QString &opt, const QString &v)
{
    const qsizetype colon = v.lastIndexOf(u':');
    bool ok = false;
    const int port = colon > 0 ? v.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port < 1 || port > 65535)
        throw OptionsError(QStringLiteral("%1: \"%2\" is not HOST:PORT").arg(opt, v));
    o.host.serverHost = v.left(colon);
    o.host.serverPort = port;
}

// In the order the usage lists them and the ini file is read.
const QList<Setting> &settings()
{
    static const QList<Setting> list{
        {"tax", "export/tax", "tax code (required)", applyTax},
        {"company", "export/company", "company code (required)", applyCompany},
        {"output", "export/output",
         "output name, at most 16 characters; the files are named after the text before its "
         "first \".\" (required)",
         applyOutput},
        {"branch", "export/branch", "branch code", applyBranch},
        {"client", "export/client", "client CNPJ (14 digits) or CPF (11 digits)", applyClient},
        {"state-registration", "export/state_registration", "state registration",
         applyStateRegistration},
        {"municipal-registration", "export/municipal_registration", "municipal registration",
         applyMunicipalRegistration},
        {"nf", "export/nf", "invoice number (digits)", applyInvoiceNumber},
        {"min-value", "export/min_value", "minimum invoice value, e.g. 250.50", applyMinValue},
        {"from", "export/from", "period start (default: first day of the branch's month)",
         applyFrom},
        {"to", "export/to", "period end (default: the branch's processing date)", applyTo},
        {"operation-types", "export/operation_types",
         "operation-type keys as the picker lists them, comma separated, e.g. S01,E05",
         applyOperationTypes},
        {"series", "export/series",
         "series keys as the picker lists them, comma separated; needs both registrations",
         applySeries},
        {"status", "export/status", "pending (default), exported or both", applyStatus},
        {"invoices", "export/invoices",
         "the invoices to export as BRANCH:POSTING, comma separated (default: all loaded)",
         applyInvoices},
        {"call-timeout", "export/call_timeout",
         "seconds to wait for each answer of the application server (default 600)",
         applyCallTimeout},
        {"server", "", "the application server as HOST:PORT (default: [Server] of the config)",
         applyServer},
    };
    return list;
}

} // namespace

QString exportUsage()
{
    QString text = QStringLiteral(
        "Usage: fis11000-export --config FILE [--OPTION VALUE ...]\n"
        "Exports the Compra LEGAL files of the invoices that the criteria select, through the\n"
        "application server. Prints progress on stderr and the paths of the files written on\n"
        "stdout. Exit status: 0 done; 1 failed; 2 bad options or configuration; 3 no invoice\n"
        "to export.\n\n"
        "  --config FILE  the host's ini file ([Database], [Server], [Host]); its [export]\n"
        "                 section may hold the options below, which the command line overrides\n");
    for (const Setting &s : settings()) {
        text +=
            QStringLiteral("  --%1 VALUE  %2").arg(QLatin1String(s.option), QLatin1String(s.help));
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

    if (configFile.isEmpty())
        throw OptionsError(QStringLiteral("no configuration given (--config FILE)"));
    ExportOptions options;
    try {
        options.host = HostConfig::load(configFile);
    } catch (const ConfigError &e) {
        throw OptionsError(e.message());
    }
    QSettings ini(configFile, QSettings::IniFormat);
    for (const Setting &s : settings()) {
        const QString key = QLatin1String(s.iniKey);
        if (!key.isEmpty() && ini.contains(key))
            s.apply(options, QStringLiteral("%1 in %2").arg(key, configFile), iniText(ini, key));
    }
    for (const auto &[setting, value] : given)
        setting->apply(options, QStringLiteral("--") + QLatin1String(setting->option), value);

    if (options.imposto.isEmpty())
        throw OptionsError(QStringLiteral("no tax given (--tax)"));
    if (options.empresa.isEmpty())
        throw OptionsError(QStringLiteral("no company given (--company)"));
    if (EmptyString(options.nomeArquivo))
        throw OptionsError(QStringLiteral("no output name given (--output)"));
    if (!options.codSerie.isEmpty() &&
        (options.inscEstadual.isEmpty() || options.inscMunicipal.isEmpty()))
        throw OptionsError(QStringLiteral(
            "--series needs both --state-registration and --municipal-registration"));
    if (options.inicio && options.fim && *options.fim < *options.inicio)
        throw OptionsError(QStringLiteral("the period ends (--to) before it starts (--from)"));
    if (options.host.serverPort == 0)
        throw OptionsError(
            QStringLiteral("no application server port ([Server] Port or --server)"));
    return options;
}

} // namespace fis::exportcommand
