#pragma once

// The unit Cli_Fis11001: the filter dialog. `TfrmFiltroCompraLEGALBA`, its controls
// (`grbDataEmissao`, `depEmiIni`, `depEmiFin`), its handlers and routines (`FormCreate`,
// `FormClose`, `sbtCancelClick`, `Atualiza_Datas`), the routine `CriaFtrCompraLEGAL` and the
// module state `frmFiltroCompraLEGALBA`, `boConfirma`, `boVazio`, `stStatus`, `stCodTipoOper`,
// `stCodSerie` keep the names under which the module has always been known (also as objectName
// of the widgets); everything else follows the Qt naming of the project.

#include "hostfw/widgets/filtropadrao.h"
#include "package/pkgexport.h"

#include <QString>

class QGroupBox;

namespace fis {
class TDateEditPlus;
} // namespace fis

// The dialog FIS11001 "Filtro de Compra LEGAL": the criteria that select the invoices of the
// export screen. Created once by CriaFtrCompraLEGAL() and only hidden when closed, so its entries
// last as long as the host runs.
class PKG_FIS11000_EXPORT TfrmFiltroCompraLEGALBA : public fis::TfrmFiltroPadrao
{
    Q_OBJECT
public:
    explicit TfrmFiltroCompraLEGALBA(QWidget *parent = nullptr);
    ~TfrmFiltroCompraLEGALBA() override;

    QGroupBox *grbDataEmissao; // "Período"
    fis::TDateEditPlus *depEmiIni;
    fis::TDateEditPlus *depEmiFin;

    // Throws what Atualiza_Datas throws; createForm() then releases the dialog.
    void FormCreate() override;
    void FormClose(fis::CloseAction &Action) override;
    void sbtCancelClick() override;
    // The default period: the first day of the current branch's processing month to its
    // processing date. Throws HostError or DatabaseError when the branch's date cannot be read.
    void Atualiza_Datas();
};

extern "C" {
// Module state of the unit, exported under these names in this order: the dialog (created at
// its first opening); whether the list was requested with the dialog's criteria at least once;
// an unused flag; the status code of the export run's reload; the chosen operation-type keys;
// the chosen series keys.
PKG_FIS11000_EXPORT extern TfrmFiltroCompraLEGALBA *frmFiltroCompraLEGALBA;
PKG_FIS11000_EXPORT extern bool boConfirma;
PKG_FIS11000_EXPORT extern bool boVazio;
PKG_FIS11000_EXPORT extern QString stStatus;
PKG_FIS11000_EXPORT extern QString stCodTipoOper;
PKG_FIS11000_EXPORT extern QString stCodSerie;

// Opens the filter dialog modally (creating it the first time) and returns boConfirma once it
// has closed. Errors while creating it pass to the caller.
PKG_FIS11000_EXPORT bool CriaFtrCompraLEGAL();
}

namespace fis {
// The unit's finalization, run when the package is unloaded: clears stCodSerie, stCodTipoOper and
// stStatus, in that order.
PKG_FIS11000_EXPORT void finalizeCli_Fis11001();
} // namespace fis
