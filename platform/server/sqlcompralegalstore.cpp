#include "server/sqlcompralegalstore.h"

#include "base/automationdate.h"
#include "contracts/compralegalcontract.h"
#include "server/lineblocks.h"
#include "server/multirowinsert.h"
#include "sqldb/sqldatabase.h"

#include <QHash>
#include <QScopeGuard>
#include <QtEndian>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <span>
#include <thread>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
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

// The stored date (and time) of DTEMISSAO, zone-free: an invalid date where the text is no
// date, midnight where it has no valid time.
void readStoredDateTime(QByteArrayView text, QDate *date, QTime *time)
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
    *date = QDate();
    *time = QTime(0, 0);
    if (text.size() < 10)
        return;
    *date = QDate(digits(0, 4), digits(5, 2), digits(8, 2));
    if (text.size() >= 19) {
        const QTime stored(digits(11, 2), digits(14, 2), digits(17, 2));
        if (stored.isValid())
            *time = stored;
    }
}

// A column's bytes; a null view for NULL, an empty one for an empty text. Only an empty value
// may be NULL, so only that one is asked.
QByteArrayView columnText(const SqlStatement &q, int column)
{
    const QByteArrayView text = q.utf8(column);
    if (!text.isEmpty())
        return text;
    return q.isNull(column) ? QByteArrayView() : QByteArrayView("", 0);
}

// Where the list's query reads the row id, after the invoice's columns.
constexpr int kRowIdColumn = 15;

// A row of the invoice query's columns, viewing the statement's current row.
void readInvoiceRow(const SqlStatement &q, InvoiceRow &row)
{
    row.direction = columnText(q, 0);
    row.exported = isExported(q.utf8(1));
    row.branch = columnText(q, 2);
    row.clientType = columnText(q, 3);
    row.clientNumber = columnText(q, 4);
    row.clientName = columnText(q, 5);
    row.posting = columnText(q, 6);
    readStoredDateTime(q.utf8(7), &row.issuedDate, &row.issuedTime);
    row.number = columnText(q, 8);
    row.value = q.real(9);
    row.operation = columnText(q, 10);
    row.stateRegistration = columnText(q, 11);
    row.municipalRegistration = columnText(q, 12);
    row.series = columnText(q, 13);
    row.client = columnText(q, 14);
}

// The row id the query reads after its columns, where the engine has one.
std::optional<qint64> rowIdOf(const SqlStatement &q, bool withRowId)
{
    if (!withRowId || q.isNull(kRowIdColumn))
        return std::nullopt;
    return q.integer(kRowIdColumn);
}

// A text to order by: its first 16 bytes as two big-endian numbers (zero-filled), which
// decide most comparisons without reading the text.
struct KeyText
{
    explicit KeyText(QByteArrayView bytes)
        : text(bytes)
    {
        char head[16] = {};
        if (!text.isEmpty())
            memcpy(head, text.data(), size_t(std::min<qsizetype>(text.size(), 16)));
        high = qFromBigEndian<quint64>(head);
        low = qFromBigEndian<quint64>(head + 8);
    }

    // SQLite's BINARY collation: the common bytes, then the shorter first.
    int compare(const KeyText &other) const
    {
        if (high != other.high)
            return high < other.high ? -1 : 1;
        if (low != other.low)
            return low < other.low ? -1 : 1;
        if (text.size() <= 16 && other.text.size() <= 16)
            return text.size() < other.text.size() ? -1 : int(text.size() > other.text.size());
        const qsizetype common = std::min(text.size(), other.text.size());
        if (const int c = memcmp(text.data(), other.text.data(), size_t(common)))
            return c;
        return text.size() < other.text.size() ? -1 : int(text.size() > other.text.size());
    }

    QByteArrayView text;
    quint64 high = 0;
    quint64 low = 0;
};

struct SortKey
{
    KeyText date, branch, number, posting;
    int numberLength = 0;
    size_t row = 0;
};

} // namespace

// The buffers findInvoices() keeps between calls: a list read again (after every page of an
// export) reuses the memory the last one took instead of having fresh pages mapped in, which
// cost about as much as reading the rows. Released when they grow past kMaxKeptBytes.
struct InvoiceScratch
{
    static constexpr size_t kMaxKeptBytes = 48u << 20;

    std::vector<char> bytes;
    std::vector<size_t> rows;
    std::vector<SortKey> keys;

    void clear()
    {
        bytes.clear();
        rows.clear();
        keys.clear();
    }
    void releaseIfLarge()
    {
        const size_t kept =
            bytes.capacity() + rows.capacity() * sizeof(size_t) + keys.capacity() * sizeof(SortKey);
        if (kept > kMaxKeptBytes)
            *this = InvoiceScratch();
    }
};

namespace {

// The invoices of one query, kept in as few bytes as their texts take, so that they can be put
// in the list's order here: SQLite's sorter, carrying every column of every row, took longer
// than reading the rows. Each row is its value, its exported flag, its client (an index into
// the clients read), then the other columns as a 16-bit length (kNullText for NULL) each, then
// their bytes.
//
// The query reads no client: each client is read once, by its key, as the LEFT JOIN on
// CLIENTE's primary key would give it (nothing where it is missing); a list names far fewer
// clients than invoices, and the join cost two lookups a row.
class CollectedInvoices
{
public:
    // The columns kept as texts, in the query's numbering.
    static constexpr int kTextColumns[] = {0, 2, 6, 7, 8, 10, 11, 12, 13, 14};
    static constexpr int kTexts = int(std::size(kTextColumns));
    static constexpr quint16 kNullText = 0xffff;
    // A row's bytes before its texts: value, row id, flags, client, the texts' lengths.
    static constexpr size_t kHead =
        sizeof(double) + sizeof(qint64) + 1 + sizeof(quint32) + kTexts * sizeof(quint16);
    static constexpr char kExportedBit = 1, kRowIdBit = 2;
    // Where the columns are among them.
    static constexpr int kDirection = 0, kBranch = 1, kPosting = 2, kDate = 3, kNumber = 4,
                         kOperation = 5, kStateRegistration = 6, kMunicipalRegistration = 7,
                         kSeries = 8, kClient = 9;

    CollectedInvoices(SqlConnection &db, InvoiceScratch &scratch, bool withRowId)
        : m_withRowId(withRowId)
        , m_bytes(scratch.bytes)
        , m_rows(scratch.rows)
        , m_keys(scratch.keys)
        , m_client(db, "SELECT IDTPIJURCLIE, NRINSJURCLIE, NMRAZSOCCLIE FROM CLIENTE"
                       " WHERE CDCLIENTE = ?1")
    {
        scratch.clear();
    }

    // False for a row that this cannot order as SQLite would: a text too long for its 16-bit
    // length, or an issue date that the column's numeric affinity may have stored as a number,
    // which SQLite orders before every text. (The other keys are VARCHAR columns, whose text
    // affinity stores every number as text.)
    bool add(const SqlStatement &q)
    {
        if (mayBeNumber(q.utf8(7)))
            return false;
        const size_t start = m_bytes.size();
        QByteArrayView texts[kTexts];
        size_t size = kHead;
        for (int i = 0; i < kTexts; ++i) {
            texts[i] = columnText(q, kTextColumns[i]);
            if (texts[i].size() >= kNullText)
                return false;
            size += size_t(texts[i].size());
        }
        const quint32 client = clientIndex(texts[kClient]);
        m_clientBytes += m_clients[client].bytes;
        m_bytes.resize(start + size);
        char *p = m_bytes.data() + start;
        const double value = q.real(9);
        memcpy(p, &value, sizeof value);
        p += sizeof value;
        const std::optional<qint64> rowId = rowIdOf(q, m_withRowId);
        const qint64 id = rowId.value_or(0);
        memcpy(p, &id, sizeof id);
        p += sizeof id;
        *p++ = char((isExported(q.utf8(1)) ? kExportedBit : 0) | (rowId ? kRowIdBit : 0));
        memcpy(p, &client, sizeof client);
        p += sizeof client;
        for (const QByteArrayView &text : texts) {
            const quint16 length = text.data() ? quint16(text.size()) : kNullText;
            memcpy(p, &length, sizeof length);
            p += sizeof length;
        }
        for (const QByteArrayView &text : texts) {
            if (!text.isEmpty())
                memcpy(p, text.data(), size_t(text.size()));
            p += text.size();
        }
        m_rows.push_back(start);
        return true;
    }

    // In the order of the list's ORDER BY: issue date, branch, the number without leading zeros
    // by its length then its text, posting; texts compared as SQLite's BINARY collation does.
    // Branch and posting are the primary key, so no two rows compare equal.
    void sort()
    {
        const auto keyOf = [&](size_t row) {
            const Row r = unpack(row);
            QByteArrayView number = r.texts[kNumber];
            while (!number.isEmpty() && number.front() == '0')
                number = number.sliced(1);
            return SortKey{KeyText(r.texts[kDate]),    KeyText(r.texts[kBranch]), KeyText(number),
                           KeyText(r.texts[kPosting]), sqliteLength(number),      row};
        };
        const auto afterDate = [](const SortKey &a, const SortKey &b) {
            if (const int c = a.branch.compare(b.branch))
                return c < 0;
            if (a.numberLength != b.numberLength)
                return a.numberLength < b.numberLength;
            if (const int c = a.number.compare(b.number))
                return c < 0;
            return a.posting.compare(b.posting) < 0;
        };
        // The index on the issue date usually hands the rows over in its order: then only the
        // rows of each day are sorted, with keys for that day alone.
        bool byDate = true;
        for (size_t i = 1; i < m_rows.size() && byDate; ++i)
            byDate = KeyText(unpack(m_rows[i - 1]).texts[kDate])
                         .compare(KeyText(unpack(m_rows[i]).texts[kDate])) <= 0;
        if (byDate) {
            for (size_t day = 0; day < m_rows.size();) {
                m_keys.clear();
                m_keys.push_back(keyOf(m_rows[day]));
                size_t next = day + 1;
                for (; next < m_rows.size(); ++next) {
                    SortKey key = keyOf(m_rows[next]);
                    if (key.date.compare(m_keys.front().date) != 0)
                        break;
                    m_keys.push_back(key);
                }
                std::sort(m_keys.begin(), m_keys.end(), afterDate);
                for (size_t i = 0; i < m_keys.size(); ++i)
                    m_rows[day + i] = m_keys[i].row;
                day = next;
            }
            return;
        }
        m_keys.clear();
        for (const size_t row : m_rows)
            m_keys.push_back(keyOf(row));
        std::sort(m_keys.begin(), m_keys.end(), [&](const SortKey &a, const SortKey &b) {
            if (const int c = a.date.compare(b.date))
                return c < 0;
            return afterDate(a, b);
        });
        for (size_t i = 0; i < m_keys.size(); ++i)
            m_rows[i] = m_keys[i].row;
    }

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    // The bytes of the rows' texts, their clients' included.
    qsizetype textBytes() const
    {
        return qsizetype(m_bytes.size() - m_rows.size() * kHead) + m_clientBytes;
    }

    void forEach(const std::function<void(const InvoiceRow &)> &handOver) const
    {
        InvoiceRow invoice;
        for (const size_t row : m_rows) {
            const Row r = unpack(row);
            invoice.value = r.value;
            invoice.exported = r.exported;
            invoice.rowId = r.rowId;
            const QByteArrayView *t = r.texts;
            const Client &client = m_clients[r.client];
            invoice.direction = t[kDirection];
            invoice.branch = t[kBranch];
            invoice.clientType = view(client.type);
            invoice.clientNumber = view(client.number);
            invoice.clientName = view(client.name);
            invoice.posting = t[kPosting];
            readStoredDateTime(t[kDate], &invoice.issuedDate, &invoice.issuedTime);
            invoice.number = t[kNumber];
            invoice.operation = t[kOperation];
            invoice.stateRegistration = t[kStateRegistration];
            invoice.municipalRegistration = t[kMunicipalRegistration];
            invoice.series = t[kSeries];
            invoice.client = t[kClient];
            handOver(invoice);
        }
    }

private:
    struct Row
    {
        double value = 0;
        std::optional<qint64> rowId;
        bool exported = false;
        quint32 client = 0;
        QByteArrayView texts[kTexts];
    };

    // A client's columns; unset where NULL (or where no client has the key).
    struct Client
    {
        std::optional<QByteArray> type, number, name;
        qsizetype bytes = 0; // of the three
    };

    static QByteArrayView view(const std::optional<QByteArray> &text)
    {
        return text ? QByteArrayView(text->constData(), text->size()) : QByteArrayView();
    }

    quint32 clientIndex(QByteArrayView key)
    {
        const QByteArray code = key.toByteArray();
        const auto found = m_clientIndex.constFind(code);
        if (found != m_clientIndex.constEnd())
            return found.value();
        Client client;
        if (key.data()) {
            m_client.bindUtf8(1, key);
            if (m_client.step()) {
                const auto text = [&](int column) -> std::optional<QByteArray> {
                    const QByteArrayView value = columnText(m_client, column);
                    if (!value.data())
                        return std::nullopt;
                    return QByteArray(value.isEmpty() ? "" : value.data(), value.size());
                };
                client = {text(0), text(1), text(2), 0};
                for (const auto *column : {&client.type, &client.number, &client.name})
                    client.bytes += *column ? (*column)->size() : 0;
            }
            m_client.reset();
        }
        m_clients.push_back(std::move(client));
        const quint32 index = quint32(m_clients.size() - 1);
        m_clientIndex.insert(code, index);
        return index;
    }

    Row unpack(size_t offset) const
    {
        Row r;
        const char *p = m_bytes.data() + offset;
        memcpy(&r.value, p, sizeof r.value);
        p += sizeof r.value;
        qint64 id;
        memcpy(&id, p, sizeof id);
        p += sizeof id;
        const char flags = *p++;
        r.exported = (flags & kExportedBit) != 0;
        if (flags & kRowIdBit)
            r.rowId = id;
        memcpy(&r.client, p, sizeof r.client);
        p += sizeof r.client;
        const char *text = p + kTexts * sizeof(quint16);
        for (int i = 0; i < kTexts; ++i) {
            quint16 length;
            memcpy(&length, p + i * sizeof length, sizeof length);
            if (length == kNullText) {
                r.texts[i] = {};
            } else {
                r.texts[i] = QByteArrayView(length ? text : "", length);
                text += length;
            }
        }
        return r;
    }

    // Whether SQLite may have taken the text for a number (spaces, a sign, digits, a point, an
    // exponent): it then stores, and orders, a number.
    static bool mayBeNumber(QByteArrayView text)
    {
        const auto isSpace = [](char c) {
            return c == ' ' || (c >= '\t' && c <= '\r');
        };
        while (!text.isEmpty() && isSpace(text.front()))
            text = text.sliced(1);
        while (!text.isEmpty() && isSpace(text.back()))
            text.chop(1);
        qsizetype i = 0;
        const auto digits = [&] {
            const qsizetype from = i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            return i - from;
        };
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        qsizetype count = digits();
        if (i < text.size() && text[i] == '.') {
            ++i;
            count += digits();
        }
        if (count == 0)
            return false;
        if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            if (i < text.size() && (text[i] == '+' || text[i] == '-'))
                ++i;
            if (digits() == 0)
                return false;
        }
        return i == text.size();
    }

    // SQLite's length() of a text: its characters up to the first NUL, where a byte from 0xc0
    // takes the continuation bytes after it along.
    static int sqliteLength(QByteArrayView text)
    {
        int length = 0;
        const auto *z = reinterpret_cast<const uchar *>(text.data());
        const auto *end = z + text.size();
        while (z < end && *z != 0) {
            const uchar c = *z++;
            ++length;
            if (c >= 0xc0) {
                while (z < end && (*z & 0xc0) == 0x80)
                    ++z;
            }
        }
        return length;
    }

    const bool m_withRowId;
    std::vector<char> &m_bytes;
    std::vector<size_t> &m_rows;
    std::vector<SortKey> &m_keys;
    SqlStatement m_client;
    QHash<QByteArray, quint32> m_clientIndex;
    std::vector<Client> m_clients;
    qsizetype m_clientBytes = 0; // of every row's client
};

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

// What the lookup of a key found: how many invoices, the branch of the last (an index into the
// branches) and its company and registration, interned.
struct LookedUp
{
    int count = 0;
    qsizetype branch = -1;
    const QByteArray *company = nullptr;
    const QByteArray *registration = nullptr;
};

// Each value kept once. A value stays where it is while more are added, so that another thread
// may read those it has been handed.
class Interned
{
public:
    // Nearly always the value before.
    const QByteArray *intern(QByteArrayView value)
    {
        if (m_last && QByteArrayView(*m_last) == value)
            return m_last;
        const QByteArray bytes = value.toByteArray();
        auto it = m_at.constFind(bytes);
        if (it == m_at.cend()) {
            m_values.push_back(bytes);
            it = m_at.insert(bytes, &m_values.back());
        }
        m_last = *it;
        return m_last;
    }

private:
    std::deque<QByteArray> m_values;
    QHash<QByteArray, const QByteArray *> m_at;
    const QByteArray *m_last = nullptr;
};

// CDLISTA is the branch code followed by the posting number.
QByteArrayView postingOf(QByteArrayView keyUtf8, QByteArrayView branchUtf8)
{
    return keyUtf8.sliced(branchUtf8.size());
}

// Branch codes are tried as prefixes, each candidate confirmed by the invoice's primary key
// (`invoice`, kInvoiceOfKey). A prefix of the key's UTF-8 bytes ends where a character does, so
// it is a prefix of its characters too.
LookedUp lookUpKey(SqlStatement &invoice, const QList<QByteArray> &branchesUtf8,
                   QByteArrayView keyUtf8, Interned &interned)
{
    LookedUp found;
    for (qsizetype b = 0; b < branchesUtf8.size(); ++b) {
        const QByteArray &branch = branchesUtf8.at(b);
        if (keyUtf8.size() <= branch.size() || !keyUtf8.startsWith(branch))
            continue;
        invoice.bindUtf8NoCopy(1, branch);
        invoice.bindUtf8NoCopy(2, postingOf(keyUtf8, branch));
        if (invoice.step()) {
            ++found.count;
            found.branch = b;
            found.company = interned.intern(invoice.utf8(0));
            found.registration = interned.intern(invoice.utf8(1));
        }
        invoice.reset();
    }
    return found;
}

// A long marked list's keys looked up on a thread with a connection of its own, while the
// caller's connection puts the invoices found on the list. Both read the same committed state:
// the caller's write transaction holds the write lock and has written nothing the lookups read
// (the branches, the invoices).
class LookupsAlongside
{
public:
    // The keys' bytes must stay valid while this lives.
    LookupsAlongside(const SqlConnection &db, const QList<QByteArray> &branchesUtf8,
                     const std::vector<QByteArrayView> &keys)
        : m_connection(db.openAnother())
        , m_branchesUtf8(branchesUtf8)
        , m_keys(keys)
        , m_looked(std::min(keys.size(), kRing))
        , m_thread([this] { lookUp(); })
    {}

    // Lookups left unawaited stop at their next batch.
    ~LookupsAlongside()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    Q_DISABLE_COPY_MOVE(LookupsAlongside)

    // What the key at `index` found, once it is there; rethrows what stopped the lookups. Keys
    // are taken in order, each once: taking one is done with those before it.
    const LookedUp &at(size_t index)
    {
        if (index % kBatch == 0)
            release(index);
        if (index >= m_ready.load(std::memory_order_acquire))
            waitFor(index);
        return m_looked[index % m_looked.size()];
    }

private:
    // Handed over in batches, so that the caller seldom waits on the lock, through a ring of
    // answers, so that a list of any length takes the same memory.
    static constexpr size_t kBatch = 1024;
    static constexpr size_t kRing = 16 * kBatch;

    void waitFor(size_t index)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ready.load() > index || m_ended; });
        if (m_ready.load() > index)
            return;
        if (m_error)
            std::rethrow_exception(m_error);
        throw DatabaseError(QStringLiteral("A busca das notas marcadas parou na chave %1 de %2.")
                                .arg(index + 1)
                                .arg(m_keys.size()));
    }

    // The answers before `index` are done with: their places in the ring take new ones.
    void release(size_t index)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_taken = index;
        }
        m_changed.notify_all();
    }

    // Waits for the ring to have room for the answers up to `end`; false once stopped.
    bool roomUpTo(size_t end)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return end <= m_taken + m_looked.size() || m_stop; });
        return !m_stop;
    }

    void lookUp() noexcept
    {
        try {
            SqlTransaction snapshot(*m_connection, SqlTransaction::Kind::Read);
            SqlStatement invoice(*m_connection, kInvoiceOfKey);
            const size_t keys = m_keys.size();
            for (size_t i = 0; i < keys; ++i) {
                if (i % kBatch == 0 && !roomUpTo(std::min(i + kBatch, keys)))
                    break;
                m_looked[i % m_looked.size()] =
                    lookUpKey(invoice, m_branchesUtf8, m_keys[i], m_interned);
                if ((i + 1) % kBatch == 0 || i + 1 == keys)
                    publish(i + 1);
            }
        } catch (...) {
            m_error = std::current_exception();
        }
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }

    void publish(size_t ready)
    {
        const std::lock_guard lock(m_mutex);
        m_ready.store(ready, std::memory_order_release);
        m_changed.notify_all();
    }

    const std::unique_ptr<SqlConnection> m_connection;
    const QList<QByteArray> m_branchesUtf8;
    const std::vector<QByteArrayView> &m_keys;
    std::vector<LookedUp> m_looked; // a ring: the answer of key i at i % its size
    Interned m_interned;            // the thread's until it ends
    std::atomic<size_t> m_ready = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_taken = 0;         // under m_mutex: the answers before it are done with
    bool m_stop = false;        // under m_mutex
    bool m_ended = false;       // under m_mutex
    std::exception_ptr m_error; // set before m_ended
    std::thread m_thread;       // last: starts once the rest is there
};

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
    // From this many keys on, SQLite's lookups run alongside; below it a thread and a
    // connection cost more than they save.
    static constexpr size_t kKeysAlongside = 4096;

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
    // On SQLite a long list is looked up on another connection, which leaves this one to write
    // the list's rows as the answers come.
    void lookUpAll(const std::vector<QByteArrayView> &keys) override
    {
        if (m_db.engine() == DatabaseEngine::Sqlite && keys.size() >= kKeysAlongside) {
            m_alongside = std::make_unique<LookupsAlongside>(m_db, m_branchesUtf8, keys);
            m_keysLooked = keys;
            m_nextLooked = 0;
            return;
        }
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
        m_looked.assign(keys.size(), LookedUp{});
        while (q.step()) {
            const qint64 seq = q.integer(0);
            if (seq < 1 || seq > qint64(keys.size()))
                throw DatabaseError(QStringLiteral("A busca das notas marcadas devolveu a "
                                                   "chave %1 de %2.")
                                        .arg(seq)
                                        .arg(keys.size()));
            LookedUp &looked = m_looked[size_t(seq - 1)];
            ++looked.count;
            looked.branch = m_branchesUtf8.indexOf(q.utf8(1).toByteArray());
            looked.company = m_interned.intern(q.utf8(2));
            looked.registration = m_interned.intern(q.utf8(3));
        }
        m_keysLooked = keys;
        m_nextLooked = 0;
    }

    FoundInvoices find(QByteArrayView key) override
    {
        m_keyUtf8 = key;
        if (m_nextLooked < m_keysLooked.size() && m_keysLooked[m_nextLooked].data() == key.data())
            return foundOf(m_alongside ? m_alongside->at(m_nextLooked++)
                                       : m_looked[m_nextLooked++]);
        return foundOf(lookUpKey(m_invoice, m_branchesUtf8, key, m_interned));
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
    FoundInvoices foundOf(const LookedUp &looked)
    {
        FoundInvoices found;
        found.count = looked.count;
        if (looked.count > 0) {
            m_branch = looked.branch;
            m_company.set(looked.company);
            m_registration.set(looked.registration);
            found.company = m_company.text;
            found.registration = m_registration.text;
        }
        return found;
    }
    // An interned value as a QString, converted only when it is not the one before, and its
    // UTF-8 to bind.
    struct Read
    {
        const QByteArray *interned = nullptr;
        QString text;
        QByteArray utf8;
        void set(const QByteArray *value)
        {
            if (value == interned)
                return;
            interned = value;
            text = QString::fromUtf8(*value);
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

    QByteArrayView postingOf(QByteArrayView keyUtf8, qsizetype branch) const
    {
        return fis::postingOf(keyUtf8, m_branchesUtf8.at(branch));
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
    std::span<const QByteArrayView> m_keysLooked;
    std::vector<LookedUp> m_looked;
    std::unique_ptr<LookupsAlongside> m_alongside;
    size_t m_nextLooked = 0;
    Interned m_interned;
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

SqlCompraLegalStore::~SqlCompraLegalStore() = default;

std::unique_ptr<StoreTransaction> SqlCompraLegalStore::begin(TransactionKind kind)
{
    return std::make_unique<SqlStoreTransaction>(m_db, kind);
}

SqlCompraLegalStore::Query SqlCompraLegalStore::invoiceQuery(const InvoiceCriteria &c, bool ordered)
{
    // Only the criteria given go into the statement, so that the planner sees the real shape
    // (company and period by their index); every value is bound, none is written into it.
    // Ordered here, the clients are read apart (CollectedInvoices); their columns keep their
    // places.
    const QByteArray rowId = rowIdColumn() ? ", " + QByteArray(rowIdColumn()) : QByteArray();
    Query query{
        ordered
            ? QByteArray("SELECT N.IDENTRSAIDOP, N.IDNFCOMPRALEG, N.CDFILIAL, C.IDTPIJURCLIE,"
                         " C.NRINSJURCLIE, C.NMRAZSOCCLIE, N.NRLANCTONF, N.DTEMISSAO,"
                         " N.NRNOTAFISC, N.VRNOTAFISC, N.CDTIPOOPER, N.CDINSCESTA, N.CDINSCMUNI,"
                         " N.CDSERIE, N.CDCLIENTE" +
                         rowId +
                         " FROM NFCOMPRA N LEFT JOIN CLIENTE C ON C.CDCLIENTE ="
                         " N.CDCLIENTE WHERE 1 = 1")
            : QByteArray("SELECT N.IDENTRSAIDOP, N.IDNFCOMPRALEG, N.CDFILIAL, NULL, NULL, NULL,"
                         " N.NRLANCTONF, N.DTEMISSAO, N.NRNOTAFISC, N.VRNOTAFISC, N.CDTIPOOPER,"
                         " N.CDINSCESTA, N.CDINSCMUNI, N.CDSERIE, N.CDCLIENTE" +
                         rowId + " FROM NFCOMPRA N WHERE 1 = 1"),
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
    if (!ordered)
        return query;
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

void SqlCompraLegalStore::findInvoices(
    const InvoiceCriteria &criteria, const std::function<void(const InvoiceRow &)> &row,
    const std::function<void(qsizetype rows, qsizetype bytes)> &expected)
{
    const auto run = [&](const Query &query) {
        auto q = std::make_unique<SqlStatement>(m_db, query.sql.constData());
        int i = 0;
        for (const QString &value : query.binds)
            q->bind(++i, value);
        if (query.minimum)
            q->bind(++i, *query.minimum);
        return q;
    };
    if (ordersInvoicesItself()) {
        // Rows read in the index's order and put in order here. A row this cannot order as
        // SQLite would (below) has the statement order them all.
        if (!m_scratch)
            m_scratch = std::make_unique<InvoiceScratch>();
        const auto release = qScopeGuard([this] { m_scratch->releaseIfLarge(); });
        CollectedInvoices collected(m_db, *m_scratch, rowIdColumn() != nullptr);
        const std::unique_ptr<SqlStatement> q = run(invoiceQuery(criteria, false));
        bool ordersHere = true;
        while (ordersHere && q->step())
            ordersHere = collected.add(*q);
        if (ordersHere) {
            collected.sort();
            if (expected)
                expected(collected.rowCount(), collected.textBytes());
            collected.forEach(row);
            return;
        }
    }
    const std::unique_ptr<SqlStatement> q = run(invoiceQuery(criteria, true));
    InvoiceRow invoice;
    while (q->step()) {
        readInvoiceRow(*q, invoice);
        invoice.rowId = rowIdOf(*q, rowIdColumn() != nullptr);
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
