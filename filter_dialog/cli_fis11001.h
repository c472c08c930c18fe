#pragma once

// The unit Cli_Fis11001: the filter dialog. `TfrmFiltroCompraLEGALBA`, its controls, tables,
// queries, handlers and routines (`FormCreate`, `sbtConfirmaClick`, `Atualiza_Datas`, the `Vd_`
// checks, ...), the record type `TRecordFilter`, the routine `CriaFtrCompraLEGAL` and the
// module state `frmFiltroCompraLEGALBA`, `boConfirma`, `boVazio`, `stStatus`, `stCodTipoOper`,
// `stCodSerie` keep the names under which the module has always been known (also as objectName
// of the widgets); everything else follows the Qt naming of the project.

#include "compralegal/filtercriteria.h"
#include "compralegal/pkgexport.h"
#include "contracts/compralegalcontract.h"
#include "hostfw/widgets/filtropadrao.h"

#include <QString>

#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace fis {
class DataSource;
class MaskEdit;
class MemTable;
class TADOIBQuery;
class TBtnPesquisa;
class TDateEditPlus;
class TNumberEdit;
class TRadioGroup;
} // namespace fis

namespace fis::compralegal {

// What the dialog reads and fills on the export screen it filters for. The screen registers
// itself while it exists (setExportScreen), so the dialog is built without the screen's unit.
class ExportScreenLink
{
public:
    virtual ~ExportScreenLink() = default;
    virtual QString companyCode() const = 0;               // the header's company code
    virtual AppServer appServer() = 0;                     // the screen's server connection
    virtual MemTable &invoiceList() = 0;                   // the list a confirmation replaces
    virtual QString message(const QString &key) const = 0; // a text of the screen's table
    virtual void invoicesLoaded() = 0;                     // repaints after a confirmation
    virtual void filterCancelled() = 0;                    // export follows the list again
};

// The export screen, or nullptr while there is none.
PKG_FIS11000_EXPORT ExportScreenLink *exportScreen();
PKG_FIS11000_EXPORT void setExportScreen(ExportScreenLink *screen);

} // namespace fis::compralegal

// Declared with the unit's types and kept for what is built against them; nothing in the module
// creates or reads one.
struct TRecordFilter
{
    std::int32_t Codigo;
    QString Empresa;
    QString Filial;
    QString Cliente;
    QString InscEstadual;
    QString InscMunicipal;
    QString Serie;
    QString TipoOperacao;
    unsigned char Dados[24];
};

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

    QLabel *lblFilial = nullptr;
    fis::MaskEdit *medCdFilial = nullptr; // ">aaaa;0; ", at most 4
    fis::TBtnPesquisa *btpFiliEmit = nullptr;
    QLineEdit *edtFilial = nullptr; // name of the validated or picked branch
    QLabel *lblCliente = nullptr;
    fis::MaskEdit *medInscClie = nullptr; // mask set by the client validation
    fis::TBtnPesquisa *btpPesqClie = nullptr;
    QLineEdit *edtNmClie = nullptr; // trade name of the validated or picked client
    QLabel *lblInscEsta = nullptr;
    QLineEdit *edtCdInscEsta = nullptr; // upper case, at most 16
    fis::TBtnPesquisa *btpInscEst = nullptr;
    QLabel *lblInscMuni = nullptr;
    QLineEdit *edtCdInscMuni = nullptr; // upper case, at most 16
    fis::TBtnPesquisa *btpInscMuni = nullptr;

    fis::TADOIBQuery *qryFilial;
    fis::DataSource *dtsFilial = nullptr;
    fis::TADOIBQuery *qryInscrEstad; // of the export screen's company
    fis::DataSource *dtsInscrEstad = nullptr;
    fis::TADOIBQuery *qryInscrMunicip; // of the export screen's company
    fis::DataSource *dtsInscrMunicip = nullptr;
    fis::TADOIBQuery *qryPesqClie; // every client, for the lookup list
    fis::DataSource *dtsPesqForn = nullptr;
    fis::TADOIBQuery *qryValidClie; // one client by person type and number

    QGroupBox *grbSerie = nullptr; // minimum value and NF number
    QLabel *lblValor = nullptr;
    fis::TNumberEdit *nedValor = nullptr; // 2 decimals, thousands separators
    QLabel *lblNumNF = nullptr;
    fis::MaskEdit *medNumNF = nullptr;       // "99999999999999999999;0; ", at most 20
    fis::MemTable *cdsParamFilial = nullptr; // NRTAMNUMNFUT: the branch's NF-number width

    QGroupBox *grbOperacao = nullptr; // "Tipo Operação"
    QRadioButton *rdgTodosTipoOper = nullptr;
    QRadioButton *rdgListaTipoOper = nullptr;
    fis::TBtnPesquisa *btpTipoOper = nullptr; // enabled with "Lista"
    QGroupBox *grbSerie1 = nullptr;           // "Série"
    QRadioButton *rdgTodasSerie = nullptr;
    QRadioButton *rdgListaSerie = nullptr;
    fis::TBtnPesquisa *btpSerie = nullptr; // enabled with "Lista"
    fis::TRadioGroup *rdgStatus = nullptr; // "Pendente", "Exportado", "Ambos"

    // The candidates of the two pickers, filled at each click and closed after it.
    fis::MemTable *cdsTpOperacao = nullptr; // ordered by CDTIPOOPER
    fis::DataSource *dtsTpOperacao = nullptr;
    fis::MemTable *cdsSerie = nullptr; // ordered by CDSERIE
    fis::DataSource *dtsSerie = nullptr;
    fis::TADOIBQuery *qryTipoOperac = nullptr; // exit operation types
    fis::DataSource *dtsTipoOper = nullptr;
    fis::TADOIBQuery *qryTpOperacE = nullptr; // entry operation types used in invoice issue
    fis::TADOIBQuery *qrySerieNF = nullptr;   // invoice series of the company and registration pair
    fis::DataSource *dtsSerieNF = nullptr;
    fis::TADOIBQuery *qrySerieEntr = nullptr; // entry series

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
    // The period: both dates given and the end not before the start.
    void Vd_DatasFiltro();
    // Fits the NF number to the branch's width, when one is known.
    void Vd_Nota();

    // Checks the criteria, loads the matching invoices from the server into the export screen's
    // list and closes the dialog; any refusal or error leaves it open with every entry.
    void sbtConfirmaClick() override;
    // The dialog's entries as they stand.
    fis::compralegal::FilterCriteria criteria() const;
    // The GetNotaFiscal request of the dialog's entries for the given company, with the list
    // keys by reference; the status is left for the caller.
    fis::compralegal::NotaFiscalRequest notaFiscalRequest(const QString &empresa) const;

    void depEmiIniExit();
    void depEmiFinExit();
    void medNumNFExit();

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
    // The list buttons follow the radio buttons; "Lista" of the series makes both registrations
    // required (their colour), "Todas" optional again.
    void rdgTodosTipoOperClick();
    void rdgListaTipoOprClick();
    void rdgTodasSerieClick();
    void rdgListaSerieClick();
    // The candidates, listed once per source with "S"/"E" keys, picked into stCodTipoOper /
    // stCodSerie.
    void btpTipoOperClick();
    void btpSerieClick();
    // The series offered depend on the registration pair: a change drops the picked series.
    void edtCdInscEstaChange();
    void edtCdInscMuniChange();

    // The registrations belong to the company typed on the export screen.
    void qryInscrEstadBeforeOpen(fis::TADOIBQuery &DataSet);
    void qryInscrMunicipBeforeOpen(fis::TADOIBQuery &DataSet);
    // The stored number laid into the display mask of the row's person type.
    QString qryPesqClieNRINSJURCLIEGetText(const fis::MemTable &Table, int Row,
                                           bool DisplayText) const;

    // Whether a registration box is marked required (the info-background colour).
    static bool isRequired(const QLineEdit *Edit);

private:
    void checkListEntries();
    void buildPeriod();
    void buildQueries();
    void buildFilialQuery();
    void buildInscrEstadQuery();
    void buildInscrMunicipQuery();
    void buildPesqClieQuery();
    void buildValidClieQuery();
    void buildLookups();
    void buildFilialRow();
    void buildClienteRow();
    void buildInscEstaRow();
    void buildInscMuniRow();
    void buildCriteria();
    void buildValueRow();
    void buildOperacaoGroup();
    void buildSerieGroup();
    void buildStatusGroup();
    void connectCriteria();
    void layoutBottomRow();
    void buildListQueries();
    void buildTipoOperacQuery();
    void buildTpOperacEQuery();
    void buildSerieNFQuery();
    void buildSerieEntrQuery();
    void buildCandidateTables();
    void buildParamFilialTable();
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
