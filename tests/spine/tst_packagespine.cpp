// The package's entry points and the lifetimes of its two windows, without a host: the screens
// are windows of their own, served by the real application server.
#include "spinetestsupport.h"
#include "testsupport/demohost.h"
#include "testsupport/paths.h"
#include "testsupport/serverprocess.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/menumerge.h"
#include "hostfw/widgets/useraction.h"
#include "package/pkg_fis11000.h"
#include "rpcclient/netconnection.h"

#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSqlQuery>
#include <QTest>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

namespace {

// An invoice list packet with `rows` pending, unmarked invoices.
QByteArray invoicePacket(int rows)
{
    MemTable table;
    table.setFields(compralegal::notaFiscalFields());
    table.createDataSet();
    for (int i = 0; i < rows; ++i) {
        table.append();
        table.setValue(QStringLiteral("IDSTATUS"), QStringLiteral("U"));
        table.setValue(QStringLiteral("CDFILIAL"), QStringLiteral("0001"));
        table.setValue(QStringLiteral("NRLANCTONF"), QString::number(i + 1));
        table.post();
    }
    return table.saveToPacket();
}

} // namespace

class tst_PackageSpine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void openingCreatesConnectedScreenFocusedOnTaxCode();
    void secondOpeningRestoresMinimisedScreenWithoutRecreating();
    void laterActivationsLeaveTheFocusAlone();
    void closedScreenIsRecreatedWithFreshActivationAndConnection();
    void unreachableServerLeavesNoScreenAndNextOpeningWorks();
    void filterDialogIsKeptWithItsEntriesAcrossOpenings();
    void cancelSetsExportButtonFromListAndCloseBoxLeavesIt_data();
    void cancelSetsExportButtonFromListAndCloseBoxLeavesIt();
    void finalizationClearsTheSelectionTexts();

private:
    TfrmCompraLegalBA *openScreen();
    // Opens the filter dialog, runs `drive` on it and returns CriaFtrCompraLEGAL's result.
    bool runFilterDialog(const std::function<void(TfrmFiltroCompraLEGALBA *)> &drive);

    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    RecordingPresenter *m_presenter = nullptr;
};

void tst_PackageSpine::initTestCase()
{
    QVERIFY(!HostApplication::isRegistered());
    m_host = std::make_unique<DemoHost>();
    QVERIFY(m_host->isValid());
    m_server = std::make_unique<ServerProcess>(m_host->databasePath(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_host->setServerPort(m_server->port());
    m_presenter = new RecordingPresenter;
}

void tst_PackageSpine::cleanup()
{
    if (QPointer<TfrmCompraLegalBA> screen = frmCompraLegalBA) {
        screen->close();
        QTRY_VERIFY(screen.isNull());
    }
    QVERIFY(!boIdCriado);
}

void tst_PackageSpine::cleanupTestCase()
{
    delete frmFiltroCompraLEGALBA;
    delete m_presenter;
    m_server.reset();
    m_host.reset();
}

TfrmCompraLegalBA *tst_PackageSpine::openScreen()
{
    IniProc();
    TfrmCompraLegalBA *screen = frmCompraLegalBA;
    if (screen && !QTest::qWaitForWindowActive(screen))
        qWarning("the screen did not become active");
    // FormActivate runs queued after the activation.
    if (!QTest::qWaitFor([]() { return !boEntra; }))
        qWarning("the first activation did not run");
    return screen;
}

bool tst_PackageSpine::runFilterDialog(const std::function<void(TfrmFiltroCompraLEGALBA *)> &drive)
{
    bool driven = false;
    whenModal(
        [drive](QWidget *modal) {
            auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            drive(dialog);
        },
        &driven);
    const bool result = CriaFtrCompraLEGAL();
    if (!driven)
        qWarning("the filter dialog was not shown");
    return result;
}

void tst_PackageSpine::openingCreatesConnectedScreenFocusedOnTaxCode()
{
    const int connectionsBefore = m_server->connectionCount();
    TfrmCompraLegalBA *screen = openScreen();
    QVERIFY(screen);
    QVERIFY(boIdCriado);
    QCOMPARE(screen->windowTitle(), QStringLiteral("Compra LEGAL - BA"));
    QCOMPARE(screen->size(), QSize(866, 541));
    QVERIFY(screen->isVisible());
    QCOMPARE(screenCursor(), Qt::ArrowCursor);

    // The first activation has moved the focus into the tax code.
    QVERIFY(!boEntra);
    QCOMPARE(QApplication::focusWidget(), screen->medCdImposto);

    // The connection was opened for this screen, with the configured server.
    QVERIFY(screen->NetCompraLEGALBA->isConnected());
    QCOMPARE(screen->NetCompraLEGALBA->serverName(), compralegal::serverObjectName());
    QCOMPARE(screen->NetCompraLEGALBA->port(), m_server->port());
    QCOMPARE(screen->NetCompraLEGALBA->host(), QStringLiteral("127.0.0.1"));
    QTRY_COMPARE(m_server->connectionCount(), connectionsBefore + 1);

    // Its tables: the list closed with the fields of the contract, cdsRegistro open and empty.
    QVERIFY(!screen->cdsNotaFiscal->isOpen());
    QCOMPARE(screen->cdsNotaFiscal->fieldCount(), compralegal::notaFiscalFields().size());
    QCOMPARE(screen->dtsNotaFiscal->table(), screen->cdsNotaFiscal);
    QVERIFY(screen->cdsRegistro->isOpen());
    QCOMPARE(screen->cdsRegistro->recordCount(), 0);
    QCOMPARE(screen->cdsRegistro->fieldCount(), 1);
    QCOMPARE(screen->cdsRegistro->field(0).name, QStringLiteral("IDREGISTRO"));
    QCOMPARE(screen->cdsRegistro->field(0).size, 2);

    // The tax code: two optional digits in the required colour; nothing to export yet.
    QCOMPARE(screen->medCdImposto->editMask(), QStringLiteral("99;0; "));
    QCOMPARE(screen->medCdImposto->palette().color(QPalette::Base),
             screen->palette().color(QPalette::ToolTipBase));
    QTest::keyClicks(screen->medCdImposto, QStringLiteral("1x23"));
    QCOMPARE(screen->medCdImposto->text(), QStringLiteral("12"));
    QVERIFY(!screen->sbtImportExport->isEnabled());

    // The screen's menu: one menu "Operação" of group index 2.
    QCOMPARE(screen->formMenu(), screen->mnuNota);
    QCOMPARE(screen->mnuNota->actions().size(), 1);
    QCOMPARE(menuGroupIndex(screen->mnuNota->actions().constFirst()), 2);
    QCOMPARE(screen->mnuNota->actions().constFirst()->text(), QStringLiteral("&Operação"));
}

void tst_PackageSpine::secondOpeningRestoresMinimisedScreenWithoutRecreating()
{
    TfrmCompraLegalBA *screen = openScreen();
    QVERIFY(screen);
    const int connections = m_server->connectionCount();
    QLineEdit other; // another window, so that the screen has to be brought back to the front
    screen->showMinimized();
    QTRY_VERIFY(screen->isMinimized());
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    IniProc();
    QCOMPARE(frmCompraLegalBA, screen);
    QVERIFY(!screen->isMinimized());
    QVERIFY(QTest::qWaitForWindowActive(screen));
    // FormCreate did not run again: no new connection, no pending first activation.
    QVERIFY(!boEntra);
    QVERIFY(screen->NetCompraLEGALBA->isConnected());
    QTest::qWait(100);
    QCOMPARE(m_server->connectionCount(), connections);
    QCOMPARE(screenCursor(), Qt::ArrowCursor);
}

void tst_PackageSpine::laterActivationsLeaveTheFocusAlone()
{
    TfrmCompraLegalBA *screen = openScreen();
    QVERIFY(screen);
    QTRY_COMPARE(QApplication::focusWidget(), screen->medCdImposto);
    auto *probe = new QLineEdit(screen->gridFrame());
    probe->setObjectName(QStringLiteral("probe"));
    screen->gridFrame()->layout()->addWidget(probe);
    probe->show();
    probe->setFocus();
    QCOMPARE(QApplication::focusWidget(), probe);

    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    screen->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(screen));
    QTest::qWait(50); // FormActivate runs queued after the activation
    QCOMPARE(QApplication::focusWidget(), probe);
}

void tst_PackageSpine::closedScreenIsRecreatedWithFreshActivationAndConnection()
{
    QPointer<TfrmCompraLegalBA> first = openScreen();
    QVERIFY(first);
    const int connections = m_server->connectionCount();
    QPointer<NetConnection> firstConnection = first->NetCompraLEGALBA;

    first->close();
    // FormClose closed the connection before the screen went away.
    QVERIFY(firstConnection);
    QVERIFY(!firstConnection->isConnected());
    QVERIFY(!boIdCriado);
    QTRY_VERIFY(first.isNull());
    QVERIFY(!frmCompraLegalBA);

    IniProc();
    TfrmCompraLegalBA *second = frmCompraLegalBA;
    QVERIFY(second);
    QVERIFY(boIdCriado);
    QVERIFY(boEntra); // a new FormCreate ran; its first activation is still to come
    QVERIFY(QTest::qWaitForWindowActive(second));
    QTRY_VERIFY(!boEntra);
    QCOMPARE(QApplication::focusWidget(), second->medCdImposto);
    QVERIFY(second->NetCompraLEGALBA->isConnected());
    QTRY_COMPARE(m_server->connectionCount(), connections + 1);
}

void tst_PackageSpine::unreachableServerLeavesNoScreenAndNextOpeningWorks()
{
    m_host->setServerPort(deadPort());
    bool raised = false;
    try {
        IniProc();
    } catch (const RpcError &e) {
        raised = true;
        QCOMPARE(e.kind(), RpcError::Kind::ConnectFailed);
    }
    QVERIFY(raised);
    QVERIFY(!boIdCriado);
    QVERIFY(!frmCompraLegalBA);
    // No half-made screen, and no hourglass left behind.
    QCOMPARE(screenCursor(), Qt::ArrowCursor);
    QVERIFY(!QApplication::overrideCursor());
    QApplication::processEvents();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows)
        QVERIFY(!qobject_cast<const TfrmCompraLegalBA *>(window));

    // Through the host's action runner the same error is shown as it stands.
    m_presenter->clear();
    QVERIFY(!runAction(nullptr, []() { IniProc(); }));
    QCOMPARE(m_presenter->errors().size(), 1);
    QVERIFY(m_presenter->errors().constFirst().contains(QStringLiteral("conectar")));

    m_host->setServerPort(m_server->port());
    TfrmCompraLegalBA *screen = openScreen();
    QVERIFY(screen);
    QVERIFY(boIdCriado);
    QVERIFY(screen->NetCompraLEGALBA->isConnected());
    QCOMPARE(QApplication::focusWidget(), screen->medCdImposto);
}

void tst_PackageSpine::filterDialogIsKeptWithItsEntriesAcrossOpenings()
{
    QVERIFY(openScreen());
    const bool wasCreated = frmFiltroCompraLEGALBA != nullptr;

    Qt::CursorShape cursorWhileOpen = Qt::WaitCursor;
    bool result = runFilterDialog([&](TfrmFiltroCompraLEGALBA *dialog) {
        cursorWhileOpen = screenCursor();
        dialog->depEmiFin->setFocus();
        QTest::keyClick(dialog->depEmiFin, Qt::Key_Home);
        QTest::keyClicks(dialog->depEmiFin, QStringLiteral("15052025"));
        QTest::mouseClick(dialog->sbtCancel, Qt::LeftButton);
    });
    QVERIFY(!result);
    QVERIFY(!boConfirma);
    QCOMPARE(cursorWhileOpen, Qt::ArrowCursor);
    QCOMPARE(screenCursor(), Qt::ArrowCursor);
    TfrmFiltroCompraLEGALBA *dialog = frmFiltroCompraLEGALBA;
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    if (!wasCreated) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Filtro de Compra LEGAL"));
        QCOMPARE(dialog->size(), QSize(576, 218));
        QVERIFY(!dialog->btfSaveOpc->isEnabled());
        QVERIFY(!dialog->btfLoadOpc->isEnabled());
    }
    // Default period of branch 0001 (processing date 2025-05-20), end date as typed.
    QCOMPARE(dialog->depEmiIni->GetDate(), QDate(2025, 5, 1));
    QCOMPARE(dialog->depEmiFin->GetDate(), QDate(2025, 5, 15));

    // A new processing date must not reach the existing dialog: FormCreate ran once.
    QSqlQuery update(m_host->database().database());
    QVERIFY(update.exec(QStringLiteral(
        "UPDATE FILIAL SET DTPROCESSAMENTO = '2025-07-31' WHERE CDFILIAL = '0001'")));

    // The screen is closed and reopened in between: the dialog outlives it.
    frmCompraLegalBA->close();
    QTRY_VERIFY(!frmCompraLegalBA);
    QVERIFY(openScreen());

    QDate startSeen, endSeen;
    result = runFilterDialog([&](TfrmFiltroCompraLEGALBA *shown) {
        startSeen = shown->depEmiIni->GetDate();
        endSeen = shown->depEmiFin->GetDate();
        shown->close(); // the close box
    });
    QVERIFY(!result);
    QVERIFY(!boConfirma);
    QCOMPARE(frmFiltroCompraLEGALBA, dialog);
    QCOMPARE(startSeen, QDate(2025, 5, 1));
    QCOMPARE(endSeen, QDate(2025, 5, 15));

    QVERIFY(update.exec(QStringLiteral(
        "UPDATE FILIAL SET DTPROCESSAMENTO = '2025-05-20' WHERE CDFILIAL = '0001'")));
}

void tst_PackageSpine::cancelSetsExportButtonFromListAndCloseBoxLeavesIt_data()
{
    QTest::addColumn<int>("rows"); // -1: the list closed
    QTest::addColumn<bool>("enabledBefore");
    QTest::addColumn<bool>("byCancel");
    QTest::addColumn<bool>("enabledAfter");

    QTest::newRow("cancel, rows, was disabled") << 3 << false << true << true;
    QTest::newRow("cancel, empty list, was enabled") << 0 << true << true << false;
    QTest::newRow("cancel, closed list, was enabled") << -1 << true << true << false;
    QTest::newRow("close box, rows, was disabled") << 3 << false << false << false;
    QTest::newRow("close box, closed list, was enabled") << -1 << true << false << true;
}

void tst_PackageSpine::cancelSetsExportButtonFromListAndCloseBoxLeavesIt()
{
    QFETCH(int, rows);
    QFETCH(bool, enabledBefore);
    QFETCH(bool, byCancel);
    QFETCH(bool, enabledAfter);

    TfrmCompraLegalBA *screen = openScreen();
    QVERIFY(screen);
    if (rows >= 0)
        screen->cdsNotaFiscal->loadFromPacket(invoicePacket(rows));
    else
        screen->cdsNotaFiscal->close();
    screen->sbtImportExport->setEnabled(enabledBefore);

    const bool result = runFilterDialog([byCancel](TfrmFiltroCompraLEGALBA *dialog) {
        if (byCancel)
            QTest::mouseClick(dialog->sbtCancel, Qt::LeftButton);
        else
            dialog->close();
    });
    QVERIFY(!result);
    QCOMPARE(screen->sbtImportExport->isEnabled(), enabledAfter);
    QVERIFY(!frmFiltroCompraLEGALBA->isVisible());
}

void tst_PackageSpine::finalizationClearsTheSelectionTexts()
{
    stStatus = QStringLiteral("N");
    stCodTipoOper = QStringLiteral("E01,S10");
    stCodSerie = QStringLiteral("E1,S2");
    finalizeCli_Fis11001();
    QVERIFY(stStatus.isEmpty());
    QVERIFY(stCodTipoOper.isEmpty());
    QVERIFY(stCodSerie.isEmpty());
}

QTEST_MAIN(tst_PackageSpine)
#include "tst_packagespine.moc"
