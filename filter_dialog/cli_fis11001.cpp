#include "filter_dialog/cli_fis11001.h"

#include "dataset/memtable.h"
#include "export_screen/cli_fis11000.h"
#include "hostfw/hostconfig.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/hostapplication.h"
#include "package/cursorscope.h"

#include <QGroupBox>
#include <QLabel>

extern "C" {
TfrmFiltroCompraLEGALBA *frmFiltroCompraLEGALBA = nullptr;
bool boConfirma = false;
bool boVazio = false;
QString stStatus;
QString stCodTipoOper;
QString stCodSerie;
}

namespace fis {

void finalizeCli_Fis11001()
{
    stCodSerie.clear();
    stCodTipoOper.clear();
    stStatus.clear();
}

} // namespace fis

namespace {

// Defined after the texts, so it is destroyed before them when the library is unloaded.
struct UnitFinalization
{
    UnitFinalization() = default;
    UnitFinalization(const UnitFinalization &) = delete;
    UnitFinalization &operator=(const UnitFinalization &) = delete;
    ~UnitFinalization() { fis::finalizeCli_Fis11001(); }
};
const UnitFinalization unitFinalization;

fis::TDateEditPlus *periodBox(const QString &name, QWidget *parent)
{
    auto *box = new fis::TDateEditPlus(parent);
    box->setObjectName(name);
    box->setWeekDayNames({QStringLiteral("Domingo"), QStringLiteral("Segunda"),
                          QStringLiteral("Terça"), QStringLiteral("Quarta"),
                          QStringLiteral("Quinta"), QStringLiteral("Sexta"),
                          QStringLiteral("Sábado")});
    box->setValidDateColor(Qt::blue);
    // Both dates are required: the info-background colour (clInfoBk).
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    box->setPalette(palette);
    return box;
}

} // namespace

TfrmFiltroCompraLEGALBA::TfrmFiltroCompraLEGALBA(QWidget *parent)
    : fis::TfrmFiltroPadrao(parent)
    , grbDataEmissao(new QGroupBox(QStringLiteral("Período"), grbFiltroPadrao))
    , depEmiIni(periodBox(QStringLiteral("depEmiIni"), grbDataEmissao))
    , depEmiFin(periodBox(QStringLiteral("depEmiFin"), grbDataEmissao))
{
    setObjectName(QStringLiteral("frmFiltroCompraLEGALBA"));
    setWindowTitle(QStringLiteral("Filtro de Compra LEGAL"));
    // The criteria are laid out by position inside the filter group box; the branch, client and
    // registration rows take its top, the period, lists and status its bottom row.
    grbFiltroPadrao->setFixedWidth(521 - 8);
    btfSaveOpc->setEnabled(false);
    btfLoadOpc->setEnabled(false);

    grbDataEmissao->setObjectName(QStringLiteral("grbDataEmissao"));
    grbDataEmissao->setGeometry(8, 118, 190, 88);
    auto *lblInicial = new QLabel(QStringLiteral("Inicial"), grbDataEmissao);
    lblInicial->setGeometry(8, 26, 40, 16);
    lblInicial->setBuddy(depEmiIni);
    depEmiIni->setGeometry(50, 22, 132, 21);
    auto *lblFinal = new QLabel(QStringLiteral("Final"), grbDataEmissao);
    lblFinal->setGeometry(8, 56, 40, 16);
    lblFinal->setBuddy(depEmiFin);
    depEmiFin->setGeometry(50, 52, 132, 21);

    resize(576, 218);
}

TfrmFiltroCompraLEGALBA::~TfrmFiltroCompraLEGALBA()
{
    // Only the host's end releases the dialog; nothing may reach it afterwards.
    if (frmFiltroCompraLEGALBA == this)
        frmFiltroCompraLEGALBA = nullptr;
}

void TfrmFiltroCompraLEGALBA::FormCreate()
{
    fis::TfrmFiltroPadrao::FormCreate();
    boConfirma = false;
    Atualiza_Datas();
}

void TfrmFiltroCompraLEGALBA::FormClose(fis::CloseAction &Action)
{
    // Hidden, never released: the export run reads the entries of the hidden dialog.
    Action = fis::CloseAction::Hide;
}

void TfrmFiltroCompraLEGALBA::sbtCancelClick()
{
    fis::TfrmFiltroPadrao::sbtCancelClick();
    if (frmCompraLegalBA)
        frmCompraLegalBA->sbtImportExport->setEnabled(!frmCompraLegalBA->cdsNotaFiscal->isEmpty());
}

void TfrmFiltroCompraLEGALBA::Atualiza_Datas()
{
    // The host is asked twice, as the end date must be the processing date as it stands then.
    depEmiIni->SetDate(fis::PriDiaMes(fis::DataProc(fis::FiliProc())));
    depEmiFin->SetDate(fis::DataProc(fis::FiliProc()));
}

bool CriaFtrCompraLEGAL()
{
    const fis::WaitCursorScope hourglass;
    if (!frmFiltroCompraLEGALBA) {
        frmFiltroCompraLEGALBA =
            fis::createForm<TfrmFiltroCompraLEGALBA>(fis::HostApplication::current().dialogOwner());
    }
    fis::setScreenCursor(Qt::ArrowCursor);
    frmFiltroCompraLEGALBA->exec();
    fis::setScreenCursor(Qt::ArrowCursor);
    return boConfirma;
}
