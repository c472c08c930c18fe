#pragma once

// `TfrmFiltroPadrao` and its members `grbFiltroPadrao`, `panMenu`, `sbtConfirma`, `sbtCancel`,
// `sbtCancelClick`, `btfSaveOpc`, `btfLoadOpc`, `msgPadrao`, `FormCreate`, `FormClose` and
// `FormKeyDown` keep the names under which the screen modules use the host's base filter dialog
// (also as objectName of the widgets); everything else follows the Qt naming of the project.

#include "hostfw/messages.h"
#include "hostfw/widgets/buttonflat.h"
#include "hostfw/widgets/formbase.h"

#include <QDialog>

class QGroupBox;

namespace fis {

// The base of the filter dialogs: a modal dialog with the filter group box grbFiltroPadrao on the
// left and the button column panMenu on the right (confirm, cancel, save and load options).
//
// Create it with createForm<T>(), which runs FormCreate; show it with exec(). Every way of
// closing it (close(), the close box, Esc, accept(), reject()) runs FormClose first, which
// decides the close action: None keeps it open, Hide hides it (exec() returns), Free also
// releases it. Every handler runs as a user action; the dialog is a focus scope of its own and
// sees its controls' keys first (FormKeyDown).
class TfrmFiltroPadrao : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmFiltroPadrao(QWidget *parent = nullptr);
    ~TfrmFiltroPadrao() override;

    QGroupBox *grbFiltroPadrao;
    QWidget *panMenu;
    TButtonFlat *sbtConfirma; // hint "Confirmar"; runs sbtConfirmaClick()
    TButtonFlat *sbtCancel;   // hint "Cancelar"; runs sbtCancelClick()
    TButtonFlat *btfSaveOpc;  // hint "Salvar opções"
    TButtonFlat *btfLoadOpc;  // hint "Carregar opções"
    TMessages msgPadrao;

    // Run by createForm() after construction. The base does nothing.
    virtual void FormCreate();
    // The base releases the dialog (CloseAction::Free); a dialog that must keep its entries sets
    // CloseAction::Hide.
    virtual void FormClose(CloseAction &action);
    // As TfrmPadrImportExport::FormKeyDown. The base does nothing.
    virtual void FormKeyDown(int &key, Qt::KeyboardModifiers shift);
    // The confirm button. The base does nothing.
    virtual void sbtConfirmaClick();
    // The cancel button: the base closes the dialog.
    virtual void sbtCancelClick();
    // The option buttons. The base does nothing.
    virtual void btfSaveOpcClick();
    virtual void btfLoadOpcClick();

    void done(int result) override;

private:
    bool m_closing = false;
};

} // namespace fis
