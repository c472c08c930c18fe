#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class QWidget;

namespace fis {

// The enter and exit rules of the classic desktop forms, for the whole application.
//
// Handlers are registered per widget: a control, or a container (panel, group box) whose exit
// handler runs when the focus leaves every control inside it. A form (the base windows, or else
// any top-level window) is a scope: its own last focused control is remembered, and only moves
// inside one scope run handlers. Going to another window and back runs nothing.
//
// A move made by the user (Tab, Shift+Tab, a mouse click, a label's shortcut) from control A to
// control B runs, each as a user action of its own:
//   1. the exit handlers of A and of its containers that do not hold B, innermost first;
//   2. the enter handlers of B's containers that do not hold A, outermost first, then B's.
// When an exit handler ends its action (MensErro, or any error, which the runner shows) the
// focus goes back to A (or stays there) and the move stops: no further exit handler and no enter
// handler runs, and the click that made the move is not delivered. Qt moves the focus before the
// handlers run, so B sees a brief focus-in and focus-out of its own.
//
// A move made by the program (setFocus(), a window that gets the focus back, a window shown for
// the first time) runs only the enter handlers of what it enters: the forms put the focus into a
// field before MensErro without validating the field they leave, and a screen's first
// activation runs the enter handler of the field it focuses.
//
// While handlers of a scope run, further focus changes in that scope (a handler's setFocus, a
// message box giving the focus back) run nothing, so no handler runs twice. Buttons that take no
// focus (TButtonFlat, TBtnPesquisa) move nothing and run no handler.
class FocusManager : public QObject
{
    Q_OBJECT
public:
    static FocusManager &instance();

    // An empty function removes the handler. Handlers go away with their widget.
    void setExitHandler(QWidget *widget, std::function<void()> handler);
    void setEnterHandler(QWidget *widget, std::function<void()> handler);

    // Marks a widget as a form: a scope of its own (the base windows mark themselves).
    static void setFormScope(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit FocusManager(QObject *parent = nullptr);

    struct Handlers
    {
        std::function<void()> exit;
        std::function<void()> enter;
    };

    QWidget *scopeOf(QWidget *widget) const;
    void focusEntered(QWidget *widget, Qt::FocusReason reason);
    void settleRefusedTarget(QWidget *to);
    bool runExits(QWidget *scope, QWidget *from, QWidget *to);
    void runEnters(QWidget *scope, QWidget *from, QWidget *to);
    void track(QWidget *widget);
    void rememberScope(QWidget *scope);

    QHash<QWidget *, Handlers> m_handlers;
    QHash<QWidget *, QPointer<QWidget>> m_lastFocus; // by scope
    QSet<QWidget *> m_busyScopes;
    bool m_swallowMouse = false;
    bool m_swallowRelease = false;
};

} // namespace fis
