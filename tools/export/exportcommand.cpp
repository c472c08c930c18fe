#include "exportcommand.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "export_screen/run/exportrun.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"
#include "hostfw/widgets/keylist.h"
#include "rpc/netconnection.h"
#include "rpc/rpcerror.h"

#include <QSet>
#include <QSqlQuery>

namespace fis::exportcommand {

namespace {

using namespace fis::compralegal;

// A code that names no record: a bad option, reported as such.
class UnknownCode : public std::runtime_error
{
public:
    explicit UnknownCode(const QString &message)
        : std::runtime_error(message.toStdString())
    {}
};

void requireRecord(HostDatabase &db, const QString &sql, const QString &value,
                   const QString &message)
{
    QSqlQuery query(db.database());
    query.prepare(sql);
    query.addBindValue(value);
    if (!query.exec())
        throw DatabaseError({}, QStringLiteral("Não foi possível consultar o banco de dados"),
                            HostDatabase::errorText(query.lastError()));
    if (!query.next())
        throw UnknownCode(message.arg(value));
}

// The criteria as the filter dialog sends them; the key lists and the status go by reference
// into the variables of the run, as on the screen.
struct Criteria
{
    const ExportOptions &options;
    QDate inicio;
    QDate fim;
    QString codSerie;
    QString codTipoOper;
    QString status;

    NotaFiscalRequest request()
    {
        NotaFiscalRequest r;
        r.empresa = options.empresa;
        r.numeroNF = options.numeroNF;
        r.inscricaoCliente = options.cliente;
        r.filial = options.filial;
        r.inscEstadual = options.inscEstadual;
        r.inscMunicipal = options.inscMunicipal;
        r.codSerie = &codSerie;
        r.codTipoOper = &codTipoOper;
        r.inicio = inicio;
        r.fim = fim;
        r.valorMinimo = options.valorMinimo;
        return r;
    }
};

class CommandHost : public ExportRunHost
{
public:
    CommandHost(NetConnection &connection, MemTable &notas, Criteria &criteria, QTextStream &paths,
                QTextStream &progress)
        : m_connection(connection)
        , m_notas(notas)
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
        m_progress << QStringLiteral("fis11000-export: file %1 of %2, %3: page %4, %5 lines\n")
                          .arg(p.file)
                          .arg(p.files)
                          .arg(p.fileName)
                          .arg(p.page)
                          .arg(p.lines);
        m_progress.flush();
    }

    // The screen reloads with the hidden dialog's criteria; here they are the options.
    void reloadInvoices() override
    {
        m_criteria.status = m_criteria.options.status;
        NotaFiscalRequest request = m_criteria.request();
        request.statusRef = &m_criteria.status;
        m_notas.loadFromPacket(callGetNotaFiscal(m_connection.appServer(), request));
    }

    void checkDeleteAnswer(const RpcValue &answer) override
    {
        if (const std::optional<QString> failure = answerFailure(answer, 0))
            throw HostError(*failure);
    }

private:
    NetConnection &m_connection;
    MemTable &m_notas;
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
            const QString key =
                notas.valueAt(row, branch).toString() + notas.valueAt(row, posting).toString();
            if (!chosen.isEmpty() && !chosen.contains(key))
                continue;
            missing.remove(key);
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
        throw UnknownCode(QStringLiteral("invoices not among those the criteria select: %1")
                              .arg(names.join(QStringLiteral(", "))));
    }
    return marked;
}

} // namespace

int runExport(const ExportOptions &options, QTextStream &paths, QTextStream &progress,
              QTextStream &errors)
{
    const auto fail = [&errors](const QString &text, int status) {
        errors << "fis11000-export: " << text << "\n";
        errors.flush();
        return status;
    };
    try {
        HostDatabase db(options.host, QStringLiteral("fis11000-export"));
        db.open();
        requireRecord(db, QStringLiteral("SELECT 1 FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?"),
                      options.imposto, QStringLiteral("tax %1 is not registered"));
        requireRecord(db, QStringLiteral("SELECT 1 FROM EMPRESA WHERE CDEMPRESA = ?"),
                      options.empresa, QStringLiteral("company %1 is not registered"));
        if (!options.filial.isEmpty())
            requireRecord(db, QStringLiteral("SELECT 1 FROM FILIAL WHERE CDFILIAL = ?"),
                          options.filial, QStringLiteral("branch %1 is not registered"));

        Criteria criteria{options, {}, {}, options.codSerie, options.codTipoOper, options.status};
        // The dialog's default period: the current branch's processing month up to its date.
        if (!options.inicio || !options.fim) {
            if (options.host.branch.isEmpty())
                throw UnknownCode(QStringLiteral(
                    "no period given and no current branch ([Host] Branch) to take it from"));
            const QDate processing = DataProc(db, options.host.branch);
            criteria.inicio = options.inicio.value_or(PriDiaMes(processing));
            criteria.fim = options.fim.value_or(processing);
            if (criteria.fim < criteria.inicio)
                throw UnknownCode(QStringLiteral("the period ends before it starts"));
        } else {
            criteria.inicio = *options.inicio;
            criteria.fim = *options.fim;
        }
        db.close();

        NetConnection connection;
        connection.setServerName(serverObjectName());
        connection.setHost(options.host.serverHost);
        connection.setPort(options.host.serverPort);
        connection.setCallTimeout(options.callTimeoutSecs * 1000);
        connection.open();

        RunTables tables;
        MemTable &notas = tables.notaFiscal;

        NotaFiscalRequest request = criteria.request();
        request.status = criteria.status;
        notas.loadFromPacket(callGetNotaFiscal(connection.appServer(), request));
        const int marked = markInvoices(notas, options.invoices);
        progress << QStringLiteral("fis11000-export: %1 invoices selected from %2 to %3, %4 to "
                                   "export\n")
                        .arg(notas.recordCount())
                        .arg(criteria.inicio.toString(Qt::ISODate),
                             criteria.fim.toString(Qt::ISODate))
                        .arg(marked);
        progress.flush();

        CommandHost host(connection, notas, criteria, paths, progress);
        ExportRun run(connection, tables.tables(), host);
        ExportRunInput input;
        input.empresa = options.empresa;
        input.imposto = options.imposto;
        input.nomeArquivo = options.nomeArquivo;
        input.inicio = criteria.inicio;
        input.fim = criteria.fim;
        const QList<WrittenFile> written = run.run(input);
        progress << QStringLiteral("fis11000-export: %1 files written\n").arg(written.size());
        progress.flush();
        return Done;
    } catch (const UnknownCode &e) {
        return fail(QString::fromStdString(e.what()), BadOptions);
    } catch (const ExportRunError &e) {
        using Kind = ExportRunError::Kind;
        if (e.kind() == Kind::NoInvoiceMarked)
            return fail(QStringLiteral("no invoice to export (Nenhum documento foi informado.)"),
                        NothingToExport);
        if (e.kind() == Kind::DirectoryInvalid)
            return fail(
                QStringLiteral("Diretório inválido para baixar arquivo. (%1)").arg(e.message()),
                Failed);
        return fail(e.message(), Failed);
    } catch (const HostError &e) {
        return fail(e.message(), Failed);
    } catch (const RpcError &e) {
        return fail(e.message(), Failed);
    } catch (const DataSetError &e) {
        return fail(e.message(), Failed);
    } catch (const KeyListError &e) {
        return fail(e.message(), Failed);
    } catch (const std::exception &e) {
        return fail(QString::fromUtf8(e.what()), Failed);
    }
}

} // namespace fis::exportcommand
