#include "server/filegenerator.h"

#include "layout/filelayoutbuilder.h"
#include "layout/layouterror.h"
#include "server/fileorderkey.h"
#include "server/lineblocks.h"
#include "sqldb/sqldatabase.h"
#include "sqldb/sqliteconnection.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
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

// Lines of kRecordLength bytes, back to back.
using LineChunk = QByteArray;

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

// Reads the file's invoices, items and products and builds its lines in order, handing each to
// the sink. Throws ExportDataError for faults in the data, DatabaseError for the database's own.
class FileLines
{
public:
    FileLines(SqlConnection &db, const ExportFile &file, const FileLayoutBuilder::LineSink &sink)
        : m_db(db)
        , m_file(file)
        , m_builder(sink)
    {}

    void build(const Informant &informant)
    {
        orderInvoices();
        try {
            m_where =
                QStringLiteral("Registros 10 e 11 da inscrição %1").arg(m_file.stateRegistration);
            m_builder.begin(informant, Period{m_file.periodStart, m_file.periodEnd});
            addInvoices();
            addProducts(addItems());
            m_where = QStringLiteral("Os registros 75 e 90 da inscrição %1")
                          .arg(m_file.stateRegistration);
            m_builder.finish();
        } catch (const LayoutError &e) {
            throw ExportDataError(
                QStringLiteral("%1 não cabe no leiaute do arquivo: %2").arg(m_where, e.message()));
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
        m_db.exec("CREATE TEMP TABLE ORDEMNFARQ (POS INTEGER PRIMARY KEY, CDFILIAL, NRLANCTONF,"
                  " NRNOTAFISC, DTEMISSAO, CDMODELONF, CDSERIE, NRINSJURCLIE, NFROWID, CLIROWID)");
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
        // CROSS JOIN keeps the ordered table as the outer loop whatever the statistics say.
        m_ordered = "SELECT ";
        m_from = " FROM temp.ORDEMNFARQ O CROSS JOIN ";
    }

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

    // Records 54; returns the codes of the items' products.
    QSet<QString> addItems()
    {
        // On SQLite the items come without their invoice's key, which a second statement reads
        // from the ordered table alongside, once per invoice: SQLite copies every column of a
        // row it hands over, and the key's seven were most of what an item row carried.
        const bool keyAside = m_db.engine() == DatabaseEngine::Sqlite;
        constexpr char kItemColumns[] = "I.NRITEM, I.NRCFOP, I.CDCST, I.CDPRODUTO, I.QTITEM,"
                                        " I.VRPRODUTO, I.VRDESCONTO, I.VRBASEICMS,"
                                        " I.VRBASEICMSST, I.VRIPI, I.PCALIQICMS, O.POS";
        SqlStatement items(
            m_db, keyAside ? QByteArray(m_ordered + kItemColumns + itemsOfOrderedInvoices())
                           : QByteArray(m_ordered + kOrderedKeyColumns + ", " + kItemColumns +
                                        itemsOfOrderedInvoices()));
        bindFile(items);
        std::optional<SqlStatement> keys;
        if (keyAside)
            keys.emplace(m_db, QByteArray(QByteArray("SELECT ") + kOrderedKeyColumns +
                                          ", O.POS FROM temp.ORDEMNFARQ O ORDER BY O.POS"));
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
        return join + (m_db.engine() == DatabaseEngine::PostgreSql ? " ORDER BY O.POS"
                                                                   : " ORDER BY O.POS, I.NRITEM");
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
    FileLayoutBuilder m_builder;
    QByteArray m_ordered; // how a pass over the ordered invoices starts
    QByteArray m_from;    // and joins them
    QString m_where;      // what the builder was given last, for error messages
};

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
        constexpr qsizetype kChunkBytes = qsizetype(kChunkLines) * kRecordLength;
        LineChunk chunk;
        chunk.reserve(kChunkBytes);
        FileLines(reader, file, [&](QByteArrayView line) {
            chunk.append(line);
            if (chunk.size() == kChunkBytes) {
                if (!queue.push(std::move(chunk)))
                    throw BuildCancelled{};
                chunk = LineChunk{};
                chunk.reserve(kChunkBytes);
            }
        }).build(informant);
        if (!chunk.isEmpty())
            queue.push(std::move(chunk));
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
    lineblocks::BlockWriter store(db, file.fileNumber, file.listNumber, sequenceBase);
    InvoiceMarker marker(db, file);
    LineChunk chunk;
    while (marker.markNext())
        while (queue.tryPop(chunk))
            store.add(chunk);
    while (queue.pop(chunk))
        store.add(chunk);
    if (const std::exception_ptr error = queue.error())
        std::rethrow_exception(error);
    store.finish();
    return store.lines();
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
