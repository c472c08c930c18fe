#include "hostfw/widgets/formbase.h"

#include "hostfw/widgets/useraction.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace fis {

KeyPreview::KeyPreview(QWidget *form, Handler handler)
    : QObject(form)
    , m_form(form)
    , m_handler(std::move(handler))
{
    // Application-wide: a filter on the form alone would see its children's keys only after them.
    QCoreApplication::instance()->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *receiver = static_cast<QWidget *>(watched);
    if (receiver == m_form && event == m_propagating) {
        m_propagating = nullptr;
        return false;
    }
    // Once per key: the event is offered again to each parent while nobody takes it.
    QWidget *focus = QApplication::focusWidget();
    const bool first =
        receiver == focus || (receiver == m_form && !(focus && m_form->isAncestorOf(focus)));
    if (!first || (receiver != m_form && !m_form->isAncestorOf(receiver)))
        return false;
    m_propagating = receiver == m_form ? nullptr : event;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    int key = keyEvent->key();
    const Qt::KeyboardModifiers modifiers = keyEvent->modifiers();
    const bool completed = runAction(m_form, [&]() { m_handler(key, modifiers); });
    return !completed || key == 0;
}

} // namespace fis
