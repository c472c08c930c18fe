#include "server/enginestores.h"

#include "contracts/compralegalcontract.h"
#include "sqldb/sqldatabase.h"
#include "sqldb/sqliteconnection.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace fis {

namespace {

// The statement that takes the next number of a known sequence; null for any other name, so that
// no caller's text ever names an object in a statement.
const char *sequenceStatement(const QString &sequence, const char *listNumber,
                              const char *fileNumber)
{
    if (sequence == u"NRLISTA")
        return listNumber;
    if (sequence == u"NRSEQARQMAG")
        return fileNumber;
    return nullptr;
}

std::optional<qint64> takeNumber(SqlConnection &db, const char *sql)
{
    if (!sql)
        return std::nullopt;
    SqlStatement next(db, sql);
    if (!next.step())
        return std::nullopt;
    return next.integer(0);
}

} // namespace

std::optional<qint64> SqliteCompraLegalStore::nextInSequence(const QString &sequence)
{
    SqlStatement up(db(), "UPDATE SEQCOMPRALEG SET NRULTIMO = NRULTIMO + 1"
                          " WHERE NMSEQUENCIA = ?1 RETURNING NRULTIMO");
    up.bind(1, sequence);
    if (!up.step())
        return std::nullopt;
    const qint64 number = up.integer(0);
    up.reset();
    return number;
}

std::optional<InvoicesStamp> SqliteCompraLegalStore::invoicesStamp()
{
    auto *sqlite = dynamic_cast<SqliteConnection *>(&db());
    if (!sqlite)
        return std::nullopt;
    if (!m_countingChanges) {
        sqlite->countChangesTo({"NFCOMPRA", "CLIENTE"});
        m_countingChanges = true;
    }
    return InvoicesStamp{sqlite->dataVersion(), sqlite->countedChanges()};
}

void SqliteCompraLegalStore::followOwnFlagUpdates(bool on)
{
    auto *sqlite = dynamic_cast<SqliteConnection *>(&db());
    if (!sqlite || !m_countingChanges)
        return;
    // Far more than a list's invoices: a log this long is not worth its memory.
    constexpr qsizetype kMostUpdates = 4 << 20;
    if (on)
        sqlite->logUpdates("NFCOMPRA", "IDNFCOMPRALEG", compralegal::kExported.toString().toUtf8(),
                           kMostUpdates);
    else
        sqlite->stopLoggingUpdates();
}

std::optional<std::vector<FlagUpdate>>
SqliteCompraLegalStore::ownFlagUpdatesSince(const InvoicesStamp &stamp)
{
    auto *sqlite = dynamic_cast<SqliteConnection *>(&db());
    if (!sqlite || !m_countingChanges || sqlite->dataVersion() != stamp.committedElsewhere)
        return std::nullopt;
    const auto logged = sqlite->loggedUpdatesSince(stamp.ownChanges);
    if (!logged)
        return std::nullopt;
    std::vector<FlagUpdate> updates;
    updates.reserve(logged->size());
    for (const SqliteConnection::LoggedUpdate &u : *logged)
        updates.push_back({u.rowId, u.isValue});
    return updates;
}

SqliteCompraLegalStore::PendingFlag SqliteCompraLegalStore::pendingFlag(const QString &company)
{
    // Each step is one seek on IX_NFCOMPRA_EMPRESA_STATUS (company, flag): the smallest flag,
    // then the smallest above the last one seen.
    SqlStatement lowest(db(), "SELECT min(IDNFCOMPRALEG), typeof(min(IDNFCOMPRALEG))"
                              " FROM NFCOMPRA WHERE CDEMPRESA = ?1");
    SqlStatement above(db(), "SELECT min(IDNFCOMPRALEG), typeof(min(IDNFCOMPRALEG))"
                             " FROM NFCOMPRA WHERE CDEMPRESA = ?1 AND IDNFCOMPRALEG > ?2");
    lowest.bind(1, company);
    SqlStatement *q = &lowest;
    PendingFlag found;
    found.kind = PendingFlag::Kind::None;
    while (q->step() && !q->isNull(0)) {
        // Only text compares as the equality would; anything else keeps the general clause.
        if (q->utf8(1) != "text")
            return {};
        const QString flag = q->text(0);
        q->reset();
        if (flag != compralegal::kExported) {
            if (found.kind == PendingFlag::Kind::One)
                return {};
            found = {PendingFlag::Kind::One, flag};
        }
        above.bind(1, company);
        above.bind(2, flag);
        q = &above;
    }
    return found;
}

void SqliteCompraLegalStore::addPendingClause(const InvoiceCriteria &criteria, Query &query)
{
    // `<> 'S'` seeks no index: after a large export every invoice of the period would be read to
    // find the few still pending. A company has few distinct flags, so when at most one besides
    // 'S' is present it becomes an equality on IX_NFCOMPRA_EMPRESA_STATUS.
    const PendingFlag pending =
        criteria.company.isNull() ? PendingFlag{} : pendingFlag(criteria.company);
    if (pending.kind == PendingFlag::Kind::None)
        query.sql += " AND 1 = 0";
    else if (pending.kind == PendingFlag::Kind::One)
        query.where(" AND N.IDNFCOMPRALEG = ?", pending.value);
    else
        query.sql += " AND N.IDNFCOMPRALEG <> 'S'";
}

void SqliteCompraLegalStore::addKeyListClause(const char *key, const QStringList &keys,
                                              Query &query)
{
    const QString json = QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(keys)).toJson(QJsonDocument::Compact));
    query.where(QByteArray(" AND " + QByteArray(key) + " IN (SELECT value FROM json_each(?))"),
                json);
}

std::optional<qint64> PostgresCompraLegalStore::nextInSequence(const QString &sequence)
{
    return takeNumber(db(), sequenceStatement(sequence, "SELECT nextval('SEQ_NRLISTA')",
                                              "SELECT nextval('SEQ_NRSEQARQMAG')"));
}

void PostgresCompraLegalStore::addKeyListClause(const char *key, const QStringList &keys,
                                                Query &query)
{
    // One array literal, its elements quoted and escaped, bound as a single value.
    QString array = QStringLiteral("{");
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QString element = keys.at(i);
        element.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
        array += (i ? QStringLiteral(",\"") : QStringLiteral("\"")) + element + u'"';
    }
    array += u'}';
    query.where(QByteArray(" AND " + QByteArray(key) + " = ANY (CAST(? AS TEXT[]))"), array);
}

std::optional<qint64> FirebirdCompraLegalStore::nextInSequence(const QString &sequence)
{
    return takeNumber(db(), sequenceStatement(sequence,
                                              "SELECT NEXT VALUE FOR SEQ_NRLISTA FROM RDB$DATABASE",
                                              "SELECT NEXT VALUE FOR SEQ_NRSEQARQMAG FROM"
                                              " RDB$DATABASE"));
}

void FirebirdCompraLegalStore::addKeyListClause(const char *key, const QStringList &keys,
                                                Query &query)
{
    if (keys.isEmpty()) {
        query.sql += " AND 1 = 0";
        return;
    }
    query.sql += " AND " + QByteArray(key) + " IN (";
    for (qsizetype i = 0; i < keys.size(); ++i)
        query.where(i ? ", CAST(? AS VARCHAR(20))" : "CAST(? AS VARCHAR(20))", keys.at(i));
    query.sql += ')';
}

QByteArray FirebirdCompraLegalStore::withoutZeros(const char *expression) const
{
    const QByteArray value = qstrcmp(expression, "?") == 0 ? QByteArray("CAST(? AS VARCHAR(20))")
                                                           : QByteArray(expression);
    return "TRIM(LEADING '0' FROM " + value + ')';
}

std::unique_ptr<CompraLegalStore> makeCompraLegalStore(SqlConnection &db)
{
    switch (db.engine()) {
    case DatabaseEngine::PostgreSql:
        return std::make_unique<PostgresCompraLegalStore>(db);
    case DatabaseEngine::Firebird:
        return std::make_unique<FirebirdCompraLegalStore>(db);
    case DatabaseEngine::Sqlite:
        break;
    }
    return std::make_unique<SqliteCompraLegalStore>(db);
}

} // namespace fis
