// The export run against a scripted server: what it sends, in which order, what it writes, and
// how it cleans up after every kind of failure.
#include "compralegal/exportrun.h"
#include "testsupport/scriptedexportserver.h"
#include "testsupport/testclient.h"

#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "rpcclient/netconnection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace fis;
using namespace fis::compralegal;
using namespace fis::test;

namespace {

class TestHost : public ExportRunHost
{
public:
    void showWait() override
    {
        shown = true;
        events << QStringLiteral("show");
    }
    void hideWait() override
    {
        shown = false;
        events << QStringLiteral("hide");
    }
    void progress(const ExportProgress &p) override { progresses << p; }
    void reloadInvoices() override
    {
        events << QStringLiteral("reload");
        if (onReload)
            onReload();
    }

    bool shown = false;
    QStringList events;
    QList<ExportProgress> progresses;
    std::function<void()> onReload;
};

QStringList numbered(const QString &prefix, int count, int from = 1)
{
    QStringList lines;
    for (int i = from; i < from + count; ++i)
        lines << QStringLiteral("%1%2").arg(prefix).arg(i, 6, 10, QLatin1Char('0'));
    return lines;
}

QByteArray crlf(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_ExportRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void baseNames_data();
    void baseNames();
    void argumentsAndLastFileFlag_data();
    void argumentsAndLastFileFlag();
    void pagesFollowTheBoundsTheServerLeaves();
    void zeroFilesSucceedAndLeaveNothingForTheNextRun();
    void existingFileIsReplaced();
    void collectsMarkedInvoicesOncePerRegistration();
    void noInvoiceMarkedAfterDirectoryAndList();
    void directoryChecks_data();
    void directoryChecks();
    void directoryTextGetsItsSlash();
    void errorOnFirstPageRunsTheGuard();
    void failureInSecondFileKeepsTheFirstAndSendsTheListNumber();
    void failureOnFollowUpPageLeavesNoFileAndKeepsTheOldOne();
    void connectionClosedInTheMiddleOfAFile();
    void unsafeNamesFailBeforeWriting_data();
    void unsafeNamesFailBeforeWriting();
    void linesOutsideLatin1FailNamingFileAndLine();
    void guardAnswerErrorIsKeptForAfterTheFailure();
    void pageWrittenBeforeTheReloadWhichComesAlsoOnAFailure();

private:
    QList<WrittenFile> run(const QString &typed = QStringLiteral("ARQ.TXT"));
    // Runs expecting a failure of type E; returns its message.
    template<typename E> QString runFails(const QString &typed = QStringLiteral("ARQ.TXT"));
    void addInvoice(const QString &branch, const QString &posting, const QString &inscricao,
                    const QString &status = QStringLiteral("C"));
    QString out(const QString &name) const { return m_dir->filePath(name); }
    QStringList filesInDir() const { return QDir(m_dir->path()).entryList(QDir::Files); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedExportServer> m_server;
    std::unique_ptr<NetConnection> m_connection;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<RunTables> m_tables;
    std::optional<QString> m_guardFailure; // of the last run()
    MemTable *m_notas = nullptr, *m_lista = nullptr, *m_arquivos = nullptr, *m_registros = nullptr;
};

void tst_ExportRun::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<ScriptedExportServer>();
    m_server->script.dirPath = m_dir->path();
    m_server->script.outputDir = m_dir->path() + u'/';
    m_server->script.files = {
        {QStringLiteral("111"), QStringLiteral("0001"), {numbered(QStringLiteral("L"), 3)}}};
    m_connection = std::make_unique<NetConnection>();
    m_connection->setServerName(serverObjectName());
    m_connection->setHost(QStringLiteral("127.0.0.1"));
    m_connection->setPort(m_server->port());
    useTestClient(*m_connection);
    m_connection->open();
    m_host = std::make_unique<TestHost>();
    m_tables = std::make_unique<RunTables>();
    m_notas = &m_tables->notaFiscal;
    m_lista = &m_tables->lista;
    m_arquivos = &m_tables->arquivos;
    m_registros = &m_tables->registros;
    m_notas->createDataSet();
    addInvoice(QStringLiteral("0001"), QStringLiteral("10"), QStringLiteral("111"));
}

void tst_ExportRun::cleanup()
{
    m_connection.reset();
    m_server.reset();
    m_dir.reset();
}

QList<WrittenFile> tst_ExportRun::run(const QString &typed)
{
    ExportRun exportRun(*m_connection, m_tables->tables(), *m_host);
    ExportRunInput input;
    input.empresa = QStringLiteral("01");
    input.imposto = QStringLiteral("02");
    input.nomeArquivo = typed;
    input.inicio = QDate(2025, 5, 1);
    input.fim = QDate(2025, 5, 20);
    m_guardFailure.reset();
    try {
        return exportRun.run(input);
    } catch (...) {
        m_guardFailure = exportRun.guardFailure();
        throw;
    }
}

template<typename E> QString tst_ExportRun::runFails(const QString &typed)
{
    try {
        run(typed);
    } catch (const E &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("<no failure>");
}

void tst_ExportRun::addInvoice(const QString &branch, const QString &posting,
                               const QString &inscricao, const QString &status)
{
    m_notas->append();
    m_notas->setValue(QStringLiteral("IDSTATUS"), status);
    m_notas->setValue(QStringLiteral("CDFILIAL"), branch);
    m_notas->setValue(QStringLiteral("NRLANCTONF"), posting);
    m_notas->setValue(QStringLiteral("CDINSCESTA"), inscricao);
    m_notas->post();
}

void tst_ExportRun::baseNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("baseSent");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("name and extension") << "ARQ.TXT"
                                        << "ARQ"
                                        << "ARQ_0001_.txt";
    QTest::newRow("no dot") << "ARQ"
                            << "ARQ"
                            << "ARQ_0001_.txt";
    QTest::newRow("only an extension") << ".TXT"
                                       << ""
                                       << "_0001_.txt";
    QTest::newRow("two dots") << "A.B.C"
                              << "A"
                              << "A_0001_.txt";
    QTest::newRow("sixteen characters") << "ABCDEFGHIJKLMNOP"
                                        << "ABCDEFGHIJKLMNOP"
                                        << "ABCDEFGHIJKLMNOP_0001_.txt";
}

void tst_ExportRun::baseNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, baseSent);
    QFETCH(QString, fileName);
    const QList<WrittenFile> files = run(typed);
    QCOMPARE(files.size(), 1);
    QCOMPARE(files.first().path, out(fileName));
    QCOMPARE(files.first().lines, 3);
    QCOMPARE(readAll(out(fileName)), crlf(numbered(QStringLiteral("L"), 3)));
    QCOMPARE(filesInDir(), QStringList{fileName});
    // The base sent is the typed text before the first dot.
    QCOMPARE(m_server->callsOf(QStringLiteral("GetRegistro")).first().args.at(0).toText(),
             baseSent);
}

void tst_ExportRun::argumentsAndLastFileFlag_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QStringList>("flags");
    QTest::newRow("three files") << 3 << QStringList{"I", "I", "F"};
    QTest::newRow("one file") << 1 << QStringList{"F"};
}

void tst_ExportRun::argumentsAndLastFileFlag()
{
    QFETCH(int, files);
    QFETCH(QStringList, flags);
    m_server->script.files.clear();
    for (int i = 1; i <= files; ++i) {
        const QString insc = QStringLiteral("IE%1").arg(i);
        m_server->script.files << ScriptedFile{
            insc, QStringLiteral("000%1").arg(i), {numbered(insc, 2)}};
        addInvoice(QStringLiteral("0002"), QString::number(i), insc);
    }
    // The server renames the first file's base; the next file starts from the typed name again.
    m_server->script.onRegistro = [](RpcArgs &args, int file, int) {
        if (file == 0)
            args.set(0, QStringLiteral("NOVO"));
    };
    const QList<WrittenFile> written = run(QStringLiteral("BASE.TXT"));
    QCOMPARE(written.size(), files);
    QCOMPARE(written.first().path, out(QStringLiteral("NOVO_0001_.txt")));
    if (files > 1)
        QCOMPARE(written.at(1).path, out(QStringLiteral("BASE_0002_.txt")));

    const QList<RecordedCall> calls = m_server->callsOf(QStringLiteral("GetRegistro"));
    QCOMPARE(calls.size(), files);
    for (int i = 0; i < files; ++i) {
        const QList<RpcValue> &a = calls.at(i).args;
        QCOMPARE(a.size(), 12);
        QCOMPARE(calls.at(i).byRef, (QList<qsizetype>{0, 5, 7, 8, 10, 11}));
        QCOMPARE(a.at(0).toText(), QStringLiteral("BASE"));
        QCOMPARE(a.at(1).toText(), QStringLiteral("01"));
        QCOMPARE(a.at(2).toText(), QStringLiteral("02"));
        QVERIFY(a.at(3).isDate());
        QCOMPARE(a.at(3).toDateTime().date(), QDate(2025, 5, 1));
        QCOMPARE(a.at(4).toDateTime().date(), QDate(2025, 5, 20));
        QCOMPARE(a.at(5).toText(), QString());
        QCOMPARE(a.at(6).toText(), QStringLiteral("S"));
        QCOMPARE(a.at(7).toDouble(), 0.0);
        QCOMPARE(a.at(8).toDouble(), 50000.0);
        QCOMPARE(a.at(9).toText(), QStringLiteral("IE%1").arg(i + 1));
        QCOMPARE(a.at(10).toText(), flags.at(i));
        QCOMPARE(a.at(11).toText(), QStringLiteral("17"));
    }
    QVERIFY(!m_host->shown);
    QVERIFY(m_lista->isEmpty());
}

void tst_ExportRun::pagesFollowTheBoundsTheServerLeaves()
{
    const QStringList first = numbered(QStringLiteral("P1-"), 4);
    const QStringList second = numbered(QStringLiteral("P2-"), 2);
    const QStringList third = {QStringLiteral("última linha com ç e   espaços  ")};
    m_server->script.files = {
        {QStringLiteral("111"), QStringLiteral("0001"), {first, second, third}}};
    m_server->script.onRegistro = [](RpcArgs &args, int, int page) {
        if (page == 0)
            args.set(8, 1200.0);
    };
    int emptyAtReload = 0;
    m_host->onReload = [&] {
        if (m_registros->isOpen() && m_registros->isEmpty())
            ++emptyAtReload;
    };
    run();

    const QList<RecordedCall> calls = m_server->callsOf(QStringLiteral("GetRegistro"));
    QCOMPARE(calls.size(), 3);
    const auto bounds = [&](int i) {
        return qMakePair(calls.at(i).args.at(7).toDouble(), calls.at(i).args.at(8).toDouble());
    };
    QCOMPARE(bounds(0), qMakePair(0.0, 50000.0));
    QCOMPARE(bounds(1), qMakePair(1201.0, 51200.0));
    QCOMPARE(bounds(2), qMakePair(51201.0, 101200.0));
    // The continuation text of the first answer goes with the next page; after that, what the
    // server leaves in the argument.
    QCOMPARE(calls.at(1).args.at(5).toText(), QStringLiteral("cont-0-0"));
    QCOMPARE(calls.at(2).args.at(5).toText(), QStringLiteral("cont-0-0"));
    // Lines unchanged, pages in order, ISO-8859-1, CR LF.
    QByteArray expected = crlf(first) + crlf(second);
    expected += QByteArray("\xfaltima linha com \xe7 e   espa\xe7os  \r\n");
    QCOMPARE(readAll(out(QStringLiteral("ARQ_0001_.txt"))), expected);
    // Each page is written and dropped before the list is reloaded, so the page table is empty
    // at every reload (and each follow-up page starts from it empty); one reload per call.
    QCOMPARE(emptyAtReload, 3);
    QCOMPARE(m_host->events.count(QStringLiteral("reload")), 3);
    QCOMPARE(m_server->callsOf(QStringLiteral("GetNotaFiscal")).size(), 0); // the host reloads
    // Progress names the file, the page and the lines so far.
    const ExportProgress last = m_host->progresses.constLast();
    QCOMPARE(last.stage, ExportProgress::Stage::Written);
    QCOMPARE(last.page, 3);
    QCOMPARE(last.lines, 7);
    QCOMPARE(last.fileName, QStringLiteral("ARQ_0001_.txt"));
}

void tst_ExportRun::zeroFilesSucceedAndLeaveNothingForTheNextRun()
{
    m_server->script.files.clear();
    QVERIFY(run().isEmpty());
    QVERIFY(filesInDir().isEmpty());
    QVERIFY(!m_host->shown);
    m_server->reset();
    run();
    // The second run sends only its own rows.
    const QList<RecordedCall> lists = m_server->callsOf(QStringLiteral("getNotasMarcadas"));
    QCOMPARE(lists.size(), 1);
    QCOMPARE(decodePacket(lists.first().args.at(0).toPacket()).rows.size(), size_t(1));
}

void tst_ExportRun::existingFileIsReplaced()
{
    {
        QFile old(out(QStringLiteral("ARQ_0001_.txt")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(10000, 'x'));
    }
    run();
    QCOMPARE(readAll(out(QStringLiteral("ARQ_0001_.txt"))), crlf(numbered(QStringLiteral("L"), 3)));
    QCOMPARE(filesInDir(), QStringList{QStringLiteral("ARQ_0001_.txt")});
}

void tst_ExportRun::collectsMarkedInvoicesOncePerRegistration()
{
    addInvoice(QStringLiteral("0001"), QStringLiteral("11"), QStringLiteral("abc"));
    addInvoice(QStringLiteral("0002"), QStringLiteral("12"), QStringLiteral("ABC"));
    addInvoice(QStringLiteral("0001"), QStringLiteral("13"), QStringLiteral("999"),
               QStringLiteral("U"));
    addInvoice(QStringLiteral("0001"), QStringLiteral("14"), QStringLiteral("888"),
               QStringLiteral("S"));
    addInvoice(QStringLiteral("0003"), QStringLiteral("15"), QStringLiteral("111"));
    int rowMoves = 0;
    int resets = 0;
    connect(m_notas, &MemTable::currentRowChanged, this, [&] { ++rowMoves; });
    connect(m_notas, &MemTable::tableReset, this, [&] { ++resets; });
    run();
    const QList<RecordedCall> lists = m_server->callsOf(QStringLiteral("getNotasMarcadas"));
    QCOMPARE(lists.size(), 1);
    const DataPacket packet = decodePacket(lists.first().args.at(0).toPacket());
    QStringList rows;
    for (const DataRow &r : packet.rows)
        rows << r.at(0).toString() + u'|' + r.at(1).toString() + u'|' + r.at(2).toString();
    QCOMPARE(rows, (QStringList{"17|000110|111", "17|000111|abc", "17|000212|", "17|000315|"}));
    // The bytes are those the list's table saves: later registrations are null, not empty.
    MemTable saved;
    saved.setFields(listaFields());
    saved.createDataSet();
    for (const auto &[key, inscricao] : {std::pair{"000110", "111"},
                                         {"000111", "abc"},
                                         {"000212", nullptr},
                                         {"000315", nullptr}}) {
        saved.append();
        saved.setValue(QStringLiteral("NRLISTA"), QStringLiteral("17"));
        saved.setValue(QStringLiteral("CDLISTA"), QString::fromLatin1(key));
        saved.setValue(QStringLiteral("CDINSCESTA"), QString::fromLatin1(inscricao));
        saved.post();
    }
    QCOMPARE(lists.first().args.at(0).toPacket(), saved.saveToPacket());
    // The views were suspended while the list was walked: one reset, and the only row move is
    // back to the first row after the file ...
    QCOMPARE(resets, 1);
    QCOMPARE(rowMoves, 1);
    // ... and the marked list is empty once the file is done.
    QVERIFY(m_lista->isOpen());
    QVERIFY(m_lista->isEmpty());
}

void tst_ExportRun::noInvoiceMarkedAfterDirectoryAndList()
{
    m_notas->emptyDataSet();
    addInvoice(QStringLiteral("0001"), QStringLiteral("10"), QStringLiteral("111"),
               QStringLiteral("U"));
    try {
        run();
        QFAIL("the run went on without marked invoices");
    } catch (const ExportRunError &e) {
        QCOMPARE(e.kind(), ExportRunError::Kind::NoInvoiceMarked);
    }
    QCOMPARE(m_server->methods(), (QStringList{"GetDiretorio", "GetLista"}));
    QVERIFY(!m_host->shown);

    // A closed list collects nothing either.
    m_server->reset();
    m_notas->close();
    QCOMPARE(runFails<ExportRunError>(), QString());
    QCOMPARE(m_server->methods(), (QStringList{"GetDiretorio", "GetLista"}));
}

void tst_ExportRun::directoryChecks_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    const int invalid = int(ExportRunError::Kind::DirectoryInvalid);
    const int server = int(ExportRunError::Kind::ServerMessage);
    QTest::newRow("Dir_Inv answer") << "Dir_Inv" << true << invalid << "";
    QTest::newRow("missing directory") << "OK" << false << invalid << "";
    QTest::newRow("other text") << "Servidor ocupado" << true << server << "Servidor ocupado";
    QTest::newRow("other text, missing directory") << "Servidor ocupado" << false << invalid << "";
}

void tst_ExportRun::directoryChecks()
{
    QFETCH(QString, status);
    QFETCH(bool, exists);
    QFETCH(int, kind);
    QFETCH(QString, message);
    m_server->script.dirStatus = status;
    if (!exists)
        m_server->script.dirPath = m_dir->filePath(QStringLiteral("nao-existe"));
    try {
        run();
        QFAIL("the run went on");
    } catch (const ExportRunError &e) {
        QCOMPARE(int(e.kind()), kind);
        if (!message.isEmpty())
            QCOMPARE(e.message(), message);
    }
    QCOMPARE(m_server->methods(), QStringList{"GetDiretorio"});
    QVERIFY(!m_host->shown);
    QVERIFY(filesInDir().isEmpty());
}

void tst_ExportRun::directoryTextGetsItsSlash()
{
    m_server->script.outputDir = m_dir->path();
    QCOMPARE(run().first().path, out(QStringLiteral("ARQ_0001_.txt")));
    QVERIFY(QFile::exists(out(QStringLiteral("ARQ_0001_.txt"))));

    // No directory at all is a failure of the file, not a file at the root.
    m_server->reset();
    m_server->script.outputDir.clear();
    const QString message = runFails<ExportRunError>();
    QVERIFY2(message.contains(QStringLiteral("diretório")), qPrintable(message));
    QCOMPARE(m_server->callsOf(QStringLiteral("GetDeletaLista")).size(), 1);
}

void tst_ExportRun::errorOnFirstPageRunsTheGuard()
{
    m_server->script.files.first().status = QStringLiteral("Registro inválido na nota 10");
    try {
        run();
        QFAIL("the run went on");
    } catch (const ExportRunError &e) {
        QCOMPARE(e.kind(), ExportRunError::Kind::ServerMessage);
        QCOMPARE(e.message(), QStringLiteral("Registro inválido na nota 10"));
    }
    // Reloaded after the page, then the guard with the run's list number.
    QVERIFY(m_host->events.contains(QStringLiteral("reload")));
    QCOMPARE(m_server->methods().mid(3), (QStringList{"GetRegistro", "GetDeletaLista"}));
    QVERIFY(!m_guardFailure);
    const QList<RecordedCall> deletes = m_server->callsOf(QStringLiteral("GetDeletaLista"));
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first().args, QList<RpcValue>{QStringLiteral("17")});
    QVERIFY(m_lista->isEmpty());
    QVERIFY(!m_host->shown);
    QVERIFY(filesInDir().isEmpty());
}

void tst_ExportRun::failureInSecondFileKeepsTheFirstAndSendsTheListNumber()
{
    m_server->script.files << ScriptedFile{QStringLiteral("222"),
                                           QStringLiteral("0002"),
                                           {numbered(QStringLiteral("X"), 2)},
                                           QStringLiteral("Falha no arquivo 2")};
    addInvoice(QStringLiteral("0001"), QStringLiteral("20"), QStringLiteral("222"));
    // The server moves the list number on the first call; that one is the run's from then on.
    m_server->script.onRegistro = [](RpcArgs &args, int file, int) {
        if (file == 0)
            args.set(11, QStringLiteral("18"));
    };
    QCOMPARE(runFails<ExportRunError>(), QStringLiteral("Falha no arquivo 2"));
    QCOMPARE(m_server->callsOf(QStringLiteral("GetRegistro")).at(1).args.at(11).toText(),
             QStringLiteral("18"));
    const QList<RecordedCall> deletes = m_server->callsOf(QStringLiteral("GetDeletaLista"));
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first().args, QList<RpcValue>{QStringLiteral("18")});
    QCOMPARE(readAll(out(QStringLiteral("ARQ_0001_.txt"))), crlf(numbered(QStringLiteral("L"), 3)));
    QCOMPARE(filesInDir(), QStringList{QStringLiteral("ARQ_0001_.txt")});
    QVERIFY(m_lista->isEmpty());
}

void tst_ExportRun::failureOnFollowUpPageLeavesNoFileAndKeepsTheOldOne()
{
    m_server->script.files = {
        {QStringLiteral("111"),
         QStringLiteral("0001"),
         {numbered(QStringLiteral("A"), 5), numbered(QStringLiteral("B"), 5)}}};
    m_server->script.onRegistro = [](RpcArgs &, int, int page) {
        if (page == 1)
            throw RpcError(QStringLiteral("Tabela de registros indisponível."));
    };
    {
        QFile old(out(QStringLiteral("ARQ_0001_.txt")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("arquivo do mês anterior\r\n");
    }
    QCOMPARE(runFails<RpcError>(), QStringLiteral("Tabela de registros indisponível."));
    QCOMPARE(readAll(out(QStringLiteral("ARQ_0001_.txt"))),
             QByteArray("arquivo do mês anterior\r\n"));
    QCOMPARE(filesInDir(), QStringList{QStringLiteral("ARQ_0001_.txt")}); // no temporary left
    QCOMPARE(m_server->callsOf(QStringLiteral("GetDeletaLista")).size(), 1);
    QVERIFY(!m_host->shown);
}

void tst_ExportRun::connectionClosedInTheMiddleOfAFile()
{
    m_server->script.files = {
        {QStringLiteral("111"),
         QStringLiteral("0001"),
         {numbered(QStringLiteral("A"), 5), numbered(QStringLiteral("B"), 5)}}};
    bool dropped = false;
    m_host->onReload = [&] {
        if (!dropped) {
            dropped = true;
            m_server->dropClients();
        }
    };
    try {
        run();
        QFAIL("the run went on without its server");
    } catch (const RpcError &e) {
        // The failure shown is the lost server, not the guard's own attempt.
        QVERIFY(e.kind() == RpcError::Kind::ConnectFailed ||
                e.kind() == RpcError::Kind::ConnectionLost);
    }
    QVERIFY(filesInDir().isEmpty());
    QVERIFY(m_lista->isEmpty());
    QVERIFY(!m_host->shown);
}

void tst_ExportRun::unsafeNamesFailBeforeWriting_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("part");
    QTest::newRow("separator in the typed name") << "sub/ARQ"
                                                 << "0001";
    QTest::newRow("backslash in the typed name") << "x\\ARQ"
                                                 << "0001";
    QTest::newRow("parent in the name part") << "ARQ"
                                             << "../../x";
    QTest::newRow("separator in the name part") << "ARQ"
                                                << "a/b";
}

void tst_ExportRun::unsafeNamesFailBeforeWriting()
{
    QFETCH(QString, typed);
    QFETCH(QString, part);
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("sub")));
    m_server->script.files.first().nome = part;
    try {
        run(typed);
        QFAIL("the run wrote outside its directory");
    } catch (const ExportRunError &e) {
        QCOMPARE(e.kind(), ExportRunError::Kind::UnsafeName);
    }
    QVERIFY(filesInDir().isEmpty());
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("sub"))).isEmpty());
    QVERIFY(QDir(m_dir->path() + QStringLiteral("/..")).entryList({"*_.txt"}).isEmpty());
    QCOMPARE(m_server->callsOf(QStringLiteral("GetDeletaLista")).size(), 1);
}

void tst_ExportRun::linesOutsideLatin1FailNamingFileAndLine()
{
    QStringList second = numbered(QStringLiteral("B"), 3);
    second[1] = QStringLiteral("valor em € não cabe");
    m_server->script.files = {{QStringLiteral("111"),
                               QStringLiteral("0001"),
                               {numbered(QStringLiteral("A"), 2), second}}};
    const QString message = runFails<ExportRunError>();
    QVERIFY2(message.contains(QStringLiteral("ARQ_0001_.txt")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("linha 4")), qPrintable(message));
    QVERIFY(filesInDir().isEmpty());
}

void tst_ExportRun::guardAnswerErrorIsKeptForAfterTheFailure()
{
    m_server->script.files.first().status = QStringLiteral("Erro");
    m_server->script.deleteAnswer = QStringLiteral("Lista não apagada");
    // The failure itself is what the run throws; the guard's refusal is kept to be shown after
    // it, and the guard still finishes its work.
    QCOMPARE(runFails<ExportRunError>(), QStringLiteral("Erro"));
    QCOMPARE(m_guardFailure, std::optional<QString>(QStringLiteral("Lista não apagada")));
    QVERIFY(m_lista->isEmpty());
    QVERIFY(!m_host->shown);
    QVERIFY(filesInDir().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ExportRun)
// A page is on disk (in the file's temporary) before the list is reloaded, so that the page and
// both lists of the reload are never held at once; when the file cannot be made, the list is
// still reloaded before the failure is told, as when the file came after the reload.
void tst_ExportRun::pageWrittenBeforeTheReloadWhichComesAlsoOnAFailure()
{
    m_server->script.files = {
        {QStringLiteral("111"),
         QStringLiteral("0001"),
         {numbered(QStringLiteral("A"), 3), numbered(QStringLiteral("B"), 2)}}};
    // What the run had written when the list was reloaded, and whether it still held a page.
    QList<qint64> writtenAtReload;
    m_host->onReload = [&] {
        const ExportProgress &last = m_host->progresses.constLast();
        writtenAtReload << (last.stage == ExportProgress::Stage::Written ? last.lines : -1);
        QVERIFY(m_registros->isEmpty());
    };
    run();
    QCOMPARE(writtenAtReload, (QList<qint64>{3, 5}));
    QCOMPARE(readAll(out(QStringLiteral("ARQ_0001_.txt"))),
             crlf(numbered(QStringLiteral("A"), 3) + numbered(QStringLiteral("B"), 2)));

    // The directory the server names is a file: nothing can be created in it.
    m_server->reset();
    m_host->events.clear();
    m_host->onReload = {};
    const QString notADirectory = out(QStringLiteral("plain"));
    {
        QFile plain(notADirectory);
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    m_server->script.files = {
        {QStringLiteral("111"), QStringLiteral("0001"), {numbered(QStringLiteral("A"), 3)}}};
    m_server->script.outputDir = notADirectory + u'/';
    const QString message = runFails<ExportRunError>();
    QVERIFY2(message.contains(QStringLiteral("Não foi possível criar o arquivo")),
             qPrintable(message));
    QCOMPARE(m_host->events.count(QStringLiteral("reload")), 1);
    QCOMPARE(m_server->callsOf(QStringLiteral("GetDeletaLista")).size(), 1);
    QVERIFY(m_lista->isEmpty());
}

#include "tst_exportrun.moc"
