#include "hostfw/widgets/menumerge.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace fis {

namespace {

const char *const groupProperty = "fisGroupIndex";

} // namespace

void setMenuGroupIndex(QMenu *menu, int groupIndex)
{
    menu->menuAction()->setProperty(groupProperty, groupIndex);
}

int menuGroupIndex(const QAction *menuAction)
{
    return menuAction ? menuAction->property(groupProperty).toInt() : 0;
}

MergedMenus mergeFormMenu(QMenuBar *mainMenu, QMenuBar *formMenu)
{
    MergedMenus merged;
    const QList<QAction *> own = mainMenu->actions();
    for (QAction *action : formMenu->actions()) {
        const int group = menuGroupIndex(action);
        QAction *before = nullptr;
        for (QAction *main : own) {
            const int mainGroup = menuGroupIndex(main);
            if (mainGroup == group && main->isVisible()) {
                main->setVisible(false);
                merged.hidden.append(main);
            }
            if (!before && mainGroup > group)
                before = main;
        }
        mainMenu->insertAction(before, action);
        merged.inserted.append(action);
    }
    return merged;
}

void unmergeFormMenu(QMenuBar *mainMenu, const MergedMenus &merged)
{
    for (const QPointer<QAction> &action : merged.inserted) {
        if (action)
            mainMenu->removeAction(action);
    }
    for (const QPointer<QAction> &action : merged.hidden) {
        if (action)
            action->setVisible(true);
    }
}

} // namespace fis
