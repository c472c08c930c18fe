// fis11000-export run as a process: against the real server its files equal the screen's for
// the same invoices; bad options, a server that is not there and a failing file each end with a
// clear message and their exit status.
#include "contracts/compralegalcontract.h"
#include "export_screen/cli_fis11000.h"
#include "exportscreendriver.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/hostconfig.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "testsupport/demohost.h"
#include "testsupport/paths.h"
#include "testsupport/scriptedexportserver.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Without a config home of its own, the command gets an empty one: the tester's own
// ~/.config/fis11000 must not change what a test sees.
Result runCommand(const QStringList &arguments, const QString &workDir = {},
                  const QString &configHome = {})
{
    static const QTemporaryDir emptyHome;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"),
               configHome.isEmpty() ? emptyHome.path() : configHome);
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(binDir() + QStringLiteral("/fis11000-export"), arguments);
    process.closeWriteChannel();
    Result r;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        r.err = QStringLiteral("<timed out>");
        return r;
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

// Name -> bytes of every file in a folder.
QMap<QString, QByteArray> contents(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir).entryList(QDir::Files)) {
        QFile file(QDir(dir).filePath(name));
        if (file.open(QIODevice::ReadOnly))
            files.insert(name, file.readAll());
    }
    return files;
}

DataRow invoice(const QString &branch, const QString &posting, const QString &inscricao)
{
    DataRow row(compralegal::notaFiscalFields().size());
    row[0] = QStringLiteral("E");
    row[1] = QStringLiteral("N");
    row[2] = QStringLiteral("U");
    row[3] = branch;
    row[5] = posting;
    row[10] = inscricao;
    return row;
}

} // namespace

class tst_ExportCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void filesEqualTheScreensForTheSameInvoices();
    void chosenInvoicesOnlyAndOptionsFromTheConfig_data();
    void chosenInvoicesOnlyAndOptionsFromTheConfig();
    void withoutConfigTheUsersFileAndTheWorkingFoldersAreRead();
    void badOptions_data();
    void badOptions();
    void serverNotRunning();
    void failureInTheMiddleRunsTheGuardAndLeavesNoPartialFile();

private:
    QStringList base() const
    {
        return {QStringLiteral("--config"),  m_config,
                QStringLiteral("--tax"),     QStringLiteral("01"),
                QStringLiteral("--company"), QStringLiteral("01")};
    }

    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    QString m_config;
    QString m_fifo;
    // A copy of the demo database as it was before any export, with its own server.
    QTemporaryDir m_twin;
    std::unique_ptr<ServerProcess> m_twinServer;
};

void tst_ExportCommand::initTestCase()
{
    m_host = std::make_unique<DemoHost>(400);
    QVERIFY(m_host->isValid());
    QVERIFY(QFile::copy(m_host->databasePath(), m_twin.filePath(QStringLiteral("demo.sqlite"))));
    QVERIFY(QDir(m_twin.path()).mkpath(QStringLiteral("out")));
    m_server = std::make_unique<ServerProcess>(m_host->databasePath(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_twinServer = std::make_unique<ServerProcess>(m_twin.filePath(QStringLiteral("demo.sqlite")),
                                                   m_twin.filePath(QStringLiteral("out")));
    QVERIFY(m_twinServer->isRunning());
    m_host->setServerPort(m_server->port());
    m_config = m_host->writeConfig(m_server->port());
    m_fifo = m_twin.filePath(QStringLiteral("host.fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(m_fifo).constData(), 0600) == 0);
}

void tst_ExportCommand::cleanupTestCase()
{
    m_twinServer.reset();
    m_server.reset();
    m_host.reset();
}

void tst_ExportCommand::filesEqualTheScreensForTheSameInvoices()
{
    // The screen: default criteria, every pending invoice marked by the title click, Export.
    {
        RecordingPresenter presenter;
        TfrmCompraLegalBA screen;
        frmCompraLegalBA = &screen;
        fillHeader(screen, QStringLiteral("MAIO.TXT"));
        screen.show();
        QVERIFY(exportAllPending(screen) > 0);
        QCOMPARE(presenter.errors(), QStringList());
        QCOMPARE(presenter.informations(),
                 QStringList{QStringLiteral("Exportação foi concluída com sucesso.")});
        delete frmFiltroCompraLEGALBA;
        frmCompraLegalBA = nullptr;
    }
    // The demo's pending invoices of May fall on four registrations: four files, numbered.
    const QStringList names{QStringLiteral("MAIO_0001_.txt"), QStringLiteral("MAIO_0002_.txt"),
                            QStringLiteral("MAIO_0003_.txt"), QStringLiteral("MAIO_0004_.txt")};
    const QMap<QString, QByteArray> screenFiles = contents(m_host->outputDir());
    QCOMPARE(screenFiles.keys(), names);

    // The command on the twin database, same criteria by default.
    const QString twinConfig = m_twin.filePath(QStringLiteral("twin.ini"));
    HostConfig config = m_host->config();
    config.databaseName = m_twin.filePath(QStringLiteral("demo.sqlite"));
    config.serverPort = m_twinServer->port();
    useTestClient(config);
    config.save(twinConfig);
    const Result r =
        runCommand({QStringLiteral("--config"), twinConfig, QStringLiteral("--tax"),
                    QStringLiteral("01"), QStringLiteral("--company"), QStringLiteral("01"),
                    QStringLiteral("--output"), QStringLiteral("MAIO.TXT")});
    QCOMPARE(r.exitCode, 0);
    const QMap<QString, QByteArray> commandFiles = contents(m_twin.filePath(QStringLiteral("out")));
    QCOMPARE(commandFiles.keys(), names);
    QVERIFY(commandFiles == screenFiles);
    // The paths on stdout, progress on stderr.
    QStringList printed = r.out.split(u'\n', Qt::SkipEmptyParts);
    QStringList expected;
    for (const QString &name : names)
        expected << QDir(m_twin.filePath(QStringLiteral("out"))).filePath(name);
    printed.sort();
    QCOMPARE(printed, expected);
    QVERIFY2(r.err.contains(QStringLiteral("página 1")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("%1 arquivos gravados").arg(expected.size())),
             qPrintable(r.err));

    // Exported now: a second run finds nothing pending.
    const Result again =
        runCommand({QStringLiteral("--config"), twinConfig, QStringLiteral("--tax"),
                    QStringLiteral("01"), QStringLiteral("--company"), QStringLiteral("01"),
                    QStringLiteral("--output"), QStringLiteral("MAIO.TXT")});
    QCOMPARE(again.exitCode, 3);
    QVERIFY2(again.err.contains(QStringLiteral("Nenhum documento foi informado.")),
             qPrintable(again.err));
}

void tst_ExportCommand::chosenInvoicesOnlyAndOptionsFromTheConfig_data()
{
    QTest::addColumn<QByteArray>("lists");
    QTest::newRow("quoted") << QByteArray("operation_types=\"S01,E05\"\n"
                                          "invoices=\"1:10,0001:11\"\n");
    // Unquoted, as the help writes them: the ini reader takes these for lists.
    QTest::newRow("as the help writes them") << QByteArray("operation_types=S01, E05\n"
                                                           "invoices=1:10,0001:11\n");
}

void tst_ExportCommand::chosenInvoicesOnlyAndOptionsFromTheConfig()
{
    QFETCH(QByteArray, lists);
    // Options in the config's [export] section; the command line overrides the output name.
    ScriptedExportServer scripted;
    QTemporaryDir out;
    scripted.serveInto(out.path());
    scripted.script.notas = {
        invoice(QStringLiteral("0001"), QStringLiteral("10"), QStringLiteral("A")),
        invoice(QStringLiteral("0001"), QStringLiteral("11"), QStringLiteral("a")),
        invoice(QStringLiteral("0002"), QStringLiteral("12"), QStringLiteral("B"))};
    scripted.script.files = {
        {QStringLiteral("A"), QStringLiteral("0001"), {{QStringLiteral("x")}}}};
    const QString config = m_host->writeConfig(scripted.port());
    {
        QFile ini(config);
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("[export]\ntax=1\ncompany=01\noutput=CONF\nstatus=both\nmin_value=\"10,5\"\n"
                  "from=2025-01-01\nto=31/03/2025\n" +
                  lists);
    }
    const Result r = runCommand({QStringLiteral("--config"), config, QStringLiteral("--output"),
                                 QStringLiteral("CLI.TXT")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, out.filePath(QStringLiteral("CLI_0001_.txt")) + u'\n');

    const QList<RecordedCall> loads = scripted.callsOf(QStringLiteral("GetNotaFiscal"));
    QVERIFY(loads.size() >= 2);
    const QList<RpcValue> &a = loads.first().args;
    QCOMPARE(a.at(0).toText(), QStringLiteral("01"));
    QCOMPARE(a.at(7).toText(), QStringLiteral("'S01','E05'"));
    QCOMPARE(a.at(8).toDateTime().date(), QDate(2025, 1, 1));
    QCOMPARE(a.at(9).toDateTime().date(), QDate(2025, 3, 31));
    QCOMPARE(a.at(10).toText(), QStringLiteral("T"));
    QCOMPARE(a.at(11).toDouble(), 10.5);
    // The reload sends the status by reference, as the screen does.
    QVERIFY(loads.at(1).byRef.contains(10));
    // Only the two invoices named went into the marked list.
    const DataPacket list = decodePacket(
        scripted.callsOf(QStringLiteral("getNotasMarcadas")).first().args.at(0).toPacket());
    QCOMPARE(list.rows.size(), size_t(2));
    QCOMPARE(list.rows.at(0).at(1).toString(), QStringLiteral("000110"));
    QCOMPARE(list.rows.at(1).at(1).toString(), QStringLiteral("000111"));
    QCOMPARE(list.rows.at(1).at(2).toString(), QString());
}

void tst_ExportCommand::withoutConfigTheUsersFileAndTheWorkingFoldersAreRead()
{
    ScriptedExportServer scripted;
    QTemporaryDir out;
    scripted.serveInto(out.path());
    scripted.script.notas = {
        invoice(QStringLiteral("0001"), QStringLiteral("10"), QStringLiteral("A"))};
    scripted.script.files = {
        {QStringLiteral("A"), QStringLiteral("0001"), {{QStringLiteral("x")}}}};
    // The user's file names a server that is not there; the working folder's file, read last,
    // mends the port and renames the output, the rest comes from the user's.
    QTemporaryDir home;
    QTemporaryDir work;
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("fis11000")));
    const QString userFile = home.filePath(QStringLiteral("fis11000/fis-host.ini"));
    QVERIFY(QFile::copy(m_host->writeConfig(deadPort()), userFile));
    const auto append = [](const QString &path, const QByteArray &text) {
        QFile ini(path);
        return ini.open(QIODevice::Append) && ini.write(text) == text.size();
    };
    QVERIFY(append(userFile, "[export]\ntax=01\ncompany=01\noutput=USER\n"));
    QVERIFY(append(work.filePath(QStringLiteral("fis-host.ini")),
                   "[Server]\nPort=" + QByteArray::number(scripted.port()) +
                       "\n[export]\noutput=WORK\n"));

    const Result r = runCommand({}, work.path(), home.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, out.filePath(QStringLiteral("WORK_0001_.txt")) + u'\n');
    QCOMPARE(scripted.callsOf(QStringLiteral("GetNotaFiscal")).first().args.at(0).toText(),
             QStringLiteral("01"));

    // Without the working folder's file the user's alone holds, dead port and all.
    const Result alone = runCommand({}, home.path(), home.path());
    QCOMPARE(alone.exitCode, 1);
    QVERIFY2(alone.err.contains(QStringLiteral("127.0.0.1")), qPrintable(alone.err));
}

void tst_ExportCommand::badOptions_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("withBase");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const auto row = [](const char *tag, QStringList extra, bool withBase, int code,
                        const char *message) {
        QTest::newRow(tag) << extra << withBase << code << QString::fromUtf8(message);
    };
    row("no config", {"--tax", "01", "--company", "01", "--output", "A"}, false, 2,
        "Nenhum arquivo de configuração foi encontrado");
    row("config missing",
        {"--config", "/nonexistent/host.ini", "--tax", "01", "--company", "01", "--output", "A"},
        false, 2, "/nonexistent/host.ini");
    row("unknown option", {"--output", "A", "--colour", "red"}, true, 2,
        "Opção desconhecida: --colour");
    row("missing value", {"--output"}, true, 2, "A opção --output precisa de um valor");
    row("no output", {}, true, 2, "Nenhum nome de arquivo foi informado");
    row("refused character", {"--output", "A,B"}, true, 2,
        "não pode fazer parte de um nome de arquivo");
    row("name too long", {"--output", "ABCDEFGHIJKLMNOPQ"}, true, 2, "no máximo 16 caracteres");
    row("bad date", {"--output", "A", "--from", "2025-02-30"}, true, 2, "não é uma data");
    row("period reversed", {"--output", "A", "--from", "2025-05-10", "--to", "2025-05-01"}, true, 2,
        "termina (--to) antes de começar");
    row("bad status", {"--output", "A", "--status", "open"}, true, 2,
        "use pending, exported ou both");
    row("bad value", {"--output", "A", "--min-value", "-3"}, true, 2,
        "não é um valor igual ou maior que zero");
    row("bad client", {"--output", "A", "--client", "12345"}, true, 2, "não é um CNPJ");
    row("bad invoices", {"--output", "A", "--invoices", "000110"}, true, 2,
        "não está na forma FILIAL:LANÇAMENTO");
    row("series alone", {"--output", "A", "--series", "S1"}, true, 2,
        "--series exige --state-registration e --municipal-registration");
    row("unknown company", {"--output", "A", "--company", "77"}, true, 2,
        "Empresa 77 não cadastrada.");
    row("unknown tax", {"--output", "A", "--tax", "88"}, true, 2, "Imposto 88 não cadastrado.");
    row("unknown branch", {"--output", "A", "--branch", "9999"}, true, 2,
        "Filial 9999 não cadastrada.");
    row("invoice not selected", {"--output", "A", "--invoices", "0001:NAOEXISTE"}, true, 2,
        "As notas 0001:NAOEXISTE não estão entre as que os critérios selecionam.");
    row("no invoice named", {"--output", "A", "--invoices", " , "}, true, 2,
        "nenhuma nota foi informada");
    row("name without base", {"--output", ".TXT"}, true, 2, "deixa os arquivos sem nome");
    row("name of dots", {"--output", ".."}, true, 2, "deixa os arquivos sem nome");
    row("newline in the name", {"--output", "A\nB"}, true, 2,
        "um caractere de controle (U+000a) não pode fazer parte de um nome de arquivo");
    row("carriage return in the name", {"--output", "A\rB"}, true, 2,
        "um caractere de controle (U+000d)");
    row("date out of range", {"--output", "A", "--from", "0001-01-01"}, true, 2,
        "--from: 0001-01-01 está fora do intervalo; informe uma data de 1900-01-01 a 9999-12-31.");
    row("bad call timeout", {"--output", "A", "--call-timeout", "0"}, true, 2,
        "--call-timeout: informe um número de segundos");
    const auto config = [&](const char *tag, const QString &path, const char *message) {
        QTest::newRow(tag) << QStringList{QStringLiteral("--config"),  path,
                                          QStringLiteral("--tax"),     QStringLiteral("01"),
                                          QStringLiteral("--company"), QStringLiteral("01"),
                                          QStringLiteral("--output"),  QStringLiteral("A")}
                           << false << 2 << QString::fromUtf8(message).arg(path);
    };
    config("config is a directory", m_host->dirPath(),
           "O arquivo de configuração %1 é um diretório.");
    config("config is a device", QStringLiteral("/dev/null"),
           "O arquivo de configuração %1 não é um arquivo comum.");
    config("config is a FIFO", m_fifo, "O arquivo de configuração %1 não é um arquivo comum.");
}

void tst_ExportCommand::badOptions()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, withBase);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QStringList arguments = withBase ? base() + extra : extra;
    const qsizetype before = m_server->log().count(QStringLiteral("GetRegistro"));
    const Result r = runCommand(arguments);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    QCOMPARE(m_server->log().count(QStringLiteral("GetRegistro")), before);
}

void tst_ExportCommand::serverNotRunning()
{
    const Result r =
        runCommand(base() + QStringList{QStringLiteral("--output"), QStringLiteral("A"),
                                        QStringLiteral("--server"),
                                        QStringLiteral("127.0.0.1:%1").arg(deadPort())});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(QStringLiteral("fis11000-export: ")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("127.0.0.1:%1").arg(deadPort())) ||
                 r.err.contains(QStringLiteral("127.0.0.1")),
             qPrintable(r.err));
    QCOMPARE(r.out, QString());
}

void tst_ExportCommand::failureInTheMiddleRunsTheGuardAndLeavesNoPartialFile()
{
    ScriptedExportServer scripted;
    QTemporaryDir out;
    scripted.serveInto(out.path());
    scripted.script.notas = {
        invoice(QStringLiteral("0001"), QStringLiteral("10"), QStringLiteral("A")),
        invoice(QStringLiteral("0001"), QStringLiteral("11"), QStringLiteral("B"))};
    // The second file fails on its second page.
    scripted.script.files = {
        {QStringLiteral("A"), QStringLiteral("0001"), {{QStringLiteral("a1")}}},
        {QStringLiteral("B"),
         QStringLiteral("0002"),
         {{QStringLiteral("b1")}, {QStringLiteral("b2")}}}};
    scripted.script.onRegistro = [](RpcArgs &, int file, int page) {
        if (file == 1 && page == 1)
            throw RpcError(QStringLiteral("Disco do servidor cheio."));
    };
    const Result r =
        runCommand({QStringLiteral("--config"), m_host->writeConfig(scripted.port()),
                    QStringLiteral("--tax"), QStringLiteral("01"), QStringLiteral("--company"),
                    QStringLiteral("01"), QStringLiteral("--output"), QStringLiteral("ARQ")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("fis11000-export: Disco do servidor cheio.")),
             qPrintable(r.err));
    // The completed file stays and is reported; nothing of the failed one is left.
    QCOMPARE(r.out, out.filePath(QStringLiteral("ARQ_0001_.txt")) + u'\n');
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{QStringLiteral("ARQ_0001_.txt")});
    const QList<RecordedCall> deletes = scripted.callsOf(QStringLiteral("GetDeletaLista"));
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first().args, QList<RpcValue>{QStringLiteral("17")});
}

QTEST_MAIN(tst_ExportCommand)
#include "tst_exportcommand.moc"
