#include "datasettestutil.h"

#include "base/automationdate.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"

#include <QSignalSpy>
#include <QTest>

using namespace fis;
using namespace fis::test;
using namespace Qt::StringLiterals;

class TestMemTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fieldDeclarations();
    void closedTableCountsAsEmpty();
    void navigationFlags();
    void appendAndInsertPlaceRows();
    void editPostAndCancel();
    void editOnEmptyTableInserts();
    void movingThePendingEditPostsIt_data();
    void movingThePendingEditPostsIt();
    void deleteRecordMovesCursor();
    void requiredFieldsAreCheckedAtPost();
    void setValueConverts_data();
    void setValueConverts();
    void setValueRejects_data();
    void setValueRejects();
    void locate_data();
    void locate();
    void indexOrderSortsAndFollowsCursor();
    void indexOrderKeptOnPost();
    void indexOrderAppliedOnLoad();
    void controlsSuspendAndResume();
    void rowSignals();
    void displayText_data();
    void displayText();
    void dateDisplay();
    void getTextHandler();
    void loadMatchesDeclaredFieldsByName();
    void failedLoadLeavesTableUnchanged();
    void dataSourceReports();
    void dataSourceSilentWhileDisabledOrClosing();

private:
    MemTable *sampleTable(const QStringList &codes = {});
    std::unique_ptr<MemTable> m_table;
};

void TestMemTable::init()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMemTable::cleanup()
{
    m_table.reset();
    QLocale::setDefault(QLocale::system());
}

MemTable *TestMemTable::sampleTable(const QStringList &rowCodes)
{
    m_table = std::make_unique<MemTable>(u"cdsSample"_s);
    m_table->setFields(sampleFields());
    m_table->createDataSet();
    for (const QString &code : rowCodes)
        addSample(*m_table, code, u"name "_s + code);
    if (!rowCodes.isEmpty())
        m_table->first();
    return m_table.get();
}

void TestMemTable::fieldDeclarations()
{
    MemTable t(u"cdsT"_s);
    t.setFields(sampleFields());
    QCOMPARE(t.fieldIndex(u"name"_s), 1);
    QCOMPARE(t.fieldIndex(u"missing"_s), -1);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.indexOfField(u"missing"_s));
    QCOMPARE(t.field(u"code"_s).displayLabel(), u"Código"_s);
    QCOMPARE(t.field(1).displayLabel(), u"NAME"_s);

    QVERIFY_THROWS_EXCEPTION(DataSetError, t.addField(textField(u"code"_s, 3))); // duplicate
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.addField(textField(u"X"_s, 0)));    // no size
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.addField(textField({}, 3)));
    QCOMPARE(t.fieldCount(), 4);

    t.createDataSet();
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.addField(textField(u"Y"_s, 3)));
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.clearFields());
    t.close();
    t.clearFields();
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.createDataSet()); // no fields
}

void TestMemTable::closedTableCountsAsEmpty()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    QVERIFY(!t->isEmpty());
    t->close();
    QVERIFY(!t->isOpen());
    QVERIFY(t->isEmpty());
    QCOMPARE(t->recordCount(), 0);
    QCOMPARE(t->currentRow(), -1);
    QCOMPARE(t->recNo(), 0);
    QVERIFY(t->eof());
    QVERIFY(t->bof());
    QCOMPARE(t->state(), MemTable::State::Inactive);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->value(u"CODE"_s));
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->valueAt(0, 0));
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->next());
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->saveToPacket());
    QCOMPARE(t->fieldCount(), 4); // declarations stay

    t->createDataSet();
    QVERIFY(t->isOpen());
    QVERIFY(t->isEmpty());
    QVERIFY(t->eof() && t->bof());
    QVERIFY(!t->value(u"CODE"_s).isValid()); // no current row: null
}

void TestMemTable::navigationFlags()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s, u"C"_s});
    QCOMPARE(t->recNo(), 1);
    QVERIFY(t->bof());
    QVERIFY(!t->eof());

    QStringList walked;
    for (t->first(); !t->eof(); t->next())
        walked << t->asString(u"CODE"_s);
    QCOMPARE(walked, QStringList({u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(t->recNo(), 3); // next() past the end stays on the last row

    walked.clear();
    for (t->last(); !t->bof(); t->prior())
        walked << t->asString(u"CODE"_s);
    QCOMPARE(walked, QStringList({u"C"_s, u"B"_s, u"A"_s}));
    QCOMPARE(t->currentRow(), 0);

    t->moveTo(1);
    QVERIFY(!t->bof() && !t->eof());
    QCOMPARE(t->value(u"CODE"_s).toString(), u"B"_s);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->moveTo(3));
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->moveTo(-1));
    QCOMPARE(t->currentRow(), 1);
}

void TestMemTable::appendAndInsertPlaceRows()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    t->moveTo(1);
    t->insert();
    QCOMPARE(t->state(), MemTable::State::Insert);
    QCOMPARE(t->recordCount(), 2); // not stored before post
    t->setValue(u"CODE"_s, u"X"_s);
    t->post();
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"X"_s, u"B"_s}));
    QCOMPARE(t->currentRow(), 1);

    t->first();
    t->append();
    t->setValue(u"CODE"_s, u"Z"_s);
    t->post();
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"X"_s, u"B"_s, u"Z"_s}));
    QCOMPARE(t->currentRow(), 3);

    t->append();
    t->cancel();
    QCOMPARE(t->recordCount(), 4);
    QCOMPARE(t->currentRow(), 3);
}

void TestMemTable::editPostAndCancel()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->setValue(u"CODE"_s, u"Q"_s)); // browse mode
    t->edit();
    QCOMPARE(t->state(), MemTable::State::Edit);
    t->setValue(u"CODE"_s, u"Q"_s);
    QCOMPARE(t->value(u"CODE"_s).toString(), u"Q"_s);
    QCOMPARE(t->valueAt(0, 0).toString(), u"A"_s);   // stored row untouched
    QCOMPARE(t->viewValue(0, 0).toString(), u"Q"_s); // views see the pending value
    t->cancel();
    QCOMPARE(t->state(), MemTable::State::Browse);
    QCOMPARE(t->value(u"CODE"_s).toString(), u"A"_s);

    t->edit();
    t->setValue(u"CODE"_s, u"Q"_s);
    t->post();
    QCOMPARE(codes(*t), QStringList({u"Q"_s, u"B"_s}));
    QCOMPARE(t->state(), MemTable::State::Browse);
}

void TestMemTable::editOnEmptyTableInserts()
{
    MemTable *t = sampleTable();
    t->edit();
    QCOMPARE(t->state(), MemTable::State::Insert);
    t->setValue(u"CODE"_s, u"N"_s);
    t->post();
    QCOMPARE(codes(*t), QStringList({u"N"_s}));
}

void TestMemTable::movingThePendingEditPostsIt_data()
{
    QTest::addColumn<QString>("move");
    QTest::addColumn<int>("expectedRow");
    QTest::newRow("next") << u"next"_s << 2;
    QTest::newRow("prior") << u"prior"_s << 0;
    QTest::newRow("first") << u"first"_s << 0;
    QTest::newRow("last") << u"last"_s << 2;
    QTest::newRow("moveTo") << u"moveTo"_s << 2;
    QTest::newRow("locate") << u"locate"_s << 2;
}

void TestMemTable::movingThePendingEditPostsIt()
{
    QFETCH(QString, move);
    QFETCH(int, expectedRow);
    MemTable *t = sampleTable({u"A"_s, u"B"_s, u"C"_s});
    t->moveTo(1);
    t->edit();
    t->setValue(u"NAME"_s, u"changed"_s);
    if (move == "next"_L1)
        t->next();
    else if (move == "prior"_L1)
        t->prior();
    else if (move == "first"_L1)
        t->first();
    else if (move == "last"_L1)
        t->last();
    else if (move == "moveTo"_L1)
        t->moveTo(2);
    else
        QVERIFY(t->locate(u"CODE"_s, u"C"_s));
    QCOMPARE(t->state(), MemTable::State::Browse);
    QCOMPARE(t->currentRow(), expectedRow);
    QCOMPARE(t->valueAt(1, 1).toString(), u"changed"_s);
}

void TestMemTable::deleteRecordMovesCursor()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s, u"C"_s});
    t->moveTo(1);
    t->deleteRecord();
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"C"_s}));
    QCOMPARE(t->value(u"CODE"_s).toString(), u"C"_s); // the next row takes the place
    t->deleteRecord();
    QCOMPARE(t->value(u"CODE"_s).toString(), u"A"_s); // the last row gone: back to the new last
    t->edit();
    t->setValue(u"CODE"_s, u"E"_s);
    t->deleteRecord(); // deleting while editing drops the edit with the row
    QVERIFY(t->isEmpty());
    QCOMPARE(t->currentRow(), -1);
    QVERIFY(t->eof() && t->bof());
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->deleteRecord());

    addSample(*t, u"K"_s);
    t->append();
    t->deleteRecord(); // deleting an unposted insert cancels it
    QCOMPARE(codes(*t), QStringList({u"K"_s}));
}

void TestMemTable::requiredFieldsAreCheckedAtPost()
{
    MemTable t(u"cdsReq"_s);
    FieldDef code = textField(u"CDSERIE"_s, 5);
    code.required = true;
    t.setFields({code, textField(u"DSSERIE"_s, 20)});
    t.createDataSet();
    t.append();
    t.setValue(u"DSSERIE"_s, u"x"_s);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.post());
    QCOMPARE(t.state(), MemTable::State::Insert);
    t.setValue(u"CDSERIE"_s, u""_s);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.post()); // empty text counts as missing
    QVERIFY_THROWS_EXCEPTION(DataSetError, t.next()); // moving posts, so it fails too
    QCOMPARE(t.recordCount(), 0);
    t.setValue(u"CDSERIE"_s, u"1"_s);
    t.post();
    QCOMPARE(t.recordCount(), 1);
}

void TestMemTable::setValueConverts_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QVariant>("stored");
    const QDateTime midnight = wallClockDateTime(QDate(2024, 3, 1));
    QTest::newRow("int to float") << u"VALUE"_s << QVariant(12) << QVariant(12.0);
    QTest::newRow("qint64 to float")
        << u"VALUE"_s << QVariant(qint64(1) << 40) << QVariant(double(qint64(1) << 40));
    QTest::newRow("date to midnight")
        << u"DAY"_s << QVariant(QDate(2024, 3, 1)) << QVariant(midnight);
    QTest::newRow("local date-time keeps its wall clock")
        << u"DAY"_s << QVariant(QDateTime(QDate(2024, 3, 1), QTime(10, 30)))
        << QVariant(wallClockDateTime(QDate(2024, 3, 1), QTime(10, 30)));
    QTest::newRow("char to text") << u"CODE"_s << QVariant(QChar(u'x')) << QVariant(u"x"_s);
    QTest::newRow("text at full size") << u"CODE"_s << QVariant(u"12345"_s) << QVariant(u"12345"_s);
    QTest::newRow("invalid is null") << u"VALUE"_s << QVariant() << QVariant();
    QTest::newRow("null date is null") << u"DAY"_s << QVariant(QDate()) << QVariant();
}

void TestMemTable::setValueConverts()
{
    QFETCH(QString, field);
    QFETCH(QVariant, input);
    QFETCH(QVariant, stored);
    MemTable *t = sampleTable();
    t->append();
    t->setValue(field, input);
    const QVariant actual = t->value(field);
    QCOMPARE(actual.metaType(), stored.metaType());
    QCOMPARE(actual, stored);
    if (stored.metaType().id() == QMetaType::QDateTime) {
        QCOMPARE(actual.toDateTime().date(), stored.toDateTime().date());
        QCOMPARE(actual.toDateTime().time(), stored.toDateTime().time());
    }
}

void TestMemTable::setValueRejects_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("input");
    QTest::newRow("text into float") << u"VALUE"_s << QVariant(u"12"_s);
    QTest::newRow("bool into float") << u"VALUE"_s << QVariant(true);
    QTest::newRow("nan into float") << u"VALUE"_s << QVariant(qQNaN());
    QTest::newRow("number into text") << u"CODE"_s << QVariant(5);
    QTest::newRow("text one too long") << u"CODE"_s << QVariant(u"123456"_s);
    QTest::newRow("text into date") << u"DAY"_s << QVariant(u"2024-01-01"_s);
    QTest::newRow("year out of range") << u"DAY"_s << QVariant(QDate(10000, 1, 1));
}

void TestMemTable::setValueRejects()
{
    QFETCH(QString, field);
    QFETCH(QVariant, input);
    MemTable *t = sampleTable({u"A"_s});
    t->edit();
    try {
        t->setValue(field, input);
        QFAIL("setValue accepted the value");
    } catch (const DataSetError &e) {
        QVERIFY2(e.message().contains(u"cdsSample"_s), qPrintable(e.message()));
        QVERIFY2(e.message().contains(field), qPrintable(e.message()));
    }
    QCOMPARE(t->value(field), t->valueAt(0, t->indexOfField(field))); // buffer unchanged
}

void TestMemTable::locate_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("key");
    QTest::addColumn<int>("options");
    QTest::addColumn<int>("foundRow"); // -1: not found
    const int ci = MemTable::CaseInsensitive;
    const int partial = MemTable::PartialKey;
    QTest::newRow("exact") << u"NAME"_s << QVariant(u"Beta"_s) << 0 << 1;
    QTest::newRow("exact is case sensitive") << u"NAME"_s << QVariant(u"beta"_s) << 0 << -1;
    QTest::newRow("case-insensitive") << u"name"_s << QVariant(u"bETA"_s) << ci << 1;
    QTest::newRow("prefix needs PartialKey") << u"NAME"_s << QVariant(u"Gam"_s) << 0 << -1;
    QTest::newRow("prefix") << u"NAME"_s << QVariant(u"Gam"_s) << partial << 2;
    QTest::newRow("prefix, any case") << u"NAME"_s << QVariant(u"gAM"_s) << (ci | partial) << 2;
    QTest::newRow("float") << u"VALUE"_s << QVariant(2) << 0 << 1;
    QTest::newRow("null") << u"VALUE"_s << QVariant() << 0 << 2;
    QTest::newRow("date") << u"DAY"_s << QVariant(QDate(2024, 1, 3)) << 0 << 2;
    QTest::newRow("two fields") << u"CODE;NAME"_s << QVariant(QVariantList{u"C"_s, u"Gamma ray"_s})
                                << 0 << 2;
    QTest::newRow("two fields, one differs")
        << u"CODE;NAME"_s << QVariant(QVariantList{u"A"_s, u"Gamma ray"_s}) << 0 << -1;
}

void TestMemTable::locate()
{
    QFETCH(QString, field);
    QFETCH(QVariant, key);
    QFETCH(int, options);
    QFETCH(int, foundRow);
    MemTable *t = sampleTable();
    addSample(*t, u"A"_s, u"Alpha"_s, 1.0, QDate(2024, 1, 1));
    addSample(*t, u"B"_s, u"Beta"_s, 2.0, QDate(2024, 1, 2));
    addSample(*t, u"C"_s, u"Gamma ray"_s, QVariant(), QDate(2024, 1, 3));
    t->moveTo(0);
    const bool found = t->locate(field, key, MemTable::LocateOptions(options));
    QCOMPARE(found, foundRow >= 0);
    QCOMPARE(t->currentRow(), found ? foundRow : 0); // not found: the cursor stays
}

void TestMemTable::indexOrderSortsAndFollowsCursor()
{
    MemTable *t = sampleTable({u"C"_s, u"A"_s, u"B"_s, u"A"_s});
    t->moveTo(3); // the second "A"
    t->edit();
    t->setValue(u"NAME"_s, u"second A"_s);
    t->post();
    QSignalSpy resets(t, &MemTable::tableReset);
    t->setIndexFieldNames(u"code"_s);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(t->valueAt(0, 1).toString(), u"name A"_s); // equal keys keep their order
    QCOMPARE(t->currentRow(), 1);                       // the cursor stays on its row
    QCOMPARE(t->value(u"NAME"_s).toString(), u"second A"_s);
    QVERIFY_THROWS_EXCEPTION(DataSetError, t->setIndexFieldNames(u"NOPE"_s));
    QCOMPARE(t->indexFieldNames(), u"code"_s);
}

void TestMemTable::indexOrderKeptOnPost()
{
    MemTable *t = sampleTable();
    t->setIndexFieldNames(u"CODE"_s);
    for (const QString &code : {u"M"_s, u"C"_s, u"X"_s, u"C"_s, u"A"_s}) {
        t->insert(); // insert position is irrelevant under an index
        t->setValue(u"CODE"_s, code);
        t->setValue(u"NAME"_s, QString(code + QString::number(t->recordCount())));
        t->post();
        QCOMPARE(t->value(u"CODE"_s).toString(), code); // the cursor follows the posted row
    }
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"C"_s, u"C"_s, u"M"_s, u"X"_s}));
    QCOMPARE(t->valueAt(1, 1).toString(), u"C1"_s); // equal keys in posting order
    QCOMPARE(t->valueAt(2, 1).toString(), u"C3"_s);

    // An edited key moves its row; an unchanged key leaves it in place.
    QSignalSpy moved(t, &MemTable::rowMoved);
    t->moveTo(0);
    t->edit();
    t->setValue(u"CODE"_s, u"N"_s);
    t->post();
    QCOMPARE(codes(*t), QStringList({u"C"_s, u"C"_s, u"M"_s, u"N"_s, u"X"_s}));
    QCOMPARE(t->currentRow(), 3);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0).at(0).toInt(), 0);
    QCOMPARE(moved.at(0).at(1).toInt(), 3);

    t->moveTo(1);
    t->edit();
    t->setValue(u"NAME"_s, u"renamed"_s);
    t->post();
    QCOMPARE(t->currentRow(), 1);
    QCOMPARE(moved.count(), 1);

    t->moveTo(4);
    t->edit();
    t->setValue(u"CODE"_s, u"C"_s); // equal to two rows: goes after them
    t->post();
    QCOMPARE(codes(*t), QStringList({u"C"_s, u"C"_s, u"C"_s, u"M"_s, u"N"_s}));
    QCOMPARE(t->currentRow(), 2);
}

void TestMemTable::indexOrderAppliedOnLoad()
{
    MemTable *source = sampleTable({u"B"_s, u"C"_s, u"A"_s});
    const QByteArray packet = source->saveToPacket();
    MemTable t(u"cdsSorted"_s);
    t.setFields(sampleFields());
    t.setIndexFieldNames(u"CODE"_s);
    t.loadFromPacket(packet);
    QCOMPARE(codes(t), QStringList({u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(t.currentRow(), 0);

    MemTable bad(u"cdsBad"_s);
    bad.setFields(sampleFields());
    bad.setIndexFieldNames(u"MISSING"_s);
    QVERIFY_THROWS_EXCEPTION(DataSetError, bad.loadFromPacket(packet));
    QVERIFY(!bad.isOpen());
}

void TestMemTable::controlsSuspendAndResume()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    QSignalSpy aboutToReset(t, &MemTable::aboutToReset);
    QSignalSpy reset(t, &MemTable::tableReset);
    QSignalSpy cursor(t, &MemTable::currentRowChanged);
    QSignalSpy changed(t, &MemTable::dataChanged);
    QSignalSpy inserted(t, &MemTable::rowInserted);

    t->disableControls();
    t->disableControls();
    QVERIFY(t->controlsDisabled());
    QCOMPARE(aboutToReset.count(), 1);
    for (t->first(); !t->eof(); t->next()) {
        t->edit();
        t->setValue(u"NAME"_s, u"x"_s);
    }
    addSample(*t, u"C"_s);
    t->enableControls();
    QVERIFY(t->controlsDisabled());
    QCOMPARE(reset.count(), 0);
    t->enableControls();
    QVERIFY(!t->controlsDisabled());
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(cursor.count(), 0);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(t->recordCount(), 3);

    t->enableControls(); // unbalanced: ignored
    QCOMPARE(reset.count(), 1);
    t->first(); // signals flow again
    QCOMPARE(cursor.count(), 1);
}

void TestMemTable::rowSignals()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    QSignalSpy inserted(t, &MemTable::rowInserted);
    QSignalSpy removed(t, &MemTable::rowRemoved);
    QSignalSpy changedRow(t, &MemTable::rowChanged);
    QSignalSpy field(t, &MemTable::dataChanged);
    QSignalSpy cursor(t, &MemTable::currentRowChanged);
    QSignalSpy state(t, &MemTable::stateChanged);

    t->moveTo(1);
    t->insert();
    t->setValue(2, 3.5);
    QCOMPARE(field.last().at(0).toInt(), 2);
    t->post();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(0).toInt(), 1);

    t->edit();
    t->setValue(u"NAME"_s, u"n"_s);
    t->post();
    QCOMPARE(changedRow.count(), 1);
    QCOMPARE(changedRow.at(0).at(0).toInt(), 1);

    cursor.clear();
    field.clear();
    t->deleteRecord(); // same index, another record: reported as a whole-row change
    QCOMPARE(removed.count(), 1);
    QCOMPARE(cursor.count(), 0);
    QCOMPARE(field.count(), 1);
    QCOMPARE(field.at(0).at(0).toInt(), -1);

    QVERIFY(state.count() >= 4); // browse -> insert -> browse -> edit -> browse
    QCOMPARE(state.last().at(0).value<MemTable::State>(), MemTable::State::Browse);
}

void TestMemTable::displayText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    const QLocale de(QLocale::German, QLocale::Germany);
    QTest::newRow("us grouped") << us << u"#,##0.00"_s << QVariant(1234567.5) << u"1,234,567.50"_s;
    QTest::newRow("br grouped") << br << u"#,##0.00"_s << QVariant(1234567.5) << u"1.234.567,50"_s;
    QTest::newRow("de grouped") << de << u"#,##0.00"_s << QVariant(-1234.5) << u"-1.234,50"_s;
    QTest::newRow("us rounds") << us << u"#,##0.00"_s << QVariant(0.125) << u"0.13"_s;
    QTest::newRow("us small") << us << u"#,##0.00"_s << QVariant(5.0) << u"5.00"_s;
    QTest::newRow("no grouping") << us << u"0.00"_s << QVariant(1234.5) << u"1234.50"_s;
    QTest::newRow("br no grouping") << br << u"0.00"_s << QVariant(1234.5) << u"1234,50"_s;
    QTest::newRow("integer") << us << u"#,##0"_s << QVariant(1234.6) << u"1,235"_s;
    QTest::newRow("optional decimals") << us << u"0.##"_s << QVariant(2.5) << u"2.5"_s;
    QTest::newRow("negative zero") << us << u"0.00"_s << QVariant(-0.001) << u"0.00"_s;
    QTest::newRow("no format") << us << QString() << QVariant(1234.5) << u"1234.5"_s;
    QTest::newRow("null") << us << u"#,##0.00"_s << QVariant() << QString();
}

void TestMemTable::displayText()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, format);
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QLocale::setDefault(locale);
    MemTable t(u"cdsFmt"_s);
    t.setFields({floatField(u"V"_s, format)});
    t.createDataSet();
    t.append();
    t.setValue(0, value);
    t.post();
    QCOMPARE(t.displayText(0, 0), text);
}

void TestMemTable::dateDisplay()
{
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    QLocale::setDefault(br);
    MemTable *t = sampleTable();
    addSample(*t, u"A"_s, {}, {}, QDate(2024, 2, 5));
    addSample(*t, u"B"_s, {}, {}, QDateTime(QDate(2024, 2, 5), QTime(14, 30)));
    addSample(*t, u"C"_s, {}, {}, QDateTime(QDate(2024, 2, 5), QTime(14, 30, 15)));
    const QString date = br.toString(QDate(2024, 2, 5), QLocale::ShortFormat);
    QCOMPARE(t->displayText(0, 3), date); // midnight: the date alone
    QVERIFY(t->displayText(1, 3).startsWith(date + u' '));
    QVERIFY(t->displayText(1, 3).contains(u"14:30"_s));
    QVERIFY(t->displayText(2, 3).contains(u"14:30:15"_s));
    QCOMPARE(t->displayText(0, 1), QString()); // null text
}

void TestMemTable::getTextHandler()
{
    MemTable *t = sampleTable({u"E"_s, u"S"_s, u"X"_s});
    t->setGetTextHandler(u"code"_s, [](const MemTable &table, int row, bool) {
        const QString code = table.viewValue(row, 0).toString();
        return code == "E"_L1 ? u"Entrada"_s : code == "S"_L1 ? u"Saída"_s : QString();
    });
    QCOMPARE(t->displayText(0, 0), u"Entrada"_s);
    QCOMPARE(t->displayText(1, 0), u"Saída"_s);
    QCOMPARE(t->displayText(2, 0), QString());
    t->moveTo(2);
    t->edit();
    t->setValue(0, u"E"_s);
    QCOMPARE(t->displayText(2, 0), u"Entrada"_s); // the pending value is shown

    // The handler is kept by name across new declarations.
    t->close();
    t->setFields(sampleFields());
    t->createDataSet();
    addSample(*t, u"S"_s);
    QCOMPARE(t->displayText(0, 0), u"Saída"_s);
}

void TestMemTable::loadMatchesDeclaredFieldsByName()
{
    MemTable source(u"src"_s);
    source.setFields({dateField(u"DAY"_s), textField(u"name"_s, 20), textField(u"CODE"_s, 5),
                      floatField(u"VALUE"_s)});
    source.createDataSet();
    source.append();
    source.setValue(u"CODE"_s, u"K1"_s);
    source.setValue(u"NAME"_s, u"Kilo"_s);
    source.setValue(u"VALUE"_s, 9.75);
    source.setValue(u"DAY"_s, QDate(2023, 12, 31));
    source.post();

    MemTable *t = sampleTable();
    t->loadFromPacket(source.saveToPacket());
    QCOMPARE(t->fields().at(0).label, u"Código"_s); // the table's declarations stay
    QCOMPARE(t->value(u"CODE"_s).toString(), u"K1"_s);
    QCOMPARE(t->value(u"NAME"_s).toString(), u"Kilo"_s);
    QCOMPARE(t->value(u"VALUE"_s).toDouble(), 9.75);
    QCOMPARE(t->value(u"DAY"_s).toDateTime().date(), QDate(2023, 12, 31));

    // A table without declarations takes the packet's, and takes new ones on the next load.
    MemTable free(u"free"_s);
    free.loadFromPacket(source.saveToPacket());
    QCOMPARE(free.fieldCount(), 4);
    QCOMPARE(free.field(0).name, u"DAY"_s);
    free.loadFromPacket(t->saveToPacket());
    QCOMPARE(free.field(0).name, u"CODE"_s);
}

void TestMemTable::failedLoadLeavesTableUnchanged()
{
    MemTable *t = sampleTable({u"A"_s, u"B"_s});
    t->moveTo(1);
    t->edit();
    t->setValue(u"NAME"_s, u"pending"_s);

    MemTable other(u"other"_s);
    other.setFields({textField(u"CODE"_s, 5), textField(u"NAME"_s, 40), floatField(u"VALUE"_s),
                     dateField(u"DAY"_s)});
    other.createDataSet();
    other.append();
    other.setValue(u"NAME"_s, QString(21, u'n')); // fits there, too long for cdsSample
    other.post();

    QSignalSpy reset(t, &MemTable::aboutToReset);
    try {
        t->loadFromPacket(other.saveToPacket());
        QFAIL("a too-long text was loaded");
    } catch (const DataSetError &e) {
        QVERIFY2(e.message().contains(u"NAME"_s), qPrintable(e.message()));
        QVERIFY2(e.message().contains(u"20"_s), qPrintable(e.message()));
    }
    QCOMPARE(reset.count(), 0);
    QCOMPARE(codes(*t), QStringList({u"A"_s, u"B"_s}));
    QCOMPARE(t->state(), MemTable::State::Edit);
    QCOMPARE(t->currentRow(), 1);
    QCOMPARE(t->value(u"NAME"_s).toString(), u"pending"_s);
}

void TestMemTable::dataSourceReports()
{
    MemTable t(u"cdsNotaFiscal"_s);
    t.setFields(sampleFields());
    DataSource source(&t);
    QSignalSpy spy(&source, &DataSource::dataChange);

    t.createDataSet();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toInt(), -1);

    addSample(t, u"A"_s);
    addSample(t, u"B"_s);
    spy.clear();
    t.first();
    QVERIFY(spy.count() >= 1);
    spy.clear();
    t.edit();
    t.setValue(u"NAME"_s, u"z"_s);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toInt(), 1);
    spy.clear();
    t.post();
    QVERIFY(spy.count() >= 1);

    const QByteArray packet = t.saveToPacket();
    spy.clear();
    t.loadFromPacket(packet);
    QCOMPARE(spy.count(), 1);
    spy.clear();
    t.emptyDataSet();
    QCOMPARE(spy.count(), 1);

    // Attaching an open table reports it; a source without a table is silent.
    DataSource late;
    QSignalSpy lateSpy(&late, &DataSource::dataChange);
    late.setTable(&t);
    QCOMPARE(lateSpy.count(), 1);
    late.setTable(nullptr);
    t.close();
    t.createDataSet();
    QCOMPARE(lateSpy.count(), 1);
}

void TestMemTable::dataSourceSilentWhileDisabledOrClosing()
{
    MemTable t(u"cdsNotaFiscal"_s);
    t.setFields(sampleFields());
    t.createDataSet();
    addSample(t, u"A"_s);
    DataSource source(&t);
    QSignalSpy spy(&source, &DataSource::dataChange);

    t.close(); // closing is not a change of the list
    QCOMPARE(spy.count(), 0);

    t.createDataSet();
    addSample(t, u"A"_s);
    addSample(t, u"B"_s);
    spy.clear();
    t.disableControls();
    for (t.first(); !t.eof(); t.next()) {
        t.edit();
        t.setValue(u"CODE"_s, u"C"_s);
    }
    QCOMPARE(spy.count(), 0);
    t.enableControls();
    QCOMPARE(spy.count(), 1); // one report when the views resume

    t.disableControls();
    t.close();
    t.enableControls(); // resumed on a closed table: nothing to report
    QCOMPARE(spy.count(), 1);

    t.createDataSet();
    spy.clear();
    source.setEnabled(false);
    addSample(t, u"D"_s);
    QCOMPARE(spy.count(), 0);
    source.setEnabled(true);
    QCOMPARE(spy.count(), 1);

    // A destroyed table leaves the source empty, not dangling.
    auto doomed = std::make_unique<MemTable>();
    source.setTable(doomed.get());
    doomed.reset();
    QCOMPARE(source.table(), nullptr);
}

QTEST_GUILESS_MAIN(TestMemTable)
#include "tst_memtable.moc"
