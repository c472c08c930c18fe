#pragma once

#include "server/sqlcompralegalstore.h"

namespace fis {

// SQLite: numbers from the SEQCOMPRALEG table, key lists as a JSON array (json_each), and the
// pending clause made an equality where the company's flags allow it.
class SqliteCompraLegalStore final : public SqlCompraLegalStore
{
public:
    using SqlCompraLegalStore::SqlCompraLegalStore;
    std::optional<qint64> nextInSequence(const QString &sequence) override;
    // Other connections' commits by SQLite's data version, this connection's own writes by
    // counting its changes to the invoices and clients.
    std::optional<InvoicesStamp> invoicesStamp() override;
    // By the connection's log of its own updates of NFCOMPRA. The server's only updates of that
    // table set IDNFCOMPRALEG alone (a file's marks, the flags a list gives back), so the flag
    // is all that those updates change of what the list shows.
    void followOwnFlagUpdates(bool on) override;
    std::optional<std::vector<FlagUpdate>> ownFlagUpdatesSince(const InvoicesStamp &stamp) override;

protected:
    void addPendingClause(const InvoiceCriteria &criteria, Query &query) override;
    void addKeyListClause(const char *key, const QStringList &keys, Query &query) override;
    // SQLite's sorter carries every column of every row; ordering the keys here is several
    // times faster, and its BINARY collation is plain byte order.
    bool ordersInvoicesItself() const override { return true; }
    const char *rowIdColumn() const override { return "N.rowid"; }

private:
    // The company's flags other than exported: none, exactly one (its value), or several, which
    // includes whatever cannot be told by an equality.
    struct PendingFlag
    {
        enum class Kind { None, One, Several } kind = Kind::Several;
        QString value;
    };
    PendingFlag pendingFlag(const QString &company);

    bool m_countingChanges = false;
};

// PostgreSQL: numbers from the sequences SEQ_NRLISTA and SEQ_NRSEQARQMAG, key lists bound as one
// text array.
class PostgresCompraLegalStore final : public SqlCompraLegalStore
{
public:
    using SqlCompraLegalStore::SqlCompraLegalStore;
    std::optional<qint64> nextInSequence(const QString &sequence) override;

protected:
    void addKeyListClause(const char *key, const QStringList &keys, Query &query) override;
};

// Firebird: numbers from the same sequences (generators), key lists as an IN list of bound
// values, its own names for trimming and length.
class FirebirdCompraLegalStore final : public SqlCompraLegalStore
{
public:
    using SqlCompraLegalStore::SqlCompraLegalStore;
    std::optional<qint64> nextInSequence(const QString &sequence) override;

protected:
    void addKeyListClause(const char *key, const QStringList &keys, Query &query) override;
    QByteArray withoutZeros(const char *expression) const override;
    const char *lengthFunction() const override { return "CHAR_LENGTH"; }
};

// The store of the connection's engine.
std::unique_ptr<CompraLegalStore> makeCompraLegalStore(SqlConnection &db);

} // namespace fis
