#include "compralegal/filtercriteria.h"
#include "compralegal/headercodes.h"
#include "compralegal/outputname.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "rpc/rpcerror.h"
#include "rpcclient/netconnection.h"
#include "testsupport/scriptedexportserver.h"
#include "testsupport/testclient.h"

#include <QTest>

#include <stdexcept>

using namespace fis;
using namespace fis::compralegal;
using fis::test::ScriptedExportServer;

namespace {

using Outcome = CodeCheck::Outcome;

DataRow invoice(const QString &branch, const QString &posting)
{
    DataRow row(notaFiscalFields().size());
    row[0] = QStringLiteral("E");
    row[1] = QStringLiteral("N");
    row[2] = QStringLiteral("U");
    row[3] = branch;
    row[5] = posting;
    return row;
}

void open(NetConnection &connection, const ScriptedExportServer &server)
{
    connection.setServerName(serverObjectName());
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(server.port());
    fis::test::useTestClient(connection);
    connection.open();
}

// A list that a load must replace whole, or leave as it is.
void fillWithOneInvoice(MemTable &list)
{
    list.setFields(notaFiscalFields());
    list.createDataSet();
    list.append();
    list.setValue(QStringLiteral("CDFILIAL"), QStringLiteral("9999"));
    list.post();
}

} // namespace

class tst_CompraLegalCore : public QObject
{
    Q_OBJECT

private slots:
    void statusCodes_data();
    void statusCodes();
    void requestCarriesTheCriteriaInOrder();
    void requestKeyListsComeBackIntoTheirVariables();
    void invoiceListIsReplacedByTheAnswer();
    void invoiceListStaysWhenTheAnswerIsNoPacket();

    void nameCharacters_data();
    void nameCharacters();
    void baseNames_data();
    void baseNames();
    void fileNames_data();
    void fileNames();
    void namesThatLeaveTheDirectory_data();
    void namesThatLeaveTheDirectory();

    void codeChecks_data();
    void codeChecks();
    void emptyCodeIsNotLookedUp();
    void lookupFailurePassesToTheCaller();
    void firstMissingHeaderEntry_data();
    void firstMissingHeaderEntry();
};

void tst_CompraLegalCore::statusCodes_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("code"); // empty: none
    QTest::newRow("pending") << 0 << "N";
    QTest::newRow("exported") << 1 << "S";
    QTest::newRow("both") << 2 << "T";
    QTest::newRow("no item chosen") << -1 << "";
    QTest::newRow("past the last item") << 3 << "";
}

void tst_CompraLegalCore::statusCodes()
{
    QFETCH(int, item);
    QFETCH(QString, code);
    const std::optional<QString> mapped = statusCode(item);
    QCOMPARE(mapped.has_value(), !code.isEmpty());
    if (mapped)
        QCOMPARE(*mapped, code);
}

void tst_CompraLegalCore::requestCarriesTheCriteriaInOrder()
{
    FilterCriteria criteria;
    criteria.filial = QStringLiteral("0002");
    criteria.inscricaoCliente = QStringLiteral("12345678000199");
    criteria.inscEstadual = QStringLiteral("IE1");
    criteria.inscMunicipal = QStringLiteral("IM1");
    criteria.numeroNF = QStringLiteral("000123");
    criteria.valorMinimo = 10.5;
    criteria.inicio = QDate(2025, 5, 1);
    criteria.fim = QDate(2025, 5, 20);
    QString series = QStringLiteral("'S1'");
    QString types = QStringLiteral("'E05'");
    NotaFiscalRequest request = notaFiscalRequest(QStringLiteral("01"), criteria, &series, &types);
    request.status = QStringLiteral("T");

    const QList<RpcArg> args = request.arguments();
    QCOMPARE(args.size(), 12);
    const QList<RpcValue> expected = {
        QStringLiteral("01"),         QStringLiteral("000123"), QStringLiteral("12345678000199"),
        QStringLiteral("0002"),       QStringLiteral("IE1"),    QStringLiteral("IM1"),
        QStringLiteral("'S1'"),       QStringLiteral("'E05'"),  RpcValue(QDate(2025, 5, 1)),
        RpcValue(QDate(2025, 5, 20)), QStringLiteral("T"),      10.5};
    for (qsizetype i = 0; i < args.size(); ++i)
        QVERIFY2(args.at(i).value() == expected.at(i), qPrintable(QString::number(i + 1)));
    QVERIFY(args.at(6).isByRef());
    QVERIFY(args.at(7).isByRef());
    QVERIFY(!args.at(10).isByRef());
}

void tst_CompraLegalCore::requestKeyListsComeBackIntoTheirVariables()
{
    ScriptedExportServer server;
    server.script.onNotaFiscal = [](RpcArgs &args) {
        args.set(6, RpcValue(QStringLiteral("'S2'")));
        args.set(7, RpcValue(QStringLiteral("'S01','E05'")));
    };
    NetConnection connection;
    open(connection, server);

    QString series;
    QString types = QStringLiteral("'S01'");
    MemTable list(QStringLiteral("cdsNotaFiscal"));
    list.setFields(notaFiscalFields());
    NotaFiscalRequest request = notaFiscalRequest(QStringLiteral("01"), {}, &series, &types);
    request.status = QStringLiteral("N");
    loadInvoiceList(connection.appServer(), request, list);
    QCOMPARE(series, QStringLiteral("'S2'"));
    QCOMPARE(types, QStringLiteral("'S01','E05'"));
}

void tst_CompraLegalCore::invoiceListIsReplacedByTheAnswer()
{
    ScriptedExportServer server;
    server.script.notas = {invoice(QStringLiteral("0001"), QStringLiteral("10")),
                           invoice(QStringLiteral("0002"), QStringLiteral("11"))};
    NetConnection connection;
    open(connection, server);

    MemTable list(QStringLiteral("cdsNotaFiscal"));
    fillWithOneInvoice(list);
    QString series, types;
    NotaFiscalRequest request = notaFiscalRequest(QStringLiteral("01"), {}, &series, &types);
    request.status = QStringLiteral("N");
    loadInvoiceList(connection.appServer(), request, list);
    QCOMPARE(list.recordCount(), 2);
    list.first();
    QCOMPARE(list.asString(QStringLiteral("CDFILIAL")), QStringLiteral("0001"));
    list.next();
    QCOMPARE(list.asString(QStringLiteral("NRLANCTONF")), QStringLiteral("11"));
    QCOMPARE(server.callsOf(QStringLiteral("GetNotaFiscal")).size(), 1);
}

void tst_CompraLegalCore::invoiceListStaysWhenTheAnswerIsNoPacket()
{
    ScriptedExportServer server;
    server.script.onNotaFiscal = [](RpcArgs &) {
        throw RpcError(QStringLiteral("Falhou"));
    };
    NetConnection connection;
    open(connection, server);

    MemTable list(QStringLiteral("cdsNotaFiscal"));
    fillWithOneInvoice(list);
    QString series, types;
    const NotaFiscalRequest request = notaFiscalRequest(QStringLiteral("01"), {}, &series, &types);
    try {
        loadInvoiceList(connection.appServer(), request, list);
        QFAIL("a failed call loaded a list");
    } catch (const RpcError &e) {
        QCOMPARE(e.kind(), RpcError::Kind::Server);
        QCOMPARE(e.message(), QStringLiteral("Falhou"));
    }
    QCOMPARE(list.recordCount(), 1);
    QCOMPARE(list.asString(QStringLiteral("CDFILIAL")), QStringLiteral("9999"));
}

void tst_CompraLegalCore::nameCharacters_data()
{
    QTest::addColumn<QChar>("c");
    QTest::addColumn<bool>("refused");
    const QString refused = QStringLiteral("*\\/#!?@$%&+,");
    for (const QChar c : refused)
        QTest::addRow("refused %c", c.toLatin1()) << c << true;
    const QString taken = QStringLiteral("aZ09._- ()ç=;");
    for (const QChar c : taken)
        QTest::addRow("taken U+%04X", unsigned(c.unicode())) << c << false;
}

void tst_CompraLegalCore::nameCharacters()
{
    QFETCH(QChar, c);
    QFETCH(bool, refused);
    QCOMPARE(isRefusedInName(c), refused);
    QCOMPARE(refusedNameCharacters().contains(c), refused);
}

void tst_CompraLegalCore::baseNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("base");
    QTest::newRow("name and extension") << "COMPRA.TXT"
                                        << "COMPRA";
    QTest::newRow("no dot") << "COMPRA"
                            << "COMPRA";
    QTest::newRow("two dots") << "A.B.C"
                              << "A";
    QTest::newRow("only an extension") << ".TXT"
                                       << "";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_CompraLegalCore::baseNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, base);
    QCOMPARE(outputBaseName(typed), base);
}

void tst_CompraLegalCore::fileNames_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("name");
    QTest::newRow("first file") << "COMPRA"
                                << "0001"
                                << "COMPRA_0001_.txt";
    QTest::newRow("no base") << ""
                             << "0002"
                             << "_0002_.txt";
    QTest::newRow("sixteen characters") << "ABCDEFGHIJKLMNOP"
                                        << "0010"
                                        << "ABCDEFGHIJKLMNOP_0010_.txt";
}

void tst_CompraLegalCore::fileNames()
{
    QFETCH(QString, base);
    QFETCH(QString, part);
    QFETCH(QString, name);
    QCOMPARE(outputFileName(base, part), name);
}

void tst_CompraLegalCore::namesThatLeaveTheDirectory_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("leaves");
    QTest::newRow("plain") << "0001" << false;
    QTest::newRow("one dot") << "a.b" << false;
    QTest::newRow("slash") << "a/b" << true;
    QTest::newRow("backslash") << "a\\b" << true;
    QTest::newRow("parent") << ".." << true;
    QTest::newRow("nul") << QString(QChar(u'\0')) << true;
}

void tst_CompraLegalCore::namesThatLeaveTheDirectory()
{
    QFETCH(QString, part);
    QFETCH(bool, leaves);
    QCOMPARE(leavesDirectory(part), leaves);
}

void tst_CompraLegalCore::codeChecks_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << "" << int(Outcome::Empty) << ""
                           << "";
    QTest::newRow("blanks") << "  " << int(Outcome::Empty) << ""
                            << "";
    QTest::newRow("known, two digits") << "01" << int(Outcome::Known) << "01"
                                       << "ICMS";
    QTest::newRow("known, fitted with a zero") << "1" << int(Outcome::Known) << "01"
                                               << "ICMS";
    QTest::newRow("unknown") << "07" << int(Outcome::Unknown) << "07"
                             << "";
    QTest::newRow("unknown, fitted") << "7" << int(Outcome::Unknown) << "07"
                                     << "";
}

void tst_CompraLegalCore::codeChecks()
{
    QFETCH(QString, typed);
    QFETCH(int, outcome);
    QFETCH(QString, code);
    QFETCH(QString, name);
    const CodeLookup lookup = [](const QString &c) -> std::optional<QString> {
        if (c == QLatin1String("01"))
            return QStringLiteral("ICMS");
        return std::nullopt;
    };
    const CodeCheck check = checkCode(typed, 2, lookup);
    QCOMPARE(int(check.outcome), outcome);
    QCOMPARE(check.code, code);
    QCOMPARE(check.name, name);
}

void tst_CompraLegalCore::emptyCodeIsNotLookedUp()
{
    int lookups = 0;
    const CodeCheck check = checkCode(QStringLiteral(" "), 2, [&lookups](const QString &) {
        ++lookups;
        return std::optional<QString>(QStringLiteral("x"));
    });
    QCOMPARE(int(check.outcome), int(Outcome::Empty));
    QCOMPARE(lookups, 0);
}

void tst_CompraLegalCore::lookupFailurePassesToTheCaller()
{
    QVERIFY_THROWS_EXCEPTION(
        std::runtime_error,
        checkCode(QStringLiteral("01"), 2, [](const QString &) -> std::optional<QString> {
            throw std::runtime_error("database gone");
        }));
}

void tst_CompraLegalCore::firstMissingHeaderEntry_data()
{
    QTest::addColumn<QString>("imposto");
    QTest::addColumn<QString>("empresa");
    QTest::addColumn<QString>("nome");
    QTest::addColumn<int>("missing");
    QTest::newRow("all given") << "01"
                               << "01"
                               << "COMPRA" << int(HeaderEntry::None);
    QTest::newRow("no tax") << ""
                            << "01"
                            << "COMPRA" << int(HeaderEntry::Imposto);
    QTest::newRow("nothing: the tax first") << ""
                                            << ""
                                            << "" << int(HeaderEntry::Imposto);
    QTest::newRow("no company") << "01"
                                << " "
                                << "COMPRA" << int(HeaderEntry::Empresa);
    QTest::newRow("no company nor name: the company first") << "01"
                                                            << ""
                                                            << "" << int(HeaderEntry::Empresa);
    QTest::newRow("blank name") << "01"
                                << "01"
                                << "   " << int(HeaderEntry::NomeArquivo);
}

void tst_CompraLegalCore::firstMissingHeaderEntry()
{
    QFETCH(QString, imposto);
    QFETCH(QString, empresa);
    QFETCH(QString, nome);
    QFETCH(int, missing);
    QCOMPARE(int(firstMissingEntry(imposto, empresa, nome)), missing);
}

QTEST_GUILESS_MAIN(tst_CompraLegalCore)
#include "tst_compralegalcore.moc"
