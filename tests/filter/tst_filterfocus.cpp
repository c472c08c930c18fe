// The focus on a desktop after an exit check refuses a move: the message box makes the dialog
// inactive for a while, and when it is back only the control the focus returned to shows a
// blinking caret. Needs an X display (tst_filterfocus_desktop); offscreen there is no such
// window activation.
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/maskedit.h"
#include "spinetestsupport.h"
#include "testsupport/demohost.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QSet>
#include <QTest>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

class tst_FilterFocus : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheFocusedEditBlinksAfterAnErrorBox();
};

void tst_FilterFocus::onlyTheFocusedEditBlinksAfterAnErrorBox()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("window activation is a desktop's: tst_filterfocus_desktop runs this");
    DemoHost host(100);
    QVERIFY(host.isValid());
    TfrmCompraLegalBA screen;
    frmCompraLegalBA = &screen;
    screen.medCdImposto->setText(QStringLiteral("01"));
    screen.medCdEmpresa->setText(QStringLiteral("01"));
    screen.show();
    QVERIFY(QTest::qWaitForWindowActive(&screen));

    QString boxText, focusAfter;
    QStringList blinking;
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        // An unknown client, then Tab: the real error box says so and is closed with OK.
        QTest::mouseClick(dialog->medInscClie, Qt::LeftButton);
        QTest::keyClicks(dialog->medInscClie, QStringLiteral("12345678901"));
        whenModal([&boxText](QWidget *box) {
            if (auto *message = qobject_cast<QMessageBox *>(box))
                boxText = message->text();
            QTest::qWait(200);
            box->close();
        });
        QTest::keyClick(dialog->medInscClie, Qt::Key_Tab);
        QTRY_VERIFY(dialog->isActiveWindow());
        QTest::qWait(300);
        focusAfter =
            QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        // A caret blinks: over some blinks, an edit's picture changes.
        const QList<QLineEdit *> edits = dialog->findChildren<QLineEdit *>();
        QList<QImage> first;
        for (QLineEdit *edit : edits)
            first << edit->grab().toImage();
        QSet<QLineEdit *> changed;
        for (int k = 0; k < 6; ++k) {
            QTest::qWait(230);
            for (int i = 0; i < edits.size(); ++i)
                if (edits.at(i)->grab().toImage() != first.at(i))
                    changed << edits.at(i);
        }
        for (QLineEdit *edit : std::as_const(changed))
            blinking << edit->objectName();
        dialog->close();
    });
    CriaFtrCompraLEGAL();
    delete frmFiltroCompraLEGALBA;
    frmCompraLegalBA = nullptr;

    QCOMPARE(boxText, QStringLiteral("Cliente não cadastrado."));
    QCOMPARE(focusAfter, QStringLiteral("medInscClie"));
    QCOMPARE(blinking, QStringList{QStringLiteral("medInscClie")});
}

QTEST_MAIN(tst_FilterFocus)
#include "tst_filterfocus.moc"
