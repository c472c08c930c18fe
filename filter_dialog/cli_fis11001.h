#pragma once

// The unit Cli_Fis11001: the filter dialog. `TfrmFiltroCompraLEGALBA`, its controls
// (`grbDataEmissao`, `depEmiIni`, `depEmiFin`), its handlers and routines (`FormCreate`,
// `FormClose`, `sbtCancelClick`, `Atualiza_Datas`), the branch, client and registration lookups
// (their controls, queries, handlers and `Vd_` routines), the routine `CriaFtrCompraLEGAL` and the
// module state `frmFiltroCompraLEGALBA`, `boConfirma`, `boVazio`, `stStatus`, `stCodTipoOper`,
// `stCodSerie` keep the names under which the module has always been known (also as objectName
// of the widgets); everything else follows the Qt naming of the project.

#include "hostfw/widgets/filtropadrao.h"
#include "package/pkgexport.h"

#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;

namespace fis {
class DataSource;
class MaskEdit;
class MemTable;
class TADOIBQuery;
class TBtnPesquisa;
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

    QLabel *lblFilial;
    fis::MaskEdit *medCdFilial; // ">aaaa;0; ", at most 4
    fis::TBtnPesquisa *btpFiliEmit;
    QLineEdit *edtFilial; // name of the validated or picked branch
    QLabel *lblCliente;
    fis::MaskEdit *medInscClie; // mask set by the client validation
    fis::TBtnPesquisa *btpPesqClie;
    QLineEdit *edtNmClie; // trade name of the validated or picked client
    QLabel *lblInscEsta;
    QLineEdit *edtCdInscEsta; // upper case, at most 16
    fis::TBtnPesquisa *btpInscEst;
    QLabel *lblInscMuni;
    QLineEdit *edtCdInscMuni; // upper case, at most 16
    fis::TBtnPesquisa *btpInscMuni;

    fis::TADOIBQuery *qryFilial;
    fis::DataSource *dtsFilial;
    fis::TADOIBQuery *qryInscrEstad; // of the export screen's company
    fis::DataSource *dtsInscrEstad;
    fis::TADOIBQuery *qryInscrMunicip; // of the export screen's company
    fis::DataSource *dtsInscrMunicip;
    fis::TADOIBQuery *qryPesqClie; // every client, for the lookup list
    fis::DataSource *dtsPesqForn;
    fis::TADOIBQuery *qryValidClie; // one client by person type and number

    // Throws what Atualiza_Datas throws; createForm() then releases the dialog.
    void FormCreate() override;
    void FormClose(fis::CloseAction &Action) override;
    void sbtCancelClick() override;
    // The default period: the first day of the current branch's processing month to its
    // processing date. Throws HostError or DatabaseError when the branch's date cannot be read.
    void Atualiza_Datas();

    // Each ends the action through MensErro when its criterion names no record, with the focus
    // in its edit; an empty criterion passes, except that an empty state registration is still
    // looked up.
    void Vd_filial();
    void Vd_Cliente();
    void Vd_CdInscEsta();
    void Vd_CdInscMuni();

    // A name stays only while its code is the one last validated or picked.
    void medCdFilialChange();
    void medInscClieChange();
    void medCdFilialExit();
    void medInscClieExit();
    void edtCdInscEstaExit();
    void edtCdInscMuniExit();
    // The lookups list every row; a pick fills the code, then the name.
    void btpFiliEmitBeforePesq();
    void btpFiliEmitAfterPesq();
    void btpPesqClieBeforePesq();
    void btpPesqClieAfterPesq();
    void btpInscEstBeforePesq();
    void btpInscEstAfterPesq();
    void btpInscMuniBeforePesq();
    void btpInscMuniAfterPesq();
    // The registrations belong to the company typed on the export screen.
    void qryInscrEstadBeforeOpen(fis::TADOIBQuery &DataSet);
    void qryInscrMunicipBeforeOpen(fis::TADOIBQuery &DataSet);
    // The stored number laid into the display mask of the row's person type.
    QString qryPesqClieNRINSJURCLIEGetText(const fis::MemTable &Table, int Row,
                                           bool DisplayText) const;

private:
    void buildQueries();
    void buildLookups();
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
