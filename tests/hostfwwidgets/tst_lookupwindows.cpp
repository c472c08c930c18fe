#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/pesquisalista.h"
#include "hostfw/widgets/procura.h"
#include "hostfw/widgets/useraction.h"
#include "keylist/keylist.h"

#include "dataset/datasource.h"
#include "widgettesthelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

using namespace fis;
using fis::test::codeTable;
using fis::test::whenModal;

namespace {

QList<QStringList> companies()
{
    return {{"01", "Alfa Comércio", "S01"},
            {"02", "Beta Indústria", "E02"},
            {"03", "Bravo Serviços", "S'03"},
            {"04", "Delta, Ltda", "S,04"}};
}

QPoint cellCentre(QTableView *view, int row, int column)
{
    return view->visualRect(view->model()->index(row, column)).center();
}

// A form with the code field and its lookup button.
struct LookupForm
{
    QWidget window;
    QLineEdit *code = new QLineEdit(&window);
    TBtnPesquisa *button = new TBtnPesquisa(&window);
    LookupForm()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(code);
        layout->addWidget(button);
        button->setAssociate(code);
        button->setTitle("Empresa");
        button->setEmptyError("Não há empresa cadastrada.");
        window.show();
    }
};

} // namespace

class TestLookupWindows : public QObject
{
    Q_OBJECT
private slots:
    void lookupPicksWithEnterAfterTypedSearch();
    void lookupPicksWithDoubleClick();
    void lookupEscapeRunsNothing();
    void lookupOnEmptyTableShowsEmptyError();
    void lookupBeforeHandlerEndingTheActionShowsNoList();
    void lookupOnClickReplacesTheBuiltInBehaviour();
    void lookupShowsVisibleFieldsWithLabels();

    void pickerStartsFromTheGivenKeys();
    void pickerMarksWithSpaceAndClick();
    void pickerEscapeLeavesTheSelection();
    void pickerTitleClickTogglesAll();
    void pickerOnEmptyTable();

    void searchFindsFirstAndNext();
    void searchNothingFound();
};

void TestLookupWindows::lookupPicksWithEnterAfterTypedSearch()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    table->setIndexFieldNames("NOME"); // the search goes by the ordering's column
    DataSource source(table.get());
    LookupForm form;
    form.button->setDataSource(&source);
    QStringList steps;
    form.button->OnBeforePesq = [&]() {
        steps << "before";
    };
    form.button->OnAfterPesq = [&]() {
        steps << "after:" + table->asString("CODIGO");
        form.code->setText(table->asString("CODIGO"));
    };
    QString title;
    whenModal([&](QWidget *modal) {
        title = modal->windowTitle();
        auto *view = modal->findChild<QTableView *>("lookupView");
        QTest::keyClicks(view, "br"); // "Bravo", not "Beta"
        QTest::keyClick(view, Qt::Key_Return);
    });
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(title, QString("Empresa"));
    QCOMPARE(steps, (QStringList{"before", "after:03"}));
    QCOMPARE(table->currentRow(), 2);
    QCOMPARE(form.code->text(), QString("03"));
    QVERIFY(presenter.messages().isEmpty());
}

void TestLookupWindows::lookupPicksWithDoubleClick()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    LookupForm form;
    form.button->setDataSource(table.get());
    int afters = 0;
    form.button->OnAfterPesq = [&]() {
        ++afters;
    };
    whenModal([&](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("lookupView");
        const QPoint at = cellCentre(view, 3, 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    });
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(afters, 1);
    QCOMPARE(table->asString("CODIGO"), QString("04"));
}

void TestLookupWindows::lookupEscapeRunsNothing()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    table->moveTo(1);
    LookupForm form;
    form.button->setDataSource(table.get());
    int afters = 0;
    form.button->OnAfterPesq = [&]() {
        ++afters;
    };
    whenModal([](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("lookupView");
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Escape);
    });
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(afters, 0);
    QCOMPARE(table->currentRow(), 1);
    QVERIFY(presenter.messages().isEmpty());
}

void TestLookupWindows::lookupOnEmptyTableShowsEmptyError()
{
    RecordingPresenter presenter;
    auto table = codeTable({});
    LookupForm form;
    form.button->setDataSource(table.get());
    int afters = 0;
    form.button->OnAfterPesq = [&]() {
        ++afters;
    };
    bool listShown = false;
    connect(form.button, &TBtnPesquisa::lookupShown, [&]() { listShown = true; });
    QTest::mouseClick(form.button, Qt::LeftButton);
    QVERIFY(!listShown);
    QCOMPARE(afters, 0);
    QCOMPARE(presenter.errors(), QStringList{"Não há empresa cadastrada."});

    // A closed table counts as empty.
    table->close();
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(presenter.errors().size(), 2);
}

void TestLookupWindows::lookupBeforeHandlerEndingTheActionShowsNoList()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    LookupForm form;
    form.button->setDataSource(table.get());
    form.button->OnBeforePesq = []() {
        throw std::runtime_error("tabela EMPRESA inexistente");
    };
    bool listShown = false;
    connect(form.button, &TBtnPesquisa::lookupShown, [&]() { listShown = true; });
    QTest::mouseClick(form.button, Qt::LeftButton);
    QVERIFY(!listShown);
    QCOMPARE(presenter.errors(), QStringList{"tabela EMPRESA inexistente"});
}

void TestLookupWindows::lookupOnClickReplacesTheBuiltInBehaviour()
{
    RecordingPresenter presenter;
    LookupForm form; // no data source at all
    int clicks = 0;
    int befores = 0;
    form.button->OnBeforePesq = [&]() {
        ++befores;
    };
    form.button->OnClick = [&]() {
        ++clicks;
    };
    form.button->setEnabled(false);
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(clicks, 0);
    form.button->setEnabled(true);
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
    QCOMPARE(befores, 0);
    QVERIFY(presenter.messages().isEmpty());
}

void TestLookupWindows::lookupShowsVisibleFieldsWithLabels()
{
    auto table = codeTable(companies());
    table->setGetTextHandler("NOME", [](const MemTable &t, int row, bool) {
        return t.viewValue(row, 1).toString().toUpper();
    });
    LookupDialog window(table.get(), "Empresa");
    QTableView *view = window.view();
    QStringList shown;
    for (int c = 0; c < view->model()->columnCount(); ++c) {
        if (!view->isColumnHidden(c))
            shown << view->model()->headerData(c, Qt::Horizontal).toString();
    }
    QCOMPARE(shown, (QStringList{"Código", "Nome"}));
    QCOMPARE(view->model()->index(0, 1).data().toString(), QString("ALFA COMÉRCIO"));
}

void TestLookupWindows::pickerStartsFromTheGivenKeys()
{
    auto table = codeTable(companies());
    QString selection = "'E02','S,04'";
    QList<bool> marks;
    whenModal([&](QWidget *modal) {
        auto *window = static_cast<PickListDialog *>(modal);
        for (int row = 0; row < 4; ++row)
            marks << window->model()->isMarked(row);
        QTest::keyClick(window->view(), Qt::Key_Enter);
    });
    QVERIFY(PesquisaLista(table.get(), "CHAVE", "Tipo de Operação", false, selection));
    QCOMPARE(marks, (QList<bool>{false, true, false, true}));
    QCOMPARE(selection, QString("'E02','S,04'"));
}

void TestLookupWindows::pickerMarksWithSpaceAndClick()
{
    auto table = codeTable(companies());
    DataSource source(table.get());
    QString selection;
    QString title;
    whenModal([&](QWidget *modal) {
        title = modal->windowTitle();
        auto *view = modal->findChild<QTableView *>("pickView");
        QTest::keyClick(view, Qt::Key_Space); // row 0
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Space); // row 2
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCentre(view, 3, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCentre(view, 0, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCentre(view, 1, 1));
        QTest::keyClick(view, Qt::Key_Return);
    });
    QVERIFY(PesquisaLista(&source, "CHAVE", "Série", false, selection));
    QCOMPARE(title, QString("Série"));
    // Row 0 marked then unmarked by the click; a click outside the mark column marks nothing.
    QCOMPARE(selection, QString("'S''03','S,04'"));
    QCOMPARE(parseKeyList(selection), (QStringList{"S'03", "S,04"}));
}

void TestLookupWindows::pickerEscapeLeavesTheSelection()
{
    auto table = codeTable(companies());
    QString selection = "'S01'";
    whenModal([](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("pickView");
        QTest::keyClick(view, Qt::Key_Space);
        QTest::keyClick(view, Qt::Key_Escape);
    });
    QVERIFY(!PesquisaLista(table.get(), "CHAVE", "Série", false, selection));
    QCOMPARE(selection, QString("'S01'"));

    // Unmarking everything and confirming gives an empty text.
    whenModal([](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("pickView");
        QTest::keyClick(view, Qt::Key_Space);
        QTest::keyClick(view, Qt::Key_Return);
    });
    QVERIFY(PesquisaLista(table.get(), "CHAVE", "Série", false, selection));
    QVERIFY(selection.isEmpty());
}

void TestLookupWindows::pickerTitleClickTogglesAll()
{
    auto table = codeTable(companies());
    QString selection = "'E02'";
    whenModal([](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("pickView");
        QHeaderView *header = view->horizontalHeader();
        const QPoint title(header->sectionViewportPosition(0) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title); // one marked: none
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title); // none: all
        QTest::keyClick(view, Qt::Key_Return);
    });
    QVERIFY(PesquisaLista(table.get(), "CHAVE", "Série", false, selection));
    QCOMPARE(selection, QString("'S01','E02','S''03','S,04'"));
}

void TestLookupWindows::pickerOnEmptyTable()
{
    auto table = codeTable({});
    QString selection = "'S01'";
    int rows = -1;
    whenModal([&](QWidget *modal) {
        auto *view = modal->findChild<QTableView *>("pickView");
        rows = view->model()->rowCount();
        QTest::keyClick(view, Qt::Key_Return);
    });
    QVERIFY(PesquisaLista(table.get(), "CHAVE", "Série", false, selection));
    QCOMPARE(rows, 0);
    QVERIFY(selection.isEmpty());
}

void TestLookupWindows::searchFindsFirstAndNext()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    QList<int> found;
    whenModal([&](QWidget *modal) {
        auto *field = modal->findChild<QComboBox *>("searchField");
        auto *text = modal->findChild<QLineEdit *>("searchText");
        field->setCurrentIndex(1); // "Nome"
        QTest::keyClicks(text, "b");
        QTest::keyClick(text, Qt::Key_Return); // first: Beta
        found << table->currentRow();
        QTest::keyClick(text, Qt::Key_Return); // next: Bravo
        found << table->currentRow();
        text->clear();
        QTest::keyClicks(text, "LTDA");
        modal->findChild<QCheckBox *>("searchContains")->setChecked(true);
        QTest::mouseClick(modal->findChild<QPushButton *>("searchFirst"), Qt::LeftButton);
        found << table->currentRow();
        QTest::mouseClick(modal->findChild<QPushButton *>("searchClose"), Qt::LeftButton);
    });
    Procura(table.get());
    QCOMPARE(found, (QList<int>{1, 2, 3}));
    QCOMPARE(table->currentRow(), 3);
    QVERIFY(presenter.messages().isEmpty());
}

void TestLookupWindows::searchNothingFound()
{
    RecordingPresenter presenter;
    auto table = codeTable(companies());
    table->moveTo(1);
    whenModal([&](QWidget *modal) {
        auto *text = modal->findChild<QLineEdit *>("searchText");
        QTest::keyClicks(text, "zz");
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClick(text, Qt::Key_Escape);
    });
    Procura(table.get());
    QCOMPARE(table->currentRow(), 1);
    QCOMPARE(presenter.informations(), QStringList{"Registro não encontrado."});
}

QTEST_MAIN(TestLookupWindows)
#include "tst_lookupwindows.moc"
