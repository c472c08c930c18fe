// The schema step of the server's start: nothing to do on a database born from the current
// schema, and an older database brought to the same shape.
#include "demodata.h"
#include "server/lineblocks.h"
#include "server/schemamigration.h"
#include "sqldb/sqliteconnection.h"
#include "testsupport/storedlines.h"

#include <QTemporaryDir>
#include <QTest>

using namespace fis;

namespace {

// REGARQCOMPRALEG, the lines' table before blocks, must be gone: its shape is then empty.
const char *const kExportTables[] = {"SEQCOMPRALEG", "LISTACOMPRALEG",  "LISTACOMPRALEGNF",
                                     "ARQCOMPRALEG", "REGARQCOMPRALEG", "BLOCOARQCOMPRALEG",
                                     "SERVCOMPRALEG"};

QStringList rows(SqliteConnection &db, const char *sql, const QString &param = {})
{
    SqlStatement q(db, sql);
    if (!param.isNull())
        q.bind(1, param);
    QStringList out;
    while (q.step())
        out << q.text(0);
    return out;
}

// What the server relies on of the export tables: columns, keys, storage, indexes and the
// number generators; not the spelling of the statements that made them.
QStringList exportShape(SqliteConnection &db)
{
    QStringList shape;
    for (const char *table : kExportTables) {
        const QString name = QString::fromLatin1(table);
        shape << rows(db,
                      "SELECT name || ' ' || type || ' ' || \"notnull\" || ' ' || pk"
                      " FROM pragma_table_info(?1) ORDER BY cid",
                      name);
        shape << rows(db,
                      "SELECT name || ' rowid ' || (upper(sql) NOT LIKE '%WITHOUT ROWID%')"
                      " FROM sqlite_master WHERE type = 'table' AND name = ?1",
                      name);
        shape << rows(db,
                      "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?1"
                      " AND sql IS NOT NULL ORDER BY name",
                      name);
    }
    shape << rows(db, "SELECT NMSEQUENCIA || '=' || NRULTIMO FROM SEQCOMPRALEG ORDER BY 1");
    return shape;
}

// Line `number` of `file` as the test stores it: 126 characters that tell both apart.
QString lineRowText(const char *file, qint64 number)
{
    const QString head = QLatin1String(file) + u'/' + QString::number(number) + u'/';
    return head.leftJustified(126, QChar(char16_t(u'a' + number % 26)));
}

int schemaVersion(SqliteConnection &db)
{
    return rows(db, "PRAGMA schema_version").value(0).toInt();
}

} // namespace

class TestSchemaMigration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void freshDatabaseIsLeftAlone();
    void olderDatabaseGetsTheFreshShape();
    void ownerlessListsAreSettled();
    void linesUnderWayGoIntoBlocks();
    void aLineOfAnotherLengthStopsTheMigration();

private:
    static void addLineRows(SqliteConnection &db, const char *file, const char *list,
                            const QList<QPair<qint64, qint64>> &numbersAndSequences,
                            int length = 126);
    QString exportUnderWay(const QString &name, bool badLine = false);
    static void makeOlder(SqliteConnection &db, bool withLastFile = false);
    // The lines' table of one row per line, as this server's schema had it before blocks.
    static void toLineRows(SqliteConnection &db);
    QString freshDatabase(const QString &name, int invoices = 10);

    QTemporaryDir m_dir;
    QStringList m_freshShape;
};

QString TestSchemaMigration::freshDatabase(const QString &name, int invoices)
{
    const QString path = m_dir.filePath(name);
    generateDemoDatabase(path, invoices);
    return path;
}

void TestSchemaMigration::initTestCase()
{
    QVERIFY(m_dir.isValid());
    SqliteConnection db(freshDatabase(QStringLiteral("reference.sqlite")), 1000);
    m_freshShape = exportShape(db);
    // The shape the server needs, as the fresh schema must already give it.
    QVERIFY(m_freshShape.contains(QStringLiteral("CDSESSAO VARCHAR(64) 0 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("IDSITUACAO CHAR(1) 1 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("IDNFCOMPRALEGANT CHAR(1) 0 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("UQ_LISTACOMPRALEGNF_NOTA")));
    QVERIFY(m_freshShape.contains(QStringLiteral("CDSERVIDOR VARCHAR(32) 1 1")));
    QVERIFY(m_freshShape.contains(QStringLiteral("BLOCOARQCOMPRALEG rowid 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("NRLINHAS NUMERIC(3) 1 0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("DSREGARQMAG VARCHAR(31500) 1 0")));
    QVERIFY(!m_freshShape.contains(QStringLiteral("REGARQCOMPRALEG rowid 0")));
    QVERIFY(!m_freshShape.contains(QStringLiteral("REGARQCOMPRALEG rowid 1")));
    QVERIFY(m_freshShape.contains(QStringLiteral("NRLISTA=0")));
    QVERIFY(m_freshShape.contains(QStringLiteral("NRSEQARQMAG=0")));
}

void TestSchemaMigration::freshDatabaseIsLeftAlone()
{
    SqliteConnection db(freshDatabase(QStringLiteral("fresh.sqlite")), 1000);
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
    QCOMPARE(exportShape(db), m_freshShape);
}

void TestSchemaMigration::olderDatabaseGetsTheFreshShape()
{
    SqliteConnection db(freshDatabase(QStringLiteral("older.sqlite")), 1000);
    makeOlder(db);
    QVERIFY(exportShape(db) != m_freshShape);
    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
}

void TestSchemaMigration::makeOlder(SqliteConnection &db, bool withLastFile)
{
    // Back to the export tables as host databases had them before this server: lists without
    // owner, state or activity, and (before that) without the file asked for last; the lines one
    // row each.
    db.exec("PRAGMA foreign_keys = OFF;"
            "DROP TABLE LISTACOMPRALEG;"
            "CREATE TABLE LISTACOMPRALEG (NRLISTA VARCHAR(10) NOT NULL,"
            "    DTCRIACAO TIMESTAMP NOT NULL, CONSTRAINT PK_LISTACOMPRALEG PRIMARY KEY (NRLISTA));"
            "DROP INDEX UQ_LISTACOMPRALEGNF_NOTA;"
            "CREATE INDEX IX_LISTACOMPRALEGNF_NOTA ON LISTACOMPRALEGNF (CDFILIAL, NRLANCTONF);"
            "DROP TABLE SERVCOMPRALEG;");
    toLineRows(db);
    if (withLastFile) {
        db.exec("ALTER TABLE LISTACOMPRALEG ADD COLUMN NRSEQARQULT VARCHAR(10)");
        return;
    }
    db.exec("ALTER TABLE LISTACOMPRALEGNF DROP COLUMN IDNFCOMPRALEGANT;"
            "DROP TABLE REGARQCOMPRALEG;"
            "CREATE TABLE REGARQCOMPRALEG ("
            "    NRSEQARQMAG VARCHAR(10) NOT NULL, NRORDREGARQ NUMERIC(10) NOT NULL,"
            "    NRLISTA VARCHAR(10) NOT NULL, DSREGARQMAG VARCHAR(4000) NOT NULL,"
            "    SQUENCIAL NUMERIC(10) NOT NULL,"
            "    CONSTRAINT PK_REGARQCOMPRALEG PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ));"
            "CREATE INDEX IX_REGARQCOMPRALEG_LISTA ON REGARQCOMPRALEG (NRLISTA);"
            "DELETE FROM SEQCOMPRALEG;");
}

void TestSchemaMigration::toLineRows(SqliteConnection &db)
{
    test::toLineRows(db);
}

void TestSchemaMigration::ownerlessListsAreSettled()
{
    SqliteConnection db(freshDatabase(QStringLiteral("lists.sqlite"), 200), 1000);
    makeOlder(db, true);
    // Two invoices of each of two registrations, all marked exported by two lists: list 1 served
    // both its files; list 2 served file A, then asked for file B and stopped there.
    const QStringList keys = rows(db, "SELECT CDFILIAL || ':' || NRLANCTONF || ':' || CDINSCESTA"
                                      " FROM NFCOMPRA WHERE CDFILIAL IN ('0001', '0002')"
                                      " ORDER BY CDFILIAL, NRLANCTONF");
    QStringList chosen;
    for (const char *branch : {"0001", "0001", "0002", "0002", "0001", "0002"}) {
        for (const QString &k : keys)
            if (k.startsWith(QLatin1String(branch)) && !chosen.contains(k)) {
                chosen << k;
                break;
            }
    }
    QCOMPARE(chosen.size(), 6);
    db.exec(
        "INSERT INTO LISTACOMPRALEG VALUES ('0000000001', '2025-05-01 10:00:00', '0000000002');"
        "INSERT INTO LISTACOMPRALEG VALUES ('0000000002', '2025-05-01 11:00:00', '0000000004');");
    const QString regA = chosen[0].section(u':', 2), regB = chosen[2].section(u':', 2);
    const auto exec = [&](const char *sql, const QStringList &values) {
        SqlStatement q(db, sql);
        for (int i = 0; i < values.size(); ++i)
            q.bind(i + 1, values[i]);
        q.execute();
    };
    const char *file = "INSERT INTO ARQCOMPRALEG VALUES (?1, ?2, '01', ?3, 'BA', ?4, 10, ?5, NULL)";
    exec(file, {"0000000001", "0000000001", regA, "0001", "S"});
    exec(file, {"0000000002", "0000000001", regB, "0002", "S"});
    exec(file, {"0000000003", "0000000002", regA, "0001", "S"});
    exec(file, {"0000000004", "0000000002", regB, "0002", "N"});
    // Lines of a file of each list: list 1's stay for the janitor, list 2's go with the list.
    addLineRows(db, "0000000001", "0000000001", {{1, 1}, {2, 2}, {3, 3}});
    addLineRows(db, "0000000004", "0000000002", {{1, 4}, {2, 5}});
    for (int i = 0; i < 6; ++i) {
        const QStringList p = chosen[i].split(u':');
        exec("INSERT INTO LISTACOMPRALEGNF VALUES (?1, ?2 || ?3, ?4, ?2, ?3, 'N')",
             {i < 4 ? "0000000001" : "0000000002", p[0], p[1], p[2]});
        exec("UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S' WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2",
             {p[0], p[1]});
    }

    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    const auto flag = [&](int i) {
        const QStringList p = chosen[i].split(u':');
        SqlStatement q(db, "SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = ?1"
                           " AND NRLANCTONF = ?2");
        q.bind(1, p[0]);
        q.bind(2, p[1]);
        return q.step() ? q.text(0) : QString();
    };
    // List 1 was delivered: final, its files delivered, its invoices exported and off the list.
    QCOMPARE(rows(db, "SELECT NRLISTA || IDSITUACAO FROM LISTACOMPRALEG"),
             QStringList{QStringLiteral("0000000001F")});
    QCOMPARE(rows(db, "SELECT NRSEQARQMAG || IDSERVIDO FROM ARQCOMPRALEG ORDER BY 1"),
             (QStringList{QStringLiteral("0000000001E"), QStringLiteral("0000000002E")}));
    QCOMPARE(rows(db, "SELECT count(*) FROM LISTACOMPRALEGNF"), QStringList{QStringLiteral("0")});
    // The four invoices of list 1 exported; of list 2, file A's invoice exported (the client
    // went on to B), file B's not.
    QStringList flags;
    for (int i = 0; i < 6; ++i)
        flags << flag(i);
    QCOMPARE(flags, (QStringList{"S", "S", "S", "S", "S", "N"}));
    QCOMPARE(rows(db, "SELECT NRSEQARQMAG || ' ' || NRORDREGARQ || ' ' || NRLINHAS || ' ' ||"
                      " SQUENCIAL FROM BLOCOARQCOMPRALEG"),
             QStringList{QStringLiteral("0000000001 1 3 1")});
}

void TestSchemaMigration::addLineRows(SqliteConnection &db, const char *file, const char *list,
                                      const QList<QPair<qint64, qint64>> &numbersAndSequences,
                                      int length)
{
    SqlStatement add(db, "INSERT INTO REGARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLISTA,"
                         " DSREGARQMAG, SQUENCIAL) VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const auto &[number, sequence] : numbersAndSequences) {
        add.bind(1, QString::fromLatin1(file));
        add.bind(2, number);
        add.bind(3, QString::fromLatin1(list));
        add.bind(4, lineRowText(file, number).left(length));
        add.bind(5, sequence);
        add.execute();
    }
}

// A database made by the schema before blocks, with the lines of an export under way: a list
// of three files, one of 601 lines, one of 3 lines whose SQUENCIAL follows (and a line of another
// length when `badLine` is set), one whose SQUENCIAL skips a number; and lines of a file that no
// longer exists.
QString TestSchemaMigration::exportUnderWay(const QString &name, bool badLine)
{
    const QString path = freshDatabase(name);
    SqliteConnection db(path, 1000);
    toLineRows(db);
    db.exec("INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, CDSESSAO, IDSITUACAO, DTATIVIDADE,"
            " CDSERVIDOR) VALUES ('0000000001', '2025-05-20 10:00:00', 'abc', 'A', 1, 'x');"
            "INSERT INTO ARQCOMPRALEG VALUES ('0000000001', '0000000001', '01', '052147836',"
            " 'BA', '0001', 601, 'N', NULL);"
            "INSERT INTO ARQCOMPRALEG VALUES ('0000000002', '0000000001', '01', '061258473',"
            " 'BA', '0002', 3, 'N', NULL);"
            "INSERT INTO ARQCOMPRALEG VALUES ('0000000003', '0000000001', '01', '074369581',"
            " 'BA', '0003', 7, 'N', NULL);");
    QList<QPair<qint64, qint64>> lines;
    for (qint64 n = 1; n <= 601; ++n)
        lines.append({n, n});
    addLineRows(db, "0000000001", "0000000001", lines);
    addLineRows(db, "0000000002", "0000000001", {{1, 602}, {2, 603}, {3, 604}});
    addLineRows(db, "0000000003", "0000000001",
                {{1, 605}, {2, 606}, {3, 607}, {4, 608}, {5, 609}, {6, 611}, {7, 612}});
    // Lines of no file: the earliest lines' table had no foreign key.
    db.exec("PRAGMA foreign_keys = OFF");
    addLineRows(db, "0000000099", "0000000001", {{1, 1}});
    db.exec("PRAGMA foreign_keys = ON");
    if (badLine)
        addLineRows(db, "0000000002", "0000000001", {{4, 605}}, 125);
    return path;
}

// The lines of an export under way while the server was upgraded go into blocks, each with the
// number and SQUENCIAL it had, so that the next pages answer what the earlier server would have.
void TestSchemaMigration::linesUnderWayGoIntoBlocks()
{
    SqliteConnection db(exportUnderWay(QStringLiteral("underway.sqlite")), 1000);
    QMap<QString, QStringList> before;
    for (const char *file : {"0000000001", "0000000002", "0000000003"})
        before[QString::fromLatin1(file)] = rows(db,
                                                 "SELECT NRORDREGARQ || ' ' || SQUENCIAL || ' ' ||"
                                                 " DSREGARQMAG FROM REGARQCOMPRALEG WHERE"
                                                 " NRSEQARQMAG = ?1 ORDER BY NRORDREGARQ",
                                                 QString::fromLatin1(file));
    QCOMPARE(before.value(QStringLiteral("0000000001")).size(), 601);

    migrateServerSchema(db);
    QCOMPARE(exportShape(db), m_freshShape);
    // Blocks from every 250th line on; a line whose SQUENCIAL does not follow starts one.
    QCOMPARE(rows(db, "SELECT NRSEQARQMAG || ' ' || NRORDREGARQ || ' ' || NRLINHAS || ' ' ||"
                      " SQUENCIAL || ' ' || length(DSREGARQMAG) FROM BLOCOARQCOMPRALEG"
                      " ORDER BY NRSEQARQMAG, NRORDREGARQ"),
             (QStringList{"0000000001 1 250 1 31500", "0000000001 251 250 251 31500",
                          "0000000001 501 101 501 12726", "0000000002 1 3 602 378",
                          "0000000003 1 5 605 630", "0000000003 6 2 611 252"}));
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QStringList after;
        SqlTransaction tx(db, SqlTransaction::Kind::Read);
        lineblocks::read(db, it.key(), 1, 1000, [&](qint64 n, QByteArrayView text, qint64 seq) {
            after << QStringLiteral("%1 %2 %3").arg(n).arg(seq).arg(QString::fromLatin1(text));
        });
        QVERIFY2(after == it.value(), qPrintable(it.key()));
    }
    const int version = schemaVersion(db);
    migrateServerSchema(db);
    QCOMPARE(schemaVersion(db), version);
}

// A stored line that no block could hold stops the migration, which changes nothing: the server
// does not start rather than serve it short.
void TestSchemaMigration::aLineOfAnotherLengthStopsTheMigration()
{
    SqliteConnection db(exportUnderWay(QStringLiteral("badline.sqlite"), true), 1000);
    const int version = schemaVersion(db);
    QString error;
    try {
        migrateServerSchema(db);
    } catch (const DatabaseError &e) {
        error = e.message();
    }
    QVERIFY2(error.contains(QLatin1String("A linha 4 do arquivo 0000000002 tem 125 caracteres")),
             qPrintable(error));
    QCOMPARE(schemaVersion(db), version);
    QCOMPARE(rows(db, "SELECT count(*) FROM REGARQCOMPRALEG"), QStringList{QStringLiteral("613")});
    QCOMPARE(rows(db, "SELECT count(*) FROM sqlite_master WHERE name = 'BLOCOARQCOMPRALEG'"),
             QStringList{QStringLiteral("0")});
}

QTEST_GUILESS_MAIN(TestSchemaMigration)
#include "tst_schemamigration.moc"
