#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/numberedit.h"
#include "hostfw/widgets/useraction.h"

#include <QCalendarWidget>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace fis;

class TestEdits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void typing_data();
    void typing();
    void setting_data();
    void setting();
    void editingKeys();
    void changeSignal();
    void maskChangeKeepsTheValue();
    void noMaskHonoursMaxLengthAndCase();
    void textSetThroughTheBaseClassIsLaidIntoTheMask();

    void dateTypingAndReading();
    void dateCheck_data();
    void dateCheck();
    void dateLook();
    void dateCalendarPicks();

    void numberTypingAndFormat();
    void numberOptions();
};

void TestEdits::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
}

void TestEdits::typing_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("display");

    QTest::newRow("two digits") << "99;0; "
                                << "01"
                                << "01"
                                << "01";
    QTest::newRow("one digit of two") << "99;0; "
                                      << "7"
                                      << "7"
                                      << "7 ";
    QTest::newRow("letters refused in digits") << "99;0; "
                                               << "a1b2"
                                               << "12"
                                               << "12";
    QTest::newRow("third digit refused") << "99;0; "
                                         << "123"
                                         << "12"
                                         << "12";
    QTest::newRow("branch upper-cased") << ">aaaa;0; "
                                        << "a1b"
                                        << "A1B"
                                        << "A1B ";
    QTest::newRow("branch refuses signs") << ">aaaa;0; "
                                          << "a-1/b2c"
                                          << "A1B2"
                                          << "A1B2";
    QTest::newRow("nf number") << "99999999999999999999;0; "
                               << "000123"
                               << "000123"
                               << "000123              ";
    QTest::newRow("cnpj") << "99.999.999/9999-99;0; "
                          << "12345678000195"
                          << "12345678000195"
                          << "12.345.678/0001-95";
    QTest::newRow("cnpj typed with literals") << "99.999.999/9999-99;0; "
                                              << "12.345.678/0001-95"
                                              << "12345678000195"
                                              << "12.345.678/0001-95";
    QTest::newRow("cnpj half") << "99.999.999/9999-99;0; "
                               << "1234"
                               << "1234"
                               << "12.34 .   /    -  ";
    QTest::newRow("cpf") << "999.999.999-99;0; "
                         << "12345678909"
                         << "12345678909"
                         << "123.456.789-09";
    QTest::newRow("no mask") << ""
                             << "abc 12/x"
                             << "abc 12/x"
                             << "abc 12/x";
}

void TestEdits::typing()
{
    QFETCH(QString, mask);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(QString, display);
    MaskEdit edit(mask);
    edit.show();
    edit.setFocus();
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, keys);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.displayText(), display);
}

void TestEdits::setting_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("display");
    QTest::newRow("code") << "99;0; "
                          << "01"
                          << "01"
                          << "01";
    QTest::newRow("empty code") << "99;0; "
                                << ""
                                << ""
                                << "  ";
    QTest::newRow("branch") << ">aaaa;0; "
                            << "ab1"
                            << "AB1"
                            << "AB1 ";
    QTest::newRow("nf number") << "99999999999999999999;0; "
                               << "42"
                               << "42"
                               << "42                  ";
    QTest::newRow("cnpj") << "99.999.999/9999-99;0; "
                          << "12345678000195"
                          << "12345678000195"
                          << "12.345.678/0001-95";
    QTest::newRow("cpf") << "999.999.999-99;0; "
                         << "12345678909"
                         << "12345678909"
                         << "123.456.789-09";
    QTest::newRow("empty cpf") << "999.999.999-99;0; "
                               << ""
                               << ""
                               << "   .   .   -  ";
    QTest::newRow("no mask") << ""
                             << "LIVRE 1"
                             << "LIVRE 1"
                             << "LIVRE 1";
}

void TestEdits::setting()
{
    QFETCH(QString, mask);
    QFETCH(QString, value);
    QFETCH(QString, text);
    QFETCH(QString, display);
    MaskEdit edit(mask);
    edit.setText(value);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.displayText(), display);
}

void TestEdits::editingKeys()
{
    MaskEdit edit("999.999.999-99;0; ");
    edit.show();
    edit.setFocus();
    edit.setText("12345678909");
    edit.setCursorPosition(edit.displayText().size());
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QString("1234567890"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Backspace); // steps back over the "-"
    QCOMPARE(edit.text(), QString("12345678"));
    QCOMPARE(edit.displayText(), QString("123.456.78 -  "));
    QTest::keyClicks(&edit, "955");
    QCOMPARE(edit.displayText(), QString("123.456.789-55"));

    // Typing over a selection replaces it.
    edit.selectAll();
    QTest::keyClicks(&edit, "9");
    QCOMPARE(edit.text(), QString("9"));
    QCOMPARE(edit.displayText(), QString("9  .   .   -  "));

    // Delete blanks the position under the cursor.
    edit.setText("12345678909");
    edit.setCursorPosition(0);
    QTest::keyClick(&edit, Qt::Key_Delete);
    QCOMPARE(edit.displayText(), QString(" 23.456.789-09"));
    QCOMPARE(edit.text(), QString("2345678909"));
}

void TestEdits::changeSignal()
{
    MaskEdit edit("99;0; ");
    QSignalSpy changed(&edit, &MaskEdit::changed);
    edit.show();
    edit.setFocus();
    QTest::keyClicks(&edit, "12");
    QCOMPARE(changed.size(), 2); // every keystroke
    QTest::keyClick(&edit, Qt::Key_X);
    QCOMPARE(changed.size(), 2); // refused: no change
    edit.setText("07");
    QCOMPARE(changed.size(), 3); // set by the program
    edit.setText("07");
    QCOMPARE(changed.size(), 3); // same text: no change
    edit.clear();
    QCOMPARE(changed.size(), 4);
}

void TestEdits::maskChangeKeepsTheValue()
{
    MaskEdit edit; // a client registration starts without a mask
    edit.setText("12345678000195");
    edit.setEditMask("99.999.999/9999-99;0; ");
    QCOMPARE(edit.text(), QString("12345678000195"));
    QCOMPARE(edit.displayText(), QString("12.345.678/0001-95"));
    edit.setEditMask("");
    QCOMPARE(edit.text(), QString("12345678000195"));

    MaskEdit number("99999999999999999999;0; ");
    number.setText("123");
    number.setEditMask("999999;0; ");
    QCOMPARE(number.text(), QString("123"));
    number.setText("123456789");
    QCOMPARE(number.text(), QString("123456")); // past the mask: cut
}

void TestEdits::noMaskHonoursMaxLengthAndCase()
{
    MaskEdit edit;
    edit.setMaxLength(16);
    edit.setCharCase(MaskEdit::CharCase::Upper);
    edit.show();
    edit.setFocus();
    QTest::keyClicks(&edit, "ab-12345678901234567");
    QCOMPARE(edit.text(), QString("AB-1234567890123"));
    QCOMPARE(edit.maxLength(), 16);

    MaskEdit code("99;0; ");
    code.setMaxLength(2);
    QCOMPARE(code.editMask(), QString("99;0; "));
    code.show();
    code.setFocus();
    QTest::keyClicks(&code, "123");
    QCOMPARE(code.text(), QString("12"));
}

void TestEdits::textSetThroughTheBaseClassIsLaidIntoTheMask()
{
    MaskEdit edit("99.999.999/9999-99;0; ");
    static_cast<QLineEdit &>(edit).setText("12345678000195");
    QCOMPARE(edit.displayText(), QString("12.345.678/0001-95"));
    QCOMPARE(edit.text(), QString("12345678000195"));
}

void TestEdits::dateTypingAndReading()
{
    TDateEditPlus date;
    date.show();
    date.setFocus();
    QVERIFY(date.text().isEmpty());
    QVERIFY(!date.GetDate().isValid());
    QTest::keyClicks(&date, "05032024");
    QCOMPARE(date.text(), QString("05/03/2024"));
    QCOMPARE(date.GetDate(), QDate(2024, 3, 5));

    date.SetDate(QDate(2023, 12, 31));
    QCOMPARE(date.text(), QString("31/12/2023"));
    date.SetDate(QDate());
    QVERIFY(date.text().isEmpty());
    date.setText("01/02/2024");
    QCOMPARE(date.GetDate(), QDate(2024, 2, 1));
}

void TestEdits::dateCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QString>("after");
    QTest::newRow("empty") << "" << true << "";
    QTest::newRow("valid") << "29022024" << true << "29/02/2024";
    QTest::newRow("two-digit year") << "010224" << true << "01/02/2024";
    QTest::newRow("impossible") << "31022024" << false << "31/02/2024";
    QTest::newRow("not a leap year") << "29022023" << false << "29/02/2023";
    QTest::newRow("incomplete") << "0102" << false << "01/02/    ";
    QTest::newRow("three-digit year") << "0102202" << false << "01/02/202 ";
}

void TestEdits::dateCheck()
{
    QFETCH(QString, typed);
    QFETCH(bool, passes);
    QFETCH(QString, after);
    RecordingPresenter presenter;
    TDateEditPlus date;
    date.show();
    date.setFocus();
    QTest::keyClicks(&date, typed);
    QCOMPARE(runAction(&date, [&]() { date.CheckValidDate(); }), passes);
    QCOMPARE(date.text(), after);
    QCOMPARE(presenter.errors(), passes ? QStringList() : QStringList{"Data inválida."});
}

void TestEdits::dateLook()
{
    TDateEditPlus date;
    date.setWeekDayNames({"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"});
    date.setValidDateColor(Qt::blue);
    const QColor normal = QPalette().color(QPalette::Text);
    date.SetDate(QDate(2024, 3, 3)); // a Sunday
    QCOMPARE(date.weekDayName(), QString("Domingo"));
    QCOMPARE(date.palette().color(QPalette::Text), QColor(Qt::blue));
    date.SetDate(QDate(2024, 3, 9));
    QCOMPARE(date.weekDayName(), QString("Sábado"));
    date.setText("3102");
    QVERIFY(date.weekDayName().isEmpty());
    QCOMPARE(date.palette().color(QPalette::Text), normal);
}

void TestEdits::dateCalendarPicks()
{
    TDateEditPlus date;
    date.show();
    date.setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&date));
    date.SetDate(QDate(2024, 3, 5));
    QTest::keyClick(&date, Qt::Key_F4);
    QVERIFY(date.calendar() && date.calendar()->isVisible());
    auto *days = date.calendar()->findChild<QTableView *>("qt_calendar_calendarview");
    QVERIFY(days);
    QTest::keyClick(days, Qt::Key_Right);
    QTest::keyClick(days, Qt::Key_Return);
    QVERIFY(!date.calendar()->isVisible());
    QCOMPARE(date.GetDate(), QDate(2024, 3, 6));
}

void TestEdits::numberTypingAndFormat()
{
    QWidget window;
    TNumberEdit &number = *new TNumberEdit(&window);
    QLineEdit &other = *new QLineEdit(&window);
    other.move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(number.GetNumber(), 0.0); // empty counts as 0
    number.setFocus();
    QTest::keyClicks(&number, "12a34.5,6");
    QCOMPARE(number.text(), QString("1234,56")); // a second separator is refused
    QCOMPARE(number.GetNumber(), 1234.56);
    other.setFocus();
    QCOMPARE(number.text(), QString("1.234,56"));
    QCOMPARE(number.GetNumber(), 1234.56);

    number.clear();
    number.setFocus();
    QTest::keyClicks(&number, "-7");
    other.setFocus();
    QCOMPARE(number.text(), QString("-7,00"));
    QCOMPARE(number.GetNumber(), -7.0);
}

void TestEdits::numberOptions()
{
    TNumberEdit number;
    number.SetNumber(1234567.891);
    QCOMPARE(number.text(), QString("1.234.567,89"));
    number.setThousandsSeparator(false);
    QCOMPARE(number.text(), QString("1234567,89"));
    number.setDecimals(0);
    QCOMPARE(number.text(), QString("1234568"));
    number.setCurrency(true);
    QVERIFY(number.text().startsWith(QLocale().currencySymbol()));
    QCOMPARE(number.GetNumber(), 1234568.0);
}

QTEST_MAIN(TestEdits)
#include "tst_edits.moc"
