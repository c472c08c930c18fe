#pragma once

#include <QObject>

namespace fis {

// Gives the shortcuts of a window's menus priority over the key bindings of its controls, as the
// menu items of the old host had: a line edit takes Ctrl+E as its own "end of line" and would
// otherwise keep it from "Exportar". Only an enabled item's shortcut wins: the items a screen
// carries (TfrmPadrImportExport::setFormMenu) and those of the window's visible menu bars; a key
// that no enabled item claims stays the control's.
class MenuShortcuts : public QObject
{
    Q_OBJECT
public:
    // Installs the rule once for the whole application; harmless to call again.
    static void ensureInstalled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};

} // namespace fis
