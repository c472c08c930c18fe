// GetNotaFiscal, GetDiretorio, GetLista and getNotasMarcadas against a seeded database, through
// the real server process and the real client.
#include "rpcclient/netconnection.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"
#include "rpcserver/rpcsession.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <functional>

using namespace fis;
using namespace fis::test;

namespace {

// One invoice as the database has it, read with QtSql: the oracle the answers are checked with.
struct DbInvoice
{
    QString company, number, clientDoc, clientType, clientName, branch, stateReg, municipalReg;
    QString direction, series, operation, exported, posting, clientCode;
    QDate issued;
    double value = 0;

    QString key() const { return branch + u'|' + posting; }
};

QList<DbInvoice> allInvoices(const TestDatabase &db)
{
    QList<DbInvoice> out;
    const auto rows = db.rows(QStringLiteral(
        "SELECT N.CDEMPRESA, N.NRNOTAFISC, C.NRINSJURCLIE, C.IDTPIJURCLIE, C.NMRAZSOCCLIE,"
        " N.CDFILIAL, N.CDINSCESTA, N.CDINSCMUNI, N.IDENTRSAIDOP, N.CDSERIE, N.CDTIPOOPER,"
        " N.IDNFCOMPRALEG, N.NRLANCTONF, N.CDCLIENTE, N.DTEMISSAO, N.VRNOTAFISC"
        " FROM NFCOMPRA N JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"));
    for (const QVariantList &r : rows) {
        DbInvoice i;
        i.company = r[0].toString();
        i.number = r[1].toString();
        i.clientDoc = r[2].toString();
        i.clientType = r[3].toString();
        i.clientName = r[4].toString();
        i.branch = r[5].toString();
        i.stateReg = r[6].toString();
        i.municipalReg = r[7].toString();
        i.direction = r[8].toString();
        i.series = r[9].toString();
        i.operation = r[10].toString();
        i.exported = r[11].toString();
        i.posting = r[12].toString();
        i.clientCode = r[13].toString();
        i.issued = QDate::fromString(r[14].toString().left(10), Qt::ISODate);
        i.value = r[15].toDouble();
        out.append(i);
    }
    return out;
}

QStringList keysOf(const DataPacket &p)
{
    const int b = fieldIndex(p, QStringLiteral("CDFILIAL"));
    const int n = fieldIndex(p, QStringLiteral("NRLANCTONF"));
    QStringList keys;
    for (const DataRow &row : p.rows)
        keys << row.at(b).toString() + u'|' + row.at(n).toString();
    return keys;
}

QList<FieldDef> listaFields()
{
    return {textField("NRLISTA", 10), textField("CDLISTA", 50), textField("CDINSCESTA", 20)};
}

// A key as the host's picker quotes it.
QString quotedKey(const QString &key)
{
    return u'\'' + QString(key).replace(QStringLiteral("'"), QStringLiteral("''")) + u'\'';
}

// A criterion set on the filter, and which invoices of the database it keeps; both may use a
// sample invoice picked from the data (of company 01, branch 0002).
using SetFilter = std::function<void(NotaFilter &, const DbInvoice &sample)>;
using KeepInvoice = std::function<bool(const DbInvoice &, const DbInvoice &sample)>;
// A getNotasMarcadas packet for the list given, of invoices of companies 01 and 02.
using PacketFor =
    std::function<QByteArray(const QString &list, const DbInvoice &a, const DbInvoice &other)>;

bool inCompany01(const DbInvoice &i)
{
    return i.company == u"01";
}

} // namespace

Q_DECLARE_METATYPE(FieldType)
Q_DECLARE_METATYPE(SetFilter)
Q_DECLARE_METATYPE(KeepInvoice)
Q_DECLARE_METATYPE(PacketFor)

class TestServerMethods : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void notaFiscalFields_data();
    void notaFiscalFields();
    void notaFiscalFieldCountAndFormats();
    void notaFiscalRows();
    void notaFiscalCriteria_data();
    void notaFiscalCriteria();
    void notaFiscalKeyListsComeBack();
    void notaFiscalPendingWhateverTheFlags_data();
    void notaFiscalPendingWhateverTheFlags();
    void notaFiscalRejectsBadKeyLists_data();
    void notaFiscalRejectsBadKeyLists();
    void notaFiscalRejectsBadArguments();
    void diretorio();
    void lista();
    void notasMarcadasSplitsByRegistration();
    void notasMarcadasStoresEveryKey();
    void notasMarcadasRejects_data();
    void notasMarcadasRejects();
    void notasMarcadasRejectsAText();
    void longMarkedList_data();
    void longMarkedList();
    void invoiceListAnsweredAgainOnlyWhileUnchanged();
    void sqlMetacharacters_data();
    void sqlMetacharacters();
    void clientTextsOfEveryKind();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<NetConnection> m_client;
    QList<DbInvoice> m_invoices;
};

void TestServerMethods::initTestCase()
{
    m_db = std::make_unique<TestDatabase>(3000);
    QVERIFY(m_db->isValid());
    m_server = std::make_unique<ServerProcess>(m_db->path(), m_db->outputDir());
    QVERIFY(m_server->isRunning());
    m_client = m_server->connect();
    m_invoices = allInvoices(*m_db);
    QVERIFY(m_invoices.size() == 3000);
}

void TestServerMethods::cleanupTestCase()
{
    m_client.reset();
    if (m_server)
        QCOMPARE(m_server->terminate(), 0);
}

void TestServerMethods::notaFiscalFields_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("name");
    QTest::addColumn<FieldType>("type");
    QTest::addColumn<int>("size");
    const struct
    {
        const char *name;
        FieldType type;
        int size;
    } fields[] = {
        {"IDENTRSAIDOP", FieldType::String, 1},  {"IDNFCOMPRALEG", FieldType::String, 1},
        {"IDSTATUS", FieldType::FixedString, 1}, {"CDFILIAL", FieldType::String, 4},
        {"CLIENTE", FieldType::String, 73},      {"NRLANCTONF", FieldType::String, 10},
        {"DTEMISSAO", FieldType::DateTime, 0},   {"NRNOTAFISC", FieldType::String, 20},
        {"VRNOTAFISC", FieldType::Float, 0},     {"CDTIPOOPER", FieldType::String, 2},
        {"CDINSCESTA", FieldType::String, 16},   {"CDINSCMUNI", FieldType::String, 16},
        {"CDSERIE", FieldType::String, 5},       {"CDCLIENTE", FieldType::String, 21},
    };
    for (int i = 0; i < int(std::size(fields)); ++i)
        QTest::addRow("%d %s", i, fields[i].name)
            << i << QString::fromLatin1(fields[i].name) << fields[i].type << fields[i].size;
}

void TestServerMethods::notaFiscalFields()
{
    QFETCH(int, position);
    QFETCH(QString, name);
    QFETCH(FieldType, type);
    QFETCH(int, size);
    NotaFilter f;
    const DataPacket p = getNotaFiscal(*m_client, f);
    QVERIFY(position < p.fields.size());
    const FieldDef &field = p.fields.at(position);
    QCOMPARE(field.name, name);
    QCOMPARE(int(field.type), int(type));
    QCOMPARE(field.size, size);
}

void TestServerMethods::notaFiscalFieldCountAndFormats()
{
    NotaFilter f;
    const DataPacket p = getNotaFiscal(*m_client, f);
    QCOMPARE(p.fields.size(), 14);
    QVERIFY(p.fields[4].readOnly);
    QCOMPARE(p.fields[8].displayFormat, QStringLiteral("#,##0.00"));
}

// Every value of every row against the database, and the order: issue date, branch, number.
void TestServerMethods::notaFiscalRows()
{
    NotaFilter f;
    const DataPacket p = getNotaFiscal(*m_client, f);
    QHash<QString, DbInvoice> byKey;
    int company01 = 0;
    for (const DbInvoice &i : m_invoices) {
        byKey.insert(i.key(), i);
        company01 += i.company == u"01";
    }
    QCOMPARE(int(p.rows.size()), company01);
    const QStringList keys = keysOf(p);
    for (qsizetype r = 0; r < keys.size(); ++r) {
        const DataRow &row = p.rows[size_t(r)];
        const DbInvoice &i = byKey.value(keys[r]);
        QCOMPARE(row[0].toString(), i.direction);
        QCOMPARE(row[1].toString(), i.exported == u"S" ? QStringLiteral("S") : QStringLiteral("N"));
        QCOMPARE(row[2].toString(), QStringLiteral("U"));
        QVERIFY2(row[4].toString().endsWith(QStringLiteral(" - ") + i.clientName),
                 qPrintable(row[4].toString()));
        QVERIFY(row[4].toString().size() <= 73);
        const QString digits = row[4]
                                   .toString()
                                   .section(QStringLiteral(" - "), 0, 0)
                                   .remove(QRegularExpression(QStringLiteral("[./-]")));
        QCOMPARE(digits, i.clientDoc);
        QCOMPARE(row[6].toDateTime().date(), i.issued);
        QCOMPARE(row[7].toString(), i.number);
        QCOMPARE(row[8].toDouble(), i.value);
        QCOMPARE(row[9].toString(), i.operation);
        QCOMPARE(row[10].toString(), i.stateReg);
        QCOMPARE(row[11].toString(), i.municipalReg);
        QCOMPARE(row[12].toString(), i.series);
        QCOMPARE(row[13].toString(), i.clientCode);
        if (r > 0) {
            const DbInvoice &prev = byKey.value(keys[r - 1]);
            const auto order = [](const DbInvoice &x) {
                return std::make_tuple(x.issued, x.branch, x.number.toLongLong(), x.posting);
            };
            QVERIFY2(order(prev) <= order(i), qPrintable(keys[r]));
        }
    }
}

// Each criterion alone and some together, against the same selection made in the test.
void TestServerMethods::notaFiscalCriteria_data()
{
    QTest::addColumn<SetFilter>("set");
    QTest::addColumn<KeepInvoice>("keep");
    QTest::addColumn<bool>("selectsSome"); // false where the criterion must select nothing
    using Filter = NotaFilter;
    using Invoice = DbInvoice;

    QTest::addRow("company 02") << SetFilter([](Filter &f, const Invoice &) {
        f.company = QStringLiteral("02");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) { return i.company == u"02"; })
                                << true;
    QTest::addRow("company without invoices")
        << SetFilter([](Filter &f, const Invoice &) { f.company = QStringLiteral("03"); })
        << KeepInvoice([](const Invoice &, const Invoice &) { return false; }) << false;
    QTest::addRow("NF number") << SetFilter([](Filter &f, const Invoice &sample) {
        f.number = sample.number;
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.number == sample.number;
    }) << true;
    QTest::addRow("NF number zero-filled") << SetFilter([](Filter &f, const Invoice &sample) {
        f.number = sample.number.rightJustified(20, u'0');
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.number == sample.number;
    }) << true;
    QTest::addRow("client registration") << SetFilter([](Filter &f, const Invoice &sample) {
        f.client = sample.clientDoc;
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.clientDoc == sample.clientDoc;
    }) << true;
    QTest::addRow("branch") << SetFilter([](Filter &f, const Invoice &) {
        f.branch = QStringLiteral("0003");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.branch == u"0003";
    }) << true;
    QTest::addRow("state registration") << SetFilter([](Filter &f, const Invoice &) {
        f.stateReg = QStringLiteral("083471692");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.stateReg == u"083471692";
    }) << true;
    QTest::addRow("municipal registration") << SetFilter([](Filter &f, const Invoice &) {
        f.municipalReg = QStringLiteral("3120458");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.municipalReg == u"3120458";
    }) << true;
    QTest::addRow("series keys") << SetFilter([](Filter &f, const Invoice &) {
        f.series = QStringLiteral("'EU', 'S1','ED1'");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        const QString k = i.direction + i.series;
        return inCompany01(i) && (k == u"EU" || k == u"S1" || k == u"ED1");
    }) << true;
    QTest::addRow("operation keys") << SetFilter([](Filter &f, const Invoice &) {
        f.operations = QStringLiteral("'E02','S06'");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        const QString k = i.direction + i.operation;
        return inCompany01(i) && (k == u"E02" || k == u"S06");
    }) << true;
    QTest::addRow("operation key of the other direction")
        << SetFilter([](Filter &f, const Invoice &) { f.operations = QStringLiteral("'S02'"); })
        << KeepInvoice([](const Invoice &, const Invoice &) { return false; }) << false;
    QTest::addRow("period of one day, both bounds inclusive")
        << SetFilter([](Filter &f, const Invoice &sample) { f.start = f.end = sample.issued; })
        << KeepInvoice([](const Invoice &i, const Invoice &sample) {
               return inCompany01(i) && i.issued == sample.issued;
           })
        << true;
    QTest::addRow("period start inclusive") << SetFilter([](Filter &f, const Invoice &sample) {
        f.start = sample.issued;
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.issued >= sample.issued;
    }) << true;
    QTest::addRow("period end inclusive") << SetFilter([](Filter &f, const Invoice &sample) {
        f.end = sample.issued;
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.issued <= sample.issued;
    }) << true;
    QTest::addRow("status pending") << SetFilter([](Filter &f, const Invoice &) {
        f.status = QStringLiteral("N");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.exported != u"S";
    }) << true;
    QTest::addRow("status exported") << SetFilter([](Filter &f, const Invoice &) {
        f.status = QStringLiteral("S");
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.exported == u"S";
    }) << true;
    QTest::addRow("minimum value inclusive") << SetFilter([](Filter &f, const Invoice &sample) {
        f.minimum = sample.value;
    }) << KeepInvoice([](const Invoice &i, const Invoice &sample) {
        return inCompany01(i) && i.value >= sample.value;
    }) << true;
    QTest::addRow("combined") << SetFilter([](Filter &f, const Invoice &) {
        f.branch = QStringLiteral("0001");
        f.stateReg = QStringLiteral("052147836");
        f.operations = QStringLiteral("'E01','E02','E06'");
        f.series = QStringLiteral("'E1','E2','EU'");
        f.status = QStringLiteral("N");
        f.start = QDate(2025, 4, 1);
        f.end = QDate(2025, 5, 20);
        f.minimum = 500;
    }) << KeepInvoice([](const Invoice &i, const Invoice &) {
        return inCompany01(i) && i.branch == u"0001" && i.stateReg == u"052147836" &&
               QStringList{"E01", "E02", "E06"}.contains(i.direction + i.operation) &&
               QStringList{"E1", "E2", "EU"}.contains(i.direction + i.series) &&
               i.exported != u"S" && i.issued >= QDate(2025, 4, 1) &&
               i.issued <= QDate(2025, 5, 20) && i.value >= 500;
    }) << true;
}

void TestServerMethods::notaFiscalCriteria()
{
    QFETCH(SetFilter, set);
    QFETCH(KeepInvoice, keep);
    QFETCH(bool, selectsSome);
    // Values picked from the data, so that each criterion selects some but not all invoices.
    const auto sample =
        std::find_if(m_invoices.cbegin(), m_invoices.cend(),
                     [](const DbInvoice &i) { return i.company == u"01" && i.branch == u"0002"; });
    QVERIFY(sample != m_invoices.cend());
    NotaFilter f;
    set(f, *sample);
    const DataPacket p = getNotaFiscal(*m_client, f);
    QStringList expected;
    for (const DbInvoice &i : std::as_const(m_invoices))
        if (keep(i, *sample))
            expected << i.key();
    QStringList got = keysOf(p);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got, expected);
    // A criterion that selects nothing where it should select some proves little.
    QCOMPARE(!expected.isEmpty(), selectsSome);
}

void TestServerMethods::notaFiscalKeyListsComeBack()
{
    NotaFilter f;
    f.series = QStringLiteral("'EU','E''X'");
    f.operations = QStringLiteral(" 'E01' ");
    getNotaFiscal(*m_client, f);
    QCOMPARE(f.series, QStringLiteral("'EU','E''X'"));
    QCOMPARE(f.operations, QStringLiteral(" 'E01' "));
}

// Pending means "flag other than S", whichever other flags the company's invoices carry: the
// answer must be row for row the non-exported rows of the unfiltered answer (status T), in its
// order, with or without a company, for every mix of flags the server may meet.
void TestServerMethods::notaFiscalPendingWhateverTheFlags_data()
{
    QTest::addColumn<QStringList>("updates");
    QTest::addColumn<QString>("company");
    QTest::addColumn<int>("pending"); // of company 01; -1: some, whatever the seed gives

    const QString allExported = QStringLiteral("UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S'");
    // Sets the flag of `count` company 01 invoices from `offset` on, in storage order.
    const auto some = [](const char *flag, int count, int offset) {
        return QStringLiteral("UPDATE NFCOMPRA SET IDNFCOMPRALEG = %1 WHERE CDEMPRESA = '01' AND"
                              " rowid IN (SELECT rowid FROM NFCOMPRA WHERE CDEMPRESA = '01'"
                              " ORDER BY rowid LIMIT %2 OFFSET %3)")
            .arg(QLatin1String(flag))
            .arg(count)
            .arg(offset);
    };
    const struct
    {
        const char *name;
        QStringList updates;
        int pending;
    } mixes[] = {
        {"as seeded, N and S", {}, -1},
        {"every invoice exported", {allExported}, 0},
        {"one flag other than N", {allExported, some("'X'", 7, 40)}, 7},
        {"empty flag", {allExported, some("''", 5, 3)}, 5},
        {"flags below and above S",
         {allExported, some("'N'", 4, 0), some("'n'", 3, 10), some("'X'", 2, 20)},
         9},
        {"a flag stored as a blob", {allExported, some("'N'", 4, 0), some("X'4E'", 3, 10)}, 7},
    };
    for (const auto &mix : mixes) {
        QTest::addRow("%s, company 01", mix.name)
            << mix.updates << QStringLiteral("01") << mix.pending;
        QTest::addRow("%s, any company", mix.name) << mix.updates << QString() << -1;
    }
}

void TestServerMethods::notaFiscalPendingWhateverTheFlags()
{
    QFETCH(QStringList, updates);
    QFETCH(QString, company);
    QFETCH(int, pending);
    m_db->exec(QStringLiteral("CREATE TABLE FLAGS_SAVED AS SELECT CDFILIAL, NRLANCTONF,"
                              " IDNFCOMPRALEG FROM NFCOMPRA"));
    const auto restore = qScopeGuard([&] {
        m_db->exec(QStringLiteral(
            "UPDATE NFCOMPRA SET IDNFCOMPRALEG = (SELECT S.IDNFCOMPRALEG FROM FLAGS_SAVED S"
            " WHERE S.CDFILIAL = NFCOMPRA.CDFILIAL AND S.NRLANCTONF = NFCOMPRA.NRLANCTONF)"));
        m_db->exec(QStringLiteral("DROP TABLE FLAGS_SAVED"));
    });
    for (const QString &sql : std::as_const(updates))
        m_db->exec(sql);

    NotaFilter all;
    all.company = company;
    const DataPacket every = getNotaFiscal(*m_client, all);
    NotaFilter pendingFilter = all;
    pendingFilter.status = QStringLiteral("N");
    const DataPacket answer = getNotaFiscal(*m_client, pendingFilter);
    std::vector<DataRow> expected;
    for (const DataRow &row : every.rows)
        if (row.at(1).toString() != u"S")
            expected.push_back(row);
    QVERIFY(answer.rows == expected);
    if (pending >= 0)
        QCOMPARE(int(answer.rows.size()), pending);
}

// Key lists of series and operation types are quoted keys separated by commas, nothing else.
void TestServerMethods::notaFiscalRejectsBadKeyLists_data()
{
    QTest::addColumn<bool>("series"); // false: the operation types' list
    QTest::addColumn<QString>("keys");
    const struct
    {
        const char *name;
        const char *keys;
    } lists[] = {
        {"unquoted key", "E01"},      {"unclosed quote", "'E01"},
        {"trailing comma", "'E01',"}, {"no comma between keys", "'E01' 'S01'"},
        {"leading comma", ",'E01'"},  {"semicolon after the key", "'E01';"},
    };
    for (const auto &list : lists) {
        QTest::addRow("operations, %s", list.name) << false << QString::fromLatin1(list.keys);
        QTest::addRow("series, %s", list.name) << true << QString::fromLatin1(list.keys);
    }
}

void TestServerMethods::notaFiscalRejectsBadKeyLists()
{
    QFETCH(bool, series);
    QFETCH(QString, keys);
    NotaFilter f;
    (series ? f.series : f.operations) = keys;
    QVERIFY(!rpcErrorOf([&] { getNotaFiscal(*m_client, f); }).isEmpty());
}

void TestServerMethods::notaFiscalRejectsBadArguments()
{
    NotaFilter f;
    f.status = QStringLiteral("X");
    QVERIFY(rpcErrorOf([&] { getNotaFiscal(*m_client, f); }).contains(QLatin1String("Status")));
    // Dates must travel as dates, not as text.
    const QString wrongKind = rpcErrorOf([&] {
        m_client->call(
            QStringLiteral("GetNotaFiscal"),
            {"01", "", "", "", "", "", "", "", "2025-01-01", QDate(2025, 5, 1), "T", 0.0});
    });
    QVERIFY2(wrongKind.contains(QLatin1String("argumento 9")), qPrintable(wrongKind));
    QVERIFY(
        !rpcErrorOf([&] { m_client->call(QStringLiteral("GetNotaFiscal"), {"01"}); }).isEmpty());
    // The connection stays usable after error answers.
    NotaFilter ok;
    QVERIFY(!getNotaFiscal(*m_client, ok).rows.empty());
}

void TestServerMethods::diretorio()
{
    const RpcValue answer = m_client->call(QStringLiteral("GetDiretorio"));
    QCOMPARE(answer.size(), 2);
    QCOMPARE(answer.at(0).toText(), QStringLiteral("OK"));
    QCOMPARE(answer.at(1).toText(), QDir(m_db->outputDir()).absolutePath() + u'/');

    ServerProcess missing(m_db->path(), m_db->dirPath() + QStringLiteral("/does-not-exist"));
    QVERIFY(missing.isRunning());
    const RpcValue invalid = missing.connect()->call(QStringLiteral("GetDiretorio"));
    QCOMPARE(invalid.at(0).toText(), QStringLiteral("Dir_Inv"));
    QVERIFY(invalid.at(1).toText().endsWith(QLatin1String("/does-not-exist/")));
}

void TestServerMethods::lista()
{
    // Each session's new list ends that session's earlier, empty one; other sessions' stay.
    ServerProcess &server = *m_server;
    std::vector<std::unique_ptr<NetConnection>> clients;
    QStringList numbers;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(server.connect());
        numbers << clients.back()->call(QStringLiteral("GetLista")).toText();
    }
    const QString replaced = numbers.last();
    numbers << clients.back()->call(QStringLiteral("GetLista")).toText();
    const auto exists = [&](const QString &number) {
        return m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG WHERE NRLISTA = ?"),
                           {number})
                   .toInt() == 1;
    };
    for (int i = 0; i < numbers.size(); ++i) {
        QCOMPARE(numbers[i].size(), 10);
        if (i > 0)
            QVERIFY(numbers[i] > numbers[i - 1]);
        QCOMPARE(exists(numbers[i]), numbers[i] != replaced);
    }
    QCOMPARE(m_db->value(QStringLiteral("SELECT CDSESSAO FROM LISTACOMPRALEG WHERE NRLISTA = ?"),
                         {numbers.last()})
                 .toString(),
             RpcSession::sessionDigest(testClientName(), clients.back()->sessionKey()));
}

void TestServerMethods::notasMarcadasSplitsByRegistration()
{
    const QString list = m_client->call(QStringLiteral("GetLista")).toText();
    // Invoices of three registrations, given out of registration order.
    QList<QPair<QString, QString>> invoices;
    QStringList regs;
    QMap<QString, int> perReg;
    for (const DbInvoice &i : m_invoices) {
        if (i.company != u"01" || i.branch == u"0001" || perReg.value(i.stateReg) >= 4)
            continue;
        invoices.prepend({i.branch, i.posting});
        regs.prepend(i.stateReg);
        ++perReg[i.stateReg];
    }
    QCOMPARE(perReg.size(), 3);
    // The client sends the registration only on the first invoice of each.
    const RpcValue answer =
        m_client->call(QStringLiteral("getNotasMarcadas"),
                       {RpcValue::fromPacket(listaPacket(list, invoices, regs))});
    const DataPacket files = decodePacket(answer.toPacket());
    QCOMPARE(files.fields.size(), 2);
    QCOMPARE(files.fields[0].name, QStringLiteral("CDINSCESTA"));
    QCOMPARE(files.fields[0].size, 16);
    QCOMPARE(files.fields[1].name, QStringLiteral("NOMEARQUIVO"));
    QCOMPARE(files.fields[1].size, 16);
    QVERIFY(files.fields[1].readOnly);
    QCOMPARE(int(files.rows.size()), 3);
    QStringList names;
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(files.rows[size_t(r)][0].toString(), perReg.keys().at(r));
        names << files.rows[size_t(r)][1].toString();
    }
    QCOMPARE(names, (QStringList{"0001", "0002", "0003"}));
    QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF WHERE NRLISTA = ?"),
                         {list})
                 .toInt(),
             12);
    // Nothing is exported before the lines are built.
    QCOMPARE(m_db->value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                                        " USING (CDFILIAL, NRLANCTONF) WHERE L.NRLISTA = ?"
                                        " AND L.CDINSCESTA <> N.CDINSCESTA"),
                         {list})
                 .toInt(),
             0);
}

// More invoices than one INSERT takes, of every registration and branch of the company: each
// stored row is its key, split at the branch, with the invoice's own registration.
void TestServerMethods::notasMarcadasStoresEveryKey()
{
    const QString list = m_client->call(QStringLiteral("GetLista")).toText();
    QList<QPair<QString, QString>> invoices;
    QStringList regs, expected, expectedRegs;
    for (const DbInvoice &i : m_invoices) {
        if (i.company != u"01" || invoices.size() == 257)
            continue;
        invoices.append({i.branch, i.posting});
        regs.append(QString()); // the packet's registration is not used
        expected << QStringList{i.branch + i.posting, i.stateReg, i.branch, i.posting}.join(u'|');
        if (!expectedRegs.contains(i.stateReg))
            expectedRegs << i.stateReg;
    }
    QCOMPARE(invoices.size(), 257);
    regs[0] = QStringLiteral("000000000");
    const DataPacket files =
        decodePacket(m_client
                         ->call(QStringLiteral("getNotasMarcadas"),
                                {RpcValue::fromPacket(listaPacket(list, invoices, regs))})
                         .toPacket());
    std::sort(expectedRegs.begin(), expectedRegs.end());
    QStringList gotRegs;
    for (const DataRow &row : files.rows)
        gotRegs << row.at(0).toString();
    QCOMPARE(gotRegs, expectedRegs);

    QStringList stored;
    for (const QVariantList &r : m_db->rows(
             QStringLiteral("SELECT CDLISTA, CDINSCESTA, CDFILIAL, NRLANCTONF, IDNFCOMPRALEGANT"
                            " FROM LISTACOMPRALEGNF WHERE NRLISTA = ?"),
             {list})) {
        QVERIFY(r[4].isNull());
        stored << QStringList{r[0].toString(), r[1].toString(), r[2].toString(), r[3].toString()}
                      .join(u'|');
    }
    std::sort(expected.begin(), expected.end());
    std::sort(stored.begin(), stored.end());
    QCOMPARE(stored, expected);
}

void TestServerMethods::notasMarcadasRejects_data()
{
    QTest::addColumn<PacketFor>("packet");
    using Invoice = DbInvoice;
    QTest::addRow("unknown invoice")
        << PacketFor([](const QString &list, const Invoice &a, const Invoice &) {
               return listaPacket(list, {{a.branch, QStringLiteral("9999999999")}}, {QString()});
           });
    QTest::addRow("unknown branch")
        << PacketFor([](const QString &list, const Invoice &a, const Invoice &) {
               return listaPacket(list, {{QStringLiteral("XXXX"), a.posting}}, {QString()});
           });
    QTest::addRow("key shorter than a branch")
        << PacketFor([](const QString &list, const Invoice &, const Invoice &) {
               return listaPacket(list, {{QStringLiteral("00"), QString()}}, {QString()});
           });
    QTest::addRow("unknown list") << PacketFor(
        [](const QString &, const Invoice &a, const Invoice &) {
            return listaPacket(QStringLiteral("7777777777"), {{a.branch, a.posting}}, {a.stateReg});
        });
    QTest::addRow("empty list number")
        << PacketFor([](const QString &, const Invoice &a, const Invoice &) {
               return listaPacket(QString(), {{a.branch, a.posting}}, {a.stateReg});
           });
    QTest::addRow("two companies")
        << PacketFor([](const QString &list, const Invoice &a, const Invoice &other) {
               return listaPacket(list, {{a.branch, a.posting}, {other.branch, other.posting}},
                                  {a.stateReg, other.stateReg});
           });
    QTest::addRow("two list numbers")
        << PacketFor([](const QString &list, const Invoice &a, const Invoice &other) {
               return encodePacket(
                   listaFields(), {DataRow{list, QString(a.branch + a.posting), a.stateReg},
                                   DataRow{QStringLiteral("9999999999"),
                                           QString(other.branch + other.posting), other.stateReg}});
           });
    QTest::addRow("invoice twice") << PacketFor(
        [](const QString &list, const Invoice &a, const Invoice &) {
            return listaPacket(list, {{a.branch, a.posting}, {a.branch, a.posting}}, {a.stateReg});
        });
    QTest::addRow("no rows") << PacketFor(
        [](const QString &list, const Invoice &, const Invoice &) {
            return listaPacket(list, {}, {});
        });
    QTest::addRow("missing field")
        << PacketFor([](const QString &list, const Invoice &a, const Invoice &) {
               return encodePacket({textField("NRLISTA", 10), textField("CDLISTA", 50)},
                                   {DataRow{list, QString(a.branch + a.posting)}});
           });
    QTest::addRow("not a packet") << PacketFor(
        [](const QString &, const Invoice &, const Invoice &) {
            return QByteArray("\xa1\x01\x02", 3);
        });
}

void TestServerMethods::notasMarcadasRejects()
{
    QFETCH(PacketFor, packet);
    const DbInvoice *a = nullptr, *other = nullptr;
    for (const DbInvoice &i : std::as_const(m_invoices)) {
        if (!a && i.company == u"01")
            a = &i;
        if (!other && i.company == u"02")
            other = &i;
    }
    QVERIFY(a && other);
    const QString list = m_client->call(QStringLiteral("GetLista")).toText();
    const QByteArray before = m_db->checksum();
    const QString error = rpcErrorOf([&] {
        m_client->call(QStringLiteral("getNotasMarcadas"),
                       {RpcValue::fromPacket(packet(list, *a, *other))});
    });
    QVERIFY(!error.isEmpty());
    QCOMPARE(m_db->checksum(), before);
}

// A text instead of a packet is an argument error too.
void TestServerMethods::notasMarcadasRejectsAText()
{
    QVERIFY(
        !rpcErrorOf([&] { m_client->call(QStringLiteral("getNotasMarcadas"), {"x"}); }).isEmpty());
}

// A list long enough for the server to look its keys up on a second connection while it writes
// the list's rows: every row is stored as a short list's are, and a fault anywhere in the list,
// at its first key, deep in it or at its last, is told as for a short list and leaves nothing.
// `change` alters the list at `at` (a fraction of its length); `taken` puts that invoice on
// another session's unfinished list first. The error names the key at `at`, also when a later
// row (at `unknownAfter`, when not negative) names no invoice with a key that sorts first: the
// rows are written in the keys' order, the faults told in the list's.
void TestServerMethods::longMarkedList_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<double>("at");
    QTest::addColumn<double>("unknownAfter");
    QTest::addRow("every key stored") << QString() << 0.0 << -1.0;
    QTest::addRow("unknown invoice first") << QStringLiteral("unknown") << 0.0 << -1.0;
    QTest::addRow("unknown invoice deep in the list") << QStringLiteral("unknown") << 0.8 << -1.0;
    QTest::addRow("unknown invoice last") << QStringLiteral("unknown") << 1.0 << -1.0;
    QTest::addRow("another company's invoice") << QStringLiteral("company") << 0.7 << -1.0;
    QTest::addRow("invoice on another unfinished list") << QStringLiteral("taken") << 0.9 << -1.0;
    QTest::addRow("unknown invoice, another after it sorting first")
        << QStringLiteral("unknown") << 0.3 << 0.9;
    QTest::addRow("another company's invoice, an unknown one after it sorting first")
        << QStringLiteral("company") << 0.4 << 0.6;
    QTest::addRow("invoice on another unfinished list, an unknown one after it sorting first")
        << QStringLiteral("taken") << 0.5 << 0.95;
}

void TestServerMethods::longMarkedList()
{
    QFETCH(QString, change);
    QFETCH(double, at);
    QFETCH(double, unknownAfter);
    TestDatabase db(12000, 7);
    QVERIFY(db.isValid());
    ServerProcess server(db.path(), db.outputDir());
    QVERIFY(server.isRunning());
    const auto client = server.connect();
    QList<DbInvoice> invoices = allInvoices(db);
    const auto other = std::find_if(invoices.cbegin(), invoices.cend(),
                                    [](const DbInvoice &i) { return !inCompany01(i); });
    QVERIFY(other != invoices.cend());
    const DbInvoice stranger = *other;
    invoices.removeIf([](const DbInvoice &i) { return !inCompany01(i); });
    // In the screen's order, by date.
    std::sort(invoices.begin(), invoices.end(), [](const DbInvoice &a, const DbInvoice &b) {
        return std::tie(a.issued, a.branch, a.posting) < std::tie(b.issued, b.branch, b.posting);
    });
    QVERIFY(invoices.size() >= 5000);
    QList<QPair<QString, QString>> keys;
    for (const DbInvoice &i : std::as_const(invoices))
        keys.append({i.branch, i.posting});
    // Several branches by date: the keys do not come in their order.
    QVERIFY(!std::is_sorted(keys.cbegin(), keys.cend(), [](const auto &a, const auto &b) {
        return a.first + a.second < b.first + b.second;
    }));
    const qsizetype index = qMin(qsizetype(at * double(keys.size())), keys.size() - 1);
    if (unknownAfter >= 0) {
        const qsizetype after = qsizetype(unknownAfter * double(keys.size()));
        QVERIFY(after > index);
        const auto lowest = std::min_element(keys.cbegin(), keys.cend());
        keys[after] = {lowest->first, QStringLiteral("0")};
    }
    QString expected;
    if (change == u"unknown") {
        keys[index].second = QStringLiteral("9999999999");
        expected = QStringLiteral("Nota fiscal %1 não encontrada.")
                       .arg(keys[index].first + keys[index].second);
    } else if (change == u"company") {
        keys[index] = {stranger.branch, stranger.posting};
        expected = QStringLiteral("A nota %1 é da empresa %2; as demais são da empresa 01.")
                       .arg(stranger.branch + stranger.posting, stranger.company);
    } else if (change == u"taken") {
        const auto elsewhere = server.connect();
        const QString held = elsewhere->call(QStringLiteral("GetLista")).toText();
        elsewhere->call(QStringLiteral("getNotasMarcadas"),
                        {RpcValue::fromPacket(listaPacket(held, {keys[index]}, {QString()}))});
        const DbInvoice &i = invoices[index];
        expected = QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) já está em outra "
                                  "exportação em andamento; exporte-a quando aquela terminar.")
                       .arg(i.number, i.branch, i.posting);
    }
    const QString list = client->call(QStringLiteral("GetLista")).toText();
    const QByteArray packet = listaPacket(list, keys, QStringList(keys.size(), QString()));
    const QString storedRows = QStringLiteral(
        "SELECT CDLISTA, CDINSCESTA, CDFILIAL, NRLANCTONF FROM LISTACOMPRALEGNF WHERE NRLISTA = ?");
    if (!expected.isEmpty()) {
        const QByteArray before = db.checksum();
        QCOMPARE(rpcErrorOf([&] {
                     client->call(QStringLiteral("getNotasMarcadas"),
                                  {RpcValue::fromPacket(packet)});
                 }),
                 expected);
        QCOMPARE(db.checksum(), before);
        // The server goes on: the same list takes a short list.
        client->call(
            QStringLiteral("getNotasMarcadas"),
            {RpcValue::fromPacket(listaPacket(list, {keys[index == 0 ? 1 : 0]}, {QString()}))});
        QCOMPARE(db.rows(storedRows, {list}).size(), 1);
        return;
    }
    const DataPacket files = decodePacket(
        client->call(QStringLiteral("getNotasMarcadas"), {RpcValue::fromPacket(packet)})
            .toPacket());
    QStringList expectedRows, registrations;
    for (const DbInvoice &i : std::as_const(invoices)) {
        expectedRows << QStringList{i.branch + i.posting, i.stateReg, i.branch, i.posting}.join(
            u'|');
        if (!registrations.contains(i.stateReg))
            registrations << i.stateReg;
    }
    std::sort(expectedRows.begin(), expectedRows.end());
    std::sort(registrations.begin(), registrations.end());
    QStringList stored;
    for (const QVariantList &r : db.rows(storedRows, {list}))
        stored << QStringList{r[0].toString(), r[1].toString(), r[2].toString(), r[3].toString()}
                      .join(u'|');
    std::sort(stored.begin(), stored.end());
    QCOMPARE(stored, expectedRows);
    // Written in the keys' order, though they came by date.
    QStringList written;
    for (const QVariantList &r :
         db.rows(QStringLiteral("SELECT CDLISTA FROM LISTACOMPRALEGNF WHERE NRLISTA = ? ORDER BY"
                                " rowid"),
                 {list}))
        written << r[0].toString();
    QVERIFY(std::is_sorted(written.cbegin(), written.cend()));
    QStringList answered;
    for (const DataRow &row : files.rows)
        answered << row.at(0).toString();
    QCOMPARE(answered, registrations);
}

// The server may give the last invoice list again, but only while nothing it shows has changed:
// a commit of another connection to an invoice or a client, the server's own marks of an
// export, or other criteria all bring a list read anew.
void TestServerMethods::invoiceListAnsweredAgainOnlyWhileUnchanged()
{
    TestDatabase db(2000, 11);
    QVERIFY(db.isValid());
    // Pages of 10 lines: the file's first page leaves it unfinished, and nothing to delete.
    ServerProcess server(db.path(), db.outputDir(),
                         {QStringLiteral("--page-size"), QStringLiteral("10")});
    QVERIFY(server.isRunning());
    const auto client = server.connect();
    NotaFilter all;
    all.start = QDate(2024, 12, 1);
    all.end = QDate(2025, 5, 20);
    const DataPacket first = getNotaFiscal(*client, all);
    QVERIFY(first.rows.size() > 100);
    QCOMPARE(getNotaFiscal(*client, all).rows, first.rows);

    const int branchAt = fieldIndex(first, QStringLiteral("CDFILIAL"));
    const int postingAt = fieldIndex(first, QStringLiteral("NRLANCTONF"));
    const int valueAt = fieldIndex(first, QStringLiteral("VRNOTAFISC"));
    const int clientAt = fieldIndex(first, QStringLiteral("CLIENTE"));
    const int flagAt = fieldIndex(first, QStringLiteral("IDNFCOMPRALEG"));
    const DataRow &sample = first.rows.at(first.rows.size() / 2);
    const QString branch = sample.at(branchAt).toString();
    const QString posting = sample.at(postingAt).toString();
    const auto rowOf = [&](const DataPacket &p) -> DataRow {
        for (const DataRow &row : p.rows)
            if (row.at(branchAt).toString() == branch && row.at(postingAt).toString() == posting)
                return row;
        return {};
    };

    // Committed by another connection: an invoice's value, then its client's name.
    db.exec(QStringLiteral("UPDATE NFCOMPRA SET VRNOTAFISC = 98765.43 WHERE CDFILIAL = ?"
                           " AND NRLANCTONF = ?"),
            {branch, posting});
    QCOMPARE(rowOf(getNotaFiscal(*client, all)).value(valueAt).toDouble(), 98765.43);
    db.exec(
        QStringLiteral("UPDATE CLIENTE SET NMRAZSOCCLIE = 'OUTRO NOME LTDA' WHERE CDCLIENTE ="
                       " (SELECT CDCLIENTE FROM NFCOMPRA WHERE CDFILIAL = ? AND NRLANCTONF = ?)"),
        {branch, posting});
    const DataPacket renamed = getNotaFiscal(*client, all);
    QVERIFY(rowOf(renamed).value(clientAt).toString().contains(u"OUTRO NOME LTDA"));
    QCOMPARE(getNotaFiscal(*client, all).rows, renamed.rows);

    // Other criteria: fewer invoices, and the full list again after them.
    NotaFilter large = all;
    large.minimum = 98765;
    QCOMPARE(getNotaFiscal(*client, large).rows.size(), size_t(1));
    QCOMPARE(getNotaFiscal(*client, all).rows, renamed.rows);

    // Marked exported by the server itself, building a file of pending invoices.
    QList<QPair<QString, QString>> pending;
    QStringList regs;
    const int regAt = fieldIndex(renamed, QStringLiteral("CDINSCESTA"));
    const QString registration = sample.at(regAt).toString();
    for (const DataRow &row : renamed.rows) {
        if (row.at(flagAt).toString() != u"S" && row.at(regAt).toString() == registration &&
            pending.size() < 20) {
            pending.append({row.at(branchAt).toString(), row.at(postingAt).toString()});
            regs.append(registration);
        }
    }
    QVERIFY(!pending.isEmpty());
    RegistroCall call;
    call.list = client->call(QStringLiteral("GetLista")).toText();
    call.registration = registration;
    client->call(QStringLiteral("getNotasMarcadas"),
                 {RpcValue::fromPacket(listaPacket(call.list, pending, regs))});
    const RegistroPage page = getRegistro(*client, call);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QCOMPARE(page.more, QStringLiteral("S"));
    const DataPacket marked = getNotaFiscal(*client, all);
    QCOMPARE(marked.rows.size(), renamed.rows.size());
    int exported = 0;
    for (const DataRow &row : marked.rows) {
        const bool listed =
            pending.contains({row.at(branchAt).toString(), row.at(postingAt).toString()});
        if (listed) {
            QCOMPARE(row.at(flagAt).toString(), QStringLiteral("S"));
            ++exported;
        }
    }
    QCOMPARE(exported, int(pending.size()));

    // The flags set by the server's own connection, against another server reading the
    // database afresh: both statuses, then the pending ones, then the list given up (its
    // invoices get their flags back), then both again.
    ServerProcess reader(db.path(), db.outputDir());
    QVERIFY(reader.isRunning());
    const auto fresh = reader.connect();
    QCOMPARE(marked.rows, getNotaFiscal(*fresh, all).rows);
    NotaFilter pendingOnly = all;
    pendingOnly.status = QStringLiteral("N");
    const DataPacket stillPending = getNotaFiscal(*client, pendingOnly);
    const auto exportedBefore =
        std::count_if(renamed.rows.cbegin(), renamed.rows.cend(),
                      [&](const DataRow &row) { return row.at(flagAt).toString() == u"S"; });
    QCOMPARE(stillPending.rows.size(),
             renamed.rows.size() - size_t(exportedBefore) - size_t(pending.size()));
    QCOMPARE(stillPending.rows, getNotaFiscal(*fresh, pendingOnly).rows);
    QCOMPARE(getNotaFiscal(*client, all).rows, marked.rows);
    const RpcValue given = client->call(QStringLiteral("GetDeletaLista"), {call.list});
    QCOMPARE(given.at(0).toText(), QStringLiteral("OK"));
    const DataPacket givenBack = getNotaFiscal(*client, all);
    QCOMPARE(givenBack.rows, renamed.rows);
    QCOMPARE(givenBack.rows, getNotaFiscal(*fresh, all).rows);
}

// Quotes, semicolons, comment markers and LIKE wildcards in every text argument and key list:
// they are plain values, match nothing, and leave the database as it was.
void TestServerMethods::sqlMetacharacters_data()
{
    QTest::addColumn<QString>("hostile");
    QTest::addRow("quote, OR and an equality") << QStringLiteral("' OR '1'='1");
    QTest::addRow("statement after a quote") << QStringLiteral("01'; DROP TABLE NFCOMPRA; --");
    QTest::addRow("percent") << QStringLiteral("%");
    QTest::addRow("underscore") << QStringLiteral("_");
    QTest::addRow("digit and percent") << QStringLiteral("0%");
    QTest::addRow("double quote and a comment") << QStringLiteral("\" OR 1=1 --");
    QTest::addRow("closing parenthesis") << QStringLiteral("1) OR (1=1");
}

void TestServerMethods::sqlMetacharacters()
{
    QFETCH(QString, hostile);
    const QByteArray before = m_db->checksum();
    for (int arg = 0; arg < 6; ++arg) {
        NotaFilter f;
        QString *texts[] = {&f.company, &f.number,   &f.client,
                            &f.branch,  &f.stateReg, &f.municipalReg};
        *texts[arg] = hostile;
        QVERIFY2(getNotaFiscal(*m_client, f).rows.empty(),
                 qPrintable(QStringLiteral("argument %1: %2").arg(arg + 1).arg(hostile)));
    }
    const QString key = quotedKey(hostile);
    NotaFilter s;
    s.series = key;
    QVERIFY(getNotaFiscal(*m_client, s).rows.empty());
    QCOMPARE(s.series, key);
    NotaFilter o;
    o.operations = key + QStringLiteral(",'E01'");
    const DataPacket p = getNotaFiscal(*m_client, o);
    // Only the real key matches.
    const int op = fieldIndex(p, QStringLiteral("CDTIPOOPER"));
    QVERIFY(!p.rows.empty());
    for (const DataRow &row : p.rows)
        QCOMPARE(row[op].toString(), QStringLiteral("01"));

    const RpcValue del = m_client->call(QStringLiteral("GetDeletaLista"), {hostile});
    QCOMPARE(del.at(0).toText(), QStringLiteral("Lista %1 não encontrada.").arg(hostile.trimmed()));
    QVERIFY(!rpcErrorOf([&] {
                 m_client->call(
                     QStringLiteral("getNotasMarcadas"),
                     {RpcValue::fromPacket(listaPacket(
                         hostile.left(10), {{hostile, hostile.left(20)}}, {hostile.left(20)}))});
             }).isEmpty());
    QString name = hostile, cont, last = QStringLiteral("F"), list = hostile;
    double first = 0, lastLine = 50000;
    const RpcValue reg = m_client->call(QStringLiteral("GetRegistro"),
                                        {byRef(name), hostile, hostile, QDate(2025, 5, 1),
                                         QDate(2025, 5, 20), byRef(cont), "S", byRef(first),
                                         byRef(lastLine), hostile, byRef(last), byRef(list)});
    QVERIFY(reg.at(0).toText() != u"OK");
    QCOMPARE(m_db->checksum(), before);
}

// The grid's client column from the database's bytes, as the rule reads on the QString of each
// value: "12.345.678/0001-90 - NAME" (CPF "123.456.789-01"), cut at 73 UTF-16 units, malformed
// UTF-8 replaced, a leading byte order mark dropped. Clients of a company of their own, so that
// the other tests' data stay as they were.
void TestServerMethods::clientTextsOfEveryKind()
{
    struct Client
    {
        const char *type;
        QByteArray number;
        QByteArray name;
    };
    const QByteArray accented = QByteArray("COMÉRCIO DE AÇÚCAR E ÁLCOOL SÃO JOÃO ").repeated(3);
    const QList<Client> clients = {
        {"J", "12345678000190", "ALFA LTDA"},
        {"F", "12345678901", "JOSÉ DA SILVA"},
        {"J", "123", "NÚMERO CURTO"},
        {"F", "", "SEM DOCUMENTO"},
        {"J", "12345678000190", accented},
        {"F", "12345678901", accented},
        {"J", "12345678000190", QByteArray("EMOJI \xf0\x9f\x98\x80 ") + accented},
        {"J", "12345678000190", QByteArray("INV\xc3") + "LIDO"},
        {"J", "12345678000190", QByteArray("\xef\xbb\xbf") + "MARCA"},
        {"X", "1234567890123456789", QByteArray(60, 'N')},
    };
    m_db->exec(QStringLiteral("INSERT INTO EMPRESA SELECT '77', E.NMEMPRESA, E.NRCNPJEMPRESA"
                              " FROM EMPRESA E WHERE E.CDEMPRESA = '01'"));
    const auto sample = m_invoices.first();
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const QString code = QStringLiteral("T%1").arg(i);
        m_db->exec(QStringLiteral("INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE, NRINSJURCLIE,"
                                  " IDTPIJURCLIE, SGESTADO) VALUES (?, CAST(? AS TEXT), ?, ?,"
                                  " 'BA')"),
                   {code, clients[i].name, QString::fromLatin1(clients[i].number),
                    QString::fromLatin1(clients[i].type)});
        // Two invoices each: the second has the text made for the first.
        for (const char *posting : {"T%1", "U%1"})
            m_db->exec(QStringLiteral("INSERT INTO NFCOMPRA SELECT CDFILIAL, ?, '77',"
                                      " IDENTRSAIDOP, CDTIPOOPER, CDSERIE, NRNOTAFISC, DTEMISSAO,"
                                      " VRNOTAFISC, ?, CDINSCESTA, CDINSCMUNI, IDNFCOMPRALEG,"
                                      " NRCFOP, CDMODELONF, VRBASEICMS, VRICMS, VRISENTO, VROUTRAS,"
                                      " PCALIQICMS, IDSITUACAO FROM NFCOMPRA"
                                      " WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                       {QString::fromLatin1(posting).arg(i, 9, 10, QLatin1Char('0')), code,
                        sample.branch, sample.posting});
    }
    const auto expected = [](const Client &c) {
        const QString number = QString::fromUtf8(c.number);
        QString doc = number;
        if (qstrcmp(c.type, "J") == 0 && number.size() == 14)
            doc = number.left(2) + u'.' + number.mid(2, 3) + u'.' + number.mid(5, 3) + u'/' +
                  number.mid(8, 4) + u'-' + number.mid(12, 2);
        else if (qstrcmp(c.type, "F") == 0 && number.size() == 11)
            doc = number.left(3) + u'.' + number.mid(3, 3) + u'.' + number.mid(6, 3) + u'-' +
                  number.mid(9, 2);
        const QString name = QString::fromUtf8(c.name);
        return (doc.isEmpty() ? name : doc + QStringLiteral(" - ") + name).left(73);
    };
    NotaFilter f;
    f.company = QStringLiteral("77");
    const DataPacket p = getNotaFiscal(*m_client, f);
    QCOMPARE(int(p.rows.size()), 2 * int(clients.size()));
    const int code = fieldIndex(p, QStringLiteral("CDCLIENTE"));
    const int text = fieldIndex(p, QStringLiteral("CLIENTE"));
    for (const DataRow &row : p.rows) {
        const int i = row.at(code).toString().mid(1).toInt();
        QCOMPARE(row.at(text).toString(), expected(clients.at(i)));
    }
}

QTEST_GUILESS_MAIN(TestServerMethods)
#include "tst_servermethods.moc"
