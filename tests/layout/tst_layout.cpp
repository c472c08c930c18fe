#include "layout/fieldformat.h"
#include "layout/filelayoutbuilder.h"
#include "layout/layouterror.h"
#include "layout/record90.h"
#include "layout/records.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <initializer_list>
#include <limits>

using namespace fis;

namespace {

// One field of a golden line, written by hand from the layout: 1-based position, size, content.
struct Slice
{
    int pos;
    int size;
    const char *text;
};

// Compares a line field by field, so that a wrong position names the field. The table itself is
// checked to tile positions 1 to 126, which keeps a slip in the hand-written golden data from
// passing unnoticed.
void compareFields(const QByteArray &line, std::initializer_list<Slice> fields)
{
    QCOMPARE(line.size(), 126);
    int expectedPos = 1;
    for (const Slice &f : fields) {
        QCOMPARE(f.pos, expectedPos);
        QCOMPARE(qstrlen(f.text), uint(f.size));
        QVERIFY2(line.mid(f.pos - 1, f.size) == f.text,
                 qPrintable(QStringLiteral("positions %1-%2: got \"%3\", want \"%4\"")
                                .arg(f.pos)
                                .arg(f.pos + f.size - 1)
                                .arg(QString::fromLatin1(line.mid(f.pos - 1, f.size)),
                                     QString::fromLatin1(f.text))));
        expectedPos += f.size;
    }
    QCOMPARE(expectedPos, 127);
}

Informant sampleInformant()
{
    Informant i;
    i.cnpj = QStringLiteral("12345678000195");
    i.stateRegistration = QStringLiteral("12345678");
    i.name = QStringLiteral("Comércio de Alimentos São João Ltda - Filial Centro");
    i.municipality = QStringLiteral("Feira de Santana");
    i.street = QStringLiteral("Rua Conselheiro Almeida Couto, Edifício Centro Empresarial");
    i.number = QStringLiteral("123");
    i.complement = QStringLiteral("Sala 1º andar");
    i.district = QStringLiteral("Centro");
    i.postalCode = QStringLiteral("44001000");
    i.contactName = QStringLiteral("José da Conceição");
    i.phone = QStringLiteral("7532211234");
    return i;
}

const Period january{QDate(2024, 1, 1), QDate(2024, 1, 31)};

InvoiceKey key(int day, qint64 number, const QString &issuer = QStringLiteral("98765432000110"))
{
    return {issuer, QDate(2024, 1, day), 55, QStringLiteral("1"), number};
}

Invoice invoice(const InvoiceKey &k)
{
    Invoice inv;
    inv.key = k;
    inv.issuerState = QStringLiteral("SE");
    inv.cfop = 2102;
    inv.totalValue = 100;
    return inv;
}

Item item(const InvoiceKey &k, int number, const QString &productCode)
{
    Item it;
    it.invoice = k;
    it.cfop = 2102;
    it.cst = QStringLiteral("000");
    it.itemNumber = number;
    it.productCode = productCode;
    it.quantity = 1;
    return it;
}

Product product(const QString &code, const QString &description = QStringLiteral("Produto"))
{
    Product p;
    p.code = code;
    p.ncm = QStringLiteral("84713012");
    p.description = description;
    p.unit = QStringLiteral("UN");
    return p;
}

// Collects what a builder emits, copying each line out of the view.
struct Collector
{
    QList<QByteArray> lines;
    FileLayoutBuilder::LineSink sink()
    {
        return [this](QByteArrayView line) {
            lines.append(line.toByteArray());
        };
    }
};

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void amount_data();
    void amount();
    void number_data();
    void number();
    void digitsOfEveryLength();
    void text_data();
    void text();
    void digits_data();
    void digits();
    void date_data();
    void date();
    void errorNamesRecordFieldAndValue();

    void record10();
    void record11();
    void record50();
    void record50Variants();
    void record54();
    void record75();
    void recordErrors();

    void fileLineCount_data();
    void fileLineCount();
    void record90ThreePairs();
    void record90ManyPairs();
    void record90TooManyRecords();

    void builderWholeFile();
    void builderInvoicesOnly();
    void builderOrder_data();
    void builderOrder();
    void builderMissingProduct();
    void builderStages();
};

// --- fields ---------------------------------------------------------------------------------

void TestLayout::amount_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected"); // empty: LayoutError

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("implied decimals") << 13 << 2 << 1234.5 << QByteArray("0000000123450");
    QTest::newRow("zero") << 13 << 2 << 0.0 << QByteArray("0000000000000");
    QTest::newRow("negative zero") << 13 << 2 << -0.0 << QByteArray("0000000000000");
    QTest::newRow("binary half up") << 4 << 2 << 0.125 << QByteArray("0013");
    QTest::newRow("decimal half 1.005") << 13 << 2 << 1.005 << QByteArray("0000000000101");
    QTest::newRow("decimal half 2.675") << 13 << 2 << 2.675 << QByteArray("0000000000268");
    QTest::newRow("just below half") << 13 << 2 << 1.0049 << QByteArray("0000000000100");
    QTest::newRow("just above half") << 13 << 2 << 1.0051 << QByteArray("0000000000101");
    QTest::newRow("half away not to even") << 5 << 0 << 2.5 << QByteArray("00003");
    QTest::newRow("three decimals") << 11 << 3 << 2.0005 << QByteArray("00000002001");
    QTest::newRow("large half") << 13 << 2 << 12345678901.235 << QByteArray("1234567890124");
    QTest::newRow("large below half") << 13 << 2 << 12345678901.234 << QByteArray("1234567890123");
    QTest::newRow("fills the field") << 13 << 2 << 99999999999.99 << QByteArray("9999999999999");
    QTest::newRow("rate 17%") << 4 << 2 << 17.0 << QByteArray("1700");
    QTest::newRow("rounds into overflow") << 13 << 2 << 99999999999.995 << QByteArray();
    QTest::newRow("rate 100% too long") << 4 << 2 << 100.0 << QByteArray();
    QTest::newRow("huge") << 13 << 2 << 1e300 << QByteArray();
    QTest::newRow("negative") << 13 << 2 << -0.01 << QByteArray();
    QTest::newRow("negative rounding to zero") << 13 << 2 << -0.001 << QByteArray();
    QTest::newRow("nan") << 13 << 2 << nan << QByteArray();
    QTest::newRow("infinity") << 13 << 2 << inf << QByteArray();
}

void TestLayout::amount()
{
    QFETCH(int, width);
    QFETCH(int, decimals);
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    const FieldFormat field{"50", "total value", width, decimals};
    if (expected.isEmpty())
        QVERIFY_THROWS_EXCEPTION(LayoutError, formatAmount(field, value));
    else
        QCOMPARE(formatAmount(field, value), expected);
}

// Every length of value, across the 32-bit boundary the digits are written in two ways about:
// a whole number of cents comes out as its digits, zero-filled, and so does a number.
void TestLayout::digitsOfEveryLength()
{
    QRandomGenerator random(20251209);
    for (int length = 1; length <= 15; ++length) {
        const quint64 low = length == 1 ? 0 : quint64(std::pow(10.0, length - 1));
        const quint64 high = quint64(std::pow(10.0, length)) - 1;
        for (quint64 cents : {low, high, low + random.bounded(quint64(high - low)),
                              quint64(4294967295u), quint64(4294967296u), quint64(4294967199u)}) {
            if (cents > high || (length > 1 && cents < low))
                continue;
            const QByteArray digits = QByteArray::number(cents).rightJustified(15, '0');
            QCOMPARE(formatAmount({"54", "product value", 15, 2}, double(cents) / 100.0), digits);
            QCOMPARE(formatNumber({"90", "count", 15}, qint64(cents)), digits);
        }
    }
}

void TestLayout::number_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("zero-filled") << 6 << qint64(42) << QByteArray("000042");
    QTest::newRow("fills the field") << 6 << qint64(999999) << QByteArray("999999");
    QTest::newRow("model 01") << 2 << qint64(1) << QByteArray("01");
    QTest::newRow("one digit too many") << 6 << qint64(1000000) << QByteArray();
    QTest::newRow("item 1000") << 3 << qint64(1000) << QByteArray();
    QTest::newRow("negative") << 4 << qint64(-1) << QByteArray();
}

void TestLayout::number()
{
    QFETCH(int, width);
    QFETCH(qint64, value);
    QFETCH(QByteArray, expected);
    const FieldFormat field{"54", "item number", width};
    if (expected.isEmpty())
        QVERIFY_THROWS_EXCEPTION(LayoutError, formatNumber(field, value));
    else
        QCOMPARE(formatNumber(field, value), expected);
}

void TestLayout::text_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("upper case") << 10 << false << QStringLiteral("abc") << QByteArray("ABC       ");
    QTest::newRow("accents") << 10 << false << QStringLiteral("São João")
                             << QByteArray("SAO JOAO  ");
    QTest::newRow("cedilla") << 5 << false << QStringLiteral("ç Ç") << QByteArray("C C  ");
    QTest::newRow("Latin-1 letters") << 26 << false << QStringLiteral("àáâãäåèéêëìíîïòóôõöùúûüýÿñ")
                                     << QByteArray("AAAAAAEEEEIIIIOOOOOUUUUYYN");
    QTest::newRow("decomposed accent dropped")
        << 5 << false << QStringLiteral("Jose\u0301") << QByteArray("JOSE ");
    QTest::newRow("nested decomposition")
        << 2 << false << QStringLiteral("\u1EABo") << QByteArray("AO");
    QTest::newRow("beyond Latin-1") << 4 << false << QStringLiteral("Łódź") << QByteArray(" ODZ");
    QTest::newRow("symbols to blank")
        << 7 << false << QStringLiteral("1º€®ª\u00A0A") << QByteArray("1     A");
    QTest::newRow("control characters")
        << 5 << false << QStringLiteral("A\tB\nC") << QByteArray("A B C");
    QTest::newRow("surrogate pair is one blank")
        << 3 << false << QStringLiteral("A😀B") << QByteArray("A B");
    QTest::newRow("fullwidth letter")
        << 2 << false << QStringLiteral("\uFF21B") << QByteArray(" B");
    QTest::newRow("empty") << 3 << false << QString() << QByteArray("   ");
    QTest::newRow("exact width") << 3 << false << QStringLiteral("abc") << QByteArray("ABC");
    QTest::newRow("trailing blanks fit")
        << 3 << false << QStringLiteral("ab     ") << QByteArray("AB ");
    QTest::newRow("too long") << 3 << false << QStringLiteral("ABCD") << QByteArray();
    QTest::newRow("too long with inner blank")
        << 3 << false << QStringLiteral("AB C") << QByteArray();
    QTest::newRow("cut") << 3 << true << QStringLiteral("abcde") << QByteArray("ABC");
    QTest::newRow("cut after folding")
        << 4 << true << QStringLiteral("Ação Social") << QByteArray("ACAO");
    QTest::newRow("cut field short value")
        << 6 << true << QStringLiteral("Ré") << QByteArray("RE    ");
}

void TestLayout::text()
{
    QFETCH(int, width);
    QFETCH(bool, cut);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    const FieldFormat field{"10", "name", width, 0, cut};
    if (expected.isEmpty())
        QVERIFY_THROWS_EXCEPTION(LayoutError, formatText(field, value));
    else
        QCOMPARE(formatText(field, value), expected);
}

void TestLayout::digits_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("CNPJ") << 14 << QStringLiteral("12345678000195") << QByteArray("12345678000195");
    QTest::newRow("CPF zero-filled")
        << 14 << QStringLiteral("12345678909") << QByteArray("00012345678909");
    QTest::newRow("no fax") << 10 << QString() << QByteArray("0000000000");
    QTest::newRow("blank-padded column")
        << 8 << QStringLiteral(" 44001000  ") << QByteArray("44001000");
    QTest::newRow("formatted CEP") << 8 << QStringLiteral("44001-000") << QByteArray();
    QTest::newRow("inner blank") << 8 << QStringLiteral("4400 1000") << QByteArray();
    QTest::newRow("letter") << 10 << QStringLiteral("75A") << QByteArray();
    QTest::newRow("non-ASCII digit") << 4 << QStringLiteral("12\u0663") << QByteArray();
    QTest::newRow("too many digits") << 8 << QStringLiteral("440010001") << QByteArray();
}

void TestLayout::digits()
{
    QFETCH(int, width);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    const FieldFormat field{"11", "postal code", width};
    if (expected.isEmpty())
        QVERIFY_THROWS_EXCEPTION(LayoutError, formatDigits(field, value));
    else
        QCOMPARE(formatDigits(field, value), expected);
}

void TestLayout::date_data()
{
    QTest::addColumn<QDate>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("AAAAMMDD") << QDate(2024, 3, 5) << QByteArray("20240305");
    QTest::newRow("end of year") << QDate(1999, 12, 31) << QByteArray("19991231");
    QTest::newRow("null") << QDate() << QByteArray();
    QTest::newRow("invalid") << QDate(2023, 2, 29) << QByteArray();
    QTest::newRow("five-digit year") << QDate(10000, 1, 1) << QByteArray();
}

void TestLayout::date()
{
    QFETCH(QDate, value);
    QFETCH(QByteArray, expected);
    const FieldFormat field{"50", "date", 8};
    if (expected.isEmpty())
        QVERIFY_THROWS_EXCEPTION(LayoutError, formatDate(field, value));
    else
        QCOMPARE(formatDate(field, value), expected);
}

void TestLayout::errorNamesRecordFieldAndValue()
{
    const auto messageOf = [](auto call) {
        try {
            call();
        } catch (const LayoutError &e) {
            return e.message();
        }
        return QString();
    };
    const QString amount = messageOf([] {
        formatAmount({"50", "total value", 13, 2}, 123456789012.5);
    });
    QVERIFY2(amount.contains(u"50") && amount.contains(u"total value") &&
                 amount.contains(u"123456789012.5"),
             qPrintable(amount));
    const QString text = messageOf([] { formatText({"75", "unit", 6}, u"Caixa c/12"); });
    QVERIFY2(text.contains(u"75") && text.contains(u"unit") && text.contains(u"Caixa c/12"),
             qPrintable(text));
    // what() carries the same text for callers that only know std::exception
    try {
        formatDigits({"11", "postal code", 8}, u"44001-000");
        QFAIL("no exception");
    } catch (const std::exception &e) {
        QVERIFY(QString::fromUtf8(e.what()).contains(u"44001-000"));
    }
}

// --- records --------------------------------------------------------------------------------

void TestLayout::record10()
{
    compareFields(fis::record10(sampleInformant(), january),
                  {
                      {1, 2, "10"},
                      {3, 14, "12345678000195"},
                      {17, 14, "12345678      "},
                      {31, 35, "COMERCIO DE ALIMENTOS SAO JOAO LTDA"},
                      {66, 30, "FEIRA DE SANTANA              "},
                      {96, 2, "BA"},
                      {98, 10, "0000000000"},
                      {108, 8, "20240101"},
                      {116, 8, "20240131"},
                      {124, 1, "3"},
                      {125, 1, "3"},
                      {126, 1, "1"},
                  });
}

void TestLayout::record11()
{
    compareFields(fis::record11(sampleInformant()),
                  {
                      {1, 2, "11"},
                      {3, 34, "RUA CONSELHEIRO ALMEIDA COUTO, EDI"},
                      {37, 5, "00123"},
                      {42, 22, "SALA 1  ANDAR         "},
                      {64, 15, "CENTRO         "},
                      {79, 8, "44001000"},
                      {87, 28, "JOSE DA CONCEICAO           "},
                      {115, 12, "007532211234"},
                  });
}

void TestLayout::record50()
{
    Invoice inv = invoice(key(15, 1234567));
    inv.issuerState = QStringLiteral("se");
    inv.totalValue = 1234.5;
    inv.icmsBase = 1000;
    inv.icmsValue = 170;
    inv.exemptValue = 0.005;
    inv.otherValue = 234.499;
    inv.icmsRate = 17;
    compareFields(fis::record50(inv), {
                                          {1, 2, "50"},
                                          {3, 14, "98765432000110"},
                                          {17, 14, "ISENTO        "},
                                          {31, 8, "20240115"},
                                          {39, 2, "SE"},
                                          {41, 2, "55"},
                                          {43, 3, "1  "},
                                          {46, 6, "234567"},
                                          {52, 4, "2102"},
                                          {56, 1, "T"},
                                          {57, 13, "0000000123450"},
                                          {70, 13, "0000000100000"},
                                          {83, 13, "0000000017000"},
                                          {96, 13, "0000000000001"},
                                          {109, 13, "0000000023450"},
                                          {122, 4, "1700"},
                                          {126, 1, "N"},
                                      });
}

void TestLayout::record50Variants()
{
    Invoice inv =
        invoice({QStringLiteral("12345678909"), QDate(2024, 1, 2), 1, QStringLiteral("u"), 42});
    inv.issuerStateRegistration = QStringLiteral("0123456-pr");
    inv.issuer = InvoiceIssuer::Own;
    inv.cancelled = true;
    const QByteArray line = fis::record50(inv);
    QCOMPARE(line.size(), 126);
    QCOMPARE(line.mid(2, 14), QByteArray("00012345678909"));
    QCOMPARE(line.mid(16, 14), QByteArray("0123456-PR    "));
    QCOMPARE(line.mid(40, 2), QByteArray("01"));
    QCOMPARE(line.mid(42, 3), QByteArray("U  "));
    QCOMPARE(line.mid(45, 6), QByteArray("000042"));
    QCOMPARE(line.mid(55, 1), QByteArray("P"));
    QCOMPARE(line.mid(125, 1), QByteArray("S"));

    inv.issuerStateRegistration = QStringLiteral("   ");
    QCOMPARE(fis::record50(inv).mid(16, 14), QByteArray("ISENTO        "));
}

void TestLayout::record54()
{
    Item it = item(key(15, 1234567), 1, QStringLiteral("ab-100"));
    it.quantity = 2.5;
    it.productValue = 1234.5;
    it.icmsBase = 1000;
    it.ipiValue = 12.34;
    it.icmsRate = 17;
    compareFields(fis::record54(it), {
                                         {1, 2, "54"},
                                         {3, 14, "98765432000110"},
                                         {17, 2, "55"},
                                         {19, 3, "1  "},
                                         {22, 6, "234567"},
                                         {28, 4, "2102"},
                                         {32, 3, "000"},
                                         {35, 3, "001"},
                                         {38, 14, "AB-100        "},
                                         {52, 11, "00000002500"},
                                         {63, 12, "000000123450"},
                                         {75, 12, "000000000000"},
                                         {87, 12, "000000100000"},
                                         {99, 12, "000000000000"},
                                         {111, 12, "000000001234"},
                                         {123, 4, "1700"},
                                     });
}

void TestLayout::record75()
{
    Product p = product(
        QStringLiteral("ab-100"),
        QStringLiteral("Notebook com processador Intel® Core™ i5, memória 8 GB, SSD 256 GB"));
    p.unit = QStringLiteral("un");
    p.ipiRate = 5;
    p.icmsRate = 17;
    p.baseReduction = 33.33;
    compareFields(fis::record75(p, january),
                  {
                      {1, 2, "75"},
                      {3, 8, "20240101"},
                      {11, 8, "20240131"},
                      {19, 14, "AB-100        "},
                      {33, 8, "84713012"},
                      {41, 53, "NOTEBOOK COM PROCESSADOR INTEL  CORE  I5, MEMORIA 8 G"},
                      {94, 6, "UN    "},
                      {100, 5, "00500"},
                      {105, 4, "1700"},
                      {109, 5, "03333"},
                      {114, 13, "0000000000000"},
                  });
}

void TestLayout::recordErrors()
{
    // Fields not marked "cut" reject long values instead of losing part of a code.
    QVERIFY_THROWS_EXCEPTION(LayoutError,
                             fis::record54(item(key(1, 1), 1, QStringLiteral("ABCDEFGHIJKLMNO"))));
    Item negative = item(key(1, 1), 1, QStringLiteral("A"));
    negative.quantity = -1;
    try {
        fis::record54(negative);
        QFAIL("no exception");
    } catch (const LayoutError &e) {
        QVERIFY2(e.message().contains(u"Registro 54") && e.message().contains(u"quantidade"),
                 qPrintable(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(LayoutError,
                             fis::record10(sampleInformant(), {january.end, january.start}));
    QVERIFY_THROWS_EXCEPTION(LayoutError, fis::record75(product(QStringLiteral("A")), {}));
}

// --- records 90 -----------------------------------------------------------------------------

void TestLayout::fileLineCount_data()
{
    QTest::addColumn<qint64>("record50");
    QTest::addColumn<qint64>("record54");
    QTest::addColumn<qint64>("record75");
    QTest::addColumn<qint64>("lines");

    QTest::newRow("empty") << qint64(0) << qint64(0) << qint64(0) << qint64(3);
    QTest::newRow("one invoice") << qint64(1) << qint64(0) << qint64(0) << qint64(4);
    QTest::newRow("all types") << qint64(3) << qint64(5) << qint64(2) << qint64(13);
    QTest::newRow("large") << qint64(1000000) << qint64(3000000) << qint64(500) << qint64(4000503);
}

void TestLayout::fileLineCount()
{
    QFETCH(qint64, record50);
    QFETCH(qint64, record54);
    QFETCH(qint64, record75);
    QFETCH(qint64, lines);
    QCOMPARE(fis::fileLineCount({record50, record54, record75}), lines);
}

void TestLayout::record90ThreePairs()
{
    const QList<QByteArray> lines =
        records90(u"12345678000195", u"12345678", RecordCounts{3, 5, 2});
    QCOMPARE(lines.size(), 1);
    compareFields(lines[0], {
                                {1, 2, "90"},
                                {3, 14, "12345678000195"},
                                {17, 14, "12345678      "},
                                {31, 2, "50"},
                                {33, 8, "00000003"},
                                {41, 2, "54"},
                                {43, 8, "00000005"},
                                {51, 2, "75"},
                                {53, 8, "00000002"},
                                {61, 2, "99"},
                                {63, 8, "00000013"},
                                {71, 55, "                                                       "},
                                {126, 1, "1"},
                            });
}

void TestLayout::record90ManyPairs()
{
    // A file of this kind has at most four pairs; the split is checked with made-up types.
    QList<TypeTotal> pairs;
    for (int type = 51; type <= 59; ++type)
        pairs.append({type, type - 50});
    pairs.append({99, 123});
    const QList<QByteArray> lines = records90(u"12345678000195", u"12345678", pairs);
    QCOMPARE(lines.size(), 2);
    compareFields(lines[0], {
                                {1, 2, "90"},
                                {3, 14, "12345678000195"},
                                {17, 14, "12345678      "},
                                {31, 10, "5100000001"},
                                {41, 10, "5200000002"},
                                {51, 10, "5300000003"},
                                {61, 10, "5400000004"},
                                {71, 10, "5500000005"},
                                {81, 10, "5600000006"},
                                {91, 10, "5700000007"},
                                {101, 10, "5800000008"},
                                {111, 10, "5900000009"},
                                {121, 5, "     "},
                                {126, 1, "2"},
                            });
    compareFields(lines[1],
                  {
                      {1, 2, "90"},
                      {3, 14, "12345678000195"},
                      {17, 14, "12345678      "},
                      {31, 10, "9900000123"},
                      {41, 85,
                       "                                                                  "
                       "                   "},
                      {126, 1, "2"},
                  });

    pairs.removeLast();
    QCOMPARE(records90(u"1", u"X", pairs).size(), 1); // exactly nine still fit one record
}

void TestLayout::record90TooManyRecords()
{
    QList<TypeTotal> pairs(81, TypeTotal{50, 1});
    QCOMPARE(records90(u"1", u"X", pairs).size(), 9);
    QCOMPARE(records90(u"1", u"X", pairs).last().right(1), QByteArray("9"));
    pairs.append({99, 1});
    QVERIFY_THROWS_EXCEPTION(LayoutError, records90(u"1", u"X", pairs));
    QVERIFY_THROWS_EXCEPTION(LayoutError, records90(u"1", u"X", QList<TypeTotal>{{99, 100000000}}));
}

// --- builder --------------------------------------------------------------------------------

void TestLayout::builderWholeFile()
{
    Collector out;
    FileLayoutBuilder builder(out.sink());
    builder.addProduct(product(QStringLiteral("P2"), QStringLiteral("Second")));
    builder.begin(sampleInformant(), january);
    const InvoiceKey a = key(3, 20);
    const InvoiceKey b = key(3, 21);
    const InvoiceKey c = key(3, 21, QStringLiteral("99999999000199")); // same number, other issuer
    const InvoiceKey d = key(9, 5);
    for (const InvoiceKey &k : {a, b, c, d})
        builder.addInvoice(invoice(k));
    builder.addItem(item(a, 1, QStringLiteral("P2")));
    builder.addItem(item(a, 2, QStringLiteral("p1")));
    builder.addItem(item(b, 1, QStringLiteral("P2")));
    builder.addItem(item(d, 1, QStringLiteral("P3")));
    builder.addItem(item(d, 7, QStringLiteral("P1")));
    builder.addProduct(product(QStringLiteral("P3")));
    builder.addProduct(product(QStringLiteral("p1"), QStringLiteral("First")));
    builder.addProduct(product(QStringLiteral("P1"), QStringLiteral("Repeated")));
    builder.addProduct(product(QStringLiteral("UNUSED")));
    const qint64 total = builder.finish();

    QByteArrayList types;
    for (const QByteArray &line : out.lines) {
        QCOMPARE(line.size(), 126);
        types.append(line.left(2));
    }
    QCOMPARE(types.join(' '), QByteArray("10 11 50 50 50 50 54 54 54 54 54 75 75 75 90"));
    QCOMPARE(total, qint64(out.lines.size()));
    QCOMPARE(out.lines.mid(11, 3),
             QByteArrayList(
                 {fis::record75(product(QStringLiteral("p1"), QStringLiteral("First")), january),
                  fis::record75(product(QStringLiteral("P2"), QStringLiteral("Second")), january),
                  fis::record75(product(QStringLiteral("P3")), january)}));
    const QByteArray &totals = out.lines.last();
    QCOMPARE(totals.mid(30, 40), QByteArray("5000000004540000000575000000039900000015"));
    QCOMPARE(totals.mid(62, 8).toLongLong(), qint64(out.lines.size()));
    QCOMPARE(builder.counts().record54, qint64(5));
}

void TestLayout::builderInvoicesOnly()
{
    // No records 54, hence no products used: the record 90 totals 50 and 99 only.
    Collector out;
    FileLayoutBuilder builder(out.sink());
    builder.begin(sampleInformant(), january);
    builder.addInvoice(invoice(key(1, 1)));
    builder.addInvoice(invoice(key(2, 1)));
    builder.addProduct(product(QStringLiteral("NOT USED")));
    QCOMPARE(builder.finish(), qint64(5));
    QCOMPARE(out.lines.size(), 5);
    QCOMPARE(out.lines.last().mid(30, 20), QByteArray("50000000029900000005"));
    QCOMPARE(out.lines.last().mid(50), QByteArray(75, ' ') + '1');
}

void TestLayout::builderOrder_data()
{
    QTest::addColumn<QList<InvoiceKey>>("invoices");
    QTest::addColumn<QList<int>>("itemInvoice"); // index into invoices, one per item
    QTest::addColumn<QList<int>>("itemNumber");
    QTest::addColumn<bool>("accepted");

    const InvoiceKey a = key(3, 20);
    const InvoiceKey b = key(3, 21);
    const InvoiceKey bOther = key(3, 21, QStringLiteral("99999999000199"));
    const InvoiceKey later = key(4, 1);
    // The record keeps six digits; the order uses the whole number.
    const InvoiceKey wide = key(3, 1000001);
    using Keys = QList<InvoiceKey>;
    using Ints = QList<int>;
    QTest::newRow("sorted") << Keys{a, b, later} << Ints{0, 0, 2} << Ints{1, 2, 1} << true;
    QTest::newRow("earlier date after later") << Keys{later, a} << Ints{} << Ints{} << false;
    QTest::newRow("lower number same day") << Keys{b, a} << Ints{} << Ints{} << false;
    QTest::newRow("full number orders") << Keys{b, wide} << Ints{} << Ints{} << true;
    QTest::newRow("same invoice twice") << Keys{a, a} << Ints{} << Ints{} << false;
    QTest::newRow("tie broken by issuer") << Keys{b, bOther} << Ints{0, 1} << Ints{1, 1} << true;
    QTest::newRow("issuer tie reversed") << Keys{bOther, b} << Ints{} << Ints{} << false;
    QTest::newRow("item numbers go down") << Keys{a} << Ints{0, 0} << Ints{2, 1} << false;
    QTest::newRow("same item twice") << Keys{a} << Ints{0, 0} << Ints{1, 1} << false;
    QTest::newRow("items of earlier invoice last")
        << Keys{a, b} << Ints{1, 0} << Ints{1, 1} << false;
    QTest::newRow("items follow invoice tie order")
        << Keys{b, bOther} << Ints{1, 0} << Ints{1, 1} << false;
}

void TestLayout::builderOrder()
{
    QFETCH(QList<InvoiceKey>, invoices);
    QFETCH(QList<int>, itemInvoice);
    QFETCH(QList<int>, itemNumber);
    QFETCH(bool, accepted);

    Collector out;
    FileLayoutBuilder builder(out.sink());
    builder.addProduct(product(QStringLiteral("A")));
    bool threw = false;
    try {
        builder.begin(sampleInformant(), january);
        for (const InvoiceKey &k : invoices)
            builder.addInvoice(invoice(k));
        for (qsizetype i = 0; i < itemInvoice.size(); ++i)
            builder.addItem(item(invoices[itemInvoice[i]], itemNumber[i], QStringLiteral("A")));
        builder.finish();
    } catch (const LayoutError &) {
        threw = true;
        // The rejected record never reaches the sink.
        QCOMPARE(out.lines.size(), 1 + invoices.size() + itemInvoice.size());
    }
    QCOMPARE(!threw, accepted);
}

void TestLayout::builderMissingProduct()
{
    Collector out;
    FileLayoutBuilder builder(out.sink());
    builder.begin(sampleInformant(), january);
    builder.addInvoice(invoice(key(1, 1)));
    builder.addItem(item(key(1, 1), 1, QStringLiteral("A")));
    builder.addItem(item(key(1, 1), 2, QStringLiteral("b-2")));
    builder.addProduct(product(QStringLiteral("A")));
    try {
        builder.finish();
        QFAIL("no exception");
    } catch (const LayoutError &e) {
        QVERIFY2(e.message().contains(u"\"B-2\""), qPrintable(e.message()));
    }
    QCOMPARE(out.lines.size(), 5); // no record 75 nor 90 for an incomplete file
}

void TestLayout::builderStages()
{
    Collector out;
    {
        FileLayoutBuilder builder(out.sink());
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.addInvoice(invoice(key(1, 1))));
    }
    {
        FileLayoutBuilder builder(out.sink());
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.finish());
    }
    {
        FileLayoutBuilder builder(out.sink());
        builder.begin(sampleInformant(), january);
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.begin(sampleInformant(), january));
    }
    {
        FileLayoutBuilder builder(out.sink());
        builder.begin(sampleInformant(), january);
        builder.addInvoice(invoice(key(1, 1)));
        builder.addItem(item(key(1, 1), 1, QStringLiteral("A")));
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.addInvoice(invoice(key(2, 1))));
        // After an error the file is incomplete and the builder refuses to go on.
        QVERIFY_THROWS_EXCEPTION(LayoutError,
                                 builder.addItem(item(key(1, 1), 2, QStringLiteral("A"))));
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.finish());
    }
    {
        FileLayoutBuilder builder(out.sink());
        builder.begin(sampleInformant(), january);
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.addInvoice(invoice(key(1, -5))));
        QVERIFY_THROWS_EXCEPTION(LayoutError, builder.addInvoice(invoice(key(1, 5))));
    }
    out.lines.clear();
    FileLayoutBuilder complete(out.sink());
    complete.begin(sampleInformant(), january);
    QCOMPARE(complete.finish(), qint64(3));
    QCOMPARE(out.lines.size(), 3);
    QVERIFY_THROWS_EXCEPTION(LayoutError, complete.finish());
}

QTEST_GUILESS_MAIN(TestLayout)

#include "tst_layout.moc"
