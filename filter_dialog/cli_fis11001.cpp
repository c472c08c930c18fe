#include "filter_dialog/cli_fis11001.h"
#include "package/formparts.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "export_screen/cli_fis11000.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hosthelpers.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "package/cursorscope.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

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

using namespace fis::forms;

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

// The registrations are typed in upper case, as they are stored.
QLineEdit *upperEdit(const QString &name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(16);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString &text) {
        const QString upper = text.toUpper();
        if (upper != text) {
            const int cursor = edit->cursorPosition();
            edit->setText(upper);
            edit->setCursorPosition(cursor);
        }
    });
    return edit;
}

const QStringList kMessages = {
    QStringLiteral("Filial_Cad|Filial não cadastrada."),
    QStringLiteral("InscEsta_Cad|Inscrição estadual não cadastrada."),
    QStringLiteral("InscEsta_Inf|Inscrição estadual deve ser informada."),
    QStringLiteral("InscMuni_Cad|Inscrição municipal não cadastrada."),
    QStringLiteral("SerieNF_Cad|Série não cadastrada."),
    QStringLiteral("DtIni_maior|Data de emissão inicial deve ser menor ou igual a data de emissão "
                   "final."),
    QStringLiteral("DtInf|Data de emissão deve ser informada."),
    QStringLiteral("Inicial|Inicial"),
    QStringLiteral("Final|Final"),
    QStringLiteral("Filial_inf|Filial deve ser informada."),
    QStringLiteral("Imp_cad|Imposto não cadastrado."),
    QStringLiteral("Imp_Inf|Imposto deve ser informado."),
    QStringLiteral("CGC_Pesq|Jurídica"),
    QStringLiteral("CPF_Pesq|Física"),
    QStringLiteral("OUTROS_Pesq|Outros"),
    QStringLiteral("JUR_Pesq|Insc. Jurídica"),
    QStringLiteral("Forn_N_Cad|Inscrição não cadastrada."),
    QStringLiteral("Carg_Dad|Carregando dados do servidor..."),
    QStringLiteral("Dt_Ini_Inf|Data inicial deve ser informada."),
    QStringLiteral("Dt_Fin_Inf|Data final deve ser informada."),
    QStringLiteral("Dt_Ini_Men|Data inicial do período deve ser menor ou igual a data final do "
                   "período."),
    QStringLiteral("To_N_Cad|Tipo de Operação não cadastrado."),
    QStringLiteral("Cli_N_Cad|Cliente não cadastrado."),
    QStringLiteral("TipoOper|Tipo de Operação"),
    QStringLiteral("TipoOper_inf|Tipo de operação deve ser informado."),
    QStringLiteral("pesqSerie|Série"),
    QStringLiteral("Serie_inf|Série deve ser informada."),
    QStringLiteral("Serie_est|Inscrição Estadual deve ser informada."),
};

} // namespace

TfrmFiltroCompraLEGALBA::TfrmFiltroCompraLEGALBA(QWidget *parent)
    : fis::TfrmFiltroPadrao(parent)
    , grbDataEmissao(new QGroupBox(QStringLiteral("Período"), grbFiltroPadrao))
    , depEmiIni(periodBox(QStringLiteral("depEmiIni"), grbDataEmissao))
    , depEmiFin(periodBox(QStringLiteral("depEmiFin"), grbDataEmissao))
    , lblFilial(nullptr)
    , medCdFilial(nullptr)
    , btpFiliEmit(nullptr)
    , edtFilial(nullptr)
    , lblCliente(nullptr)
    , medInscClie(nullptr)
    , btpPesqClie(nullptr)
    , edtNmClie(nullptr)
    , lblInscEsta(nullptr)
    , edtCdInscEsta(nullptr)
    , btpInscEst(nullptr)
    , lblInscMuni(nullptr)
    , edtCdInscMuni(nullptr)
    , btpInscMuni(nullptr)
    , qryFilial(new fis::TADOIBQuery(QStringLiteral("qryFilial"), this))
    , dtsFilial(nullptr)
    , qryInscrEstad(new fis::TADOIBQuery(QStringLiteral("qryInscrEstad"), this))
    , dtsInscrEstad(nullptr)
    , qryInscrMunicip(new fis::TADOIBQuery(QStringLiteral("qryInscrMunicip"), this))
    , dtsInscrMunicip(nullptr)
    , qryPesqClie(new fis::TADOIBQuery(QStringLiteral("qryPesqClie"), this))
    , dtsPesqForn(nullptr)
    , qryValidClie(new fis::TADOIBQuery(QStringLiteral("qryValidClie"), this))
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

    for (const QString &line : kMessages)
        msgPadrao.addLine(line);
    buildQueries();
    buildLookups();

    resize(576, 218);
}

void TfrmFiltroCompraLEGALBA::buildQueries()
{
    qryFilial->SQL_ORACLE = {QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL)) "
        "ORDER BY CDFILIAL")};
    qryFilial->SQL_MSSQL = {QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE (CDFILIAL = ISNULL(:P_CDFILIAL, CDFILIAL)) "
        "ORDER BY CDFILIAL")};
    qryFilial->SQL_IB = {QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL, PARAM(:P_CDFILIAL) P_CDFILIAL WHERE (CDFILIAL = "
        "NVLSTR(P_CDFILIAL.PARAM, CDFILIAL)) ORDER BY CDFILIAL")};
    qryFilial->addField(stringField("CDFILIAL", 4, "Código", true));
    qryFilial->addField(stringField("NMFILIAL", 30, "Nome"));
    dtsFilial = new fis::DataSource(qryFilial->table(), this);
    dtsFilial->setObjectName(QStringLiteral("dtsFilial"));

    qryInscrEstad->SQL = {QStringLiteral(
        "SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCESTA = "
        "NVL(:P_CDINSCESTA, CDINSCESTA) ORDER BY 1")};
    qryInscrEstad->SQL_ORACLE = {QStringLiteral(
        "SELECT CDINSCESTA, SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND "
        "CDINSCESTA = NVL(:P_CDINSCESTA, CDINSCESTA) ORDER BY 1")};
    qryInscrEstad->SQL_MSSQL = {QStringLiteral(
        "SELECT CDINSCESTA, SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND "
        "CDINSCESTA = ISNULL(:P_CDINSCESTA, CDINSCESTA) ORDER BY 1")};
    qryInscrEstad->SQL_IB = {QStringLiteral(
        "SELECT CDINSCESTA, SGESTADO FROM INSCRESTAD, PARAM(:P_CDINSCESTA) P_CDINSCESTA WHERE "
        "CDEMPRESA = :P_CDEMPRESA AND CDINSCESTA = NVLSTR(P_CDINSCESTA.PARAM, CDINSCESTA) ORDER "
        "BY 1")};
    qryInscrEstad->addField(stringField("CDINSCESTA", 16, "Código", true));
    qryInscrEstad->addField(stringField("SGESTADO", 2, "Estado"));
    qryInscrEstad->BeforeOpen = [this](fis::TADOIBQuery &query) {
        qryInscrEstadBeforeOpen(query);
    };
    dtsInscrEstad = new fis::DataSource(qryInscrEstad->table(), this);
    dtsInscrEstad->setObjectName(QStringLiteral("dtsInscrEstad"));

    qryInscrMunicip->SQL = {QStringLiteral(
        "SELECT CDINSCMUNI FROM INSCRMUNICIP WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCMUNI = "
        "NVL(:P_CDINSCMUNI, CDINSCMUNI) ORDER BY 1")};
    qryInscrMunicip->SQL_ORACLE = {QStringLiteral(
        "SELECT CDINSCMUNI FROM INSCRMUNICIP WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCMUNI = "
        "NVL(:P_CDINSCMUNI, CDINSCMUNI) ORDER BY 1")};
    qryInscrMunicip->SQL_MSSQL = {QStringLiteral(
        "SELECT CDINSCMUNI FROM INSCRMUNICIP WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCMUNI = "
        "ISNULL(:P_CDINSCMUNI, CDINSCMUNI) ORDER BY 1")};
    qryInscrMunicip->SQL_IB = {QStringLiteral(
        "SELECT CDINSCMUNI FROM INSCRMUNICIP, PARAM(:P_CDINSCMUNI) P_CDINSCMUNI WHERE CDEMPRESA "
        "= :P_CDEMPRESA AND CDINSCMUNI = NVLSTR(P_CDINSCMUNI.PARAM, CDINSCMUNI) ORDER BY 1")};
    qryInscrMunicip->addField(stringField("CDINSCMUNI", 16, "Código", true));
    qryInscrMunicip->BeforeOpen = [this](fis::TADOIBQuery &query) {
        qryInscrMunicipBeforeOpen(query);
    };
    dtsInscrMunicip = new fis::DataSource(qryInscrMunicip->table(), this);
    dtsInscrMunicip->setObjectName(QStringLiteral("dtsInscrMunicip"));

    qryPesqClie->SQL = {
        QStringLiteral("SELECT CDCLIENTE, NMRAZSOCCLIE, NRINSJURCLIE, "
                       "IDTPIJURCLIE, NMFANTCLIE FROM CLIENTE ORDER BY NMRAZSOCCLIE")};
    qryPesqClie->addField(stringField("CDCLIENTE", 21, "Código", false, false));
    qryPesqClie->addField(stringField("NRINSJURCLIE", 20, "Inscrição"));
    qryPesqClie->addField(stringField("NMRAZSOCCLIE", 50, "Razão Social"));
    qryPesqClie->addField(stringField("NMFANTCLIE", 50, "Nome Fantasia"));
    qryPesqClie->addField(stringField("IDTPIJURCLIE", 1, "tipo de Inscrição", false, false));
    qryPesqClie->table()->setGetTextHandler(
        QStringLiteral("NRINSJURCLIE"), [this](const fis::MemTable &table, int row, bool display) {
            return qryPesqClieNRINSJURCLIEGetText(table, row, display);
        });
    dtsPesqForn = new fis::DataSource(qryPesqClie->table(), this);
    dtsPesqForn->setObjectName(QStringLiteral("dtsPesqForn"));

    qryValidClie->SQL = {QStringLiteral(
        "SELECT NMFANTCLIE, IDTPIJURCLIE FROM CLIENTE WHERE IDTPIJURCLIE = :P_IDTPIJURCLIE AND "
        "NRINSJURCLIE = :P_NRINSJURCLIE")};
    qryValidClie->addField(stringField("NMFANTCLIE", 50, "Nome Fantasia"));
    qryValidClie->addField(stringField("IDTPIJURCLIE", 1, ""));
}

void TfrmFiltroCompraLEGALBA::buildLookups()
{
    QWidget *box = grbFiltroPadrao;

    lblFilial = boldLabel(QStringLiteral("Filial"), box, QStringLiteral("lblFilial"));
    lblFilial->setGeometry(8, 20, 100, 16);
    medCdFilial = new fis::MaskEdit(QStringLiteral(">aaaa;0; "), box);
    medCdFilial->setObjectName(QStringLiteral("medCdFilial"));
    medCdFilial->setMaxLength(4);
    medCdFilial->setGeometry(110, 16, 40, 21);
    btpFiliEmit = new fis::TBtnPesquisa(box);
    btpFiliEmit->setObjectName(QStringLiteral("btpFiliEmit"));
    btpFiliEmit->setGeometry(152, 14, 21, 24);
    btpFiliEmit->setAssociate(medCdFilial);
    btpFiliEmit->setTitle(QStringLiteral("Filial"));
    btpFiliEmit->setEmptyError(QStringLiteral("Não há filial cadastrada."));
    btpFiliEmit->setDataSource(dtsFilial);
    btpFiliEmit->OnBeforePesq = [this] {
        btpFiliEmitBeforePesq();
    };
    btpFiliEmit->OnAfterPesq = [this] {
        btpFiliEmitAfterPesq();
    };
    edtFilial = displayField(QStringLiteral("edtFilial"), box, true);
    edtFilial->setGeometry(176, 16, 325, 21);

    lblCliente = boldLabel(QStringLiteral("Cliente"), box, QStringLiteral("lblCliente"));
    lblCliente->setGeometry(8, 44, 100, 16);
    medInscClie = new fis::MaskEdit(box);
    medInscClie->setObjectName(QStringLiteral("medInscClie"));
    medInscClie->setGeometry(110, 40, 130, 21);
    btpPesqClie = new fis::TBtnPesquisa(box);
    btpPesqClie->setObjectName(QStringLiteral("btpPesqClie"));
    btpPesqClie->setGeometry(242, 38, 21, 24);
    btpPesqClie->setAssociate(medInscClie);
    btpPesqClie->setTitle(QStringLiteral("Cliente"));
    btpPesqClie->setEmptyError(QStringLiteral("Não há cliente cadastrado"));
    btpPesqClie->setDataSource(dtsPesqForn);
    btpPesqClie->OnBeforePesq = [this] {
        btpPesqClieBeforePesq();
    };
    btpPesqClie->OnAfterPesq = [this] {
        btpPesqClieAfterPesq();
    };
    edtNmClie = displayField(QStringLiteral("edtNmClie"), box, true);
    edtNmClie->setGeometry(266, 40, 235, 21);

    lblInscEsta = boldLabel(QStringLiteral("Insc. Estadual"), box, QStringLiteral("lblInscEsta"));
    lblInscEsta->setGeometry(8, 68, 100, 16);
    lblInscEsta->setProperty("tag", 99);
    edtCdInscEsta = upperEdit(QStringLiteral("edtCdInscEsta"), box);
    edtCdInscEsta->setGeometry(110, 64, 130, 21);
    lblInscEsta->setBuddy(edtCdInscEsta);
    btpInscEst = new fis::TBtnPesquisa(box);
    btpInscEst->setObjectName(QStringLiteral("btpInscEst"));
    btpInscEst->setGeometry(242, 62, 21, 24);
    btpInscEst->setAssociate(edtCdInscEsta);
    btpInscEst->setTitle(QStringLiteral("Inscrição Estadual"));
    btpInscEst->setEmptyError(QStringLiteral("Não há inscrição estadual cadastrada."));
    btpInscEst->setDataSource(dtsInscrEstad);
    btpInscEst->OnBeforePesq = [this] {
        btpInscEstBeforePesq();
    };
    btpInscEst->OnAfterPesq = [this] {
        btpInscEstAfterPesq();
    };

    lblInscMuni = boldLabel(QStringLiteral("Insc. Municipal"), box, QStringLiteral("lblInscMuni"));
    lblInscMuni->setGeometry(8, 92, 100, 16);
    lblInscMuni->setProperty("tag", 99);
    edtCdInscMuni = upperEdit(QStringLiteral("edtCdInscMuni"), box);
    edtCdInscMuni->setGeometry(110, 88, 130, 21);
    lblInscMuni->setBuddy(edtCdInscMuni);
    btpInscMuni = new fis::TBtnPesquisa(box);
    btpInscMuni->setObjectName(QStringLiteral("btpInscMuni"));
    btpInscMuni->setGeometry(242, 86, 21, 24);
    btpInscMuni->setAssociate(edtCdInscMuni);
    btpInscMuni->setTitle(QStringLiteral("Inscrição Municipal"));
    btpInscMuni->setEmptyError(QStringLiteral("Não há inscrição municipal cadastrada."));
    btpInscMuni->setDataSource(dtsInscrMunicip);
    btpInscMuni->OnBeforePesq = [this] {
        btpInscMuniBeforePesq();
    };
    btpInscMuni->OnAfterPesq = [this] {
        btpInscMuniAfterPesq();
    };

    connect(medCdFilial, &fis::MaskEdit::changed, this, [this] { medCdFilialChange(); });
    connect(medInscClie, &fis::MaskEdit::changed, this, [this] { medInscClieChange(); });

    QWidget::setTabOrder(medCdFilial, medInscClie);
    QWidget::setTabOrder(medInscClie, edtCdInscEsta);
    QWidget::setTabOrder(edtCdInscEsta, edtCdInscMuni);

    fis::FocusManager &focus = fis::FocusManager::instance();
    focus.setExitHandler(medCdFilial, [this] { medCdFilialExit(); });
    focus.setExitHandler(medInscClie, [this] { medInscClieExit(); });
    focus.setExitHandler(edtCdInscEsta, [this] { edtCdInscEstaExit(); });
    focus.setExitHandler(edtCdInscMuni, [this] { edtCdInscMuniExit(); });
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

void TfrmFiltroCompraLEGALBA::Vd_filial()
{
    // No focus move for a database error: only an unknown code sends the user back.
    if (medCdFilial->text().isEmpty())
        return;
    medCdFilial->setText(fis::Ajusta(medCdFilial->text(), 4));
    qryFilial->Close();
    qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).setAsString(medCdFilial->text());
    qryFilial->Open();
    if (qryFilial->IsEmpty()) {
        medCdFilial->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Filial_Cad")), true);
        return;
    }
    edtFilial->setText(qryFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmFiltroCompraLEGALBA::Vd_Cliente()
{
    QString number = medInscClie->text();
    const QString personType = fis::Ajusta_Inscricao(number);
    keepFocusOnError(medInscClie, [this, &personType] {
        if (fis::EmptyString(medInscClie->text()))
            return;
        qryValidClie->Close();
        qryValidClie->ParamByName(QStringLiteral("P_IDTPIJURCLIE")).setAsString(personType);
        qryValidClie->ParamByName(QStringLiteral("P_NRINSJURCLIE"))
            .setAsString(medInscClie->text());
        qryValidClie->Open();
        if (qryValidClie->IsEmpty()) {
            fis::MensErro(msgPadrao.Msg(QStringLiteral("Cli_N_Cad")), true);
            return;
        }
        const QString name = qryValidClie->FieldByName(QStringLiteral("NMFANTCLIE")).AsString();
        const QString mask =
            fis::PictPess(qryValidClie->FieldByName(QStringLiteral("IDTPIJURCLIE")).AsString());
        // The mask first: re-laying the text fires the change handler, which empties the name.
        if (medInscClie->editMask() != mask)
            medInscClie->setEditMask(mask);
        edtNmClie->setText(name);
    });
}

void TfrmFiltroCompraLEGALBA::Vd_CdInscEsta()
{
    keepFocusOnError(edtCdInscEsta, [this] {
        qryInscrEstad->Close();
        qryInscrEstad->ParamByName(QStringLiteral("P_CDINSCESTA"))
            .setAsString(edtCdInscEsta->text());
        qryInscrEstad->Open();
        if (qryInscrEstad->IsEmpty()) {
            edtCdInscEsta->setFocus();
            fis::MensErro(msgPadrao.Msg(QStringLiteral("InscEsta_Cad")), true);
        }
    });
}

void TfrmFiltroCompraLEGALBA::Vd_CdInscMuni()
{
    keepFocusOnError(edtCdInscMuni, [this] {
        if (fis::EmptyString(edtCdInscMuni->text()))
            return;
        qryInscrMunicip->Close();
        qryInscrMunicip->ParamByName(QStringLiteral("P_CDINSCMUNI"))
            .setAsString(edtCdInscMuni->text());
        qryInscrMunicip->Open();
        if (qryInscrMunicip->IsEmpty()) {
            edtCdInscMuni->setFocus();
            fis::MensErro(msgPadrao.Msg(QStringLiteral("InscMuni_Cad")), true);
        }
    });
}

void TfrmFiltroCompraLEGALBA::medCdFilialChange()
{
    edtFilial->clear();
}

void TfrmFiltroCompraLEGALBA::medInscClieChange()
{
    edtNmClie->clear();
    // An emptied box takes any number again, of whatever person type.
    if (medInscClie->text().isEmpty() && !medInscClie->editMask().isEmpty())
        medInscClie->setEditMask(QString());
}

void TfrmFiltroCompraLEGALBA::medCdFilialExit()
{
    Vd_filial();
}

void TfrmFiltroCompraLEGALBA::medInscClieExit()
{
    Vd_Cliente();
}

void TfrmFiltroCompraLEGALBA::edtCdInscEstaExit()
{
    Vd_CdInscEsta();
}

void TfrmFiltroCompraLEGALBA::edtCdInscMuniExit()
{
    Vd_CdInscMuni();
}

void TfrmFiltroCompraLEGALBA::btpFiliEmitBeforePesq()
{
    qryFilial->Close();
    qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).clear();
    qryFilial->Open();
}

void TfrmFiltroCompraLEGALBA::btpFiliEmitAfterPesq()
{
    medCdFilial->setText(qryFilial->FieldByName(QStringLiteral("CDFILIAL")).AsString());
    edtFilial->setText(qryFilial->FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmFiltroCompraLEGALBA::btpPesqClieBeforePesq()
{
    qryPesqClie->Close();
    qryPesqClie->Open();
}

void TfrmFiltroCompraLEGALBA::btpPesqClieAfterPesq()
{
    const QString number = qryPesqClie->FieldByName(QStringLiteral("NRINSJURCLIE")).AsString();
    // The number must be laid into the mask of its own person type, or a kept mask of another
    // type would cut it.
    const QString mask =
        fis::PictPess(qryPesqClie->FieldByName(QStringLiteral("IDTPIJURCLIE")).AsString());
    if (medInscClie->editMask() != mask)
        medInscClie->setEditMask(mask);
    medInscClie->setText(number);
    edtNmClie->setText(qryPesqClie->FieldByName(QStringLiteral("NMFANTCLIE")).AsString());
}

void TfrmFiltroCompraLEGALBA::btpInscEstBeforePesq()
{
    qryInscrEstad->Close();
    qryInscrEstad->ParamByName(QStringLiteral("P_CDINSCESTA")).clear();
    qryInscrEstad->Open();
}

void TfrmFiltroCompraLEGALBA::btpInscEstAfterPesq()
{
    edtCdInscEsta->setText(qryInscrEstad->FieldByName(QStringLiteral("CDINSCESTA")).AsString());
}

void TfrmFiltroCompraLEGALBA::btpInscMuniBeforePesq()
{
    qryInscrMunicip->Close();
    qryInscrMunicip->ParamByName(QStringLiteral("P_CDINSCMUNI")).clear();
    qryInscrMunicip->Open();
}

void TfrmFiltroCompraLEGALBA::btpInscMuniAfterPesq()
{
    edtCdInscMuni->setText(qryInscrMunicip->FieldByName(QStringLiteral("CDINSCMUNI")).AsString());
}

void TfrmFiltroCompraLEGALBA::qryInscrEstadBeforeOpen(fis::TADOIBQuery &DataSet)
{
    DataSet.ParamByName(QStringLiteral("P_CDEMPRESA"))
        .setAsString(frmCompraLegalBA ? frmCompraLegalBA->medCdEmpresa->text() : QString());
}

void TfrmFiltroCompraLEGALBA::qryInscrMunicipBeforeOpen(fis::TADOIBQuery &DataSet)
{
    DataSet.ParamByName(QStringLiteral("P_CDEMPRESA"))
        .setAsString(frmCompraLegalBA ? frmCompraLegalBA->medCdEmpresa->text() : QString());
}

QString TfrmFiltroCompraLEGALBA::qryPesqClieNRINSJURCLIEGetText(const fis::MemTable &Table, int Row,
                                                                bool DisplayText) const
{
    Q_UNUSED(DisplayText);
    const QString number =
        Table.valueAt(Row, Table.fieldIndex(QStringLiteral("NRINSJURCLIE"))).toString();
    if (fis::EmptyString(number))
        return {};
    const QString type =
        Table.valueAt(Row, Table.fieldIndex(QStringLiteral("IDTPIJURCLIE"))).toString();
    return fis::FormatMaskText(fis::PictPess(type), number);
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
