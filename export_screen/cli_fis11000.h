#pragma once

// The unit Cli_Fis11000: the export screen. `TfrmCompraLegalBA`, its controls and tables
// (`Panel2`, `medCdImposto`, `cdsNotaFiscal`, `dtsNotaFiscal`, `cdsRegistro`, `IDREGISTRO`,
// `NetCompraLEGALBA`, `mnuNota`, `Exportar2`, `mnuFiltro`), its handlers (`FormCreate`,
// `FormActivate`, `FormClose`, `NetCompraLEGALBABeforeConnect`), the routine `CriaCompraLEGAL`
// and the module state `frmCompraLegalBA`, `boIdCriado`, `boEntra` keep the names under which the
// module has always been known (also as objectName of the widgets and tables); everything else
// follows the Qt naming of the project.

#include "hostfw/widgets/padrimportexport.h"
#include "package/pkgexport.h"

class QAction;
class QFrame;
class QMenu;
class QMenuBar;

namespace fis {
class DataSource;
class MaskEdit;
class MemTable;
class NetConnection;
} // namespace fis

// The screen FIS11000 "Compra LEGAL - BA": the header Panel2 (tax code, later the company and the
// output name) above the invoice list, which fills the rest of the client area.
//
// Create it through CriaCompraLEGAL(), which keeps one screen at a time. FormCreate opens the
// server connection and throws the connection's RpcError when the server cannot be reached.
class PKG_FIS11000_EXPORT TfrmCompraLegalBA : public fis::TfrmPadrImportExport
{
    Q_OBJECT
public:
    explicit TfrmCompraLegalBA(QWidget *parent = nullptr);
    ~TfrmCompraLegalBA() override;

    QFrame *Panel2;              // the header
    fis::MaskEdit *medCdImposto; // tax code "99;0; ", required colour
    QFrame *gridFrame() const { return m_gridFrame; }

    fis::MemTable *cdsNotaFiscal;   // the invoice list: closed until a filter loads it
    fis::DataSource *dtsNotaFiscal; // its data source
    fis::MemTable *cdsRegistro;     // IDREGISTRO, created empty by FormCreate
    fis::NetConnection *NetCompraLEGALBA;

    QMenuBar *mnuNota;  // joins the host's main menu while the screen is active
    QMenu *mnuOperacao; // "Operação", group index 2
    QAction *Exportar2; // "E&xportar", Ctrl+E
    QAction *mnuFiltro; // "F&iltro", Ctrl+L

    void FormCreate() override;
    void FormActivate() override;
    void FormClose(fis::CloseAction &Action) override;
    void NetCompraLEGALBABeforeConnect(fis::NetConnection *Sender);

private:
    void buildHeader();
    void buildMenu();

    QFrame *m_gridFrame;
};

extern "C" {
// Module state of the unit, exported under these names in this order: the screen (nullptr once
// it is gone), whether a screen exists, whether its first activation is still pending.
PKG_FIS11000_EXPORT extern TfrmCompraLegalBA *frmCompraLegalBA;
PKG_FIS11000_EXPORT extern bool boIdCriado;
PKG_FIS11000_EXPORT extern bool boEntra;

// Opens the export screen: creates it when there is none, else restores the existing one to its
// normal size and brings it to the front. Errors while creating it (the server connection) pass
// to the caller; no half-made screen stays and the next call tries again.
PKG_FIS11000_EXPORT void CriaCompraLEGAL();
}
