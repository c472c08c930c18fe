#include "hostfw/widgets/useraction.h"
#include "hostfw/widgets/waitindicator.h"

#include "dataset/memtable.h"
#include "hostfw/hosterror.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcvalue.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace fis;

Q_DECLARE_METATYPE(fis::RpcValue)

class TestUserAction : public QObject
{
    Q_OBJECT
private slots:
    void mensErroEndsTheActionMidHandler();
    void errorsAreShownByTheHostDisplay_data();
    void errorsAreShownByTheHostDisplay();
    void nothingCrossesTheEventLoop();
    void checkResultServ_data();
    void checkResultServ();
    void checkResultServWithoutAbortReturnsFalse();
    void failedActionLeavesNoHourglass();
    void waitIndicatorIsPaintedBeforeABlockingCall();
    void waitIndicatorShowsOneWindowAndHidesHarmlessly();
    void errorHidesTheWaitIndicator();
};

void TestUserAction::mensErroEndsTheActionMidHandler()
{
    RecordingPresenter presenter;
    QStringList steps;
    const bool completed = runAction(nullptr, [&]() {
        steps << "before";
        MensErro("Imposto deve ser informado.", true);
        steps << "after";
    });
    QVERIFY(!completed);
    QCOMPARE(steps, QStringList{"before"});
    QCOMPARE(presenter.errors(), QStringList{"Imposto deve ser informado."});

    // A validation routine called from a handler ends the caller too.
    steps.clear();
    auto validate = [&]() {
        MensErro("Empresa não cadastrada.", true);
    };
    runAction(nullptr, [&]() {
        validate();
        steps << "went on";
    });
    QVERIFY(steps.isEmpty());
    QCOMPARE(presenter.errors().size(), 2);

    QVERIFY(runAction(nullptr, [&]() { steps << "ok"; }));
    QCOMPARE(steps, QStringList{"ok"});
}

void TestUserAction::errorsAreShownByTheHostDisplay_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("rpc") << 0 << "Conexão perdida com o servidor.";
    QTest::newRow("data set") << 1 << "cdsNotaFiscal: campo desconhecido XYZ";
    QTest::newRow("database") << 2 << "qryEmpresa: falhou: no such table";
    QTest::newRow("std") << 3 << "arquivo não pôde ser criado";
}

void TestUserAction::errorsAreShownByTheHostDisplay()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    RecordingPresenter presenter;
    bool after = false;
    const bool completed = runAction(nullptr, [&]() {
        switch (kind) {
        case 0:
            throw RpcError(RpcError::Kind::ConnectionLost, text);
        case 1:
            throw DataSetError(text);
        case 2:
            throw HostError(text);
        default:
            throw std::runtime_error(text.toStdString());
        }
        after = true;
    });
    QVERIFY(!completed);
    QVERIFY(!after);
    QCOMPARE(presenter.errors(), QStringList{text});
}

void TestUserAction::nothingCrossesTheEventLoop()
{
    RecordingPresenter presenter;
    QPushButton button("x");
    connectAction(&button, &QPushButton::clicked, &button,
                  []() { throw std::logic_error("falhou"); });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(presenter.errors(), QStringList{"falhou"});
    QCOMPARE(currentActionContext(), nullptr);
}

void TestUserAction::checkResultServ_data()
{
    QTest::addColumn<RpcValue>("answer");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QString>("error");
    QTest::newRow("ok array") << RpcValue(QList<RpcValue>{"OK", "C:\\saida\\"}) << true << "";
    QTest::newRow("error array") << RpcValue(QList<RpcValue>{"Lista não encontrada.", ""}) << false
                                 << "Lista não encontrada.";
    QTest::newRow("lower-case ok is no ok") << RpcValue(QList<RpcValue>{"ok"}) << false << "ok";
    QTest::newRow("plain OK") << RpcValue("OK") << true << "";
    QTest::newRow("plain error") << RpcValue("Falha ao apagar") << false << "Falha ao apagar";
    QTest::newRow("empty array") << RpcValue(QList<RpcValue>{}) << false << "*";
    QTest::newRow("number") << RpcValue(3.0) << false << "*";
    QTest::newRow("element not text") << RpcValue(QList<RpcValue>{1.0}) << false << "*";
}

void TestUserAction::checkResultServ()
{
    QFETCH(RpcValue, answer);
    QFETCH(bool, passes);
    QFETCH(QString, error);
    RecordingPresenter presenter;
    bool after = false;
    const bool completed = runAction(nullptr, [&]() {
        CheckResultServ(answer, true, 0);
        after = true;
    });
    QCOMPARE(completed, passes);
    QCOMPARE(after, passes);
    if (passes) {
        QVERIFY(presenter.messages().isEmpty());
    } else {
        QCOMPARE(presenter.errors().size(), 1);
        if (error == "*")
            QVERIFY(presenter.errors().first().contains("servidor"));
        else
            QCOMPARE(presenter.errors().first(), error);
    }
}

void TestUserAction::checkResultServWithoutAbortReturnsFalse()
{
    RecordingPresenter presenter;
    bool result = true;
    QVERIFY(runAction(nullptr, [&]() { result = CheckResultServ(RpcValue("erro"), false, 0); }));
    QVERIFY(!result);
    QCOMPARE(presenter.errors(), QStringList{"erro"});
}

void TestUserAction::failedActionLeavesNoHourglass()
{
    RecordingPresenter presenter;
    runAction(nullptr, []() {
        setScreenCursor(Qt::WaitCursor);
        throw std::runtime_error("falhou ao criar a tela");
    });
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(screenCursor(), Qt::ArrowCursor);

    setScreenCursor(Qt::WaitCursor);
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    setScreenCursor(Qt::WaitCursor); // idempotent: one override only
    setScreenCursor(Qt::ArrowCursor);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->objectName() == "waitText")
            ++paints;
        return false;
    }
};

} // namespace

void TestUserAction::waitIndicatorIsPaintedBeforeABlockingCall()
{
    QWidget form;
    form.resize(600, 400);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintCounter counter;
    qApp->installEventFilter(&counter);

    bool seenDuringCall = false;
    QString textDuringCall;
    int paintsBeforeCall = -1;
    auto blockingCall = [&]() {
        // Nothing here runs the event loop, as a synchronous server call would not.
        QWidget *window = waitIndicatorWindow();
        seenDuringCall = window && window->isVisible();
        if (window)
            textDuringCall = window->findChild<QLabel *>("waitText")->text();
        paintsBeforeCall = counter.paints;
    };
    ActiveShowAvi(&form, 6, "Carregando dados do servidor...");
    blockingCall();
    QVERIFY(seenDuringCall);
    QCOMPARE(textDuringCall, QString("Carregando dados do servidor..."));
    QVERIFY2(paintsBeforeCall > 0, "the indicator was not painted before the call blocked");
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // Centred on the form.
    const QPoint centre = waitIndicatorWindow()->geometry().center();
    QVERIFY((centre - form.geometry().center()).manhattanLength() < 4);

    const int paintsBeforeDetail = counter.paints;
    setWaitDetail("arquivo 2, página 3, 150000 linhas");
    auto *detail = waitIndicatorWindow()->findChild<QLabel *>("waitDetail");
    QVERIFY(detail->isVisible());
    QCOMPARE(detail->text(), QString("arquivo 2, página 3, 150000 linhas"));
    QVERIFY(counter.paints > paintsBeforeDetail);

    DeactiveShowAvi();
    QVERIFY(!isWaitIndicatorShown());
    QCOMPARE(waitIndicatorWindow(), nullptr);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    qApp->removeEventFilter(&counter);
}

void TestUserAction::waitIndicatorShowsOneWindowAndHidesHarmlessly()
{
    QWidget form;
    form.show();
    DeactiveShowAvi(); // not shown: harmless
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    ActiveShowAvi(&form, 6, "um");
    QWidget *first = waitIndicatorWindow();
    ActiveShowAvi(&form, 6, "dois");
    QCOMPARE(waitIndicatorWindow(), first);
    QCOMPARE(first->findChild<QLabel *>("waitText")->text(), QString("dois"));
    int shown = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        shown += w->objectName() == "fisWaitIndicator" && w->isVisible();
    QCOMPARE(shown, 1);

    DeactiveShowAvi();
    QVERIFY(!isWaitIndicatorShown());
    QCOMPARE(QApplication::overrideCursor(), nullptr); // one hide undoes two shows
    DeactiveShowAvi();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestUserAction::errorHidesTheWaitIndicator()
{
    QWidget form;
    form.show();
    RecordingPresenter presenter;
    bool shownWithMessage = true;
    presenter.onMessage = [&](const RecordingPresenter::Message &) {
        shownWithMessage = isWaitIndicatorShown() || QApplication::overrideCursor();
    };
    runAction(&form, [&]() {
        ActiveShowAvi(&form, 6, "Carregando dados do servidor...");
        throw RpcError(RpcError::Kind::Timeout, "O servidor não respondeu.");
    });
    QCOMPARE(presenter.errors(), QStringList{"O servidor não respondeu."});
    QVERIFY(!shownWithMessage);
    QVERIFY(!isWaitIndicatorShown());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

QTEST_MAIN(TestUserAction)
#include "tst_useraction.moc"
