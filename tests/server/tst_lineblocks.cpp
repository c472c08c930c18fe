// A file's lines stored in blocks and read back by pages, on the server's own connection: line
// counts on both sides of the block's size, lines handed over in pieces that do not match the
// blocks, pages whose bounds fall inside blocks and on their edges, and stored blocks that are
// not whole; on SQLite, blocks kept compressed and lines that do not shrink kept as text. Built
// once for SQLite (tests/server) and once for PostgreSQL and Firebird
// (tests/serverengines, FIS_LINEBLOCKS_ENGINES), on the throwaway servers of scripts/engines.
#include "demodata.h"
#include "server/lineblocks.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/storedlines.h"
#ifdef FIS_LINEBLOCKS_ENGINES
#include "testsupport/enginedatabase.h"
#endif

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <vector>

using namespace fis;

namespace {

constexpr int kBlock = lineblocks::kLinesPerBlock;
constexpr qint64 kSequenceBase = 1000;

const char kList[] = "0000000001";

std::vector<DatabaseEngine> enginesUnderTest()
{
#ifdef FIS_LINEBLOCKS_ENGINES
    return {DatabaseEngine::PostgreSql, DatabaseEngine::Firebird};
#else
    return {DatabaseEngine::Sqlite};
#endif
}

// Line `n` of a test file: its number, then letters that shift with it, so that a line sliced
// from the wrong place never passes for another.
QByteArray lineText(qint64 n)
{
    QByteArray line = QByteArray::number(n).rightJustified(10, '0') + ':';
    for (int i = int(line.size()); i < kRecordLength; ++i)
        line += char('A' + (n + i) % 26);
    return line;
}

QByteArray linesText(qint64 first, qint64 count)
{
    QByteArray text;
    for (qint64 n = first; n < first + count; ++n)
        text += lineText(n);
    return text;
}

// Lines no compression shortens: printable characters drawn at random.
QByteArray randomLines(qint64 count)
{
    QRandomGenerator random(20251210);
    QByteArray text(count * kRecordLength, Qt::Uninitialized);
    for (char &c : text)
        c = char(random.bounded(33, 127));
    return text;
}

struct ReadLine
{
    qint64 number;
    QByteArray text;
    qint64 sequence;
};

// The lines from..to as they must come back from a file of `total` lines.
std::vector<ReadLine> expectedLines(qint64 total, qint64 from, qint64 to)
{
    std::vector<ReadLine> lines;
    for (qint64 n = std::max<qint64>(from, 1); n <= std::min(to, total); ++n)
        lines.push_back({n, lineText(n), kSequenceBase + n});
    return lines;
}

std::vector<ReadLine> readLines(SqlConnection &db, const QString &file, qint64 from, qint64 to)
{
    std::vector<ReadLine> lines;
    SqlTransaction tx(db, SqlTransaction::Kind::Read);
    lineblocks::read(db, file, from, to, [&](qint64 number, QByteArrayView text, qint64 sequence) {
        lines.push_back({number, text.toByteArray(), sequence});
    });
    tx.commit();
    return lines;
}

QString describe(const std::vector<ReadLine> &lines)
{
    if (lines.empty())
        return QStringLiteral("none");
    return QStringLiteral("%1 lines, %2 (%3) to %4 (%5)")
        .arg(lines.size())
        .arg(lines.front().number)
        .arg(lines.front().sequence)
        .arg(lines.back().number)
        .arg(lines.back().sequence);
}

// Equal line by line; the message names the first difference.
QString compareLines(const std::vector<ReadLine> &got, const std::vector<ReadLine> &expected)
{
    for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) {
        const ReadLine &g = got[i];
        const ReadLine &e = expected[i];
        if (g.number != e.number || g.text != e.text || g.sequence != e.sequence)
            return QStringLiteral("line %1: got %2 \"%3\" (%4), expected %5 \"%6\" (%7)")
                .arg(i)
                .arg(g.number)
                .arg(QString::fromLatin1(g.text))
                .arg(g.sequence)
                .arg(e.number)
                .arg(QString::fromLatin1(e.text))
                .arg(e.sequence);
    }
    if (got.size() != expected.size())
        return QStringLiteral("got %1, expected %2").arg(describe(got), describe(expected));
    return {};
}

// How a test hands the lines over: pieces of these sizes in turn, none of them a block.
const std::vector<qint64> kPieces = {1, 7, 300, 2000, 126, 249};

} // namespace

class TestLineBlocks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void storedInBlocks_data();
    void storedInBlocks();
    void pagesSliceTheBlocks_data();
    void pagesSliceTheBlocks();
    void blocksNotWholeAreErrors_data();
    void blocksNotWholeAreErrors();
    void linesOfAnotherLengthAreRefused_data();
    void linesOfAnotherLengthAreRefused();
    void storedCompressedWhereShorter_data();
    void storedCompressedWhereShorter();

private:
    static void addEngineColumn();
    // The engine column and a row of each engine under test, for the cases that take no more.
    static void addEngineRows();
    SqlConnection &db(DatabaseEngine engine) { return *m_connections.at(engine); }
    // A new file of the list, with `total` lines stored; returns its number.
    QString storeFile(DatabaseEngine engine, qint64 total, bool inPieces = true);
    // The same with these lines, `total` of them.
    QString storeLines(DatabaseEngine engine, const QByteArray &text, bool inPieces = true);
    // NRORDREGARQ, NRLINHAS, SQUENCIAL and the length of the lines' text, of each block in order.
    QList<QList<qint64>> blockRows(DatabaseEngine engine, const QString &file);
    // Of each block in order: whether it is kept as bytes, and how many.
    QList<std::pair<bool, qint64>> storedForms(DatabaseEngine engine, const QString &file);
    void exec(DatabaseEngine engine, const char *sql, const QString &file, qint64 a = 0,
              qint64 b = 0);

    QTemporaryDir m_dir;
#ifdef FIS_LINEBLOCKS_ENGINES
    std::map<DatabaseEngine, std::unique_ptr<test::SeededEngineDatabase>> m_databases;
#endif
    std::map<DatabaseEngine, std::unique_ptr<SqlConnection>> m_connections;
    int m_files = 0;
};

void TestLineBlocks::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (DatabaseEngine engine : enginesUnderTest()) {
        DatabaseTarget target;
#ifdef FIS_LINEBLOCKS_ENGINES
        auto database = std::make_unique<test::SeededEngineDatabase>(engine, kMinDemoInvoices);
        QVERIFY2(database->isValid(), qPrintable(database->error()));
        target = database->target();
        m_databases[engine] = std::move(database);
#else
        target.database = m_dir.filePath(QStringLiteral("blocks.sqlite"));
        generateDemoDatabase(target.database, kMinDemoInvoices);
#endif
        m_connections[engine] = openSqlDatabase(target);
        SqlStatement list(db(engine), "INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, IDSITUACAO)"
                                      " VALUES (?1, '2025-05-20 10:00:00', 'A')");
        list.bind(1, QString::fromLatin1(kList));
        list.execute();
    }
}

void TestLineBlocks::cleanupTestCase()
{
    m_connections.clear();
#ifdef FIS_LINEBLOCKS_ENGINES
    m_databases.clear();
#endif
}

void TestLineBlocks::addEngineColumn()
{
    QTest::addColumn<DatabaseEngine>("engine");
}

void TestLineBlocks::addEngineRows()
{
    addEngineColumn();
    for (DatabaseEngine engine : enginesUnderTest())
        QTest::addRow("%s", qPrintable(engineName(engine))) << engine;
}

QString TestLineBlocks::storeFile(DatabaseEngine engine, qint64 total, bool inPieces)
{
    return storeLines(engine, linesText(1, total), inPieces);
}

QString TestLineBlocks::storeLines(DatabaseEngine engine, const QByteArray &text, bool inPieces)
{
    const qint64 total = text.size() / kRecordLength;
    const QString file = QString::number(++m_files).rightJustified(10, u'0');
    SqlConnection &c = db(engine);
    SqlTransaction tx(c, SqlTransaction::Kind::Write);
    SqlStatement add(c, "INSERT INTO ARQCOMPRALEG (NRSEQARQMAG, NRLISTA, CDEMPRESA, CDINSCESTA,"
                        " SGESTADO, NOMEARQUIVO, NRTOTREGISTROS, IDSERVIDO)"
                        " VALUES (?1, ?2, '01', ?1, 'BA', ?1, ?3, 'N')");
    add.bind(1, file);
    add.bind(2, QString::fromLatin1(kList));
    add.bind(3, total);
    add.execute();
    lineblocks::BlockWriter writer(c, file, QString::fromLatin1(kList), kSequenceBase);
    qint64 given = 0;
    for (size_t piece = 0; given < total; ++piece) {
        const qint64 count =
            inPieces ? std::min(kPieces[piece % kPieces.size()], total - given) : total;
        writer.add(QByteArrayView(text).sliced(given * kRecordLength, count * kRecordLength));
        given += count;
    }
    writer.finish();
    tx.commit();
    if (writer.lines() != total)
        qFatal("the writer counted %lld lines of %lld", writer.lines(), total);
    return file;
}

QList<QList<qint64>> TestLineBlocks::blockRows(DatabaseEngine engine, const QString &file)
{
    SqlStatement q(db(engine), "SELECT NRORDREGARQ, NRLINHAS, SQUENCIAL, DSREGARQMAG"
                               " FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1"
                               " ORDER BY NRORDREGARQ");
    q.bind(1, file);
    QList<QList<qint64>> rows;
    while (q.step()) {
        const qint64 length = q.holdsBytes(3) ? test::unpackedBlock(q.bytes(3), q.integer(1)).size()
                                              : q.utf8(3).size();
        rows.append({q.integer(0), q.integer(1), q.integer(2), length});
    }
    return rows;
}

QList<std::pair<bool, qint64>> TestLineBlocks::storedForms(DatabaseEngine engine,
                                                           const QString &file)
{
    SqlStatement q(db(engine), "SELECT DSREGARQMAG FROM BLOCOARQCOMPRALEG"
                               " WHERE NRSEQARQMAG = ?1 ORDER BY NRORDREGARQ");
    q.bind(1, file);
    QList<std::pair<bool, qint64>> forms;
    while (q.step())
        forms.append({q.holdsBytes(0), q.holdsBytes(0) ? q.bytes(0).size() : q.utf8(0).size()});
    return forms;
}

void TestLineBlocks::exec(DatabaseEngine engine, const char *sql, const QString &file, qint64 a,
                          qint64 b)
{
    SqlConnection &c = db(engine);
    SqlTransaction tx(c, SqlTransaction::Kind::Write);
    SqlStatement q(c, sql);
    q.bind(1, file);
    if (QByteArrayView(sql).contains("?2"))
        q.bind(2, a);
    if (QByteArrayView(sql).contains("?3"))
        q.bind(3, b);
    // The block at line `a` with its last character cut off.
    if (QByteArrayView(sql).contains("?4"))
        q.bindUtf8(4, linesText(a, kBlock).chopped(1));
    q.execute();
    tx.commit();
}

void TestLineBlocks::storedInBlocks_data()
{
    addEngineColumn();
    QTest::addColumn<qint64>("total");
    QTest::addColumn<bool>("inPieces");
    for (DatabaseEngine engine : enginesUnderTest())
        for (const qint64 total : {1, 249, 250, 251, 500, 501, 2250, 2251})
            for (const bool inPieces : {true, false})
                QTest::addRow("%s, %lld lines%s", qPrintable(engineName(engine)), total,
                              inPieces ? " in pieces" : "")
                    << engine << total << inPieces;
}

// Blocks of 250 lines from line 1, the last one shorter; each with the SQUENCIAL of its first
// line; the whole file read back line by line.
void TestLineBlocks::storedInBlocks()
{
    QFETCH(DatabaseEngine, engine);
    QFETCH(qint64, total);
    QFETCH(bool, inPieces);
    const QString file = storeFile(engine, total, inPieces);
    QList<QList<qint64>> expected;
    for (qint64 first = 1; first <= total; first += kBlock) {
        const qint64 count = std::min<qint64>(kBlock, total - first + 1);
        expected.append({first, count, kSequenceBase + first, count * kRecordLength});
    }
    QCOMPARE(blockRows(engine, file), expected);
    const QString difference =
        compareLines(readLines(db(engine), file, 1, total), expectedLines(total, 1, total));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineBlocks::pagesSliceTheBlocks_data()
{
    addEngineColumn();
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    const struct
    {
        qint64 total, from, to;
    } pages[] = {
        {501, 1, 1},        {501, 1, 250},   {501, 1, 251},      {501, 249, 252},
        {501, 250, 250},    {501, 250, 251}, {501, 251, 251},    {501, 251, 500},
        {501, 252, 499},    {501, 500, 501}, {501, 501, 501},    {501, 2, 500},
        {501, 0, 10},       {501, -300, 0},  {501, 0, 0},        {501, 495, 50000},
        {501, 502, 600},    {501, 300, 299}, {1, 1, 1},          {1, 0, 50000},
        {1, 2, 2},          {250, 250, 260}, {251, 250, 251},    {251, 251, 251},
        {500, 1, 500},      {500, 499, 500}, {2251, 1000, 1001}, {2251, 2001, 2251},
        {2251, 1750, 2001},
    };
    for (DatabaseEngine engine : enginesUnderTest())
        for (const auto &p : pages)
            QTest::addRow("%s, %lld lines, %lld to %lld", qPrintable(engineName(engine)), p.total,
                          p.from, p.to)
                << engine << p.total << p.from << p.to;
}

// A page holds exactly the lines asked for that the file has, whatever blocks they are in.
void TestLineBlocks::pagesSliceTheBlocks()
{
    QFETCH(DatabaseEngine, engine);
    QFETCH(qint64, total);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    static std::map<std::pair<DatabaseEngine, qint64>, QString> files;
    QString &file = files[{engine, total}];
    if (file.isEmpty())
        file = storeFile(engine, total);
    const QString difference =
        compareLines(readLines(db(engine), file, from, to), expectedLines(total, from, to));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineBlocks::blocksNotWholeAreErrors_data()
{
    addEngineColumn();
    QTest::addColumn<QByteArray>("sql"); // ?1 the file, ?2 and ?3 numbers
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<QString>("message");
    const struct
    {
        const char *name;
        const char *sql;
        qint64 a, b;
        const char *message;
    } faults[] = {
        {"a character short",
         "UPDATE BLOCOARQCOMPRALEG SET DSREGARQMAG = ?4"
         " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?2",
         251, 0, "tem 31499 caracteres, e não 31500 (250 linhas de 126)"},
        {"a line short",
         "UPDATE BLOCOARQCOMPRALEG SET NRLINHAS = ?2 WHERE NRSEQARQMAG = ?1"
         " AND NRORDREGARQ = ?3",
         101, 501, "tem 12600 caracteres, e não 12726 (101 linhas de 126)"},
        {"a line too many",
         "UPDATE BLOCOARQCOMPRALEG SET NRLINHAS = ?2 WHERE NRSEQARQMAG = ?1"
         " AND NRORDREGARQ = ?3",
         249, 251, "tem 31500 caracteres, e não 31374 (249 linhas de 126)"},
        {"more lines than a block",
         "UPDATE BLOCOARQCOMPRALEG SET NRLINHAS = ?2"
         " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?3",
         251, 251, "que começa na linha 251 diz ter 251 linhas; um bloco tem de 1 a 250"},
        {"no lines",
         "UPDATE BLOCOARQCOMPRALEG SET NRLINHAS = ?2 WHERE NRSEQARQMAG = ?1"
         " AND NRORDREGARQ = ?3",
         0, 251, "que começa na linha 251 diz ter 0 linhas"},
        {"missing block",
         "DELETE FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1"
         " AND NRORDREGARQ = ?2",
         251, 0, "Faltam no banco de dados as linhas 251 a 500 do arquivo"},
        {"overlapping blocks",
         "UPDATE BLOCOARQCOMPRALEG SET NRORDREGARQ = ?2"
         " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?3",
         240, 251, "guarda duas vezes as linhas 240 a 250 do arquivo"},
    };
    for (DatabaseEngine engine : enginesUnderTest())
        for (const auto &f : faults)
            QTest::addRow("%s, %s", qPrintable(engineName(engine)), f.name)
                << engine << QByteArray(f.sql) << f.a << f.b << QString::fromUtf8(f.message);
    // The compressed blocks SQLite keeps, damaged.
    const auto sqliteFault = [](const char *name, const char *sql, const char *message) {
        QTest::addRow("SQLite, %s", name) << DatabaseEngine::Sqlite << QByteArray(sql)
                                          << qint64(251) << qint64(0) << QString::fromUtf8(message);
    };
    if (enginesUnderTest().front() == DatabaseEngine::Sqlite) {
        sqliteFault("compressed bytes cut short",
                    "UPDATE BLOCOARQCOMPRALEG SET DSREGARQMAG = substr(DSREGARQMAG, 1, 100)"
                    " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?2",
                    "as linhas guardadas estão corrompidas");
        sqliteFault("bytes that are no compressed lines",
                    "UPDATE BLOCOARQCOMPRALEG SET DSREGARQMAG = zeroblob(200)"
                    " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ = ?2",
                    "que começa na linha 251 não se descomprime em até 250 linhas");
    }
}

// A block changed behind the server's back is a database error naming what is wrong, never a
// page of short, shifted or missing lines; the lines before it are read as ever.
void TestLineBlocks::blocksNotWholeAreErrors()
{
    QFETCH(DatabaseEngine, engine);
    QFETCH(QByteArray, sql);
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(QString, message);
    const QString file = storeFile(engine, 600);
    exec(engine, sql.constData(), file, a, b);
    QString error;
    try {
        readLines(db(engine), file, 200, 600);
    } catch (const DatabaseError &e) {
        error = e.message();
    }
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(error.contains(file), qPrintable(error));
    const QString difference =
        compareLines(readLines(db(engine), file, 1, 200), expectedLines(600, 1, 200));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineBlocks::linesOfAnotherLengthAreRefused_data()
{
    addEngineRows();
}

// Lines of another length could not be sliced back: refused before anything is stored.
void TestLineBlocks::linesOfAnotherLengthAreRefused()
{
    QFETCH(DatabaseEngine, engine);
    const QString file = storeFile(engine, 3);
    SqlConnection &c = db(engine);
    SqlTransaction tx(c, SqlTransaction::Kind::Write);
    lineblocks::BlockWriter writer(c, file, QString::fromLatin1(kList), kSequenceBase);
    const QByteArray text = linesText(1, 2);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.add(QByteArrayView(text).chopped(1)));
    QCOMPARE(writer.lines(), qint64(0));
}

void TestLineBlocks::storedCompressedWhereShorter_data()
{
    addEngineRows();
}

// SQLite keeps a block as its lines compressed when that is shorter and as text when it is not;
// the server engines keep text. Every line reads back as it was given, either way.
void TestLineBlocks::storedCompressedWhereShorter()
{
    QFETCH(DatabaseEngine, engine);
    const bool compresses = engine == DatabaseEngine::Sqlite;
    const QByteArray random = randomLines(300);
    for (const bool repeating : {true, false}) {
        const qint64 total = repeating ? 600 : 300;
        const QByteArray text = repeating ? linesText(1, total) : random;
        const QString file = storeLines(engine, text);
        const QList<std::pair<bool, qint64>> forms = storedForms(engine, file);
        QCOMPARE(forms.size(), (total + kBlock - 1) / kBlock);
        for (qsizetype i = 0; i < forms.size(); ++i) {
            const qint64 lines = std::min<qint64>(kBlock, total - i * kBlock);
            QCOMPARE(forms[i].first, compresses && repeating);
            if (forms[i].first)
                QVERIFY2(forms[i].second < lines * kRecordLength / 4,
                         qPrintable(QString::number(forms[i].second)));
            else
                QCOMPARE(forms[i].second, lines * kRecordLength);
        }
        std::vector<ReadLine> expected;
        for (qint64 n = 1; n <= total; ++n)
            expected.push_back(
                {n, text.sliced((n - 1) * kRecordLength, kRecordLength), kSequenceBase + n});
        const QString difference = compareLines(readLines(db(engine), file, 1, total), expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

QTEST_GUILESS_MAIN(TestLineBlocks)
#include "tst_lineblocks.moc"
