#pragma once

#include <QList>
#include <QPointer>

class QAction;
class QMenu;
class QMenuBar;

namespace fis {

// Group indexes of the menus of a menu bar: a form's menus join the host's main menu while the
// form is active, each placed by its group index.
void setMenuGroupIndex(QMenu *menu, int groupIndex);
int menuGroupIndex(const QAction *menuAction); // 0 when none was set

// Puts the menus of a form's menu bar into the main menu bar: a form menu replaces the main
// menus of the same group index (they are hidden meanwhile) and goes before the first main menu
// of a greater index. Returns what unmergeFormMenu() needs to undo it.
struct MergedMenus
{
    QList<QPointer<QAction>> inserted;
    QList<QPointer<QAction>> hidden;
};
MergedMenus mergeFormMenu(QMenuBar *mainMenu, QMenuBar *formMenu);
void unmergeFormMenu(QMenuBar *mainMenu, const MergedMenus &merged);

} // namespace fis
