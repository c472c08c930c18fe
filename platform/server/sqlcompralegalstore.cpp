#include "server/sqlcompralegalstore.h"

#include "base/automationdate.h"
#include "contracts/compralegalcontract.h"
#include "server/lineblocks.h"
#include "server/multirowinsert.h"
#include "sqldb/sqldatabase.h"

#include <QHash>

#include <vector>

namespace fis {

namespace {

class SqlStoreTransaction final : public StoreTransaction
{
public:
    SqlStoreTransaction(SqlConnection &db, TransactionKind kind)
        : m_tx(db, kind == TransactionKind::Write ? SqlTransaction::Kind::Write
                                                  : SqlTransaction::Kind::Read)
    {}
    void commit() override { m_tx.commit(); }

private:
    SqlTransaction m_tx;
};

QString isoDay(const QDate &date)
{
    return date.toString(Qt::ISODate);
}

// IDNFCOMPRALEG as stored.
bool isExported(QByteArrayView flag)
{
    return QLatin1StringView(flag) == compralegal::kExported;
}

// The stored date (and time) of DTEMISSAO as the packet's zone-free date-time.
QDateTime storedDateTime(QByteArrayView text)
{
    const auto digits = [&](int from, int count) {
        int n = 0;
        for (int i = from; i < from + count; ++i) {
            const char c = text.at(i);
            if (c < '0' || c > '9')
                return -1;
            n = n * 10 + (c - '0');
        }
        return n;
    };
    if (text.size() < 10)
        return {};
    const QDate date(digits(0, 4), digits(5, 2), digits(8, 2));
    QTime time(0, 0);
    if (text.size() >= 19)
        time = QTime(digits(11, 2), digits(14, 2), digits(17, 2));
    return wallClockDateTime(date, time.isValid() ? time : QTime(0, 0));
}

std::optional<QString> optionalText(const SqlStatement &q, int column)
{
    if (q.isNull(column))
        return std::nullopt;
    return q.text(column);
}

// A row of the invoice query's columns.
void readInvoiceRow(const SqlStatement &q, InvoiceRow &row)
{
    row.direction = q.text(0);
    row.exported = isExported(q.utf8(1));
    row.branch = q.text(2);
    row.clientType = q.text(3);
    row.clientNumber = q.text(4);
    row.clientName = q.text(5);
    row.posting = q.text(6);
    row.issued = storedDateTime(q.utf8(7));
    row.number = q.text(8);
    row.value = q.real(9);
    row.operation = optionalText(q, 10);
    row.stateRegistration = optionalText(q, 11);
    row.municipalRegistration = optionalText(q, 12);
    row.series = optionalText(q, 13);
    row.client = optionalText(q, 14);
}

constexpr char kFileColumns[] = "SELECT A.NRSEQARQMAG, A.NRLISTA, A.CDEMPRESA, A.CDINSCESTA,"
                                " A.NOMEARQUIVO, A.NRTOTREGISTROS, A.IDSERVIDO, L.CDSESSAO,"
                                " L.IDSITUACAO FROM ARQCOMPRALEG A JOIN LISTACOMPRALEG L"
                                " ON L.NRLISTA = A.NRLISTA";

// The first row of a query on kFileColumns, stepped here.
std::optional<ListFile> readListFile(SqlStatement &q)
{
    if (!q.step())
        return std::nullopt;
    ListFile file;
    file.fileNumber = q.text(0);
    file.listNumber = q.text(1);
    file.company = q.text(2);
    file.stateRegistration = q.text(3);
    file.namePart = q.text(4);
    file.lineCount = q.isNull(5) ? -1 : q.integer(5);
    file.served = q.text(6);
    file.owner = q.text(7);
    file.listState = q.text(8);
    return file;
}

// The number of the invoice (branch, posting) on a list other than `list`; unset when none is.
std::optional<QString> numberOnAnotherList(SqlConnection &db, const QString &list,
                                           QByteArrayView branch, QByteArrayView posting)
{
    SqlStatement q(db, "SELECT N.NRNOTAFISC FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                       " ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF"
                       " WHERE L.CDFILIAL = ?1 AND L.NRLANCTONF = ?2 AND L.NRLISTA <> ?3");
    q.bindUtf8(1, branch);
    q.bindUtf8(2, posting);
    q.bind(3, list);
    if (!q.step())
        return std::nullopt;
    return q.text(0);
}

constexpr char kInvoiceOfKey[] = "SELECT CDEMPRESA, CDINSCESTA FROM NFCOMPRA"
                                 " WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2";
// Firebird refuses a parameter longer than the column it is compared with, and a branch code
// that begins another's leaves a longer posting to try: cast, it is a mere mismatch.
constexpr char kInvoiceOfKeyFirebird[] = "SELECT CDEMPRESA, CDINSCESTA FROM NFCOMPRA"
                                         " WHERE CDFILIAL = CAST(?1 AS VARCHAR(50))"
                                         " AND NRLANCTONF = CAST(?2 AS VARCHAR(50))";

// A list may hold hundreds of thousands of keys: each is converted to UTF-8 once and bound as
// views of that, and the invoice's company and registration, nearly always the same as the row
// before, are converted only when their bytes change.
class SqliteListFiller final : public ListFiller
{
public:
    // The marked invoices go in 100 rows per INSERT on SQLite; the server engines' bulk path
    // takes far more at a time, each batch costing round trips.
    static constexpr int kRowsPerInsert = 100;
    static constexpr int kRowsPerBulkWrite = 10000;

    SqliteListFiller(SqlConnection &db, const QString &list)
        : m_db(db)
        , m_list(list)
        , m_listUtf8(list.toUtf8())
        , m_branchesUtf8(readBranches(db))
        , m_invoice(db, sqlFor(db, {kInvoiceOfKey, kInvoiceOfKey, kInvoiceOfKeyFirebird}))
    {
        // SQLite takes many rows per INSERT; the server engines their bulk path (PostgreSQL's
        // COPY, Firebird's blocks of inserts), which knows no multi-row VALUES.
        if (db.engine() == DatabaseEngine::Sqlite)
            m_insert = std::make_unique<MultiRowInsert>(
                db,
                "INSERT INTO LISTACOMPRALEGNF (NRLISTA, CDLISTA, CDINSCESTA, CDFILIAL,"
                " NRLANCTONF)",
                QList<int>{1, 0, 0, 0, 0}, kRowsPerInsert);
        m_batchRows = m_insert ? kRowsPerInsert : kRowsPerBulkWrite;
        m_batch.reserve(size_t(m_batchRows));
    }

    // On PostgreSQL a lookup per key is a round trip per key, most of the call for a long list:
    // there all keys go in one statement, as one text array, and find() takes the answers in
    // the keys' order. The statement tries every branch as a prefix as find() does.
    void lookUpAll(const std::vector<QByteArrayView> &keys) override
    {
        if (m_db.engine() != DatabaseEngine::PostgreSql)
            return;
        QByteArray array;
        array.reserve(qsizetype(keys.size()) * 16 + 2);
        array += '{';
        for (const QByteArrayView key : keys) {
            if (array.size() > 1)
                array += ',';
            array += '"';
            for (const char c : key) {
                if (c == '"' || c == '\\')
                    array += '\\';
                array += c;
            }
            array += '"';
        }
        array += '}';
        SqlStatement q(m_db, "SELECT K.SEQ, F.CDFILIAL, N.CDEMPRESA, N.CDINSCESTA"
                             " FROM unnest(CAST(?1 AS TEXT[])) WITH ORDINALITY AS K (CHAVE, SEQ)"
                             " JOIN FILIAL F ON char_length(K.CHAVE) > char_length(F.CDFILIAL)"
                             " AND left(K.CHAVE, char_length(F.CDFILIAL)) = F.CDFILIAL"
                             " JOIN NFCOMPRA N ON N.CDFILIAL = F.CDFILIAL AND N.NRLANCTONF ="
                             " substr(K.CHAVE, char_length(F.CDFILIAL) + 1) ORDER BY K.SEQ");
        q.bindUtf8NoCopy(1, array);
        m_looked.assign(keys.size(), Looked{});
        while (q.step()) {
            const qint64 seq = q.integer(0);
            if (seq < 1 || seq > qint64(keys.size()))
                throw DatabaseError(QStringLiteral("A busca das notas marcadas devolveu a "
                                                   "chave %1 de %2.")
                                        .arg(seq)
                                        .arg(keys.size()));
            Looked &looked = m_looked[size_t(seq - 1)];
            ++looked.count;
            looked.branch = m_branchesUtf8.indexOf(q.utf8(1).toByteArray());
            looked.company = intern(q.utf8(2));
            looked.registration = intern(q.utf8(3));
        }
        m_keysLooked = keys.data();
        m_nextLooked = 0;
    }

    // Branch codes are tried as prefixes, each candidate confirmed by the invoice's primary key.
    // A prefix of the key's UTF-8 bytes ends where a character does, so it is a prefix of its
    // characters too.
    FoundInvoices find(QByteArrayView key) override
    {
        m_keyUtf8 = key;
        FoundInvoices found;
        if (m_keysLooked && m_nextLooked < m_looked.size() &&
            m_keysLooked[m_nextLooked].data() == key.data())
            return lookedUp(m_looked[m_nextLooked++]);
        for (qsizetype b = 0; b < m_branchesUtf8.size(); ++b) {
            const QByteArray &branch = m_branchesUtf8.at(b);
            if (key.size() <= branch.size() || !key.startsWith(branch))
                continue;
            m_invoice.bindUtf8NoCopy(1, m_branchesUtf8.at(b));
            m_invoice.bindUtf8NoCopy(2, postingOf(m_keyUtf8, b));
            if (m_invoice.step()) {
                ++found.count;
                m_branch = b;
                m_company.set(m_invoice.utf8(0));
                m_registration.set(m_invoice.utf8(1));
            }
            m_invoice.reset();
        }
        if (found.count > 0) {
            found.company = m_company.text;
            found.registration = m_registration.text;
        }
        return found;
    }

    void addFound() override
    {
        m_batch.push_back({m_keyUtf8, m_registration.utf8, m_branch});
        if (m_batch.size() == size_t(m_batchRows))
            flush();
    }

    void finish() override { flush(); }

private:
    struct Marked
    {
        QByteArrayView key;
        QByteArray registration;
        qsizetype branch;
    };
    // What lookUpAll() found for a key: company and registration as indexes into m_interned.
    struct Looked
    {
        int count = 0;
        qsizetype branch = -1;
        int company = -1;
        int registration = -1;
    };

    int intern(QByteArrayView value)
    {
        const QByteArray bytes = value.toByteArray();
        const auto it = m_internedAt.constFind(bytes);
        if (it != m_internedAt.cend())
            return *it;
        m_interned.append(bytes);
        m_internedAt.insert(bytes, int(m_interned.size() - 1));
        return int(m_interned.size() - 1);
    }

    FoundInvoices lookedUp(const Looked &looked)
    {
        FoundInvoices found;
        found.count = looked.count;
        if (looked.count > 0) {
            m_branch = looked.branch;
            m_company.set(m_interned.at(looked.company));
            m_registration.set(m_interned.at(looked.registration));
            found.company = m_company.text;
            found.registration = m_registration.text;
        }
        return found;
    }
    // A value read back as the QString it was before, and its UTF-8 to bind.
    struct Read
    {
        QByteArray raw;
        QString text;
        QByteArray utf8;
        void set(QByteArrayView bytes)
        {
            if (!text.isNull() && raw == bytes)
                return;
            raw = bytes.toByteArray();
            text = QString::fromUtf8(bytes);
            utf8 = text.toUtf8();
        }
    };

    // As UTF-8, the form the keys come in.
    static QList<QByteArray> readBranches(SqlConnection &db)
    {
        SqlStatement q(db, "SELECT CDFILIAL FROM FILIAL");
        QList<QByteArray> branches;
        while (q.step())
            branches.append(q.text(0).toUtf8());
        return branches;
    }

    // CDLISTA is the branch code followed by the posting number.
    QByteArrayView postingOf(QByteArrayView keyUtf8, qsizetype branch) const
    {
        return keyUtf8.sliced(m_branchesUtf8.at(branch).size());
    }

    void flush()
    {
        if (m_batch.empty())
            return;
        try {
            if (m_insert)
                m_insert->insert(int(m_batch.size()),
                                 [this](SqlStatement &insert, int first, int rows) {
                                     bind(insert, first, rows);
                                 });
            else
                write();
        } catch (const DatabaseError &e) {
            // The unique index refused an invoice that another unfinished list holds.
            if (!e.isUniqueViolation())
                throw;
            for (const Marked &m : m_batch) {
                const QByteArrayView branch = m_branchesUtf8.at(m.branch);
                const QByteArrayView posting = postingOf(m.key, m.branch);
                if (const auto number = numberOnAnotherList(m_db, m_list, branch, posting))
                    throw InvoiceTakenError(*number, QString::fromUtf8(branch),
                                            QString::fromUtf8(posting));
            }
            throw;
        }
        m_batch.clear();
    }

    void write()
    {
        const auto rows = m_db.insertRows(
            "LISTACOMPRALEGNF", {"NRLISTA", "CDLISTA", "CDINSCESTA", "CDFILIAL", "NRLANCTONF"});
        for (const Marked &m : m_batch) {
            rows->addText(m_listUtf8);
            rows->addText(m.key);
            rows->addText(m.registration);
            rows->addText(m_branchesUtf8.at(m.branch));
            rows->addText(postingOf(m.key, m.branch));
            rows->endRow();
        }
        rows->finish();
    }

    void bind(SqlStatement &insert, int first, int rows) const
    {
        insert.bindUtf8NoCopy(1, m_listUtf8);
        for (int r = 0; r < rows; ++r) {
            const Marked &m = m_batch[size_t(first + r)];
            insert.bindUtf8NoCopy(m_insert->parameter(r, 0), m.key);
            insert.bindUtf8NoCopy(m_insert->parameter(r, 1), m.registration);
            insert.bindUtf8NoCopy(m_insert->parameter(r, 2), m_branchesUtf8.at(m.branch));
            insert.bindUtf8NoCopy(m_insert->parameter(r, 3), postingOf(m.key, m.branch));
        }
    }

    SqlConnection &m_db;
    const QString m_list;
    const QByteArray m_listUtf8;
    const QList<QByteArray> m_branchesUtf8;
    SqlStatement m_invoice;
    std::unique_ptr<MultiRowInsert> m_insert; // SQLite only
    int m_batchRows = kRowsPerInsert;
    std::vector<Marked> m_batch;
    // lookUpAll()'s answers, in the keys' order, and the next one find() takes.
    const QByteArrayView *m_keysLooked = nullptr;
    std::vector<Looked> m_looked;
    size_t m_nextLooked = 0;
    QList<QByteArray> m_interned;
    QHash<QByteArray, int> m_internedAt;
    // What the last find() found.
    QByteArrayView m_keyUtf8;
    qsizetype m_branch = -1;
    Read m_company;
    Read m_registration;
};

} // namespace

SqlCompraLegalStore::SqlCompraLegalStore(SqlConnection &db)
    : m_db(db)
{}

std::unique_ptr<StoreTransaction> SqlCompraLegalStore::begin(TransactionKind kind)
{
    return std::make_unique<SqlStoreTransaction>(m_db, kind);
}

SqlCompraLegalStore::Query SqlCompraLegalStore::invoiceQuery(const InvoiceCriteria &c)
{
    // Only the criteria given go into the statement, so that the planner sees the real shape
    // (company and period by their index); every value is bound, none is written into it.
    Query query{"SELECT N.IDENTRSAIDOP, N.IDNFCOMPRALEG, N.CDFILIAL, C.IDTPIJURCLIE,"
                " C.NRINSJURCLIE, C.NMRAZSOCCLIE, N.NRLANCTONF, N.DTEMISSAO, N.NRNOTAFISC,"
                " N.VRNOTAFISC, N.CDTIPOOPER, N.CDINSCESTA, N.CDINSCMUNI, N.CDSERIE,"
                " N.CDCLIENTE"
                " FROM NFCOMPRA N LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"
                " WHERE 1 = 1",
                {},
                c.minimum};
    if (!c.company.isNull())
        query.where(" AND N.CDEMPRESA = ?", c.company);
    if (!c.number.isNull()) // typed numbers may come zero-filled to the branch's width
        query.where(QByteArray(" AND " + withoutZeros("N.NRNOTAFISC") + " = " + withoutZeros("?")),
                    c.number);
    if (!c.client.isNull())
        query.where(" AND N.CDCLIENTE IN (SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ?)",
                    c.client);
    if (!c.branch.isNull())
        query.where(" AND N.CDFILIAL = ?", c.branch);
    if (!c.stateRegistration.isNull())
        query.where(" AND N.CDINSCESTA = ?", c.stateRegistration);
    if (!c.municipalRegistration.isNull())
        query.where(" AND N.CDINSCMUNI = ?", c.municipalRegistration);
    if (c.series)
        addKeyListClause("N.IDENTRSAIDOP || N.CDSERIE", *c.series, query);
    if (c.operations)
        addKeyListClause("N.IDENTRSAIDOP || N.CDTIPOOPER", *c.operations, query);
    if (c.start.isValid())
        query.where(" AND N.DTEMISSAO >= ?", isoDay(c.start));
    if (c.end.isValid()) // the whole end day, also for values stored with a time
        query.where(" AND N.DTEMISSAO < ?", isoDay(c.end.addDays(1)));
    addStatusClause(c, query);
    if (c.minimum)
        query.sql += " AND N.VRNOTAFISC >= ?";
    const QByteArray number = withoutZeros("N.NRNOTAFISC");
    query.sql += " ORDER BY N.DTEMISSAO, N.CDFILIAL, " + QByteArray(lengthFunction()) + '(' +
                 number + "), " + number + ", N.NRLANCTONF";
    return query;
}

// The exported flag's clause.
void SqlCompraLegalStore::addStatusClause(const InvoiceCriteria &criteria, Query &query)
{
    if (criteria.status == InvoiceStatus::Pending)
        addPendingClause(criteria, query);
    else if (criteria.status == InvoiceStatus::Exported)
        query.sql += " AND N.IDNFCOMPRALEG = 'S'";
}

void SqlCompraLegalStore::addPendingClause(const InvoiceCriteria &, Query &query)
{
    query.sql += " AND N.IDNFCOMPRALEG <> 'S'";
}

QByteArray SqlCompraLegalStore::withoutZeros(const char *expression) const
{
    return "ltrim(" + QByteArray(expression) + ", '0')";
}

void SqlCompraLegalStore::findInvoices(const InvoiceCriteria &criteria,
                                       const std::function<void(const InvoiceRow &)> &row)
{
    const Query query = invoiceQuery(criteria);
    SqlStatement q(m_db, query.sql.constData());
    int i = 0;
    for (const QString &value : query.binds)
        q.bind(++i, value);
    if (query.minimum)
        q.bind(++i, *query.minimum);
    InvoiceRow invoice;
    while (q.step()) {
        readInvoiceRow(q, invoice);
        row(invoice);
    }
}

bool SqlCompraLegalStore::taxExists(const QString &tax)
{
    SqlStatement taxes(m_db, "SELECT 1 FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?1");
    taxes.bind(1, tax);
    const bool found = taxes.step();
    taxes.reset();
    return found;
}

QString SqlCompraLegalStore::stateOfRegistration(const QString &company,
                                                 const QString &registration)
{
    SqlStatement state(m_db, "SELECT SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = ?1 AND"
                             " CDINSCESTA = ?2");
    state.bind(1, company);
    state.bind(2, registration);
    return state.step() ? state.text(0) : QString();
}

std::optional<exportlists::OwnedList> SqlCompraLegalStore::ownedList(const QString &list,
                                                                     const QString &session)
{
    return exportlists::findOwned(m_db, list, session);
}

void SqlCompraLegalStore::touchList(const QString &list, const QString &server)
{
    exportlists::touch(m_db, list, server);
}

exportlists::Outcome SqlCompraLegalStore::closeSession(const QString &session)
{
    return exportlists::closeSession(m_db, session);
}

void SqlCompraLegalStore::addList(const QString &list, const QString &session,
                                  const QString &server)
{
    SqlStatement add(m_db, "INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, CDSESSAO,"
                           " IDSITUACAO, DTATIVIDADE, CDSERVIDOR) VALUES (?1, ?2, ?3, 'A', ?4,"
                           " ?5)");
    add.bind(1, list);
    add.bind(2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    add.bind(3, session);
    add.bind(4, exportlists::now());
    add.bind(5, server);
    add.execute();
}

void SqlCompraLegalStore::revertList(const QString &list)
{
    exportlists::revert(m_db, list);
}

bool SqlCompraLegalStore::listHasFiles(const QString &list)
{
    SqlStatement q(m_db, "SELECT 1 FROM ARQCOMPRALEG WHERE NRLISTA = ?1");
    q.bind(1, list);
    return q.step();
}

std::unique_ptr<ListFiller> SqlCompraLegalStore::fillList(const QString &list)
{
    return std::make_unique<SqliteListFiller>(m_db, list);
}

void SqlCompraLegalStore::addFile(const NewListFile &file)
{
    SqlStatement add(m_db, "INSERT INTO ARQCOMPRALEG (NRSEQARQMAG, NRLISTA, CDEMPRESA,"
                           " CDINSCESTA, SGESTADO, NOMEARQUIVO, NRTOTREGISTROS, IDSERVIDO,"
                           " DTGERACAO) VALUES (?1, ?2, ?3, ?4, ?5, ?6, NULL, 'N', NULL)");
    add.bind(1, file.fileNumber);
    add.bind(2, file.listNumber);
    add.bind(3, file.company);
    add.bind(4, file.stateRegistration);
    add.bind(5, file.state);
    add.bind(6, file.namePart);
    add.execute();
}

std::optional<ListFile> SqlCompraLegalStore::fileOfRegistration(const QString &list,
                                                                const QString &registration)
{
    SqlStatement q(
        m_db, QByteArray(QByteArray(kFileColumns) + " WHERE A.NRLISTA = ?1 AND A.CDINSCESTA = ?2")
                  .constData());
    q.bind(1, list);
    q.bind(2, registration);
    return readListFile(q);
}

std::optional<ListFile> SqlCompraLegalStore::file(const QString &fileNumber)
{
    SqlStatement q(m_db,
                   QByteArray(QByteArray(kFileColumns) + " WHERE A.NRSEQARQMAG = ?1").constData());
    q.bind(1, fileNumber);
    return readListFile(q);
}

void SqlCompraLegalStore::markOtherFilesDelivered(const QString &list, const QString &fileNumber)
{
    SqlStatement delivered(m_db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'E'"
                                 " WHERE NRLISTA = ?1 AND IDSERVIDO = 'S'"
                                 " AND NRSEQARQMAG <> ?2");
    delivered.bind(1, list);
    delivered.bind(2, fileNumber);
    delivered.execute();
}

qint64 SqlCompraLegalStore::buildFile(const ExportFile &file)
{
    return generateExportFile(m_db, file);
}

void SqlCompraLegalStore::readLines(const QString &fileNumber, qint64 from, qint64 to,
                                    const StoredLineSink &line)
{
    lineblocks::read(m_db, fileNumber, from, to, line);
}

void SqlCompraLegalStore::markFileServed(const QString &fileNumber, const QString &list)
{
    SqlStatement served(m_db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'S'"
                              " WHERE NRSEQARQMAG = ?1");
    served.bind(1, fileNumber);
    served.execute();
    SqlStatement delivered(m_db, "UPDATE LISTACOMPRALEG SET IDSITUACAO = 'E'"
                                 " WHERE NRLISTA = ?1 AND NOT EXISTS (SELECT 1 FROM"
                                 " ARQCOMPRALEG WHERE NRLISTA = ?1"
                                 " AND IDSERVIDO = 'N')");
    delivered.bind(1, list);
    delivered.execute();
}

} // namespace fis
