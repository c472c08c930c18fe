#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <utility>

class QKeyEvent;
class QWidget;

namespace fis {

// What closing a window does (the role of the close action of the forms' FormClose).
enum class CloseAction {
    None,     // the window stays open
    Hide,     // hidden, kept with all its entries
    Free,     // hidden and released (an MDI child's sub-window with it)
    Minimize, // an MDI child is minimised; any other window hidden
};

// Creates a form and runs its FormCreate, as creating a form did in the old host. When
// FormCreate throws, the form is released and the error goes on to the caller.
template<typename Form, typename... Args> Form *createForm(Args &&...args)
{
    std::unique_ptr<Form> form(new Form(std::forward<Args>(args)...));
    form->FormCreate();
    return form.release();
}

// Lets a form see the keys pressed in any of its controls before the control does (the role of
// KeyPreview). The handler runs as a user action with the form as context; it gets the Qt key
// code by reference and sets it to 0 to keep the key from the control. A handler that ends its
// action keeps the key from the control too.
class KeyPreview : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(int &key, Qt::KeyboardModifiers modifiers)>;
    KeyPreview(QWidget *form, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_form;
    Handler m_handler;
    // A key handled at a control goes on to the control's parents when the control leaves it.
    // A handler that opens a window moves the focus out of the form, so when the same event
    // then reaches the form it must not look like a new key.
    const QEvent *m_propagating = nullptr;
};

} // namespace fis
