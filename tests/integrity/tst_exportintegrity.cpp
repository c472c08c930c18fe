// Faults in the middle of real exports - the server killed or stopped, the connection cut, the
// client killed, a full or read-only disk, concurrent and hostile clients - each run by the real
// fis11000-export against the real server, through a proxy that acts at an exact call. Every
// case ends with the database's flags checked invoice by invoice against the files delivered.
#include "integritysupport.h"
#include "rpcclient/netconnection.h"
#include "testsupport/faultproxy.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "rpcserver/rpcsession.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>

#include <unistd.h>

using namespace fis;
using namespace fis::test;

namespace {

constexpr int kInvoices = 1500;
constexpr quint64 kSeed = 20250520;

// Company 01, its whole demo period, pending and exported invoices: four files, one per
// registration, of several pages each at the servers' small page size.
QStringList exportArguments(const QString &config, const QString &output = QStringLiteral("COMPRA"))
{
    return {QStringLiteral("--config"),  config,
            QStringLiteral("--tax"),     QStringLiteral("01"),
            QStringLiteral("--company"), QStringLiteral("01"),
            QStringLiteral("--output"),  output,
            QStringLiteral("--from"),    QStringLiteral("2024-12-01"),
            QStringLiteral("--to"),      QStringLiteral("2025-05-20"),
            QStringLiteral("--status"),  QStringLiteral("both")};
}

const QStringList kSmallPages = {QStringLiteral("--page-size"), QStringLiteral("200")};

QStringList withLease(QStringList args, int seconds)
{
    return args << QStringLiteral("--lease") << QString::number(seconds);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Acts on the n-th GetRegistro of the run (1-based), page 2 of the first file when n is 2.
std::function<bool(const ProxiedCall &)> nthRegistro(int n)
{
    return [n](const ProxiedCall &c) {
        return c.method == u"GetRegistro" && c.ordinal == n;
    };
}

// Acts on the second page of the second file.
std::function<bool(const ProxiedCall &)> secondPageOfSecondFile()
{
    auto firstPages = std::make_shared<int>(0);
    auto pages = std::make_shared<int>(0);
    return [firstPages, pages](const ProxiedCall &c) {
        if (c.method != u"GetRegistro")
            return false;
        if (c.firstPage) {
            ++*firstPages;
            *pages = 1;
            return false;
        }
        return *firstPages == 2 && ++*pages == 2;
    };
}

bool mount(const QStringList &options, const QString &dir)
{
    return QProcess::execute(QStringLiteral("mount"),
                             QStringList{QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                         QStringLiteral("-o"), options.join(u','),
                                         QStringLiteral("tmpfs"), dir}) == 0;
}

void unmount(const QString &dir)
{
    QProcess::execute(QStringLiteral("umount"), {dir});
}

// The server gives the run's list up once its lease runs out; every flag is then as before the
// run but for the invoices of the files delivered.
void settledByTheLease(const TestDatabase &db, ServerProcess &server, const Flags &before)
{
    QVERIFY2(waitUntil([&] { return unsettledLists(db) == 0; }, 30000), qPrintable(server.log()));
    QVERIFY2(server.log().contains(QLatin1String("undone: no call within the lease")),
             qPrintable(server.log()));
    QCOMPARE(invoicesOnLists(db), 0);
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reportedInvoices(db, db.outputDir())),
             QStringList());
}

} // namespace

class TestExportIntegrity : public QObject
{
    Q_OBJECT

private slots:
    void serverKilled_data();
    void serverKilled();
    void serverStoppedIsGivenUpByTheLease();
    void connectionCutInTheMiddleOfAnAnswer();
    void clientKilledInTheMiddleOfAFile();
    void concurrentExportsReportEachInvoiceOnce_data();
    void concurrentExportsReportEachInvoiceOnce();
    void runsThatEndEarlyLeaveNoList();
    void deliveredListsCannotBeUndone();
    void onlyTheSessionThatTookAListMayUseIt();
    void fullDiskKeepsTheFilesBeforeIt();
    void readOnlyDirectoryWritesNothing();
};

void TestExportIntegrity::serverKilled_data()
{
    QTest::addColumn<int>("where");
    QTest::newRow("page 2 of the first file") << 0;
    QTest::newRow("page 2 of the second file") << 1;
}

void TestExportIntegrity::serverKilled()
{
    QFETCH(int, where);
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const QString out = db.outputDir();
    // An earlier export's file at the name the unfinished file would take.
    const QString earlier = QDir(out).filePath(where == 0 ? QStringLiteral("COMPRA_0001_.txt")
                                                          : QStringLiteral("COMPRA_0002_.txt"));
    {
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("an earlier export\r\n");
    }
    const Flags before = exportedFlags(db);

    auto server = std::make_unique<ServerProcess>(db.path(), out, kSmallPages);
    QVERIFY(server->isRunning());
    const qint64 pid = server->pid();
    FaultProxy proxy(server->port());
    const auto at = where == 0 ? nthRegistro(2) : secondPageOfSecondFile();
    proxy.onCall = [at, pid](const ProxiedCall &c) {
        if (at(c))
            ::kill(pid_t(pid), SIGKILL);
        return ProxyAction::Forward;
    };
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), proxy.port())));
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(QStringLiteral("fis11000-export: O servidor de aplicação")) ||
                 run.err().contains(QStringLiteral("fis11000-export: A conexão")),
             qPrintable(run.err()));

    // Files completed before stay, nothing of the unfinished one is left, and the earlier file
    // at its name is as it was.
    const QStringList delivered = run.out().split(u'\n', Qt::SkipEmptyParts);
    if (where == 0) {
        QCOMPARE(delivered, QStringList());
        QCOMPARE(filesIn(out), QStringList{QStringLiteral("COMPRA_0001_.txt")});
    } else {
        QCOMPARE(delivered, QStringList{QDir(out).filePath(QStringLiteral("COMPRA_0001_.txt"))});
        QCOMPARE(filesIn(out), (QStringList{QStringLiteral("COMPRA_0001_.txt"),
                                            QStringLiteral("COMPRA_0002_.txt")}));
    }
    QCOMPARE(readAll(earlier), QByteArray("an earlier export\r\n"));

    // A new server on the database gives up what the dead one left.
    server = std::make_unique<ServerProcess>(db.path(), out, kSmallPages);
    QVERIFY(server->isRunning());
    QVERIFY2(server->log().contains(QLatin1String("undone: its server is no longer running")),
             qPrintable(server->log()));
    QCOMPARE(unsettledLists(db), 0);
    QCOMPARE(invoicesOnLists(db), 0);
    const Reported reported = reportedInvoices(db, out);
    QCOMPARE(reported.invoices.isEmpty(), where == 0);
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reported), QStringList());

    // The same invoices export again, all of them.
    ExportCommand again(exportArguments(writeHostConfig(db.dirPath(), db.path(), server->port())));
    QVERIFY(again.finish());
    QCOMPARE(again.exitCode(), 0);
    const Reported all = reportedInvoices(db, out);
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), all), QStringList());
    const int selected = db.value(QStringLiteral("SELECT count(*) FROM NFCOMPRA WHERE CDEMPRESA ="
                                                 " '01' AND DTEMISSAO >= '2024-12-01'"
                                                 " AND DTEMISSAO < '2025-05-21'"))
                             .toInt();
    QCOMPARE(int(all.invoices.size()), selected);
}

void TestExportIntegrity::serverStoppedIsGivenUpByTheLease()
{
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    ServerProcess server(db.path(), db.outputDir(), withLease(kSmallPages, 2));
    QVERIFY(server.isRunning());
    const qint64 pid = server.pid();
    FaultProxy proxy(server.port());
    std::atomic<bool> stopped{false};
    proxy.onCall = [&stopped, pid](const ProxiedCall &c) {
        if (nthRegistro(2)(c)) {
            ::kill(pid_t(pid), SIGSTOP);
            stopped = true;
        }
        return ProxyAction::Forward;
    };
    auto resume = qScopeGuard([pid] { ::kill(pid_t(pid), SIGCONT); });
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), proxy.port()))
                      << QStringLiteral("--call-timeout") << QStringLiteral("2"));
    QVERIFY(run.finish(60000));
    QVERIFY(stopped);
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(QStringLiteral("não respondeu a tempo")), qPrintable(run.err()));
    QCOMPARE(filesIn(db.outputDir()), QStringList());

    // Woken up, the server finishes the call nobody waits for; the lease then gives the list up.
    ::kill(pid_t(pid), SIGCONT);
    settledByTheLease(db, server, before);
}

void TestExportIntegrity::connectionCutInTheMiddleOfAnAnswer()
{
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    ServerProcess server(db.path(), db.outputDir(), withLease(kSmallPages, 2));
    QVERIFY(server.isRunning());
    FaultProxy proxy(server.port());
    proxy.onAnswer = [](const ProxiedCall &c) {
        return nthRegistro(3)(c) ? ProxyAction::CutHalfway : ProxyAction::Forward;
    };
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), proxy.port())));
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(QStringLiteral("fechou a conexão")) ||
                 run.err().contains(QLatin1String("caiu")),
             qPrintable(run.err()));
    QCOMPARE(filesIn(db.outputDir()), QStringList());

    settledByTheLease(db, server, before);
}

void TestExportIntegrity::clientKilledInTheMiddleOfAFile()
{
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    ServerProcess server(db.path(), db.outputDir(), withLease(kSmallPages, 2));
    QVERIFY(server.isRunning());
    FaultProxy proxy(server.port());
    std::atomic<bool> held{false};
    proxy.onAnswer = [&held](const ProxiedCall &c) {
        if (!nthRegistro(2)(c))
            return ProxyAction::Forward;
        held = true;
        return ProxyAction::Hold;
    };
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), proxy.port())));
    QVERIFY(waitUntil([&] { return held.load(); }, 60000));
    // It has written page 1 of the first file and waits for page 2.
    QVERIFY2(run.errSoFar().contains(QStringLiteral("página 1")), qPrintable(run.errSoFar()));
    ::kill(pid_t(run.pid()), SIGKILL);
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), -1);
    QCOMPARE(filesIn(db.outputDir()), QStringList());

    settledByTheLease(db, server, before);
}

void TestExportIntegrity::concurrentExportsReportEachInvoiceOnce_data()
{
    QTest::addColumn<int>("runs");
    QTest::newRow("two alike") << 2;
    QTest::newRow("ten overlapping") << 10;
}

void TestExportIntegrity::concurrentExportsReportEachInvoiceOnce()
{
    QFETCH(int, runs);
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    ServerProcess server(db.path(), db.outputDir());
    QVERIFY(server.isRunning());
    // Every run has registered its list (or failed to) before any is served a page, so that
    // they all overlap while unfinished.
    FaultProxy proxy(server.port());
    std::atomic<bool> gateOpen{false};
    std::atomic<int> registered{0};
    proxy.onCall = [&gateOpen](const ProxiedCall &c) {
        return c.method == u"GetRegistro" && !gateOpen ? ProxyAction::Hold : ProxyAction::Forward;
    };
    proxy.onAnswer = [&registered](const ProxiedCall &c) {
        if (c.method == u"getNotasMarcadas")
            ++registered;
        return ProxyAction::Forward;
    };
    const QString config = writeHostConfig(db.dirPath(), db.path(), proxy.port());
    // Periods and branches that overlap in every way: the whole company, one branch, some months.
    const QList<QStringList> filters = {
        {},
        {QStringLiteral("--branch"), QStringLiteral("0001")},
        {QStringLiteral("--from"), QStringLiteral("2025-02-01")},
        {QStringLiteral("--branch"), QStringLiteral("0002"), QStringLiteral("--to"),
         QStringLiteral("2025-03-31")},
        {QStringLiteral("--status"), QStringLiteral("pending")},
    };
    std::vector<std::unique_ptr<ExportCommand>> commands;
    for (int i = 0; i < runs; ++i)
        commands.push_back(std::make_unique<ExportCommand>(
            exportArguments(config, QStringLiteral("RUN%1").arg(i)) +
            (runs == 2 ? QStringList() : filters.at(i % filters.size()))));
    QVERIFY(waitUntil([&] { return registered.load() == runs; }, 120000));
    gateOpen = true;
    proxy.release();

    int winners = 0;
    for (int i = 0; i < runs; ++i) {
        ExportCommand &run = *commands[size_t(i)];
        QVERIFY(run.finish());
        const QString name = QStringLiteral("RUN%1").arg(i);
        if (run.exitCode() == 0) {
            ++winners;
            QVERIFY(!run.out().isEmpty());
            continue;
        }
        // A loser is told which invoice another export holds, and leaves no file.
        QCOMPARE(run.exitCode(), 1);
        static const QRegularExpression refusal(QStringLiteral(
            "A nota fiscal \\S+ \\(filial \\d{4}, lançamento \\d+\\) já está em outra exportação"
            " em andamento"));
        QVERIFY2(refusal.match(run.err()).hasMatch(), qPrintable(run.err()));
        QVERIFY(run.err().indexOf(QLatin1String("lista")) < 0);
        QVERIFY2(QDir(db.outputDir()).entryList({name + QStringLiteral("_*")}).isEmpty(),
                 qPrintable(name));
    }
    QVERIFY(winners >= 1);
    if (runs == 2)
        QCOMPARE(winners, 1); // the same invoices: only one may have them

    // Nothing left behind: the losers' empty lists go when their connections end.
    QVERIFY2(waitUntil([&] { return unsettledLists(db) == 0 && invoicesOnLists(db) == 0; }, 30000),
             qPrintable(server.log()));
    const Reported reported = reportedInvoices(db, db.outputDir());
    QVERIFY(!reported.invoices.isEmpty());
    QCOMPARE(reported.records50, int(reported.invoices.size()));
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reported), QStringList());
}

void TestExportIntegrity::runsThatEndEarlyLeaveNoList()
{
    TestDatabase db(600, kSeed);
    QVERIFY(db.isValid());
    ServerProcess server(db.path(), db.outputDir());
    QVERIFY(server.isRunning());
    const QString config = writeHostConfig(db.dirPath(), db.path(), server.port());
    const QByteArray before = db.checksum();
    // Nothing selected: the run has taken a list number when it finds nothing marked.
    ExportCommand nothing(exportArguments(config)
                          << QStringLiteral("--nf") << QStringLiteral("987654321"));
    QVERIFY(nothing.finish());
    QCOMPARE(nothing.exitCode(), 3);
    // Refused at getNotasMarcadas: another session holds one of the invoices.
    auto holder = server.connect();
    const QString held = holder->call(QStringLiteral("GetLista")).toText();
    const QVariantList inv =
        db.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, CDINSCESTA FROM NFCOMPRA WHERE"
                               " CDEMPRESA = '01' AND DTEMISSAO >= '2024-12-01'"
                               " ORDER BY NRLANCTONF"))
            .first();
    holder->call(QStringLiteral("getNotasMarcadas"),
                 {RpcValue::fromPacket(listaPacket(held, {{inv[0].toString(), inv[1].toString()}},
                                                   {inv[2].toString()}))});
    ExportCommand refused(exportArguments(config));
    QVERIFY(refused.finish());
    QCOMPARE(refused.exitCode(), 1);
    QVERIFY2(refused.err().contains(QStringLiteral("já está em outra exportação")),
             qPrintable(refused.err()));
    QCOMPARE(holder->call(QStringLiteral("GetDeletaLista"), {held}).at(0).toText(),
             QStringLiteral("OK"));

    QVERIFY2(
        waitUntil(
            [&] {
                return db.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG")).toInt() == 0;
            },
            30000),
        qPrintable(server.log()));
    QCOMPARE(invoicesOnLists(db), 0);
    // Nothing else changed but the numbers handed out.
    db.exec(QStringLiteral("UPDATE SEQCOMPRALEG SET NRULTIMO = 0"));
    QCOMPARE(db.checksum(), before);
}

void TestExportIntegrity::deliveredListsCannotBeUndone()
{
    TestDatabase db(600, kSeed);
    QVERIFY(db.isValid());
    ServerProcess server(db.path(), db.outputDir(), withLease({}, 3));
    QVERIFY(server.isRunning());
    auto client = server.connect();

    // Two registrations of company 01, two pending invoices each.
    const auto exportList = [&](NetConnection &c, QStringList *registrations) {
        const QString list = c.call(QStringLiteral("GetLista")).toText();
        QList<QPair<QString, QString>> invoices;
        QStringList regs;
        for (const char *reg : {"052147836", "061258473"})
            for (const QVariantList &r :
                 db.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF FROM NFCOMPRA WHERE"
                                        " CDINSCESTA = ? AND IDNFCOMPRALEG = 'N'"
                                        " ORDER BY NRLANCTONF LIMIT 2"),
                         {QString::fromLatin1(reg)})) {
                invoices.append({r[0].toString(), r[1].toString()});
                regs << QString::fromLatin1(reg);
            }
        c.call(QStringLiteral("getNotasMarcadas"),
               {RpcValue::fromPacket(listaPacket(list, invoices, regs))});
        *registrations = {QStringLiteral("052147836"), QStringLiteral("061258473")};
        for (const QString &reg : std::as_const(*registrations)) {
            RegistroCall call;
            call.list = list;
            call.registration = reg;
            fetchFile(c, call);
        }
        return std::make_pair(list, invoices);
    };
    const auto flagOf = [&](const QPair<QString, QString> &inv) {
        return db
            .value(QStringLiteral("SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = ? AND"
                                  " NRLANCTONF = ?"),
                   {inv.first, inv.second})
            .toString();
    };

    // Delivered, and the client reports it could not write the last file: that file's invoices
    // go back, the first file's stay exported.
    QStringList regs;
    auto [first, invoices] = exportList(*client, &regs);
    QCOMPARE(client->call(QStringLiteral("GetDeletaLista"), {first}).at(0).toText(),
             QStringLiteral("OK"));
    QCOMPARE(flagOf(invoices[0]), QStringLiteral("S"));
    QCOMPARE(flagOf(invoices[1]), QStringLiteral("S"));
    QCOMPARE(flagOf(invoices[2]), QStringLiteral("N"));
    QCOMPARE(flagOf(invoices[3]), QStringLiteral("N"));

    // Delivered, then the session began another export: final.
    auto [second, moreInvoices] = exportList(*client, &regs);
    client->call(QStringLiteral("GetLista"));
    QCOMPARE(
        client->call(QStringLiteral("GetDeletaLista"), {second}).at(0).toText(),
        QStringLiteral("A lista %1 já foi entregue e não pode mais ser excluída.").arg(second));
    for (const auto &inv : std::as_const(moreInvoices))
        QCOMPARE(flagOf(inv), QStringLiteral("S"));

    // Delivered, then nothing for longer than the lease: final.
    auto other = server.connect();
    auto [third, lastInvoices] = exportList(*other, &regs);
    QVERIFY2(waitUntil([&] { return unsettledLists(db) == 0; }, 30000), qPrintable(server.log()));
    QCOMPARE(other->call(QStringLiteral("GetDeletaLista"), {third}).at(0).toText(),
             QStringLiteral("A lista %1 já foi entregue e não pode mais ser excluída.").arg(third));
    for (const auto &inv : std::as_const(lastInvoices))
        QCOMPARE(flagOf(inv), QStringLiteral("S"));
    // A final list keeps its record but no longer holds its invoices.
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF WHERE NRLISTA IN"
                                     " (?, ?)"),
                      {second, third})
                 .toInt(),
             0);
}

void TestExportIntegrity::onlyTheSessionThatTookAListMayUseIt()
{
    TestDatabase db(600, kSeed);
    QVERIFY(db.isValid());
    const QStringList tinyPages = {QStringLiteral("--page-size"), QStringLiteral("5")};
    ServerProcess server(db.path(), db.outputDir(), tinyPages);
    QVERIFY(server.isRunning());
    auto owner = server.connect();
    auto stranger = server.connect();
    // List numbers apart from file numbers, so that a message naming one is told from the other.
    stranger->call(QStringLiteral("GetLista"));
    stranger->call(QStringLiteral("GetLista"));

    const QString list = owner->call(QStringLiteral("GetLista")).toText();
    const QVariantList inv =
        db.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, CDINSCESTA FROM NFCOMPRA WHERE"
                               " CDEMPRESA = '01' AND IDNFCOMPRALEG = 'N' ORDER BY DTEMISSAO"))
            .first();
    const QByteArray packet =
        listaPacket(list, {{inv[0].toString(), inv[1].toString()}}, {inv[2].toString()});
    // Another session can neither fill, serve nor delete it, and learns nothing of it.
    const QString notFound = QStringLiteral("Lista %1 não encontrada.").arg(list);
    QCOMPARE(rpcErrorOf([&] {
                 stranger->call(QStringLiteral("getNotasMarcadas"), {RpcValue::fromPacket(packet)});
             }),
             notFound);
    owner->call(QStringLiteral("getNotasMarcadas"), {RpcValue::fromPacket(packet)});
    RegistroCall call;
    call.list = list;
    call.registration = inv[2].toString();
    const QByteArray before = db.checksum();
    RegistroCall theirs = call;
    QCOMPARE(getRegistro(*stranger, theirs).status, notFound);
    QCOMPARE(stranger->call(QStringLiteral("GetDeletaLista"), {list}).at(0).toText(), notFound);
    for (const QString &guess : {QStringLiteral("0000000000"), QStringLiteral("0000000009"),
                                 QStringLiteral("9999999999"), QStringLiteral("1")})
        QCOMPARE(stranger->call(QStringLiteral("GetDeletaLista"), {guess}).at(0).toText(),
                 QStringLiteral("Lista %1 não encontrada.").arg(guess));
    QCOMPARE(db.checksum(), before);

    // Its first page served to the owner, the next ones stay the owner's too: the continuation
    // is unknown to anyone else, with nothing said of whose it is.
    const RegistroPage page = getRegistro(*owner, call);
    QCOMPARE(page.status, QStringLiteral("OK"));
    QCOMPARE(page.more, QStringLiteral("S"));
    call.continuation = page.continuation;
    call.first = call.last + 1;
    call.last += 50000;
    theirs = call;
    const QString refused = rpcErrorOf([&] { getRegistro(*stranger, theirs); });
    QVERIFY2(
        refused.startsWith(QStringLiteral("Continuação %1 desconhecida").arg(page.continuation)),
        qPrintable(refused));
    QVERIFY(!refused.contains(list));
    QVERIFY(!refused.contains(inv[2].toString()));
    // A stranger who copies the owner's session key is the owner: the key is the credential,
    // and the server keeps only its digest.
    QVERIFY(db.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG WHERE CDSESSAO = ?"),
                     {owner->sessionKey()})
                .toInt() == 0);
    QCOMPARE(
        db.value(QStringLiteral("SELECT CDSESSAO FROM LISTACOMPRALEG WHERE NRLISTA = ?"), {list})
            .toString(),
        RpcSession::sessionDigest(testClientName(), owner->sessionKey()));
    // A second server on the database serves the owner's next page.
    ServerProcess second(db.path(), db.outputDir(), tinyPages);
    QVERIFY(second.isRunning());
    auto sameSession = second.connect();
    sameSession->setSessionKey(owner->sessionKey());
    sameSession->close();
    sameSession->open();
    const RegistroPage next = getRegistro(*sameSession, call);
    QCOMPARE(next.status, QStringLiteral("OK"));
    QVERIFY(!next.lines.isEmpty());
}

void TestExportIntegrity::fullDiskKeepsTheFilesBeforeIt()
{
    if (::geteuid() != 0)
        QSKIP("mounting a small file system for the output needs root");
    // The first file's size, from an export of the same data into an ordinary directory.
    qint64 firstFile = 0;
    {
        TestDatabase twin(kInvoices, kSeed);
        ServerProcess server(twin.path(), twin.outputDir());
        QVERIFY(server.isRunning());
        ExportCommand run(
            exportArguments(writeHostConfig(twin.dirPath(), twin.path(), server.port())));
        QVERIFY(run.finish());
        QCOMPARE(run.exitCode(), 0);
        firstFile =
            QFileInfo(QDir(twin.outputDir()).filePath(QStringLiteral("COMPRA_0001_.txt"))).size();
        QVERIFY(firstFile > 0);
    }
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    const QString out = db.outputDir();
    if (!mount({QStringLiteral("size=%1k").arg(firstFile / 1024 + 24)}, out))
        QSKIP("this machine refuses to mount a small file system for the output");
    auto unmountAtEnd = qScopeGuard([out] { unmount(out); });
    ServerProcess server(db.path(), out, kSmallPages);
    QVERIFY(server.isRunning());
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), server.port())));
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(
                 QStringLiteral("Não foi possível gravar o arquivo %1: No space left on device.")
                     .arg(QDir(out).filePath(QStringLiteral("COMPRA_0002_.txt")))),
             qPrintable(run.err()));
    QCOMPARE(filesIn(out), QStringList{QStringLiteral("COMPRA_0001_.txt")});
    QCOMPARE(QFileInfo(QDir(out).filePath(QStringLiteral("COMPRA_0001_.txt"))).size(), firstFile);
    QCOMPARE(unsettledLists(db), 0);
    const Reported reported = reportedInvoices(db, out);
    QVERIFY(!reported.invoices.isEmpty());
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reported), QStringList());
}

void TestExportIntegrity::readOnlyDirectoryWritesNothing()
{
    if (::geteuid() != 0)
        QSKIP("mounting a read-only file system for the output needs root");
    TestDatabase db(kInvoices, kSeed);
    QVERIFY(db.isValid());
    const Flags before = exportedFlags(db);
    const QString out = db.outputDir();
    if (!mount({QStringLiteral("ro"), QStringLiteral("size=64k")}, out))
        QSKIP("this machine refuses to mount a read-only file system for the output");
    auto unmountAtEnd = qScopeGuard([out] { unmount(out); });
    ServerProcess server(db.path(), out, kSmallPages);
    QVERIFY(server.isRunning());
    ExportCommand run(exportArguments(writeHostConfig(db.dirPath(), db.path(), server.port())));
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(QStringLiteral("Não foi possível criar o arquivo %1")
                                    .arg(QDir(out).filePath(QStringLiteral("COMPRA_0001_.txt")))),
             qPrintable(run.err()));
    QVERIFY2(run.err().contains(QLatin1String("Read-only file system")), qPrintable(run.err()));
    QCOMPARE(filesIn(out), QStringList());
    QCOMPARE(unsettledLists(db), 0);
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reportedInvoices(db, out)),
             QStringList());
}

QTEST_GUILESS_MAIN(TestExportIntegrity)
#include "tst_exportintegrity.moc"
