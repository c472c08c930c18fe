#include "datasettestutil.h"

#include "dataset/memtable.h"
#include "dataset/tablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace fis;
using namespace fis::test;
using namespace Qt::StringLiterals;

class TestTableModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsRowsInPlace();
    void closedTableHasNoRows();
    void followsEditsInsertsAndDeletes();
    void followsIndexMoves();
    void followsResets();
    void suspendedTableIsOneReset();
    void switchingAndDestroyedTables();
    void matchFindsWhatTheGenericSearchFinds_data();
    void matchFindsWhatTheGenericSearchFinds();

private:
    // A table with rows A, B, C and a model over it, checked by Qt's model tester.
    void makeTable();
    std::unique_ptr<MemTable> m_table;
    std::unique_ptr<TableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestTableModel::init()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    makeTable();
}

void TestTableModel::cleanup()
{
    m_tester.reset();
    m_model.reset();
    m_table.reset();
    QLocale::setDefault(QLocale::system());
}

void TestTableModel::makeTable()
{
    m_table = std::make_unique<MemTable>(u"cdsModel"_s);
    m_table->setFields(sampleFields());
    m_table->createDataSet();
    addSample(*m_table, u"A"_s, u"Alpha"_s, 1234.5, QDate(2024, 1, 2));
    addSample(*m_table, u"B"_s, u"Beta"_s);
    addSample(*m_table, u"C"_s, u"Gamma"_s);
    m_model = std::make_unique<TableModel>(m_table.get());
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

static QStringList modelCodes(const QAbstractItemModel &model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.index(row, 0).data().toString();
    return result;
}

void TestTableModel::readsRowsInPlace()
{
    QCOMPARE(m_model->rowCount(), 3);
    QCOMPARE(m_model->columnCount(), 4);
    QCOMPARE(m_model->headerData(0, Qt::Horizontal).toString(), u"Código"_s);
    QCOMPARE(m_model->headerData(1, Qt::Horizontal).toString(), u"NAME"_s);
    QCOMPARE(m_model->index(0, 2).data().toString(), u"1,234.50"_s);
    QCOMPARE(m_model->index(0, 2).data(Qt::EditRole).toDouble(), 1234.5);
    QCOMPARE(m_model->index(0, 3).data(Qt::EditRole).toDateTime().date(), QDate(2024, 1, 2));
    QVERIFY(!m_model->index(1, 2).data(Qt::EditRole).isValid()); // null
    QCOMPARE(m_model->index(1, 2).data().toString(), QString());
    QVERIFY(!(m_model->flags(m_model->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(m_model->flags(m_model->index(0, 0)) & Qt::ItemIsSelectable);
}

void TestTableModel::closedTableHasNoRows()
{
    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    m_table->close();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(!m_model->index(0, 0).isValid());
    m_table->createDataSet();
    QCOMPARE(m_model->rowCount(), 0);
    addSample(*m_table, u"N"_s);
    QCOMPARE(modelCodes(*m_model), QStringList({u"N"_s}));
}

void TestTableModel::followsEditsInsertsAndDeletes()
{
    QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);

    // A mark written in place shows at once, before it is posted.
    m_table->moveTo(1);
    m_table->edit();
    m_table->setValue(u"CODE"_s, u"b2"_s);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), m_model->index(1, 0));
    QCOMPARE(m_model->index(1, 0).data().toString(), u"b2"_s);
    m_table->cancel();
    QCOMPARE(m_model->index(1, 0).data().toString(), u"B"_s);

    m_table->insert();
    m_table->setValue(u"CODE"_s, u"X"_s);
    QCOMPARE(m_model->rowCount(), 3); // not a row until posted
    m_table->post();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(modelCodes(*m_model), QStringList({u"A"_s, u"X"_s, u"B"_s, u"C"_s}));

    m_table->last();
    m_table->deleteRecord();
    m_table->first();
    m_table->deleteRecord();
    QCOMPARE(removed.count(), 2);
    QCOMPARE(modelCodes(*m_model), QStringList({u"X"_s, u"B"_s}));

    m_table->edit();
    m_table->setValue(u"NAME"_s, u"posted"_s);
    m_table->next();
    QCOMPARE(m_model->index(0, 1).data().toString(), u"posted"_s);
}

void TestTableModel::followsIndexMoves()
{
    m_table->setIndexFieldNames(u"CODE"_s);
    QSignalSpy moved(m_model.get(), &QAbstractItemModel::rowsMoved);
    const QPersistentModelIndex alpha = m_model->index(0, 1);

    m_table->first();
    m_table->edit();
    m_table->setValue(u"CODE"_s, u"Z"_s); // A -> Z: first row to last
    m_table->post();
    QCOMPARE(moved.count(), 1);
    QCOMPARE(modelCodes(*m_model), QStringList({u"B"_s, u"C"_s, u"Z"_s}));
    QCOMPARE(alpha.row(), 2); // persistent indexes follow the row
    QCOMPARE(alpha.data().toString(), u"Alpha"_s);

    m_table->edit();
    m_table->setValue(u"CODE"_s, u"A"_s); // and back to the top
    m_table->post();
    QCOMPARE(moved.count(), 2);
    QCOMPARE(modelCodes(*m_model), QStringList({u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(alpha.row(), 0);

    for (const QString &code : {u"BB"_s, u"0"_s, u"D"_s}) {
        m_table->append();
        m_table->setValue(u"CODE"_s, code);
        m_table->post();
    }
    QCOMPARE(modelCodes(*m_model), QStringList({u"0"_s, u"A"_s, u"B"_s, u"BB"_s, u"C"_s, u"D"_s}));
}

void TestTableModel::followsResets()
{
    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    const QByteArray packet = m_table->saveToPacket();

    m_table->emptyDataSet();
    QCOMPARE(m_model->rowCount(), 0);
    m_table->loadFromPacket(packet);
    QCOMPARE(modelCodes(*m_model), QStringList({u"A"_s, u"B"_s, u"C"_s}));
    m_table->setIndexFieldNames(u"NAME"_s);
    QCOMPARE(reset.count(), 3);

    // A packet with other declarations changes the columns of a table that took them from it.
    MemTable free(u"free"_s);
    TableModel freeModel(&free);
    QAbstractItemModelTester tester(&freeModel,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(freeModel.columnCount(), 0);
    free.loadFromPacket(packet);
    QCOMPARE(freeModel.columnCount(), 4);
    MemTable narrow(u"narrow"_s);
    narrow.setFields({textField(u"ONLY"_s, 2)});
    narrow.createDataSet();
    addSample(*m_table, u"Q"_s); // keep the first model busy meanwhile
    free.loadFromPacket(narrow.saveToPacket());
    QCOMPARE(freeModel.columnCount(), 1);
    QCOMPARE(freeModel.rowCount(), 0);
}

void TestTableModel::suspendedTableIsOneReset()
{
    QSignalSpy aboutToReset(m_model.get(), &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);

    m_table->disableControls();
    QCOMPARE(aboutToReset.count(), 1);
    m_table->first();
    m_table->deleteRecord();
    m_table->deleteRecord();
    // Rows that went away meanwhile read as empty instead of crashing.
    QCOMPARE(m_model->rowCount(), 3);
    QVERIFY(!m_model->index(2, 0).data().isValid());
    addSample(*m_table, u"N"_s);
    m_table->enableControls();

    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(modelCodes(*m_model), QStringList({u"C"_s, u"N"_s}));
}

void TestTableModel::switchingAndDestroyedTables()
{
    MemTable other(u"other"_s);
    other.setFields({textField(u"K"_s, 1)});
    other.createDataSet();
    m_model->setTable(&other);
    QCOMPARE(m_model->columnCount(), 1);
    QCOMPARE(m_model->rowCount(), 0);
    addSample(*m_table, u"D"_s); // the old table no longer reaches the model
    QCOMPARE(m_model->rowCount(), 0);

    m_model->setTable(m_table.get());
    QCOMPARE(m_model->rowCount(), 4);
    m_table.reset();
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_model->columnCount(), 0);
    m_model->setTable(nullptr);
    QCOMPARE(m_model->table(), nullptr);
}

// A view's keyboard search (typing in it) goes through match(): the same rows as the
// generic search over the display texts, from every start, with and without wrapping, also with
// a row whose pending edit the view shows.
void TestTableModel::matchFindsWhatTheGenericSearchFinds_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<bool>("editPending");
    for (const bool pending : {false, true}) {
        const char *how = pending ? " (a row being edited)" : "";
        QTest::addRow("a blank%s", how) << u" "_s << pending;
        QTest::addRow("digits%s", how) << u"12"_s << pending;
        QTest::addRow("a sign%s", how) << u"-"_s << pending;
        QTest::addRow("a letter, either case%s", how) << u"b"_s << pending;
        QTest::addRow("accented%s", how) << u"é"_s << pending;
    }
}

void TestTableModel::matchFindsWhatTheGenericSearchFinds()
{
    QFETCH(QString, search);
    QFETCH(bool, editPending);
    // Codes and names with blanks, digits, signs, accents and nulls, some appended, some loaded
    // from a packet (whose rows view its bytes).
    MemTable loaded(u"cdsLoaded"_s);
    loaded.setFields(sampleFields());
    loaded.createDataSet();
    const QStringList values = {u" 12"_s, u"12"_s,  u"-1"_s, u"B2"_s, u"b 1"_s, u"é1"_s,
                                u"É2"_s,  u"121"_s, u" "_s,  u"x"_s,  u"1"_s};
    for (const QString &value : values)
        addSample(loaded, value.left(5), value);
    loaded.append();
    loaded.setValue(u"CODE"_s, u"N"_s);
    loaded.post();
    MemTable table(u"cdsSearch"_s);
    table.setFields(sampleFields());
    table.loadFromPacket(loaded.saveToPacket());
    TableModel model(&table);
    if (editPending) {
        table.moveTo(3);
        table.edit();
        table.setValue(u"CODE"_s, u" 9"_s);
        table.setValue(u"NAME"_s, u"12 pending"_s);
    }
    for (const int column : {0, 1}) {
        for (int start = 0; start < model.rowCount(); ++start) {
            const QModelIndex from = model.index(start, column);
            for (const auto flags : {Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap),
                                     Qt::MatchFlags(Qt::MatchStartsWith)}) {
                for (const int hits : {1, -1}) {
                    const QModelIndexList fast =
                        model.match(from, Qt::DisplayRole, search, hits, flags);
                    const QModelIndexList generic =
                        model.QAbstractItemModel::match(from, Qt::DisplayRole, search, hits, flags);
                    QCOMPARE(fast, generic);
                }
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestTableModel)
#include "tst_tablemodel.moc"
