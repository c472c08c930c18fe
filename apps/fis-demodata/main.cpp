// fis-demodata: creates the deterministic demo database of the Compra LEGAL export and
// summarises what a database holds. Exit status 0 on success, 1 when the work fails, 2 for a
// wrong command line.

#include "demodata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdint>
#include <limits>
#include <optional>

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int usageError(const QString &message)
{
    QTextStream(stderr) << "fis-demodata: " << message << '\n'
                        << "Use 'fis-demodata --help' para mais informações.\n";
    return kUsage;
}

struct Options
{
    QCommandLineOption database, invoices, seed, summary;
};

Options addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Cria o banco de dados de demonstração da exportação do Compra LEGAL (BA), "
        "ou resume um existente.\nAs mesmas opções sempre produzem os mesmos dados."));
    parser.addHelpOption();
    Options options{
        QCommandLineOption(
            QStringLiteral("database"),
            QStringLiteral(
                "O banco de dados: um arquivo SQLite, "
                "postgresql://USUARIO@SERVIDOR:PORTA/NOME?password_file=ARQUIVO ou "
                "firebird://USUARIO@SERVIDOR:PORTA//caminho.fdb?password_file=ARQUIVO "
                "(ou password_env=VARIAVEL). A geração substitui um arquivo SQLite ou Firebird "
                "existente; no PostgreSQL o banco deve existir e as tabelas da demonstração são "
                "refeitas nele."),
            QStringLiteral("conexão")),
        QCommandLineOption(
            QStringLiteral("invoices"),
            QStringLiteral("Gera esta quantidade de notas fiscais de compra (%1 a %2).")
                .arg(fis::kMinDemoInvoices)
                .arg(fis::kMaxDemoInvoices),
            QStringLiteral("n")),
        QCommandLineOption(
            QStringLiteral("seed"),
            QStringLiteral(
                "Semente das notas (padrão %1). Os dados de referência nunca dependem dela.")
                .arg(fis::kDefaultDemoSeed),
            QStringLiteral("s")),
        QCommandLineOption(QStringLiteral("summary"),
                           QStringLiteral("Mostra o que o banco de dados contém (depois da "
                                          "geração, se --invoices for informado).")),
    };
    parser.addOptions({options.database, options.invoices, options.seed, options.summary});
    return options;
}

struct Request
{
    fis::DatabaseTarget target;
    bool generate = false;
    bool summary = false;
    int invoices = 0;
    std::uint64_t seed = fis::kDefaultDemoSeed;
};

std::optional<int> invoiceCount(const QString &value)
{
    bool ok = false;
    const int invoices = value.trimmed().toInt(&ok);
    if (!ok || invoices < fis::kMinDemoInvoices || invoices > fis::kMaxDemoInvoices)
        return std::nullopt;
    return invoices;
}

std::optional<std::uint64_t> seedValue(const QString &value)
{
    bool ok = false;
    const std::uint64_t seed = value.trimmed().toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return seed;
}

// Fills *request from the parsed command line; returns the exit status when it is wrong.
std::optional<int> readRequest(const QCommandLineParser &parser, const Options &options,
                               Request *request)
{
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Argumento inesperado: \"%1\".")
                              .arg(parser.positionalArguments().constFirst()));
    if (parser.value(options.database).isEmpty())
        return usageError(QStringLiteral("--database é obrigatório."));
    try {
        request->target = fis::DatabaseTarget::parse(parser.value(options.database));
    } catch (const fis::ConfigError &e) {
        return usageError(e.message());
    }
    request->generate = parser.isSet(options.invoices);
    request->summary = parser.isSet(options.summary);
    if (!request->generate && !request->summary)
        return usageError(
            QStringLiteral("Informe --invoices para gerar, --summary para resumir, ou os dois."));
    if (!request->generate && parser.isSet(options.seed))
        return usageError(QStringLiteral("--seed só vale na geração (--invoices)."));

    if (request->generate) {
        const std::optional<int> invoices = invoiceCount(parser.value(options.invoices));
        if (!invoices)
            return usageError(
                QStringLiteral("--invoices deve ser um número inteiro de %1 a %2, não \"%3\".")
                    .arg(fis::kMinDemoInvoices)
                    .arg(fis::kMaxDemoInvoices)
                    .arg(parser.value(options.invoices)));
        request->invoices = *invoices;
    }
    if (parser.isSet(options.seed)) {
        const std::optional<std::uint64_t> seed = seedValue(parser.value(options.seed));
        if (!seed)
            return usageError(
                QStringLiteral("--seed deve ser um número inteiro de 0 a %1, não \"%2\".")
                    .arg(std::numeric_limits<std::uint64_t>::max())
                    .arg(parser.value(options.seed)));
        request->seed = *seed;
    }
    return std::nullopt;
}

int run(const Request &request)
{
    QTextStream out(stdout);
    try {
        if (request.generate) {
            const fis::DemoDataStats stats =
                fis::generateDemoDatabase(request.target, request.invoices, request.seed);
            out << "Gerado " << request.target.toString() << ": " << stats.invoices << " notas, "
                << stats.items << " itens, " << stats.clients << " clientes, " << stats.products
                << " produtos (semente " << request.seed << ") em "
                << QString::number(stats.elapsedMs / 1000.0, 'f', 2) << " s\n";
            out.flush();
        }
        if (request.summary)
            out << fis::demoDatabaseSummary(request.target);
    } catch (const fis::DemoDataError &e) {
        out.flush();
        QTextStream(stderr) << "fis-demodata: " << e.message() << '\n';
        return kFailed;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fis-demodata"));

    QCommandLineParser parser;
    const Options options = addOptions(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    Request request;
    if (const std::optional<int> status = readRequest(parser, options, &request))
        return *status;
    return run(request);
}
