// fis-demodata: creates the deterministic demo database of the Compra LEGAL export and
// summarises what a database holds. Exit status 0 on success, 1 when the work fails, 2 for a
// wrong command line.

#include "demodata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdint>
#include <limits>

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int usageError(const QString &message)
{
    QTextStream(stderr) << "fis-demodata: " << message << '\n'
                        << "Try 'fis-demodata --help' for more information.\n";
    return kUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fis-demodata"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Creates the demo database of the Compra LEGAL (BA) export, or summarises "
                       "an existing one.\nThe same options always produce the same data."));
    parser.addHelpOption();
    const QCommandLineOption databaseOption(
        QStringLiteral("database"),
        QStringLiteral("The SQLite database file. Generating removes an existing file first."),
        QStringLiteral("path"));
    const QCommandLineOption invoicesOption(
        QStringLiteral("invoices"),
        QStringLiteral("Generate this many purchase invoices (%1 to %2).")
            .arg(fis::kMinDemoInvoices)
            .arg(fis::kMaxDemoInvoices),
        QStringLiteral("n"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"),
        QStringLiteral("Seed of the invoices (default %1). Reference data never depends on it.")
            .arg(fis::kDefaultDemoSeed),
        QStringLiteral("s"));
    const QCommandLineOption summaryOption(
        QStringLiteral("summary"),
        QStringLiteral(
            "Print what the database holds (after generating, if --invoices is given)."));
    parser.addOptions({databaseOption, invoicesOption, seedOption, summaryOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\".")
                              .arg(parser.positionalArguments().constFirst()));
    const QString path = parser.value(databaseOption);
    if (path.isEmpty())
        return usageError(QStringLiteral("--database is required."));
    const bool generate = parser.isSet(invoicesOption);
    if (!generate && !parser.isSet(summaryOption))
        return usageError(QStringLiteral("give --invoices to generate, --summary to summarise, "
                                         "or both."));
    if (!generate && parser.isSet(seedOption))
        return usageError(QStringLiteral("--seed only applies when generating (--invoices)."));

    int invoices = 0;
    if (generate) {
        const QString text = parser.value(invoicesOption).trimmed();
        bool ok = false;
        invoices = text.toInt(&ok);
        if (!ok || invoices < fis::kMinDemoInvoices || invoices > fis::kMaxDemoInvoices)
            return usageError(QStringLiteral("--invoices must be a whole number from %1 to %2, "
                                             "not \"%3\".")
                                  .arg(fis::kMinDemoInvoices)
                                  .arg(fis::kMaxDemoInvoices)
                                  .arg(parser.value(invoicesOption)));
    }
    std::uint64_t seed = fis::kDefaultDemoSeed;
    if (parser.isSet(seedOption)) {
        bool ok = false;
        seed = parser.value(seedOption).trimmed().toULongLong(&ok);
        if (!ok)
            return usageError(QStringLiteral("--seed must be a whole number from 0 to %1, not "
                                             "\"%2\".")
                                  .arg(std::numeric_limits<std::uint64_t>::max())
                                  .arg(parser.value(seedOption)));
    }

    QTextStream out(stdout);
    try {
        if (generate) {
            const fis::DemoDataStats stats = fis::generateDemoDatabase(path, invoices, seed);
            out << "Generated " << path << ": " << stats.invoices << " invoices, " << stats.items
                << " items, " << stats.clients << " clients, " << stats.products
                << " products (seed " << seed << ") in "
                << QString::number(stats.elapsedMs / 1000.0, 'f', 2) << " s\n";
            out.flush();
        }
        if (parser.isSet(summaryOption))
            out << fis::demoDatabaseSummary(path);
    } catch (const fis::DemoDataError &e) {
        out.flush();
        QTextStream(stderr) << "fis-demodata: " << e.message() << '\n';
        return kFailed;
    }
    return 0;
}
