#include "hostfw/widgets/useraction.h"

#include "hostfw/hosterror.h"
#include "hostfw/widgets/cursorcontrol_p.h"
#include "hostfw/widgets/waitindicator.h"
#include "keylist/keylist.h"

#include "dataset/memtable.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcvalue.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QScopeGuard>

#include <vector>

namespace fis {

namespace {

class DefaultPresenter : public MessagePresenter
{
public:
    void showError(QWidget *parent, const QString &text) override
    {
        QMessageBox::critical(parent, QStringLiteral("Erro"), text, QMessageBox::Ok);
    }
    void showInformation(QWidget *parent, const QString &text) override
    {
        QMessageBox::information(parent, QStringLiteral("Informação"), text, QMessageBox::Ok);
    }
};

DefaultPresenter &defaultPresenter()
{
    static DefaultPresenter presenter;
    return presenter;
}

MessagePresenter *g_presenter = nullptr;
std::vector<QPointer<QWidget>> g_contexts; // running actions, innermost last

// The framework's single override cursor.
Qt::CursorShape g_screenShape = Qt::ArrowCursor;
bool g_waitCursor = false;
bool g_overrideSet = false;

void applyCursor()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    const Qt::CursorShape wanted = g_waitCursor ? Qt::WaitCursor : g_screenShape;
    if (wanted == Qt::ArrowCursor) {
        if (g_overrideSet) {
            QApplication::restoreOverrideCursor();
            g_overrideSet = false;
        }
    } else if (!g_overrideSet) {
        QApplication::setOverrideCursor(QCursor(wanted));
        g_overrideSet = true;
    } else {
        QApplication::changeOverrideCursor(QCursor(wanted));
    }
}

QWidget *messageParent()
{
    for (auto it = g_contexts.rbegin(); it != g_contexts.rend(); ++it) {
        if (*it)
            return (*it)->window();
    }
    return QApplication::activeWindow();
}

// Anything shown to the user ends the wait: no message under a "loading" window or hourglass.
void endWaiting()
{
    DeactiveShowAvi();
    g_screenShape = Qt::ArrowCursor;
    applyCursor();
}

} // namespace

namespace detail {

void setWaitCursorActive(bool active)
{
    g_waitCursor = active;
    applyCursor();
}

} // namespace detail

MessagePresenter &messagePresenter()
{
    return g_presenter ? *g_presenter : defaultPresenter();
}

void setMessagePresenter(MessagePresenter *presenter)
{
    g_presenter = presenter;
}

RecordingPresenter::RecordingPresenter()
    : m_previous(g_presenter)
{
    setMessagePresenter(this);
}

RecordingPresenter::~RecordingPresenter()
{
    if (g_presenter == this)
        setMessagePresenter(m_previous);
}

void RecordingPresenter::showError(QWidget *, const QString &text)
{
    record(Kind::Error, text);
}

void RecordingPresenter::showInformation(QWidget *, const QString &text)
{
    record(Kind::Information, text);
}

void RecordingPresenter::record(Kind kind, const QString &text)
{
    m_messages.append({kind, text, QApplication::focusWidget()});
    if (onMessage)
        onMessage(m_messages.last());
}

QStringList RecordingPresenter::errors() const
{
    QStringList texts;
    for (const Message &message : m_messages) {
        if (message.kind == Kind::Error)
            texts.append(message.text);
    }
    return texts;
}

QStringList RecordingPresenter::informations() const
{
    QStringList texts;
    for (const Message &message : m_messages) {
        if (message.kind == Kind::Information)
            texts.append(message.text);
    }
    return texts;
}

QWidget *currentActionContext()
{
    for (auto it = g_contexts.rbegin(); it != g_contexts.rend(); ++it) {
        if (*it)
            return *it;
    }
    return nullptr;
}

void showError(const QString &text)
{
    endWaiting();
    messagePresenter().showError(messageParent(), text);
}

void showInformation(const QString &text)
{
    endWaiting();
    messagePresenter().showInformation(messageParent(), text);
}

bool runAction(QWidget *context, const std::function<void()> &action)
{
    g_contexts.emplace_back(context);
    const auto pop = qScopeGuard([] { g_contexts.pop_back(); });
    try {
        if (action)
            action();
        return true;
    } catch (const ActionAborted &) {
        endWaiting();
    } catch (...) {
        // The text is taken first: showing it may run a nested event loop.
        showError(errorText(std::current_exception()));
    }
    return false;
}

void MensErro(const QString &text, bool abortAction)
{
    showError(text);
    if (abortAction)
        throw ActionAborted();
}

void abortAction()
{
    throw ActionAborted();
}

bool CheckResultServ(const RpcValue &answer, bool abortAction, int index)
{
    const std::optional<QString> error = answerFailure(answer, index);
    if (!error)
        return true;
    MensErro(*error, abortAction);
    return false;
}

void setScreenCursor(Qt::CursorShape shape)
{
    g_screenShape = shape;
    applyCursor();
}

Qt::CursorShape screenCursor()
{
    return g_screenShape;
}

} // namespace fis
