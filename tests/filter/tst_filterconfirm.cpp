// The filter dialog's lists, checks and confirmation, driven by real clicks and keys against the
// demo database and the real application server; what each confirmation loads is compared with
// what a direct query of the database selects.
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/numberedit.h"
#include "hostfw/widgets/pesquisalista.h"
#include "hostfw/widgets/radiogroup.h"
#include "hostfw/widgets/useraction.h"
#include "hostfw/widgets/waitindicator.h"
#include "rpc/rpcerror.h"
#include "rpcclient/netconnection.h"
#include "rpcserver/rpcargs.h"
#include "spinetestsupport.h"
#include "testsupport/demohost.h"
#include "testsupport/scriptedexportserver.h"
#include "testsupport/serverprocess.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

namespace {

// Values picked from the data: pending in the dialog's default period.
struct Picked
{
    QString client; // a company's registration (CNPJ)
    QString number; // an invoice number
};

// What a row types or picks in the dialog before it is confirmed; returns the values its
// condition binds.
using Criterion = std::function<QVariantList(TfrmFiltroCompraLEGALBA &, const Picked &)>;

} // namespace

Q_DECLARE_METATYPE(Criterion)

class tst_FilterConfirm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void defaultsAndControls();
    void tabIntoTheGridOpensTheDialogAndDefaultsLoadThePendingInvoices();
    void candidateListsOncePerSourceNeverDoubled();
    void seriesButtonNeedsBothRegistrations();
    void databaseErrorInAListKeepsTheSelection();
    void seriesListMakesRegistrationsRequired();
    void registrationChangeDropsThePickedSeries();
    void refusalsInOrderWithTheirFocus();
    void periodRules();
    void allTypesAndAllSeriesSendEmptyKeys();
    void statusCodes_data();
    void statusCodes();
    void filtersLoadWhatTheDatabaseSelects_data();
    void filtersLoadWhatTheDatabaseSelects();
    void emptyAnswerClosesTheDialogSilently();
    void failingServerLeavesTheDialogOpenAndConfirmRepeats();
    void confirmationFlagAfterTheListChecks();

private:
    // Opens the dialog through CriaFtrCompraLEGAL, runs `drive` in it, cancels it if it is still
    // open afterwards, and returns what CriaFtrCompraLEGAL returned.
    bool inDialog(const std::function<void(TfrmFiltroCompraLEGALBA &)> &drive);
    // Runs `drive` on the picker a click opens, then confirms it with Enter.
    void pick(QAbstractButton *button, const std::function<void(PickListDialog &)> &drive);
    static void markKeys(PickListDialog &picker, const MemTable &table, const QStringList &keys);
    static void confirm(TfrmFiltroCompraLEGALBA &d);
    // CDFILIAL + NRLANCTONF of every row of the screen's list.
    QStringList loaded() const;
    // The same of the company 01 invoices that the condition selects, in the default period
    // unless the condition sets its own.
    QStringList expected(const QString &condition, const QVariantList &binds = {},
                         bool defaultPeriod = true) const;
    QString first(const QString &sql) const;

    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<RecordingPresenter> m_presenter;
    std::unique_ptr<TfrmCompraLegalBA> m_screen;
};

void tst_FilterConfirm::initTestCase()
{
    m_host = std::make_unique<DemoHost>(3000);
    QVERIFY(m_host->isValid());
    m_server = std::make_unique<ServerProcess>(m_host->databasePath(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_host->setServerPort(m_server->port());
}

void tst_FilterConfirm::cleanupTestCase()
{
    m_server.reset();
    m_host.reset();
}

void tst_FilterConfirm::init()
{
    // Every case starts from a new dialog and empty selections, as after loading the package.
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
    m_screen->show();
}

void tst_FilterConfirm::cleanup()
{
    delete frmFiltroCompraLEGALBA;
    m_screen.reset();
    frmCompraLegalBA = nullptr;
    m_presenter.reset();
}

bool tst_FilterConfirm::inDialog(const std::function<void(TfrmFiltroCompraLEGALBA &)> &drive)
{
    bool driven = false;
    whenModal(
        [drive](QWidget *modal) {
            auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            dialog->activateWindow();
            if (!QTest::qWaitForWindowActive(dialog))
                qWarning("the filter dialog did not become active");
            drive(*dialog);
            if (dialog->isVisible())
                QTest::mouseClick(dialog->sbtCancel, Qt::LeftButton);
        },
        &driven);
    const bool result = CriaFtrCompraLEGAL();
    if (!driven)
        qWarning("the filter dialog was not shown");
    return result;
}

void tst_FilterConfirm::pick(QAbstractButton *button,
                             const std::function<void(PickListDialog &)> &drive)
{
    bool shown = false;
    whenModal(
        [drive](QWidget *modal) {
            auto *picker = qobject_cast<PickListDialog *>(modal);
            if (!picker) {
                modal->close();
                return;
            }
            drive(*picker);
            QTest::keyClick(picker->view(), Qt::Key_Return);
        },
        &shown);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY2(shown, "no picker was shown");
    // The offscreen platform does not give the activation back when a modal window closes.
    button->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(button->window()));
}

void tst_FilterConfirm::markKeys(PickListDialog &picker, const MemTable &table,
                                 const QStringList &keys)
{
    const int key = table.indexOfField(QStringLiteral("CHAVE"));
    for (int row = 0; row < table.recordCount(); ++row) {
        if (!keys.contains(table.valueAt(row, key).toString()))
            continue;
        picker.view()->setCurrentIndex(picker.model()->index(row, 1));
        QTest::keyClick(picker.view(), Qt::Key_Space);
    }
}

void tst_FilterConfirm::confirm(TfrmFiltroCompraLEGALBA &d)
{
    QTest::mouseClick(d.sbtConfirma, Qt::LeftButton);
}

QStringList tst_FilterConfirm::loaded() const
{
    QStringList keys;
    const MemTable &list = *m_screen->cdsNotaFiscal;
    const int branch = list.indexOfField(QStringLiteral("CDFILIAL"));
    const int posting = list.indexOfField(QStringLiteral("NRLANCTONF"));
    for (int row = 0; row < list.recordCount(); ++row)
        keys << list.valueAt(row, branch).toString() + list.valueAt(row, posting).toString();
    keys.sort();
    return keys;
}

QStringList tst_FilterConfirm::expected(const QString &condition, const QVariantList &binds,
                                        bool defaultPeriod) const
{
    QString sql = QStringLiteral("SELECT N.CDFILIAL || N.NRLANCTONF FROM NFCOMPRA N "
                                 "WHERE N.CDEMPRESA = '01' AND (%1)")
                      .arg(condition);
    if (defaultPeriod)
        sql += QStringLiteral(" AND N.DTEMISSAO >= '2025-05-01' AND N.DTEMISSAO < '2025-05-21'");
    QSqlQuery query(m_host->database().database());
    query.prepare(sql);
    for (const QVariant &bind : binds)
        query.addBindValue(bind);
    if (!query.exec())
        qWarning("%s", qPrintable(query.lastError().text()));
    QStringList keys;
    while (query.next())
        keys << query.value(0).toString();
    keys.sort();
    return keys;
}

QString tst_FilterConfirm::first(const QString &sql) const
{
    QSqlQuery query(m_host->database().database());
    if (!query.exec(sql) || !query.next())
        return {};
    return query.value(0).toString();
}

void tst_FilterConfirm::defaultsAndControls()
{
    inDialog([](TfrmFiltroCompraLEGALBA &d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("Filtro de Compra LEGAL"));
        QVERIFY(!d.btfSaveOpc->isEnabled());
        QVERIFY(!d.btfLoadOpc->isEnabled());
        QCOMPARE(d.depEmiIni->GetDate(), QDate(2025, 5, 1));
        QCOMPARE(d.depEmiFin->GetDate(), QDate(2025, 5, 20));
        QCOMPARE(d.depEmiIni->ValidDateColor(), QColor(Qt::blue));
        QCOMPARE(d.depEmiFin->weekDayNames().constLast(), QStringLiteral("Sábado"));
        QCOMPARE(d.medNumNF->editMask(), QStringLiteral("99999999999999999999;0; "));
        QCOMPARE(d.medNumNF->maxLength(), 20);
        QCOMPARE(d.nedValor->decimals(), 2);
        QVERIFY(!d.nedValor->isCurrency());
        QVERIFY(d.grbSerie->isAncestorOf(d.nedValor));
        QVERIFY(d.grbSerie->isAncestorOf(d.medNumNF));
        QVERIFY(d.grbOperacao->isAncestorOf(d.btpTipoOper));
        QVERIFY(d.grbSerie1->isAncestorOf(d.btpSerie));
        QCOMPARE(d.rdgStatus->Items(),
                 QStringList({QStringLiteral("Pendente"), QStringLiteral("Exportado"),
                              QStringLiteral("Ambos")}));
        QCOMPARE(d.rdgStatus->ItemIndex(), 0);
        QVERIFY(d.rdgTodosTipoOper->isChecked());
        QVERIFY(d.rdgTodasSerie->isChecked());
        QVERIFY(!d.btpTipoOper->isEnabled());
        QVERIFY(!d.btpSerie->isEnabled());
        QVERIFY(!TfrmFiltroCompraLEGALBA::isRequired(d.edtCdInscEsta));
        QVERIFY(!TfrmFiltroCompraLEGALBA::isRequired(d.edtCdInscMuni));
        QCOMPARE(d.btpTipoOper->Title(), QStringLiteral("Tipo de Operação"));
        QCOMPARE(d.btpSerie->EmptyError(), QStringLiteral("Não há série cadastrada."));

        // Tab order from the municipal registration through the bottom row.
        d.edtCdInscMuni->setFocus();
        const QList<QWidget *> order = {d.nedValor, d.medNumNF, d.depEmiIni, d.depEmiFin,
                                        d.rdgTodosTipoOper};
        for (QWidget *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }

        // Leaving the NF number keeps what was typed: nothing gives the branch's width.
        QTest::mouseClick(d.medNumNF, Qt::LeftButton, {}, QPoint(4, d.medNumNF->height() / 2));
        QCOMPARE(QApplication::focusWidget(), d.medNumNF);
        QTest::keyClicks(d.medNumNF, QStringLiteral("12a3"));
        QTest::keyClick(d.medNumNF, Qt::Key_Tab);
        QCOMPARE(d.medNumNF->text(), QStringLiteral("123"));
    });
}

void tst_FilterConfirm::tabIntoTheGridOpensTheDialogAndDefaultsLoadThePendingInvoices()
{
    m_screen->medCdImposto->clear();
    m_screen->medCdEmpresa->clear();
    m_screen->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_screen.get()));
    m_screen->medCdImposto->setFocus();
    QTest::keyClicks(m_screen->medCdImposto, QStringLiteral("01"));
    QTest::keyClick(m_screen->medCdImposto, Qt::Key_Tab);
    QTest::keyClicks(m_screen->medCdEmpresa, QStringLiteral("01"));
    QTest::keyClick(m_screen->medCdEmpresa, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_screen->edtNmArquivo);
    QTest::keyClicks(m_screen->edtNmArquivo, QStringLiteral("COMPRAS.TXT"));

    bool driven = false;
    whenModal(
        [](QWidget *modal) {
            auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
        },
        &driven);
    QTest::keyClick(m_screen->edtNmArquivo, Qt::Key_Tab);
    QVERIFY(driven);
    QVERIFY2(m_presenter->errors().isEmpty(), qPrintable(m_presenter->errors().join('\n')));
    QVERIFY(!frmFiltroCompraLEGALBA->isVisible());
    QVERIFY(boConfirma);
    const QStringList pending = expected(QStringLiteral("N.IDNFCOMPRALEG <> 'S'"));
    QVERIFY(!pending.isEmpty());
    QCOMPARE(loaded(), pending);
    QVERIFY(m_screen->sbtImportExport->isEnabled());
    QVERIFY(!isWaitIndicatorShown());
    QCOMPARE(screenCursor(), Qt::ArrowCursor);
}

void tst_FilterConfirm::candidateListsOncePerSourceNeverDoubled()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        QVERIFY(d.btpTipoOper->isEnabled());
        // What the picker must offer: exit types in use, entry types in use that are also used
        // in invoice issue.
        QSqlQuery query(m_host->database().database());
        QVERIFY(query.exec(QStringLiteral(
            "SELECT IDENTRSAIDOP || CDTIPOOPER FROM TIPOOPERAC WHERE IDUTILOPER = 'S' AND "
            "(IDENTRSAIDOP = 'S' OR IDUTILEMISNF = 'S')")));
        QStringList wanted;
        while (query.next())
            wanted << query.value(0).toString();
        wanted.sort();
        QVERIFY(wanted.contains(QStringLiteral("S01")) && wanted.contains(QStringLiteral("E01")));

        for (int click = 0; click < 2; ++click) {
            QStringList keys;
            QStringList codes;
            pick(d.btpTipoOper, [&](PickListDialog &picker) {
                QCOMPARE(picker.windowTitle(), QStringLiteral("Tipo de Operação"));
                const MemTable &t = *d.cdsTpOperacao;
                for (int row = 0; row < t.recordCount(); ++row) {
                    keys << t.valueAt(row, t.indexOfField(QStringLiteral("CHAVE"))).toString();
                    codes
                        << t.valueAt(row, t.indexOfField(QStringLiteral("CDTIPOOPER"))).toString();
                    QVERIFY(!t.valueAt(row, t.indexOfField(QStringLiteral("NMTIPOOPER")))
                                 .toString()
                                 .isEmpty());
                }
                if (click == 1)
                    markKeys(picker, t, {QStringLiteral("S06"), QStringLiteral("E06")});
            });
            QStringList sortedCodes = codes;
            sortedCodes.sort();
            QCOMPARE(codes, sortedCodes); // kept in code order, the two sources side by side
            keys.sort();
            QCOMPARE(keys, wanted);
            QVERIFY(!d.cdsTpOperacao->isOpen());
        }
        QVERIFY(stCodTipoOper.contains(QStringLiteral("'S06'")));
        QVERIFY(stCodTipoOper.contains(QStringLiteral("'E06'")));

        // The series of the registration pair of branch 0001 and every entry series.
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        QTest::keyClicks(d.edtCdInscEsta, QStringLiteral("052147836"));
        QTest::keyClicks(d.edtCdInscMuni, QStringLiteral("2145870010"));
        QVERIFY(query.exec(QStringLiteral(
            "SELECT 'S' || CDSERIE FROM SERIENF WHERE CDEMPRESA = '01' AND CDINSCESTA = "
            "'052147836' AND CDINSCMUNI = '2145870010' UNION ALL SELECT 'E' || CDSERIEENTR FROM "
            "SERIEENTR")));
        QStringList wantedSeries;
        while (query.next())
            wantedSeries << query.value(0).toString();
        wantedSeries.sort();
        for (int click = 0; click < 2; ++click) {
            QStringList keys;
            pick(d.btpSerie, [&](PickListDialog &picker) {
                QCOMPARE(picker.windowTitle(), QStringLiteral("Série"));
                const MemTable &t = *d.cdsSerie;
                for (int row = 0; row < t.recordCount(); ++row)
                    keys << t.valueAt(row, t.indexOfField(QStringLiteral("CHAVE"))).toString();
            });
            keys.sort();
            QCOMPARE(keys, wantedSeries);
            QVERIFY(keys.contains(QStringLiteral("S1")) && keys.contains(QStringLiteral("E1")));
        }
    });
}

void tst_FilterConfirm::seriesButtonNeedsBothRegistrations()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        stCodSerie = QStringLiteral("'S1'");
        QTest::mouseClick(d.btpSerie, Qt::LeftButton);
        QCOMPARE(m_presenter->errors(),
                 QStringList{QStringLiteral("Inscrição Estadual deve ser informada.")});
        QCOMPARE(QApplication::focusWidget(), d.edtCdInscEsta);
        QVERIFY(!d.cdsSerie->isOpen());
        QCOMPARE(stCodSerie, QStringLiteral("'S1'"));

        m_presenter->clear();
        d.edtCdInscEsta->setText(QStringLiteral("052147836"));
        stCodSerie = QStringLiteral("'S1'");
        QTest::mouseClick(d.btpSerie, Qt::LeftButton);
        QCOMPARE(m_presenter->errors(),
                 QStringList{QStringLiteral("Inscrição Municipal deve ser informada.")});
        QCOMPARE(QApplication::focusWidget(), d.edtCdInscMuni);
        QCOMPARE(stCodSerie, QStringLiteral("'S1'"));
    });
}

void tst_FilterConfirm::databaseErrorInAListKeepsTheSelection()
{
    QSqlQuery ddl(m_host->database().database());
    QVERIFY(ddl.exec(QStringLiteral("ALTER TABLE SERIEENTR RENAME TO SERIEENTR_OFF")));
    inDialog([this, &ddl](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        d.edtCdInscEsta->setText(QStringLiteral("052147836"));
        d.edtCdInscMuni->setText(QStringLiteral("2145870010"));
        stCodSerie = QStringLiteral("'S2'");
        bool pickerShown = false;
        whenModal([&](QWidget *modal) {
            pickerShown = qobject_cast<PickListDialog *>(modal) != nullptr;
            if (pickerShown)
                modal->close();
        });
        QTest::mouseClick(d.btpSerie, Qt::LeftButton);
        QTest::qWait(50);
        QVERIFY(!pickerShown);
        QCOMPARE(m_presenter->errors().size(), 1);
        QVERIFY2(m_presenter->errors().constFirst().contains(QStringLiteral("qrySerieEntr")),
                 qPrintable(m_presenter->errors().constFirst()));
        QCOMPARE(stCodSerie, QStringLiteral("'S2'"));

        // The series read before the failure are not offered twice by the next click.
        QVERIFY(ddl.exec(QStringLiteral("ALTER TABLE SERIEENTR_OFF RENAME TO SERIEENTR")));
        int rows = 0;
        pick(d.btpSerie, [&](PickListDialog &) { rows = d.cdsSerie->recordCount(); });
        QSqlQuery count(m_host->database().database());
        QVERIFY(count.exec(QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM SERIENF WHERE CDEMPRESA = '01' AND CDINSCESTA = "
            "'052147836' AND CDINSCMUNI = '2145870010') + (SELECT COUNT(*) FROM SERIEENTR)")));
        QVERIFY(count.next());
        QCOMPARE(rows, count.value(0).toInt());
    });
}

void tst_FilterConfirm::seriesListMakesRegistrationsRequired()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        QVERIFY(TfrmFiltroCompraLEGALBA::isRequired(d.edtCdInscEsta));
        QVERIFY(TfrmFiltroCompraLEGALBA::isRequired(d.edtCdInscMuni));
        QVERIFY(d.btpSerie->isEnabled());
        QCOMPARE(d.edtCdInscEsta->palette().color(QPalette::Base),
                 d.style()->standardPalette().color(QPalette::ToolTipBase));

        // Required without a list ever being opened.
        confirm(d);
        QCOMPARE(m_presenter->errors(),
                 QStringList{QStringLiteral("Inscrição estadual deve ser informada.")});
        QCOMPARE(QApplication::focusWidget(), d.edtCdInscEsta);

        // "Todas" makes them optional again; empty registrations then pass.
        m_presenter->clear();
        QTest::mouseClick(d.rdgTodasSerie, Qt::LeftButton);
        QVERIFY(!TfrmFiltroCompraLEGALBA::isRequired(d.edtCdInscEsta));
        QVERIFY(!d.btpSerie->isEnabled());
        confirm(d);
        QVERIFY2(m_presenter->errors().isEmpty(), qPrintable(m_presenter->errors().join('\n')));
        QVERIFY(!d.isVisible());
    });
}

void tst_FilterConfirm::registrationChangeDropsThePickedSeries()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        QTest::keyClicks(d.edtCdInscEsta, QStringLiteral("052147836"));
        QTest::keyClicks(d.edtCdInscMuni, QStringLiteral("2145870010"));
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        pick(d.btpTipoOper, [&](PickListDialog &picker) {
            markKeys(picker, *d.cdsTpOperacao, {QStringLiteral("E01")});
        });
        pick(d.btpSerie, [&](PickListDialog &picker) {
            markKeys(picker, *d.cdsSerie, {QStringLiteral("E1")});
        });
        QCOMPARE(stCodSerie, QStringLiteral("'E1'"));
        QCOMPARE(stCodTipoOper, QStringLiteral("'E01'"));

        QTest::keyClick(d.edtCdInscMuni, Qt::Key_Backspace);
        QVERIFY(stCodSerie.isEmpty());
        QCOMPARE(stCodTipoOper, QStringLiteral("'E01'")); // not tied to the registrations
        QTest::keyClicks(d.edtCdInscMuni, QStringLiteral("0"));
        confirm(d);
        QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Série deve ser informada.")});
        QCOMPARE(QApplication::focusWidget(), d.rdgListaSerie);
    });
}

void tst_FilterConfirm::refusalsInOrderWithTheirFocus()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        const auto refused = [&](const QString &message, QWidget *focus) {
            m_presenter->clear();
            confirm(d);
            QCOMPARE(m_presenter->errors(), QStringList{message});
            QCOMPARE(QApplication::focusWidget(), focus);
            QVERIFY(d.isVisible());
            QVERIFY(!isWaitIndicatorShown());
        };
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        refused(QStringLiteral("Inscrição estadual deve ser informada."), d.edtCdInscEsta);
        d.edtCdInscEsta->setText(QStringLiteral("052147836"));
        refused(QStringLiteral("Inscrição Municipal deve ser informada."), d.edtCdInscMuni);
        d.edtCdInscMuni->setText(QStringLiteral("2145870010"));
        refused(QStringLiteral("Tipo de operação deve ser informado."), d.rdgListaTipoOper);
        stCodTipoOper = QStringLiteral("'E01'");
        refused(QStringLiteral("Série deve ser informada."), d.rdgListaSerie);
        stCodSerie = QStringLiteral("'E1'");
        // The lookups run after the list checks: an unknown branch is reported now.
        d.medCdFilial->setText(QStringLiteral("9999"));
        refused(QStringLiteral("Filial não cadastrada."), d.medCdFilial);
        QVERIFY(boConfirma); // set before the lookups
        d.medCdFilial->clear();
        d.depEmiIni->clear();
        refused(QStringLiteral("Data inicial deve ser informada."), d.depEmiIni);
        QVERIFY(!m_screen->cdsNotaFiscal->isOpen()); // nothing loaded by any refusal
    });
}

void tst_FilterConfirm::periodRules()
{
    inDialog([this](TfrmFiltroCompraLEGALBA &d) {
        d.depEmiFin->clear();
        confirm(d);
        QCOMPARE(m_presenter->errors(),
                 QStringList{QStringLiteral("Data final deve ser informada.")});
        QCOMPARE(QApplication::focusWidget(), d.depEmiFin);

        m_presenter->clear();
        d.depEmiIni->SetDate(QDate(2025, 5, 10));
        d.depEmiFin->SetDate(QDate(2025, 5, 9));
        confirm(d);
        QCOMPARE(m_presenter->errors(),
                 QStringList{QStringLiteral("Data inicial do período deve ser menor ou igual a "
                                            "data final do período.")});
        QCOMPARE(QApplication::focusWidget(), d.depEmiIni);

        m_presenter->clear();
        d.depEmiFin->SetDate(QDate(2025, 5, 10));
        confirm(d);
        QVERIFY2(m_presenter->errors().isEmpty(), qPrintable(m_presenter->errors().join('\n')));
        QVERIFY(!d.isVisible());
    });
    QCOMPARE(loaded(), expected(QStringLiteral("N.IDNFCOMPRALEG <> 'S' AND N.DTEMISSAO >= "
                                               "'2025-05-10' AND N.DTEMISSAO < '2025-05-11'"),
                                {}, false));
}

void tst_FilterConfirm::allTypesAndAllSeriesSendEmptyKeys()
{
    inDialog([](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        stCodTipoOper = QStringLiteral("'S01'");
        stCodSerie = QStringLiteral("'S1'");
        // Back to "Lista" and again to "Todos" keeps the pick until a confirmation.
        QTest::mouseClick(d.rdgTodosTipoOper, Qt::LeftButton);
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        QCOMPARE(stCodTipoOper, QStringLiteral("'S01'"));
        QTest::mouseClick(d.rdgTodosTipoOper, Qt::LeftButton);
        QVERIFY(!d.btpTipoOper->isEnabled());
        confirm(d);
        QVERIFY(!d.isVisible());
    });
    QVERIFY(stCodTipoOper.isEmpty());
    QVERIFY(stCodSerie.isEmpty());
    QCOMPARE(loaded(), expected(QStringLiteral("N.IDNFCOMPRALEG <> 'S'")));
}

void tst_FilterConfirm::statusCodes_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("condition");
    QTest::addRow("exported") << 1 << QStringLiteral("N.IDNFCOMPRALEG = 'S'");
    QTest::addRow("all") << 2 << QStringLiteral("1 = 1");
    QTest::addRow("pending") << 0 << QStringLiteral("N.IDNFCOMPRALEG <> 'S'");
}

void tst_FilterConfirm::statusCodes()
{
    QFETCH(int, item);
    QFETCH(QString, condition);
    inDialog([item](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgStatus->button(item), Qt::LeftButton);
        QCOMPARE(d.rdgStatus->ItemIndex(), item);
        confirm(d);
    });
    const QStringList want = expected(condition);
    QVERIFY(!want.isEmpty());
    QCOMPARE(loaded(), want);
}

void tst_FilterConfirm::filtersLoadWhatTheDatabaseSelects_data()
{
    QTest::addColumn<Criterion>("criterion");
    QTest::addColumn<QString>("condition");
    using Dialog = TfrmFiltroCompraLEGALBA;

    QTest::addRow("branch") << Criterion([](Dialog &d, const Picked &) {
        QTest::keyClicks(d.medCdFilial, QStringLiteral("2"));
        return QVariantList();
    }) << QStringLiteral("N.CDFILIAL = '0002'");
    QTest::addRow("client") << Criterion([](Dialog &d, const Picked &picked) {
        QTest::keyClicks(d.medInscClie, picked.client);
        return QVariantList{picked.client};
    }) << QStringLiteral("N.CDCLIENTE IN (SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ?)");
    QTest::addRow("registrations") << Criterion([](Dialog &d, const Picked &) {
        QTest::keyClicks(d.edtCdInscEsta, QStringLiteral("061258473"));
        QTest::keyClicks(d.edtCdInscMuni, QStringLiteral("3120458"));
        return QVariantList();
    }) << QStringLiteral("N.CDINSCESTA = '061258473' AND N.CDINSCMUNI = '3120458'");
    QTest::addRow("series and operation types picked") << Criterion([this](Dialog &d,
                                                                           const Picked &) {
        QTest::mouseClick(d.rdgListaSerie, Qt::LeftButton);
        QTest::keyClicks(d.edtCdInscEsta, QStringLiteral("052147836"));
        QTest::keyClicks(d.edtCdInscMuni, QStringLiteral("2145870010"));
        pick(d.btpSerie, [&](PickListDialog &picker) {
            markKeys(picker, *d.cdsSerie, {QStringLiteral("E1"), QStringLiteral("E2")});
        });
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        pick(d.btpTipoOper, [&](PickListDialog &picker) {
            markKeys(picker, *d.cdsTpOperacao, {QStringLiteral("E01"), QStringLiteral("E06")});
        });
        return QVariantList();
    })
                                                       << QStringLiteral(
                                                              "N.CDINSCESTA = '052147836' AND "
                                                              "N.CDINSCMUNI = '2145870010' AND "
                                                              "N.IDENTRSAIDOP || N.CDSERIE IN "
                                                              "('E1', 'E2') AND "
                                                              "N.IDENTRSAIDOP || N.CDTIPOOPER IN "
                                                              "('E01', 'E06')");
    QTest::addRow("NF number") << Criterion([](Dialog &d, const Picked &picked) {
        QTest::keyClicks(d.medNumNF, picked.number);
        return QVariantList{picked.number};
    }) << QStringLiteral("N.NRNOTAFISC = ?");
    QTest::addRow("minimum value") << Criterion([](Dialog &d, const Picked &) {
        QTest::keyClicks(d.nedValor, QStringLiteral("1500"));
        return QVariantList();
    }) << QStringLiteral("N.VRNOTAFISC >= 1500");
}

void tst_FilterConfirm::filtersLoadWhatTheDatabaseSelects()
{
    QFETCH(Criterion, criterion);
    QFETCH(QString, condition);
    const QString period = QStringLiteral(
        "N.DTEMISSAO >= '2025-05-01' AND N.DTEMISSAO < '2025-05-21' AND N.CDEMPRESA = '01'");
    Picked picked;
    picked.client = first(QStringLiteral("SELECT C.NRINSJURCLIE FROM NFCOMPRA N JOIN CLIENTE C"
                                         " ON C.CDCLIENTE = N.CDCLIENTE WHERE ") +
                          period +
                          QStringLiteral(" AND C.IDTPIJURCLIE = 'J' AND N.IDNFCOMPRALEG <> 'S'"
                                         " LIMIT 1"));
    picked.number = first(QStringLiteral("SELECT N.NRNOTAFISC FROM NFCOMPRA N WHERE ") + period +
                          QStringLiteral(" AND N.IDNFCOMPRALEG <> 'S' LIMIT 1"));
    QVERIFY(!picked.client.isEmpty() && !picked.number.isEmpty());

    QVariantList binds;
    inDialog([&](TfrmFiltroCompraLEGALBA &d) {
        binds = criterion(d, picked);
        confirm(d);
    });
    QVERIFY2(m_presenter->errors().isEmpty(), qPrintable(m_presenter->errors().join('\n')));
    const QStringList want =
        expected(QStringLiteral("N.IDNFCOMPRALEG <> 'S' AND ") + condition, binds);
    QVERIFY(!want.isEmpty());
    const QStringList all = expected(QStringLiteral("N.IDNFCOMPRALEG <> 'S'"));
    QVERIFY(want.size() < all.size()); // the criterion really narrows the list
    QCOMPARE(loaded(), want);
}

void tst_FilterConfirm::emptyAnswerClosesTheDialogSilently()
{
    m_screen->cdsNotaFiscal->loadFromPacket(encodePacket(compralegal::notaFiscalFields(), {}));
    inDialog([](TfrmFiltroCompraLEGALBA &d) {
        d.depEmiIni->SetDate(QDate(2020, 1, 1));
        d.depEmiFin->SetDate(QDate(2020, 1, 31));
        confirm(d);
        QVERIFY(!d.isVisible());
    });
    QVERIFY(m_presenter->errors().isEmpty());
    QVERIFY(m_screen->cdsNotaFiscal->isOpen());
    QCOMPARE(m_screen->cdsNotaFiscal->recordCount(), 0);
    QVERIFY(!m_screen->sbtImportExport->isEnabled());
}

void tst_FilterConfirm::failingServerLeavesTheDialogOpenAndConfirmRepeats()
{
    // The one answer the real server never gives on demand: GetNotaFiscal failing once, then
    // answering with one invoice and rewriting both key lists.
    ScriptedExportServer scripted;
    auto notaCalls = std::make_shared<std::atomic_int>(0);
    scripted.script.onNotaFiscal = [notaCalls](RpcArgs &args) {
        if (++*notaCalls == 1)
            throw RpcError(QStringLiteral("Banco indisponível."));
        args.set(6, QStringLiteral("'S9'"));
        args.set(7, QStringLiteral("'E99'"));
    };
    DataRow row(compralegal::notaFiscalFields().size());
    row[0] = QStringLiteral("E");
    row[1] = QStringLiteral("N");
    row[2] = QStringLiteral("U");
    row[3] = QStringLiteral("0001");
    row[5] = QStringLiteral("X1");
    scripted.script.notas = {row};
    m_screen->NetCompraLEGALBA->close();
    m_host->setServerPort(scripted.port());
    m_screen->NetCompraLEGALBA->open();
    m_host->setServerPort(m_server->port());

    inDialog([&](TfrmFiltroCompraLEGALBA &d) {
        QTest::keyClicks(d.nedValor, QStringLiteral("250,5"));
        QTest::mouseClick(d.rdgStatus->button(2), Qt::LeftButton);
        confirm(d);
        QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Banco indisponível.")});
        QVERIFY(d.isVisible());
        QVERIFY(!isWaitIndicatorShown());
        QCOMPARE(d.rdgStatus->ItemIndex(), 2);
        QCOMPARE(d.depEmiIni->GetDate(), QDate(2025, 5, 1));
        QVERIFY(!m_screen->cdsNotaFiscal->isOpen());

        m_presenter->clear();
        confirm(d);
        QVERIFY(m_presenter->errors().isEmpty());
        QVERIFY(!d.isVisible());
    });
    const QList<RecordedCall> calls = scripted.callsOf(QStringLiteral("GetNotaFiscal"));
    QCOMPARE(calls.size(), 2);
    QCOMPARE(scripted.methods(),
             (QStringList{QStringLiteral("GetNotaFiscal"), QStringLiteral("GetNotaFiscal")}));
    const QList<RpcValue> args = calls.last().args;
    QCOMPARE(args.size(), 12);
    QCOMPARE(args.at(0).toText(), QStringLiteral("01"));
    QVERIFY(args.at(8).isDate());
    QVERIFY(args.at(9).isDate());
    QCOMPARE(args.at(8).toDateTime().date(), QDate(2025, 5, 1));
    QCOMPARE(args.at(10).toText(), QStringLiteral("T"));
    QVERIFY(args.at(11).isNumber() && !args.at(11).isText());
    QCOMPARE(args.at(11).toDouble(), 250.5);
    QCOMPARE(calls.last().byRef, QList<qsizetype>({6, 7}));
    // What the server left in the key lists is kept.
    QCOMPARE(stCodSerie, QStringLiteral("'S9'"));
    QCOMPARE(stCodTipoOper, QStringLiteral("'E99'"));
    QCOMPARE(loaded(), QStringList{QStringLiteral("0001X1")});
}

void tst_FilterConfirm::confirmationFlagAfterTheListChecks()
{
    // Refused by a list check and cancelled: not confirmed.
    QVERIFY(!inDialog([](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgListaTipoOper, Qt::LeftButton);
        confirm(d);
    }));
    // Past the list checks but refused by the period, then cancelled: confirmed from now on.
    QVERIFY(inDialog([](TfrmFiltroCompraLEGALBA &d) {
        QTest::mouseClick(d.rdgTodosTipoOper, Qt::LeftButton);
        d.depEmiIni->clear();
        confirm(d);
        QVERIFY(d.isVisible());
    }));
    QVERIFY(inDialog([](TfrmFiltroCompraLEGALBA &) {}));
}

QTEST_MAIN(tst_FilterConfirm)
#include "tst_filterconfirm.moc"
