// The application server on PostgreSQL and Firebird against the same server on SQLite: the same
// scripted calls on the same demo data give the same answers, the same files and the same
// exported flags, row by row; several servers on one database serve one export together.

#include "sqldb/sqldatabase.h"
#include "testsupport/enginedatabase.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include <QThread>
#include <QtTest>

#include <memory>

using namespace fis;
using namespace fis::test;

namespace {

constexpr int kInvoices = 2000;

// Everything a run left that can be compared between engines.
struct Run
{
    QStringList answers;              // one line per call
    QMap<QString, QStringList> files; // by state registration
};

QString rowText(const DataRow &row)
{
    QStringList cells;
    for (const QVariant &v : row)
        cells << (v.isNull() ? QStringLiteral("<null>") : v.toString());
    return cells.join(u'|');
}

QString packetText(const DataPacket &packet)
{
    QStringList lines;
    for (const DataRow &row : packet.rows)
        lines << rowText(row);
    return QStringLiteral("%1 rows: ").arg(packet.rows.size()) + lines.join(u';');
}

// The database's invoices with their exported flag, in key order.
QStringList flagsOf(const DatabaseTarget &target)
{
    const std::unique_ptr<SqlConnection> db = openSqlDatabase(target);
    SqlStatement q(*db, "SELECT CDFILIAL, NRLANCTONF, IDNFCOMPRALEG FROM NFCOMPRA"
                        " ORDER BY CDFILIAL, NRLANCTONF");
    QStringList out;
    while (q.step())
        out << q.text(0) + u'/' + q.text(1) + u'=' + q.text(2);
    return out;
}

// The marked-list rows (branch, posting) and registrations of a GetNotaFiscal packet.
struct Marked
{
    QList<QPair<QString, QString>> invoices;
    QStringList registrations;
};

Marked firstOf(const DataPacket &packet, int count)
{
    const int branch = fieldIndex(packet, QStringLiteral("CDFILIAL"));
    const int posting = fieldIndex(packet, QStringLiteral("NRLANCTONF"));
    const int registration = fieldIndex(packet, QStringLiteral("CDINSCESTA"));
    Marked marked;
    for (const DataRow &row : packet.rows) {
        if (marked.invoices.size() == count)
            break;
        marked.invoices.append({row[branch].toString(), row[posting].toString()});
        marked.registrations << row[registration].toString();
    }
    return marked;
}

// Registers the invoices on a new list; returns the list and the files' registrations.
QString registerList(NetConnection &c, const Marked &marked, QStringList *registrations,
                     QStringList *answers = nullptr)
{
    const QString list = c.call(QStringLiteral("GetLista")).toText();
    const RpcValue files =
        c.call(QStringLiteral("getNotasMarcadas"),
               {RpcValue::fromPacket(listaPacket(list, marked.invoices, marked.registrations))});
    const DataPacket packet = decodePacket(files.toPacket());
    for (const DataRow &row : packet.rows)
        *registrations << row[0].toString();
    if (answers)
        *answers << QStringLiteral("list ") + list << packetText(packet);
    return list;
}

// The criteria of GetNotaFiscal that the run tries, each a change to the defaults.
QList<NotaFilter> criteriaTried()
{
    QList<NotaFilter> all;
    all << NotaFilter{};
    NotaFilter pending;
    pending.status = QStringLiteral("N");
    pending.start = QDate(2025, 5, 1);
    pending.end = QDate(2025, 5, 20);
    all << pending;
    NotaFilter lists;
    lists.status = QStringLiteral("S");
    lists.operations = QStringLiteral("'E01','E02','S06'");
    lists.series = QStringLiteral("'E1','S1','EU'");
    all << lists;
    NotaFilter narrow;
    narrow.branch = QStringLiteral("0002");
    narrow.stateReg = QStringLiteral("061258473");
    narrow.municipalReg = QStringLiteral("3120458");
    narrow.minimum = 1000;
    all << narrow;
    NotaFilter other;
    other.company = QStringLiteral("02");
    other.status = QStringLiteral("N");
    all << other;
    return all;
}

// One export as the screen runs it, with calls the server refuses on the way.
Run scriptedRun(NetConnection &c)
{
    Run run;
    run.answers << c.call(QStringLiteral("GetDiretorio")).at(0).toText();
    for (NotaFilter filter : criteriaTried())
        run.answers << packetText(getNotaFiscal(c, filter));
    // An invoice's number typed with zeros in front, and its client's registration.
    NotaFilter all;
    const DataPacket every = getNotaFiscal(c, all);
    const DataRow &some = every.rows.at(every.rows.size() / 2);
    NotaFilter number;
    number.number =
        QStringLiteral("000") + some[fieldIndex(every, QStringLiteral("NRNOTAFISC"))].toString();
    run.answers << packetText(getNotaFiscal(c, number));
    NotaFilter client;
    client.client = some[fieldIndex(every, QStringLiteral("CLIENTE"))]
                        .toString()
                        .section(QStringLiteral(" - "), 0, 0)
                        .remove(u'.')
                        .remove(u'/')
                        .remove(u'-');
    run.answers << packetText(getNotaFiscal(c, client));
    NotaFilter bad;
    bad.status = QStringLiteral("X");
    run.answers << rpcErrorOf([&] { getNotaFiscal(c, bad); });

    NotaFilter pending = criteriaTried().at(1);
    const Marked marked = firstOf(getNotaFiscal(c, pending), 150);
    QStringList registrations;
    const QString list = registerList(c, marked, &registrations, &run.answers);
    run.answers << rpcErrorOf([&] {
        c.call(QStringLiteral("getNotasMarcadas"),
               {RpcValue::fromPacket(listaPacket(list, marked.invoices, marked.registrations))});
    });
    for (const QString &registration : std::as_const(registrations)) {
        RegistroCall call;
        call.list = list;
        call.registration = registration;
        int pages = 0;
        run.files[registration] = fetchFile(c, call, &pages);
        run.answers << QStringLiteral("%1: %2 pages").arg(registration).arg(pages);
    }
    RegistroCall unknown;
    unknown.list = QStringLiteral("999999");
    unknown.registration = registrations.value(0);
    run.answers << getRegistro(c, unknown).status;
    run.answers
        << c.call(QStringLiteral("GetDeletaLista"), {QStringLiteral("999999")}).at(0).toText();
    return run;
}

// Branch 000 gets an invoice whose key is also that of one of branch 0001: "000" + "1000000000"
// reads as "0001" + "000000000", which is made an invoice of 0001 as well.
void addKeyOfTwoBranches(const DatabaseTarget &target)
{
    const std::unique_ptr<SqlConnection> db = openSqlDatabase(target);
    SqlTransaction tx(*db, SqlTransaction::Kind::Write);
    db->exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, DTPROCESSAMENTO)"
             " VALUES ('000', 'PREFIXO', '01', '2025-01-01')");
    constexpr char kColumns[] =
        " IDENTRSAIDOP, CDTIPOOPER, CDSERIE, NRNOTAFISC, DTEMISSAO, VRNOTAFISC, CDCLIENTE,"
        " CDINSCESTA, CDINSCMUNI, IDNFCOMPRALEG, NRCFOP, CDMODELONF, VRBASEICMS, VRICMS,"
        " VRISENTO, VROUTRAS, PCALIQICMS, IDSITUACAO";
    for (const char *key : {"'000', '1000000000'", "'0001', '000000000'"}) {
        const QByteArray sql =
            QByteArray("INSERT INTO NFCOMPRA (CDFILIAL, NRLANCTONF, CDEMPRESA,") + kColumns +
            ") SELECT " + key + ", CDEMPRESA," + kColumns +
            " FROM NFCOMPRA WHERE CDFILIAL = '0001'"
            " AND NRLANCTONF = '0000000001'";
        db->exec(sql.constData());
    }
    tx.commit();
}

// What the server answers to marked lists it must refuse: a key of two branches, an unknown
// key, a branch code alone, an invoice of another company among the others' (each on a list of
// its own, with invoices that are fine around it), then a good list, and the same list from
// another client while it is unfinished.
QStringList markedListAnswers(NetConnection &c, NetConnection &another)
{
    NotaFilter pending;
    pending.status = QStringLiteral("N");
    const Marked fine = firstOf(getNotaFiscal(c, pending), 40);
    NotaFilter other;
    other.company = QStringLiteral("02");
    const Marked ofAnother = firstOf(getNotaFiscal(c, other), 1);
    QStringList answers;
    const QList<QPair<QString, QString>> odd = {
        {QStringLiteral("000"), QStringLiteral("1000000000")},
        {QStringLiteral("0001"), QStringLiteral("99999")},
        {QStringLiteral("0001"), QString()},
        ofAnother.invoices.value(0)};
    for (const auto &key : odd) {
        Marked list = fine;
        list.invoices.insert(20, key);
        list.registrations.insert(20, QString());
        const QString number = c.call(QStringLiteral("GetLista")).toText();
        answers << rpcErrorOf([&] {
            c.call(QStringLiteral("getNotasMarcadas"),
                   {RpcValue::fromPacket(listaPacket(number, list.invoices, list.registrations))});
        });
    }
    QStringList registrations;
    registerList(c, fine, &registrations, &answers);
    const QString again = another.call(QStringLiteral("GetLista")).toText();
    answers << rpcErrorOf([&] {
        another.call(QStringLiteral("getNotasMarcadas"),
                     {RpcValue::fromPacket(listaPacket(again, fine.invoices, fine.registrations))});
    });
    return answers;
}

// A client of the server on `port`; with `sessionKey`, of the same session as another client.
std::unique_ptr<NetConnection> connectTo(quint16 port, const QString &sessionKey = {})
{
    auto c = std::make_unique<NetConnection>();
    c->setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    c->setHost(QStringLiteral("127.0.0.1"));
    c->setPort(port);
    useTestClient(*c);
    if (!sessionKey.isEmpty())
        c->setSessionKey(sessionKey);
    c->open();
    return c;
}

void addEngineRows()
{
    QTest::addColumn<DatabaseEngine>("engine");
    QTest::newRow("postgresql") << DatabaseEngine::PostgreSql;
    QTest::newRow("firebird") << DatabaseEngine::Firebird;
}

} // namespace

class TestServerEngines : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameAnswersFilesAndFlags_data() { addEngineRows(); }
    void sameAnswersFilesAndFlags();
    void guardRestoresTheSameFlags_data() { addEngineRows(); }
    void guardRestoresTheSameFlags();
    void twoServersServeOneExport_data() { addEngineRows(); }
    void twoServersServeOneExport();
    void tenClientsOnTwoServers();
    void serverKilledWhileBuildingLosesNothing_data() { addEngineRows(); }
    void serverKilledWhileBuildingLosesNothing();
    void markedListFaultsAsOnSqlite_data() { addEngineRows(); }
    void markedListFaultsAsOnSqlite();
    void itemsInOrderWhateverThePlan();

private:
    void sameAsOnSqlite(const Run &run);
    QTemporaryDir m_out;
    std::unique_ptr<TestDatabase> m_sqlite;
    Run m_sqliteRun;
    QStringList m_sqliteFlags;
};

void TestServerEngines::initTestCase()
{
    QVERIFY(m_out.isValid());
    m_sqlite = std::make_unique<TestDatabase>(kInvoices);
    QVERIFY(m_sqlite->isValid());
    ServerProcess server(m_sqlite->path(), m_sqlite->outputDir());
    QVERIFY(server.isRunning());
    m_sqliteRun = scriptedRun(*server.connect());
    m_sqliteFlags = flagsOf(DatabaseTarget::parse(m_sqlite->path()));
    QVERIFY(!m_sqliteRun.files.isEmpty());
    // Every call answered something, the refused ones their error text.
    for (const QString &answer : std::as_const(m_sqliteRun.answers))
        QVERIFY2(!answer.isEmpty() && !answer.startsWith(u"0 rows"), qPrintable(answer.left(200)));
}

// The same answers and files as the scripted run on SQLite.
void TestServerEngines::sameAsOnSqlite(const Run &run)
{
    QCOMPARE(run.answers, m_sqliteRun.answers);
    QCOMPARE(run.files.keys(), m_sqliteRun.files.keys());
    for (auto it = run.files.cbegin(); it != run.files.cend(); ++it)
        QVERIFY2(it.value() == m_sqliteRun.files.value(it.key()), qPrintable(it.key()));
}

void TestServerEngines::sameAnswersFilesAndFlags()
{
    QFETCH(DatabaseEngine, engine);
    SeededEngineDatabase db(engine, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    ServerProcess server(db.target().toString(), m_out.path());
    QVERIFY(server.isRunning());
    sameAsOnSqlite(scriptedRun(*server.connect()));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(flagsOf(db.target()), m_sqliteFlags);
}

// Half a run, then the failure guard's GetDeletaLista: the delivered first file's invoices stay
// exported, every other flag is what it was before, the same as on SQLite.
void TestServerEngines::guardRestoresTheSameFlags()
{
    QFETCH(DatabaseEngine, engine);
    SeededEngineDatabase db(engine, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    TestDatabase sqlite(kInvoices);
    QVERIFY(sqlite.isValid());
    const DatabaseTarget sqliteTarget = DatabaseTarget::parse(sqlite.path());
    const QStringList before = flagsOf(db.target());
    QCOMPARE(flagsOf(sqliteTarget), before);

    QStringList afterOn[2];
    QString delivered;
    Marked marked;
    for (int side = 0; side < 2; ++side) {
        ServerProcess server(side ? db.target().toString() : sqlite.path(), m_out.path());
        QVERIFY(server.isRunning());
        const auto client = server.connect();
        NotaFilter all;
        marked = firstOf(getNotaFiscal(*client, all), 400);
        QStringList registrations;
        const QString list = registerList(*client, marked, &registrations);
        QVERIFY(registrations.size() >= 2);
        RegistroCall first;
        first.list = list;
        first.registration = delivered = registrations.at(0);
        fetchFile(*client, first);
        RegistroCall second = first;
        second.registration = registrations.at(1);
        second.last = 10; // one short page: the file is built, its invoices marked
        QVERIFY(!getRegistro(*client, second).lines.isEmpty());
        QCOMPARE(client->call(QStringLiteral("GetDeletaLista"), {list}).at(0).toText(),
                 QStringLiteral("OK"));
        afterOn[side] = flagsOf(side ? db.target() : sqliteTarget);
    }
    QStringList expected = before;
    for (qsizetype i = 0; i < marked.invoices.size(); ++i) {
        if (marked.registrations[i] != delivered)
            continue;
        const QString key = marked.invoices[i].first + u'/' + marked.invoices[i].second + u'=';
        for (QString &flag : expected)
            if (flag.startsWith(key))
                flag = key + u'S';
    }
    QCOMPARE(afterOn[1], afterOn[0]);
    QCOMPARE(afterOn[1], expected);
}

void TestServerEngines::twoServersServeOneExport()
{
    QFETCH(DatabaseEngine, engine);
    SeededEngineDatabase db(engine, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    const QStringList small = {QStringLiteral("--page-size"), QStringLiteral("97")};
    ServerProcess a(db.target().toString(), m_out.path(), small);
    ServerProcess b(db.target().toString(), m_out.path(), small);
    QVERIFY(a.isRunning() && b.isRunning());
    // One client's session on both servers, as behind a load balancer.
    const auto ca = a.connect();
    const auto cb = connectTo(b.port(), ca->sessionKey());
    NotaFilter pending = criteriaTried().at(1);
    const Marked marked = firstOf(getNotaFiscal(*ca, pending), 150);
    QStringList registrations;
    const QString list = registerList(*ca, marked, &registrations);
    QCOMPARE(registrations, m_sqliteRun.files.keys());
    // Pages asked of one server and the other in turn.
    for (const QString &registration : std::as_const(registrations)) {
        RegistroCall call;
        call.list = list;
        call.registration = registration;
        call.last = 97;
        QStringList lines;
        for (int page = 0;; ++page) {
            const RegistroPage answer = getRegistro(page % 2 ? *cb : *ca, call);
            QCOMPARE(answer.status, QStringLiteral("OK"));
            lines += answer.lines;
            if (answer.more != u"S")
                break;
            if (page == 0)
                call.continuation = answer.continuation;
            call.first = call.last + 1;
            call.last = call.last + 97;
        }
        QVERIFY2(lines == m_sqliteRun.files.value(registration), qPrintable(registration));
    }
}

// Ten clients at once, each on one of two servers, each exporting invoices of its own: distinct
// list numbers, every file what one client alone gets.
void TestServerEngines::tenClientsOnTwoServers()
{
    SeededEngineDatabase db(DatabaseEngine::PostgreSql, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    ServerProcess a(db.target().toString(), m_out.path());
    ServerProcess b(db.target().toString(), m_out.path());
    QVERIFY(a.isRunning() && b.isRunning());
    NotaFilter all;
    const DataPacket invoices = getNotaFiscal(*a.connect(), all);
    constexpr int kClients = 10;
    QList<Marked> parts(kClients);
    const Marked every = firstOf(invoices, 600);
    for (qsizetype i = 0; i < every.invoices.size(); ++i) {
        parts[i % kClients].invoices << every.invoices[i];
        parts[i % kClients].registrations << every.registrations[i];
    }
    QList<QString> lists(kClients);
    QList<QMap<QString, QStringList>> files(kClients);
    QList<QString> failures(kClients);
    QList<QThread *> threads;
    for (int i = 0; i < kClients; ++i) {
        const quint16 port = (i % 2 ? b : a).port();
        threads << QThread::create([&, i, port] {
            try {
                const auto client = connectTo(port);
                NetConnection &c = *client;
                QStringList registrations;
                lists[i] = registerList(c, parts[i], &registrations);
                for (const QString &registration : std::as_const(registrations)) {
                    RegistroCall call;
                    call.list = lists[i];
                    call.registration = registration;
                    files[i][registration] = fetchFile(c, call);
                }
            } catch (const std::exception &e) {
                failures[i] = QString::fromUtf8(e.what());
            }
        });
        threads.last()->start();
    }
    for (QThread *t : std::as_const(threads)) {
        QVERIFY(t->wait(120000));
        delete t;
    }
    for (int i = 0; i < kClients; ++i)
        QVERIFY2(failures[i].isEmpty(), qPrintable(failures[i]));
    QCOMPARE(QSet<QString>(lists.cbegin(), lists.cend()).size(), kClients);
    // Each client's files against the same invoices exported alone on SQLite.
    TestDatabase alone(kInvoices);
    ServerProcess sqlite(alone.path(), alone.outputDir());
    const auto c = sqlite.connect();
    for (int i = 0; i < kClients; ++i) {
        QStringList registrations;
        const QString list = registerList(*c, parts[i], &registrations);
        for (const QString &registration : std::as_const(registrations)) {
            RegistroCall call;
            call.list = list;
            call.registration = registration;
            QVERIFY2(fetchFile(*c, call) == files[i].value(registration),
                     qPrintable(QStringLiteral("client %1, %2").arg(i).arg(registration)));
        }
    }
}

// The file's state right after its server died: either nothing of the build (no line, no flag
// changed) or all of it (every line counted, every invoice of the file exported).
QString halfWritten(const DatabaseTarget &target, const QStringList &before, const Marked &marked,
                    const QString &registration)
{
    const std::unique_ptr<SqlConnection> db = openSqlDatabase(target);
    SqlStatement lines(*db, "SELECT coalesce(sum(B.NRLINHAS), 0) FROM BLOCOARQCOMPRALEG B"
                            " JOIN ARQCOMPRALEG A ON A.NRSEQARQMAG = B.NRSEQARQMAG"
                            " WHERE A.CDINSCESTA = ?1");
    lines.bind(1, registration);
    lines.step();
    const qint64 stored = lines.integer(0);
    SqlStatement counted(*db, "SELECT NRTOTREGISTROS FROM ARQCOMPRALEG WHERE CDINSCESTA = ?1");
    counted.bind(1, registration);
    const bool built = counted.step() && !counted.isNull(0);
    const qint64 total = built ? counted.integer(0) : 0;
    const QStringList now = flagsOf(target);
    int marks = 0;
    int changed = 0;
    for (qsizetype i = 0; i < marked.invoices.size(); ++i) {
        if (marked.registrations[i] != registration)
            continue;
        const QString key = marked.invoices[i].first + u'/' + marked.invoices[i].second + u'=';
        ++marks;
        for (qsizetype f = 0; f < now.size(); ++f)
            if (now[f].startsWith(key))
                changed += now[f] == key + u'S' ? 1 : 0;
    }
    const bool nothing = stored == 0 && !built && now == before;
    const bool all = built && stored == total && total > 0 && changed == marks;
    return nothing || all ? QString()
                          : QStringLiteral("lines %1, counted %2, flags set %3 of %4")
                                .arg(stored)
                                .arg(total)
                                .arg(changed)
                                .arg(marks);
}

// SIGKILL while the first page of a large file is being built, then a new server: what the dead
// one left is all or nothing, and the new one undoes the list so that every flag is as before.
void TestServerEngines::serverKilledWhileBuildingLosesNothing()
{
    QFETCH(DatabaseEngine, engine);
    SeededEngineDatabase db(engine, 20000);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    const QStringList before = flagsOf(db.target());
    Marked marked;
    QString registration;
    {
        // Short pages: a file built is not served whole, so its lines stay to be counted.
        ServerProcess server(db.target().toString(), m_out.path(),
                             {QStringLiteral("--page-size"), QStringLiteral("100")});
        QVERIFY(server.isRunning());
        const auto client = server.connect();
        NotaFilter pending;
        pending.status = QStringLiteral("N");
        marked = firstOf(getNotaFiscal(*client, pending), 20000);
        QStringList registrations;
        const QString list = registerList(*client, marked, &registrations);
        registration = registrations.at(0);
        // The call from a connection of its own thread, in the same session.
        const QString session = client->sessionKey();
        const quint16 port = server.port();
        QThread *call = QThread::create([&] {
            try {
                const auto caller = connectTo(port, session);
                RegistroCall first;
                first.list = list;
                first.registration = registration;
                getRegistro(*caller, first);
            } catch (const std::exception &) {
                // The server died under the call, as intended.
            }
        });
        call->start();
        QTest::qWait(150);
        server.process().kill();
        QVERIFY(server.process().waitForFinished(10000));
        QVERIFY(call->wait(30000));
        delete call;
    }
    const QString left = halfWritten(db.target(), before, marked, registration);
    QVERIFY2(left.isEmpty(), qPrintable(left));
    ServerProcess next(db.target().toString(), m_out.path());
    QVERIFY(next.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(flagsOf(db.target()), before, 20000);
    const std::unique_ptr<SqlConnection> check = openSqlDatabase(db.target());
    SqlStatement lists(*check, "SELECT count(*) FROM LISTACOMPRALEG");
    QVERIFY(lists.step());
    QCOMPARE(lists.integer(0), qint64(0));
}

// The marked list is looked up key by key on SQLite and all at once on PostgreSQL: the faults
// found in it, and a good list, get the same answers.
// PostgreSQL is told to hash its joins and each invoice's items lie in the table last first: the
// items pass then gets an invoice's items in any order, and the files must still be SQLite's.
void TestServerEngines::itemsInOrderWhateverThePlan()
{
    SeededEngineDatabase db(DatabaseEngine::PostgreSql, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    {
        const std::unique_ptr<SqlConnection> c = openSqlDatabase(db.target());
        c->exec("CREATE TEMPORARY TABLE ITENS AS SELECT * FROM NFCOMPRAITEM;"
                "DELETE FROM NFCOMPRAITEM;"
                "INSERT INTO NFCOMPRAITEM SELECT * FROM ITENS"
                " ORDER BY CDFILIAL, NRLANCTONF, NRITEM DESC;");
        const QByteArray name = db.target().database.toUtf8();
        c->exec(QByteArray("ALTER DATABASE " + name + " SET enable_nestloop = off").constData());
        c->exec(QByteArray("ALTER DATABASE " + name + " SET enable_mergejoin = off").constData());
        // As stored, every invoice's items come back last first.
        SqlStatement stored(*c, "SELECT CDFILIAL || '/' || NRLANCTONF, NRITEM FROM NFCOMPRAITEM");
        QString invoice;
        qint64 previous = 0;
        int ascending = 0, descending = 0;
        while (stored.step()) {
            if (stored.text(0) == invoice)
                ++(stored.integer(1) < previous ? descending : ascending);
            invoice = stored.text(0);
            previous = stored.integer(1);
        }
        QCOMPARE(ascending, 0);
        QVERIFY(descending > 1000);
    }
    ServerProcess server(db.target().toString(), m_out.path());
    QVERIFY(server.isRunning());
    sameAsOnSqlite(scriptedRun(*server.connect()));
}

void TestServerEngines::markedListFaultsAsOnSqlite()
{
    QFETCH(DatabaseEngine, engine);
    TestDatabase sqlite(kInvoices);
    QVERIFY(sqlite.isValid());
    addKeyOfTwoBranches(DatabaseTarget::parse(sqlite.path()));
    QStringList expected;
    {
        ServerProcess server(sqlite.path(), sqlite.outputDir());
        QVERIFY(server.isRunning());
        expected = markedListAnswers(*server.connect(), *server.connect());
    }
    QVERIFY2(expected.at(0).contains(QStringLiteral("mais de uma filial")),
             qPrintable(expected.at(0)));
    QVERIFY2(expected.at(1).contains(QStringLiteral("não encontrada")), qPrintable(expected.at(1)));
    QVERIFY2(expected.at(3).contains(QStringLiteral("empresa 02")), qPrintable(expected.at(3)));
    QVERIFY2(expected.constLast().contains(QStringLiteral("outra exportação")),
             qPrintable(expected.constLast()));

    SeededEngineDatabase db(engine, kInvoices);
    QVERIFY2(db.isValid(), qPrintable(db.error()));
    try {
        addKeyOfTwoBranches(db.target());
    } catch (const Error &e) {
        QFAIL(qPrintable(e.message()));
    }
    ServerProcess server(db.target().toString(), m_out.path());
    QVERIFY(server.isRunning());
    QStringList got;
    try {
        got = markedListAnswers(*server.connect(), *server.connect());
    } catch (const std::exception &e) {
        QFAIL(e.what());
    }
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(TestServerEngines)
#include "tst_serverengines.moc"
