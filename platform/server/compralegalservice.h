#pragma once

#include "rpc/rpcvalue.h"
#include "rpcserver/rpcargs.h"
#include "rpcserver/rpcmethodtable.h"
#include "server/compralegalstore.h"
#include "server/serverconfig.h"

#include <QMap>

#include <functional>
#include <memory>
#include <optional>

namespace fis {

class CompraLegalStore;
class SqlConnection;
struct ListFile;
struct MarkedList;
struct PageRange;
struct RegistroArgs;

// Where an invoice's exported flag is in an invoice list's answer: the first byte of its cell.
struct FlagCell
{
    qint64 rowId = 0; // InvoiceRow::rowId
    qsizetype at = 0;
};

// The methods of the server object (compralegal::serverObjectName()) over one database
// connection.
//
// Nothing is kept between calls: lists, files, lines and the progress of an export live in the
// database, so that any number of these (threads, processes) can serve one database.
//
// Each method reads and checks its arguments (compralegalargs.h), does its database work through
// the store (compralegalstore.h) in the transactions it opens, and builds its answer.
//
// Failures the caller cannot put right through the screen (wrong argument kinds, a malformed
// packet or key list, an unknown continuation, database errors) are thrown as RpcError and reach
// the caller as call errors. Faults the user can put right are answered in element 0 where the
// answer has one (GetRegistro's first page, GetDeletaLista).
//
// A list belongs to the session that took it (RpcArgs::session()); for any other session it does
// not exist. Its life, from open to final or undone, is in exportlists.h.
class CompraLegalService
{
public:
    // `serverId` names this process in the lists it serves (exportlists::ServerRegistry).
    // `filesServed` is called when files have been served or lists made final: their lines are
    // no longer needed and may be deleted (see ServerJanitor).
    CompraLegalService(std::unique_ptr<CompraLegalStore> store, const ServerConfig &config,
                       QString serverId, std::function<void()> filesServed = {});
    // The same on the SQLite database of `db`.
    CompraLegalService(SqlConnection &db, const ServerConfig &config, QString serverId,
                       std::function<void()> filesServed = {});
    ~CompraLegalService();

    RpcValue GetNotaFiscal(RpcArgs &args);
    RpcValue GetDiretorio(RpcArgs &args);
    RpcValue GetLista(RpcArgs &args);
    RpcValue getNotasMarcadas(RpcArgs &args);
    RpcValue GetRegistro(RpcArgs &args);
    RpcValue GetDeletaLista(RpcArgs &args);

    // Registers the six methods under compralegal::serverObjectName(). The packets' fields are
    // the contract's, the ones the screen declares its tables with.
    void registerMethods(RpcMethodTable &table);

private:
    // The company of a list's marked invoices and how many each state registration has,
    // ordered: files go by registration.
    struct ListedInvoices
    {
        QString company;
        QMap<QString, qint64> registrations;
    };

    QString nextNumber(const char *sequence);

    // getNotasMarcadas
    std::optional<RpcValue> registerList(const MarkedList &marked,
                                         const std::vector<QByteArrayView> &keys,
                                         const QString &session, bool mayRetry);
    void checkListTakesInvoices(const QString &list, const QString &session);
    ListedInvoices putOnList(const MarkedList &marked, const std::vector<QByteArrayView> &keys);
    QByteArray addFiles(const QString &list, const ListedInvoices &listed);

    // GetRegistro
    std::optional<QString> checkFileToBuild(const RegistroArgs &request, const QString &session,
                                            ListFile &file);
    std::optional<QString> buildFile(const RegistroArgs &request, const QString &session,
                                     ListFile &file);
    ListFile continuedFile(const RegistroArgs &request, const QString &session);
    QByteArray readPage(const ListFile &file, const PageRange &range);
    void recordPageServed(const ListFile &file, bool more, const QString &session);
    RpcValue registroAnswer(const QString &status, const QByteArray &lines, bool more,
                            const QString &continuation) const;
    RpcValue registroRefusal(const QString &text) const;

    // The last invoice list answered, given again while its criteria and the invoices' stamp
    // stay the same: the screen reloads the list after every page of a file, and between the
    // pages of one file nothing it shows changes.
    //
    // While the invoices' exported flags are all that changed, and only by this server's own
    // connection (a file's marks, a list's flags given back), the flags are set in the kept
    // answer instead: where each row's flag cell is, by the invoice's row id. Only for a list of
    // both statuses, whose rows do not depend on the flag.
    struct LastInvoiceList
    {
        InvoiceCriteria criteria;
        InvoicesStamp stamp;
        QByteArray packet;
        std::vector<FlagCell> flagCells; // empty: the flags are not set in place
        bool cellsSorted = false;        // by row id
    };
    bool setFlagsOfLastInvoiceList(const InvoicesStamp &now);

    std::unique_ptr<CompraLegalStore> m_store;
    std::optional<LastInvoiceList> m_lastInvoiceList;
    ServerConfig m_config;
    QString m_serverId;
    std::function<void()> m_filesServed;
};

} // namespace fis
