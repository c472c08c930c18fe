#pragma once

// `ActiveShowAvi` and `DeactiveShowAvi` keep the names under which the screen modules call them;
// everything else follows the Qt naming of the project.

#include <QString>

class QLabel;
class QWidget;

namespace fis {

// Shows the wait indicator: a small frameless window centred on `form` (on the active window
// when `form` is nullptr) with `text`, and the busy cursor. The window is painted before this
// returns, so a blocking call that follows leaves it on the screen. `kind` chose an animation in
// the old host; every kind looks alike here. Showing it again while shown keeps the one window
// and changes its text; the detail line is cleared.
void ActiveShowAvi(QWidget *form, int kind, const QString &text);

// Hides the wait indicator and takes the busy cursor away. Harmless when it is not shown; one
// call hides it however often it was shown.
void DeactiveShowAvi();

// A second line under the text ("arquivo 2, página 3, 150000 linhas"), painted at once; empty
// removes it. Ignored while the indicator is hidden.
void setWaitDetail(const QString &text);

bool isWaitIndicatorShown();
// The indicator's window while shown, else nullptr; its labels are named "waitText" and
// "waitDetail".
QWidget *waitIndicatorWindow();

} // namespace fis
