// The host application: its package loader, its main window with the screens' menus, and the
// fis-host executable run as a process against the real application server.
#include "testsupport/demohost.h"
#include "testsupport/paths.h"
#include "testsupport/serverprocess.h"

#include "host/hostmainwindow.h"
#include "host/packageloader.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/padrimportexport.h"
#include "hostfw/widgets/useraction.h"

#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTest>

using namespace fis;
using namespace fis::test;

namespace {

const QString kPackage = QStringLiteral("Pkg_Fis11000");

struct HostRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

HostRun runHostProcess(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QDir(binDir()).filePath(QStringLiteral("fis-host")), arguments);
    HostRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

QStringList visibleMenuTitles(QMenuBar *bar)
{
    QStringList titles;
    const QList<QAction *> actions = bar->actions();
    for (const QAction *action : actions) {
        if (action->isVisible())
            titles.append(action->text());
    }
    return titles;
}

} // namespace

class tst_Host : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void loaderFindsThePackageAndItsEntryPoints_data();
    void loaderFindsThePackageAndItsEntryPoints();
    void loaderReportsMissingPackageAndEntryPoint();
    void menuOpensTheScreenAndMergesItsMenu();
    void screenMenuFollowsTheActiveChild();
    void serverDownIsShownAndALaterOpeningWorks();
    void closingTheMainWindowClosesTheScreen();

    void commandLineOpensTheScreen();
    void commandLineReportsUnreachableServer();
    void commandLineFailures_data();
    void commandLineFailures();

private:
    // Opens the screen through the "Módulos" menu with the mouse.
    void clickMenuItem(HostMainWindow &window, const QString &menuTitle, const QString &item);
    bool screenExists() { return *m_boIdCriado; }

    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<PackageLoader> m_packages;
    std::unique_ptr<RecordingPresenter> m_presenter;
    bool *m_boIdCriado = nullptr;
    bool *m_boEntra = nullptr;
};

void tst_Host::initTestCase()
{
    m_host = std::make_unique<DemoHost>();
    QVERIFY(m_host->isValid());
    m_server = std::make_unique<ServerProcess>(m_host->databasePath(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_host->setServerPort(m_server->port());
    m_presenter = std::make_unique<RecordingPresenter>();
    m_packages = std::make_unique<PackageLoader>(QStringList{libDir()});
    m_boIdCriado = static_cast<bool *>(m_packages->symbol(kPackage, QStringLiteral("boIdCriado")));
    m_boEntra = static_cast<bool *>(m_packages->symbol(kPackage, QStringLiteral("boEntra")));
}

void tst_Host::cleanupTestCase()
{
    m_packages.reset();
    m_presenter.reset();
    m_server.reset();
    m_host.reset();
}

void tst_Host::clickMenuItem(HostMainWindow &window, const QString &menuTitle, const QString &item)
{
    QMenuBar *bar = window.menuBar();
    QAction *menuAction = nullptr;
    const QList<QAction *> actions = bar->actions();
    for (QAction *action : actions) {
        if (action->text() == menuTitle)
            menuAction = action;
    }
    QVERIFY(menuAction && menuAction->menu());
    QMenu *menu = menuAction->menu();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menuAction).center());
    QTRY_VERIFY(menu->isVisible());
    QAction *itemAction = nullptr;
    const QList<QAction *> items = menu->actions();
    for (QAction *action : items) {
        if (action->text() == item)
            itemAction = action;
    }
    QVERIFY(itemAction);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(itemAction).center());
    QTRY_VERIFY(!menu->isVisible());
    // A window manager gives the activation back to the main window once the popup has gone;
    // the offscreen platform leaves that to us.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

void tst_Host::loaderFindsThePackageAndItsEntryPoints_data()
{
    QTest::addColumn<QString>("entryPoint");
    QTest::addRow("IniProc") << "IniProc";
    QTest::addRow("CriaCompraLEGAL") << "CriaCompraLEGAL";
    QTest::addRow("CriaFtrCompraLEGAL") << "CriaFtrCompraLEGAL";
}

void tst_Host::loaderFindsThePackageAndItsEntryPoints()
{
    QFETCH(QString, entryPoint);
    const QString path = m_packages->libraryPath(kPackage);
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("libPkg_Fis11000.so"));
    QVERIFY(m_packages->isLoaded(kPackage));
    QVERIFY(m_packages->procedure(kPackage, entryPoint));
}

void tst_Host::loaderReportsMissingPackageAndEntryPoint()
{
    try {
        m_packages->procedure(kPackage, QStringLiteral("NoSuchProc"));
        QFAIL("a missing entry point went unnoticed");
    } catch (const PackageError &e) {
        QCOMPARE(e.kind(), PackageError::Kind::EntryPointMissing);
        QVERIFY(e.message().contains(QStringLiteral("NoSuchProc")));
    }

    QTemporaryDir empty;
    PackageLoader nowhere({empty.path()});
    QVERIFY(nowhere.libraryPath(kPackage).isEmpty());
    try {
        nowhere.procedure(kPackage, QStringLiteral("IniProc"));
        QFAIL("a missing package went unnoticed");
    } catch (const PackageError &e) {
        QCOMPARE(e.kind(), PackageError::Kind::LibraryMissing);
        QVERIFY(e.message().contains(kPackage));
        QVERIFY(e.message().contains(empty.path()));
    }

    // Through the menu the same error reaches the standard error display.
    HostMainWindow window(nowhere);
    m_presenter->clear();
    QVERIFY(!window.openScreenAction(QStringLiteral("FIS11000")));
    QCOMPARE(m_presenter->errors().size(), 1);
    QVERIFY(m_presenter->errors().constFirst().contains(kPackage));
}

void tst_Host::menuOpensTheScreenAndMergesItsMenu()
{
    HostMainWindow window(*m_packages);
    QCOMPARE(&HostApplication::current(), static_cast<HostApplication *>(&window));
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QStringList ownMenus = {QStringLiteral("&Arquivo"), QStringLiteral("&Módulos"),
                                  QStringLiteral("&Janela")};
    QCOMPARE(visibleMenuTitles(window.menuBar()), ownMenus);

    m_presenter->clear();
    clickMenuItem(window, QStringLiteral("&Módulos"), QStringLiteral("Compra LEGAL - BA"));
    QTRY_VERIFY(screenExists());
    QVERIFY(m_presenter->errors().isEmpty());
    const QList<QMdiSubWindow *> children = window.mdiArea()->subWindowList();
    QCOMPARE(children.size(), 1);
    QMdiSubWindow *sub = children.constFirst();
    auto *form = qobject_cast<TfrmPadrImportExport *>(sub->widget());
    QVERIFY(form);
    QCOMPARE(form->objectName(), QStringLiteral("frmCompraLegalBA"));
    QCOMPARE(sub->windowTitle(), QStringLiteral("Compra LEGAL - BA"));
    QCOMPARE(form->size(), QSize(866, 541));
    QTRY_VERIFY(!*m_boEntra);
    QTRY_COMPARE(focusName(), QStringLiteral("medCdImposto"));
    QCOMPARE(visibleMenuTitles(window.menuBar()),
             QStringList({QStringLiteral("&Arquivo"), QStringLiteral("&Módulos"),
                          QStringLiteral("&Operação"), QStringLiteral("&Janela")}));

    // The menu again with the screen minimised: the same screen comes back to the front.
    sub->showMinimized();
    QTRY_VERIFY(sub->isMinimized());
    clickMenuItem(window, QStringLiteral("&Módulos"), QStringLiteral("Compra LEGAL - BA"));
    QTRY_VERIFY(!sub->isMinimized());
    QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
    QCOMPARE(window.mdiArea()->currentSubWindow(), sub);
    QCOMPARE(screenCursor(), Qt::ArrowCursor);

    // Closed, it takes its menu with it.
    QPointer<QMdiSubWindow> closing = sub;
    sub->close();
    QTRY_VERIFY(closing.isNull());
    QVERIFY(!screenExists());
    QCOMPARE(visibleMenuTitles(window.menuBar()), ownMenus);
}

void tst_Host::screenMenuFollowsTheActiveChild()
{
    HostMainWindow window(*m_packages);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.openScreenAction(QStringLiteral("FIS11000")));
    QMdiSubWindow *screen = window.mdiArea()->currentSubWindow();
    QVERIFY(screen);
    QTRY_VERIFY(visibleMenuTitles(window.menuBar()).contains(QStringLiteral("&Operação")));

    // Another child without a menu of its own: the screen's menu leaves.
    auto *other = window.mdiArea()->addSubWindow(new QWidget);
    other->show();
    window.mdiArea()->setActiveSubWindow(other);
    QTRY_COMPARE(visibleMenuTitles(window.menuBar()).size(), 3);

    // A click into the screen makes it active again, and its menu comes back.
    QTest::mouseClick(screen->widget(), Qt::LeftButton, {}, QPoint(400, 300));
    QTRY_COMPARE(window.mdiArea()->activeSubWindow(), screen);
    QTRY_COMPARE(visibleMenuTitles(window.menuBar()).at(2), QStringLiteral("&Operação"));

    screen->close();
    QTRY_VERIFY(!screenExists());
    QTRY_VERIFY(!visibleMenuTitles(window.menuBar()).contains(QStringLiteral("&Operação")));
}

void tst_Host::serverDownIsShownAndALaterOpeningWorks()
{
    HostMainWindow window(*m_packages);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    m_host->setServerPort(deadPort());
    m_presenter->clear();
    clickMenuItem(window, QStringLiteral("&Módulos"), QStringLiteral("Compra LEGAL - BA"));
    QTRY_COMPARE(m_presenter->errors().size(), 1);
    QVERIFY(m_presenter->errors().constFirst().contains(QStringLiteral("conectar")));
    QApplication::processEvents();
    QVERIFY(window.mdiArea()->subWindowList().isEmpty());
    QVERIFY(!screenExists());
    QCOMPARE(screenCursor(), Qt::ArrowCursor);

    m_host->setServerPort(m_server->port());
    const int connections = m_server->connectionCount();
    clickMenuItem(window, QStringLiteral("&Módulos"), QStringLiteral("Compra LEGAL - BA"));
    QTRY_VERIFY(screenExists());
    QCOMPARE(window.mdiArea()->subWindowList().size(), 1);
    QTRY_COMPARE(m_server->connectionCount(), connections + 1);
    QCOMPARE(m_presenter->errors().size(), 1);
}

void tst_Host::closingTheMainWindowClosesTheScreen()
{
    auto window = std::make_unique<HostMainWindow>(*m_packages);
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(window->openScreenAction(QStringLiteral("FIS11000")));
    QVERIFY(screenExists());
    QVERIFY(window->close());
    QVERIFY(!screenExists()); // FormClose ran, so its connection was closed
    window.reset();
    QVERIFY(!HostApplication::isRegistered());
}

void tst_Host::commandLineOpensTheScreen()
{
    const QString config = m_host->writeConfig(m_server->port());
    const int connections = m_server->connectionCount();
    const HostRun run =
        runHostProcess({QStringLiteral("--config"), config, QStringLiteral("--open"),
                        QStringLiteral("FIS11000"), QStringLiteral("--report-and-quit")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(QStringLiteral("windows: 1")), qPrintable(run.out + run.err));
    QVERIFY(lines.contains(
        QStringLiteral("window: Compra LEGAL - BA|frmCompraLegalBA|866x541|current")));
    QVERIFY(lines.contains(QStringLiteral("menu: &Arquivo|&Módulos|&Operação|&Janela")));
    QVERIFY(lines.contains(QStringLiteral("focus: medCdImposto")));
    QVERIFY(!run.out.contains(QStringLiteral("error:")));
    QTRY_COMPARE(m_server->connectionCount(), connections + 1);
}

void tst_Host::commandLineReportsUnreachableServer()
{
    const QString config = m_host->writeConfig(deadPort());
    const HostRun run =
        runHostProcess({QStringLiteral("--config"), config, QStringLiteral("--open"),
                        QStringLiteral("FIS11000"), QStringLiteral("--report-and-quit")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(QStringLiteral("windows: 0")), qPrintable(run.out + run.err));
    QVERIFY(lines.contains(QStringLiteral("menu: &Arquivo|&Módulos|&Janela")));
    QCOMPARE(run.out.count(QStringLiteral("error: ")), 1);
    QVERIFY(run.out.contains(QStringLiteral("conectar")));
}

void tst_Host::commandLineFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString config = m_host->writeConfig(m_server->port());
    const QString emptyDir = m_host->dirPath() + QStringLiteral("/no-packages");
    QDir().mkpath(emptyDir);
    QTest::newRow("missing package")
        << QStringList{QStringLiteral("--config"),         config,
                       QStringLiteral("--package-dir"),    emptyDir,
                       QStringLiteral("--open"),           QStringLiteral("FIS11000"),
                       QStringLiteral("--report-and-quit")}
        << 3 << QStringLiteral("Pkg_Fis11000 não encontrado");
    QTest::newRow("unknown screen")
        << QStringList{QStringLiteral("--config"), config, QStringLiteral("--open"),
                       QStringLiteral("FIS99999"), QStringLiteral("--report-and-quit")}
        << 2 << QStringLiteral("FIS99999");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--frobnicate")} << 2 << QStringLiteral("--frobnicate");
    QTest::newRow("missing configuration")
        << QStringList{QStringLiteral("--config"), emptyDir + QStringLiteral("/none.ini"),
                       QStringLiteral("--report-and-quit")}
        << 2 << QStringLiteral("none.ini");
}

void tst_Host::commandLineFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const HostRun run = runHostProcess(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!run.out.contains(QStringLiteral("windows:")));
}

QTEST_MAIN(tst_Host)
#include "tst_host.moc"
