// The server's methods read and check their arguments before any database work: what each
// argument becomes, and the exact texts the caller gets for the faults it checks.
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"
#include "rpcserver/rpcargs.h"
#include "server/compralegalargs.h"

#include <QTest>

#include <functional>
#include <limits>

using namespace fis;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The RpcError text `f` raises; empty when it raises none.
QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RpcError &e) {
        return e.message();
    }
    return {};
}

// GetNotaFiscal's arguments as the screen sends them for company 01, every status, with
// `changes` (index, value) applied.
RpcArgs notaFiscal(const QList<std::pair<int, RpcValue>> &changes = {})
{
    QList<RpcValue> values = {"01", "", "", "", "", "", "", "", nullptr, nullptr, "T", nullptr};
    for (const auto &[index, value] : changes)
        values[index] = value;
    return RpcArgs(QStringLiteral("GetNotaFiscal"), values);
}

// GetRegistro's arguments for a file's first page, with `changes` applied.
RpcArgs registro(const QList<std::pair<int, RpcValue>> &changes = {})
{
    QList<RpcValue> values = {"base", "01",        "01", QDate(2025, 1, 1), QDate(2025, 5, 20),
                              "",     "S",         0.0,  50000.0,           "05214783",
                              "F",    "0000000001"};
    for (const auto &[index, value] : changes)
        values[index] = value;
    return RpcArgs(QStringLiteral("GetRegistro"), values);
}

RpcArgs notasMarcadas(const std::vector<DataRow> &rows)
{
    return RpcArgs(QStringLiteral("getNotasMarcadas"),
                   {RpcValue::fromPacket(encodePacket(compralegal::listaFields(), rows))});
}

} // namespace

using Changes = QList<std::pair<int, RpcValue>>;
using Rows = std::vector<DataRow>;

class TestCompraLegalArgs : public QObject
{
    Q_OBJECT

private slots:
    void notaFiscalCriteria_data();
    void notaFiscalCriteria();
    void notaFiscalRejected_data();
    void notaFiscalRejected();

    void markedList_data();
    void markedList();
    void markedListRejected_data();
    void markedListRejected();

    void registroArgs();
    void registroRejected_data();
    void registroRejected();
    void firstPageRefusal_data();
    void firstPageRefusal();
    void pageRange_data();
    void pageRange();
};

void TestCompraLegalArgs::notaFiscalCriteria_data()
{
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("branch");
    QTest::addColumn<QStringList>("series"); // empty: no restriction
    QTest::addColumn<int>("status");
    QTest::addColumn<QDate>("end");
    QTest::addColumn<bool>("hasMinimum");

    const int both = int(InvoiceStatus::Both);
    QTest::newRow("nothing but the company")
        << Changes{} << QString() << QString() << QStringList() << both << QDate() << false;
    QTest::newRow("blank texts restrict nothing")
        << Changes{{1, "   "}, {3, " "}, {6, "  "}} << QString() << QString() << QStringList()
        << both << QDate() << false;
    QTest::newRow("texts trimmed")
        << Changes{{1, " 0042 "}, {3, "0001 "}} << QStringLiteral("0042") << QStringLiteral("0001")
        << QStringList() << both << QDate() << false;
    QTest::newRow("key list with blanks")
        << Changes{{6, " 'E01' , 'S 2' "}} << QString() << QString()
        << QStringList{QStringLiteral("E01"), QStringLiteral("S 2")} << both << QDate() << false;
    QTest::newRow("pending, lower case with blanks")
        << Changes{{10, " n "}} << QString() << QString() << QStringList()
        << int(InvoiceStatus::Pending) << QDate() << false;
    QTest::newRow("exported") << Changes{{10, "S"}} << QString() << QString() << QStringList()
                              << int(InvoiceStatus::Exported) << QDate() << false;
    QTest::newRow("end date") << Changes{{9, QDate(2025, 5, 20)}} << QString() << QString()
                              << QStringList() << both << QDate(2025, 5, 20) << false;
    QTest::newRow("minimum zero is a minimum")
        << Changes{{11, 0.0}} << QString() << QString() << QStringList() << both << QDate() << true;
}

void TestCompraLegalArgs::notaFiscalCriteria()
{
    QFETCH(Changes, changes);
    QFETCH(QString, number);
    QFETCH(QString, branch);
    QFETCH(QStringList, series);
    QFETCH(int, status);
    QFETCH(QDate, end);
    QFETCH(bool, hasMinimum);

    const InvoiceCriteria c = readNotaFiscalArgs(notaFiscal(changes));
    QCOMPARE(c.company, QStringLiteral("01"));
    // A null text is what restricts nothing: an empty one would match only empty columns.
    QCOMPARE(c.number.isNull(), number.isNull());
    QCOMPARE(c.number, number);
    QCOMPARE(c.branch.isNull(), branch.isNull());
    QCOMPARE(c.branch, branch);
    QCOMPARE(c.client.isNull(), true);
    QCOMPARE(c.series.has_value(), !series.isEmpty());
    QCOMPARE(c.series.value_or(QStringList()), series);
    QVERIFY(!c.operations);
    QCOMPARE(int(c.status), status);
    QVERIFY(!c.start.isValid());
    QCOMPARE(c.end, end);
    QCOMPARE(c.minimum.has_value(), hasMinimum);
}

void TestCompraLegalArgs::notaFiscalRejected_data()
{
    QTest::addColumn<RpcArgs>("args");
    QTest::addColumn<QString>("error");

    const QString status = QStringLiteral("Status inválido: \"%1\". Use N (pendente), S "
                                          "(exportado) ou T (ambos).");
    QTest::newRow("unknown status") << notaFiscal({{10, "X"}}) << status.arg(u"X");
    QTest::newRow("two statuses") << notaFiscal({{10, "NS"}}) << status.arg(u"NS");
    // The text names the status as it came, blanks included.
    QTest::newRow("blank status") << notaFiscal({{10, "  "}}) << status.arg(u"  ");
    QTest::newRow("infinite minimum")
        << notaFiscal({{11, kInfinity}}) << QStringLiteral("Valor mínimo inválido.");
    QTest::newRow("minimum not a number")
        << notaFiscal({{11, kNaN}}) << QStringLiteral("Valor mínimo inválido.");
    QTest::newRow("series key not quoted")
        << notaFiscal({{6, "E01"}})
        << QStringLiteral("Lista de chaves inválida (posição 1): esperado um apóstrofo de "
                          "abertura.");
    QTest::newRow("operation keys without a comma")
        << notaFiscal({{7, "'E01' 'S01'"}})
        << QStringLiteral("Lista de chaves inválida (posição 7): esperada uma vírgula.");
    // The key lists are checked before the status.
    QTest::newRow("bad keys and bad status")
        << notaFiscal({{7, "E01"}, {10, "X"}})
        << QStringLiteral("Lista de chaves inválida (posição 1): esperado um apóstrofo de "
                          "abertura.");
    QTest::newRow("date as text")
        << notaFiscal({{8, "2025-01-01"}})
        << QStringLiteral("O argumento 9 de GetNotaFiscal deve ser uma data, não texto.");
    QTest::newRow("too few arguments")
        << RpcArgs(QStringLiteral("GetNotaFiscal"), {"01"})
        << QStringLiteral("GetNotaFiscal recebe 12 argumentos, não 1.");
}

void TestCompraLegalArgs::notaFiscalRejected()
{
    QFETCH(RpcArgs, args);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { readNotaFiscalArgs(args); }), error);
}

void TestCompraLegalArgs::markedList_data()
{
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("sorted"); // empty: they came in their bytes' order

    QTest::newRow("one invoice") << Rows{{"000000001", "00011234", "052147836"}}
                                 << QStringList{QStringLiteral("00011234")} << QStringList();
    // The registration travels on the first invoice of each only; the list number's blanks do
    // not count, the keys' do.
    QTest::newRow("blanks around the list number, keys as they came")
        << Rows{{" 000000001", "00011234", "052147836"},
                {"000000001 ", " 00011234", QString()},
                {"000000001", "00021", QString()}}
        << QStringList{QStringLiteral("00011234"), QStringLiteral(" 00011234"),
                       QStringLiteral("00021")}
        << QStringList{QStringLiteral(" 00011234"), QStringLiteral("00011234"),
                       QStringLiteral("00021")};
    // Bytes, not characters: the accented key's first byte is above every ASCII one.
    QTest::newRow("keys out of order")
        << Rows{{"000000001", "0002Ç1", QString()},
                {"000000001", "000210", QString()},
                {"000000001", "00019", QString()},
                {"000000001", "0002Z", QString()}}
        << QStringList{QStringLiteral("0002Ç1"), QStringLiteral("000210"), QStringLiteral("00019"),
                       QStringLiteral("0002Z")}
        << QStringList{QStringLiteral("00019"), QStringLiteral("000210"), QStringLiteral("0002Z"),
                       QStringLiteral("0002Ç1")};
}

void TestCompraLegalArgs::markedList()
{
    QFETCH(Rows, rows);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, sorted);
    const MarkedList marked = readNotasMarcadasArgs(notasMarcadas(rows));
    QCOMPARE(marked.list, QStringLiteral("000000001"));
    const auto texts = [](const std::vector<QByteArrayView> &views) {
        QStringList got;
        for (const QByteArrayView key : views)
            got << QString::fromUtf8(key);
        return got;
    };
    QCOMPARE(texts(marked.keysAsSent()), keys);
    QCOMPARE(texts(marked.keys), sorted.isEmpty() ? keys : sorted);
    QCOMPARE(marked.rowOfKey.empty(), sorted.isEmpty());
}

void TestCompraLegalArgs::markedListRejected_data()
{
    QTest::addColumn<RpcArgs>("args");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("exact"); // or what the text begins with

    // The server's prefix, then the packet reader's own text.
    const QString packetPrefix =
        QStringLiteral("Pacote de dados inválido: cdsLista: pacote de dados inválido (");

    QTest::newRow("no rows") << notasMarcadas({})
                             << QStringLiteral("Nenhuma nota fiscal foi marcada.") << true;
    QTest::newRow("blank list number")
        << notasMarcadas({{"   ", "00011234", "052147836"}})
        << QStringLiteral("Número da lista deve ser informado (NRLISTA vazio).") << true;
    QTest::newRow("two list numbers")
        << notasMarcadas(
               {{"0000000001", "00011234", "052147836"}, {" 000000002", "00011235", QString()}})
        << QStringLiteral("As notas marcadas pertencem a listas diferentes (0000000001 e  "
                          "000000002).")
        << true;
    QTest::newRow("blank key") << notasMarcadas({{"0000000001", "00011234", "052147836"},
                                                 {"0000000001", "  ", QString()}})
                               << QStringLiteral("Nota marcada sem CDLISTA.") << true;
    QTest::newRow("key twice") << notasMarcadas({{"0000000001", "00011234", "052147836"},
                                                 {"0000000001", "00011234", QString()}})
                               << QStringLiteral("A nota 00011234 foi marcada duas vezes.") << true;
    // The key whose second row comes first, though another sorts before it.
    QTest::newRow("two keys twice")
        << notasMarcadas({{"0000000001", "00029", QString()},
                          {"0000000001", "00011234", QString()},
                          {"0000000001", "00029", QString()},
                          {"0000000001", "00011234", QString()}})
        << QStringLiteral("A nota 00029 foi marcada duas vezes.") << true;
    QTest::newRow("key twice before a blank key")
        << notasMarcadas({{"0000000001", "00029", QString()},
                          {"0000000001", "00029", QString()},
                          {"0000000001", "", QString()}})
        << QStringLiteral("A nota 00029 foi marcada duas vezes.") << true;
    QTest::newRow("blank key before a key twice")
        << notasMarcadas({{"0000000001", "00029", QString()},
                          {"0000000001", "", QString()},
                          {"0000000001", "00029", QString()}})
        << QStringLiteral("Nota marcada sem CDLISTA.") << true;
    // Checked in the rows' order: the blank key comes first.
    QTest::newRow("blank key before another list")
        << notasMarcadas({{"0000000001", "", QString()}, {"0000000002", "00011234", QString()}})
        << QStringLiteral("Nota marcada sem CDLISTA.") << true;
    QTest::newRow("not a packet") << RpcArgs(QStringLiteral("getNotasMarcadas"),
                                             {RpcValue::fromPacket(QByteArray("\xa1\x01\x02", 3))})
                                  << packetPrefix << false;
    QTest::newRow("other fields") << RpcArgs(QStringLiteral("getNotasMarcadas"),
                                             {RpcValue::fromPacket(
                                                 encodePacket({compralegal::listaFields().at(0)},
                                                              {DataRow{QStringLiteral("1")}}))})
                                  << packetPrefix << false;
    QTest::newRow("text instead of a packet")
        << RpcArgs(QStringLiteral("getNotasMarcadas"), {"x"})
        << QStringLiteral(
               "O argumento 1 de getNotasMarcadas deve ser um pacote de dados, não texto.")
        << true;
}

void TestCompraLegalArgs::markedListRejected()
{
    QFETCH(RpcArgs, args);
    QFETCH(QString, error);
    QFETCH(bool, exact);
    const QString got = errorOf([&] { readNotasMarcadasArgs(args); });
    QVERIFY2(exact ? got == error : got.startsWith(error) && got.size() > error.size(),
             qPrintable(got));
}

void TestCompraLegalArgs::registroArgs()
{
    const RegistroArgs r = readRegistroArgs(registro({{1, " 01 "},
                                                      {2, " 02"},
                                                      {4, nullptr},
                                                      {5, " 0000000007 "},
                                                      {7, qint64(3)},
                                                      {9, "05214783 "},
                                                      {11, " 0000000001"}}));
    QCOMPARE(r.company, QStringLiteral("01"));
    QCOMPARE(r.tax, QStringLiteral("02"));
    QCOMPARE(r.start, QDate(2025, 1, 1));
    QVERIFY(!r.end.isValid());
    QCOMPARE(r.continuation, QStringLiteral("0000000007"));
    QCOMPARE(r.first, 3.0);
    QCOMPARE(r.last, 50000.0);
    QCOMPARE(r.registration, QStringLiteral("05214783"));
    QCOMPARE(r.list, QStringLiteral("0000000001"));
}

void TestCompraLegalArgs::registroRejected_data()
{
    QTest::addColumn<RpcArgs>("args");
    QTest::addColumn<QString>("error");

    const QString bounds = QStringLiteral("Limites de página inválidos.");
    QTest::newRow("infinite last") << registro({{8, kInfinity}}) << bounds;
    QTest::newRow("first not a number") << registro({{7, kNaN}}) << bounds;
    QTest::newRow("file name not a text")
        << registro({{0, 1.0}})
        << QStringLiteral("O argumento 1 de GetRegistro deve ser texto, não número.");
    QTest::newRow("period as text")
        << registro({{3, "2025-01-01"}})
        << QStringLiteral("O argumento 4 de GetRegistro deve ser uma data, não texto.");
    // Argument 7 is never read: whatever comes there is taken.
    QTest::newRow("anything as argument 7") << registro({{6, 12.0}}) << QString();
}

void TestCompraLegalArgs::registroRejected()
{
    QFETCH(RpcArgs, args);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { readRegistroArgs(args); }), error);
}

void TestCompraLegalArgs::firstPageRefusal_data()
{
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<QString>("refusal"); // null: none

    const QString period = QStringLiteral("Período deve ser informado.");
    QTest::newRow("good") << Changes{} << QString();
    QTest::newRow("one-day period")
        << Changes{{3, QDate(2025, 5, 20)}, {4, QDate(2025, 5, 20)}} << QString();
    QTest::newRow("no list number")
        << Changes{{11, "  "}} << QStringLiteral("Número da lista deve ser informado.");
    QTest::newRow("no list number and no period")
        << Changes{{11, ""}, {3, nullptr}} << QStringLiteral("Número da lista deve ser informado.");
    QTest::newRow("no start") << Changes{{3, nullptr}} << period;
    QTest::newRow("no end") << Changes{{4, nullptr}} << period;
    QTest::newRow("ends before it starts")
        << Changes{{3, QDate(2025, 5, 21)}}
        << QStringLiteral("Data inicial do período deve ser menor ou igual a data final do "
                          "período.");
}

void TestCompraLegalArgs::firstPageRefusal()
{
    QFETCH(Changes, changes);
    QFETCH(QString, refusal);
    const std::optional<QString> got = fis::firstPageRefusal(readRegistroArgs(registro(changes)));
    QCOMPARE(got.has_value(), !refusal.isNull());
    QCOMPARE(got.value_or(QString()), refusal);
}

void TestCompraLegalArgs::pageRange_data()
{
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    QTest::addColumn<qint64>("pageSize");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<bool>("adjusted");

    QTest::newRow("first page from 0")
        << 0.0 << 50000.0 << qint64(50000) << qint64(1) << qint64(50000) << false;
    QTest::newRow("next page") << 50001.0 << 100000.0 << qint64(50000) << qint64(50001)
                               << qint64(100000) << false;
    QTest::newRow("more than a page")
        << 0.0 << 50000.0 << qint64(1000) << qint64(1) << qint64(1000) << true;
    QTest::newRow("one over a page")
        << 1.0 << 1001.0 << qint64(1000) << qint64(1) << qint64(1000) << true;
    QTest::newRow("fewer than a page")
        << 0.0 << 50000.0 << qint64(200000) << qint64(1) << qint64(200000) << true;
    QTest::newRow("next of larger pages")
        << 200001.0 << 250000.0 << qint64(200000) << qint64(200001) << qint64(400000) << true;
    QTest::newRow("fractional bounds inwards")
        << 1.5 << 10.7 << qint64(9) << qint64(2) << qint64(10) << false;
    QTest::newRow("negative first") << -5.0 << 3.0 << qint64(3) << qint64(1) << qint64(3) << false;
    QTest::newRow("huge last") << 50001.0 << 1e300 << qint64(50000) << qint64(50001)
                               << qint64(100000) << true;
    QTest::newRow("nothing asked")
        << 10.0 << 5.0 << qint64(100) << qint64(10) << qint64(5) << false;
}

void TestCompraLegalArgs::pageRange()
{
    QFETCH(double, first);
    QFETCH(double, last);
    QFETCH(qint64, pageSize);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(bool, adjusted);
    const PageRange range = fis::pageRange(first, last, pageSize);
    QCOMPARE(range.from, from);
    QCOMPARE(range.to, to);
    QCOMPARE(range.adjusted, adjusted);
}

QTEST_GUILESS_MAIN(TestCompraLegalArgs)
#include "tst_compralegalargs.moc"
