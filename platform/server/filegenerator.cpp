#include "server/filegenerator.h"

#include "layout/filelayoutbuilder.h"
#include "layout/layouterror.h"
#include "server/fileorderkey.h"
#include "server/lineblocks.h"
#include "server/sqliterows.h"
#include "sqldb/sqldatabase.h"
#include "sqldb/sqliteconnection.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace fis {

namespace {

// The ORDER BY that puts invoices in the order the file layout requires (kFileOrderExpressions).
// The server engines keep DTEMISSAO as a DATE.
constexpr EngineSql kInvoiceOrder = {
    kFileOrderExpressions,
    " ORDER BY N.DTEMISSAO, length(ltrim(trim(N.NRNOTAFISC), '0')),"
    " ltrim(trim(N.NRNOTAFISC), '0'),"
    " right('00000000000000' || coalesce(trim(C.NRINSJURCLIE), ''), 14),"
    " CAST(N.CDMODELONF AS INTEGER), upper(coalesce(N.CDSERIE, '')), N.CDFILIAL, N.NRLANCTONF",
    " ORDER BY N.DTEMISSAO, CHAR_LENGTH(TRIM(LEADING '0' FROM TRIM(N.NRNOTAFISC))),"
    " TRIM(LEADING '0' FROM TRIM(N.NRNOTAFISC)),"
    " RIGHT('00000000000000' || COALESCE(TRIM(C.NRINSJURCLIE), ''), 14),"
    " CAST(N.CDMODELONF AS INTEGER), UPPER(COALESCE(N.CDSERIE, '')), N.CDFILIAL, N.NRLANCTONF"};

constexpr char kFileInvoices[] =
    " FROM LISTACOMPRALEGNF L"
    " JOIN NFCOMPRA N ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF"
    " LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE";
constexpr char kOfFile[] = " WHERE L.NRLISTA = ?1 AND L.CDINSCESTA = ?2";

QDate isoDate(QByteArrayView text)
{
    // 'YYYY-MM-DD', possibly followed by a time. The plain form, as every engine keeps it, is
    // read digit by digit: this runs once or twice for every invoice of the file.
    if (text.size() < 10)
        return {};
    const auto digit = [&](int i) {
        return text[i] >= '0' && text[i] <= '9';
    };
    if (digit(0) && digit(1) && digit(2) && digit(3) && text[4] == '-' && digit(5) && digit(6) &&
        text[7] == '-' && digit(8) && digit(9)) {
        const auto at = [&](int i) {
            return text[i] - '0';
        };
        return QDate(at(0) * 1000 + at(1) * 100 + at(2) * 10 + at(3), at(5) * 10 + at(6),
                     at(8) * 10 + at(9));
    }
    return QDate::fromString(QString::fromLatin1(text.first(10)), Qt::ISODate);
}

bool isAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return uchar(c) < 0x80; });
}

// The number in a text, as QString::trimmed() and toLongLong() read it; bytes, for ASCII.
qint64 numberIn(QByteArrayView utf8, bool *ok)
{
    if (!isAscii(utf8))
        return QString::fromUtf8(utf8).trimmed().toLongLong(ok);
    return utf8.trimmed().toLongLong(ok);
}

// Columns shared by the invoice and the item queries, in this order.
constexpr char kKeyColumns[] = "N.CDFILIAL, N.NRLANCTONF, N.NRNOTAFISC, N.DTEMISSAO, "
                               "N.CDMODELONF, N.CDSERIE, C.NRINSJURCLIE";

QString invoiceName(const SqlStatement &row)
{
    return QStringLiteral("nota fiscal %1 (filial %2, lançamento %3)")
        .arg(row.text(2), row.text(0), row.text(1));
}

InvoiceKey readKey(const SqlStatement &row)
{
    InvoiceKey key;
    key.issuerDocument = row.text(6);
    key.issueDate = isoDate(row.utf8(3));
    if (!key.issueDate.isValid())
        throw ExportDataError(QStringLiteral("A %1 tem data de emissão inválida: \"%2\".")
                                  .arg(invoiceName(row), row.text(3)));
    bool ok = false;
    const qint64 model = numberIn(row.utf8(4), &ok);
    if (!ok || model < std::numeric_limits<int>::min() || model > std::numeric_limits<int>::max())
        throw ExportDataError(
            QStringLiteral("A %1 tem modelo inválido: \"%2\".").arg(invoiceName(row), row.text(4)));
    key.model = int(model);
    key.series = row.text(5);
    // Without its leading zeros, at most 18 digits; one zero stays for a number of zeros.
    const QByteArrayView number = row.utf8(2);
    const auto read = [&](auto digits) {
        while (digits.size() > 1 && digits.front() == '0')
            digits = digits.sliced(1);
        key.number = digits.size() <= 18 ? digits.toLongLong(&ok) : 0;
        ok = ok && digits.size() <= 18;
    };
    if (isAscii(number)) {
        read(number.trimmed());
    } else {
        const QString text = QString::fromUtf8(number).trimmed();
        read(QStringView(text));
    }
    if (!ok || key.number < 0)
        throw ExportDataError(QStringLiteral("A %1 tem número que não é numérico: \"%2\".")
                                  .arg(invoiceName(row), QString::fromUtf8(number).trimmed()));
    return key;
}

// `what` names the row in the message; it is only built when the CFOP is wrong.
template<typename Name> int cfopOf(const SqlStatement &row, int column, Name what)
{
    bool ok = false;
    const int cfop = QByteArrayView(row.utf8(column)).trimmed().toInt(&ok);
    if (!ok)
        throw ExportDataError(
            QStringLiteral("%1 tem CFOP inválido: \"%2\".").arg(what(), row.text(column)));
    return cfop;
}

bool isYes(QByteArrayView flag)
{
    return flag == "S";
}

// Lines travel from the thread that builds them to the one that stores them in chunks of this
// many, whole blocks, so that the blocks are stored as slices of the chunk.
constexpr int kChunkLines = 8 * lineblocks::kLinesPerBlock;

// Lines of kRecordLength bytes, back to back, from one of a build's runs of lines.
struct LineChunk
{
    int run = 0;      // 0: the file's builder; 1: the items laid out alongside it
    qint64 first = 0; // its first line's number, where it does not follow the run's last chunk
    QByteArray lines;
};

// The hand-over between the two threads. Bounded, so that a builder faster than the database
// does not pile the file up in memory; roomy enough (some 16 MB) that the builder goes on while
// the storing side marks the invoices, before it stores any line.
class ChunkQueue
{
public:
    static constexpr size_t kMaxChunks = 64;

    // Blocks while the queue is full. False once the consumer has given up.
    bool push(LineChunk &&chunk)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled || m_chunks.size() < kMaxChunks; });
        if (m_cancelled)
            return false;
        m_chunks.push_back(std::move(chunk));
        m_changed.notify_all();
        return true;
    }

    // A chunk if one is there, without waiting.
    bool tryPop(LineChunk &chunk)
    {
        std::lock_guard lock(m_mutex);
        return takeFront(chunk);
    }

    // Blocks until a chunk comes or the producer has finished; false at the end.
    bool pop(LineChunk &chunk)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_chunks.empty() || m_finished; });
        return takeFront(chunk);
    }

    // The producer is done, with the error that stopped it if any.
    void finish(std::exception_ptr error)
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_error = std::move(error);
        m_changed.notify_all();
    }

    void cancel()
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_chunks.clear();
        m_changed.notify_all();
    }

    std::exception_ptr error()
    {
        std::lock_guard lock(m_mutex);
        return m_error;
    }

private:
    // With the lock held: the first chunk, making room for the producer.
    bool takeFront(LineChunk &chunk)
    {
        if (m_chunks.empty())
            return false;
        chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_changed.notify_all();
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<LineChunk> m_chunks;
    bool m_finished = false;
    bool m_cancelled = false;
    std::exception_ptr m_error;
};

// Thrown inside the builder's sink to unwind it when the consumer has given up.
struct BuildCancelled
{};

constexpr qsizetype kChunkBytes = qsizetype(kChunkLines) * kRecordLength;

// Gathers one run's lines into chunks for the queue. Throws BuildCancelled once the storing side
// has given up, or once `stop` is set.
class ChunkFiller
{
public:
    ChunkFiller(ChunkQueue &queue, int run, const std::atomic<bool> *stop = nullptr)
        : m_queue(queue)
        , m_run(run)
        , m_stop(stop)
    {
        renew();
    }

    void add(QByteArrayView line)
    {
        m_chunk.lines.append(line);
        if (m_chunk.lines.size() == kChunkBytes)
            flush();
    }

    // The lines added next are the file's lines from `line` on.
    void continueAt(qint64 line)
    {
        flush();
        m_chunk.first = line;
    }

    void flush()
    {
        if (m_chunk.lines.isEmpty())
            return;
        if ((m_stop && m_stop->load(std::memory_order_relaxed)) ||
            !m_queue.push(std::move(m_chunk)))
            throw BuildCancelled{};
        renew();
    }

private:
    void renew()
    {
        m_chunk = LineChunk{m_run, 0, {}};
        m_chunk.lines.reserve(kChunkBytes);
    }

    ChunkQueue &m_queue;
    const int m_run;
    const std::atomic<bool> *const m_stop;
    LineChunk m_chunk;
};

// The key columns as the ordered table keeps them, in kKeyColumns' order.
constexpr char kOrderedKeyColumns[] = "O.CDFILIAL, O.NRLANCTONF, O.NRNOTAFISC, O.DTEMISSAO,"
                                      " O.CDMODELONF, O.CDSERIE, O.NRINSJURCLIE";

// Record 50 of the invoice row of FileLines::addInvoices()'s statement.
template<typename Name> Invoice readInvoice(const SqlStatement &row, Name what)
{
    Invoice invoice;
    invoice.key = readKey(row);
    invoice.cfop = cfopOf(row, 7, what);
    invoice.issuer = isYes(row.utf8(8)) ? InvoiceIssuer::Own : InvoiceIssuer::ThirdParty;
    invoice.totalValue = row.real(9);
    invoice.icmsBase = row.real(10);
    invoice.icmsValue = row.real(11);
    invoice.exemptValue = row.real(12);
    invoice.otherValue = row.real(13);
    invoice.icmsRate = row.real(14);
    invoice.cancelled = isYes(row.utf8(15));
    invoice.issuerStateRegistration = row.text(16);
    invoice.issuerState = row.text(17);
    return invoice;
}

// Record 54 of the item row of FileLines::addItems()'s statement, all but the invoice's key.
// Sets `text` to the UTF-8 `bytes` unless it holds them already: an item's CST and product often
// repeat from one item to the next, and making a string per item costs more than comparing.
void assignText(QString &text, QByteArrayView bytes)
{
    if (bytes.isNull() != text.isNull() || text.size() != bytes.size()) {
        text = QString::fromUtf8(bytes);
        return;
    }
    const QChar *held = text.constData();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (uchar(bytes[i]) >= 0x80 || held[i].unicode() != uchar(bytes[i])) {
            text = QString::fromUtf8(bytes);
            return;
        }
    }
}

// The item's columns begin at `first`.
template<typename Name> void readItem(const SqlStatement &row, int first, Name what, Item &item)
{
    item.itemNumber = int(row.integer(first));
    item.cfop = cfopOf(row, first + 1, what);
    assignText(item.cst, row.utf8(first + 2));
    assignText(item.productCode, row.utf8(first + 3));
    item.quantity = row.real(first + 4);
    item.productValue = row.real(first + 5);
    item.discount = row.real(first + 6);
    item.icmsBase = row.real(first + 7);
    item.icmsStBase = row.real(first + 8);
    item.ipiValue = row.real(first + 9);
    item.icmsRate = row.real(first + 10);
}

// The ordered table of a file's invoices on SQLite (see FileLines::orderInvoices()).
constexpr char kCreateOrdered[] =
    "CREATE TEMP TABLE ORDEMNFARQ (POS INTEGER PRIMARY KEY, CDFILIAL, NRLANCTONF, NRNOTAFISC,"
    " DTEMISSAO, CDMODELONF, CDSERIE, NRINSJURCLIE, NFROWID, CLIROWID)";
constexpr qint64 kLastPosition = std::numeric_limits<qint64>::max();
// The items an invoice of a file's first half has on average from which its second half's are
// laid out alongside (ItemsAlongside).
constexpr qint64 kItemsAnInvoiceAlongside = 6;

class ItemsAlongside;

// Reads the file's invoices, items and products and builds its lines in order, handing each to
// the filler. Throws ExportDataError for faults in the data, DatabaseError for the database's
// own.
class FileLines
{
public:
    // The file's builder. On SQLite the second half of the items may be laid out alongside,
    // their lines going to `queue` as a run of their own.
    FileLines(SqlConnection &db, const ExportFile &file, ChunkFiller &filler, ChunkQueue &queue)
        : m_db(db)
        , m_file(file)
        , m_filler(&filler)
        , m_queue(&queue)
        , m_ownBuilder(std::in_place, [&filler](QByteArrayView line) { filler.add(line); })
        , m_builder(*m_ownBuilder)
    {}
    // A run of the file's items for `builder`, from the ordered table of SQLite's `db`.
    FileLines(SqlConnection &db, const ExportFile &file, FileLayoutBuilder &builder)
        : m_db(db)
        , m_file(file)
        , m_builder(builder)
    {
        useOrderedTable();
    }

    void build(const Informant &informant);

    // The records 54 of the invoices at positions `from` to `to` of the ordered table, as a run
    // for another builder; returns their products' codes, and names its first item in
    // `firstItem`.
    QSet<QString> layOutItemsRun(qint64 from, qint64 to, QString &firstItem)
    {
        try {
            m_builder.beginItemsRun();
            QSet<QString> codes = addItems(from, to);
            firstItem = m_firstItem;
            return codes;
        } catch (const LayoutError &e) {
            throw notInLayout(e);
        }
    }

private:
    // The invoices' order is worked out once, into a temporary table whose row number is the
    // invoice's place in the file, with the columns the records 54 repeat: both passes below
    // then read in that order without sorting, and the items come by the item key's index
    // instead of a sort of every item, without looking their invoice up again. The table keeps
    // the row ids of the invoice and its client, which the records 50 pass finds them by (one
    // lookup each instead of the key's index and then the row): the build reads one snapshot,
    // in which a row id names one row. The server engines number the invoices in a common
    // table expression of each pass instead (their planners keep it as the outer loop), which
    // needs no table made at run time.
    void orderInvoices()
    {
        if (m_db.engine() != DatabaseEngine::Sqlite) {
            m_ordered = numberedInvoices("");
            m_from = " FROM O JOIN ";
            return;
        }
        m_db.exec(kCreateOrdered);
        {
            // By one key where every invoice has one, by the eight expressions otherwise.
            const FileOrderKey key(dynamic_cast<SqliteConnection &>(m_db));
            if (key.usable())
                fillOrderedTable(QByteArray(" ORDER BY ") + kFileOrderKeyCall);
            if (!key.usable() || key.unkeyed() > 0) {
                m_db.exec("DELETE FROM temp.ORDEMNFARQ");
                fillOrderedTable(kInvoiceOrder.sqlite);
            }
        }
        useOrderedTable();
    }

    void useOrderedTable()
    {
        // CROSS JOIN keeps the ordered table as the outer loop whatever the statistics say.
        m_ordered = "SELECT ";
        m_from = " FROM temp.ORDEMNFARQ O CROSS JOIN ";
    }

    ExportDataError notInLayout(const LayoutError &e) const
    {
        return ExportDataError(
            QStringLiteral("%1 não cabe no leiaute do arquivo: %2").arg(m_where, e.message()));
    }

    std::unique_ptr<ItemsAlongside> itemsAlongside();
    QSet<QString> takeIn(ItemsAlongside &alongside);

    void fillOrderedTable(const QByteArray &order)
    {
        const QByteArray sql = QByteArray("INSERT INTO temp.ORDEMNFARQ (CDFILIAL, NRLANCTONF,"
                                          " NRNOTAFISC, DTEMISSAO, CDMODELONF, CDSERIE,"
                                          " NRINSJURCLIE, NFROWID, CLIROWID) SELECT ") +
                               kKeyColumns + ", N.rowid, C.rowid" + kFileInvoices + kOfFile + order;
        SqlStatement fill(m_db, sql);
        fill.bind(1, m_file.listNumber);
        fill.bind(2, m_file.stateRegistration);
        fill.execute();
    }

    // The server engines' common table expression O of the file's invoices numbered in their
    // order (POS), with the key columns and `columns`; what follows is the pass's SELECT list.
    // On PostgreSQL the numbered invoices come out in their order, which the items pass keeps
    // instead of sorting the items (itemsOfOrderedInvoices()).
    QByteArray numberedInvoices(const char *columns) const
    {
        return "WITH O AS (SELECT " + QByteArray(kKeyColumns) + columns + ", ROW_NUMBER() OVER (" +
               sqlFor(m_db, kInvoiceOrder) + ") AS POS" + kFileInvoices + kOfFile +
               (m_db.engine() == DatabaseEngine::PostgreSql ? " ORDER BY POS" : "") + ") SELECT ";
    }

    // A pass over the ordered invoices: the file's key, where the engine takes it.
    void bindFile(SqlStatement &pass) const
    {
        if (m_db.engine() == DatabaseEngine::Sqlite)
            return;
        pass.bind(1, m_file.listNumber);
        pass.bind(2, m_file.stateRegistration);
    }

    // Records 50.
    void addInvoices()
    {
        SqlStatement invoices(m_db, invoicesPass());
        bindFile(invoices);
        // The message names the row only when something is wrong with it.
        // QString, not auto: a string builder would outlive the temporaries it refers to.
        const auto invoiceWhere = [&]() -> QString {
            return QStringLiteral("A ") + invoiceName(invoices);
        };
        while (invoices.step()) {
            const Invoice invoice = readInvoice(invoices, invoiceWhere);
            try {
                m_builder.addInvoice(invoice);
            } catch (const LayoutError &) {
                m_where = invoiceWhere();
                throw;
            }
        }
    }

    // The records 50 pass. PostgreSQL takes the invoices' columns along where it numbers them
    // instead of looking every invoice and its client up again, which took longer than the
    // numbering.
    QByteArray invoicesPass() const
    {
        constexpr char kColumns[] = ", N.NRCFOP, N.IDENTRSAIDOP, N.VRNOTAFISC, N.VRBASEICMS,"
                                    " N.VRICMS, N.VRISENTO, N.VROUTRAS, N.PCALIQICMS,"
                                    " N.IDSITUACAO, C.NRINSCESTCLIE, C.SGESTADO";
        if (m_db.engine() == DatabaseEngine::PostgreSql)
            return numberedInvoices(kColumns) + kOrderedKeyColumns +
                   ", O.NRCFOP, O.IDENTRSAIDOP, O.VRNOTAFISC, O.VRBASEICMS, O.VRICMS, O.VRISENTO,"
                   " O.VROUTRAS, O.PCALIQICMS, O.IDSITUACAO, O.NRINSCESTCLIE, O.SGESTADO"
                   " FROM O ORDER BY O.POS";
        if (m_db.engine() == DatabaseEngine::Sqlite)
            return m_ordered + kOrderedKeyColumns + kColumns + m_from +
                   "NFCOMPRA N ON N.rowid = O.NFROWID LEFT JOIN CLIENTE C ON C.rowid = O.CLIROWID"
                   " ORDER BY O.POS";
        return m_ordered + kOrderedKeyColumns + kColumns + m_from +
               "NFCOMPRA N ON N.CDFILIAL = O.CDFILIAL AND N.NRLANCTONF = O.NRLANCTONF"
               " LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE ORDER BY O.POS";
    }

    // Records 54 of the invoices at positions `from` to `to`, which only SQLite's ordered table
    // tells apart; returns the codes of the items' products.
    QSet<QString> addItems(qint64 from, qint64 to)
    {
        // On SQLite the items come without their invoice's key, which a second statement reads
        // from the ordered table alongside, once per invoice: SQLite copies every column of a
        // row it hands over, and the key's seven were most of what an item row carried.
        const bool keyAside = m_db.engine() == DatabaseEngine::Sqlite;
        SqlStatement items(m_db, itemsPass(keyAside));
        std::optional<SqlStatement> keys;
        if (keyAside) {
            keys.emplace(m_db, QByteArray(QByteArray("SELECT ") + kOrderedKeyColumns +
                                          ", O.POS FROM temp.ORDEMNFARQ O" + kPositions +
                                          " ORDER BY O.POS"));
            for (SqlStatement *pass : {&items, &*keys}) {
                pass->bind(1, from);
                pass->bind(2, to);
            }
        } else {
            bindFile(items);
        }
        const int firstItemColumn = keyAside ? 0 : 7;
        const int posColumn = firstItemColumn + 11;
        QSet<QString> productCodes;
        QString lastCode;
        InvoiceItems invoice;
        Item item;
        qint64 keyOf = 0; // the POS item.invoice was read for; every invoice has one above 0
        while (items.step()) {
            // An invoice's items share its key: read it once per invoice, not once per item.
            const qint64 pos = items.integer(posColumn);
            if (pos != keyOf) {
                addInvoiceItems(invoice);
                const SqlStatement &key = keys ? keyRowAt(*keys, pos) : items;
                item.invoice = readKey(key);
                invoice.number = key.text(2);
                invoice.branch = key.text(0);
                invoice.posting = key.text(1);
                keyOf = pos;
            }
            readItem(
                items, firstItemColumn,
                [&] { return itemName(int(items.integer(firstItemColumn)), invoice); }, item);
            invoice.items.push_back(item);
            // Items of one invoice often repeat a product; skip the hash for the common case.
            if (productCodes.isEmpty() || item.productCode != lastCode) {
                productCodes.insert(item.productCode);
                lastCode = item.productCode;
            }
        }
        addInvoiceItems(invoice);
        return productCodes;
    }

    static constexpr char kPositions[] = " WHERE O.POS BETWEEN ?1 AND ?2";

    QByteArray itemsPass(bool keyAside) const
    {
        constexpr char kItemColumns[] = "I.NRITEM, I.NRCFOP, I.CDCST, I.CDPRODUTO, I.QTITEM,"
                                        " I.VRPRODUTO, I.VRDESCONTO, I.VRBASEICMS,"
                                        " I.VRBASEICMSST, I.VRIPI, I.PCALIQICMS, O.POS";
        if (keyAside)
            return m_ordered + kItemColumns + itemsOfOrderedInvoices();
        return m_ordered + kOrderedKeyColumns + ", " + kItemColumns + itemsOfOrderedInvoices();
    }

    // The ordered table's row of the invoice at `pos`, read in the items' order: both go up by
    // POS, the key statement skipping invoices without items.
    static const SqlStatement &keyRowAt(SqlStatement &keys, qint64 pos)
    {
        while (keys.step()) {
            if (keys.integer(7) == pos)
                return keys;
        }
        throw DatabaseError(
            QStringLiteral("A nota fiscal %1 da ordem do arquivo não foi encontrada.").arg(pos));
    }

    // The items pass's joins and order. On PostgreSQL the items come in the invoices' order
    // only: the numbered invoices come out of their expression in that order, which a join by
    // the item key's index keeps, where a sort of every item by invoice and item number spilled
    // to disk and took as long as reading them. The items of an invoice are put in order here.
    QByteArray itemsOfOrderedInvoices() const
    {
        const QByteArray join =
            m_from + "NFCOMPRAITEM I ON I.CDFILIAL = O.CDFILIAL AND I.NRLANCTONF = O.NRLANCTONF";
        switch (m_db.engine()) {
        case DatabaseEngine::PostgreSql:
            return join + " ORDER BY O.POS";
        case DatabaseEngine::Sqlite:
            return join + kPositions + " ORDER BY O.POS, I.NRITEM";
        default:
            return join + " ORDER BY O.POS, I.NRITEM";
        }
    }

    // One invoice's items as read, and what messages name it by.
    struct InvoiceItems
    {
        QString number, branch, posting;
        std::vector<Item> items;
    };

    static QString itemName(int itemNumber, const InvoiceItems &invoice)
    {
        return QStringLiteral("O item %1 da nota fiscal %2 (filial %3, lançamento %4)")
            .arg(QString::number(itemNumber), invoice.number, invoice.branch, invoice.posting);
    }

    // Hands an invoice's items to the builder by their item number, and empties the list.
    void addInvoiceItems(InvoiceItems &invoice)
    {
        const auto byNumber = [](const Item &a, const Item &b) {
            return a.itemNumber < b.itemNumber;
        };
        if (!std::is_sorted(invoice.items.begin(), invoice.items.end(), byNumber))
            std::stable_sort(invoice.items.begin(), invoice.items.end(), byNumber);
        for (const Item &item : invoice.items) {
            if (m_firstItem.isNull())
                m_firstItem = itemName(item.itemNumber, invoice);
            try {
                m_builder.addItem(item);
            } catch (const LayoutError &) {
                m_where = itemName(item.itemNumber, invoice);
                throw;
            }
        }
        invoice.items.clear();
    }

    // Records 75, of the products there are.
    void addProducts(const QSet<QString> &codes)
    {
        SqlStatement product(m_db, "SELECT CDPRODUTO, CDNCM, DSPRODUTO, SGUNIDADE, PCALIQIPI,"
                                   " PCALIQICMS, PCREDBASEICMS, VRBASEICMSST FROM PRODUTO"
                                   " WHERE CDPRODUTO = ?1");
        for (const QString &code : codes) {
            product.bind(1, code);
            if (product.step()) {
                m_where = QStringLiteral("O produto %1").arg(code);
                m_builder.addProduct(Product{product.text(0), product.text(1), product.text(2),
                                             product.text(3), product.real(4), product.real(5),
                                             product.real(6), product.real(7)});
            }
            product.reset();
        }
    }

    SqlConnection &m_db;
    const ExportFile &m_file;
    ChunkFiller *m_filler = nullptr; // the file's builder's
    ChunkQueue *m_queue = nullptr;
    std::optional<FileLayoutBuilder> m_ownBuilder;
    FileLayoutBuilder &m_builder;
    QByteArray m_ordered; // how a pass over the ordered invoices starts
    QByteArray m_from;    // and joins them
    QString m_where;      // what the builder was given last, for error messages
    QString m_firstItem;  // the first item given to the builder, named
};

// The second half of a file's items on SQLite, laid out on a thread and a connection of their
// own while the file's builder does the invoices and the first half: with many items an
// invoice they are most of a build, and the storing side leaves most of the other core free.
// Its lines go to the same queue as a run of their own, numbered from the line after the first
// half's items. The first fault in the file's order is the one told, so a fault of this half
// counts only once the first half is through. Both connections read the same committed state:
// the storing side's write lock keeps it from before the builder begins until the file is
// stored.
class ItemsAlongside
{
public:
    // Copies the ordered table's invoices from `firstPosition` on, before the thread starts.
    ItemsAlongside(SqlConnection &db, const ExportFile &file, ChunkQueue &queue,
                   qint64 firstPosition, qint64 firstLine)
        : m_file(file)
        , m_queue(queue)
        , m_firstPosition(firstPosition)
        , m_firstLine(firstLine)
        , m_rows(std::in_place, dynamic_cast<SqliteConnection &>(db),
                 "SELECT POS, CDFILIAL, NRLANCTONF, NRNOTAFISC, DTEMISSAO, CDMODELONF, CDSERIE,"
                 " NRINSJURCLIE FROM temp.ORDEMNFARQ WHERE POS >= ?1 ORDER BY POS",
                 firstPosition)
        , m_connection(db.openAnother())
        , m_thread([this] { layOut(); })
    {}

    // A run left unawaited stops at its next chunk.
    ~ItemsAlongside()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    Q_DISABLE_COPY_MOVE(ItemsAlongside)

    qint64 firstPosition() const { return m_firstPosition; }
    qint64 firstLine() const { return m_firstLine; }

    // Waits for the run; rethrows what stopped it.
    void wait()
    {
        m_thread.join();
        if (m_error)
            std::rethrow_exception(m_error);
        if (!m_done)
            throw BuildCancelled{};
    }
    // After wait().
    const FileLayoutBuilder &builder() const { return *m_builder; }
    const QSet<QString> &codes() const { return m_codes; }
    const QString &firstItem() const { return m_firstItem; }

private:
    void layOut() noexcept
    {
        try {
            auto &db = dynamic_cast<SqliteConnection &>(*m_connection);
            SqlTransaction snapshot(db, SqlTransaction::Kind::Read);
            db.exec(kCreateOrdered);
            m_rows->insertInto(db, "INSERT INTO temp.ORDEMNFARQ (POS, CDFILIAL, NRLANCTONF,"
                                   " NRNOTAFISC, DTEMISSAO, CDMODELONF, CDSERIE, NRINSJURCLIE)"
                                   " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
            m_rows.reset();
            ChunkFiller filler(m_queue, 1, &m_stop);
            filler.continueAt(m_firstLine);
            m_builder.emplace([&filler](QByteArrayView line) { filler.add(line); });
            m_codes = FileLines(db, m_file, *m_builder)
                          .layOutItemsRun(m_firstPosition, kLastPosition, m_firstItem);
            filler.flush();
            m_done = true;
        } catch (const BuildCancelled &) {
        } catch (...) {
            m_error = std::current_exception();
        }
    }

    const ExportFile &m_file;
    ChunkQueue &m_queue;
    const qint64 m_firstPosition;
    const qint64 m_firstLine;
    std::optional<SqliteRows> m_rows;
    const std::unique_ptr<SqlConnection> m_connection;
    std::atomic<bool> m_stop = false;
    std::optional<FileLayoutBuilder> m_builder;
    QSet<QString> m_codes;
    QString m_firstItem;
    std::exception_ptr m_error;
    bool m_done = false;
    std::thread m_thread; // last: starts once the rest is there
};

void FileLines::build(const Informant &informant)
{
    orderInvoices();
    const std::unique_ptr<ItemsAlongside> alongside = itemsAlongside();
    try {
        m_where = QStringLiteral("Registros 10 e 11 da inscrição %1").arg(m_file.stateRegistration);
        m_builder.begin(informant, Period{m_file.periodStart, m_file.periodEnd});
        addInvoices();
        QSet<QString> codes =
            addItems(1, alongside ? alongside->firstPosition() - 1 : kLastPosition);
        if (alongside)
            codes.unite(takeIn(*alongside));
        addProducts(codes);
        m_where =
            QStringLiteral("Os registros 75 e 90 da inscrição %1").arg(m_file.stateRegistration);
        m_builder.finish();
    } catch (const LayoutError &e) {
        throw notInLayout(e);
    }
}

// On SQLite, for a file of two invoices or more with many items each: the second half of its
// invoices.
std::unique_ptr<ItemsAlongside> FileLines::itemsAlongside()
{
    if (m_db.engine() != DatabaseEngine::Sqlite || !m_queue)
        return {};
    SqlStatement count(m_db, "SELECT count(*) FROM temp.ORDEMNFARQ");
    const qint64 invoices = count.step() ? count.integer(0) : 0;
    if (invoices < 2)
        return {};
    SqlStatement middle(m_db, "SELECT POS FROM temp.ORDEMNFARQ ORDER BY POS LIMIT 1 OFFSET ?1");
    middle.bind(1, invoices / 2);
    if (!middle.step())
        return {};
    const qint64 firstPosition = middle.integer(0);
    SqlStatement before(m_db, "SELECT count(*) FROM temp.ORDEMNFARQ O CROSS JOIN NFCOMPRAITEM I"
                              " ON I.CDFILIAL = O.CDFILIAL AND I.NRLANCTONF = O.NRLANCTONF"
                              " WHERE O.POS < ?1");
    before.bind(1, firstPosition);
    const qint64 itemsBefore = before.step() ? before.integer(0) : 0;
    // With few items an invoice the invoices' own work is most of the build, and a run would
    // only add the copy of their rows.
    if (itemsBefore < kItemsAnInvoiceAlongside * (invoices / 2))
        return {};
    // Records 10 and 11, a record 50 an invoice, the first half's records 54.
    const qint64 firstLine = 2 + invoices + itemsBefore + 1;
    return std::make_unique<ItemsAlongside>(m_db, m_file, *m_queue, firstPosition, firstLine);
}

// The run's items after the first half's, and the file's own lines after the run's.
QSet<QString> FileLines::takeIn(ItemsAlongside &alongside)
{
    // The run's lines were numbered from a count of this half's items: they must meet.
    if (m_builder.linesWritten() + 1 != alongside.firstLine())
        throw DatabaseError(QStringLiteral("As linhas do arquivo %1 não se encaixam: a primeira "
                                           "metade dos itens termina na linha %2, e a segunda "
                                           "começa na %3.")
                                .arg(m_file.fileNumber)
                                .arg(m_builder.linesWritten())
                                .arg(alongside.firstLine()));
    alongside.wait();
    m_where = alongside.firstItem();
    m_builder.addItemsRun(alongside.builder());
    m_filler->continueAt(alongside.firstLine() + alongside.builder().linesWritten());
    return alongside.codes();
}

// The company's registration as records 10 and 11 name it.
Informant readInformant(SqlConnection &db, const ExportFile &file)
{
    SqlStatement q(db, "SELECT I.NRCNPJ, I.NMMUNICIPIO, I.NRFAX, I.DSLOGRADOURO,"
                       " I.NRLOGRADOURO, I.DSCOMPLEMENTO, I.NMBAIRRO, I.NRCEP, I.NMCONTATO,"
                       " I.NRTELEFONE, E.NMEMPRESA"
                       " FROM INSCRESTAD I JOIN EMPRESA E ON E.CDEMPRESA = I.CDEMPRESA"
                       " WHERE I.CDEMPRESA = ?1 AND I.CDINSCESTA = ?2");
    q.bind(1, file.company);
    q.bind(2, file.stateRegistration);
    if (!q.step())
        throw ExportDataError(
            QStringLiteral("Inscrição estadual %1 não cadastrada para a empresa %2.")
                .arg(file.stateRegistration, file.company));
    Informant informant;
    informant.cnpj = q.text(0);
    informant.stateRegistration = file.stateRegistration;
    informant.municipality = q.text(1);
    informant.fax = q.text(2);
    informant.street = q.text(3);
    informant.number = q.text(4);
    informant.complement = q.text(5);
    informant.district = q.text(6);
    informant.postalCode = q.text(7);
    informant.contactName = q.text(8);
    informant.phone = q.text(9);
    informant.name = q.text(10);
    return informant;
}

// SQUENCIAL numbers the lines of the whole list: this file's lines follow those of the list's
// files before it that have been built.
qint64 sequenceBaseOf(SqlConnection &db, const ExportFile &file)
{
    SqlStatement q(db, "SELECT coalesce(sum(NRTOTREGISTROS), 0) FROM ARQCOMPRALEG"
                       " WHERE NRLISTA = ?1 AND NOMEARQUIVO < ?2");
    q.bind(1, file.listNumber);
    q.bind(2, file.namePart);
    return q.step() ? q.integer(0) : 0;
}

// The builder's thread: builds the lines on a connection of its own, from one snapshot, and
// hands them over in chunks. Whatever stops it is told to the queue.
void produceLines(ChunkQueue &queue, const SqlConnection &db, const ExportFile &file,
                  const Informant &informant)
{
    try {
        const std::unique_ptr<SqlConnection> connection = db.openAnother();
        SqlConnection &reader = *connection;
        SqlTransaction snapshot(reader, SqlTransaction::Kind::Read);
        ChunkFiller filler(queue, 0);
        FileLines(reader, file, filler, queue).build(informant);
        filler.flush();
        queue.finish({});
    } catch (const BuildCancelled &) {
        queue.finish({});
    } catch (...) {
        queue.finish(std::current_exception());
    }
}

// Lines a previous build left go, before this build stores any.
void clearEarlierLines(SqlConnection &db, const ExportFile &file)
{
    SqlStatement clear(db, "DELETE FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1");
    clear.bind(1, file.fileNumber);
    clear.execute();
}

// The file's invoices marked exported, the flag each had before this list touched it kept (a
// rebuild keeping the first one kept), a slice of the list at a time: between slices the caller
// stores the lines the builder handed over meanwhile, so that a large list's marking does not
// leave the builder waiting on a full queue. The caller's rollback undoes it all if the file
// fails.
class InvoiceMarker
{
public:
    // Keys of the list (CDLISTA) per slice.
    static constexpr int kSlice = 20000;

    InvoiceMarker(SqlConnection &db, const ExportFile &file)
        : m_file(file)
        , m_keep(db, "UPDATE LISTACOMPRALEGNF SET IDNFCOMPRALEGANT ="
                     " (SELECT N.IDNFCOMPRALEG FROM NFCOMPRA N"
                     "  WHERE N.CDFILIAL = LISTACOMPRALEGNF.CDFILIAL"
                     "  AND N.NRLANCTONF = LISTACOMPRALEGNF.NRLANCTONF)"
                     " WHERE NRLISTA = ?1 AND CDINSCESTA = ?2"
                     " AND CDLISTA > ?3 AND CDLISTA <= ?4 AND IDNFCOMPRALEGANT IS NULL")
        // Firebird compares no row values; its MERGE drives from the list the same way.
        , m_mark(db, sqlFor(db, {kMarkIn, kMarkIn,
                                 "MERGE INTO NFCOMPRA N USING (SELECT CDFILIAL, NRLANCTONF"
                                 " FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1 AND CDINSCESTA = ?2"
                                 " AND CDLISTA > ?3 AND CDLISTA <= ?4) L"
                                 " ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF"
                                 " AND N.IDNFCOMPRALEG <> 'S'"
                                 " WHEN MATCHED THEN UPDATE SET IDNFCOMPRALEG = 'S'"}))
    {
        // Every kSlice-th key of the whole list, in the key's index order, and its last one.
        SqlStatement keys(db, "SELECT CDLISTA FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1"
                              " ORDER BY CDLISTA");
        keys.bind(1, file.listNumber);
        QByteArray last;
        qint64 count = 0;
        while (keys.step()) {
            last.truncate(0);
            last.append(keys.utf8(0));
            if (++count % kSlice == 0)
                m_bounds.append(last);
        }
        if (count % kSlice != 0)
            m_bounds.append(last);
    }

    // Marks the next slice; false once every slice is done.
    bool markNext()
    {
        if (m_next >= m_bounds.size())
            return false;
        const QByteArray &from = m_next == 0 ? m_none : m_bounds.at(m_next - 1);
        for (SqlStatement *statement : {&m_keep, &m_mark}) {
            statement->bind(1, m_file.listNumber);
            statement->bind(2, m_file.stateRegistration);
            statement->bindUtf8(3, from);
            statement->bindUtf8(4, m_bounds.at(m_next));
            statement->execute();
            statement->reset();
        }
        ++m_next;
        return true;
    }

private:
    static constexpr char kMarkIn[] =
        "UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S'"
        " WHERE IDNFCOMPRALEG <> 'S' AND (CDFILIAL, NRLANCTONF) IN"
        " (SELECT CDFILIAL, NRLANCTONF FROM LISTACOMPRALEGNF"
        "  WHERE NRLISTA = ?1 AND CDINSCESTA = ?2 AND CDLISTA > ?3 AND CDLISTA <= ?4)";

    const ExportFile &m_file;
    SqlStatement m_keep;
    SqlStatement m_mark;
    QList<QByteArray> m_bounds;  // each slice's last key
    const QByteArray m_none{""}; // below every key: CDLISTA is never empty
    qsizetype m_next = 0;
};

// Marks the file's invoices and stores the chunks as they come until the builder is done;
// returns the number of lines.
qint64 markAndStore(SqlConnection &db, const ExportFile &file, qint64 sequenceBase,
                    ChunkQueue &queue)
{
    clearEarlierLines(db, file);
    // A writer per run of lines: the items laid out alongside come numbered from their first.
    std::optional<lineblocks::BlockWriter> stores[2];
    const auto store = [&](const LineChunk &chunk) {
        std::optional<lineblocks::BlockWriter> &to = stores[chunk.run == 0 ? 0 : 1];
        if (!to)
            to.emplace(db, file.fileNumber, file.listNumber, sequenceBase);
        if (chunk.first > 0)
            to->continueAt(chunk.first);
        to->add(chunk.lines);
    };
    InvoiceMarker marker(db, file);
    LineChunk chunk;
    while (marker.markNext())
        while (queue.tryPop(chunk))
            store(chunk);
    while (queue.pop(chunk))
        store(chunk);
    if (const std::exception_ptr error = queue.error())
        std::rethrow_exception(error);
    qint64 lines = 0;
    for (std::optional<lineblocks::BlockWriter> &written : stores) {
        if (written) {
            written->finish();
            lines += written->lines();
        }
    }
    return lines;
}

void recordBuilt(SqlConnection &db, const ExportFile &file, qint64 lineCount)
{
    SqlStatement done(db, "UPDATE ARQCOMPRALEG SET NRTOTREGISTROS = ?1, IDSERVIDO = 'N',"
                          " DTGERACAO = ?2 WHERE NRSEQARQMAG = ?3");
    done.bind(1, lineCount);
    done.bind(2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    done.bind(3, file.fileNumber);
    done.execute();
}

} // namespace

qint64 generateExportFile(SqlConnection &db, const ExportFile &file)
{
    const Informant informant = readInformant(db, file);
    const qint64 sequenceBase = sequenceBaseOf(db, file);

    // The lines are built on a thread of their own, with its own connection, while this one
    // stores them and does the file's other writes: on two cores that takes about as long as
    // the slower of the two instead of their sum. The builder reads what this transaction's
    // write lock has kept unchanged since it began, and none of the columns written here.
    ChunkQueue queue;
    std::thread producer(produceLines, std::ref(queue), std::cref(db), std::cref(file),
                         std::cref(informant));
    // Whatever way this function leaves, the builder stops before what it uses goes away.
    const auto join = qScopeGuard([&] {
        queue.cancel();
        producer.join();
    });

    const qint64 lineCount = markAndStore(db, file, sequenceBase, queue);
    recordBuilt(db, file, lineCount);
    return lineCount;
}

} // namespace fis
