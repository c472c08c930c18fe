// The export from the screen: the output name's keys, the header checks, and whole runs driven
// by real keys and clicks against the demo database and the real application server (a scripted
// server for a failing file).
#include "contracts/compralegalcontract.h"
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "hostfw/widgets/waitindicator.h"
#include "rpcclient/netconnection.h"
#include "spinetestsupport.h"
#include "testsupport/demohost.h"
#include "testsupport/scriptedexportserver.h"
#include "testsupport/serverprocess.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QSqlQuery>
#include <QTest>

#include <memory>

#include <xcb/xcb.h>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

class tst_ExportScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void outputNameRefusesTwelveCharacters_data();
    void outputNameRefusesTwelveCharacters();
    void outputNameTakesDotsDashesSpacesDigitsAndAccents();
    void outputNameTakesSixteenCharacters();
    void headerChecksInOrderWithTheirFocus_data();
    void headerChecksInOrderWithTheirFocus();
    void exportWritesOneFilePerRegistration();
    void nothingMarkedAsksDirectoryAndListFirst();
    void closedListExportsNothingAndTheGridFollowsAgain();
    void failingFileShowsTheServerTextAndRunsTheGuard();
    void waitIndicatorIsOnTheScreenBeforeEachCall();
    void menuShortcutsReachFromTheHeaderEdits();
    void disabledMenuItemsDoNotReact();

private:
    // Opens the filter dialog and confirms its defaults: the pending invoices of the period.
    void loadPending();
    // Marks rows by moving to them and pressing Space in the grid.
    void markRows(const QList<int> &rows);
    // Rows of the list: the first `perRegistration` of each of the first two registrations.
    QList<int> rowsOfTwoRegistrations(int perRegistration) const;
    QString value(int row, const char *field) const;
    QString exportedFlag(const QString &key) const;
    void pressCtrlE(QWidget *where);

    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<RecordingPresenter> m_presenter;
    std::unique_ptr<TfrmCompraLegalBA> m_screen;
};

void tst_ExportScreen::initTestCase()
{
    m_host = std::make_unique<DemoHost>(600);
    QVERIFY2(m_host->isValid(), qPrintable(m_host->error()));
    m_server = std::make_unique<ServerProcess>(m_host->serverDatabase(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_host->setServerPort(m_server->port());
}

void tst_ExportScreen::cleanupTestCase()
{
    m_server.reset();
    m_host.reset();
}

void tst_ExportScreen::init()
{
    delete frmFiltroCompraLEGALBA;
    stCodSerie.clear();
    stCodTipoOper.clear();
    boConfirma = false;
    m_presenter = std::make_unique<RecordingPresenter>();
    m_screen = std::make_unique<TfrmCompraLegalBA>();
    frmCompraLegalBA = m_screen.get();
    m_screen->NetCompraLEGALBA->open();
    m_screen->medCdImposto->setText(QStringLiteral("01"));
    m_screen->medCdEmpresa->setText(QStringLiteral("01"));
    m_screen->edtNmArquivo->setText(QStringLiteral("COMPRA.TXT"));
    m_screen->show();
    m_screen->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_screen.get()));
}

void tst_ExportScreen::cleanup()
{
    delete frmFiltroCompraLEGALBA;
    m_screen.reset();
    frmCompraLegalBA = nullptr;
    m_presenter.reset();
    for (const QString &name : QDir(m_host->outputDir()).entryList(QDir::Files))
        QFile::remove(QDir(m_host->outputDir()).filePath(name));
}

void tst_ExportScreen::loadPending()
{
    bool confirmed = false;
    whenModal([&confirmed](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
        confirmed = true;
    });
    CriaFtrCompraLEGAL();
    QVERIFY(confirmed);
    QVERIFY(m_screen->cdsNotaFiscal->recordCount() > 0);
    m_screen->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_screen.get()));
}

void tst_ExportScreen::markRows(const QList<int> &rows)
{
    m_screen->dbgPadrao->setFocus();
    for (int row : rows) {
        m_screen->cdsNotaFiscal->moveTo(row);
        QTest::keyClick(m_screen->dbgPadrao, Qt::Key_Space);
        QCOMPARE(value(row, "IDSTATUS"), QStringLiteral("C"));
    }
}

QList<int> tst_ExportScreen::rowsOfTwoRegistrations(int perRegistration) const
{
    QHash<QString, QList<int>> byRegistration;
    QStringList order;
    for (int row = 0; row < m_screen->cdsNotaFiscal->recordCount(); ++row) {
        const QString reg = value(row, "CDINSCESTA").toCaseFolded();
        if (!byRegistration.contains(reg))
            order << reg;
        if (byRegistration[reg].size() < perRegistration)
            byRegistration[reg] << row;
    }
    QList<int> rows;
    for (int i = 0; i < 2 && i < order.size(); ++i)
        rows << byRegistration.value(order.at(i));
    return rows;
}

QString tst_ExportScreen::value(int row, const char *field) const
{
    const MemTable &t = *m_screen->cdsNotaFiscal;
    return t.viewValue(row, t.indexOfField(QString::fromLatin1(field))).toString();
}

QString tst_ExportScreen::exportedFlag(const QString &key) const
{
    QSqlQuery query(m_host->database().database());
    query.prepare(
        QStringLiteral("SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL || NRLANCTONF = ?"));
    query.addBindValue(key);
    // Firebird pads a CHAR(1) in UTF8 with blanks.
    return query.exec() && query.next() ? query.value(0).toString().trimmed() : QString();
}

void tst_ExportScreen::pressCtrlE(QWidget *where)
{
    QTest::keyClick(where, Qt::Key_E, Qt::ControlModifier);
}

void tst_ExportScreen::outputNameRefusesTwelveCharacters_data()
{
    QTest::addColumn<QString>("character");
    QTest::addRow("asterisk") << "*";
    QTest::addRow("backslash") << "\\";
    QTest::addRow("slash") << "/";
    QTest::addRow("hash") << "#";
    QTest::addRow("exclamation mark") << "!";
    QTest::addRow("question mark") << "?";
    QTest::addRow("at sign") << "@";
    QTest::addRow("dollar") << "$";
    QTest::addRow("percent") << "%";
    QTest::addRow("ampersand") << "&";
    QTest::addRow("plus") << "+";
    QTest::addRow("comma") << ",";
}

void tst_ExportScreen::outputNameRefusesTwelveCharacters()
{
    QFETCH(QString, character);
    QLineEdit *name = m_screen->edtNmArquivo;
    name->clear();
    QTest::mouseClick(name, Qt::LeftButton);
    QTest::keyClicks(name, QStringLiteral("ARQ"));
    m_presenter->clear();
    QTest::keyClicks(name, character);
    QCOMPARE(name->text(), QStringLiteral("ARQ"));
    QCOMPARE(m_presenter->errors(),
             QStringList{QStringLiteral("O arquivo deve conter um nome válido.")});
}

void tst_ExportScreen::outputNameTakesDotsDashesSpacesDigitsAndAccents()
{
    QLineEdit *name = m_screen->edtNmArquivo;
    name->clear();
    QTest::mouseClick(name, Qt::LeftButton);
    QTest::keyClicks(name, QStringLiteral("ARQ"));
    m_presenter->clear();
    QTest::keyClicks(name, QStringLiteral(".-_ 9"));
    QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QStringLiteral("ç"), Qt::NoModifier);
    QCOMPARE(name->text(), QStringLiteral("ARQ.-_ 9ç"));
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_ExportScreen::outputNameTakesSixteenCharacters()
{
    QLineEdit *name = m_screen->edtNmArquivo;
    name->clear();
    QTest::mouseClick(name, Qt::LeftButton);
    QTest::keyClicks(name, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(name->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));
}

// Each check passes the fields before it, so the rows also show their order.
void tst_ExportScreen::headerChecksInOrderWithTheirFocus_data()
{
    QTest::addColumn<QString>("tax");
    QTest::addColumn<QString>("company");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus"); // the control's name
    const QString none;
    QTest::addRow("no tax") << none << none << none << QStringLiteral("Imposto deve ser informado.")
                            << QStringLiteral("medCdImposto");
    QTest::addRow("no company") << QStringLiteral("01") << none << none
                                << QStringLiteral("Empresa deve ser informada.")
                                << QStringLiteral("medCdEmpresa");
    QTest::addRow("blank file name")
        << QStringLiteral("01") << QStringLiteral("01") << QStringLiteral("  ")
        << QStringLiteral("Nome do arquivo deve ser informado.") << QStringLiteral("edtNmArquivo");
}

void tst_ExportScreen::headerChecksInOrderWithTheirFocus()
{
    QFETCH(QString, tax);
    QFETCH(QString, company);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    loadPending();
    QVERIFY(m_screen->sbtImportExport->isEnabled());
    const int callsBefore = m_server->log().count(QStringLiteral("GetDiretorio"));

    m_screen->medCdImposto->setText(tax);
    m_screen->medCdEmpresa->setText(company);
    m_screen->edtNmArquivo->setText(name);
    m_presenter->clear();
    QTest::mouseClick(m_screen->sbtImportExport, Qt::LeftButton);
    QCOMPARE(m_presenter->errors(), QStringList{message});
    QWidget *focused = m_presenter->messages().first().focusWidget.data();
    QVERIFY(focused);
    QCOMPARE(focused->objectName(), focus);
    QVERIFY(m_presenter->informations().isEmpty());
    QCOMPARE(m_server->log().count(QStringLiteral("GetDiretorio")), callsBefore);
}

void tst_ExportScreen::exportWritesOneFilePerRegistration()
{
    loadPending();
    const QList<int> rows = rowsOfTwoRegistrations(3);
    QVERIFY(rows.size() >= 4);
    QStringList keys;
    QHash<QString, int> invoicesOf; // per registration, folded
    QSet<QString> numbers;
    for (int row : rows) {
        keys << value(row, "CDFILIAL") + value(row, "NRLANCTONF");
        ++invoicesOf[value(row, "CDINSCESTA").toCaseFolded()];
        numbers << value(row, "NRNOTAFISC").right(6).rightJustified(6, u'0');
    }
    markRows(rows);

    QTest::mouseClick(m_screen->sbtImportExport, Qt::LeftButton);
    QCOMPARE(m_presenter->errors(), QStringList());
    QCOMPARE(m_presenter->informations(),
             QStringList{QStringLiteral("Exportação foi concluída com sucesso.")});
    QVERIFY(!isWaitIndicatorShown());

    // One file per registration, numbered by the server in the order of the list's files.
    const MemTable &files = *m_screen->cdsArquivos;
    QCOMPARE(files.recordCount(), invoicesOf.size());
    const QStringList names{QStringLiteral("COMPRA_0001_.txt"), QStringLiteral("COMPRA_0002_.txt")};
    QCOMPARE(QDir(m_host->outputDir()).entryList(QDir::Files, QDir::Name), names);

    QSet<QString> numbersWritten;
    for (int row = 0; row < files.recordCount(); ++row) {
        const QString registration =
            files.valueAt(row, files.indexOfField(QStringLiteral("CDINSCESTA"))).toString();
        QFile file(QDir(m_host->outputDir()).filePath(names.at(row)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        lines.removeLast();
        QStringList types;
        int invoices = 0;
        for (const QByteArray &line : lines) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            QCOMPARE(line.size(), 127); // 126 characters, then CR
            types << QString::fromLatin1(line.left(2));
            if (line.startsWith("50")) {
                ++invoices;
                numbersWritten << QString::fromLatin1(line.mid(45, 6));
            }
        }
        // The record types in their order: 10, 11, 50..., 54..., 75..., 90...
        QCOMPARE(types.first(), QStringLiteral("10"));
        QCOMPARE(types.at(1), QStringLiteral("11"));
        QCOMPARE(types.constLast(), QStringLiteral("90"));
        QStringList sorted = types;
        std::stable_sort(sorted.begin(), sorted.end());
        QCOMPARE(types, sorted);
        QCOMPARE(QString::fromLatin1(lines.first().mid(16, 14)).trimmed(),
                 registration.trimmed().toUpper());
        QCOMPARE(invoices, invoicesOf.value(registration.toCaseFolded()));
    }
    QCOMPARE(numbersWritten, numbers);

    // Exported in the database, and gone from the pending list the run reloaded.
    for (const QString &key : keys)
        QCOMPARE(exportedFlag(key), QStringLiteral("S"));
    for (int row = 0; row < m_screen->cdsNotaFiscal->recordCount(); ++row)
        QVERIFY(!keys.contains(value(row, "CDFILIAL") + value(row, "NRLANCTONF")));
    QVERIFY(m_screen->cdsLista->isOpen());
    QVERIFY(m_screen->cdsLista->isEmpty());
    QCOMPARE(stStatus, QStringLiteral("N"));
}

void tst_ExportScreen::nothingMarkedAsksDirectoryAndListFirst()
{
    loadPending();
    const qsizetype directories = m_server->log().count(QStringLiteral("GetDiretorio"));
    const qsizetype lists = m_server->log().count(QStringLiteral("GetLista"));
    m_screen->edtNmArquivo->setFocus();
    // The offscreen platform leaves no window active once the wait indicator went, so the
    // focus is read from the screen itself when the message comes.
    QWidget *focusAtMessage = nullptr;
    m_presenter->onMessage = [&](const RecordingPresenter::Message &) {
        focusAtMessage = m_screen->focusWidget();
    };
    pressCtrlE(m_screen->edtNmArquivo);
    QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Nenhum documento foi informado.")});
    QCOMPARE(focusAtMessage, m_screen->dbgPadrao);
    QVERIFY(m_presenter->informations().isEmpty());
    QTRY_COMPARE(m_server->log().count(QStringLiteral("GetDiretorio")), directories + 1);
    QCOMPARE(m_server->log().count(QStringLiteral("GetLista")), lists + 1);
    QVERIFY(!isWaitIndicatorShown());
}

void tst_ExportScreen::closedListExportsNothingAndTheGridFollowsAgain()
{
    loadPending();
    markRows({0, 1});
    // Entering the company field closes the list; the Export button stays available.
    QTest::mouseClick(m_screen->medCdEmpresa, Qt::LeftButton);
    QVERIFY(!m_screen->cdsNotaFiscal->isOpen());
    QVERIFY(m_screen->Exportar2->isEnabled());

    const qsizetype fileLists = m_server->log().count(QStringLiteral("getNotasMarcadas"));
    pressCtrlE(m_screen->medCdEmpresa);
    QCOMPARE(m_presenter->errors().value(0), QStringLiteral("Nenhum documento foi informado."));
    QCOMPARE(m_server->log().count(QStringLiteral("getNotasMarcadas")), fileLists);
    QVERIFY(!m_screen->cdsNotaFiscal->controlsDisabled());

    // Loaded again, the grid follows the list: its rows, and a mark by Space.
    loadPending();
    QCOMPARE(m_screen->dbgPadrao->model()->rowCount(), m_screen->cdsNotaFiscal->recordCount());
    QVERIFY(!m_screen->cdsNotaFiscal->controlsDisabled());
    markRows({0});
}

void tst_ExportScreen::failingFileShowsTheServerTextAndRunsTheGuard()
{
    loadPending();
    markRows({0});
    ScriptedExportServer scripted;
    scripted.serveInto(m_host->outputDir());
    scripted.script.files = {{value(0, "CDINSCESTA"),
                              QStringLiteral("0001"),
                              {{QStringLiteral("x")}},
                              QStringLiteral("Falha ao montar o arquivo.")}};
    // What the wait indicator says while the page is asked for; the screen's thread is blocked
    // in the call meanwhile.
    QString waitText, waitDetail;
    scripted.script.onRegistro = [&](RpcArgs &, int, int) {
        if (QWidget *wait = waitIndicatorWindow()) {
            waitText = wait->findChild<QLabel *>(QStringLiteral("waitText"))->text();
            waitDetail = wait->findChild<QLabel *>(QStringLiteral("waitDetail"))->text();
        }
    };
    m_screen->NetCompraLEGALBA->close();
    m_host->setServerPort(scripted.port());
    m_screen->NetCompraLEGALBA->open();
    m_host->setServerPort(m_server->port());

    QTest::mouseClick(m_screen->sbtImportExport, Qt::LeftButton);
    QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Falha ao montar o arquivo.")});
    QVERIFY(m_presenter->informations().isEmpty());
    QCOMPARE(waitText, QStringLiteral("Carregando dados do servidor..."));
    QCOMPARE(waitDetail, QStringLiteral("Arquivo 1 de 1, página 1, 0 linhas gravadas"));
    QVERIFY(!isWaitIndicatorShown());
    QCOMPARE(scripted.methods(), (QStringList{"GetDiretorio", "GetLista", "getNotasMarcadas",
                                              "GetRegistro", "GetNotaFiscal", "GetDeletaLista"}));
    // The reload sends the status by reference, with the filter's entries.
    const RecordedCall reload = scripted.callsOf(QStringLiteral("GetNotaFiscal")).first();
    QCOMPARE(reload.args.size(), 12);
    QCOMPARE(reload.args.at(0).toText(), QStringLiteral("01"));
    QCOMPARE(reload.args.at(10).toText(), QStringLiteral("N"));
    QCOMPARE(reload.byRef, (QList<qsizetype>{6, 7, 10}));
    QCOMPARE(scripted.callsOf(QStringLiteral("GetDeletaLista")).first().args,
             QList<RpcValue>{QStringLiteral("17")});
    QVERIFY(m_screen->cdsLista->isEmpty());
    QVERIFY(QDir(m_host->outputDir()).entryList(QDir::Files).isEmpty());
    QVERIFY(boConfirma);
}

namespace {

// What the X server shows in `rect` of the screen, read on a connection of our own: the thread
// that owns the widgets is blocked in a call meanwhile.
QImage grabFromXServer(const QRect &rect)
{
    int number = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &number);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return {};
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < number && it.rem; ++i)
        xcb_screen_next(&it);
    QImage image;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, it.data->root, int16_t(rect.x()),
                      int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height()), ~0u),
        nullptr);
    if (reply && reply->depth >= 24 &&
        xcb_get_image_data_length(reply) == rect.width() * rect.height() * 4)
        image = QImage(xcb_get_image_data(reply), rect.width(), rect.height(), rect.width() * 4,
                       QImage::Format_RGB32)
                    .copy();
    free(reply);
    xcb_disconnect(c);
    return image;
}

// The share of pixels that differ between two images of one size (1 when the sizes differ).
double differing(const QImage &a, const QImage &b)
{
    if (a.isNull() || a.size() != b.size())
        return 1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 count = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            count += (x.pixel(col, row) & RGB_MASK) != (y.pixel(col, row) & RGB_MASK);
    return double(count) / double(x.width() * x.height());
}

// What the indicator showed on the screen when a call reached the server.
struct OnScreen
{
    QString text;
    QString detail;
    QImage pixels;
};

void grabIndicator(OnScreen &seen)
{
    QWidget *wait = waitIndicatorWindow();
    if (!wait)
        return;
    seen.text = wait->findChild<QLabel *>(QStringLiteral("waitText"))->text();
    const auto *detail = wait->findChild<QLabel *>(QStringLiteral("waitDetail"));
    seen.detail = detail->isVisible() ? detail->text() : QString();
    seen.pixels = grabFromXServer(wait->geometry());
}

} // namespace

void tst_ExportScreen::waitIndicatorIsOnTheScreenBeforeEachCall()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("what the X server shows needs an X display: tst_exportscreen_desktop runs it");
    ScriptedExportServer scripted;
    scripted.serveInto(m_host->outputDir());
    scripted.script.notas = {[] {
        DataRow row(compralegal::notaFiscalFields().size());
        row[0] = QStringLiteral("E");
        row[1] = QStringLiteral("N");
        row[2] = QStringLiteral("U");
        row[3] = QStringLiteral("0001");
        row[5] = QStringLiteral("10");
        row[10] = QStringLiteral("052147836");
        return row;
    }()};
    scripted.script.files = {
        {QStringLiteral("052147836"), QStringLiteral("0001"), {{QStringLiteral("x")}}}};
    OnScreen atConfirmation, atPage;
    bool confirming = true;
    scripted.script.onNotaFiscal = [&](RpcArgs &) {
        if (confirming)
            grabIndicator(atConfirmation);
    };
    scripted.script.onRegistro = [&](RpcArgs &, int, int) {
        grabIndicator(atPage);
    };
    m_screen->NetCompraLEGALBA->close();
    m_host->setServerPort(scripted.port());
    m_screen->NetCompraLEGALBA->open();
    m_host->setServerPort(m_server->port());

    loadPending();
    confirming = false;
    markRows({0});
    QTest::mouseClick(m_screen->sbtImportExport, Qt::LeftButton);
    QCOMPARE(m_presenter->errors(), QStringList());

    // Each time, the indicator's text was on the screen as the widget paints it.
    const auto expected = [this](const OnScreen &seen) {
        ActiveShowAvi(m_screen.get(), 6, seen.text);
        if (!seen.detail.isEmpty())
            setWaitDetail(seen.detail);
        const QImage painted = waitIndicatorWindow()->grab().toImage();
        DeactiveShowAvi();
        return painted;
    };
    QCOMPARE(atConfirmation.text, QStringLiteral("Carregando dados do servidor..."));
    QCOMPARE(atPage.text, QStringLiteral("Carregando dados do servidor..."));
    QCOMPARE(atPage.detail, QStringLiteral("Arquivo 1 de 1, página 1, 0 linhas gravadas"));
    const auto check = [&](const OnScreen &seen, const char *when) {
        const QImage painted = expected(seen);
        const double share = differing(seen.pixels, painted);
        return share < 0.01 ? QString()
                            : QStringLiteral("the indicator was not on the screen when %1: %2 of "
                                             "%3 x %4 pixels differ from its %5 x %6 picture")
                                  .arg(QLatin1String(when))
                                  .arg(share)
                                  .arg(seen.pixels.width())
                                  .arg(seen.pixels.height())
                                  .arg(painted.width())
                                  .arg(painted.height());
    };
    const QString confirmation = check(atConfirmation, "the confirmation's call began");
    QVERIFY2(confirmation.isEmpty(), qPrintable(confirmation));
    const QString page = check(atPage, "the first page was asked for");
    QVERIFY2(page.isEmpty(), qPrintable(page));
}

void tst_ExportScreen::menuShortcutsReachFromTheHeaderEdits()
{
    // On a desktop a line edit binds Ctrl+E to "end of line"; the menu item still has it.
    loadPending();
    // Leaving the header makes Filter available.
    QTest::mouseClick(m_screen->dbgPadrao->viewport(), Qt::LeftButton);
    QVERIFY(m_screen->mnuFiltro->isEnabled());
    QTest::mouseClick(m_screen->edtNmArquivo, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    bool filterShown = false;
    whenModal([&filterShown](QWidget *modal) {
        filterShown = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal) != nullptr;
        modal->close();
    });
    QTest::keyClick(m_screen->edtNmArquivo, Qt::Key_L, Qt::ControlModifier);
    QVERIFY(filterShown);

    loadPending();
    markRows({0});
    QTest::mouseClick(m_screen->edtNmArquivo, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    pressCtrlE(m_screen->edtNmArquivo);
    QCOMPARE(m_presenter->errors(), QStringList());
    QCOMPARE(m_presenter->informations(),
             QStringList{QStringLiteral("Exportação foi concluída com sucesso.")});
    QCOMPARE(QDir(m_host->outputDir()).entryList(QDir::Files).size(), 1);
}

void tst_ExportScreen::disabledMenuItemsDoNotReact()
{
    // Nothing listed: Export is unavailable, and its shortcut does nothing from an edit.
    QVERIFY(!m_screen->Exportar2->isEnabled());
    const qsizetype directories = m_server->log().count(QStringLiteral("GetDiretorio"));
    QTest::mouseClick(m_screen->edtNmArquivo, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    bool modal = false;
    whenModal([](QWidget *w) { w->close(); }, &modal);
    pressCtrlE(m_screen->edtNmArquivo);
    QTest::qWait(50);
    QVERIFY(!modal);
    QCOMPARE(m_presenter->errors(), QStringList());
    QCOMPARE(m_presenter->informations(), QStringList());
    QCOMPARE(m_server->log().count(QStringLiteral("GetDiretorio")), directories);
    QCOMPARE(m_screen->edtNmArquivo->text(), QStringLiteral("COMPRA.TXT"));
}

QTEST_MAIN(tst_ExportScreen)
#include "tst_exportscreen.moc"
