#pragma once

// `TfrmPadrImportExport` and its members `panMenu`, `sbtImportExport`, `msgPadrao`,
// `FormCreate`, `FormClose` and `FormKeyDown` keep the names under which the screen modules use
// the host's import/export base screen (also as objectName of the widgets); everything else
// follows the Qt naming of the project.

#include "hostfw/messages.h"
#include "hostfw/widgets/buttonflat.h"
#include "hostfw/widgets/formbase.h"

#include <QIcon>
#include <QPointer>
#include <QWidget>

class QMdiSubWindow;
class QMenuBar;
class QVBoxLayout;

namespace fis {

// The base of the import/export screens: an MDI child (the host puts it into a QMdiSubWindow;
// shown alone it is a window of its own). The form's controls go into clientArea(); the button
// column panMenu on the right holds the Export button and whatever the form adds.
//
// Create it with createForm<T>(), which runs FormCreate. Every handler below runs as a user
// action. The form is a focus scope of its own (see FocusManager) and sees the keys of its
// controls first (FormKeyDown).
class TfrmPadrImportExport : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmPadrImportExport(QWidget *parent = nullptr);
    ~TfrmPadrImportExport() override;

    QWidget *panMenu;             // the button column
    TButtonFlat *sbtImportExport; // hint "Exportar"; runs sbtImportExportClick()
    TMessages msgPadrao;          // the form's message table

    // Where the derived form lays out its controls (no layout set).
    QWidget *clientArea() const { return m_client; }
    // A flat button added to panMenu below the ones already there.
    TButtonFlat *addMenuButton(const QString &name, const QString &hint, const QIcon &icon = {});

    // The form's menu (mnuNota): the host merges its menus into the main menu by group index
    // (menumerge.h) while the form is active. The form takes the menu bar (kept hidden) and makes
    // the shortcuts of its actions work while the focus is inside the form; call it once the
    // menu is complete.
    void setFormMenu(QMenuBar *menu);
    QMenuBar *formMenu() const { return m_menu; }

    // The MDI sub-window holding the form, nullptr when none.
    QMdiSubWindow *subWindow() const;

    // Run by createForm() after construction. The base does nothing.
    virtual void FormCreate();
    // Decides what closing does; the base releases the window (CloseAction::Free).
    virtual void FormClose(CloseAction &action);
    // Keys pressed in any control of the form, before the control; key 0 keeps the key from it.
    // The base does nothing.
    virtual void FormKeyDown(int &key, Qt::KeyboardModifiers shift);
    // The window became the active MDI child (or, alone, the active window). Runs after Qt has
    // given the focus back, so a focus set here stays. The base does nothing.
    virtual void FormActivate();
    // The Export button. The base does nothing.
    virtual void sbtImportExportClick();

signals:
    void formMenuChanged();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void followSubWindow();
    void activated();

    QWidget *m_client;
    QVBoxLayout *m_menuLayout;
    QMenuBar *m_menu = nullptr;
    QPointer<QMdiSubWindow> m_followed;
    bool m_released = false;
};

} // namespace fis
