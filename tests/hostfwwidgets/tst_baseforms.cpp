#include "hostfw/widgets/filtropadrao.h"
#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/menumerge.h"
#include "hostfw/widgets/padrimportexport.h"
#include "hostfw/widgets/useraction.h"

#include "widgettesthelpers.h"

#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>

using namespace fis;

namespace {

class Screen : public TfrmPadrImportExport
{
public:
    QLineEdit *edit;
    QStringList log;
    QAction *exportAction;
    explicit Screen(QWidget *parent = nullptr)
        : TfrmPadrImportExport(parent)
        , edit(new QLineEdit(clientArea()))
    {
        auto *menu = new QMenuBar;
        QMenu *operation = menu->addMenu("Operação");
        setMenuGroupIndex(operation, 2);
        exportAction = operation->addAction("E&xportar");
        exportAction->setShortcut(QKeySequence("Ctrl+E"));
        connectAction(exportAction, &QAction::triggered, this, [this]() { log << "menu"; });
        setFormMenu(menu);
    }
    void FormCreate() override { log << "create"; }
    void FormActivate() override
    {
        log << "activate";
        edit->setFocus();
    }
    void FormKeyDown(int &key, Qt::KeyboardModifiers shift) override
    {
        TfrmPadrImportExport::FormKeyDown(key, shift);
        if (key == Qt::Key_F7) {
            log << "F7";
            key = 0;
        }
        if (key == Qt::Key_F8)
            MensErro("bloqueado", true);
        if (key == Qt::Key_F9) { // opens a window, so the focus leaves the form meanwhile
            log << "F9";
            QDialog dialog(this);
            test::whenModal([](QWidget *modal) { modal->close(); });
            dialog.exec();
        }
    }
    void sbtImportExportClick() override { log << "export"; }
};

class Filter : public TfrmFiltroPadrao
{
public:
    CloseAction closeAction = CloseAction::Hide;
    int closes = 0;
    int confirms = 0;
    QLineEdit *edit = new QLineEdit(grbFiltroPadrao);
    void FormClose(CloseAction &action) override
    {
        ++closes;
        action = closeAction;
    }
    void sbtConfirmaClick() override
    {
        ++confirms;
        close();
    }
};

} // namespace

class TestBaseForms : public QObject
{
    Q_OBJECT
private slots:
    void screenRunsItsHandlers();
    void screenSeesKeysBeforeTheControl();
    void screenInMdiIsReleasedWithItsSubWindow();
    void menusMergeByGroupIndex();
    void dialogCloseActions();
    void dialogButtonsTakeNoFocus();
};

void TestBaseForms::screenRunsItsHandlers()
{
    RecordingPresenter presenter;
    std::unique_ptr<Screen> screen(createForm<Screen>());
    QCOMPARE(screen->log, QStringList{"create"});
    QCOMPARE(screen->sbtImportExport->objectName(), QString("sbtImportExport"));
    QCOMPARE(screen->sbtImportExport->toolTip(), QString("Exportar"));
    QCOMPARE(screen->panMenu->objectName(), QString("panMenu"));
    QCOMPARE(screen->sbtImportExport->focusPolicy(), Qt::NoFocus);
    screen->show();
    QVERIFY(QTest::qWaitForWindowActive(screen.get()));
    QTRY_VERIFY(screen->log.contains("activate"));
    QVERIFY(screen->edit->hasFocus());
    screen->log.clear();
    QTest::mouseClick(screen->sbtImportExport, Qt::LeftButton);
    QTest::keyClick(screen->edit, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(screen->log, (QStringList{"export", "menu"}));
    screen->exportAction->setEnabled(false);
    QTest::keyClick(screen->edit, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(screen->log.size(), 2); // a disabled item ignores its shortcut
}

void TestBaseForms::screenSeesKeysBeforeTheControl()
{
    RecordingPresenter presenter;
    std::unique_ptr<Screen> screen(createForm<Screen>());
    screen->show();
    QVERIFY(QTest::qWaitForWindowActive(screen.get()));
    screen->edit->setFocus();
    screen->log.clear();
    QTest::keyClick(screen->edit, Qt::Key_F7);
    QCOMPARE(screen->log, QStringList{"F7"}); // once, though the key travels up the parents
    QTest::keyClicks(screen->edit, "ab");
    QCOMPARE(screen->edit->text(), QString("ab"));
    QTest::keyClick(screen->edit, Qt::Key_F8); // an ended handler keeps the key too
    QCOMPARE(presenter.errors(), QStringList{"bloqueado"});
    // A key that is not kept from the control, whose handler opened a window, is still one key.
    screen->log.clear();
    QTest::keyClick(screen->edit, Qt::Key_F9);
    QCOMPARE(screen->log.count("F9"), 1);
    QTest::keyClick(screen->edit, Qt::Key_F9);
    QCOMPARE(screen->log.count("F9"), 2);
}

void TestBaseForms::screenInMdiIsReleasedWithItsSubWindow()
{
    RecordingPresenter presenter;
    QMdiArea area;
    QPointer<Screen> screen = createForm<Screen>();
    QPointer<QMdiSubWindow> sub = area.addSubWindow(screen);
    area.show();
    sub->show();
    QVERIFY(QTest::qWaitForWindowActive(&area));
    area.setActiveSubWindow(sub);
    QTRY_COMPARE(screen->log.count("activate"), 1);
    QTRY_VERIFY(screen->edit->hasFocus());
    QVERIFY(screen->close());
    QTRY_VERIFY(screen.isNull());
    QTRY_VERIFY(sub.isNull());

    // Closing from the sub-window runs FormClose once and releases both.
    screen = createForm<Screen>();
    sub = area.addSubWindow(screen);
    sub->show();
    int closes = 0;
    connect(screen, &QObject::destroyed, [&]() { ++closes; });
    sub->close();
    QTRY_VERIFY(sub.isNull());
    QVERIFY(screen.isNull());
    QCOMPARE(closes, 1);
}

void TestBaseForms::menusMergeByGroupIndex()
{
    QMenuBar main;
    QMenu *file = main.addMenu("Arquivo");
    setMenuGroupIndex(file, 0);
    QMenu *operation = main.addMenu("Operação do host");
    setMenuGroupIndex(operation, 2);
    QMenu *help = main.addMenu("Ajuda");
    setMenuGroupIndex(help, 9);
    std::unique_ptr<Screen> screen(createForm<Screen>());
    const MergedMenus merged = mergeFormMenu(&main, screen->formMenu());
    QStringList shown;
    for (QAction *a : main.actions()) {
        if (a->isVisible())
            shown << a->text();
    }
    QCOMPARE(shown, (QStringList{"Arquivo", "Operação", "Ajuda"}));
    unmergeFormMenu(&main, merged);
    shown.clear();
    for (QAction *a : main.actions()) {
        if (a->isVisible())
            shown << a->text();
    }
    QCOMPARE(shown, (QStringList{"Arquivo", "Operação do host", "Ajuda"}));
}

void TestBaseForms::dialogCloseActions()
{
    RecordingPresenter presenter;
    QPointer<Filter> filter = createForm<Filter>();
    QCOMPARE(filter->grbFiltroPadrao->objectName(), QString("grbFiltroPadrao"));
    QVERIFY(filter->isModal());

    // Cancel hides; the object and its entries stay.
    test::whenModal([&](QWidget *modal) {
        static_cast<Filter *>(modal)->edit->setText("0001");
        QTest::mouseClick(static_cast<Filter *>(modal)->sbtCancel, Qt::LeftButton);
    });
    filter->exec();
    QVERIFY(filter);
    QVERIFY(!filter->isVisible());
    QCOMPARE(filter->closes, 1);
    QCOMPARE(filter->edit->text(), QString("0001"));

    // None keeps it open; then the confirm button closes it.
    test::whenModal([&](QWidget *modal) {
        auto *dialog = static_cast<Filter *>(modal);
        dialog->closeAction = CloseAction::None;
        dialog->close();
        const bool stillOpen = dialog->isVisible();
        dialog->closeAction = CloseAction::Hide;
        if (stillOpen)
            QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
    });
    filter->exec();
    QCOMPARE(filter->closes, 3);
    QCOMPARE(filter->confirms, 1);

    // Esc goes the same way as the close box; Free releases the dialog.
    filter->closeAction = CloseAction::Free;
    test::whenModal([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    filter->exec();
    QTRY_VERIFY(filter.isNull());
}

void TestBaseForms::dialogButtonsTakeNoFocus()
{
    std::unique_ptr<Filter> filter(createForm<Filter>());
    for (TButtonFlat *button :
         {filter->sbtConfirma, filter->sbtCancel, filter->btfSaveOpc, filter->btfLoadOpc})
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QCOMPARE(filter->btfSaveOpc->objectName(), QString("btfSaveOpc"));
}

QTEST_MAIN(TestBaseForms)
#include "tst_baseforms.moc"
