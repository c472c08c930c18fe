// The export from the screen when its server dies in the middle of a file: the user is told,
// no file is left, and the next server on the database puts every invoice's flag back as it was
// before; the screen then exports the same invoices.
#include "integritysupport.h"
#include "testsupport/faultproxy.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include "exportscreendriver.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/widgets/useraction.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <memory>

using namespace fis;
using namespace fis::test;

class TestScreenIntegrity : public QObject
{
    Q_OBJECT

private slots:
    void serverKilledInTheMiddleOfAFile();

private:
    // Opens the screen on the server at `port`, confirms the filter's defaults (the pending
    // invoices of the current month), marks them all by the title click and exports. The
    // messages go to the RecordingPresenter the caller holds.
    void exportEverythingPending(quint16 port);
};

void TestScreenIntegrity::exportEverythingPending(quint16 port)
{
    HostConfig config = HostConfig::current();
    config.serverPort = port;
    useTestClient(config);
    HostConfig::setCurrent(config);
    delete frmFiltroCompraLEGALBA;
    TfrmCompraLegalBA screen;
    frmCompraLegalBA = &screen;
    spinetest::fillHeader(screen, QStringLiteral("COMPRA.TXT"));
    screen.show();
    screen.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    QVERIFY(spinetest::exportAllPending(screen) > 0);
    delete frmFiltroCompraLEGALBA;
    frmCompraLegalBA = nullptr;
}

void TestScreenIntegrity::serverKilledInTheMiddleOfAFile()
{
    TestDatabase db(1500, 20250520);
    QVERIFY(db.isValid());
    HostConfig config;
    config.databaseDriver = QStringLiteral("QSQLITE");
    config.databaseName = db.path();
    config.branch = QStringLiteral("0001");
    config.serverHost = QStringLiteral("127.0.0.1");
    HostConfig::setCurrent(config);
    HostDatabase hostDb(config);
    hostDb.open();
    HostDatabase::setCurrent(&hostDb);
    auto forgetHost = qScopeGuard([] {
        HostDatabase::setCurrent(nullptr);
        HostConfig::setCurrent(HostConfig());
    });
    const Flags before = exportedFlags(db);
    const QStringList smallPages = {QStringLiteral("--page-size"), QStringLiteral("50")};

    auto server = std::make_unique<ServerProcess>(db.path(), db.outputDir(), smallPages);
    QVERIFY(server->isRunning());
    const qint64 pid = server->pid();
    FaultProxy proxy(server->port());
    proxy.onCall = [pid](const ProxiedCall &c) {
        if (c.method == u"GetRegistro" && c.ordinal == 2)
            ::kill(pid_t(pid), SIGKILL);
        return ProxyAction::Forward;
    };
    {
        RecordingPresenter presenter;
        exportEverythingPending(proxy.port());
        QCOMPARE(presenter.informations(), QStringList());
        QCOMPARE(presenter.errors().size(), 1);
        QVERIFY2(presenter.errors().first().contains(QStringLiteral("servidor de aplicação")),
                 qPrintable(presenter.errors().first()));
    }
    QCOMPARE(QDir(db.outputDir()).entryList(QDir::Files | QDir::Hidden), QStringList());

    server = std::make_unique<ServerProcess>(db.path(), db.outputDir(), smallPages);
    QVERIFY(server->isRunning());
    QCOMPARE(unsettledLists(db), 0);
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reportedInvoices(db, db.outputDir())),
             QStringList());

    // The user tries again and it goes through.
    {
        RecordingPresenter presenter;
        exportEverythingPending(server->port());
        QCOMPARE(presenter.errors(), QStringList());
        QCOMPARE(presenter.informations(),
                 QStringList{QStringLiteral("Exportação foi concluída com sucesso.")});
    }
    const Reported reported = reportedInvoices(db, db.outputDir());
    QVERIFY(!reported.invoices.isEmpty());
    QCOMPARE(flagsAgainstDelivery(before, exportedFlags(db), reported), QStringList());
}

QTEST_MAIN(TestScreenIntegrity)
#include "tst_screenintegrity.moc"
