#pragma once

#include "rpc/rpcvalue.h"
#include "rpcserver/rpcargs.h"
#include "rpcserver/rpcmethodtable.h"
#include "server/serverconfig.h"

#include <functional>

namespace fis {

class SqliteConnection;

// The methods of the server object (compralegal::serverObjectName()) over one database
// connection.
//
// Nothing is kept between calls: lists, files, lines and the progress of an export live in the
// database, so that any number of these (threads, processes) can serve one database.
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
    CompraLegalService(SqliteConnection &db, const ServerConfig &config, QString serverId,
                       std::function<void()> filesServed = {});

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
    struct FileRow;
    // The company's flags other than 'S': none, exactly one (its value), or several, which
    // includes whatever cannot be told by an equality.
    struct PendingFlag
    {
        enum class Kind { None, One, Several } kind = Kind::Several;
        QString value;
    };
    PendingFlag pendingFlag(const QString &company);
    QString nextNumber(const char *sequence);
    // The message naming an invoice that a list other than `list` holds; empty when none does.
    QString invoiceOnAnotherList(const QString &list, QByteArrayView branch,
                                 QByteArrayView posting);
    RpcValue registroAnswer(const QString &status, const QByteArray &lines, bool more,
                            const QString &continuation) const;

    SqliteConnection &m_db;
    ServerConfig m_config;
    QString m_serverId;
    std::function<void()> m_filesServed;
};

} // namespace fis
