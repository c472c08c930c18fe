#include "hostfw/widgets/menushortcuts.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

namespace fis {

namespace {

bool claims(const QList<QAction *> &actions, const QKeySequence &pressed)
{
    for (const QAction *action : actions) {
        if (!action->isVisible() || !action->isEnabled())
            continue;
        if (QMenu *menu = action->menu()) {
            if (claims(menu->actions(), pressed))
                return true;
            continue;
        }
        for (const QKeySequence &shortcut : action->shortcuts())
            if (shortcut == pressed)
                return true;
    }
    return false;
}

} // namespace

void MenuShortcuts::ensureInstalled()
{
    static QPointer<MenuShortcuts> installed;
    if (installed || !qApp)
        return;
    installed = new MenuShortcuts(qApp);
    qApp->installEventFilter(installed);
}

bool MenuShortcuts::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::ShiftModifier)
        return false; // typing, never a menu's
    const QKeySequence pressed(key->keyCombination());
    // A screen carries its menu items itself (its own menu bar stays hidden, its items join the
    // host's); the host's menus are in the window's visible menu bar.
    bool claimed = false;
    const auto *widget = static_cast<const QWidget *>(watched);
    for (const QWidget *w = widget; w && !claimed; w = w->isWindow() ? nullptr : w->parentWidget())
        claimed = claims(w->actions(), pressed);
    for (const QMenuBar *bar : widget->window()->findChildren<QMenuBar *>())
        claimed = claimed || (bar->isVisible() && claims(bar->actions(), pressed));
    if (!claimed)
        return false;
    // Not accepted: the key goes to the menu item's shortcut, not to the control.
    event->ignore();
    return true;
}

} // namespace fis
