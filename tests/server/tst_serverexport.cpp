// The export run on the server: GetRegistro builds the lines of each file and pages them out,
// GetDeletaLista undoes a failed run. Lines are decoded here on their own, by the positions of
// the output layout, and compared with the database.
#include "rpcclient/netconnection.h"
#include "sqldb/sqliteconnection.h"
#include "testsupport/seeding.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/storedlines.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "rpc/rpcerror.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMap>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>

#include <unistd.h>

using namespace fis;
using namespace fis::test;

namespace {

// Field i (1-based positions, inclusive) of a line.
QString at(const QString &line, int from, int to)
{
    return line.mid(from - 1, to - from + 1);
}

// What the layout makes of a text: upper case ASCII without accents, blank-filled, cut.
QString asText(const QString &value, int width)
{
    QString out;
    for (const QChar c : value.normalized(QString::NormalizationForm_D)) {
        if (c.unicode() < 0x80)
            out += c.toUpper();
        else if (c.category() != QChar::Mark_NonSpacing)
            out += u' ';
    }
    return out.left(width).leftJustified(width, u' ');
}

QString asDigits(const QString &value, int width)
{
    return value.rightJustified(width, u'0');
}

QString asAmount(double value, int width, int decimals)
{
    return QString::number(qint64(std::llround(value * std::pow(10.0, decimals))))
        .rightJustified(width, u'0');
}

QString asDate(const QString &iso)
{
    return iso.left(10).remove(u'-');
}

struct FileInvoice
{
    QVariantList row; // the columns of kInvoiceColumns
    QString doc() const { return row[0].toString(); }
    QString number() const { return row[4].toString(); }
    QString sortKey() const
    {
        return row[3].toString() + asDigits(number(), 20) + asDigits(doc(), 14) +
               asDigits(row[5].toString(), 2) + asText(row[6].toString(), 3);
    }
};

const QString kInvoiceColumns = QStringLiteral(
    "C.NRINSJURCLIE, C.NRINSCESTCLIE, C.SGESTADO, N.DTEMISSAO, N.NRNOTAFISC, N.CDMODELONF,"
    " N.CDSERIE, N.NRCFOP, N.IDENTRSAIDOP, N.VRNOTAFISC, N.VRBASEICMS, N.VRICMS, N.VRISENTO,"
    " N.VROUTRAS, N.PCALIQICMS, N.IDSITUACAO, N.CDFILIAL, N.NRLANCTONF");

// A change to the arguments of a first GetRegistro.
using ChangeCall = std::function<void(RegistroCall &)>;

// A new list of the caller's session with the given invoices; returns its number and files
// (registration, name).
QString registerListIn(const TestDatabase &db, NetConnection &c,
                       const QList<QPair<QString, QString>> &invoices,
                       QList<QPair<QString, QString>> *files = nullptr)
{
    const QString list = c.call(QStringLiteral("GetLista")).toText();
    QStringList regs;
    for (const auto &i : invoices)
        regs << db.value(QStringLiteral("SELECT CDINSCESTA FROM NFCOMPRA WHERE CDFILIAL = ?"
                                        " AND NRLANCTONF = ?"),
                         {i.first, i.second})
                    .toString();
    const RpcValue answer = c.call(QStringLiteral("getNotasMarcadas"),
                                   {RpcValue::fromPacket(listaPacket(list, invoices, regs))});
    if (files) {
        files->clear();
        for (const DataRow &row : decodePacket(answer.toPacket()).rows)
            files->append({row[0].toString(), row[1].toString()});
    }
    return list;
}

// The latest invoices (branch, posting) of a registration.
QList<QPair<QString, QString>> invoicesIn(const TestDatabase &db, const QString &stateReg,
                                          int limit, const QString &extraWhere = {})
{
    QList<QPair<QString, QString>> out;
    for (const QVariantList &r :
         db.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM NFCOMPRA WHERE CDINSCESTA = ?"
                                " %1 ORDER BY NRLANCTONF DESC LIMIT ?")
                     .arg(extraWhere),
                 {stateReg, limit}))
        out.append({r[0].toString(), r[1].toString()});
    return out;
}

// A client of the server on `port` in the session of another client.
std::unique_ptr<NetConnection> connectTo(quint16 port, const QString &sessionKey)
{
    auto c = std::make_unique<NetConnection>();
    c->setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    c->setHost(QStringLiteral("127.0.0.1"));
    c->setPort(port);
    useTestClient(*c);
    c->setSessionKey(sessionKey);
    c->open();
    return c;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(2);
    }
    return true;
}

// The list's invoices flagged exported.
int exportedInvoicesOfList(const TestDatabase &db, const QString &list)
{
    return db
        .value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                              " USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                              " AND N.IDNFCOMPRALEG = 'S'"),
               {list})
        .toInt();
}

qint64 lineCountOf(const TestDatabase &db, const QString &file)
{
    return db
        .value(QStringLiteral("SELECT NRTOTREGISTROS FROM ARQCOMPRALEG WHERE NRSEQARQMAG = ?"),
               {file})
        .toLongLong();
}

// The page holds the stored lines `from` to `to` of its file, numbers and SQUENCIAL included;
// empty when it does.
QString pageAgainstStored(const RegistroPage &page, const QList<StoredLine> &stored, qint64 from,
                          qint64 to)
{
    QList<StoredLine> got;
    for (qsizetype i = 0; i < page.lines.size(); ++i) {
        got.append({page.lineNumbers.value(i), page.lines.value(i), page.sequences.value(i)});
        if (page.fileNumbers.value(i) != page.continuation)
            return QStringLiteral("line %1 of file %2").arg(i).arg(page.fileNumbers.value(i));
    }
    const QList<StoredLine> expected = stored.mid(from - 1, to - from + 1);
    if (got == expected)
        return {};
    return QStringLiteral("page %1 to %2: %3 lines from %4, expected %5 from %6")
        .arg(from)
        .arg(to)
        .arg(got.size())
        .arg(got.isEmpty() ? -1 : got.first().number)
        .arg(expected.size())
        .arg(expected.isEmpty() ? -1 : expected.first().number);
}

// Sets columns of invoices of the test database, each invoice's row of values in `columns`
// order, and puts the earlier values back when it goes.
class ChangedInvoices
{
public:
    ChangedInvoices(const TestDatabase &db, const QList<QPair<QString, QString>> &invoices,
                    const QStringList &columns, const QList<QVariantList> &values)
        : m_db(db)
        , m_invoices(invoices)
        , m_change(QStringLiteral("UPDATE NFCOMPRA SET %1 = ? WHERE CDFILIAL = ? AND"
                                  " NRLANCTONF = ?")
                       .arg(columns.join(QStringLiteral(" = ?, "))))
    {
        const QString select = QStringLiteral("SELECT %1 FROM NFCOMPRA WHERE CDFILIAL = ? AND"
                                              " NRLANCTONF = ?")
                                   .arg(columns.join(QStringLiteral(", ")));
        for (const auto &invoice : invoices)
            m_before << db.rows(select, {invoice.first, invoice.second}).value(0);
        for (qsizetype i = 0; i < invoices.size(); ++i)
            set(i, values.value(i));
    }
    ~ChangedInvoices()
    {
        for (qsizetype i = 0; i < m_invoices.size(); ++i)
            set(i, m_before.value(i));
    }
    ChangedInvoices(const ChangedInvoices &) = delete;
    ChangedInvoices &operator=(const ChangedInvoices &) = delete;

private:
    void set(qsizetype invoice, QVariantList values) const
    {
        values << m_invoices[invoice].first << m_invoices[invoice].second;
        m_db.exec(m_change, values);
    }

    const TestDatabase &m_db;
    const QList<QPair<QString, QString>> m_invoices;
    const QString m_change;
    QList<QVariantList> m_before;
};

} // namespace

Q_DECLARE_METATYPE(ChangeCall)

class TestServerExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void linesFollowTheLayout();
    void firstPageErrors_data();
    void firstPageErrors();
    void layoutErrorNamesTheInvoice();
    void numbersWithBlanksAreOrderedAsNumbers_data();
    void numbersWithBlanksAreOrderedAsNumbers();
    void invoiceWhoseClientIsGone();
    void invoicesWithoutItems();
    void invoiceKeyValuesRead_data();
    void invoiceKeyValuesRead();
    void laterPageErrors();
    void boundsSetByServer();
    void deleteListRestoresInvoices();
    void pagingAcrossThreePages();
    void servedLinesWaitForTheCallsToPause();
    void logCopiedOnceTheCallsPause();
    void lateFaultInBigFileLeavesNothing();
    void pagesCutAcrossBlocks();
    void manyItemsLaidOutInTwoRuns();
    void damagedLinesAreACallError();
    void killedWhileBuildingLeavesNothing_data();
    void killedWhileBuildingLeavesNothing();
    void exportGoesOnAcrossTheUpgrade();

private:
    // A new list with the given invoices; returns its number and files (registration, name).
    QString registerList(const QList<QPair<QString, QString>> &invoices,
                         QList<QPair<QString, QString>> *files = nullptr,
                         NetConnection *client = nullptr);
    // Registers a list of the invoices and asks for the first page of its first file, the
    // period from December 2024; `list` gets the list's number.
    RegistroPage firstPageOf(const QList<QPair<QString, QString>> &invoices, QString *list);
    QList<QPair<QString, QString>> invoicesOf(const QString &stateReg, int limit,
                                              const QString &extraWhere = {});
    // Against `db`, the test's own database when null.
    void checkFile(const QList<QString> &lines, const QString &list, const QString &reg,
                   const RegistroCall &call, TestDatabase *db = nullptr);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<NetConnection> m_client;
    // The list the cases of firstPageErrors ask about.
    QString m_firstPageList;
    QString m_firstPageRegistration;
};

void TestServerExport::initTestCase()
{
    m_db = std::make_unique<TestDatabase>(3000);
    QVERIFY(m_db->isValid());
    m_server = std::make_unique<ServerProcess>(m_db->path(), m_db->outputDir());
    QVERIFY(m_server->isRunning());
    m_client = m_server->connect();
}

void TestServerExport::cleanupTestCase()
{
    m_client.reset();
    if (m_server)
        QCOMPARE(m_server->terminate(), 0);
}

QString TestServerExport::registerList(const QList<QPair<QString, QString>> &invoices,
                                       QList<QPair<QString, QString>> *files, NetConnection *client)
{
    return registerListIn(*m_db, client ? *client : *m_client, invoices, files);
}

RegistroPage TestServerExport::firstPageOf(const QList<QPair<QString, QString>> &invoices,
                                           QString *list)
{
    QList<QPair<QString, QString>> files;
    *list = registerList(invoices, &files);
    RegistroCall call;
    call.list = *list;
    call.registration = files.first().first;
    call.start = QDate(2024, 12, 1);
    return getRegistro(*m_client, call);
}

QList<QPair<QString, QString>> TestServerExport::invoicesOf(const QString &stateReg, int limit,
                                                            const QString &extraWhere)
{
    return invoicesIn(*m_db, stateReg, limit, extraWhere);
}

// Every line of a file, field by field, against the database.
void TestServerExport::checkFile(const QList<QString> &lines, const QString &list,
                                 const QString &reg, const RegistroCall &call, TestDatabase *db)
{
    TestDatabase &data = db ? *db : *m_db;
    for (const QString &line : lines)
        QCOMPARE(line.size(), 126);
    const QString start = call.start.toString(QStringLiteral("yyyyMMdd"));
    const QString end = call.end.toString(QStringLiteral("yyyyMMdd"));

    // Records 10 and 11.
    const QVariantList inf =
        data.rows(QStringLiteral("SELECT I.NRCNPJ, E.NMEMPRESA, I.NMMUNICIPIO, I.NRFAX,"
                                 " I.DSLOGRADOURO, I.NRLOGRADOURO, I.DSCOMPLEMENTO, I.NMBAIRRO,"
                                 " I.NRCEP, I.NMCONTATO, I.NRTELEFONE FROM INSCRESTAD I"
                                 " JOIN EMPRESA E USING (CDEMPRESA)"
                                 " WHERE I.CDEMPRESA = ? AND I.CDINSCESTA = ?"),
                  {call.company, reg})
            .first();
    const QString r10 = lines.at(0);
    QCOMPARE(at(r10, 1, 2), QStringLiteral("10"));
    QCOMPARE(at(r10, 3, 16), asDigits(inf[0].toString(), 14));
    QCOMPARE(at(r10, 17, 30), asText(reg, 14));
    QCOMPARE(at(r10, 31, 65), asText(inf[1].toString(), 35));
    QCOMPARE(at(r10, 66, 95), asText(inf[2].toString(), 30));
    QCOMPARE(at(r10, 96, 97), QStringLiteral("BA"));
    QCOMPARE(at(r10, 98, 107), asDigits(inf[3].toString(), 10));
    QCOMPARE(at(r10, 108, 115), start);
    QCOMPARE(at(r10, 116, 123), end);
    QCOMPARE(at(r10, 124, 126), QStringLiteral("331"));
    const QString r11 = lines.at(1);
    QCOMPARE(at(r11, 1, 2), QStringLiteral("11"));
    QCOMPARE(at(r11, 3, 36), asText(inf[4].toString(), 34));
    QCOMPARE(at(r11, 37, 41), asDigits(inf[5].toString(), 5));
    QCOMPARE(at(r11, 42, 63), asText(inf[6].toString(), 22));
    QCOMPARE(at(r11, 64, 78), asText(inf[7].toString(), 15));
    QCOMPARE(at(r11, 79, 86), asDigits(inf[8].toString(), 8));
    QCOMPARE(at(r11, 87, 114), asText(inf[9].toString(), 28));
    QCOMPARE(at(r11, 115, 126), asDigits(inf[10].toString(), 12));

    // Records 50: the list's invoices of this registration, by date, number, issuer.
    QList<FileInvoice> invoices;
    for (const QVariantList &r :
         data.rows(QStringLiteral("SELECT %1 FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                                  " USING (CDFILIAL, NRLANCTONF) JOIN CLIENTE C"
                                  " ON C.CDCLIENTE = N.CDCLIENTE"
                                  " WHERE L.NRLISTA = ? AND N.CDINSCESTA = ?")
                       .arg(kInvoiceColumns),
                   {list, reg}))
        invoices.append({r});
    std::sort(invoices.begin(), invoices.end(),
              [](const FileInvoice &a, const FileInvoice &b) { return a.sortKey() < b.sortKey(); });
    QVERIFY(!invoices.isEmpty());
    int n = 2;
    for (const FileInvoice &inv : invoices) {
        const QVariantList &v = inv.row;
        const QString l = lines.at(n++);
        const QString what = QStringLiteral("line %1: %2").arg(n).arg(l);
        QVERIFY2(at(l, 1, 2) == u"50", qPrintable(what));
        QCOMPARE(at(l, 3, 16), asDigits(v[0].toString(), 14));
        QCOMPARE(at(l, 17, 30), v[1].toString().isEmpty() ? QStringLiteral("ISENTO        ")
                                                          : asText(v[1].toString(), 14));
        QCOMPARE(at(l, 31, 38), asDate(v[3].toString()));
        QCOMPARE(at(l, 39, 40), v[2].toString());
        QCOMPARE(at(l, 41, 42), asDigits(v[5].toString(), 2));
        QCOMPARE(at(l, 43, 45), asText(v[6].toString(), 3));
        QCOMPARE(at(l, 46, 51), asDigits(QString::number(v[4].toLongLong() % 1000000), 6));
        QCOMPARE(at(l, 52, 55), v[7].toString());
        QCOMPARE(at(l, 56, 56),
                 v[8].toString() == u"S" ? QStringLiteral("P") : QStringLiteral("T"));
        QCOMPARE(at(l, 57, 69), asAmount(v[9].toDouble(), 13, 2));
        QCOMPARE(at(l, 70, 82), asAmount(v[10].toDouble(), 13, 2));
        QCOMPARE(at(l, 83, 95), asAmount(v[11].toDouble(), 13, 2));
        QCOMPARE(at(l, 96, 108), asAmount(v[12].toDouble(), 13, 2));
        QCOMPARE(at(l, 109, 121), asAmount(v[13].toDouble(), 13, 2));
        QCOMPARE(at(l, 122, 125), asAmount(v[14].toDouble(), 4, 2));
        QCOMPARE(at(l, 126, 126),
                 v[15].toString() == u"S" ? QStringLiteral("S") : QStringLiteral("N"));
    }

    // Records 54: the items, invoice by invoice in the same order, then by item number.
    QSet<QString> products;
    int items = 0;
    for (const FileInvoice &inv : invoices) {
        const auto rows = data.rows(
            QStringLiteral("SELECT NRITEM, NRCFOP, CDCST, CDPRODUTO, QTITEM, VRPRODUTO, VRDESCONTO,"
                           " VRBASEICMS, VRBASEICMSST, VRIPI, PCALIQICMS FROM NFCOMPRAITEM"
                           " WHERE CDFILIAL = ? AND NRLANCTONF = ? ORDER BY NRITEM"),
            {inv.row[16], inv.row[17]});
        for (const QVariantList &it : rows) {
            const QString l = lines.at(n++);
            ++items;
            QCOMPARE(at(l, 1, 2), QStringLiteral("54"));
            QCOMPARE(at(l, 3, 16), asDigits(inv.doc(), 14));
            QCOMPARE(at(l, 17, 18), asDigits(inv.row[5].toString(), 2));
            QCOMPARE(at(l, 19, 21), asText(inv.row[6].toString(), 3));
            QCOMPARE(at(l, 22, 27),
                     asDigits(QString::number(inv.number().toLongLong() % 1000000), 6));
            QCOMPARE(at(l, 28, 31), it[1].toString());
            QCOMPARE(at(l, 32, 34), asText(it[2].toString(), 3));
            QCOMPARE(at(l, 35, 37), asDigits(it[0].toString(), 3));
            QCOMPARE(at(l, 38, 51), asText(it[3].toString(), 14));
            QCOMPARE(at(l, 52, 62), asAmount(it[4].toDouble(), 11, 3));
            QCOMPARE(at(l, 63, 74), asAmount(it[5].toDouble(), 12, 2));
            QCOMPARE(at(l, 75, 86), asAmount(it[6].toDouble(), 12, 2));
            QCOMPARE(at(l, 87, 98), asAmount(it[7].toDouble(), 12, 2));
            QCOMPARE(at(l, 99, 110), asAmount(it[8].toDouble(), 12, 2));
            QCOMPARE(at(l, 111, 122), asAmount(it[9].toDouble(), 12, 2));
            QCOMPARE(at(l, 123, 126), asAmount(it[10].toDouble(), 4, 2));
            products.insert(it[3].toString());
        }
    }

    // Records 75: one per product used, by code.
    QStringList codes(products.cbegin(), products.cend());
    std::sort(codes.begin(), codes.end());
    for (const QString &code : codes) {
        const QVariantList p =
            data.rows(QStringLiteral("SELECT CDNCM, DSPRODUTO, SGUNIDADE, PCALIQIPI, PCALIQICMS,"
                                     " PCREDBASEICMS, VRBASEICMSST FROM PRODUTO"
                                     " WHERE CDPRODUTO = ?"),
                      {code})
                .first();
        const QString l = lines.at(n++);
        QCOMPARE(at(l, 1, 2), QStringLiteral("75"));
        QCOMPARE(at(l, 3, 10), start);
        QCOMPARE(at(l, 11, 18), end);
        QCOMPARE(at(l, 19, 32), asText(code, 14));
        QCOMPARE(at(l, 33, 40), asText(p[0].toString(), 8));
        QCOMPARE(at(l, 41, 93), asText(p[1].toString(), 53));
        QCOMPARE(at(l, 94, 99), asText(p[2].toString(), 6));
        QCOMPARE(at(l, 100, 104), asAmount(p[3].toDouble(), 5, 2));
        QCOMPARE(at(l, 105, 108), asAmount(p[4].toDouble(), 4, 2));
        QCOMPARE(at(l, 109, 113), asAmount(p[5].toDouble(), 5, 2));
        QCOMPARE(at(l, 114, 126), asAmount(p[6].toDouble(), 13, 2));
    }

    // Record 90: the totals, then the count of all lines, in one record.
    QCOMPARE(n, lines.size() - 1);
    const QString r90 = lines.at(n);
    QCOMPARE(at(r90, 1, 2), QStringLiteral("90"));
    QCOMPARE(at(r90, 3, 16), at(r10, 3, 16));
    QCOMPARE(at(r90, 17, 30), at(r10, 17, 30));
    const QString pairs = QStringLiteral("50") + asDigits(QString::number(invoices.size()), 8) +
                          QStringLiteral("54") + asDigits(QString::number(items), 8) +
                          QStringLiteral("75") + asDigits(QString::number(codes.size()), 8) +
                          QStringLiteral("99") + asDigits(QString::number(lines.size()), 8);
    QCOMPARE(at(r90, 31, 125), pairs.leftJustified(95, u' '));
    QCOMPARE(at(r90, 126, 126), QStringLiteral("1"));
}

void TestServerExport::linesFollowTheLayout()
{
    // Two registrations, pending and exported invoices alike, cancelled ones included.
    auto invoices = invoicesOf(QStringLiteral("052147836"), 400);
    invoices += invoicesOf(QStringLiteral("061258473"), 150);
    // A flag neither pending nor exported as the list writes them: kept and restored as it is.
    const ChangedInvoices oddFlag(*m_db, {invoices[7]}, {QStringLiteral("IDNFCOMPRALEG")},
                                  {{QStringLiteral("X")}});
    const QString flagOf = QStringLiteral("SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = ?"
                                          " AND NRLANCTONF = ?");
    QMap<QPair<QString, QString>, QString> flagsBefore;
    for (const auto &invoice : invoices)
        flagsBefore[invoice] = m_db->value(flagOf, {invoice.first, invoice.second}).toString();
    QList<QPair<QString, QString>> files;
    const QString list = registerList(invoices, &files);
    QCOMPARE(files.size(), 2);

    for (qsizetype f = 0; f < files.size(); ++f) {
        RegistroCall call;
        call.list = list;
        call.registration = files[f].first;
        call.lastFile = f + 1 == files.size() ? QStringLiteral("F") : QStringLiteral("I");
        RegistroPage first = getRegistro(*m_client, call);
        QCOMPARE(first.status, QStringLiteral("OK"));
        QCOMPARE(first.directory, QDir(m_db->outputDir()).absolutePath() + u'/');
        QCOMPARE(first.more, QStringLiteral("N"));
        QVERIFY(!first.continuation.isEmpty());
        QCOMPARE(call.continuation, first.continuation);
        QCOMPARE(call.baseName, QStringLiteral("COMPRA"));
        QCOMPARE(call.list, list);
        for (qsizetype i = 0; i < first.lineNumbers.size(); ++i) {
            QCOMPARE(first.lineNumbers[i], i + 1);
            QCOMPARE(first.fileNumbers[i], first.continuation);
        }
        call.start = QDate(2024, 12, 1);
        checkFile(first.lines, list, files[f].first, call);
        if (QTest::currentTestFailed())
            return;
        // Served in full: file marked, lines deleted right after the answer, invoices exported.
        QTRY_COMPARE(storedLineCount(*m_db, first.continuation), qint64(0));
        QCOMPARE(m_db->value(QStringLiteral("SELECT IDSERVIDO FROM ARQCOMPRALEG WHERE"
                                            " NRSEQARQMAG = ?"),
                             {first.continuation})
                     .toString(),
                 QStringLiteral("S"));
    }
    QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                                        " USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                                        " AND N.IDNFCOMPRALEG = 'S'"),
                         {list})
                 .toInt(),
             invoices.size());
    // Row by row, each invoice's flag from before its file was built, kept in the list.
    const QList<QVariantList> kept =
        m_db->rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, IDNFCOMPRALEGANT FROM"
                                  " LISTACOMPRALEGNF WHERE NRLISTA = ?"),
                   {list});
    QCOMPARE(kept.size(), invoices.size());
    for (const QVariantList &row : kept)
        QCOMPARE(row[2].toString(), flagsBefore.value({row[0].toString(), row[1].toString()}));
    QCOMPARE(flagsBefore.value(invoices[7]), QStringLiteral("X"));
}

void TestServerExport::firstPageErrors_data()
{
    QTest::addColumn<ChangeCall>("change");
    QTest::addColumn<QString>("expected"); // in the status

    QTest::addRow("unknown list") << ChangeCall([](RegistroCall &c) {
        c.list = QStringLiteral("0000999999");
    }) << QStringLiteral("Lista");
    QTest::addRow("empty list") << ChangeCall([](RegistroCall &c) { c.list.clear(); })
                                << QStringLiteral("lista");
    QTest::addRow("registration not in the list")
        << ChangeCall([](RegistroCall &c) { c.registration = QStringLiteral("052147836"); })
        << QStringLiteral("inscrição");
    QTest::addRow("unknown tax") << ChangeCall([](RegistroCall &c) {
        c.tax = QStringLiteral("99");
    }) << QStringLiteral("Imposto");
    QTest::addRow("period end before start")
        << ChangeCall([](RegistroCall &c) { c.end = c.start.addDays(-1); })
        << QStringLiteral("Data inicial");
    QTest::addRow("other company")
        << ChangeCall([](RegistroCall &c) { c.company = QStringLiteral("02"); })
        << QStringLiteral("empresa");
}

void TestServerExport::firstPageErrors()
{
    QFETCH(ChangeCall, change);
    QFETCH(QString, expected);
    // One list for all rows, registered by the first: no bad call may change it.
    if (m_firstPageList.isEmpty()) {
        QList<QPair<QString, QString>> files;
        m_firstPageList = registerList(invoicesOf(QStringLiteral("074369581"), 5), &files);
        QVERIFY(!files.isEmpty());
        m_firstPageRegistration = files.first().first;
    }
    const QByteArray before = m_db->checksum();
    RegistroCall call;
    call.list = m_firstPageList;
    call.registration = m_firstPageRegistration;
    change(call);
    const RegistroPage page = getRegistro(*m_client, call);
    QVERIFY2(page.status.contains(expected), qPrintable(page.status));
    QVERIFY(page.lines.isEmpty());
    QCOMPARE(page.more, QStringLiteral("N"));
    QCOMPARE(m_db->checksum(), before);
}

void TestServerExport::layoutErrorNamesTheInvoice()
{
    auto invoices =
        invoicesOf(QStringLiteral("083471692"), 20, QStringLiteral("AND IDNFCOMPRALEG = 'N'"));
    QVERIFY(invoices.size() >= 2);
    m_db->exec(QStringLiteral("UPDATE NFCOMPRA SET NRNOTAFISC = '12A45' WHERE CDFILIAL = ? AND"
                              " NRLANCTONF = ?"),
               {invoices[1].first, invoices[1].second});
    QList<QPair<QString, QString>> files;
    const QString list = registerList(invoices, &files);
    RegistroCall call;
    call.list = list;
    call.registration = files.first().first;
    const RegistroPage page = getRegistro(*m_client, call);
    QVERIFY2(page.status.contains(QLatin1String("12A45")) &&
                 page.status.contains(invoices[1].second),
             qPrintable(page.status));
    // Nothing of the failed build stays: no lines, no invoice marked exported.
    QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                                        " USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                                        " AND N.IDNFCOMPRALEG = 'S'"),
                         {list})
                 .toInt(),
             0);
    QCOMPARE(storedLineCountOfList(*m_db, list), qint64(0));
    m_client->call(QStringLiteral("GetDeletaLista"), {list});
}

// Two invoices of one date whose numbers are typed with blanks around them ("  99 " and "100"):
// the file orders them by their numbers, 99 first, as the records read them, instead of
// refusing the file for invoices out of order.
void TestServerExport::numbersWithBlanksAreOrderedAsNumbers_data()
{
    QTest::addColumn<QString>("series"); // of the invoice that comes second
    QTest::addRow("ordered by one key") << QStringLiteral("1");
    // A series the one key leaves to SQLite's own expressions: the same order then.
    QTest::addRow("ordered by the expressions") << QStringLiteral("É");
}

void TestServerExport::numbersWithBlanksAreOrderedAsNumbers()
{
    QFETCH(QString, series);
    const auto invoices =
        invoicesOf(QStringLiteral("074369581"), 2, QStringLiteral("AND IDNFCOMPRALEG = 'N'"));
    QVERIFY(invoices.size() == 2);
    const ChangedInvoices changed(
        *m_db, invoices,
        {QStringLiteral("DTEMISSAO"), QStringLiteral("NRNOTAFISC"), QStringLiteral("CDSERIE")},
        {{QStringLiteral("2025-05-02"), QStringLiteral("100"), series},
         {QStringLiteral("2025-05-02"), QStringLiteral("  99 "), QStringLiteral("1")}});

    QString list;
    const RegistroPage page = firstPageOf(invoices, &list);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QStringList numbers; // record 50's number, positions 46-51
    for (const QString &line : page.lines) {
        if (line.startsWith(u"50"))
            numbers << line.mid(45, 6);
    }
    QCOMPARE(numbers, (QStringList{QStringLiteral("000099"), QStringLiteral("000100")}));
    m_client->call(QStringLiteral("GetDeletaLista"), {list});
}

// An invoice whose client row is missing (written by a program that does not enforce the foreign
// key) goes out with the client's columns blank, among the others in their order, and the other
// invoice keeps its own client's.
void TestServerExport::invoiceWhoseClientIsGone()
{
    const auto invoices =
        invoicesOf(QStringLiteral("074369581"), 2, QStringLiteral("AND IDNFCOMPRALEG = 'N'"));
    QVERIFY(invoices.size() == 2);
    const QVariant client = m_db->value(QStringLiteral("SELECT CDCLIENTE FROM NFCOMPRA WHERE"
                                                       " CDFILIAL = ? AND NRLANCTONF = ?"),
                                        {invoices[0].first, invoices[0].second});
    // The same day and number for both: the missing client's blank document puts it first.
    const ChangedInvoices changed(
        *m_db, invoices,
        {QStringLiteral("DTEMISSAO"), QStringLiteral("NRNOTAFISC"), QStringLiteral("CDCLIENTE")},
        {{QStringLiteral("2025-05-02"), QStringLiteral("100"), QStringLiteral("NO-SUCH-CLIENT")},
         {QStringLiteral("2025-05-02"), QStringLiteral("100"), client}});
    const QVariantList kept = m_db->rows(QStringLiteral("SELECT NRINSJURCLIE, NRINSCESTCLIE,"
                                                        " SGESTADO FROM CLIENTE WHERE"
                                                        " CDCLIENTE = ?"),
                                         {client})
                                  .value(0);
    QVERIFY(!kept.isEmpty() && !kept[0].toString().isEmpty());

    QString list;
    const RegistroPage page = firstPageOf(invoices, &list);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QStringList records50;
    for (const QString &line : page.lines) {
        if (line.startsWith(u"50"))
            records50 << line;
    }
    QCOMPARE(records50.size(), 2);
    // The document, the registration and the state, positions 3-16, 17-30 and 39-40.
    QCOMPARE(records50[0].mid(2, 14), QStringLiteral("00000000000000"));
    QCOMPARE(records50[0].mid(16, 14), QStringLiteral("ISENTO        "));
    QCOMPARE(records50[0].mid(38, 2), QStringLiteral("  "));
    QCOMPARE(records50[1].mid(2, 14), asDigits(kept[0].toString(), 14));
    QCOMPARE(records50[1].mid(16, 14), kept[1].toString().isEmpty()
                                           ? QStringLiteral("ISENTO        ")
                                           : asText(kept[1].toString(), 14));
    QCOMPARE(records50[1].mid(38, 2), kept[2].toString());
    m_client->call(QStringLiteral("GetDeletaLista"), {list});
}

// Invoices without items between invoices with them: each item line carries its own invoice's
// key, whatever invoices were passed over.
void TestServerExport::invoicesWithoutItems()
{
    const QString reg = QStringLiteral("061258473");
    const auto invoices = invoicesOf(reg, 40);
    QVERIFY(invoices.size() == 40);
    m_db->exec(QStringLiteral("CREATE TABLE ITENSGUARDADOS AS SELECT * FROM NFCOMPRAITEM"
                              " WHERE 0"));
    const auto putBack = qScopeGuard([&] {
        m_db->exec(QStringLiteral("INSERT INTO NFCOMPRAITEM SELECT * FROM ITENSGUARDADOS"));
        m_db->exec(QStringLiteral("DROP TABLE ITENSGUARDADOS"));
    });
    // The first, one in three, and the last two: runs of them too.
    for (qsizetype i = 0; i < invoices.size(); ++i) {
        if (i % 3 != 0 && i < invoices.size() - 2)
            continue;
        const QVariantList key{invoices[i].first, invoices[i].second};
        m_db->exec(QStringLiteral("INSERT INTO ITENSGUARDADOS SELECT * FROM NFCOMPRAITEM"
                                  " WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                   key);
        m_db->exec(QStringLiteral("DELETE FROM NFCOMPRAITEM WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                   key);
    }
    QVERIFY(m_db->value(QStringLiteral("SELECT count(*) FROM ITENSGUARDADOS")).toInt() > 0);

    QString list;
    const RegistroPage page = firstPageOf(invoices, &list);
    QCOMPARE(page.status, QStringLiteral("OK"));
    RegistroCall call;
    call.start = QDate(2024, 12, 1);
    checkFile(page.lines, list, reg, call);
    m_client->call(QStringLiteral("GetDeletaLista"), {list});
}

// How an invoice's date, model and number are read: padded or zero-filled forms are the plain
// value, anything else a refusal that quotes the value and names the invoice.
void TestServerExport::invoiceKeyValuesRead_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("refusal"); // empty: the file is built

    QTest::newRow("number zero-filled") << "NRNOTAFISC"
                                        << "000123" << QString();
    QTest::newRow("number of zeros") << "NRNOTAFISC"
                                     << "0000" << QString();
    QTest::newRow("number of 18 digits") << "NRNOTAFISC"
                                         << "123456789012345678" << QString();
    QTest::newRow("number of 19 digits") << "NRNOTAFISC"
                                         << "1234567890123456789"
                                         << "número que não é numérico";
    QTest::newRow("number with a letter") << "NRNOTAFISC"
                                          << "12A45"
                                          << "número que não é";
    QTest::newRow("number with accents")
        << "NRNOTAFISC" << QStringLiteral("nº 12") << "número que não é numérico";
    QTest::newRow("model padded") << "CDMODELONF"
                                  << " 1" << QString();
    QTest::newRow("model not a number") << "CDMODELONF"
                                        << "5x"
                                        << "modelo inválido";
    QTest::newRow("date with a time") << "DTEMISSAO"
                                      << "2025-05-02 10:11:12" << QString();
    QTest::newRow("date of no day") << "DTEMISSAO"
                                    << "2025-02-30"
                                    << "data de emissão inválida";
    QTest::newRow("date without dashes") << "DTEMISSAO"
                                         << "20250502"
                                         << "data de emissão";
    QTest::newRow("date cut short") << "DTEMISSAO"
                                    << "2025-05"
                                    << "data de emissão inválida";
}

void TestServerExport::invoiceKeyValuesRead()
{
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, refusal);
    const auto invoices =
        invoicesOf(QStringLiteral("074369581"), 3, QStringLiteral("AND IDNFCOMPRALEG = 'N'"));
    QVERIFY(invoices.size() == 3);
    const QVariantList old = m_db->rows(QStringLiteral("SELECT %1 FROM NFCOMPRA WHERE CDFILIAL = ?"
                                                       " AND NRLANCTONF = ?")
                                            .arg(column),
                                        {invoices[1].first, invoices[1].second})
                                 .value(0);
    const QString change =
        QStringLiteral("UPDATE NFCOMPRA SET %1 = ? WHERE CDFILIAL = ? AND NRLANCTONF = ?")
            .arg(column);
    m_db->exec(change, {value, invoices[1].first, invoices[1].second});
    const auto putBack = qScopeGuard([&] {
        m_db->exec(change, {old.value(0), invoices[1].first, invoices[1].second});
    });
    QString list;
    const RegistroPage page = firstPageOf(invoices, &list);
    if (refusal.isEmpty()) {
        QCOMPARE(page.status, QStringLiteral("OK"));
    } else {
        QVERIFY2(page.status.contains(refusal) && page.status.contains(invoices[1].second) &&
                     page.status.contains(value.trimmed()),
                 qPrintable(page.status));
    }
    m_client->call(QStringLiteral("GetDeletaLista"), {list});
}

void TestServerExport::laterPageErrors()
{
    ServerProcess small(m_db->path(), m_db->outputDir(),
                        {QStringLiteral("--page-size"), QStringLiteral("10")});
    QVERIFY(small.isRunning());
    auto client = small.connect();
    QList<QPair<QString, QString>> files;
    const QString list =
        registerList(invoicesOf(QStringLiteral("112583704"), 5), &files, client.get());
    RegistroCall call;
    call.company = QStringLiteral("02");
    call.list = list;
    call.registration = files.first().first;
    const RegistroPage first = getRegistro(*client, call);
    QCOMPARE(first.more, QStringLiteral("S"));
    RegistroCall wrong = call;
    wrong.first = wrong.last + 1;
    wrong.last += 10;
    wrong.continuation = QStringLiteral("0000999999");
    QVERIFY(!rpcErrorOf([&] { getRegistro(*client, wrong); }).isEmpty());
    wrong.continuation = call.continuation;
    wrong.registration = QStringLiteral("052147836");
    QVERIFY(!rpcErrorOf([&] { getRegistro(*client, wrong); }).isEmpty());
    // The client goes on fine after those errors; once served, the continuation is spent.
    RegistroPage next;
    do {
        call.first = call.last + 1;
        call.last += 50000;
        next = getRegistro(*client, call);
        QCOMPARE(next.lineNumbers.size(),
                 10 * (next.more == u"S") + next.lines.size() * (next.more != u"S"));
    } while (next.more == u"S");
    call.first = call.last + 1;
    call.last += 10;
    QVERIFY(!rpcErrorOf([&] { getRegistro(*client, call); }).isEmpty());
}

void TestServerExport::boundsSetByServer()
{
    ServerProcess sized(m_db->path(), m_db->outputDir(),
                        {QStringLiteral("--page-size"), QStringLiteral("100")});
    QVERIFY(sized.isRunning());
    auto client = sized.connect();
    QList<QPair<QString, QString>> files;
    const QString list =
        registerList(invoicesOf(QStringLiteral("125694815"), 80), &files, client.get());
    RegistroCall call;
    call.company = QStringLiteral("02");
    call.list = list;
    call.registration = files.first().first;

    // The caller asks for 0..40: the page has the server's 100 lines, and `last` says so.
    call.last = 40;
    RegistroPage page = getRegistro(*client, call);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QCOMPARE(page.lineNumbers.size(), 100);
    QCOMPARE(page.lineNumbers.first(), 1);
    QCOMPARE(page.lineNumbers.last(), 100);
    QCOMPARE(call.first, 0.0);
    QCOMPARE(call.last, 100.0);
    QCOMPARE(page.more, QStringLiteral("S"));
    QList<QString> all = page.lines;
    const qint64 total =
        m_db->value(QStringLiteral("SELECT NRTOTREGISTROS FROM ARQCOMPRALEG WHERE NRSEQARQMAG = ?"),
                    {call.continuation})
            .toLongLong();
    QVERIFY(total > 250);

    // 101..50100 is more than a page: the server lowers `last` to 200.
    call.first = 101;
    call.last = 50100;
    page = getRegistro(*client, call);
    QCOMPARE(call.last, 200.0);
    QCOMPARE(page.lineNumbers.size(), 100);
    QCOMPARE(page.lineNumbers.first(), 101);
    QCOMPARE(page.lineNumbers.last(), 200);
    all += page.lines;
    // 201..240, fewer: raised to 300. An exact page of 100 is left alone.
    call.first = 201;
    call.last = 240;
    page = getRegistro(*client, call);
    QCOMPARE(call.last, 300.0);
    QCOMPARE(page.lineNumbers.size(), 100);
    all += page.lines;
    while (page.more == u"S") {
        call.first = call.last + 1;
        call.last = call.first + 99;
        const double asked = call.last;
        page = getRegistro(*client, call);
        QCOMPARE(call.last, asked);
        QVERIFY(page.lineNumbers.size() <= 100);
        QCOMPARE(page.lineNumbers.first(), qint64(call.first));
        all += page.lines;
    }
    QCOMPARE(all.size(), total);
    QCOMPARE(page.lineNumbers.last(), total);
    call.start = QDate(2024, 12, 1);
    checkFile(all, list, files.first().first, call);
}

// A failed run: file A was served in full and written, file B was served in full but was the
// last one asked for (its writing may have failed), file C is half served, file D never asked
// for. Deleting the list gives B's and C's invoices back their earlier flag; A's stay exported.
void TestServerExport::deleteListRestoresInvoices()
{
    ServerProcess capped(m_db->path(), m_db->outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("20")});
    QVERIFY(capped.isRunning());
    auto client = capped.connect();
    const QStringList regs = {"052147836", "061258473", "074369581", "083471692"};
    QList<QPair<QString, QString>> invoices;
    for (const QString &reg : regs)
        invoices += invoicesOf(reg, 6, QStringLiteral("AND IDNFCOMPRALEG = 'N'"));
    // One invoice of C was exported before this list: it must stay exported.
    const auto earlier = invoicesOf(regs[2], 1, QStringLiteral("AND IDNFCOMPRALEG = 'S'"));
    invoices += earlier;
    QList<QPair<QString, QString>> files;
    const QString list = registerList(invoices, &files, client.get());
    QCOMPARE(files.size(), 4);

    const auto call = [&](const QString &reg) {
        RegistroCall c;
        c.list = list;
        c.registration = reg;
        return c;
    };
    RegistroCall a = call(regs[0]);
    RegistroCall b = call(regs[1]);
    RegistroCall c = call(regs[2]);
    fetchFile(*client, a);
    QCOMPARE(getRegistro(*client, c).more, QStringLiteral("S")); // half served
    fetchFile(*client, b);

    const auto flags = [&](const QString &reg) {
        QStringList out;
        for (const QVariantList &r : m_db->rows(
                 QStringLiteral("SELECT N.IDNFCOMPRALEG FROM LISTACOMPRALEGNF L JOIN NFCOMPRA"
                                " N USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                                " AND N.CDINSCESTA = ? ORDER BY N.NRLANCTONF"),
                 {list, reg}))
            out << r[0].toString();
        return out;
    };
    QCOMPARE(flags(regs[0]), QStringList(6, QStringLiteral("S")));
    QCOMPARE(flags(regs[1]), QStringList(6, QStringLiteral("S")));
    QCOMPARE(flags(regs[2]), QStringList(7, QStringLiteral("S")));
    QCOMPARE(flags(regs[3]), QStringList(6, QStringLiteral("N")));

    // An empty number is an error text, and so is an unknown one.
    QVERIFY(client->call(QStringLiteral("GetDeletaLista"), {""}).at(0).toText() != u"OK");
    QCOMPARE(client->call(QStringLiteral("GetDeletaLista"), {"0000888888"}).at(0).toText(),
             QStringLiteral("Lista 0000888888 não encontrada."));

    const QString earlierKey = earlier.first().second;
    QCOMPARE(client->call(QStringLiteral("GetDeletaLista"), {list}).at(0).toText(),
             QStringLiteral("OK"));
    const auto flagOf = [&](const QPair<QString, QString> &inv) {
        return m_db
            ->value(QStringLiteral("SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = ?"
                                   " AND NRLANCTONF = ?"),
                    {inv.first, inv.second})
            .toString();
    };
    for (const auto &inv : invoices) {
        const QString reg = m_db->value(QStringLiteral("SELECT CDINSCESTA FROM NFCOMPRA WHERE"
                                                       " CDFILIAL = ? AND NRLANCTONF = ?"),
                                        {inv.first, inv.second})
                                .toString();
        const QString expected =
            reg == regs[0] || inv.second == earlierKey ? QStringLiteral("S") : QStringLiteral("N");
        QVERIFY2(flagOf(inv) == expected, qPrintable(reg + u' ' + inv.second));
    }
    for (const char *table :
         {"LISTACOMPRALEG", "LISTACOMPRALEGNF", "ARQCOMPRALEG", "BLOCOARQCOMPRALEG"})
        QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM %1 WHERE NRLISTA = ?")
                                 .arg(QLatin1String(table)),
                             {list})
                     .toInt(),
                 0);
}

// A file of more than 100,000 lines in pages of 50,000 as the screen asks for them.
void TestServerExport::pagingAcrossThreePages()
{
    TestDatabase big(90000, 7);
    QVERIFY(big.isValid());
    ServerProcess server(big.path(), big.outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("50000")});
    QVERIFY(server.isRunning());
    auto client = server.connect();
    const QString list = client->call(QStringLiteral("GetLista")).toText();
    QList<QPair<QString, QString>> invoices;
    for (const QVariantList &r : big.rows(
             QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM NFCOMPRA WHERE CDFILIAL = '0001'")))
        invoices.append({r[0].toString(), r[1].toString()});
    QStringList regs(invoices.size(), QString());
    regs[0] = QStringLiteral("052147836");
    const DataPacket files =
        decodePacket(client
                         ->call(QStringLiteral("getNotasMarcadas"),
                                {RpcValue::fromPacket(listaPacket(list, invoices, regs))})
                         .toPacket());
    QCOMPARE(int(files.rows.size()), 1);

    RegistroCall call;
    call.list = list;
    call.registration = QStringLiteral("052147836");
    const struct
    {
        double first, last;
        QString more;
    } pages[] = {{0, 50000, "S"}, {50001, 100000, "S"}, {100001, 150000, "N"}};
    qint64 expectedLine = 1;
    for (const auto &p : pages) {
        call.first = p.first;
        call.last = p.last;
        const RegistroPage page = getRegistro(*client, call);
        QCOMPARE(page.status, QStringLiteral("OK"));
        QCOMPARE(page.more, p.more);
        QCOMPARE(call.first, p.first);
        QCOMPARE(call.last, p.last);
        QVERIFY(!page.lineNumbers.isEmpty());
        QCOMPARE(page.lineNumbers.first(), expectedLine);
        for (qsizetype i = 0; i < page.lineNumbers.size(); ++i)
            QCOMPARE(page.lineNumbers[i], expectedLine + i);
        if (p.more == u"S")
            QCOMPARE(page.lineNumbers.size(), 50000);
        else
            QCOMPARE(page.lines.last().left(2), QStringLiteral("90"));
        expectedLine += page.lineNumbers.size();
    }
    QVERIFY(expectedLine > 100001);
    // The invoices are marked a slice of the list at a time: every one of them, and each with
    // the flag it had before kept, whatever slice it fell in.
    QVERIFY2(invoices.size() > 20000, qPrintable(QString::number(invoices.size())));
    QCOMPARE(big.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                                      " USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                                      " AND N.IDNFCOMPRALEG = 'S'"
                                      " AND L.IDNFCOMPRALEGANT IS NOT NULL"),
                       {list})
                 .toInt(),
             invoices.size());
}

// A fault found after thousands of lines have been stored: the answer names it and the whole
// build is undone; once put right, the same first call builds the full file.
// A served file's lines are deleted once the calls of the server pause: not while they follow
// each other, and not never when they do not stop.
void TestServerExport::servedLinesWaitForTheCallsToPause()
{
    QString list;
    const RegistroPage page = firstPageOf(invoicesOf(QStringLiteral("052147836"), 30), &list);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QCOMPARE(page.more, QStringLiteral("N"));
    const auto stored = [&] {
        return storedLineCount(*m_db, page.continuation);
    };
    QVERIFY(stored() > 0);
    const auto call = [&] {
        return m_client->call(QStringLiteral("GetDiretorio")).at(0).toText();
    };
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2500) {
        QCOMPARE(call(), QStringLiteral("OK"));
        QVERIFY2(stored() > 0,
                 qPrintable(QStringLiteral("deleted after %1 ms of calls").arg(clock.elapsed())));
        QTest::qWait(50);
    }
    // Calls without a pause: deleted all the same, some seconds after being served.
    while (stored() > 0 && clock.elapsed() < 60000) {
        QCOMPARE(call(), QStringLiteral("OK"));
        QTest::qWait(50);
    }
    QCOMPARE(stored(), qint64(0));

    // Deleted soon once the calls stop.
    const RegistroPage again = firstPageOf(invoicesOf(QStringLiteral("061258473"), 30), &list);
    QCOMPARE(again.more, QStringLiteral("N"));
    QTRY_COMPARE(storedLineCount(*m_db, again.continuation), qint64(0));
}

// The write-ahead log is copied into the database once the calls pause, not alongside them: the
// copy would take a core from a build.
void TestServerExport::logCopiedOnceTheCallsPause()
{
    const QString path = m_db->path();
    const auto database = [&path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                   : QByteArray();
    };
    // Some 8 MB in the log, far past the size at which a commit asks for the copy; this
    // connection copies nothing itself.
    SqliteConnection writer(path, 5000);
    writer.exec("PRAGMA wal_autocheckpoint = 0");
    writer.exec("CREATE TABLE TMPLOG (X BLOB NOT NULL)");
    writer.exec("WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 2000)"
                " INSERT INTO TMPLOG SELECT randomblob(4000) FROM N");
    writer.exec("DROP TABLE TMPLOG");
    const QByteArray before = database();
    QVERIFY(!before.isEmpty());

    // A call that commits asks for the copy; it waits while calls follow each other.
    QVERIFY(!m_client->call(QStringLiteral("GetLista")).toText().isEmpty());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2500) {
        QCOMPARE(m_client->call(QStringLiteral("GetDiretorio")).at(0).toText(),
                 QStringLiteral("OK"));
        QVERIFY2(database() == before,
                 qPrintable(QStringLiteral("copied after %1 ms of calls").arg(clock.elapsed())));
        QTest::qWait(50);
    }
    // Soon once they stop.
    QTRY_VERIFY_WITH_TIMEOUT(database() != before, 5000);
}

void TestServerExport::lateFaultInBigFileLeavesNothing()
{
    TestDatabase big(30000, 5);
    QVERIFY(big.isValid());
    ServerProcess server(big.path(), big.outputDir());
    QVERIFY(server.isRunning());
    auto client = server.connect();
    const QString list = client->call(QStringLiteral("GetLista")).toText();
    QList<QPair<QString, QString>> invoices;
    for (const QVariantList &r : big.rows(
             QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM NFCOMPRA WHERE CDFILIAL = '0001'")))
        invoices.append({r[0].toString(), r[1].toString()});
    QVERIFY(invoices.size() > 5000);
    client->call(QStringLiteral("getNotasMarcadas"),
                 {RpcValue::fromPacket(listaPacket(
                     list, invoices, QStringList(invoices.size(), QStringLiteral("052147836"))))});
    const auto exportedOfList = [&] {
        return exportedInvoicesOfList(big, list);
    };
    const int exportedBefore = exportedOfList();

    // Faults at both ends of the items and in their middle, each put right before the next:
    // the items are read and laid out at the same time, and whichever side finds the fault,
    // at whatever point, the answer names it and nothing of the build stays.
    struct Fault
    {
        QString order; // picks the item from the file's invoices
        const char *column;
        QVariant value;
        QString expected; // the status begins with it, %1 the item number
    };
    const int itemsOfFile =
        big.value(QStringLiteral("SELECT count(*) FROM NFCOMPRAITEM WHERE CDFILIAL = '0001'"))
            .toInt();
    const QList<Fault> faults = {
        // 12 digits with 3 decimals: too long for the record; found laying it out.
        {QStringLiteral("N.DTEMISSAO DESC, I.NRITEM DESC"), "QTITEM", 123456789.5,
         QStringLiteral("O item %1 da")},
        {QStringLiteral("N.DTEMISSAO, I.NRITEM"), "QTITEM", 123456789.5,
         QStringLiteral("O item %1 da")},
        // Found reading it.
        {QStringLiteral("N.DTEMISSAO, I.NRITEM LIMIT 1 OFFSET %1").arg(itemsOfFile / 2), "NRCFOP",
         QStringLiteral("1X02"), QStringLiteral("O item %1 da")},
    };
    for (const Fault &fault : faults) {
        const QVariantList bad =
            big.rows(QStringLiteral("SELECT I.NRLANCTONF, I.NRITEM, I.%1 FROM NFCOMPRAITEM I"
                                    " JOIN NFCOMPRA N USING (CDFILIAL, NRLANCTONF)"
                                    " WHERE N.CDFILIAL = '0001' ORDER BY %2")
                         .arg(QLatin1String(fault.column), fault.order))
                .value(0);
        QCOMPARE(bad.size(), 3);
        const QString fixItem = QStringLiteral("UPDATE NFCOMPRAITEM SET %1 = ? WHERE CDFILIAL ="
                                               " '0001' AND NRLANCTONF = ? AND NRITEM = ?")
                                    .arg(QLatin1String(fault.column));
        big.exec(fixItem, {fault.value, bad[0], bad[1]});

        RegistroCall call;
        call.list = list;
        call.registration = QStringLiteral("052147836");
        call.last = 0;
        const RegistroPage failed = getRegistro(*client, call);
        QVERIFY2(failed.status.startsWith(fault.expected.arg(bad[1].toInt())) &&
                     failed.status.contains(bad[0].toString()),
                 qPrintable(failed.status));
        QVERIFY(failed.continuation.isEmpty());
        QCOMPARE(storedLineCountOfList(big, list), qint64(0));
        QCOMPARE(exportedOfList(), exportedBefore);
        QCOMPARE(big.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF WHERE NRLISTA ="
                                          " ? AND IDNFCOMPRALEGANT IS NOT NULL"),
                           {list})
                     .toInt(),
                 0);
        big.exec(fixItem, {bad[2], bad[0], bad[1]});
    }

    RegistroCall call;
    call.list = list;
    call.registration = QStringLiteral("052147836");
    call.last = 0;
    // Built without serving a line, then asked for again from the start, as a client retrying
    // does: the rebuild replaces the stored lines and keeps the flags kept the first time.
    const RegistroPage built = getRegistro(*client, call);
    QCOMPARE(built.status, QStringLiteral("OK"));
    QVERIFY(built.lines.isEmpty());
    const int total = big.value(QStringLiteral("SELECT NRTOTREGISTROS FROM ARQCOMPRALEG WHERE"
                                               " NRSEQARQMAG = ?"),
                                {built.continuation})
                          .toInt();
    QCOMPARE(storedLineCount(big, built.continuation), qint64(total));
    const QList<QString> lines = fetchFile(*client, call);
    QCOMPARE(lines.size(), total);
    QCOMPARE(big.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF WHERE NRLISTA = ?"
                                      " AND IDNFCOMPRALEGANT = 'S'"),
                       {list})
                 .toInt(),
             exportedBefore);
    const int products = big.value(QStringLiteral("SELECT count(DISTINCT CDPRODUTO) FROM"
                                                  " NFCOMPRAITEM WHERE CDFILIAL = '0001'"))
                             .toInt();
    QCOMPARE(lines.size(), 2 + invoices.size() + itemsOfFile + products + 1);
    // Record types in the file's order, each line in its place.
    QString types;
    for (const QString &line : lines) {
        QCOMPARE(line.size(), 126);
        if (!types.endsWith(line.left(2)))
            types += line.left(2);
    }
    QCOMPARE(types, QStringLiteral("1011505475") + QStringLiteral("90"));
    QCOMPARE(exportedOfList(), invoices.size());
    QTRY_COMPARE(storedLineCount(big), qint64(0));
}

// Two files of a list, paged with bounds inside the stored blocks and on their edges: each page
// holds exactly the server's page of lines from the first one asked for, numbered from 1 in their
// file, with SQUENCIAL counting on from the list's file before, as stored.
void TestServerExport::pagesCutAcrossBlocks()
{
    TestDatabase db(3000, 11);
    QVERIFY(db.isValid());
    ServerProcess capped(db.path(), db.outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("300")});
    QVERIFY(capped.isRunning());
    auto client = capped.connect();
    QList<QPair<QString, QString>> files;
    const QString list = registerListIn(db, *client,
                                        invoicesIn(db, QStringLiteral("052147836"), 350) +
                                            invoicesIn(db, QStringLiteral("061258473"), 350),
                                        &files);
    QCOMPARE(files.size(), 2);
    qint64 sequenceBase = 0;
    for (qsizetype f = 0; f < files.size(); ++f) {
        RegistroCall call;
        call.list = list;
        call.registration = files[f].first;
        call.lastFile = f + 1 == files.size() ? QStringLiteral("F") : QStringLiteral("I");
        // The first call builds the file and answers the server's page, lines 1 to 300,
        // whatever the caller asked.
        call.last = 249;
        RegistroPage page = getRegistro(*client, call);
        QCOMPARE(call.last, 300.0);
        QCOMPARE(page.status, QStringLiteral("OK"));
        const QList<StoredLine> stored = storedLines(db, page.continuation);
        const qint64 total = lineCountOf(db, page.continuation);
        QVERIFY2(total > 1052, qPrintable(QString::number(total)));
        QCOMPARE(stored.size(), total);
        for (qsizetype i = 0; i < stored.size(); ++i) {
            QCOMPARE(stored[i].number, i + 1);
            QCOMPARE(stored[i].sequence, sequenceBase + i + 1);
            QCOMPARE(stored[i].text.size(), 126);
        }
        QString difference = pageAgainstStored(page, stored, 1, 300);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        // Pages of 300 from a block's last line, its first, inside it, asked short or long.
        const QList<QPair<qint64, qint64>> bounds = {{250, 250}, {251, 251}, {252, 500},
                                                     {501, 750}, {751, 751}, {752, 50751}};
        for (const auto &[from, to] : bounds) {
            call.first = double(from);
            call.last = double(to);
            page = getRegistro(*client, call);
            QCOMPARE(call.last, double(from + 299));
            difference = pageAgainstStored(page, stored, from, from + 299);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
            QCOMPARE(page.more, QStringLiteral("S"));
        }
        while (page.more == u"S") {
            const qint64 from = qint64(call.last) + 1;
            call.first = double(from);
            call.last = double(from + 299);
            page = getRegistro(*client, call);
            difference = pageAgainstStored(page, stored, from, std::min(from + 299, total));
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
        QCOMPARE(qint64(call.last) >= total, true);
        sequenceBase += total;
    }
}

// Invoices of many items: the second half of a file's items is laid out alongside the first,
// its lines numbered on from the first half's. The file is whole, in order and numbered across
// the seam, paged through it in small pages; a fault of the second half is told only when the
// first has none, and nothing of a failed build stays.
void TestServerExport::manyItemsLaidOutInTwoRuns()
{
    TestDatabase db(900, 13);
    QVERIFY(db.isValid());
    // Each invoice's items again as numbers 10, 20, 30 and 40 above their own: 5 times the items.
    QStringList columns, copied;
    for (const QVariantList &c : db.rows(QStringLiteral("PRAGMA table_info(NFCOMPRAITEM)"))) {
        columns << c[1].toString();
        copied << (c[1].toString() == u"NRITEM" ? QStringLiteral("NRITEM + ?") : c[1].toString());
    }
    for (int k = 1; k <= 4; ++k)
        db.exec(QStringLiteral("INSERT INTO NFCOMPRAITEM (%1) SELECT %2 FROM NFCOMPRAITEM"
                               " WHERE NRITEM < 10")
                    .arg(columns.join(u", "), copied.join(u", ")),
                {10 * k});
    ServerProcess capped(db.path(), db.outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("300")});
    QVERIFY(capped.isRunning());
    auto client = capped.connect();
    const QString registration = QStringLiteral("052147836");
    const auto invoices = invoicesIn(db, registration, 400);
    QList<QPair<QString, QString>> files;
    const QString list = registerListIn(db, *client, invoices, &files);
    QCOMPARE(files.size(), 1);
    RegistroCall call;
    call.list = list;
    call.registration = registration;
    call.start = QDate(2024, 12, 1);
    const auto exportedOfList = [&] {
        return exportedInvoicesOfList(db, list);
    };
    const int exportedBefore = exportedOfList();
    // The list's first item by date and its last one: one in each half.
    const auto itemOfList = [&](const char *order) {
        return db
            .rows(QStringLiteral("SELECT I.CDFILIAL, I.NRLANCTONF, I.NRITEM, I.QTITEM, I.NRCFOP"
                                 " FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N USING (CDFILIAL,"
                                 " NRLANCTONF) JOIN NFCOMPRAITEM I USING (CDFILIAL, NRLANCTONF)"
                                 " WHERE L.NRLISTA = ? ORDER BY %1 LIMIT 1")
                      .arg(QLatin1String(order)),
                  {list})
            .value(0);
    };
    const QVariantList first = itemOfList("N.DTEMISSAO, N.NRNOTAFISC, I.NRITEM");
    const QVariantList last = itemOfList("N.DTEMISSAO DESC, N.NRNOTAFISC DESC, I.NRITEM DESC");
    QCOMPARE(first.size(), 5);
    QCOMPARE(last.size(), 5);
    const QString setItem = QStringLiteral("UPDATE NFCOMPRAITEM SET %1 = ? WHERE CDFILIAL = ?"
                                           " AND NRLANCTONF = ? AND NRITEM = ?");
    const auto set = [&](const char *column, const QVariant &value, const QVariantList &item) {
        db.exec(setItem.arg(QLatin1String(column)), {value, item[0], item[1], item[2]});
    };
    const auto failsNaming = [&](const QVariantList &item) {
        const RegistroPage failed = getRegistro(*client, call);
        QVERIFY2(failed.status.startsWith(QStringLiteral("O item %1 da").arg(item[2].toInt())) &&
                     failed.status.contains(item[1].toString()),
                 qPrintable(failed.status));
        QCOMPARE(storedLineCountOfList(db, list), qint64(0));
        QCOMPARE(exportedOfList(), exportedBefore);
    };
    // Too long for its record, in the second half: told, as the only fault.
    set("QTITEM", 123456789.5, last);
    failsNaming(last);
    // With a fault of the first half as well, read before it is laid out: the first one is told.
    set("NRCFOP", QStringLiteral("1X02"), first);
    failsNaming(first);
    if (QTest::currentTestFailed())
        return;
    set("QTITEM", last[3], last);
    set("NRCFOP", first[4], first);

    // Built by the first call: blocks stored from two runs, the first half's last one and the
    // second half's last one short, and every line numbered once, in order.
    call.first = 0;
    call.last = 300;
    RegistroPage page = getRegistro(*client, call);
    QCOMPARE(page.status, QStringLiteral("OK"));
    const QList<StoredLine> stored = storedLines(db, page.continuation);
    const qint64 total = lineCountOf(db, page.continuation);
    QCOMPARE(stored.size(), total);
    for (qsizetype i = 0; i < stored.size(); ++i) {
        QCOMPARE(stored[i].number, i + 1);
        QCOMPARE(stored[i].sequence, i + 1);
    }
    QVERIFY(db.value(QStringLiteral("SELECT count(*) FROM BLOCOARQCOMPRALEG WHERE"
                                    " NRSEQARQMAG = ? AND NRLINHAS < 250"),
                     {page.continuation})
                .toInt() >= 2);
    QList<QString> lines = page.lines;
    while (page.more == u"S") {
        call.first = call.last + 1;
        call.last = call.last + 300;
        page = getRegistro(*client, call);
        QCOMPARE(page.status, QStringLiteral("OK"));
        lines += page.lines;
    }
    QCOMPARE(lines.size(), total);
    QVERIFY(total > 5 * invoices.size());
    checkFile(lines, list, registration, call, &db);
    QCOMPARE(exportedOfList(), invoices.size());
}

// Stored lines changed behind the server's back: the page is a call error that says so, never
// a short or a missing line, and the file does not count as served.
void TestServerExport::damagedLinesAreACallError()
{
    TestDatabase db(3000, 12);
    QVERIFY(db.isValid());
    ServerProcess capped(db.path(), db.outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("100")});
    QVERIFY(capped.isRunning());
    auto client = capped.connect();
    QList<QPair<QString, QString>> files;
    const QString list =
        registerListIn(db, *client, invoicesIn(db, QStringLiteral("052147836"), 150), &files);
    RegistroCall call;
    call.list = list;
    call.registration = files.first().first;
    call.last = 100;
    QCOMPARE(getRegistro(*client, call).status, QStringLiteral("OK"));
    const QString file = call.continuation;
    const qint64 total = lineCountOf(db, file);
    QVERIFY(total > 600);

    // The block of lines 251 to 500 a character short, written as text.
    QString shortBlock;
    for (const StoredLine &line : storedLines(db, file))
        if (line.number >= 251 && line.number <= 500)
            shortBlock += line.text;
    db.exec(QStringLiteral("UPDATE BLOCOARQCOMPRALEG SET DSREGARQMAG = ?"
                           " WHERE NRSEQARQMAG = ? AND NRORDREGARQ = 251"),
            {shortBlock.mid(1), file});
    call.first = 201;
    call.last = 300;
    QString error = rpcErrorOf([&] { getRegistro(*client, call); });
    QVERIFY2(error.contains(QStringLiteral("que começa na linha 251 tem 31499 caracteres")) &&
                 error.contains(QLatin1String("corrompidas")),
             qPrintable(error));

    // Without the last block, the last page would be short: an error as well.
    db.exec(QStringLiteral("DELETE FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ? AND NRORDREGARQ ="
                           " (SELECT max(NRORDREGARQ) FROM BLOCOARQCOMPRALEG"
                           " WHERE NRSEQARQMAG = ?)"),
            {file, file});
    call.first = double(total - 9);
    call.last = double(total);
    error = rpcErrorOf([&] { getRegistro(*client, call); });
    QVERIFY2(
        error.contains(QStringLiteral("O banco de dados tem 0 das linhas %1 a %2 do arquivo %3")
                           .arg(total - 9)
                           .arg(total)
                           .arg(file)),
        qPrintable(error));
    QCOMPARE(
        db.value(QStringLiteral("SELECT IDSERVIDO FROM ARQCOMPRALEG WHERE NRSEQARQMAG = ?"), {file})
            .toString(),
        QStringLiteral("N"));
    QCOMPARE(client->call(QStringLiteral("GetDeletaLista"), {list}).at(0).toText(),
             QStringLiteral("OK"));
}

// SIGKILL while the server stores a large file's blocks: nothing of the build is left (no line,
// no line count, no flag changed), and the next server undoes the list.
void TestServerExport::killedWhileBuildingLeavesNothing_data()
{
    QTest::addColumn<int>("invoices");
    QTest::addColumn<int>("items");
    // Some 400,000 lines: the build takes about a second.
    QTest::newRow("three items an invoice") << 100000 << 3;
    QTest::newRow("half the items laid out alongside") << 30000 << 12;
}

void TestServerExport::killedWhileBuildingLeavesNothing()
{
    QFETCH(int, invoices);
    QFETCH(int, items);
    TestDatabase big(1000, 7);
    QVERIFY(big.isValid());
    addInvoices(big.path(), invoices, items);
    const auto flags = [&] {
        return big.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, IDNFCOMPRALEG FROM NFCOMPRA"
                                       " ORDER BY CDFILIAL, NRLANCTONF"));
    };
    const QList<QVariantList> before = flags();
    QString list;
    {
        ServerProcess server(big.path(), big.outputDir());
        QVERIFY(server.isRunning());
        auto client = server.connect();
        list = client->call(QStringLiteral("GetLista")).toText();
        QList<QPair<QString, QString>> marked;
        for (const QVariantList &r : big.rows(QStringLiteral(
                 "SELECT CDFILIAL, NRLANCTONF FROM NFCOMPRA WHERE NRLANCTONF LIKE 'B%'")))
            marked.append({r[0].toString(), r[1].toString()});
        QCOMPARE(marked.size(), invoices);
        client->call(QStringLiteral("getNotasMarcadas"),
                     {RpcValue::fromPacket(listaPacket(
                         list, marked, QStringList(marked.size(), QStringLiteral("052147836"))))});
        // The call from a thread of its own, in the same session.
        const QString session = client->sessionKey();
        const quint16 port = server.port();
        QThread *call = QThread::create([&] {
            try {
                const auto caller = connectTo(port, session);
                RegistroCall first;
                first.list = list;
                first.registration = QStringLiteral("052147836");
                getRegistro(*caller, first);
            } catch (const std::exception &) {
                // The server died under the call, as intended.
            }
        });
        call->start();
        // The build holds the write lock from its start to its commit; the checks before it hold
        // it for a moment only. Killed once the lock has been held for 150 ms on end.
        SqliteConnection probe(big.path(), 0);
        const auto writing = [&] {
            try {
                SqlTransaction tx(probe, SqlTransaction::Kind::Write);
                return false;
            } catch (const DatabaseError &) {
                return true;
            }
        };
        QElapsedTimer held;
        QVERIFY(waitFor(
            [&] {
                if (!writing())
                    held.invalidate();
                else if (!held.isValid())
                    held.start();
                return held.isValid() && held.elapsed() > 150;
            },
            60000));
        ::kill(pid_t(server.pid()), SIGKILL);
        QVERIFY(server.process().waitForFinished(10000));
        QVERIFY(call->wait(30000));
        delete call;
    }
    QCOMPARE(storedLineCount(big), qint64(0));
    QVERIFY(big.value(QStringLiteral("SELECT NRTOTREGISTROS FROM ARQCOMPRALEG WHERE NRLISTA = ?"),
                      {list})
                .isNull());
    QVERIFY(flags() == before);
    ServerProcess next(big.path(), big.outputDir());
    QVERIFY(next.isRunning());
    QVERIFY2(next.log().contains(QStringLiteral("list %1 undone").arg(list)),
             qPrintable(next.log()));
    QCOMPARE(big.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG")).toInt(), 0);
    QVERIFY(flags() == before);
}

// A list whose file was built, and its first page served, by a server of the kind before blocks
// (its lines one per row) while another server of the database is upgraded: the upgraded one
// puts the lines into blocks at its start, and the client's next pages from it hold what the
// earlier server would have answered.
void TestServerExport::exportGoesOnAcrossTheUpgrade()
{
    TestDatabase db(3000, 13);
    QVERIFY(db.isValid());
    ServerProcess earlier(db.path(), db.outputDir(),
                          {QStringLiteral("--page-size"), QStringLiteral("100")});
    QVERIFY(earlier.isRunning());
    auto client = earlier.connect();
    QList<QPair<QString, QString>> files;
    const QString list =
        registerListIn(db, *client, invoicesIn(db, QStringLiteral("052147836"), 200), &files);
    RegistroCall call;
    call.list = list;
    call.registration = files.first().first;
    call.last = 100;
    QCOMPARE(getRegistro(*client, call).status, QStringLiteral("OK"));
    const QList<StoredLine> stored = storedLines(db, call.continuation);
    const qint64 total = lineCountOf(db, call.continuation);
    QVERIFY(total > 600);
    QCOMPARE(stored.size(), total);
    // The earlier kind of server had stored the lines one per row.
    {
        SqliteConnection earlierServer(db.path(), 5000);
        toLineRows(earlierServer);
    }
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM REGARQCOMPRALEG")).toLongLong(), total);

    // The earlier server runs on, so its list is not undone when the upgraded one starts.
    ServerProcess upgraded(db.path(), db.outputDir(),
                           {QStringLiteral("--page-size"), QStringLiteral("100")});
    QVERIFY(upgraded.isRunning());
    const auto sameSession = connectTo(upgraded.port(), client->sessionKey());
    RegistroPage page;
    do {
        const qint64 from = qint64(call.last) + 1;
        call.first = double(from);
        call.last = double(from + 99);
        page = getRegistro(*sameSession, call);
        const QString difference =
            pageAgainstStored(page, stored, from, std::min(from + 99, total));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    } while (page.more == u"S");
    QCOMPARE(qint64(call.last) >= total, true);
    QTRY_COMPARE(storedLineCount(db), qint64(0));
}

QTEST_GUILESS_MAIN(TestServerExport)
#include "tst_serverexport.moc"
