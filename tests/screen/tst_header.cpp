// The header of the export screen: the tax and company codes validated against the demo
// database, their lookups, and how entering and leaving the header gate the invoice list, the
// Filter command and the filter dialog. The screen is built without FormCreate (no server); the
// filter dialog it opens is closed by a watcher as soon as it shows.
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "testsupport/demohost.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace fis;

namespace {

// A list of `count` unmarked invoices as the server sends it.
QByteArray packet(int count)
{
    const QList<FieldDef> fields = compralegal::notaFiscalFields();
    PacketWriter writer(fields, count);
    for (int i = 0; i < count; ++i) {
        for (const FieldDef &field : fields) {
            if (field.name == QLatin1String("IDSTATUS"))
                writer.addText(QStringLiteral("U"));
            else if (field.name == QLatin1String("IDENTRSAIDOP"))
                writer.addText(QStringLiteral("E"));
            else if (field.name == QLatin1String("NRLANCTONF"))
                writer.addText(QString::number(i + 1));
            else if (field.type == FieldType::Float)
                writer.addFloat(10.0 + i);
            else if (field.type == FieldType::DateTime)
                writer.addDateTime(QDateTime(QDate(2025, 5, 1 + i), QTime()));
            else if (field.isText())
                writer.addText(QStringLiteral("X"));
            else
                writer.addNull();
        }
    }
    return writer.finish();
}

// Counts the modal windows shown while it runs, closing each one at once.
class ModalWatch
{
public:
    ModalWatch()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible()) {
                ++m_count;
                modal->close();
            }
        });
        m_timer.start();
    }
    int count() const { return m_count; }

private:
    QTimer m_timer;
    int m_count = 0;
};

} // namespace

class tst_Header : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void layoutAndTabOrder();
    void oneDigitCodesAreFittedAndKept();
    void badCodesKeepTheFocus_data();
    void badCodesKeepTheFocus();
    void typingClearsTheName();
    void lookupFillsCodeAndName();
    void enteringACodeClosesTheListAndDisablesFilter();
    void fileNameAndOutAgainOpensNoDialog();
    void filterCommandEmptiesTheListFirst();

private:
    void tab(Qt::KeyboardModifiers modifiers = {});
    void clickInto(QWidget *widget);
    void clickGrid();
    void reactivate();
    // Valid codes in both fields, then on into the grid, whose filter dialog is closed; the list
    // is then loaded with invoices.
    void reachGridWithInvoices();

    std::unique_ptr<test::DemoHost> m_host;
    std::unique_ptr<RecordingPresenter> m_presenter;
    std::unique_ptr<TfrmCompraLegalBA> m_screen;
};

void tst_Header::initTestCase()
{
    m_host = std::make_unique<test::DemoHost>(10);
    QVERIFY(m_host->isValid());
}

void tst_Header::cleanupTestCase()
{
    delete frmFiltroCompraLEGALBA;
    m_host.reset();
}

void tst_Header::init()
{
    m_presenter = std::make_unique<RecordingPresenter>();
    m_screen = std::make_unique<TfrmCompraLegalBA>();
    m_screen->show();
    reactivate();
    m_screen->medCdImposto->setFocus();
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdImposto);
}

void tst_Header::cleanup()
{
    m_screen.reset();
    m_presenter.reset();
}

void tst_Header::tab(Qt::KeyboardModifiers modifiers)
{
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, modifiers & Qt::ShiftModifier ? Qt::Key_Backtab : Qt::Key_Tab,
                    modifiers);
}

void tst_Header::clickInto(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(4, widget->height() / 2));
}

void tst_Header::reactivate()
{
    // The offscreen platform does not give the activation back when a modal window closes.
    m_screen->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_screen.get()));
}

void tst_Header::clickGrid()
{
    QWidget *viewport = m_screen->dbgPadrao->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center());
}

void tst_Header::reachGridWithInvoices()
{
    QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("01"));
    tab();
    QTest::keyClicks(m_screen->medCdEmpresa, QStringLiteral("01"));
    tab();
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    {
        const ModalWatch watch;
        tab();
        QCOMPARE(watch.count(), 1);
    }
    reactivate();
    QCOMPARE(QApplication::focusWidget(), m_screen->dbgPadrao);
    m_screen->cdsNotaFiscal->loadFromPacket(packet(3));
    QCOMPARE(m_screen->cdsNotaFiscal->recordCount(), 3);
    QVERIFY(m_screen->sbtFiltro->isEnabled());
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_Header::layoutAndTabOrder()
{
    TfrmCompraLegalBA &s = *m_screen;
    QCOMPARE(s.Panel2->height(), 76);
    QCOMPARE(s.medCdImposto->geometry().x(), 116);
    QCOMPARE(s.medCdImposto->width(), 27);
    QCOMPARE(s.btpImposto->geometry(), QRect(147, s.btpImposto->y(), 21, 24));
    QCOMPARE(s.edtNmImposto->x(), 172);
    QCOMPARE(s.edtNmImposto->width(), 365);
    QVERIFY(!s.edtNmImposto->isEnabled());
    QCOMPARE(s.edtNmImposto->palette().color(QPalette::Base),
             s.edtNmImposto->palette().color(QPalette::Button));
    QCOMPARE(s.medCdEmpresa->x(), 116);
    QVERIFY(qAbs(s.medCdEmpresa->y() - 27) <= 3);
    QCOMPARE(s.btpEmpresa->size(), QSize(21, 24));
    QVERIFY(!s.edtNmEmpresa->isEnabled());
    QCOMPARE(s.edtNmEmpresa->width(), 365);
    QVERIFY(qAbs(s.edtNmArquivo->y() - 53) <= 3);
    QCOMPARE(s.edtNmArquivo->width(), 421);
    QCOMPARE(s.edtNmArquivo->maxLength(), 16);
    QCOMPARE(s.medCdEmpresa->editMask(), QStringLiteral("99;0; "));
    QCOMPARE(s.medCdEmpresa->palette().color(QPalette::Base),
             s.medCdEmpresa->palette().color(QPalette::ToolTipBase));
    QCOMPARE(s.btpImposto->Title(), QStringLiteral("Imposto"));
    QCOMPARE(s.btpEmpresa->EmptyError(), QStringLiteral("Não há empresa cadastrada."));
    QCOMPARE(s.btpImposto->Associate(), s.medCdImposto);
    QCOMPARE(s.btpEmpresa->Associate(), s.medCdEmpresa);

    QStringList labels;
    for (QLabel *label : s.Panel2->findChildren<QLabel *>())
        labels << label->text().remove(QLatin1Char('&'));
    QVERIFY(labels.contains(QStringLiteral("Imposto")));
    QVERIFY(labels.contains(QStringLiteral("Empresa")));
    QVERIFY(labels.contains(QStringLiteral("Nome do Arquivo")));

    QCOMPARE(s.medCdImposto->nextInFocusChain(), s.medCdEmpresa);
    QCOMPARE(s.msgPadrao.Msg(QStringLiteral("Empr_Cad")),
             QStringLiteral("Empresa não cadastrada."));
}

void tst_Header::oneDigitCodesAreFittedAndKept()
{
    QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("2"));
    tab();
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdEmpresa);
    QCOMPARE(m_screen->medCdImposto->text(), QStringLiteral("02"));
    QCOMPARE(m_screen->edtNmImposto->text(), QStringLiteral("IPI"));

    QTest::keyClicks(m_screen->medCdEmpresa, QStringLiteral("1"));
    tab();
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    QCOMPARE(m_screen->medCdEmpresa->text(), QStringLiteral("01"));
    QCOMPARE(m_screen->edtNmEmpresa->text(), QStringLiteral("Comercial Baiana de Alimentos Ltda"));
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_Header::badCodesKeepTheFocus_data()
{
    QTest::addColumn<bool>("company");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byClick");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("message");
    const QString taxEmpty = QStringLiteral("Imposto deve ser informado.");
    const QString taxUnknown = QStringLiteral("Imposto não cadastrado.");
    const QString companyEmpty = QStringLiteral("Empresa deve ser informada.");
    const QString companyUnknown = QStringLiteral("Empresa não cadastrada.");
    QTest::newRow("empty tax, Tab") << false << QString() << false << QString() << taxEmpty;
    QTest::newRow("empty tax, click") << false << QString() << true << QString() << taxEmpty;
    QTest::newRow("unknown tax, Tab") << false << "7" << false << "07" << taxUnknown;
    QTest::newRow("unknown tax, click") << false << "99" << true << "99" << taxUnknown;
    QTest::newRow("empty company, Tab") << true << QString() << false << QString() << companyEmpty;
    QTest::newRow("empty company, click") << true << QString() << true << QString() << companyEmpty;
    QTest::newRow("unknown company, Tab") << true << "4" << false << "04" << companyUnknown;
    QTest::newRow("unknown company, click") << true << "99" << true << "99" << companyUnknown;
}

void tst_Header::badCodesKeepTheFocus()
{
    QFETCH(bool, company);
    QFETCH(QString, typed);
    QFETCH(bool, byClick);
    QFETCH(QString, kept);
    QFETCH(QString, message);

    MaskEdit *code = m_screen->medCdImposto;
    QLineEdit *name = m_screen->edtNmImposto;
    if (company) {
        QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("01"));
        tab();
        code = m_screen->medCdEmpresa;
        name = m_screen->edtNmEmpresa;
    }
    QCOMPARE(QApplication::focusWidget(), code);
    QTest::keyClicks(code, typed);

    const ModalWatch watch;
    if (byClick)
        clickGrid();
    else
        tab();
    QCOMPARE(watch.count(), 0);
    QCOMPARE(m_presenter->errors(), QStringList{message});
    // The focus was back in the field before the message came, and stays there.
    QCOMPARE(m_presenter->messages().constFirst().focusWidget.data(), code);
    QCOMPARE(QApplication::focusWidget(), code);
    QCOMPARE(code->text(), kept);
    QVERIFY(name->text().isEmpty());
    QVERIFY(!m_screen->sbtFiltro->isEnabled());
    QVERIFY(!m_screen->mnuFiltro->isEnabled());
}

void tst_Header::typingClearsTheName()
{
    QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("03"));
    tab();
    QTest::keyClicks(m_screen->medCdEmpresa, QStringLiteral("02"));
    tab(Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdImposto);
    QCOMPARE(m_screen->edtNmImposto->text(), QStringLiteral("ISS"));
    QCOMPARE(m_screen->edtNmEmpresa->text(), QStringLiteral("Distribuidora São Salvador S.A."));

    QTest::keyClick(m_screen->medCdImposto, Qt::Key_Backspace);
    QVERIFY(m_screen->edtNmImposto->text().isEmpty());
    QCOMPARE(m_screen->edtNmEmpresa->text(), QStringLiteral("Distribuidora São Salvador S.A."));
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_Header::lookupFillsCodeAndName()
{
    int rows = -1;
    // The tax list: the third row by the keyboard.
    const auto shown =
        connect(m_screen->btpImposto, &TBtnPesquisa::lookupShown, this, [&rows](QWidget *window) {
            QTimer::singleShot(0, window, [window, &rows] {
                auto *lookup = qobject_cast<LookupDialog *>(window);
                QVERIFY(lookup);
                rows = lookup->view()->model()->rowCount();
                QTest::keyClick(lookup->view(), Qt::Key_Down);
                QTest::keyClick(lookup->view(), Qt::Key_Down);
                QTest::keyClick(lookup->view(), Qt::Key_Return);
            });
        });
    QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("5"));
    QTest::mouseClick(m_screen->btpImposto, Qt::LeftButton);
    disconnect(shown);
    QCOMPARE(rows, 6);
    QCOMPARE(m_screen->medCdImposto->text(), QStringLiteral("03"));
    QCOMPARE(m_screen->edtNmImposto->text(), QStringLiteral("ISS"));
    reactivate();
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdImposto);
    tab();
    QCOMPARE(m_screen->edtNmImposto->text(), QStringLiteral("ISS"));

    // The company list: the first row.
    connect(m_screen->btpEmpresa, &TBtnPesquisa::lookupShown, this, [](QWidget *window) {
        QTimer::singleShot(0, window, [window] {
            auto *lookup = qobject_cast<LookupDialog *>(window);
            QVERIFY(lookup);
            QTest::keyClick(lookup->view(), Qt::Key_Return);
        });
    });
    QTest::mouseClick(m_screen->btpEmpresa, Qt::LeftButton);
    QCOMPARE(m_screen->medCdEmpresa->text(), QStringLiteral("01"));
    QCOMPARE(m_screen->edtNmEmpresa->text(), QStringLiteral("Comercial Baiana de Alimentos Ltda"));
    reactivate();
    tab();
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    QCOMPARE(m_screen->edtNmEmpresa->text(), QStringLiteral("Comercial Baiana de Alimentos Ltda"));
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_Header::enteringACodeClosesTheListAndDisablesFilter()
{
    reachGridWithInvoices();
    QVERIFY(m_screen->mnuFiltro->isEnabled());

    clickInto(m_screen->medCdEmpresa);
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdEmpresa);
    QVERIFY(!m_screen->cdsNotaFiscal->isOpen());
    QVERIFY(!m_screen->sbtFiltro->isEnabled());
    QVERIFY(!m_screen->mnuFiltro->isEnabled());

    // Entering the tax code also brings the Export menu item to the Export button's state.
    QVERIFY(m_screen->sbtImportExport->isEnabled());
    m_screen->Exportar2->setEnabled(false);
    clickInto(m_screen->medCdImposto);
    QCOMPARE(QApplication::focusWidget(), m_screen->medCdImposto);
    QVERIFY(m_screen->Exportar2->isEnabled());
    QVERIFY(!m_screen->sbtFiltro->isEnabled());

    // Back out through the file name: the closed list makes the header open the dialog.
    tab();
    tab();
    const ModalWatch watch;
    tab();
    QCOMPARE(watch.count(), 1);
    reactivate();
    QCOMPARE(QApplication::focusWidget(), m_screen->dbgPadrao);
    QVERIFY(m_screen->sbtFiltro->isEnabled());
    QVERIFY(m_screen->mnuFiltro->isEnabled());
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_Header::fileNameAndOutAgainOpensNoDialog()
{
    reachGridWithInvoices();
    clickInto(m_screen->edtNmArquivo);
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    QVERIFY(m_screen->sbtFiltro->isEnabled());
    const ModalWatch watch;
    tab();
    QCOMPARE(watch.count(), 0);
    QCOMPARE(QApplication::focusWidget(), m_screen->dbgPadrao);
    QCOMPARE(m_screen->cdsNotaFiscal->recordCount(), 3);
    QVERIFY(m_screen->sbtFiltro->isEnabled());
}

void tst_Header::filterCommandEmptiesTheListFirst()
{
    reachGridWithInvoices();
    // What the dialog finds when it opens: the list already closed. Cancel leaves it so.
    auto cancelDialog = [this](bool *listOpenAtDialog, int *dialogs) {
        QTimer::singleShot(0, [this, listOpenAtDialog, dialogs] {
            QWidget *modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            ++*dialogs;
            *listOpenAtDialog = m_screen->cdsNotaFiscal->isOpen();
            auto *cancel = modal->findChild<QAbstractButton *>(QStringLiteral("sbtCancel"));
            QVERIFY(cancel);
            cancel->click();
        });
    };
    bool listOpenAtDialog = true;
    int dialogs = 0;
    cancelDialog(&listOpenAtDialog, &dialogs);
    QTest::mouseClick(m_screen->sbtFiltro, Qt::LeftButton);
    QCOMPARE(dialogs, 1);
    QVERIFY(!listOpenAtDialog);
    QVERIFY(!m_screen->cdsNotaFiscal->isOpen());
    QVERIFY(m_screen->cdsNotaFiscal->isEmpty());
    reactivate();

    // The menu item's shortcut does the same while it is enabled ...
    m_screen->cdsNotaFiscal->loadFromPacket(packet(2));
    m_screen->dbgPadrao->setFocus();
    listOpenAtDialog = true;
    cancelDialog(&listOpenAtDialog, &dialogs);
    QTest::keyClick(m_screen->dbgPadrao, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(dialogs, 2);
    QVERIFY(!listOpenAtDialog);
    reactivate();

    // ... and nothing once entering a code field has disabled it.
    clickInto(m_screen->medCdEmpresa);
    QVERIFY(!m_screen->mnuFiltro->isEnabled());
    const ModalWatch watch;
    QTest::keyClick(m_screen->medCdEmpresa, Qt::Key_L, Qt::ControlModifier);
    QTest::qWait(50);
    QCOMPARE(watch.count(), 0);
    QVERIFY(m_presenter->errors().isEmpty());
}

QTEST_MAIN(tst_Header)
#include "tst_header.moc"
