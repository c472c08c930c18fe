#include "hostfw/widgets/buttonflat.h"
#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/useraction.h"

#include "widgettesthelpers.h"

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QVBoxLayout>

using namespace fis;

namespace {

// A form: a header panel with edits a and b, then edit c, a check box and a flat button outside
// it. Every control and the panel log their exit and enter handlers.
struct Form
{
    QStringList log; // before the window: handlers may run while it goes
    int buttonClicks = 0;
    QWidget window;
    QFrame *panel;
    QLineEdit *a;
    QLineEdit *b;
    QLineEdit *c;
    QCheckBox *check;
    TButtonFlat *button;

    Form()
    {
        FocusManager::setFormScope(&window);
        panel = new QFrame(&window);
        a = new QLineEdit(panel);
        b = new QLineEdit(panel);
        auto *header = new QVBoxLayout(panel);
        header->addWidget(a);
        header->addWidget(b);
        c = new QLineEdit(&window);
        check = new QCheckBox("marca", &window);
        check->setFocusPolicy(Qt::StrongFocus);
        button = new TButtonFlat("sbtFiltro", "Filtro", &window);
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(panel);
        layout->addWidget(c);
        layout->addWidget(check);
        layout->addWidget(button);
        QObject::connect(button, &QAbstractButton::clicked, [this]() { ++buttonClicks; });
        watch(panel, "panel");
        watch(a, "a");
        watch(b, "b");
        watch(c, "c");
        watch(check, "check");
    }

    void watch(QWidget *w, const QString &name)
    {
        FocusManager::instance().setExitHandler(w, [this, name]() { log << "exit:" + name; });
        FocusManager::instance().setEnterHandler(w, [this, name]() { log << "enter:" + name; });
    }

    bool open()
    {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        a->setFocus();
        QApplication::processEvents();
        log.clear();
        return a->hasFocus();
    }
};

void clickInto(QWidget *w)
{
    // Near the left edge: a check box only reacts over its indicator and text.
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}

// Shows every error as a real modal box, closed shortly after: the focus leaves the form and
// comes back while the handler is still running.
class ModalPresenter : public MessagePresenter
{
public:
    int shown = 0;
    void showError(QWidget *parent, const QString &text) override
    {
        ++shown;
        QMessageBox box(QMessageBox::Critical, "Erro", text, QMessageBox::Ok, parent);
        test::whenModal([](QWidget *modal) {
            QTest::keyClick(modal, Qt::Key_Enter);
            if (modal->isVisible())
                static_cast<QDialog *>(modal)->reject();
        });
        box.exec();
    }
    void showInformation(QWidget *parent, const QString &text) override { showError(parent, text); }
};

} // namespace

class TestFocusManager : public QObject
{
    Q_OBJECT
private slots:
    void tabInsideThePanelLeavesOnlyTheControl();
    void tabOutOfThePanelRunsThePanelExit();
    void backtabIntoThePanelRunsThePanelEnterFirst();
    void clickMovesRunTheSameHandlers();
    void failingExitKeepsTheFocusAndStopsTheMove();
    void failingPanelExitStopsBeforeTheEnters();
    void refusedClickIsNotDelivered();
    void handlersRunOnceWhileAModalMessageIsShown();
    void noFocusButtonRunsNoExit();
    void programmaticFocusRunsOnlyEnters();
    void leavingTheWindowAndComingBackRunsNothing();
};

void TestFocusManager::tabInsideThePanelLeavesOnlyTheControl()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    QTest::keyClick(form.a, Qt::Key_Tab);
    QVERIFY(form.b->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:a", "enter:b"}));
}

void TestFocusManager::tabOutOfThePanelRunsThePanelExit()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    form.b->setFocus();
    form.log.clear();
    QTest::keyClick(form.b, Qt::Key_Tab);
    QVERIFY(form.c->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:b", "exit:panel", "enter:c"}));
}

void TestFocusManager::backtabIntoThePanelRunsThePanelEnterFirst()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    form.c->setFocus();
    form.log.clear();
    QTest::keyClick(form.c, Qt::Key_Backtab);
    QVERIFY(form.b->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:c", "enter:panel", "enter:b"}));
}

void TestFocusManager::clickMovesRunTheSameHandlers()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    clickInto(form.c);
    QVERIFY(form.c->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:a", "exit:panel", "enter:c"}));
    form.log.clear();
    clickInto(form.b);
    QVERIFY(form.b->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:c", "enter:panel", "enter:b"}));
    form.log.clear();
    clickInto(form.b); // no move: nothing runs
    QVERIFY(form.log.isEmpty());
}

void TestFocusManager::failingExitKeepsTheFocusAndStopsTheMove()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    FocusManager::instance().setExitHandler(form.a, [&]() {
        form.log << "exit:a";
        form.a->setFocus(); // as the validation routines do before their message
        MensErro("Imposto deve ser informado.", true);
        form.log << "after MensErro";
    });
    QTest::keyClick(form.a, Qt::Key_Tab);
    QVERIFY(form.a->hasFocus());
    QCOMPARE(form.log, QStringList{"exit:a"});
    QCOMPARE(presenter.errors(), QStringList{"Imposto deve ser informado."});

    // Any error ends the move the same way.
    form.log.clear();
    FocusManager::instance().setExitHandler(form.a, [&]() {
        form.log << "exit:a";
        throw std::runtime_error("falha no banco");
    });
    QTest::keyClick(form.a, Qt::Key_Tab);
    QVERIFY(form.a->hasFocus());
    QCOMPARE(form.log, QStringList{"exit:a"});
    QCOMPARE(presenter.errors().last(), QString("falha no banco"));

    // Once the handler passes, the same Tab moves on.
    form.log.clear();
    FocusManager::instance().setExitHandler(form.a, [&]() { form.log << "exit:a"; });
    QTest::keyClick(form.a, Qt::Key_Tab);
    QVERIFY(form.b->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:a", "enter:b"}));
}

void TestFocusManager::failingPanelExitStopsBeforeTheEnters()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    form.b->setFocus();
    form.log.clear();
    FocusManager::instance().setExitHandler(form.panel, [&]() {
        form.log << "exit:panel";
        MensErro("Empresa não cadastrada.", true);
    });
    QTest::keyClick(form.b, Qt::Key_Tab);
    QVERIFY(form.b->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:b", "exit:panel"}));
}

void TestFocusManager::refusedClickIsNotDelivered()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    FocusManager::instance().setExitHandler(form.a, [&]() {
        form.log << "exit:a";
        MensErro("Imposto deve ser informado.", true);
    });
    clickInto(form.check);
    QVERIFY(form.a->hasFocus());
    QVERIFY2(!form.check->isChecked(), "the refused click reached the check box");
    QCOMPARE(form.log, QStringList{"exit:a"});

    // The next click is the user's again.
    FocusManager::instance().setExitHandler(form.a, {});
    form.log.clear();
    clickInto(form.check);
    QVERIFY(form.check->hasFocus());
    QVERIFY(form.check->isChecked());
    QCOMPARE(form.log, (QStringList{"exit:panel", "enter:check"}));
}

void TestFocusManager::handlersRunOnceWhileAModalMessageIsShown()
{
    ModalPresenter presenter;
    setMessagePresenter(&presenter);
    Form form;
    QVERIFY(form.open());
    int exits = 0;
    FocusManager::instance().setExitHandler(form.b, [&]() {
        ++exits;
        form.b->setFocus();
        MensErro("Empresa deve ser informada.", true);
    });
    form.b->setFocus();
    form.log.clear();
    QTest::keyClick(form.b, Qt::Key_Tab);
    form.window.activateWindow(); // offscreen gives the window no activation back by itself
    QVERIFY(QTest::qWaitForWindowActive(&form.window));
    QApplication::processEvents();
    setMessagePresenter(nullptr);
    QCOMPARE(presenter.shown, 1);
    QCOMPARE(exits, 1);
    QVERIFY(form.b->hasFocus());
    QVERIFY2(form.log.isEmpty(), qPrintable(form.log.join(',')));

    // Coming back from the box and the focus put back ran nothing; the next move works.
    FocusManager::instance().setExitHandler(form.b, {});
    QTest::keyClick(form.b, Qt::Key_Tab);
    QVERIFY(form.c->hasFocus());
    QCOMPARE(form.log, (QStringList{"exit:panel", "enter:c"}));
}

void TestFocusManager::noFocusButtonRunsNoExit()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    clickInto(form.button);
    QCOMPARE(form.buttonClicks, 1);
    QVERIFY(form.a->hasFocus());
    QVERIFY(form.log.isEmpty());
}

void TestFocusManager::programmaticFocusRunsOnlyEnters()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    form.c->setFocus();
    QCOMPARE(form.log, QStringList{"enter:c"});
    form.log.clear();
    form.b->setFocus();
    QCOMPARE(form.log, (QStringList{"enter:panel", "enter:b"}));
}

void TestFocusManager::leavingTheWindowAndComingBackRunsNothing()
{
    RecordingPresenter presenter;
    Form form;
    QVERIFY(form.open());
    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    form.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form.window));
    QVERIFY(form.a->hasFocus());
    QVERIFY2(form.log.isEmpty(), qPrintable(form.log.join(',')));
}

QTEST_MAIN(TestFocusManager)
#include "tst_focusmanager.moc"
