#pragma once

#include "base/error.h"

// `MensErro` and `CheckResultServ` keep the names under which the screen modules call them;
// everything else follows the Qt naming of the project.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QScopeGuard>
#include <QString>
#include <QWidget>

#include <exception>
#include <functional>

namespace fis {

class RpcValue;

// Thrown to end the running user action silently (after MensErro has shown its text). Only
// runAction() catches it; code between must let it pass.
class ActionAborted : public std::exception
{
public:
    const char *what() const noexcept override { return "user action ended"; }
};

// Shows the user the messages of the framework. One presenter serves the whole process.
class MessagePresenter
{
public:
    virtual ~MessagePresenter() = default;
    virtual void showError(QWidget *parent, const QString &text) = 0;
    virtual void showInformation(QWidget *parent, const QString &text) = 0;
};

// The presenter in use: the one installed, else the default, which shows a modal QMessageBox
// (critical or information, a single OK button).
MessagePresenter &messagePresenter();
// Installs a presenter (not owned; it must outlive its installation); nullptr restores the
// default.
void setMessagePresenter(MessagePresenter *presenter);

// Collects the messages instead of showing them, and never blocks: for tests. It installs itself
// on construction and puts the previous presenter back on destruction.
class RecordingPresenter : public MessagePresenter
{
public:
    enum class Kind { Error, Information };
    struct Message
    {
        Kind kind;
        QString text;
        QPointer<QWidget> focusWidget; // where the focus was when the message came
    };

    RecordingPresenter();
    ~RecordingPresenter() override;
    RecordingPresenter(const RecordingPresenter &) = delete;
    RecordingPresenter &operator=(const RecordingPresenter &) = delete;

    void showError(QWidget *parent, const QString &text) override;
    void showInformation(QWidget *parent, const QString &text) override;

    const QList<Message> &messages() const { return m_messages; }
    QStringList errors() const;
    QStringList informations() const;
    void clear() { m_messages.clear(); }

    // Called for every message as it comes, e.g. to look at the screen at that moment.
    std::function<void(const Message &)> onMessage;

private:
    void record(Kind kind, const QString &text);

    QList<Message> m_messages;
    MessagePresenter *m_previous;
};

// Runs one user action: a click, a menu command, a key handler, an exit or enter handler, a
// lookup. Every handler of a form runs through here, so no exception crosses the Qt event loop.
//
// MensErro and abortAction() end the action silently (MensErro has shown its text already); any
// other exception (database, server, data set, file) is shown by the presenter's error display.
// Either way the wait indicator is hidden and the screen cursor set back to the default, so a
// failed action never leaves an hourglass behind. Returns true when the action ran to its end.
//
// Each call is a boundary of its own: a handler that needs another handler's effect calls it
// directly, not through a button's click(), so that an abort ends the whole action.
// `context` (may be nullptr) parents the message boxes shown for the action.
bool runAction(QWidget *context, const std::function<void()> &action);

// The context of the innermost running action, nullptr outside any action.
QWidget *currentActionContext();

// The host's standard error display: the presenter's error, parented to the running action's
// window. The wait indicator is hidden and the screen cursor reset first, so the message never
// sits under a "loading" window or an hourglass.
void showError(const QString &text);
void showInformation(const QString &text);

// Shows `text` as an error; with abortAction true (every caller passes true) it then ends the
// user action: nothing after it runs.
void MensErro(const QString &text, bool abortAction = true);

// Ends the user action without a message.
[[noreturn]] void abortAction();

// Checks a server answer: an array whose element `index` is "OK", or a plain text "OK", passes
// (returns true). Otherwise the element's text (or, for an answer of another shape, a text saying
// so) is shown as an error and, with abortAction true, the action ends; with false it returns
// false.
bool CheckResultServ(const RpcValue &answer, bool abortAction = true, int index = 0);

// The application-wide mouse cursor as the forms set it (the role of Screen.Cursor): any shape
// but Qt::ArrowCursor shows it over the whole application, Qt::ArrowCursor goes back to the
// default. Setting is idempotent; the framework holds one override cursor for it.
void setScreenCursor(Qt::CursorShape shape);
// Shows the hourglass until the returned guard goes, on every way out: an error passed on to the
// host must not leave the whole application under an hourglass.
[[nodiscard]] inline auto waitCursor()
{
    setScreenCursor(Qt::WaitCursor);
    return qScopeGuard([] { setScreenCursor(Qt::ArrowCursor); });
}
Qt::CursorShape screenCursor();

// Connects a signal to a handler that runs as a user action with `context` as its context (and
// as the connection's receiver). The signal's arguments are dropped.
template<typename Sender, typename Signal>
QMetaObject::Connection connectAction(Sender *sender, Signal signal, QWidget *context,
                                      std::function<void()> handler)
{
    return QObject::connect(sender, signal, context, [context, handler = std::move(handler)]() {
        runAction(context, handler);
    });
}

} // namespace fis
