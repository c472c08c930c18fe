// The branch, client and registration criteria of the filter dialog, validated against the demo
// database through real key presses and focus moves.
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosthelpers.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "testsupport/demohost.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace fis;

class tst_FilterLookups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void controlsAndTabOrder();
    void emptyBranchRunsNoQuery();
    void shortBranchIsFittedThenFound();
    void unknownBranchKeepsTheFocus();
    void stateRegistrationOfTheOtherCompanyFails();
    void emptyMunicipalPassesWithoutQuery();
    void clientFoundByItsPersonType();
    void clientWithAnotherPersonTypeIsNotFound();
    void typingEmptiesTheShownName();
    void picksFillCodeAndName();
    void pickedClientGetsTheMaskOfItsOwnType();

private:
    void tab();
    // Clicks the lookup button and picks, in the list it shows, the row that `choose` returns
    // (given the list's table); returns how many rows the list showed.
    int pickRow(TBtnPesquisa *button, const std::function<int(const MemTable &)> &choose);
    // A client's number of the given person type, read from the database.
    QString clientNumber(const QString &type, int offset = 0);

    std::unique_ptr<test::DemoHost> m_host;
    std::unique_ptr<RecordingPresenter> m_presenter;
    std::unique_ptr<TfrmCompraLegalBA> m_screen;
    std::unique_ptr<TfrmFiltroCompraLEGALBA> m_dialog;
};

void tst_FilterLookups::initTestCase()
{
    m_host = std::make_unique<test::DemoHost>(10);
    QVERIFY(m_host->isValid());
}

void tst_FilterLookups::cleanupTestCase()
{
    m_host.reset();
}

void tst_FilterLookups::init()
{
    m_presenter = std::make_unique<RecordingPresenter>();
    // The registrations are scoped to the company typed on the export screen.
    m_screen = std::make_unique<TfrmCompraLegalBA>();
    frmCompraLegalBA = m_screen.get();
    m_screen->medCdEmpresa->setText(QStringLiteral("01"));
    m_dialog = std::make_unique<TfrmFiltroCompraLEGALBA>();
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    m_dialog->medCdFilial->setFocus();
    QCOMPARE(QApplication::focusWidget(), m_dialog->medCdFilial);
}

void tst_FilterLookups::cleanup()
{
    m_dialog.reset();
    m_screen.reset();
    frmCompraLegalBA = nullptr;
    m_presenter.reset();
}

void tst_FilterLookups::tab()
{
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, Qt::Key_Tab);
}

QString tst_FilterLookups::clientNumber(const QString &type, int offset)
{
    QSqlQuery query(m_host->database().database());
    query.prepare(QStringLiteral("SELECT NRINSJURCLIE FROM CLIENTE WHERE IDTPIJURCLIE = ? "
                                 "ORDER BY CDCLIENTE"));
    query.addBindValue(type);
    if (!query.exec())
        return {};
    for (int i = 0; i <= offset; ++i) {
        if (!query.next())
            return {};
    }
    return query.value(0).toString();
}

void tst_FilterLookups::controlsAndTabOrder()
{
    TfrmFiltroCompraLEGALBA &d = *m_dialog;
    for (QWidget *w :
         std::initializer_list<QWidget *>{d.medCdFilial, d.edtFilial, d.medInscClie, d.edtNmClie,
                                          d.edtCdInscEsta, d.edtCdInscMuni})
        QVERIFY(d.grbFiltroPadrao->isAncestorOf(w));
    QCOMPARE(d.lblFilial->text(), QStringLiteral("Filial"));
    QCOMPARE(d.lblInscEsta->text(), QStringLiteral("Insc. Estadual"));
    QCOMPARE(d.lblInscEsta->property("tag").toInt(), 99);
    QCOMPARE(d.lblInscEsta->buddy(), d.edtCdInscEsta);
    QCOMPARE(d.medCdFilial->editMask(), QStringLiteral(">aaaa;0; "));
    QCOMPARE(d.medCdFilial->maxLength(), 4);
    QVERIFY(d.medInscClie->editMask().isEmpty());
    QCOMPARE(d.edtCdInscEsta->maxLength(), 16);
    QVERIFY(!d.edtFilial->isEnabled());
    QCOMPARE(d.edtFilial->focusPolicy(), Qt::NoFocus);
    QCOMPARE(d.msgPadrao.Msg(QStringLiteral("Cli_N_Cad")),
             QStringLiteral("Cliente não cadastrado."));

    // Empty criteria all pass, except the state registration, which is looked up even empty
    // and matches the company's registrations.
    tab();
    QCOMPARE(QApplication::focusWidget(), d.medInscClie);
    tab();
    QCOMPARE(QApplication::focusWidget(), d.edtCdInscEsta);
    tab();
    QCOMPARE(QApplication::focusWidget(), d.edtCdInscMuni);
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_FilterLookups::emptyBranchRunsNoQuery()
{
    tab();
    QCOMPARE(QApplication::focusWidget(), m_dialog->medInscClie);
    QVERIFY(!m_dialog->qryFilial->Active());
    QVERIFY(m_presenter->messages().isEmpty());
}

void tst_FilterLookups::shortBranchIsFittedThenFound()
{
    QTest::keyClicks(m_dialog->medCdFilial, QStringLiteral("2"));
    tab();
    QCOMPARE(m_dialog->medCdFilial->text(), QStringLiteral("0002"));
    QCOMPARE(m_dialog->edtFilial->text(), QStringLiteral("Filial Feira de Santana"));
    QCOMPARE(QApplication::focusWidget(), m_dialog->medInscClie);
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_FilterLookups::unknownBranchKeepsTheFocus()
{
    QTest::keyClicks(m_dialog->medCdFilial, QStringLiteral("9999"));
    tab();
    QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Filial não cadastrada.")});
    QCOMPARE(QApplication::focusWidget(), m_dialog->medCdFilial);
    QVERIFY(m_dialog->edtFilial->text().isEmpty());
}

void tst_FilterLookups::stateRegistrationOfTheOtherCompanyFails()
{
    m_dialog->edtCdInscEsta->setFocus();
    // Branch 0006 belongs to company 02, not to the company 01 chosen on the export screen.
    QTest::keyClicks(m_dialog->edtCdInscEsta, QStringLiteral("125694815"));
    tab();
    QCOMPARE(m_presenter->errors(),
             QStringList{QStringLiteral("Inscrição estadual não cadastrada.")});
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscEsta);

    m_dialog->edtCdInscEsta->clear();
    QTest::keyClicks(m_dialog->edtCdInscEsta, QStringLiteral("061258473"));
    tab();
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscMuni);
    QCOMPARE(m_presenter->errors().size(), 1);

    // The same number of the other company passes once that company is chosen.
    m_screen->medCdEmpresa->setText(QStringLiteral("02"));
    m_dialog->edtCdInscEsta->setFocus();
    m_dialog->edtCdInscEsta->clear();
    QTest::keyClicks(m_dialog->edtCdInscEsta, QStringLiteral("125694815"));
    tab();
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscMuni);
    QCOMPARE(m_presenter->errors().size(), 1);
}

void tst_FilterLookups::emptyMunicipalPassesWithoutQuery()
{
    m_dialog->edtCdInscMuni->setFocus();
    QTest::keyClicks(m_dialog->edtCdInscMuni, QStringLiteral("3120458"));
    QTest::keyClick(m_dialog->edtCdInscMuni, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscEsta);
    QVERIFY(m_dialog->qryInscrMunicip->Active());

    // Closed again, so that an empty edit can be seen not to open it.
    m_dialog->qryInscrMunicip->Close();
    m_dialog->edtCdInscMuni->setFocus();
    m_dialog->edtCdInscMuni->clear();
    QTest::keyClick(m_dialog->edtCdInscMuni, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscEsta);
    QVERIFY(!m_dialog->qryInscrMunicip->Active());
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_FilterLookups::clientFoundByItsPersonType()
{
    const QString cpf = clientNumber(QStringLiteral("F"));
    QCOMPARE(cpf.size(), 11);
    m_dialog->medInscClie->setFocus();
    QTest::keyClicks(m_dialog->medInscClie, cpf);
    tab();
    QVERIFY(m_presenter->errors().isEmpty());
    QCOMPARE(QApplication::focusWidget(), m_dialog->edtCdInscEsta);
    QCOMPARE(m_dialog->medInscClie->editMask(), PictPess(QStringLiteral("F")));
    QCOMPARE(m_dialog->medInscClie->text(), cpf);
    QVERIFY(!m_dialog->edtNmClie->text().isEmpty());

    // Emptying the box lets a number of another type be typed whole.
    const QString cnpj = clientNumber(QStringLiteral("J"));
    QCOMPARE(cnpj.size(), 14);
    m_dialog->medInscClie->setFocus();
    m_dialog->medInscClie->clear();
    QVERIFY(m_dialog->medInscClie->editMask().isEmpty());
    QTest::keyClicks(m_dialog->medInscClie, cnpj);
    tab();
    QVERIFY(m_presenter->errors().isEmpty());
    QCOMPARE(m_dialog->medInscClie->editMask(), PictPess(QStringLiteral("J")));
    QCOMPARE(m_dialog->medInscClie->text(), cnpj);
}

void tst_FilterLookups::clientWithAnotherPersonTypeIsNotFound()
{
    // An 11-digit number stored under type "J": the number alone reads as a CPF.
    const QString number = clientNumber(QStringLiteral("F"), 5);
    QCOMPARE(number.size(), 11);
    QSqlQuery update(m_host->database().database());
    update.prepare(QStringLiteral("UPDATE CLIENTE SET IDTPIJURCLIE = 'J' WHERE NRINSJURCLIE = ?"));
    update.addBindValue(number);
    QVERIFY(update.exec());

    m_dialog->medInscClie->setFocus();
    QTest::keyClicks(m_dialog->medInscClie, number);
    tab();
    QCOMPARE(m_presenter->errors(), QStringList{QStringLiteral("Cliente não cadastrado.")});
    QCOMPARE(QApplication::focusWidget(), m_dialog->medInscClie);
    QVERIFY(m_dialog->medInscClie->editMask().isEmpty());
    QVERIFY(m_dialog->edtNmClie->text().isEmpty());
}

void tst_FilterLookups::typingEmptiesTheShownName()
{
    QTest::keyClicks(m_dialog->medCdFilial, QStringLiteral("0001"));
    tab();
    QVERIFY(!m_dialog->edtFilial->text().isEmpty());
    m_dialog->medCdFilial->setFocus();
    m_dialog->medCdFilial->selectAll();
    QTest::keyClicks(m_dialog->medCdFilial, QStringLiteral("3"));
    QVERIFY(m_dialog->edtFilial->text().isEmpty());

    const QString cpf = clientNumber(QStringLiteral("F"), 1);
    m_dialog->medInscClie->setFocus();
    QTest::keyClicks(m_dialog->medInscClie, cpf);
    tab();
    QVERIFY(!m_dialog->edtNmClie->text().isEmpty());
    m_dialog->medInscClie->setFocus();
    QTest::keyClick(m_dialog->medInscClie, Qt::Key_End);
    QTest::keyClick(m_dialog->medInscClie, Qt::Key_Backspace);
    QVERIFY(m_dialog->edtNmClie->text().isEmpty());
    QVERIFY(m_presenter->errors().isEmpty());
}

int tst_FilterLookups::pickRow(TBtnPesquisa *button,
                               const std::function<int(const MemTable &)> &choose)
{
    int rows = -1;
    const auto shown = connect(button, &TBtnPesquisa::lookupShown, this, [&](QWidget *window) {
        QTimer::singleShot(0, window, [&, window] {
            auto *lookup = qobject_cast<LookupDialog *>(window);
            if (!lookup) {
                window->close();
                return;
            }
            rows = lookup->view()->model()->rowCount();
            const int row = choose(*button->table());
            lookup->view()->setCurrentIndex(lookup->view()->model()->index(row, 0));
            QTest::keyClick(lookup->view(), Qt::Key_Return);
        });
    });
    QTest::mouseClick(button, Qt::LeftButton);
    disconnect(shown);
    // The offscreen platform does not give the activation back when a modal window closes.
    m_dialog->activateWindow();
    if (!QTest::qWaitForWindowActive(m_dialog.get()))
        qWarning("the dialog did not become active again");
    return rows;
}

void tst_FilterLookups::picksFillCodeAndName()
{
    // Every branch, whatever the company.
    QCOMPARE(pickRow(m_dialog->btpFiliEmit, [](const MemTable &) { return 1; }), 7);
    QCOMPARE(m_dialog->medCdFilial->text(), QStringLiteral("0002"));
    QCOMPARE(m_dialog->edtFilial->text(), QStringLiteral("Filial Feira de Santana"));

    // Only the registrations of the export screen's company.
    QSqlQuery query(m_host->database().database());
    QVERIFY(query.exec(QStringLiteral("SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = '01' "
                                      "ORDER BY 1")));
    QStringList states;
    while (query.next())
        states << query.value(0).toString();
    QCOMPARE(pickRow(m_dialog->btpInscEst, [](const MemTable &) { return 2; }), states.size());
    QCOMPARE(m_dialog->edtCdInscEsta->text(), states.at(2));
    QVERIFY(query.exec(QStringLiteral("SELECT COUNT(*) FROM INSCRMUNICIP WHERE CDEMPRESA = '01'")));
    QVERIFY(query.next());
    QCOMPARE(pickRow(m_dialog->btpInscMuni, [](const MemTable &) { return 0; }),
             query.value(0).toInt());
    QVERIFY(!m_dialog->edtCdInscMuni->text().isEmpty());
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_FilterLookups::pickedClientGetsTheMaskOfItsOwnType()
{
    // A CPF validated first leaves its 11-digit mask in the box.
    const QString cpf = clientNumber(QStringLiteral("F"), 2);
    QTest::keyClicks(m_dialog->medCdFilial, QString());
    m_dialog->medInscClie->setFocus();
    QTest::keyClicks(m_dialog->medInscClie, cpf);
    tab();
    QCOMPARE(m_dialog->medInscClie->editMask(), PictPess(QStringLiteral("F")));

    // Picking a company (CNPJ, 14 digits) must not cut its number to the kept mask.
    QString cnpj;
    QString name;
    pickRow(m_dialog->btpPesqClie, [&](const MemTable &t) {
        const int type = t.indexOfField(QStringLiteral("IDTPIJURCLIE"));
        for (int row = 0; row < t.recordCount(); ++row) {
            if (t.valueAt(row, type).toString() == u"J") {
                cnpj = t.valueAt(row, t.indexOfField(QStringLiteral("NRINSJURCLIE"))).toString();
                name = t.valueAt(row, t.indexOfField(QStringLiteral("NMFANTCLIE"))).toString();
                return row;
            }
        }
        return 0;
    });
    QCOMPARE(cnpj.size(), 14);
    QCOMPARE(m_dialog->medInscClie->editMask(), PictPess(QStringLiteral("J")));
    QCOMPARE(m_dialog->medInscClie->text(), cnpj);
    QCOMPARE(m_dialog->edtNmClie->text(), name);
    // And the picked client passes the check when the box is left.
    m_dialog->medInscClie->setFocus();
    tab();
    QVERIFY2(m_presenter->errors().isEmpty(), qPrintable(m_presenter->errors().join('\n')));
    QCOMPARE(m_dialog->edtNmClie->text(), name);
}

QTEST_MAIN(tst_FilterLookups)
#include "tst_filterlookups.moc"
