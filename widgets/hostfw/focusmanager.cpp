#include "hostfw/widgets/focusmanager.h"

#include "hostfw/widgets/useraction.h"

#include <QApplication>
#include <QFocusEvent>
#include <QList>
#include <QTimer>
#include <QWidget>

namespace fis {

namespace {

// Runs a function the next time a window becomes active, then goes.
class WindowActivationWatch : public QObject
{
public:
    WindowActivationWatch(QWidget *window, std::function<void()> onActive)
        : QObject(window)
        , m_onActive(std::move(onActive))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            watched->removeEventFilter(this);
            m_onActive();
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> m_onActive;
};

} // namespace

namespace {

const char *const scopeProperty = "fisFormScope";

bool isUserReason(Qt::FocusReason reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
           reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason;
}

// `widget` is `other` or holds it.
bool holds(const QWidget *widget, const QWidget *other)
{
    return other && (widget == other || widget->isAncestorOf(other));
}

bool canTakeFocus(const QWidget *widget)
{
    return widget && widget->isVisible() && widget->isEnabled();
}

} // namespace

FocusManager &FocusManager::instance()
{
    static QPointer<FocusManager> manager;
    if (!manager)
        manager = new FocusManager(QCoreApplication::instance());
    return *manager;
}

FocusManager::FocusManager(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

void FocusManager::setFormScope(QWidget *widget)
{
    widget->setProperty(scopeProperty, true);
    instance(); // from now on the scope's focus is followed
}

void FocusManager::track(QWidget *widget)
{
    if (m_handlers.contains(widget))
        return;
    m_handlers.insert(widget, {});
    connect(widget, &QObject::destroyed, this, [this, widget]() { m_handlers.remove(widget); });
}

void FocusManager::setExitHandler(QWidget *widget, std::function<void()> handler)
{
    track(widget);
    m_handlers[widget].exit = std::move(handler);
}

void FocusManager::setEnterHandler(QWidget *widget, std::function<void()> handler)
{
    track(widget);
    m_handlers[widget].enter = std::move(handler);
}

void FocusManager::rememberScope(QWidget *scope)
{
    if (m_lastFocus.contains(scope))
        return;
    m_lastFocus.insert(scope, nullptr);
    connect(scope, &QObject::destroyed, this, [this, scope]() {
        m_lastFocus.remove(scope);
        m_busyScopes.remove(scope);
    });
}

QWidget *FocusManager::scopeOf(QWidget *widget) const
{
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        if (w->property(scopeProperty).toBool() || w->isWindow())
            return w;
    }
    return widget;
}

bool FocusManager::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched->isWidgetType() && watched == QApplication::focusWidget()) {
            focusEntered(static_cast<QWidget *>(watched),
                         static_cast<QFocusEvent *>(event)->reason());
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // The click whose focus move an exit handler refused must not reach its target.
        if (m_swallowMouse && watched->isWidgetType()) {
            m_swallowMouse = false;
            m_swallowRelease = true;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_swallowRelease && watched->isWidgetType()) {
            m_swallowRelease = false;
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}

void FocusManager::settleRefusedTarget(QWidget *to)
{
    // The control a refused move entered had its focus-in. On a desktop the message that refused
    // it made the window inactive, and when the window is active again the focus goes back
    // without a focus-out for that control: an edit's caret would go on blinking beside the real
    // one. So once the window is back (and at once, for a window that never left), a control
    // that holds no focus is told it has none.
    if (!to || !to->window())
        return;
    const QPointer<QWidget> target = to;
    const auto settle = [target] {
        if (target && QApplication::focusWidget() != target) {
            QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
            QCoreApplication::sendEvent(target, &out);
        }
    };
    QTimer::singleShot(0, this, settle);
    auto *watch = new WindowActivationWatch(to->window(), settle);
    // A window that is not activated again soon keeps what it has.
    QTimer::singleShot(5000, watch, &QObject::deleteLater);
}

void FocusManager::focusEntered(QWidget *widget, Qt::FocusReason reason)
{
    QWidget *scope = scopeOf(widget);
    rememberScope(scope);
    QPointer<QWidget> from = m_lastFocus.value(scope);
    m_lastFocus[scope] = widget;
    if (m_busyScopes.contains(scope) || from == widget)
        return;

    m_busyScopes.insert(scope);
    QPointer<QWidget> scopeGuard = scope;
    QPointer<QWidget> to = widget;
    bool proceed = true;
    if (isUserReason(reason) && canTakeFocus(from) && scopeOf(from) == scope) {
        proceed = runExits(scope, from, to);
        if (!proceed) {
            if (canTakeFocus(from) && QApplication::focusWidget() != from)
                from->setFocus(Qt::OtherFocusReason);
            settleRefusedTarget(to);
            if (reason == Qt::MouseFocusReason) {
                m_swallowMouse = true;
                // Only the press now being delivered; a later click is the user's again.
                QTimer::singleShot(0, this, [this]() { m_swallowMouse = false; });
            }
        } else if (!to || to->window()->focusWidget() != to) {
            proceed = false; // a handler sent the focus elsewhere: that move wins
        }
    }
    if (proceed && to)
        runEnters(scope, from, to);

    if (scopeGuard) {
        // Changes made while the handlers ran were not followed one by one; take the result.
        QWidget *now = scope->window()->focusWidget();
        if (now && scopeOf(now) == scope)
            m_lastFocus[scope] = now;
        else if (!proceed && from)
            m_lastFocus[scope] = from;
    }
    m_busyScopes.remove(scope);
}

bool FocusManager::runExits(QWidget *scope, QWidget *from, QWidget *to)
{
    QList<QPointer<QWidget>> leaving;
    for (QWidget *w = from; w && w != scope; w = w->parentWidget()) {
        if (!holds(w, to))
            leaving.append(w);
    }
    for (const QPointer<QWidget> &w : leaving) {
        if (!w)
            continue;
        // A copy: the handler may replace or remove itself.
        const std::function<void()> handler = m_handlers.value(w).exit;
        if (handler && !runAction(w, handler))
            return false;
    }
    return true;
}

void FocusManager::runEnters(QWidget *scope, QWidget *from, QWidget *to)
{
    QList<QPointer<QWidget>> entering;
    for (QWidget *w = to; w && w != scope; w = w->parentWidget()) {
        if (!from || !holds(w, from))
            entering.prepend(w);
    }
    for (const QPointer<QWidget> &w : entering) {
        if (!w)
            continue;
        const std::function<void()> handler = m_handlers.value(w).enter;
        if (handler && !runAction(w, handler))
            return;
    }
}

} // namespace fis
