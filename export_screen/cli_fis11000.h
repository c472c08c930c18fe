#pragma once

// The unit Cli_Fis11000: the export screen. `TfrmCompraLegalBA`, its controls and tables
// (`Panel2`, `medCdImposto`, `btpImposto`, `edtNmImposto`, `medCdEmpresa`, `btpEmpresa`,
// `edtNmEmpresa`, `edtNmArquivo`, `qryImposto`, `dtsImposto`, `qryEmpresa`, `dtsEmpresa`,
// `cdsNotaFiscal`, `dtsNotaFiscal`, `cdsRegistro`, `IDREGISTRO`,
// `NetCompraLEGALBA`, `dbgPadrao`, `imgCheck`, `imgUncheck`, `imgAprovado`, `imgNAprovado`,
// `sbtFiltro`, `mnuNota`, `Exportar2`, `mnuFiltro`), its handlers (`FormCreate`, `FormActivate`,
// `FormClose`, `FormKeyDown`, `NetCompraLEGALBABeforeConnect`, `dbgPadraoCellClick`,
// `dbgPadraoKeyDown`, `dbgPadraoTitleClick`, `dbgPadraoDrawColumnCell`,
// `cdsNotaFiscalIDENTRSAIDOPGetText`, `dtsNotaFiscalDataChange`, `sbtFiltroClick`,
// `mnuFiltroClick`, `Exportar2Click`, `medCdImpostoEnter`, `medCdEmpresaEnter`,
// `medCdImpostoChange`, `medCdEmpresaChange`, `medCdImpostoExit`, `medCdEmpresaExit`,
// `Vd_Imposto`, `Vd_Empresa`, `btpImpostoBeforePesq`, `btpEmpresaBeforePesq`,
// `btpImpostoAfterPesq`, `btpEmpresaAfterPesq`, `Panel2Exit`), the routine `CriaCompraLEGAL`
// and the module state `frmCompraLegalBA`, `boIdCriado`, `boEntra` keep the names under which the
// module has always been known (also as objectName of the widgets and tables); everything else
// follows the Qt naming of the project.

#include "compralegal/pkgexport.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/padrimportexport.h"

#include <QImage>

#include <exception>
#include <optional>

class QAction;
class QFrame;
class QLineEdit;
class QMenu;
class QMenuBar;

namespace fis {
class DataSource;
class MaskEdit;
class MemTable;
class NetConnection;
class TADOIBQuery;
class TBtnPesquisa;
} // namespace fis

// The screen FIS11000 "Compra LEGAL - BA": the header Panel2 (tax code, later the company and the
// output name) above the invoice list, which fills the rest of the client area.
//
// Create it through CriaCompraLEGAL(), which keeps one screen at a time. FormCreate opens the
// server connection and throws the connection's RpcError when the server cannot be reached.
class PKG_FIS11000_EXPORT TfrmCompraLegalBA : public fis::TfrmPadrImportExport,
                                              public fis::compralegal::ExportScreenLink
{
    Q_OBJECT
public:
    explicit TfrmCompraLegalBA(QWidget *parent = nullptr);
    ~TfrmCompraLegalBA() override;

    QFrame *Panel2;                        // the header
    fis::MaskEdit *medCdImposto = nullptr; // tax code "99;0; ", required colour
    fis::TBtnPesquisa *btpImposto = nullptr;
    QLineEdit *edtNmImposto = nullptr;     // abbreviation of the validated tax
    fis::MaskEdit *medCdEmpresa = nullptr; // company code "99;0; ", required colour
    fis::TBtnPesquisa *btpEmpresa = nullptr;
    QLineEdit *edtNmEmpresa = nullptr; // name of the validated company
    QLineEdit *edtNmArquivo = nullptr; // output file name, at most 16 characters

    fis::TADOIBQuery *qryImposto; // IMPOSTONFE: one code, or every row with P_TIMPOSTO 'T'
    fis::DataSource *dtsImposto = nullptr;
    fis::TADOIBQuery *qryEmpresa; // EMPRESA: one code, or every row with P_TEMPRESA 'T'
    fis::DataSource *dtsEmpresa = nullptr;
    QFrame *gridFrame() const { return m_gridFrame; }

    fis::MemTable *cdsNotaFiscal;   // the invoice list: closed until a filter loads it
    fis::DataSource *dtsNotaFiscal; // its data source
    fis::MemTable *cdsRegistro;     // IDREGISTRO, created empty by FormCreate
    fis::NetConnection *NetCompraLEGALBA;
    // The export run's tables: the marked list sent to the server (created by the first run,
    // kept), the files it yields, and one page of a file's lines.
    fis::MemTable *cdsLista;
    fis::MemTable *cdsArquivos;
    fis::MemTable *cdsRegistros;
    // The base name of the output files, taken from edtNmArquivo at the start of every file.
    QString FNmArquivo;
    fis::DataGrid *dbgPadrao = nullptr; // the invoice list

    // The list's images; olive (128, 128, 0) is their transparent colour.
    QImage imgCheck;     // marked
    QImage imgUncheck;   // unmarked
    QImage imgAprovado;  // already exported
    QImage imgNAprovado; // pending

    fis::TButtonFlat *sbtFiltro = nullptr; // hint "Filtro", created disabled

    QMenuBar *mnuNota = nullptr;  // joins the host's main menu while the screen is active
    QMenu *mnuOperacao = nullptr; // "Operação", group index 2
    QAction *Exportar2 = nullptr; // "E&xportar", Ctrl+E
    QAction *mnuFiltro = nullptr; // "F&iltro", Ctrl+L

    void FormCreate() override;
    void FormActivate() override;
    void FormClose(fis::CloseAction &Action) override;
    void FormKeyDown(int &Key, Qt::KeyboardModifiers Shift) override;
    void NetCompraLEGALBABeforeConnect(fis::NetConnection *Sender);

    // The mark of the clicked row toggles when the click is in the mark's column.
    void dbgPadraoCellClick(int Column);
    // Space toggles the current row's mark; the key goes on to the grid.
    void dbgPadraoKeyDown(int &Key, Qt::KeyboardModifiers Shift);
    // The mark's title marks every row when none is marked, else clears every mark; the cursor
    // ends on the first row.
    void dbgPadraoTitleClick(int Column);
    // The mark and the export status are shown as images.
    void dbgPadraoDrawColumnCell(QPainter &Canvas, const QRect &Rect, int DataCol, int Column,
                                 fis::DataGrid::DrawState State);
    // "E" reads "Entrada", "S" "Saída", anything else nothing.
    QString cdsNotaFiscalIDENTRSAIDOPGetText(const fis::MemTable &Table, int Row,
                                             bool DisplayText) const;
    // Export is available exactly while the list has a row.
    void dtsNotaFiscalDataChange(int Field);
    // Closes the list, then opens the filter dialog.
    void sbtFiltroClick();
    void mnuFiltroClick();
    // Export when the button is available, else leave the header as Panel2Exit does.
    void Exportar2Click();
    // The header's three entries must be filled; then the run, and the success message.
    void sbtImportExportClick() override;
    // The run: the marked invoices registered with the server as a list, one file per state
    // registration written page by page into the server's directory. Ends the action with the
    // failure's message when any step fails.
    void AbreQuerys();
    // Refuses the characters that cannot be part of a file name (Key set to 0).
    void edtNmArquivoKeyPress(QChar &Key);

    // Entering a code closes the list, so Filter is unavailable until the header is left.
    void medCdImpostoEnter();
    void medCdEmpresaEnter();
    // A name stays only while its code is the one last validated or picked.
    void medCdImpostoChange();
    void medCdEmpresaChange();
    void medCdImpostoExit();
    void medCdEmpresaExit();
    // Validate the code against the host database and show its name; an empty or unknown code
    // keeps the focus in its field and ends the action (with ReportEmpty false an empty code
    // ends silently).
    void Vd_Imposto(bool ReportEmpty);
    void Vd_Empresa(bool ReportEmpty);
    // The lookups list every row; a pick fills the code, then the name.
    void btpImpostoBeforePesq();
    void btpEmpresaBeforePesq();
    void btpImpostoAfterPesq();
    void btpEmpresaAfterPesq();
    // Leaving the header with no invoices listed opens the filter dialog; Filter is then
    // available.
    void Panel2Exit();

    // What the filter dialog reads and fills here.
    QString companyCode() const override;
    fis::AppServer appServer() override;
    fis::MemTable &invoiceList() override;
    QString message(const QString &key) const override;
    void invoicesLoaded() override;
    void filterCancelled() override;

private:
    void buildTables();
    void buildToolButtons();
    void buildMessages();
    void buildHeader();
    void buildTaxRow();
    void buildCompanyRow();
    void buildNameRow();
    void showRunFailure(std::exception_ptr failure, const std::optional<QString> &guardFailure);
    // A header code and what validating it needs.
    struct HeaderCode
    {
        fis::MaskEdit *code;
        QLineEdit *name;
        fis::TADOIBQuery *query;
        QString codeParam; // the code's parameter
        QString allParam;  // the all-rows parameter, cleared
        QString nameField;
        QString emptyKey; // messages of an empty and of an unknown code
        QString unknownKey;
    };
    void validateHeaderCode(const HeaderCode &field, bool reportEmpty);
    void buildQueries();
    void buildMenu();
    void buildGrid();
    void buildGridFrame();
    void layoutClientArea();
    void connectHeaderFocus();
    void toggleMark();

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
