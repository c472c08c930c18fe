#include "exportcommand.h"

#include "compralegal/exportrun.h"
#include "compralegal/filtercriteria.h"
#include "compralegal/headercodes.h"
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"
#include "keylist/keylist.h"
#include "rpc/rpcerror.h"
#include "rpcclient/netconnection.h"

#include <QSet>
#include <QSqlQuery>

namespace fis::exportcommand {

namespace {

using namespace fis::compralegal;

// A code that names no record: a bad option, reported as such.
class UnknownCode : public Error
{
public:
    explicit UnknownCode(const QString &message)
        : Error(Kind::Input, message)
    {}
};

// The first column of the record with `value` in `sql`'s one parameter, or nothing.
std::optional<QString> lookUp(HostDatabase &db, const QString &sql, const QString &value)
{
    QSqlQuery query(db.database());
    query.prepare(sql);
    query.addBindValue(value);
    if (!query.exec())
        throw DatabaseError({}, QStringLiteral("Não foi possível consultar o banco de dados"),
                            HostDatabase::errorText(query.lastError()));
    if (!query.next())
        return std::nullopt;
    return query.value(0).toString();
}

// A code the screen would refuse is refused here too, as a bad option.
void requireCode(HostDatabase &db, const QString &sql, const QString &value, int width,
                 const QString &message)
{
    const CodeCheck check =
        checkCode(value, width, [&](const QString &code) { return lookUp(db, sql, code); });
    if (check.outcome != CodeCheck::Outcome::Known)
        throw UnknownCode(message.arg(value));
}

// The criteria as the filter dialog sends them; the key lists and the status go by reference
// into the variables of the run, as on the screen.
struct Criteria
{
    FilterCriteria filter;
    QString codSerie;
    QString codTipoOper;
    QString status;

    NotaFiscalRequest request(const QString &empresa)
    {
        return notaFiscalRequest(empresa, filter, &codSerie, &codTipoOper);
    }
};

class CommandHost : public ExportRunHost
{
public:
    CommandHost(const ExportOptions &options, NetConnection &connection, Criteria &criteria,
                QTextStream &paths, QTextStream &progress)
        : m_options(options)
        , m_connection(connection)
        , m_criteria(criteria)
        , m_paths(paths)
        , m_progress(progress)
    {}

    // Each path as soon as its file is complete, so that a run failing later still tells
    // which files it left.
    void fileWritten(const WrittenFile &file) override
    {
        m_paths << file.path << "\n";
        m_paths.flush();
    }

    void showWait() override {}
    void hideWait() override {}

    void progress(const ExportProgress &p) override
    {
        if (p.stage != ExportProgress::Stage::Written)
            return;
        m_progress << QStringLiteral(
                          "fis11000-export: arquivo %1 de %2, %3: página %4, %5 linhas gravadas\n")
                          .arg(p.file)
                          .arg(p.files)
                          .arg(p.fileName)
                          .arg(p.page)
                          .arg(p.lines);
        m_progress.flush();
    }

    // The screen reloads with the hidden dialog's criteria; here they are the options. The
    // call is the screen's, so the server sees the same run; the answer has no grid to show it
    // in and nothing reads the list after the run, so it is not taken apart into the table.
    void reloadInvoices() override
    {
        m_criteria.status = m_options.status;
        NotaFiscalRequest request = m_criteria.request(m_options.empresa);
        request.statusRef = &m_criteria.status;
        callGetNotaFiscal(m_connection.appServer(), request);
    }

private:
    const ExportOptions &m_options;
    NetConnection &m_connection;
    Criteria &m_criteria;
    QTextStream &m_paths;
    QTextStream &m_progress;
};

// Marks the invoices to export: every loaded one, or those named. Returns how many.
int markInvoices(MemTable &notas, const QStringList &wanted)
{
    const int mark = notas.indexOfField(QStringLiteral("IDSTATUS"));
    const int branch = notas.indexOfField(QStringLiteral("CDFILIAL"));
    const int posting = notas.indexOfField(QStringLiteral("NRLANCTONF"));
    const QSet<QString> chosen(wanted.cbegin(), wanted.cend());
    QSet<QString> missing = chosen;
    int marked = 0;
    {
        const ControlsDisabled suspended(&notas);
        for (int row = 0; row < notas.recordCount(); ++row) {
            if (!chosen.isEmpty()) {
                const QString key =
                    notas.valueAt(row, branch).toString() + notas.valueAt(row, posting).toString();
                if (!chosen.contains(key))
                    continue;
                missing.remove(key);
            }
            notas.moveTo(row);
            notas.edit();
            notas.setValue(mark, QString(kMarked));
            notas.post();
            ++marked;
        }
    }
    if (!missing.isEmpty()) {
        QStringList names(missing.cbegin(), missing.cend());
        names.sort();
        for (QString &name : names)
            name.insert(4, u':');
        throw UnknownCode(
            QStringLiteral("As notas %1 não estão entre as que os critérios selecionam.")
                .arg(names.join(QStringLiteral(", "))));
    }
    return marked;
}

// The options' codes checked against the host database, and the period: the dialog's default
// (the current branch's processing month up to its date) where none is given.
Criteria criteriaOf(const ExportOptions &options)
{
    HostDatabase db(options.host, QStringLiteral("fis11000-export"));
    db.open();
    requireCode(db, QStringLiteral("SELECT SGIMPOSTONFE FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?"),
                options.imposto, 2, QStringLiteral("Imposto %1 não cadastrado."));
    requireCode(db, QStringLiteral("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"),
                options.empresa, 2, QStringLiteral("Empresa %1 não cadastrada."));
    if (!options.filial.isEmpty() &&
        !lookUp(db, QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"),
                options.filial))
        throw UnknownCode(QStringLiteral("Filial %1 não cadastrada.").arg(options.filial));

    Criteria criteria{{}, options.codSerie, options.codTipoOper, options.status};
    FilterCriteria &filter = criteria.filter;
    filter.filial = options.filial;
    filter.inscricaoCliente = options.cliente;
    filter.inscEstadual = options.inscEstadual;
    filter.inscMunicipal = options.inscMunicipal;
    filter.numeroNF = options.numeroNF;
    filter.valorMinimo = options.valorMinimo;
    if (options.inicio && options.fim) {
        filter.inicio = *options.inicio;
        filter.fim = *options.fim;
    } else {
        if (options.host.branch.isEmpty())
            throw UnknownCode(QStringLiteral("Nenhum período foi informado, e não há filial atual "
                                             "([Host] Branch) de onde tomá-lo."));
        const QDate processing = DataProc(db, options.host.branch);
        filter.inicio = options.inicio.value_or(PriDiaMes(processing));
        filter.fim = options.fim.value_or(processing);
        if (filter.fim < filter.inicio)
            throw UnknownCode(QStringLiteral("O período termina antes de começar."));
    }
    db.close();
    return criteria;
}

void openConnection(NetConnection &connection, const ExportOptions &options)
{
    connection.setServerName(serverObjectName());
    connection.setHost(options.host.serverHost);
    connection.setPort(options.host.serverPort);
    connection.setTls(
        {options.host.serverTls, options.host.serverCaFile, options.host.serverFingerprint});
    if (!options.host.serverClient.isEmpty()) {
        const HostConfig host = options.host;
        connection.setCredentials(host.serverClient, [host] { return host.serverSecret(); });
    }
    connection.setCallTimeout(options.callTimeoutSecs * 1000);
    connection.open();
}

// Loads the invoices, marks them and runs the export. What the failure guard's list deletion
// answered, when it failed, is left in `guardFailure`.
QList<WrittenFile> exportInvoices(const ExportOptions &options, Criteria &criteria,
                                  QTextStream &paths, QTextStream &progress,
                                  std::optional<QString> &guardFailure)
{
    NetConnection connection;
    openConnection(connection, options);
    RunTables tables;
    MemTable &notas = tables.notaFiscal;
    NotaFiscalRequest request = criteria.request(options.empresa);
    request.status = criteria.status;
    loadInvoiceList(connection.appServer(), request, notas);
    const int marked = markInvoices(notas, options.invoices);
    progress << QStringLiteral("fis11000-export: %1 notas selecionadas de %2 a %3, %4 a exportar\n")
                    .arg(notas.recordCount())
                    .arg(criteria.filter.inicio.toString(Qt::ISODate),
                         criteria.filter.fim.toString(Qt::ISODate))
                    .arg(marked);
    progress.flush();

    CommandHost host(options, connection, criteria, paths, progress);
    ExportRun run(connection, tables.tables(), host);
    ExportRunInput input;
    input.empresa = options.empresa;
    input.imposto = options.imposto;
    input.nomeArquivo = options.nomeArquivo;
    input.inicio = criteria.filter.inicio;
    input.fim = criteria.filter.fim;
    try {
        return run.run(input);
    } catch (...) {
        guardFailure = run.guardFailure();
        throw;
    }
}

// The text of a failure and the exit status it gives.
std::pair<QString, int> failureOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const UnknownCode &e) {
        return {QString::fromStdString(e.what()), BadOptions};
    } catch (const ExportRunError &e) {
        using Kind = ExportRunError::Kind;
        if (e.kind() == Kind::NoInvoiceMarked)
            return {QStringLiteral("Nenhum documento foi informado."), NothingToExport};
        if (e.kind() == Kind::DirectoryInvalid)
            return {QStringLiteral("Diretório inválido para baixar arquivo. (%1)").arg(e.message()),
                    Failed};
        return {e.message(), Failed};
    } catch (...) {
        return {errorText(std::current_exception()), Failed};
    }
}

} // namespace

int runExport(const ExportOptions &options, QTextStream &paths, QTextStream &progress,
              QTextStream &errors)
{
    std::optional<QString> guardFailure;
    try {
        Criteria criteria = criteriaOf(options);
        const QList<WrittenFile> written =
            exportInvoices(options, criteria, paths, progress, guardFailure);
        progress << QStringLiteral("fis11000-export: %1 arquivos gravados\n").arg(written.size());
        progress.flush();
        return Done;
    } catch (...) {
        const auto [text, status] = failureOf(std::current_exception());
        errors << "fis11000-export: " << text << "\n";
        if (guardFailure)
            errors << "fis11000-export: " << *guardFailure << "\n";
        errors.flush();
        return status;
    }
}

} // namespace fis::exportcommand
