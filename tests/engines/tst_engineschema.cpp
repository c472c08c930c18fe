// The PostgreSQL and Firebird editions of the host database against the SQLite one: the same
// tables, columns, keys and indexes, and what each engine adds (sequences, the lock row, the
// functions the module's statements call), read back from each engine's own catalogue.
#include "demodata.h"
#include "enginetestutil.h"
#include "testsupport/enginedatabase.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using namespace fis;
using namespace fis::test;

namespace {

// A column as the comparison sees it: its SQL type as sqlite.sql spells it, and NOT NULL.
QString columnText(const QString &name, const QString &type, bool notNull)
{
    return name + u' ' + type + (notNull ? QStringLiteral(" NOT NULL") : QString());
}

QString numericType(int precision, int scale)
{
    return scale == 0 ? QStringLiteral("NUMERIC(%1)").arg(precision)
                      : QStringLiteral("NUMERIC(%1,%2)").arg(precision).arg(scale);
}

QStringList postgresColumns(EngineConnection &db, const QString &table)
{
    QStringList out;
    for (const QVariantList &r :
         db.rows(QStringLiteral("SELECT UPPER(COLUMN_NAME), DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, "
                                "NUMERIC_PRECISION, NUMERIC_SCALE, IS_NULLABLE "
                                "FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_SCHEMA = "
                                "CURRENT_SCHEMA() AND TABLE_NAME = LOWER(?) "
                                "ORDER BY ORDINAL_POSITION"),
                 {table})) {
        const QString kind = r.at(1).toString();
        QString type = kind.toUpper();
        if (kind == u"character varying")
            type = QStringLiteral("VARCHAR(%1)").arg(r.at(2).toInt());
        else if (kind == u"character")
            type = QStringLiteral("CHAR(%1)").arg(r.at(2).toInt());
        else if (kind == u"numeric")
            type = numericType(r.at(3).toInt(), r.at(4).toInt());
        else if (kind == u"timestamp without time zone")
            type = QStringLiteral("TIMESTAMP");
        out << columnText(r.at(0).toString(), type, r.at(5).toString() == u"NO");
    }
    return out;
}

QStringList firebirdColumns(EngineConnection &db, const QString &table)
{
    const std::map<int, QString> plain{{12, QStringLiteral("DATE")},
                                       {35, QStringLiteral("TIMESTAMP")},
                                       {8, QStringLiteral("INTEGER")}};
    QStringList out;
    for (const QVariantList &r :
         db.rows(QStringLiteral("SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE, "
                                "F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_PRECISION, F.RDB$FIELD_SCALE, "
                                "COALESCE(RF.RDB$NULL_FLAG, 0) FROM RDB$RELATION_FIELDS RF JOIN "
                                "RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE WHERE "
                                "RF.RDB$RELATION_NAME = ? ORDER BY RF.RDB$FIELD_POSITION"),
                 {table})) {
        const int code = r.at(1).toInt();
        QString type;
        if (code == 37 || code == 14)
            type = QStringLiteral("%1(%2)")
                       .arg(code == 37 ? QStringLiteral("VARCHAR") : QStringLiteral("CHAR"))
                       .arg(r.at(2).toInt());
        else if (r.at(3).toInt() > 0)
            type = numericType(r.at(3).toInt(), -r.at(4).toInt());
        else
            type = plain.count(code) ? plain.at(code) : QString::number(code);
        out << columnText(r.at(0).toString(), type, r.at(5).toInt() != 0);
    }
    return out;
}

QStringList sqliteColumns(const SqliteFile &db, const QString &table)
{
    QStringList out;
    for (const QVariantList &r :
         db.rows(QStringLiteral(
                     "SELECT NAME, TYPE, \"NOTNULL\" FROM PRAGMA_TABLE_INFO(?) ORDER BY CID"),
                 {table}))
        out << columnText(r.at(0).toString(), r.at(1).toString(), r.at(2).toInt() != 0);
    return out;
}

QStringList column(EngineConnection &db, const QString &sql, const QVariantList &params = {})
{
    QStringList values;
    for (const QVariantList &r : db.rows(sql, params))
        values << r.value(0).toString().trimmed().toUpper();
    return values;
}

QStringList primaryKey(EngineConnection &db, const QString &table)
{
    if (db.engine() == DatabaseEngine::Firebird)
        return column(db,
                      QStringLiteral("SELECT S.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS C "
                                     "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = "
                                     "C.RDB$INDEX_NAME WHERE C.RDB$RELATION_NAME = ? AND "
                                     "C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
                                     "ORDER BY S.RDB$FIELD_POSITION"),
                      {table});
    return column(db,
                  QStringLiteral("SELECT K.COLUMN_NAME FROM INFORMATION_SCHEMA.TABLE_CONSTRAINTS "
                                 "C JOIN INFORMATION_SCHEMA.KEY_COLUMN_USAGE K ON "
                                 "K.CONSTRAINT_NAME = C.CONSTRAINT_NAME AND K.TABLE_SCHEMA = "
                                 "C.TABLE_SCHEMA WHERE C.TABLE_SCHEMA = CURRENT_SCHEMA() AND "
                                 "C.TABLE_NAME = LOWER(?) AND C.CONSTRAINT_TYPE = 'PRIMARY KEY' "
                                 "ORDER BY K.ORDINAL_POSITION"),
                  {table});
}

// The named constraints (keys, foreign keys, unique), sorted.
QStringList constraints(EngineConnection &db)
{
    QStringList names =
        db.engine() == DatabaseEngine::Firebird
            ? column(db, QStringLiteral("SELECT RDB$CONSTRAINT_NAME FROM RDB$RELATION_CONSTRAINTS "
                                        "WHERE RDB$CONSTRAINT_TYPE IN ('PRIMARY KEY', 'FOREIGN "
                                        "KEY', 'UNIQUE') AND RDB$RELATION_NAME NOT STARTING "
                                        "WITH 'RDB$'"))
            : column(db, QStringLiteral("SELECT CONSTRAINT_NAME FROM "
                                        "INFORMATION_SCHEMA.TABLE_CONSTRAINTS WHERE TABLE_SCHEMA "
                                        "= CURRENT_SCHEMA() AND CONSTRAINT_TYPE IN ('PRIMARY "
                                        "KEY', 'FOREIGN KEY', 'UNIQUE')"));
    names.sort();
    return names;
}

// Indexes that no constraint made, as "NAME(COLUMN,...)", sorted.
QStringList indexes(EngineConnection &db)
{
    QStringList out;
    if (db.engine() == DatabaseEngine::Firebird) {
        for (const QString &name :
             column(db, QStringLiteral("SELECT RDB$INDEX_NAME FROM RDB$INDICES WHERE "
                                       "COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$INDEX_NAME NOT IN "
                                       "(SELECT RDB$INDEX_NAME FROM RDB$RELATION_CONSTRAINTS WHERE "
                                       "RDB$INDEX_NAME IS NOT NULL)")))
            out << name + u'(' +
                       column(db,
                              QStringLiteral("SELECT RDB$FIELD_NAME FROM RDB$INDEX_SEGMENTS "
                                             "WHERE RDB$INDEX_NAME = ? ORDER BY "
                                             "RDB$FIELD_POSITION"),
                              {name})
                           .join(u',') +
                       u')';
    } else {
        static const QRegularExpression columns(QStringLiteral("\\(([^)]*)\\)$"));
        for (const QVariantList &r : db.rows(QStringLiteral(
                 "SELECT UPPER(INDEXNAME), UPPER(INDEXDEF) FROM PG_INDEXES WHERE SCHEMANAME = "
                 "CURRENT_SCHEMA() AND INDEXNAME NOT IN (SELECT CONSTRAINT_NAME FROM "
                 "INFORMATION_SCHEMA.TABLE_CONSTRAINTS WHERE TABLE_SCHEMA = CURRENT_SCHEMA())")))
            out << r.at(0).toString() + u'(' +
                       columns.match(r.at(1).toString()).captured(1).remove(u' ') + u')';
    }
    out.sort();
    return out;
}

QStringList sqliteIndexes(const SqliteFile &db)
{
    QStringList out;
    for (const QString &name : db.column(QStringLiteral(
             "SELECT NAME FROM SQLITE_MASTER WHERE TYPE = 'index' AND SQL IS NOT NULL")))
        out << name + u'(' +
                   db.column(QStringLiteral("SELECT NAME FROM PRAGMA_INDEX_INFO(?) ORDER BY SEQNO"),
                             {name})
                       .join(u',') +
                   u')';
    out.sort();
    return out;
}

} // namespace

class TstEngineSchema : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void tablesAreThoseOfSqlite_data();
    void tablesAreThoseOfSqlite();
    void columnsAndKeysAreThoseOfSqlite_data();
    void columnsAndKeysAreThoseOfSqlite();
    void constraintsAndIndexesAreThoseOfSqlite_data();
    void constraintsAndIndexesAreThoseOfSqlite();
    void sequencesHandOutOneFirst_data();
    void sequencesHandOutOneFirst();
    void lockTableHoldsOneRow_data();
    void lockTableHoldsOneRow();
    void datesAreDates_data();
    void datesAreDates();
    void postgresNvlTakesAnUntypedParameter_data();
    void postgresNvlTakesAnUntypedParameter();
    void firebirdParamCarriesANull();
    void firebirdNvlstr();
    void firebirdDatabaseSettings();
    void postgresListRowsUpdateInPlace();
    void linesTableHoldsAWholeBlock_data();
    void linesTableHoldsAWholeBlock();

private:
    EngineConnection &connection(DatabaseEngine engine);

    QTemporaryDir m_dir;
    std::unique_ptr<SqliteFile> m_sqlite;
    std::map<DatabaseEngine, std::unique_ptr<SeededEngineDatabase>> m_databases;
    std::map<DatabaseEngine, std::unique_ptr<EngineConnection>> m_connections;
};

void TstEngineSchema::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("demo.sqlite"));
    generateDemoDatabase(path, kMinDemoInvoices);
    m_sqlite = std::make_unique<SqliteFile>(path);
    for (DatabaseEngine engine : serverEngines()) {
        auto database = std::make_unique<SeededEngineDatabase>(engine, kMinDemoInvoices);
        QVERIFY2(database->isValid(), qPrintable(database->error()));
        m_connections[engine] = std::make_unique<EngineConnection>(database->target());
        m_databases[engine] = std::move(database);
    }
}

void TstEngineSchema::cleanupTestCase()
{
    m_connections.clear();
    m_databases.clear();
}

EngineConnection &TstEngineSchema::connection(DatabaseEngine engine)
{
    return *m_connections.at(engine);
}

static void addEngineRows()
{
    QTest::addColumn<DatabaseEngine>("engine");
    for (DatabaseEngine engine : serverEngines())
        QTest::newRow(qPrintable(engineName(engine))) << engine;
}

void TstEngineSchema::tablesAreThoseOfSqlite_data()
{
    addEngineRows();
}

void TstEngineSchema::tablesAreThoseOfSqlite()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    QStringList expected = m_sqlite->tables();
    // The number generators are sequences there; the lock row is the server editions' own.
    expected.removeOne(QStringLiteral("SEQCOMPRALEG"));
    expected << QStringLiteral("TRAVACOMPRALEG");
    expected.sort();
    QStringList tables =
        engine == DatabaseEngine::Firebird
            ? column(db, QStringLiteral("SELECT RDB$RELATION_NAME FROM RDB$RELATIONS WHERE "
                                        "COALESCE(RDB$SYSTEM_FLAG, 0) = 0"))
            : column(db, QStringLiteral("SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE "
                                        "TABLE_SCHEMA = CURRENT_SCHEMA()"));
    tables.sort();
    QCOMPARE(tables, expected);
}

void TstEngineSchema::columnsAndKeysAreThoseOfSqlite_data()
{
    QTest::addColumn<DatabaseEngine>("engine");
    QTest::addColumn<QString>("table");
    for (DatabaseEngine engine : serverEngines()) {
        for (const QString &table : m_sqlite->tables()) {
            if (table != u"SEQCOMPRALEG")
                QTest::addRow("%s %s", qPrintable(engineName(engine)), qPrintable(table))
                    << engine << table;
        }
    }
}

void TstEngineSchema::columnsAndKeysAreThoseOfSqlite()
{
    QFETCH(DatabaseEngine, engine);
    QFETCH(QString, table);
    EngineConnection &db = connection(engine);
    QStringList expected = sqliteColumns(*m_sqlite, table);
    // Firebird's precision ends at 18 digits.
    if (engine == DatabaseEngine::Firebird)
        expected.replaceInStrings(QStringLiteral("NUMERIC(20)"), QStringLiteral("NUMERIC(18)"));
    const QStringList columns = engine == DatabaseEngine::Firebird ? firebirdColumns(db, table)
                                                                   : postgresColumns(db, table);
    QCOMPARE(columns, expected);
    QCOMPARE(primaryKey(db, table), m_sqlite->primaryKey(table));
}

void TstEngineSchema::constraintsAndIndexesAreThoseOfSqlite_data()
{
    addEngineRows();
}

void TstEngineSchema::constraintsAndIndexesAreThoseOfSqlite()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    QStringList expected;
    static const QRegularExpression named(QStringLiteral("CONSTRAINT (\\w+)"));
    for (const QRegularExpressionMatch &m :
         named.globalMatch(QString::fromUtf8(sqliteSchemaScript())))
        expected << m.captured(1);
    expected.removeOne(QStringLiteral("PK_SEQCOMPRALEG"));
    expected << QStringLiteral("PK_TRAVACOMPRALEG");
    expected.sort();
    QCOMPARE(constraints(db), expected);
    QCOMPARE(indexes(db), sqliteIndexes(*m_sqlite));
}

void TstEngineSchema::sequencesHandOutOneFirst_data()
{
    addEngineRows();
}

void TstEngineSchema::sequencesHandOutOneFirst()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    for (const QString &sequence :
         {QStringLiteral("SEQ_NRLISTA"), QStringLiteral("SEQ_NRSEQARQMAG")}) {
        const QString next = engine == DatabaseEngine::Firebird
                                 ? QStringLiteral("SELECT NEXT VALUE FOR %1 FROM RDB$DATABASE")
                                 : QStringLiteral("SELECT NEXTVAL('%1')");
        QCOMPARE(db.rows(next.arg(sequence)).at(0).at(0).toLongLong(), 1);
        QCOMPARE(db.rows(next.arg(sequence)).at(0).at(0).toLongLong(), 2);
    }
}

void TstEngineSchema::lockTableHoldsOneRow_data()
{
    addEngineRows();
}

void TstEngineSchema::lockTableHoldsOneRow()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    const Rows rows = db.rows(QStringLiteral("SELECT ID FROM TRAVACOMPRALEG"));
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows.front().at(0).toInt(), 1);
    // The row a writer locks: Firebird's writers take it WITH LOCK, PostgreSQL's FOR UPDATE.
    db.begin();
    const QString lock =
        engine == DatabaseEngine::Firebird
            ? QStringLiteral("SELECT ID FROM TRAVACOMPRALEG WHERE ID = 1 WITH LOCK")
            : QStringLiteral("SELECT ID FROM TRAVACOMPRALEG WHERE ID = 1 FOR UPDATE");
    QCOMPARE(db.rows(lock).size(), size_t(1));
    db.rollback();
}

void TstEngineSchema::datesAreDates_data()
{
    addEngineRows();
}

void TstEngineSchema::datesAreDates()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    const QVariant date =
        db.rows(QStringLiteral("SELECT DTPROCESSAMENTO FROM FILIAL WHERE CDFILIAL = '0003'"))
            .at(0)
            .at(0);
    QCOMPARE(date.typeId(), QMetaType::QDate);
    QCOMPARE(date.toDate(), QDate(2025, 4, 30));
    // A date compares as a date: the processing dates of May.
    QCOMPARE(column(db,
                    QStringLiteral("SELECT CDFILIAL FROM FILIAL WHERE DTPROCESSAMENTO > ? "
                                   "ORDER BY CDFILIAL"),
                    {QDate(2025, 5, 16)}),
             (QStringList{"0001", "0004", "0005", "0007"}));
}

void TstEngineSchema::postgresNvlTakesAnUntypedParameter_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariant>("parameter");
    QTest::addColumn<QStringList>("branches");
    const QString varcharColumn = QStringLiteral(
        "SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = NVL(?, CDFILIAL) ORDER BY CDFILIAL");
    const QString charColumn = QStringLiteral(
        "SELECT CDFILIAL FROM FILIAL WHERE SGESTADO = NVL(?, SGESTADO) ORDER BY CDFILIAL");
    const QStringList all{"0001", "0002", "0003", "0004", "0005", "0006", "0007"};
    const QVariant nullText(QMetaType::fromType<QString>());
    QTest::newRow("VARCHAR column, null text") << varcharColumn << nullText << all;
    QTest::newRow("VARCHAR column, null of no type") << varcharColumn << QVariant() << all;
    QTest::newRow("VARCHAR column, a code")
        << varcharColumn << QVariant("0006") << QStringList{"0006"};
    QTest::newRow("VARCHAR column, empty text") << varcharColumn << QVariant("") << QStringList{};
    QTest::newRow("CHAR column, null") << charColumn << nullText << all;
    QTest::newRow("CHAR column, a state") << charColumn << QVariant("BA") << all;
    QTest::newRow("CHAR column, another state") << charColumn << QVariant("SE") << QStringList{};
}

void TstEngineSchema::postgresNvlTakesAnUntypedParameter()
{
    QFETCH(QString, sql);
    QFETCH(QVariant, parameter);
    QFETCH(QStringList, branches);
    // Through QPSQL, which prepares the statement with the parameter's type left to PostgreSQL.
    QCOMPARE(column(connection(DatabaseEngine::PostgreSql), sql, {parameter}), branches);
}

// What reaches PARAM from QIBASE for a null parameter, and why the statements go through it: a
// parameter put straight into a function is described as not nullable and bound as ''. An empty
// text comes out of PARAM as null, as under the Oracle dialect.
void TstEngineSchema::firebirdParamCarriesANull()
{
    EngineConnection &db = connection(DatabaseEngine::Firebird);
    const QVariant nullText(QMetaType::fromType<QString>());
    const QString probe = QStringLiteral(
        "SELECT CASE WHEN P.PARAM IS NULL THEN 'null' ELSE '[' || P.PARAM || ']' END "
        "FROM PARAM(?) P");
    QCOMPARE(column(db, probe, {nullText}), QStringList{"NULL"});
    QCOMPARE(column(db, probe, {QVariant()}), QStringList{"NULL"});
    QCOMPARE(column(db, probe, {QStringLiteral("")}), QStringList{"NULL"});
    QCOMPARE(column(db, probe, {QStringLiteral("083471692")}), QStringList{"[083471692]"});
    QCOMPARE(column(db, probe, {QString(50, u'x')}), QStringList{u'[' + QString(50, u'X') + u']'});

    const QString viaParam = QStringLiteral(
        "SELECT COUNT(*) FROM FILIAL, PARAM(?) P WHERE CDFILIAL = NVLSTR(P.PARAM, CDFILIAL)");
    const QString straight =
        QStringLiteral("SELECT COUNT(*) FROM FILIAL WHERE CDFILIAL = NVLSTR(?, CDFILIAL)");
    QCOMPARE(db.rows(viaParam, {nullText}).at(0).at(0).toInt(), 7);
    QCOMPARE(db.rows(straight, {nullText}).at(0).at(0).toInt(), 0);
}

void TstEngineSchema::firebirdNvlstr()
{
    EngineConnection &db = connection(DatabaseEngine::Firebird);
    const Rows rows = db.rows(QStringLiteral(
        "SELECT NVLSTR(NULL, 'b'), NVLSTR('a', 'b'), NVLSTR(NULL, NULL), NVLSTR('', 'b') "
        "FROM RDB$DATABASE"));
    QCOMPARE(rows.at(0).at(0).toString(), QStringLiteral("b"));
    QCOMPARE(rows.at(0).at(1).toString(), QStringLiteral("a"));
    QVERIFY(rows.at(0).at(2).isNull());
    // An empty text is a value on Firebird.
    QCOMPARE(rows.at(0).at(3).toString(), QString());
    QVERIFY(!rows.at(0).at(3).isNull());
}

void TstEngineSchema::firebirdDatabaseSettings()
{
    EngineConnection &db = connection(DatabaseEngine::Firebird);
    const Rows rows = db.rows(QStringLiteral(
        "SELECT MON$PAGE_SIZE, MON$SQL_DIALECT, MON$FORCED_WRITES, "
        "(SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE) FROM MON$DATABASE"));
    QCOMPARE(rows.at(0).at(0).toInt(), 16384);
    QCOMPARE(rows.at(0).at(1).toInt(), 3);
    QCOMPARE(rows.at(0).at(2).toInt(), 1);
    QCOMPARE(rows.at(0).at(3).toString(), QStringLiteral("UTF8"));
}

// Recording the flag each invoice of a list had before its file marked it rewrites every row of
// the list: on PostgreSQL the table leaves room in its pages for that, so the new versions stay
// in their pages and no index gets new entries (a heap-only update).
void TstEngineSchema::postgresListRowsUpdateInPlace()
{
    EngineConnection &db = connection(DatabaseEngine::PostgreSql);
    db.begin();
    db.exec(QStringLiteral("INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, IDSITUACAO) VALUES "
                           "('0000000077', TIMESTAMP '2025-05-20 10:00:00', 'A')"));
    db.exec(QStringLiteral(
        "INSERT INTO LISTACOMPRALEGNF (NRLISTA, CDLISTA, CDINSCESTA, CDFILIAL, NRLANCTONF)"
        " SELECT '0000000077', '0001' || lpad(G::text, 10, '0'), '052147836', '0001',"
        " lpad(G::text, 10, '0') FROM generate_series(1, 2000) G"));
    db.exec(QStringLiteral("UPDATE LISTACOMPRALEGNF SET IDNFCOMPRALEGANT = 'N'"
                           " WHERE NRLISTA = '0000000077'"));
    const Rows counts =
        db.rows(QStringLiteral("SELECT n_tup_upd, n_tup_hot_upd FROM pg_stat_xact_user_tables"
                               " WHERE relname = 'listacompralegnf'"));
    db.rollback();
    QCOMPARE(counts.size(), size_t(1));
    QCOMPARE(counts.at(0).at(0).toInt(), 2000);
    QCOMPARE(counts.at(0).at(1).toInt(), 2000);
}

void TstEngineSchema::linesTableHoldsAWholeBlock_data()
{
    addEngineRows();
}

// A block of 250 lines of 126 characters fits the lines' table of each engine as one value,
// through another driver than the server's; on Firebird the column is OCTETS, since in the
// database's UTF8 a VARCHAR holds at most 8,191 characters.
void TstEngineSchema::linesTableHoldsAWholeBlock()
{
    QFETCH(DatabaseEngine, engine);
    EngineConnection &db = connection(engine);
    if (engine == DatabaseEngine::Firebird)
        QCOMPARE(column(db, QStringLiteral("SELECT C.RDB$CHARACTER_SET_NAME FROM "
                                           "RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON "
                                           "F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE JOIN "
                                           "RDB$CHARACTER_SETS C ON C.RDB$CHARACTER_SET_ID = "
                                           "F.RDB$CHARACTER_SET_ID WHERE RF.RDB$RELATION_NAME = "
                                           "'BLOCOARQCOMPRALEG' AND RF.RDB$FIELD_NAME = "
                                           "'DSREGARQMAG'")),
                 QStringList{QStringLiteral("OCTETS")});
    QByteArray block;
    for (int line = 1; line <= 250; ++line)
        block += QByteArray::number(line).rightJustified(126, 'x');
    db.begin();
    db.exec(QStringLiteral("INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, IDSITUACAO) VALUES "
                           "('0000000001', TIMESTAMP '2025-05-20 10:00:00', 'A')"));
    db.exec(QStringLiteral("INSERT INTO ARQCOMPRALEG (NRSEQARQMAG, NRLISTA, CDINSCESTA, "
                           "NOMEARQUIVO, IDSERVIDO) VALUES ('0000000001', '0000000001', "
                           "'052147836', '0001', 'N')"));
    QSqlQuery insert = db.prepare(QStringLiteral(
        "INSERT INTO BLOCOARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLINHAS, NRLISTA, SQUENCIAL, "
        "DSREGARQMAG) VALUES ('0000000001', 1, 250, '0000000001', 1, ?)"));
    // QPSQL sends a QByteArray as bytea; QIBASE an OCTETS value as its bytes.
    db.execute(insert, {engine == DatabaseEngine::Firebird ? QVariant(block)
                                                           : QVariant(QString::fromLatin1(block))});
    const Rows rows =
        db.rows(QStringLiteral("SELECT DSREGARQMAG FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = "
                               "'0000000001' AND NRORDREGARQ = 1"));
    db.rollback();
    QCOMPARE(rows.size(), size_t(1));
    const QVariant value = rows.front().at(0);
    const QByteArray stored =
        value.typeId() == QMetaType::QByteArray ? value.toByteArray() : value.toString().toLatin1();
    QCOMPARE(stored.size(), qsizetype(31500));
    QVERIFY(stored == block);
}

QTEST_GUILESS_MAIN(TstEngineSchema)
#include "tst_engineschema.moc"
