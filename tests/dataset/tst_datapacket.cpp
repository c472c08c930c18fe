#include "datasettestutil.h"

#include "base/automationdate.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace fis;
using namespace fis::test;
using namespace Qt::StringLiterals;

namespace {

// Packets for the malformed cases are built with Qt's own CBOR classes, independently of the
// codec under test.
QCborMap fieldMap(const QString &name, const QString &type, int size = 0)
{
    QCborMap m;
    m.insert(u"name"_s, name);
    m.insert(u"type"_s, type);
    if (size > 0)
        m.insert(u"size"_s, size);
    return m;
}

QCborMap packetMap(const QCborArray &fields, const QCborArray &rows)
{
    QCborMap m;
    m.insert(u"format"_s, u"fis-datapacket"_s);
    m.insert(u"version"_s, 1);
    m.insert(u"fields"_s, fields);
    m.insert(u"rows"_s, rows);
    return m;
}

QCborArray codeFields()
{
    return {fieldMap(u"CODE"_s, u"string"_s, 3), fieldMap(u"V"_s, u"float"_s),
            fieldMap(u"D"_s, u"datetime"_s)};
}

QCborValue date(double days)
{
    return QCborValue(QCborTag(kAutomationDateTag), days);
}

QByteArray goodPacket()
{
    return packetMap(codeFields(), {QCborArray{u"abc"_s, 1.5, date(45000)},
                                    QCborArray{QCborValue(nullptr), 2, QCborValue(nullptr)}})
        .toCborValue()
        .toCbor();
}

QList<FieldDef> codeDefs()
{
    FieldDef code = textField(u"CODE"_s, 3);
    return {code, floatField(u"V"_s), dateField(u"D"_s)};
}

} // namespace

class TestDataPacket : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void fieldAttributesTravel();
    void readsQtEncodedPacket();
    void writtenPacketIsPlainCbor();
    void tableKeepsRowsOfAnyEncoder();
    void editedRowsKeepTheirValues();
    void rowsOutliveTheCallersPacket();
    void reloadOfTheSamePacket();
    void packetWriterTakesUtf8();
    void utf8TextIsWrittenAsItsQString_data();
    void utf8TextIsWrittenAsItsQString();
    void dateIsWrittenAsItsDateTime();
    void tableChecksCellsAsTheValueDecoderDoes_data();
    void tableChecksCellsAsTheValueDecoderDoes();
    void numbersKeepTheirValue_data();
    void numbersKeepTheirValue();
    void packetWriterStreams();
    void largePacketsKeepEveryByte();
    void packetWriterRefuses();
    void malformed_data();
    void malformed();
    void truncatedAtEveryByte();
    void corruptedBytesNeverHalfLoad();
    void automationDates_data();
    void automationDates();
    void datesSurviveDaylightSavingGaps();
};

void TestDataPacket::roundTrip_data()
{
    QTest::addColumn<std::vector<DataRow>>("rows");
    const QDateTime noon = wallClockDateTime(QDate(2024, 5, 17), QTime(12, 0));
    const QDateTime precise = wallClockDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999));
    QTest::newRow("empty") << std::vector<DataRow>{};
    QTest::newRow("nulls") << std::vector<DataRow>{
        {QVariant(), QVariant(), QVariant(), QVariant()}};
    QTest::newRow("dates with and without time") << std::vector<DataRow>{
        {u"A"_s, u"midnight"_s, 1.0, wallClockDateTime(QDate(2024, 5, 17))},
        {u"B"_s, u"noon"_s, 2.0, noon},
        {u"C"_s, u"last ms"_s, 3.0, precise},
        {u"D"_s, u"before 1900"_s, 4.0, wallClockDateTime(QDate(1850, 1, 2), QTime(6, 0))}};
    QTest::newRow("unicode and sizes") << std::vector<DataRow>{
        {u"ÇÃO"_s, u"Farmácia São João ☃"_s, -0.5, QVariant()},
        {u"12345"_s, QString(20, u'é'), 1e300, QVariant()},
        {u"\U0001F600"_s, u""_s, 0.1, QVariant()}}; // a surrogate pair counts as 2
}

void TestDataPacket::roundTrip()
{
    QFETCH(std::vector<DataRow>, rows);
    const QList<FieldDef> fields = sampleFields();
    const QByteArray packet = encodePacket(fields, rows);
    const DataPacket decoded = decodePacket(packet);
    QCOMPARE(decoded.fields.size(), fields.size());
    QCOMPARE(decoded.rows.size(), rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < fields.size(); ++c) {
            const QVariant &expected = rows[r].at(c);
            const QVariant &actual = decoded.rows[r].at(c);
            QCOMPARE(actual.isValid(), expected.isValid());
            QCOMPARE(actual, expected);
        }
    }

    // Through a table and back gives the same bytes.
    MemTable t(u"cdsRound"_s);
    t.setFields(fields);
    t.loadFromPacket(packet);
    QCOMPARE(t.recordCount(), int(rows.size()));
    QCOMPARE(t.saveToPacket(), packet);
}

void TestDataPacket::fieldAttributesTravel()
{
    FieldDef status = textField(u"IDSTATUS"_s, 1);
    status.type = FieldType::FixedString;
    status.visible = false;
    FieldDef value = floatField(u"VRNOTAFISC"_s, u"#,##0.00"_s);
    value.label = u"Valor"_s;
    value.readOnly = true;
    value.required = true;
    const DataPacket decoded = decodePacket(encodePacket({status, value}, {}));
    QCOMPARE(decoded.fields.size(), 2);
    const FieldDef &s = decoded.fields.at(0);
    QCOMPARE(s.type, FieldType::FixedString);
    QCOMPARE(s.size, 1);
    QVERIFY(!s.visible);
    QVERIFY(!s.readOnly && !s.required);
    const FieldDef &v = decoded.fields.at(1);
    QCOMPARE(v.type, FieldType::Float);
    QCOMPARE(v.size, 0);
    QCOMPARE(v.label, u"Valor"_s);
    QCOMPARE(v.displayFormat, u"#,##0.00"_s);
    QVERIFY(v.visible && v.readOnly && v.required);
}

void TestDataPacket::readsQtEncodedPacket()
{
    // Other encoders may choose other CBOR forms: open-ended map and arrays, text in chunks,
    // half and single floats.
    const auto item = [](const QCborValue &v) {
        return v.toCbor(QCborValue::UseFloat);
    };
    QByteArray bytes = QByteArray::fromHex("bf"); // map of open length
    bytes += item(u"version"_s) + item(1) + item(u"format"_s) + item(u"fis-datapacket"_s);
    bytes += item(u"fields"_s) + item(codeFields()) + item(u"rows"_s);
    bytes += QByteArray::fromHex("9f"       // rows
                                 "9f"       // one row
                                 "7f"       // text in chunks:
                                 "6161"     //   "a"
                                 "626263"   //   "bc"
                                 "ff"       // end of the text
                                 "f94100"   // half float 2.5
                                 "d9076b"); // tag 1899
    bytes += item(45000.25) + QByteArray::fromHex("ffff") + QByteArray::fromHex("ff");

    const DataPacket p = decodePacket(bytes);
    QCOMPARE(p.rows.size(), size_t(1));
    QCOMPARE(p.rows[0].at(0).toString(), u"abc"_s);
    QCOMPARE(p.rows[0].at(1).toDouble(), 2.5);
    QCOMPARE(p.rows[0].at(2).toDateTime().time(), QTime(6, 0));
}

// A table keeps each row as its packet's bytes: what it reads from them, and what it saves, must
// be what decoding into values and encoding them again gives, whatever form the sender chose.
void TestDataPacket::tableKeepsRowsOfAnyEncoder()
{
    const auto item = [](const QCborValue &v) {
        return v.toCbor(QCborValue::UseFloat);
    };
    // Fields in another order than the table's; chunked, non-ASCII and null texts.
    QByteArray bytes = item(u"format"_s).prepend(char(0xa4)) + item(u"fis-datapacket"_s);
    bytes += item(u"version"_s) + item(1) + item(u"fields"_s);
    bytes += item(QCborArray{fieldMap(u"D"_s, u"datetime"_s), fieldMap(u"V"_s, u"float"_s),
                             fieldMap(u"CODE"_s, u"string"_s, 3)});
    bytes += item(u"rows"_s) + QByteArray::fromHex("83");
    bytes += item(QCborArray{date(45000.25), 2.5, u"ção"_s});
    bytes += QByteArray::fromHex("83") + item(date(1)) + item(-7) +
             QByteArray::fromHex("7f"
                                 "6161"
                                 "626263"
                                 "ff");
    bytes += item(QCborArray{QCborValue(nullptr), QCborValue(nullptr), QCborValue(nullptr)});

    const std::vector<DataRow> expected = decodePacketRows(bytes, codeDefs());
    MemTable t(u"t"_s);
    t.setFields(codeDefs());
    t.loadFromPacket(bytes);
    QCOMPARE(t.recordCount(), 3);
    for (int row = 0; row < 3; ++row)
        for (int field = 0; field < 3; ++field)
            QCOMPARE(t.valueAt(row, field), expected[size_t(row)].at(field));
    QCOMPARE(t.saveToPacket(), encodePacket(codeDefs(), expected));

    QByteArray scratch;
    QCOMPARE(t.utf8At(0, 0, &scratch), QByteArrayView("ção"));
    QCOMPARE(t.utf8At(1, 0, &scratch), QByteArrayView("abc"));
    QVERIFY(t.utf8At(2, 0, &scratch).isNull());
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.utf8At(0, 1, &scratch));
}

void TestDataPacket::editedRowsKeepTheirValues()
{
    MemTable t(u"t"_s);
    t.setFields(codeDefs());
    t.createDataSet();
    const QDateTime when = wallClockDateTime(QDate(2024, 2, 29)).addMSecs(45'296'789);
    t.append();
    t.setValue(0, u"é"_s);
    t.setValue(1, 0.1);
    t.setValue(2, when);
    t.post();
    t.append();
    t.setValue(0, QString(u""_s));
    t.post();
    QCOMPARE(t.valueAt(0, 0).toString(), u"é"_s);
    QCOMPARE(t.valueAt(0, 1).toDouble(), 0.1);
    QCOMPARE(t.valueAt(0, 2).toDateTime(), when);
    QVERIFY(!t.valueAt(1, 1).isValid());
    QCOMPARE(t.valueAt(1, 0).toString(), QString());
    t.first();
    t.edit();
    t.setValue(1, -3.25);
    t.post();
    QCOMPARE(t.valueAt(0, 1).toDouble(), -3.25);
    QCOMPARE(t.valueAt(0, 2).toDateTime(), when);
}

// The rows view the packet's bytes: the table must own them, whatever the caller does with its
// own copy afterwards (the sanitizer build catches a row read from freed bytes).
void TestDataPacket::rowsOutliveTheCallersPacket()
{
    MemTable t(u"t"_s);
    t.setFields(codeDefs());
    {
        QByteArray packet = goodPacket();
        t.loadFromPacket(packet);
        packet.fill('\0'); // detaches: the table's copy is untouched
    }
    QCOMPARE(t.valueAt(0, 0).toString(), u"abc"_s);

    // A packet that does not own its bytes is copied before rows may view it.
    QByteArray storage = goodPacket();
    t.loadFromPacket(QByteArray::fromRawData(storage.constData(), storage.size()));
    storage.fill('\0');
    storage.clear();
    QCOMPARE(t.valueAt(0, 0).toString(), u"abc"_s);
    QCOMPARE(t.valueAt(1, 1).toDouble(), 2.0);
}

void TestDataPacket::reloadOfTheSamePacket()
{
    MemTable t(u"t"_s);
    t.setFields(codeDefs());
    const QByteArray packet = goodPacket();
    t.loadFromPacket(packet);
    int resets = 0;
    connect(&t, &MemTable::tableReset, this, [&] { ++resets; });

    // Unchanged rows: the same table, the cursor back on the first row, a pending edit dropped.
    t.last();
    t.edit();
    t.setValue(0, u"zz"_s);
    t.loadFromPacket(QByteArray(packet));
    QCOMPARE(resets, 1);
    QCOMPARE(t.state(), MemTable::State::Browse);
    QCOMPARE(t.recNo(), 1);
    QVERIFY(!t.valueAt(1, 0).isValid());

    // A posted change, a deleted row or a new order: the packet's rows come back.
    t.last();
    t.edit();
    t.setValue(0, u"zz"_s);
    t.post();
    t.loadFromPacket(packet);
    QVERIFY(!t.valueAt(1, 0).isValid());
    t.first();
    t.deleteRecord();
    t.loadFromPacket(packet);
    QCOMPARE(t.recordCount(), 2);
    QCOMPARE(t.valueAt(0, 0).toString(), u"abc"_s);
    t.setIndexFieldNames(u"V"_s);
    t.setIndexFieldNames(QString());
    t.loadFromPacket(packet);
    QCOMPARE(t.valueAt(0, 0).toString(), u"abc"_s);
    QCOMPARE(t.saveToPacket(), encodePacket(codeDefs(), decodePacketRows(packet, codeDefs())));
}

void TestDataPacket::packetWriterTakesUtf8()
{
    PacketWriter writer({textField(u"T"_s, 3)});
    writer.addUtf8Text("abc");
    writer.addUtf8Text("çãé");
    const std::vector<DataRow> rows = decodePacket(writer.finish()).rows;
    QCOMPARE(rows.at(0).at(0).toString(), u"abc"_s);
    QCOMPARE(rows.at(1).at(0).toString(), u"çãé"_s);

    PacketWriter tooLong({textField(u"T"_s, 3)});
    QVERIFY_THROWS_EXCEPTION(DataSetError, tooLong.addUtf8Text("abcd"));
    PacketWriter invalid({textField(u"T"_s, 3)});
    QVERIFY_THROWS_EXCEPTION(DataSetError, invalid.addUtf8Text("\xff\xfe"));
    QVERIFY_THROWS_EXCEPTION(DataSetError, invalid.finish());
    PacketWriter notText({floatField(u"V"_s)});
    QVERIFY_THROWS_EXCEPTION(DataSetError, notText.addUtf8Text("1"));
}

// UTF-8 given as bytes makes the same packet as the QString a caller would have made of it:
// fromUtf8() with Replace, the strict decoder (which drops a leading byte order mark) with Fail;
// field sizes count UTF-16 units either way.
void TestDataPacket::utf8TextIsWrittenAsItsQString_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<bool>("wellFormed");
    QTest::newRow("ascii") << QByteArray("abc") << true;
    QTest::newRow("two-byte") << QByteArray("çãé") << true;
    QTest::newRow("three-byte") << QByteArray("€€") << true;
    QTest::newRow("four-byte, two units") << QByteArray("\xf0\x9f\x98\x80") << true;
    QTest::newRow("a NUL inside") << QByteArray("a\0b", 3) << true;
    QTest::newRow("leading byte order mark") << QByteArray("\xef\xbb\xbf"
                                                           "ab")
                                             << true;
    QTest::newRow("overlong") << QByteArray("\xc0\xaf") << false;
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
    QTest::newRow("cut short") << QByteArray("a\xc3") << false;
    QTest::newRow("stray continuation") << QByteArray("\x80"
                                                      "a")
                                        << false;
}

void TestDataPacket::utf8TextIsWrittenAsItsQString()
{
    QFETCH(QByteArray, utf8);
    QFETCH(bool, wellFormed);
    const QString text = QString::fromUtf8(utf8);
    QCOMPARE(utf16Length(utf8) >= 0, wellFormed);
    if (wellFormed) // fromUtf8() drops a leading byte order mark, which utf16Length() counts
        QCOMPARE(utf16Length(utf8), text.size() + (utf8.startsWith("\xef\xbb\xbf") ? 1 : 0));

    const auto written = [](const auto &add) {
        PacketWriter writer({textField(u"T"_s, 4)});
        add(writer);
        return writer.finish();
    };
    // Replace: exactly what addText(QString::fromUtf8()) writes.
    QCOMPARE(
        written([&](PacketWriter &w) { w.addUtf8Text(utf8, PacketWriter::InvalidUtf8::Replace); }),
        written([&](PacketWriter &w) { w.addText(text); }));
    // Fail: the decoder's text, or an error.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = decoder.decode(utf8);
    if (decoder.hasError()) {
        PacketWriter refused({textField(u"T"_s, 4)});
        QVERIFY_THROWS_EXCEPTION(DataSetError, refused.addUtf8Text(utf8));
    } else {
        QCOMPARE(written([&](PacketWriter &w) { w.addUtf8Text(utf8); }),
                 written([&](PacketWriter &w) { w.addText(decoded); }));
    }
    // One unit over the size is refused however it is given.
    PacketWriter small({textField(u"T"_s, std::max<int>(1, int(text.size()) - 1))});
    if (text.size() > 1 && wellFormed)
        QVERIFY_THROWS_EXCEPTION(DataSetError,
                                 small.addUtf8Text(utf8, PacketWriter::InvalidUtf8::Replace));
}

void TestDataPacket::dateIsWrittenAsItsDateTime()
{
    const QList<QPair<QDate, QTime>> values = {{QDate(2025, 5, 1), QTime(0, 0)},
                                               {QDate(2025, 5, 1), QTime(13, 45, 7)},
                                               {QDate(1899, 12, 30), QTime(6, 0)},
                                               {QDate(1899, 12, 29), QTime(6, 0)},
                                               {QDate(1800, 2, 28), QTime(23, 59, 59)},
                                               {QDate(100, 1, 1), QTime(0, 0)},
                                               {QDate(9999, 12, 31), QTime(12, 0)},
                                               {QDate(2025, 5, 1), QTime()},
                                               {QDate(), QTime(1, 0)}};
    for (const auto &[date, time] : values) {
        PacketWriter direct({dateField(u"D"_s)});
        direct.addDate(date, time);
        PacketWriter made({dateField(u"D"_s)});
        made.addDateTime(date.isValid() ? wallClockDateTime(date, time) : QDateTime());
        QCOMPARE(direct.finish(), made.finish());
    }
    for (const QDate &outside : {QDate(99, 12, 31), QDate(10000, 1, 1)}) {
        PacketWriter refused({dateField(u"D"_s)});
        QVERIFY_THROWS_EXCEPTION(DataSetError, refused.addDate(outside));
    }
}

// A table checks each cell of a packet without making its value where it can; it must accept,
// refuse and store exactly what the decoder that makes every value does (decodePacketRows), and
// save a cell a writer would write otherwise as the writer writes it.
void TestDataPacket::tableChecksCellsAsTheValueDecoderDoes_data()
{
    QTest::addColumn<QByteArray>("cells");                   // CODE string(3), V float, D datetime
    const QByteArray text = QByteArray::fromHex("63616263"); // "abc"
    const QByteArray number = QByteArray::fromHex("05");     // 5
    const QByteArray day = QByteArray::fromHex("d9076b19afc8"); // 1899(45000)
    QTest::newRow("plain") << text + number + day;
    QTest::newRow("accents, three units") << QByteArray("\x66"
                                                        "é€x") +
                                                 number + day;
    QTest::newRow("four-byte, two units") << QByteArray("\x64\xf0\x9f\x98\x80") + number + day;
    QTest::newRow("four-byte twice, too long")
        << QByteArray("\x68\xf0\x9f\x98\x80\xf0\x9f\x98\x80") + number + day;
    QTest::newRow("overlong UTF-8") << QByteArray("\x62\xc0\xaf") + number + day;
    QTest::newRow("byte order mark") << QByteArray("\x65\xef\xbb\xbf"
                                                   "ab") +
                                            number + day;
    QTest::newRow("text in a longer head") << QByteArray::fromHex("7803616263") + number + day;
    QTest::newRow("number in a longer head")
        << text + QByteArray::fromHex("1b0000000000000005") + day;
    QTest::newRow("2^53") << text + QByteArray::fromHex("1b0020000000000000") + day;
    QTest::newRow("negative") << text + QByteArray::fromHex("3903e7") + day;
    QTest::newRow("float") << text + QByteArray::fromHex("fa3fc00000") + day;
    QTest::newRow("last day") << text + number + QByteArray::fromHex("d9076b1a002d2481");
    QTest::newRow("after the last day") << text + number + QByteArray::fromHex("d9076b1a002d2482");
    QTest::newRow("first day") << text + number + QByteArray::fromHex("d9076b3a000a0819");
    QTest::newRow("before the first day")
        << text + number + QByteArray::fromHex("d9076b3a000a081a");
    QTest::newRow("day in a longer head")
        << text + number + QByteArray::fromHex("d9076b1a0000afc8");
    QTest::newRow("tag in a longer head")
        << text + number + QByteArray::fromHex("da0000076b19afc8");
    QTest::newRow("day as a float") << text + number + QByteArray::fromHex("d9076bfa472fc800");
}

void TestDataPacket::tableChecksCellsAsTheValueDecoderDoes()
{
    QFETCH(QByteArray, cells);
    // The packet's head as Qt writes it, with an empty rows array last, then the row by hand.
    QByteArray packet = packetMap(codeFields(), {}).toCborValue().toCbor();
    QCOMPARE(packet.back(), char(0x80));
    packet.chop(1);
    packet += QByteArray::fromHex("8183") + cells;

    std::vector<DataRow> expected;
    bool refused = false;
    try {
        expected = decodePacketRows(packet, codeDefs());
    } catch (const DataSetError &) {
        refused = true;
    }
    MemTable table(u"cdsCells"_s);
    table.setFields(codeDefs());
    if (refused) {
        QVERIFY_THROWS_EXCEPTION(DataSetError, table.loadFromPacket(packet));
        return;
    }
    table.loadFromPacket(packet);
    QCOMPARE(table.recordCount(), 1);
    for (int field = 0; field < 3; ++field)
        QCOMPARE(table.valueAt(0, field), expected.at(0).at(field));
    QCOMPARE(table.saveToPacket(), encodePacket(codeDefs(), expected));
}

void TestDataPacket::writtenPacketIsPlainCbor()
{
    const std::vector<DataRow> rows{{u"A"_s, u"x"_s, 1234.5, wallClockDateTime(QDate(2024, 1, 2))}};
    const QByteArray packet = encodePacket(sampleFields(), rows);
    QCborParserError error;
    const QCborValue v = QCborValue::fromCbor(packet, &error);
    QCOMPARE(error.error, QCborError::NoError);
    const QCborMap m = v.toMap();
    QCOMPARE(m.value(u"format"_s).toString(), u"fis-datapacket"_s);
    QCOMPARE(m.value(u"version"_s).toInteger(), 1);
    QCOMPARE(m.value(u"fields"_s).toArray().at(0).toMap().value(u"size"_s).toInteger(), 5);
    const QCborArray row = m.value(u"rows"_s).toArray().at(0).toArray();
    QCOMPARE(row.at(0).toString(), u"A"_s);
    QCOMPARE(row.at(2).toDouble(), 1234.5);
    QVERIFY(row.at(3).isTag());
    QCOMPARE(row.at(3).tag(), QCborTag(kAutomationDateTag));
    QCOMPARE(row.at(3).taggedValue().toInteger(), 45293); // 2024-01-02, an integer day
}

void TestDataPacket::numbersKeepTheirValue_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative zero") << -0.0;
    QTest::newRow("integer") << 123456789.0;
    QTest::newRow("negative integer") << -42.0;
    QTest::newRow("cents") << 0.1;
    QTest::newRow("single exact") << 0.375;
    QTest::newRow("2^53") << 9007199254740992.0;
    QTest::newRow("tiny") << 5e-324;
    QTest::newRow("huge") << -1.7976931348623157e308;
}

void TestDataPacket::numbersKeepTheirValue()
{
    QFETCH(double, value);
    const QByteArray packet =
        encodePacket({floatField(u"V"_s)}, std::vector<DataRow>{DataRow{QVariant(value)}});
    const double back = decodePacket(packet).rows.at(0).at(0).toDouble();
    QCOMPARE(back, value);
    QCOMPARE(std::signbit(back), std::signbit(value));
}

void TestDataPacket::packetWriterStreams()
{
    const QList<FieldDef> fields = codeDefs();
    PacketWriter open(fields); // row count unknown up front
    for (int i = 0; i < 1000; ++i) {
        open.addText(QString::number(i % 1000).left(3));
        open.addFloat(i * 0.5);
        if (i % 2)
            open.addDateTime(wallClockDateTime(QDate(2020, 1, 1).addDays(i)));
        else
            open.addNull();
    }
    QCOMPARE(open.rowsWritten(), 1000);
    const DataPacket p = decodePacket(open.finish());
    QCOMPARE(p.rows.size(), size_t(1000));
    QCOMPARE(p.rows[999].at(0).toString(), u"999"_s);
    QCOMPARE(p.rows[999].at(1).toDouble(), 499.5);
    QCOMPARE(p.rows[999].at(2).toDateTime().date(), QDate(2020, 1, 1).addDays(999));
    QVERIFY(!p.rows[998].at(2).isValid());

    PacketWriter counted(fields, 2);
    counted.addRow({u"a"_s, 1, QDate(2024, 1, 1)});
    counted.addRow({QVariant(), QVariant(), QVariant()});
    QCOMPARE(decodePacket(counted.finish()).rows.size(), size_t(2));
}

// Packets of tens of MB move to new room as they grow, and a reserved one takes its room at once:
// whichever way, every row arrives and the bytes are the same.
void TestDataPacket::largePacketsKeepEveryByte()
{
    const QList<FieldDef> fields = {textField(u"LINE"_s, 126), floatField(u"N"_s)};
    const auto write = [&](PacketWriter &w, int rows) {
        for (int i = 0; i < rows; ++i) {
            QByteArray line = QByteArray::number(i).rightJustified(126, char('a' + i % 26));
            w.addUtf8Text(line);
            w.addFloat(i);
        }
        return w.finish();
    };
    constexpr int kRows = 100000; // some 13 MB
    PacketWriter grown(fields);
    const QByteArray grownBytes = write(grown, kRows);
    QVERIFY(grownBytes.size() > (12 << 20));
    PacketWriter reserved(fields);
    reserved.reserve(grownBytes.size() / 3); // grows past its room too
    QCOMPARE(write(reserved, kRows), grownBytes);
    PacketWriter exact(fields);
    exact.reserve(grownBytes.size());
    QCOMPARE(write(exact, kRows), grownBytes);

    const DataPacket p = decodePacket(grownBytes);
    QCOMPARE(p.rows.size(), size_t(kRows));
    for (int i : {0, 1, 33333, kRows - 1}) {
        QCOMPARE(p.rows[size_t(i)].at(0).toString(),
                 QString::number(i).rightJustified(126, QChar(u'a' + i % 26)));
        QCOMPARE(p.rows[size_t(i)].at(1).toInt(), i);
    }
}

void TestDataPacket::packetWriterRefuses()
{
    const QList<FieldDef> fields = codeDefs();
    {
        PacketWriter w(fields);
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.addText(u"abcd"_s)); // size 3
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.finish());           // spoiled
    }
    {
        PacketWriter w(fields);
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.addFloat(1)); // first field is a text
    }
    {
        PacketWriter w(fields);
        w.addText(u"a"_s);
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.finish()); // incomplete row
    }
    {
        PacketWriter w(fields, 2);
        w.addRow({u"a"_s, 1, QVariant()});
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.finish()); // fewer rows than announced
    }
    {
        PacketWriter w(fields, 0);
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.addRow({u"a"_s, 1, QVariant()}));
    }
    {
        PacketWriter w(fields);
        QVERIFY_THROWS_EXCEPTION(DataSetError, w.addRow({u"a"_s, 1})); // short row
    }
    QVERIFY_THROWS_EXCEPTION(DataSetError, PacketWriter({}));
    QVERIFY_THROWS_EXCEPTION(DataSetError,
                             PacketWriter({textField(u"A"_s, 1), textField(u"a"_s, 1)}));
}

void TestDataPacket::malformed_data()
{
    QTest::addColumn<QByteArray>("packet");
    const auto cbor = [](const QCborMap &m) {
        return m.toCborValue().toCbor();
    };
    const QCborArray fields = codeFields();
    const QCborArray okRow{u"abc"_s, 1, date(45000)};

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a map") << QCborValue(QCborArray{1, 2}).toCbor();
    QTest::newRow("garbage") << QByteArray("hello world");
    {
        QCborMap m = packetMap(fields, {okRow});
        m.insert(u"format"_s, u"other"_s);
        QTest::newRow("wrong format name") << cbor(m);
        m = packetMap(fields, {okRow});
        m.insert(u"version"_s, 2);
        QTest::newRow("unknown version") << cbor(m);
        m = packetMap(fields, {okRow});
        m.remove(u"version"_s);
        QTest::newRow("missing version") << cbor(m);
        m = packetMap(fields, {okRow});
        m.remove(u"rows"_s);
        QTest::newRow("missing rows") << cbor(m);
        m = packetMap(fields, {okRow});
        m.insert(u"extra"_s, 1);
        QTest::newRow("unknown key") << cbor(m);
        m = packetMap(fields, {okRow});
        m.insert(u"fields"_s, 7);
        QTest::newRow("fields not an array") << cbor(m);
    }
    QTest::newRow("no fields") << cbor(packetMap({}, {}));
    QTest::newRow("unknown type") << cbor(packetMap({fieldMap(u"X"_s, u"blob"_s)}, {}));
    QTest::newRow("text without size") << cbor(packetMap({fieldMap(u"X"_s, u"string"_s)}, {}));
    QTest::newRow("float with size") << cbor(packetMap({fieldMap(u"X"_s, u"float"_s, 4)}, {}));
    QTest::newRow("field without name") << cbor(packetMap({QCborMap{{u"type"_s, u"float"_s}}}, {}));
    QTest::newRow("duplicate field name")
        << cbor(packetMap({fieldMap(u"X"_s, u"float"_s), fieldMap(u"x"_s, u"float"_s)}, {}));
    QTest::newRow("size too large")
        << cbor(packetMap({fieldMap(u"X"_s, u"string"_s, kMaxFieldTextSize + 1)}, {}));
    QTest::newRow("flag not a bool") << cbor(
        packetMap({QCborMap{{u"name"_s, u"X"_s}, {u"type"_s, u"float"_s}, {u"visible"_s, 1}}}, {}));
    QTest::newRow("row too short") << cbor(packetMap(fields, {QCborArray{u"abc"_s, 1}}));
    QTest::newRow("row too long") << cbor(packetMap(fields, {QCborArray{u"abc"_s, 1, date(1), 4}}));
    QTest::newRow("row not an array") << cbor(packetMap(fields, {u"abc"_s}));
    QTest::newRow("text too long") << cbor(packetMap(fields, {QCborArray{u"abcd"_s, 1, date(1)}}));
    QTest::newRow("unicode text too long")
        << cbor(packetMap(fields, {QCborArray{u"çãoé"_s, 1, date(1)}}));
    QTest::newRow("number in text field") << cbor(packetMap(fields, {QCborArray{5, 1, date(1)}}));
    QTest::newRow("text in float field")
        << cbor(packetMap(fields, {QCborArray{u"a"_s, u"1"_s, date(1)}}));
    QTest::newRow("bytes in text field")
        << cbor(packetMap(fields, {QCborArray{QByteArray("a"), 1, date(1)}}));
    QTest::newRow("date without tag") << cbor(packetMap(fields, {QCborArray{u"a"_s, 1, 45000}}));
    QTest::newRow("date with another tag")
        << cbor(packetMap(fields, {QCborArray{u"a"_s, 1, QCborValue(QCborTag(1), 45000)}}));
    QTest::newRow("date out of range")
        << cbor(packetMap(fields, {QCborArray{u"a"_s, 1, date(1e9)}}));
    QTest::newRow("not a finite number")
        << cbor(packetMap(fields, {QCborArray{u"a"_s, qInf(), date(1)}}));
    QTest::newRow("undefined cell")
        << cbor(packetMap(fields, {QCborArray{QCborValue(), 1, date(1)}}));
    QTest::newRow("trailing data") << goodPacket() + QByteArray(1, '\0');
    QTest::newRow("two packets") << goodPacket() + goodPacket();

    // Hand-made bytes for what Qt's encoder will not produce.
    const QByteArray head = cbor(packetMap(fields, {})).chopped(1); // up to "rows": [
    QTest::newRow("huge string length") << head + QByteArray::fromHex("81"
                                                                      "83"
                                                                      "7b7fffffffffffffff"
                                                                      "616263");
    QTest::newRow("huge row count") << head + QByteArray::fromHex("9b7fffffffffffffff");
    QTest::newRow("huge field count") << QByteArray::fromHex("a1"
                                                             "66") +
                                             QByteArray("fields") +
                                             QByteArray::fromHex("9b00000000ffffffff");
    QTest::newRow("invalid utf-8") << head + QByteArray::fromHex("81"
                                                                 "83"
                                                                 "62c328"
                                                                 "01"
                                                                 "f6");
    QTest::newRow("reserved item") << head + QByteArray::fromHex("81"
                                                                 "83"
                                                                 "fc"
                                                                 "01"
                                                                 "f6");
    QTest::newRow("stray break") << head + QByteArray::fromHex("81"
                                                               "ff");
}

void TestDataPacket::malformed()
{
    QFETCH(QByteArray, packet);
    MemTable t(u"cdsCheck"_s);
    t.setFields(codeDefs());
    t.loadFromPacket(goodPacket());
    t.next();
    const QByteArray before = t.saveToPacket();
    try {
        t.loadFromPacket(packet);
        QFAIL("a malformed packet was loaded");
    } catch (const DataSetError &e) {
        QVERIFY2(e.message().contains(u"cdsCheck"_s), qPrintable(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(DataSetError, decodePacket(packet));
    QCOMPARE(t.saveToPacket(), before);
    QCOMPARE(t.currentRow(), 1);
}

void TestDataPacket::truncatedAtEveryByte()
{
    const QByteArray packet = goodPacket();
    MemTable t(u"cdsCut"_s);
    t.setFields(codeDefs());
    t.loadFromPacket(packet);
    for (qsizetype n = 0; n < packet.size(); ++n) {
        const QByteArray cut = packet.left(n);
        bool threw = false;
        try {
            t.loadFromPacket(cut);
        } catch (const DataSetError &) {
            threw = true;
        }
        QVERIFY2(threw, qPrintable(u"accepted a packet cut at %1 bytes"_s.arg(n)));
        QCOMPARE(t.recordCount(), 2);
    }
    QCOMPARE(t.saveToPacket(), encodePacket(codeDefs(), decodePacket(packet).rows));
}

void TestDataPacket::corruptedBytesNeverHalfLoad()
{
    // Damaged packets either load whole or fail whole; the sanitizer build checks the reads.
    const QByteArray packet = goodPacket();
    QRandomGenerator rng(1899);
    int refused = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray damaged = packet;
        const int flips = 1 + int(rng.bounded(3));
        for (int f = 0; f < flips; ++f)
            damaged[qsizetype(rng.bounded(int(damaged.size())))] = char(rng.bounded(256));
        MemTable t(u"cdsFuzz"_s);
        t.setFields(codeDefs());
        try {
            t.loadFromPacket(damaged);
            QCOMPARE(t.recordCount(), 2); // bytes changed inside values still make two rows
            QCOMPARE(decodePacket(t.saveToPacket()).rows.size(), size_t(2));
        } catch (const DataSetError &) {
            QVERIFY(!t.isOpen());
            ++refused;
        }
    }
    QVERIFY(refused > 1000);
}

void TestDataPacket::automationDates_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QDateTime>("dateTime");
    QTest::newRow("epoch") << 0.0 << wallClockDateTime(QDate(1899, 12, 30));
    QTest::newRow("a day and six hours")
        << 1.25 << wallClockDateTime(QDate(1899, 12, 31), QTime(6, 0));
    QTest::newRow("before the epoch, time counts forward")
        << -1.25 << wallClockDateTime(QDate(1899, 12, 29), QTime(6, 0));
    QTest::newRow("2024-01-02") << 45293.0 << wallClockDateTime(QDate(2024, 1, 2));
    QTest::newRow("evening") << 45293.75 << wallClockDateTime(QDate(2024, 1, 2), QTime(18, 0));
}

void TestDataPacket::automationDates()
{
    QFETCH(double, value);
    QFETCH(QDateTime, dateTime);
    QCOMPARE(fromAutomationDate(value), dateTime);
    QCOMPARE(toAutomationDate(dateTime), value);
    QVERIFY(!fromAutomationDate(qQNaN()).isValid());
    QVERIFY(!fromAutomationDate(3e6).isValid());
}

void TestDataPacket::datesSurviveDaylightSavingGaps()
{
    // In São Paulo the clocks skipped 2018-11-04 00:00: as a local time that midnight does not
    // exist, yet the invoice date must load.
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "America/Sao_Paulo");
    tzset();
    const QDate gapDay(2018, 11, 4);
    const QByteArray packet =
        encodePacket({dateField(u"D"_s)}, std::vector<DataRow>{DataRow{QVariant(gapDay)}});
    const QVariant back = decodePacket(packet).rows.at(0).at(0);
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    QVERIFY(back.toDateTime().isValid());
    QCOMPARE(back.toDateTime().date(), gapDay);
    QCOMPARE(back.toDateTime().time(), QTime(0, 0));
}

QTEST_GUILESS_MAIN(TestDataPacket)
#include "tst_datapacket.moc"
