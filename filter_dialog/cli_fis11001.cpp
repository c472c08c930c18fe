#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/formparts.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hosterror.h"
#include "hostfw/hosthelpers.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/numberedit.h"
#include "hostfw/widgets/pesquisalista.h"
#include "hostfw/widgets/radiogroup.h"
#include "hostfw/widgets/useraction.h"
#include "hostfw/widgets/waitindicator.h"

#include <cmath>
#include <exception>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStyle>

extern "C" {
TfrmFiltroCompraLEGALBA *frmFiltroCompraLEGALBA = nullptr;
bool boConfirma = false;
bool boVazio = false;
QString stStatus;
QString stCodTipoOper;
QString stCodSerie;
}

namespace fis::compralegal {

namespace {
ExportScreenLink *g_exportScreen = nullptr;
}

ExportScreenLink *exportScreen()
{
    return g_exportScreen;
}

void setExportScreen(ExportScreenLink *screen)
{
    g_exportScreen = screen;
}

} // namespace fis::compralegal

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
    QStringLiteral("Serie_muni|Inscrição Municipal deve ser informada."),
};

// The required marker of the registrations is their background: clInfoBk required, clWindow
// optional.
void setRequiredColour(QLineEdit *edit, bool required)
{
    QPalette palette = edit->palette();
    const QPalette standard = edit->style()->standardPalette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base,
                         standard.color(group, required ? QPalette::ToolTipBase : QPalette::Base));
    }
    edit->setPalette(palette);
}

QRadioButton *radio(const QString &name, const QString &caption, QWidget *parent)
{
    auto *button = new QRadioButton(caption, parent);
    button->setObjectName(name);
    return button;
}

fis::TBtnPesquisa *listButton(const QString &name, const QString &title, const QString &emptyError,
                              QWidget *associate, QWidget *parent)
{
    auto *button = new fis::TBtnPesquisa(parent);
    button->setObjectName(name);
    button->setToolTip(QStringLiteral("Pesquisar"));
    button->setTitle(title);
    button->setAssociate(associate);
    button->setEmptyError(emptyError);
    button->setEnabled(false);
    return button;
}

// What sets one lookup button of the top rows apart from the others.
struct LookupButtonSetup
{
    QString name;
    QRect geometry;
    QWidget *associate;
    QString title;
    QString emptyError;
    std::function<void()> beforePesq;
    std::function<void()> afterPesq;
    fis::DataSource *source;
};

fis::TBtnPesquisa *lookupButton(QWidget *parent, const LookupButtonSetup &setup)
{
    auto *button = new fis::TBtnPesquisa(parent);
    button->setObjectName(setup.name);
    button->setGeometry(setup.geometry);
    button->setAssociate(setup.associate);
    button->setTitle(setup.title);
    button->setEmptyError(setup.emptyError);
    button->setDataSource(setup.source);
    button->OnBeforePesq = setup.beforePesq;
    button->OnAfterPesq = setup.afterPesq;
    return button;
}

// Tab goes from each widget to the next, in the order given.
void chainTabOrder(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

QGroupBox *boldGroup(const QString &name, const QString &caption, QWidget *parent)
{
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    QFont bold = group->font();
    bold.setBold(true);
    group->setFont(bold);
    return group;
}

// The group's bold caption must not reach its controls.
void plainFont(QWidget *widget)
{
    QFont font = widget->font();
    font.setBold(false);
    widget->setFont(font);
}

} // namespace

TfrmFiltroCompraLEGALBA::TfrmFiltroCompraLEGALBA(QWidget *parent)
    : fis::TfrmFiltroPadrao(parent)
    , grbDataEmissao(new QGroupBox(QStringLiteral("Período"), grbFiltroPadrao))
    , depEmiIni(periodBox(QStringLiteral("depEmiIni"), grbDataEmissao))
    , depEmiFin(periodBox(QStringLiteral("depEmiFin"), grbDataEmissao))
    , qryFilial(new fis::TADOIBQuery(QStringLiteral("qryFilial"), this))
    , qryInscrEstad(new fis::TADOIBQuery(QStringLiteral("qryInscrEstad"), this))
    , qryInscrMunicip(new fis::TADOIBQuery(QStringLiteral("qryInscrMunicip"), this))
    , qryPesqClie(new fis::TADOIBQuery(QStringLiteral("qryPesqClie"), this))
    , qryValidClie(new fis::TADOIBQuery(QStringLiteral("qryValidClie"), this))
{
    setObjectName(QStringLiteral("frmFiltroCompraLEGALBA"));
    setWindowTitle(QStringLiteral("Filtro de Compra LEGAL"));
    // The criteria are laid out by position inside the filter group box; the branch, client and
    // registration rows take its top, the period, lists and status its bottom row.
    grbFiltroPadrao->setFixedWidth(521 - 8);
    btfSaveOpc->setEnabled(false);
    btfLoadOpc->setEnabled(false);

    buildPeriod();
    for (const QString &line : kMessages)
        msgPadrao.addLine(line);
    buildQueries();
    buildLookups();
    buildListQueries();
    buildCriteria();
    layoutBottomRow();

    resize(576, 218);
}

// The two dates' labels; the group and its date boxes come with the members.
void TfrmFiltroCompraLEGALBA::buildPeriod()
{
    grbDataEmissao->setObjectName(QStringLiteral("grbDataEmissao"));
    grbDataEmissao->setGeometry(6, 145, 210, 66);
    auto *lblInicial = new QLabel(QStringLiteral("Inicial"), grbDataEmissao);
    lblInicial->setObjectName(QStringLiteral("lblInicial"));
    lblInicial->setGeometry(6, 18, 36, 16);
    lblInicial->setBuddy(depEmiIni);
    depEmiIni->setGeometry(44, 16, 162, 21);
    auto *lblFinal = new QLabel(QStringLiteral("Final"), grbDataEmissao);
    lblFinal->setObjectName(QStringLiteral("lblFinal"));
    lblFinal->setGeometry(6, 42, 36, 16);
    lblFinal->setBuddy(depEmiFin);
    depEmiFin->setGeometry(44, 40, 162, 21);
}

namespace {

// How wide a group box must be to show its title whole.
int titleWidth(const QGroupBox *box)
{
    return fis::groupBoxTitleRect(box).right() + 2;
}

} // namespace

void TfrmFiltroCompraLEGALBA::layoutBottomRow()
{
    // The period, operation-type, series and status groups side by side, each as wide as its
    // title and controls need with the font in use; the room left over is shared among them, so
    // that a larger font still finds its texts whole in the fixed width.
    constexpr int kTop = 145, kHeight = 66, kLeft = 4, kGap = 1, kInset = 3;
    QWidget *box = grbDataEmissao->parentWidget();
    const int room = box->contentsRect().right() - 1 - kLeft;

    auto *lblInicial = grbDataEmissao->findChild<QLabel *>(QStringLiteral("lblInicial"));
    auto *lblFinal = grbDataEmissao->findChild<QLabel *>(QStringLiteral("lblFinal"));
    const int labelWidth = std::max(lblInicial->fontMetrics().horizontalAdvance(lblInicial->text()),
                                    lblFinal->fontMetrics().horizontalAdvance(lblFinal->text())) +
                           1;
    const int dateWidth = std::max(depEmiIni->widthForDate(), depEmiFin->widthForDate());
    const auto listRow = [&](const QRadioButton *all, const QRadioButton *list,
                             const QWidget *button) {
        return kInset +
               std::max(all->sizeHint().width(), list->sizeHint().width() + 1 + button->width()) +
               2;
    };
    int widths[4] = {
        std::max(titleWidth(grbDataEmissao), kInset + labelWidth + 3 + dateWidth + 2),
        std::max(titleWidth(grbOperacao), listRow(rdgTodosTipoOper, rdgListaTipoOper, btpTipoOper)),
        std::max(titleWidth(grbSerie1), listRow(rdgTodasSerie, rdgListaSerie, btpSerie)),
        rdgStatus->neededWidth()};
    const int slack = room - (widths[0] + widths[1] + widths[2] + widths[3] + 3 * kGap);
    for (int i = 0; i < 4 && slack > 0; ++i)
        widths[i] += slack / 4 + (i == 0 ? slack % 4 : 0);

    int x = kLeft;
    QWidget *groups[4] = {grbDataEmissao, grbOperacao, grbSerie1, rdgStatus};
    for (int i = 0; i < 4; ++i) {
        groups[i]->setGeometry(x, kTop, widths[i], kHeight);
        x += widths[i] + kGap;
    }
    lblInicial->setGeometry(kInset, 18, labelWidth, 16);
    lblFinal->setGeometry(kInset, 42, labelWidth, 16);
    const int dateLeft = kInset + labelWidth + 3;
    const int dateRight = widths[0] - 2;
    depEmiIni->setGeometry(dateLeft, 16, dateRight - dateLeft, 21);
    depEmiFin->setGeometry(dateLeft, 40, dateRight - dateLeft, 21);
    const auto placeList = [&](QRadioButton *all, QRadioButton *list, QWidget *button, int width) {
        all->setGeometry(kInset, 18, width - kInset - 2, 18);
        const int listWidth = list->sizeHint().width();
        list->setGeometry(kInset, 40, listWidth, 18);
        button->move(kInset + listWidth + 1, 37);
    };
    placeList(rdgTodosTipoOper, rdgListaTipoOper, btpTipoOper, widths[1]);
    placeList(rdgTodasSerie, rdgListaSerie, btpSerie, widths[2]);
}

void TfrmFiltroCompraLEGALBA::buildQueries()
{
    buildFilialQuery();
    buildInscrEstadQuery();
    buildInscrMunicipQuery();
    buildPesqClieQuery();
    buildValidClieQuery();
}

void TfrmFiltroCompraLEGALBA::buildFilialQuery()
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
}

void TfrmFiltroCompraLEGALBA::buildInscrEstadQuery()
{
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
}

void TfrmFiltroCompraLEGALBA::buildInscrMunicipQuery()
{
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
}

void TfrmFiltroCompraLEGALBA::buildPesqClieQuery()
{
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
}

void TfrmFiltroCompraLEGALBA::buildValidClieQuery()
{
    qryValidClie->SQL = {QStringLiteral(
        "SELECT NMFANTCLIE, IDTPIJURCLIE FROM CLIENTE WHERE IDTPIJURCLIE = :P_IDTPIJURCLIE AND "
        "NRINSJURCLIE = :P_NRINSJURCLIE")};
    qryValidClie->addField(stringField("NMFANTCLIE", 50, "Nome Fantasia"));
    qryValidClie->addField(stringField("IDTPIJURCLIE", 1, ""));
}

void TfrmFiltroCompraLEGALBA::buildLookups()
{
    buildFilialRow();
    buildClienteRow();
    buildInscEstaRow();
    buildInscMuniRow();

    connect(medCdFilial, &fis::MaskEdit::changed, this, [this] { medCdFilialChange(); });
    connect(medInscClie, &fis::MaskEdit::changed, this, [this] { medInscClieChange(); });

    chainTabOrder({medCdFilial, medInscClie, edtCdInscEsta, edtCdInscMuni});

    fis::FocusManager &focus = fis::FocusManager::instance();
    focus.setExitHandler(medCdFilial, [this] { medCdFilialExit(); });
    focus.setExitHandler(medInscClie, [this] { medInscClieExit(); });
    focus.setExitHandler(edtCdInscEsta, [this] { edtCdInscEstaExit(); });
    focus.setExitHandler(edtCdInscMuni, [this] { edtCdInscMuniExit(); });
}

void TfrmFiltroCompraLEGALBA::buildFilialRow()
{
    QWidget *box = grbFiltroPadrao;
    lblFilial = boldLabel(QStringLiteral("Filial"), box, QStringLiteral("lblFilial"));
    lblFilial->setGeometry(8, 18, 112, 16);
    medCdFilial = new fis::MaskEdit(QStringLiteral(">aaaa;0; "), box);
    medCdFilial->setObjectName(QStringLiteral("medCdFilial"));
    medCdFilial->setMaxLength(4);
    medCdFilial->setGeometry(124, 14, 40, 21);
    btpFiliEmit = lookupButton(box, {.name = QStringLiteral("btpFiliEmit"),
                                     .geometry = {166, 12, 21, 24},
                                     .associate = medCdFilial,
                                     .title = QStringLiteral("Filial"),
                                     .emptyError = QStringLiteral("Não há filial cadastrada."),
                                     .beforePesq = [this] { btpFiliEmitBeforePesq(); },
                                     .afterPesq = [this] { btpFiliEmitAfterPesq(); },
                                     .source = dtsFilial});
    edtFilial = displayField(QStringLiteral("edtFilial"), box, true);
    edtFilial->setGeometry(190, 14, 311, 21);
}

void TfrmFiltroCompraLEGALBA::buildClienteRow()
{
    QWidget *box = grbFiltroPadrao;
    lblCliente = boldLabel(QStringLiteral("Cliente"), box, QStringLiteral("lblCliente"));
    lblCliente->setGeometry(8, 40, 112, 16);
    medInscClie = new fis::MaskEdit(box);
    medInscClie->setObjectName(QStringLiteral("medInscClie"));
    medInscClie->setGeometry(124, 36, 130, 21);
    btpPesqClie = lookupButton(box, {.name = QStringLiteral("btpPesqClie"),
                                     .geometry = {256, 34, 21, 24},
                                     .associate = medInscClie,
                                     .title = QStringLiteral("Cliente"),
                                     .emptyError = QStringLiteral("Não há cliente cadastrado"),
                                     .beforePesq = [this] { btpPesqClieBeforePesq(); },
                                     .afterPesq = [this] { btpPesqClieAfterPesq(); },
                                     .source = dtsPesqForn});
    edtNmClie = displayField(QStringLiteral("edtNmClie"), box, true);
    edtNmClie->setGeometry(280, 36, 221, 21);
}

void TfrmFiltroCompraLEGALBA::buildInscEstaRow()
{
    QWidget *box = grbFiltroPadrao;
    lblInscEsta = boldLabel(QStringLiteral("Insc. Estadual"), box, QStringLiteral("lblInscEsta"));
    lblInscEsta->setGeometry(8, 62, 112, 16);
    lblInscEsta->setProperty("tag", 99);
    edtCdInscEsta = upperEdit(QStringLiteral("edtCdInscEsta"), box);
    edtCdInscEsta->setGeometry(124, 58, 130, 21);
    lblInscEsta->setBuddy(edtCdInscEsta);
    btpInscEst =
        lookupButton(box, {.name = QStringLiteral("btpInscEst"),
                           .geometry = {256, 56, 21, 24},
                           .associate = edtCdInscEsta,
                           .title = QStringLiteral("Inscrição Estadual"),
                           .emptyError = QStringLiteral("Não há inscrição estadual cadastrada."),
                           .beforePesq = [this] { btpInscEstBeforePesq(); },
                           .afterPesq = [this] { btpInscEstAfterPesq(); },
                           .source = dtsInscrEstad});
}

void TfrmFiltroCompraLEGALBA::buildInscMuniRow()
{
    QWidget *box = grbFiltroPadrao;
    lblInscMuni = boldLabel(QStringLiteral("Insc. Municipal"), box, QStringLiteral("lblInscMuni"));
    lblInscMuni->setGeometry(8, 84, 112, 16);
    lblInscMuni->setProperty("tag", 99);
    edtCdInscMuni = upperEdit(QStringLiteral("edtCdInscMuni"), box);
    edtCdInscMuni->setGeometry(124, 80, 130, 21);
    lblInscMuni->setBuddy(edtCdInscMuni);
    btpInscMuni =
        lookupButton(box, {.name = QStringLiteral("btpInscMuni"),
                           .geometry = {256, 78, 21, 24},
                           .associate = edtCdInscMuni,
                           .title = QStringLiteral("Inscrição Municipal"),
                           .emptyError = QStringLiteral("Não há inscrição municipal cadastrada."),
                           .beforePesq = [this] { btpInscMuniBeforePesq(); },
                           .afterPesq = [this] { btpInscMuniAfterPesq(); },
                           .source = dtsInscrMunicip});
}

void TfrmFiltroCompraLEGALBA::buildListQueries()
{
    buildTipoOperacQuery();
    buildTpOperacEQuery();
    buildSerieNFQuery();
    buildSerieEntrQuery();
    buildCandidateTables();
    buildParamFilialTable();
}

void TfrmFiltroCompraLEGALBA::buildTipoOperacQuery()
{
    qryTipoOperac = new fis::TADOIBQuery(QStringLiteral("qryTipoOperac"), this);
    qryTipoOperac->SQL_ORACLE = {QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T "
        "WHERE IDENTRSAIDOP = 'S' AND IDUTILOPER = 'S' AND ((CDTIPOOPER = :P_TIPOOPER) OR "
        "(:P_TODOS = 'T')) ORDER BY 1")};
    qryTipoOperac->SQL_MSSQL = {QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP+CDTIPOOPER AS CHAVE FROM TIPOOPERAC T "
        "WHERE IDENTRSAIDOP = 'S' AND IDUTILOPER = 'S' AND ((CDTIPOOPER = :P_TIPOOPER) OR "
        "(:P_TODOS = 'T')) ORDER BY 1")};
    qryTipoOperac->SQL_IB = {QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T, "
        "PARAM(:P_TIPOOPER) P_TIPOOPER, PARAM(:P_TODOS) P_TODOS WHERE IDENTRSAIDOP = 'S' AND "
        "IDUTILOPER = 'S' AND ((CDTIPOOPER = P_TIPOOPER.PARAM) OR (P_TODOS.PARAM = 'T')) ORDER "
        "BY 1")};
    qryTipoOperac->addField(stringField("CHAVE", 3, ""));
    qryTipoOperac->addField(stringField("CDTIPOOPER", 2, "Código"));
    qryTipoOperac->addField(stringField("NMTIPOOPER", 30, "Nome"));
    dtsTipoOper = new fis::DataSource(qryTipoOperac->table(), this);
    dtsTipoOper->setObjectName(QStringLiteral("dtsTipoOper"));
}

void TfrmFiltroCompraLEGALBA::buildTpOperacEQuery()
{
    qryTpOperacE = new fis::TADOIBQuery(QStringLiteral("qryTpOperacE"), this);
    qryTpOperacE->SQL_ORACLE = {QStringLiteral(
        "SELECT CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T WHERE "
        "T.IDUTILOPER = 'S' AND T.IDENTRSAIDOP = 'E' AND T.IDUTILEMISNF = 'S' AND ((T.CDTIPOOPER "
        "= :P_TIPOOPER) OR (:P_TODOS = 'T')) ORDER BY 1")};
    qryTpOperacE->SQL_MSSQL = {QStringLiteral(
        "SELECT CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP+CDTIPOOPER AS CHAVE FROM TIPOOPERAC T WHERE "
        "T.IDUTILOPER = 'S' AND T.IDENTRSAIDOP = 'E' AND T.IDUTILEMISNF = 'S' AND ((T.CDTIPOOPER "
        "= :P_TIPOOPER) OR (:P_TODOS = 'T')) ORDER BY 1")};
    qryTpOperacE->SQL_IB = {QStringLiteral(
        "SELECT CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T, "
        "PARAM(:P_TIPOOPER) P_TIPOOPER, PARAM(:P_TODOS) P_TODOS WHERE T.IDUTILOPER = 'S' AND "
        "T.IDENTRSAIDOP = 'E' AND T.IDUTILEMISNF = 'S' AND ((T.CDTIPOOPER = P_TIPOOPER.PARAM) OR "
        "(P_TODOS.PARAM = 'T')) ORDER BY 1")};
    qryTpOperacE->addField(stringField("CHAVE", 3, ""));
    qryTpOperacE->addField(stringField("CDTIPOOPER", 2, "Código"));
    qryTpOperacE->addField(stringField("NMTIPOOPER", 30, ""));
}

void TfrmFiltroCompraLEGALBA::buildSerieNFQuery()
{
    qrySerieNF = new fis::TADOIBQuery(QStringLiteral("qrySerieNF"), this);
    qrySerieNF->SQL_ORACLE = {QStringLiteral(
        "SELECT CDSERIE, DSSERIE, CDEMPRESA, CDINSCESTA, CDSERIE AS CDSERIENUMNF, CDRELMODENF, "
        "CDRELESPENF, 'S'||CDSERIE AS CHAVE FROM SERIENF WHERE (CDEMPRESA = :P_CDEMPRESA) AND "
        "(CDINSCESTA = :P_CDINSCESTA) AND (CDINSCMUNI = :P_CDINSCMUNI) AND (CDSERIE = "
        "NVL(:P_CDSERIE, CDSERIE)) ORDER BY CDSERIE")};
    qrySerieNF->SQL_MSSQL = {QStringLiteral(
        "SELECT CDSERIE, DSSERIE, CDEMPRESA, CDINSCESTA, CDSERIE AS CDSERIENUMNF, CDRELMODENF, "
        "CDRELESPENF, 'S'+CDSERIE AS CHAVE FROM SERIENF WHERE (CDEMPRESA = :P_CDEMPRESA) AND "
        "(CDINSCESTA = :P_CDINSCESTA) AND (CDINSCMUNI = :P_CDINSCMUNI) AND (CDSERIE = "
        "ISNULL(:P_CDSERIE, CDSERIE)) ORDER BY CDSERIE")};
    qrySerieNF->SQL_IB = {QStringLiteral(
        "SELECT CDSERIE, DSSERIE, CDEMPRESA, CDINSCESTA, CDSERIE AS CDSERIENUMNF, CDRELMODENF, "
        "CDRELESPENF, 'S'||CDSERIE AS CHAVE FROM SERIENF, PARAM(:P_CDSERIE) P_CDSERIE WHERE "
        "(CDEMPRESA = :P_CDEMPRESA) AND (CDINSCESTA = :P_CDINSCESTA) AND (CDINSCMUNI = "
        ":P_CDINSCMUNI) AND (CDSERIE = NVLSTR(P_CDSERIE.PARAM, CDSERIE)) ORDER BY CDSERIE")};
    qrySerieNF->addField(stringField("CHAVE", 6, ""));
    qrySerieNF->addField(stringField("CDSERIE", 5, "Código", true));
    qrySerieNF->addField(stringField("DSSERIE", 20, "Descrição"));
    qrySerieNF->addField(stringField("CDEMPRESA", 2, "", false, false));
    qrySerieNF->addField(stringField("CDINSCESTA", 16, "", false, false));
    qrySerieNF->addField(stringField("CDSERIENUMNF", 5, "", false, false));
    qrySerieNF->addField(stringField("CDRELMODENF", 100, "", false, false));
    qrySerieNF->addField(stringField("CDRELESPENF", 100, "", false, false));
    dtsSerieNF = new fis::DataSource(qrySerieNF->table(), this);
    dtsSerieNF->setObjectName(QStringLiteral("dtsSerieNF"));
}

void TfrmFiltroCompraLEGALBA::buildSerieEntrQuery()
{
    qrySerieEntr = new fis::TADOIBQuery(QStringLiteral("qrySerieEntr"), this);
    qrySerieEntr->SQL_ORACLE = {QStringLiteral(
        "SELECT CDSERIEENTR, DSSERIEENTR, 'E'||CDSERIEENTR AS CHAVE FROM SERIEENTR WHERE "
        "(CDSERIEENTR = NVL(:P_CDSERIEENTR, CDSERIEENTR)) ORDER BY CDSERIEENTR")};
    qrySerieEntr->SQL_MSSQL = {QStringLiteral(
        "SELECT CDSERIEENTR, DSSERIEENTR, 'E'+CDSERIEENTR AS CHAVE FROM SERIEENTR WHERE "
        "(CDSERIEENTR = ISNULL(:P_CDSERIEENTR, CDSERIEENTR)) ORDER BY CDSERIEENTR")};
    qrySerieEntr->SQL_IB = {QStringLiteral(
        "SELECT CDSERIEENTR, DSSERIEENTR, 'E'||CDSERIEENTR AS CHAVE FROM SERIEENTR, "
        "PARAM(:P_CDSERIEENTR) P_CDSERIEENTR WHERE (CDSERIEENTR = NVLSTR(P_CDSERIEENTR.PARAM, "
        "CDSERIEENTR)) ORDER BY CDSERIEENTR")};
    qrySerieEntr->addField(stringField("CHAVE", 6, ""));
    qrySerieEntr->addField(stringField("CDSERIEENTR", 5, "Código", true));
    qrySerieEntr->addField(stringField("DSSERIEENTR", 20, "Descrição"));
}

// The tables the two list pickers fill at each click, with the mark column first.
void TfrmFiltroCompraLEGALBA::buildCandidateTables()
{
    cdsTpOperacao = new fis::MemTable(QStringLiteral("cdsTpOperacao"), this);
    cdsTpOperacao->setFields(
        {stringField("IDMARCADO", 1, ""), stringField("CHAVE", 3, "", false, false),
         stringField("CDTIPOOPER", 2, "Código"), stringField("NMTIPOOPER", 30, "Nome")});
    cdsTpOperacao->setIndexFieldNames(QStringLiteral("CDTIPOOPER"));
    dtsTpOperacao = new fis::DataSource(cdsTpOperacao, this);
    dtsTpOperacao->setObjectName(QStringLiteral("dtsTpOperacao"));

    cdsSerie = new fis::MemTable(QStringLiteral("cdsSerie"), this);
    cdsSerie->setFields({stringField("IDMARCADO", 1, ""), stringField("CHAVE", 6, "", false, false),
                         stringField("CDSERIE", 5, "Código", true),
                         stringField("DSSERIE", 20, "Descrição")});
    cdsSerie->setIndexFieldNames(QStringLiteral("CDSERIE"));
    dtsSerie = new fis::DataSource(cdsSerie, this);
    dtsSerie->setObjectName(QStringLiteral("dtsSerie"));
}

void TfrmFiltroCompraLEGALBA::buildParamFilialTable()
{
    // Nothing fills the branch parameters, so the NF-number width reads as 0.
    cdsParamFilial = new fis::MemTable(QStringLiteral("cdsParamFilial"), this);
    fis::FieldDef width;
    width.name = QStringLiteral("NRTAMNUMNFUT");
    width.type = fis::FieldType::Float;
    cdsParamFilial->setFields({width});
}

void TfrmFiltroCompraLEGALBA::buildCriteria()
{
    buildValueRow();
    buildOperacaoGroup();
    buildSerieGroup();
    buildStatusGroup();

    for (QWidget *control :
         {static_cast<QWidget *>(rdgTodosTipoOper), static_cast<QWidget *>(rdgListaTipoOper),
          static_cast<QWidget *>(rdgTodasSerie), static_cast<QWidget *>(rdgListaSerie)})
        plainFont(control);

    setRequiredColour(edtCdInscEsta, false);
    setRequiredColour(edtCdInscMuni, false);

    connectCriteria();
}

// The minimum value and the NF number, in the box above the bottom row.
void TfrmFiltroCompraLEGALBA::buildValueRow()
{
    grbSerie = new QGroupBox(grbFiltroPadrao);
    grbSerie->setObjectName(QStringLiteral("grbSerie"));
    grbSerie->setGeometry(6, 103, 501, 40);
    lblValor = boldLabel(QStringLiteral("Valor mínimo NF"), grbSerie, QStringLiteral("lblValor"));
    lblValor->setGeometry(8, 14, 122, 16);
    nedValor = new fis::TNumberEdit(grbSerie);
    nedValor->setObjectName(QStringLiteral("nedValor"));
    nedValor->setDecimals(2);
    nedValor->setThousandsSeparator(true);
    nedValor->setCurrency(false);
    nedValor->setGeometry(134, 11, 96, 21);
    lblValor->setBuddy(nedValor);
    lblNumNF = boldLabel(QStringLiteral("Número da NF"), grbSerie, QStringLiteral("lblNumNF"));
    lblNumNF->setGeometry(238, 14, 106, 16);
    medNumNF = new fis::MaskEdit(QStringLiteral("99999999999999999999;0; "), grbSerie);
    medNumNF->setObjectName(QStringLiteral("medNumNF"));
    medNumNF->setMaxLength(20);
    medNumNF->setGeometry(348, 11, 148, 21);
    lblNumNF->setBuddy(medNumNF);
}

void TfrmFiltroCompraLEGALBA::buildOperacaoGroup()
{
    grbOperacao =
        boldGroup(QStringLiteral("grbOperacao"), QStringLiteral("Tipo Operação"), grbFiltroPadrao);
    grbOperacao->setGeometry(218, 145, 104, 66);
    rdgTodosTipoOper =
        radio(QStringLiteral("rdgTodosTipoOper"), QStringLiteral("Todos"), grbOperacao);
    rdgTodosTipoOper->setGeometry(8, 18, 70, 18);
    rdgTodosTipoOper->setChecked(true);
    rdgListaTipoOper =
        radio(QStringLiteral("rdgListaTipoOper"), QStringLiteral("Lista"), grbOperacao);
    rdgListaTipoOper->setGeometry(8, 40, 60, 18);
    btpTipoOper = listButton(QStringLiteral("btpTipoOper"), QStringLiteral("Tipo de Operação"),
                             QStringLiteral("Não há tipo de operação cadastrado."),
                             rdgListaTipoOper, grbOperacao);
    btpTipoOper->setDataSource(dtsTipoOper);
    btpTipoOper->setGeometry(72, 37, 21, 24);
    btpTipoOper->OnClick = [this] {
        btpTipoOperClick();
    };
}

void TfrmFiltroCompraLEGALBA::buildSerieGroup()
{
    grbSerie1 = boldGroup(QStringLiteral("grbSerie1"), QStringLiteral("Série"), grbFiltroPadrao);
    grbSerie1->setGeometry(324, 145, 86, 66);
    rdgTodasSerie = radio(QStringLiteral("rdgTodasSerie"), QStringLiteral("Todas"), grbSerie1);
    rdgTodasSerie->setGeometry(6, 18, 70, 18);
    rdgTodasSerie->setChecked(true);
    rdgListaSerie = radio(QStringLiteral("rdgListaSerie"), QStringLiteral("Lista"), grbSerie1);
    rdgListaSerie->setGeometry(6, 40, 55, 18);
    btpSerie = listButton(QStringLiteral("btpSerie"), QStringLiteral("Série"),
                          QStringLiteral("Não há série cadastrada."), rdgListaSerie, grbSerie1);
    btpSerie->setDataSource(dtsSerieNF);
    btpSerie->setGeometry(61, 37, 21, 24);
    btpSerie->OnClick = [this] {
        btpSerieClick();
    };
}

void TfrmFiltroCompraLEGALBA::buildStatusGroup()
{
    rdgStatus = new fis::TRadioGroup(QStringLiteral("Status"), grbFiltroPadrao);
    rdgStatus->setObjectName(QStringLiteral("rdgStatus"));
    rdgStatus->setGeometry(412, 145, 95, 66);
    rdgStatus->setItems(
        {QStringLiteral("Pendente"), QStringLiteral("Exportado"), QStringLiteral("Ambos")});
    rdgStatus->setItemIndex(0);
}

// The handlers of the criteria, their place in the tab chain after the registrations, and their
// exit checks.
void TfrmFiltroCompraLEGALBA::connectCriteria()
{
    fis::connectAction(rdgTodosTipoOper, &QRadioButton::clicked, this,
                       [this] { rdgTodosTipoOperClick(); });
    fis::connectAction(rdgListaTipoOper, &QRadioButton::clicked, this,
                       [this] { rdgListaTipoOprClick(); });
    fis::connectAction(rdgTodasSerie, &QRadioButton::clicked, this,
                       [this] { rdgTodasSerieClick(); });
    fis::connectAction(rdgListaSerie, &QRadioButton::clicked, this,
                       [this] { rdgListaSerieClick(); });
    // Typing and picks through the lookup buttons both change the text.
    connect(edtCdInscEsta, &QLineEdit::textChanged, this, [this] { edtCdInscEstaChange(); });
    connect(edtCdInscMuni, &QLineEdit::textChanged, this, [this] { edtCdInscMuniChange(); });

    chainTabOrder({edtCdInscMuni, nedValor, medNumNF, depEmiIni, depEmiFin, rdgTodosTipoOper,
                   rdgListaTipoOper, btpTipoOper, rdgTodasSerie, rdgListaSerie, btpSerie,
                   rdgStatus->button(0)});

    fis::FocusManager &focus = fis::FocusManager::instance();
    focus.setExitHandler(depEmiIni, [this] { depEmiIniExit(); });
    focus.setExitHandler(depEmiFin, [this] { depEmiFinExit(); });
    focus.setExitHandler(medNumNF, [this] { medNumNFExit(); });
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
    if (fis::compralegal::ExportScreenLink *screen = fis::compralegal::exportScreen())
        screen->filterCancelled();
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

void TfrmFiltroCompraLEGALBA::Vd_DatasFiltro()
{
    depEmiIni->CheckValidDate();
    depEmiFin->CheckValidDate();
    if (fis::EmptyString(depEmiIni->text())) {
        depEmiIni->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Dt_Ini_Inf")), true);
    }
    if (fis::EmptyString(depEmiFin->text())) {
        depEmiFin->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Dt_Fin_Inf")), true);
    }
    if (depEmiFin->GetDate() < depEmiIni->GetDate()) {
        depEmiIni->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Dt_Ini_Men")), true);
    }
}

void TfrmFiltroCompraLEGALBA::Vd_Nota()
{
    const bool empty = fis::EmptyString(medNumNF->text());
    const int width =
        cdsParamFilial->isEmpty()
            ? 0
            : int(std::lround(cdsParamFilial->asFloat(QStringLiteral("NRTAMNUMNFUT"))));
    if (width > 0)
        medNumNF->setEditMask(QString(width, u'9') + QStringLiteral(";0; "));
    if (!empty)
        medNumNF->setText(fis::Ajusta(medNumNF->text(), width));
}

void TfrmFiltroCompraLEGALBA::sbtConfirmaClick()
{
    // Whatever fails, the wait indicator goes and the dialog stays open with its entries.
    try {
        const QString statusCode =
            criteria().status.value_or(QString(fis::compralegal::kStatusPending));
        checkListEntries();

        boConfirma = true;
        Vd_filial();
        Vd_Cliente();
        Vd_CdInscEsta();
        Vd_CdInscMuni();
        Vd_DatasFiltro();

        fis::compralegal::ExportScreenLink *screen = fis::compralegal::exportScreen();
        if (!screen)
            throw fis::HostError(QStringLiteral("A tela de exportação não está aberta."));
        fis::ActiveShowAvi(this, 6, screen->message(QStringLiteral("Carg_Dad")));

        fis::compralegal::NotaFiscalRequest request = notaFiscalRequest(screen->companyCode());
        request.status = statusCode;
        fis::compralegal::loadInvoiceList(screen->appServer(), request, screen->invoiceList());

        fis::DeactiveShowAvi();
        screen->invoicesLoaded();
        fis::setScreenCursor(Qt::ArrowCursor);
        close();
    } catch (...) {
        fis::DeactiveShowAvi();
        throw;
    }
}

// "Todos"/"Todas" drop a kept choice; the registrations marked required must be filled and a
// chosen list must have entries. The first missing one ends the action through MensErro, with
// the focus on it.
void TfrmFiltroCompraLEGALBA::checkListEntries()
{
    if (rdgTodosTipoOper->isChecked())
        stCodTipoOper.clear();
    if (isRequired(edtCdInscEsta) && fis::EmptyString(edtCdInscEsta->text())) {
        edtCdInscEsta->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("InscEsta_Inf")), true);
    }
    if (isRequired(edtCdInscMuni) && fis::EmptyString(edtCdInscMuni->text())) {
        edtCdInscMuni->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Serie_muni")), true);
    }
    if (rdgListaTipoOper->isChecked() && fis::EmptyString(stCodTipoOper)) {
        rdgListaTipoOper->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("TipoOper_inf")), true);
    }
    if (rdgTodasSerie->isChecked())
        stCodSerie.clear();
    if (rdgListaSerie->isChecked() && fis::EmptyString(stCodSerie)) {
        rdgListaSerie->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Serie_inf")), true);
    }
}

fis::compralegal::FilterCriteria TfrmFiltroCompraLEGALBA::criteria() const
{
    fis::compralegal::FilterCriteria c;
    c.filial = medCdFilial->text();
    c.inscricaoCliente = medInscClie->text();
    c.inscEstadual = edtCdInscEsta->text();
    c.inscMunicipal = edtCdInscMuni->text();
    c.numeroNF = medNumNF->text();
    c.valorMinimo = nedValor->GetNumber();
    c.inicio = depEmiIni->GetDate();
    c.fim = depEmiFin->GetDate();
    c.status = fis::compralegal::statusCode(rdgStatus->ItemIndex());
    return c;
}

fis::compralegal::NotaFiscalRequest
TfrmFiltroCompraLEGALBA::notaFiscalRequest(const QString &empresa) const
{
    return fis::compralegal::notaFiscalRequest(empresa, criteria(), &stCodSerie, &stCodTipoOper);
}

void TfrmFiltroCompraLEGALBA::depEmiIniExit()
{
    depEmiIni->CheckValidDate();
}

void TfrmFiltroCompraLEGALBA::depEmiFinExit()
{
    depEmiFin->CheckValidDate();
}

void TfrmFiltroCompraLEGALBA::medNumNFExit()
{
    Vd_Nota();
}

void TfrmFiltroCompraLEGALBA::rdgTodosTipoOperClick()
{
    btpTipoOper->setEnabled(!rdgTodosTipoOper->isChecked());
}

void TfrmFiltroCompraLEGALBA::rdgListaTipoOprClick()
{
    btpTipoOper->setEnabled(rdgListaTipoOper->isChecked());
}

void TfrmFiltroCompraLEGALBA::rdgTodasSerieClick()
{
    setRequiredColour(edtCdInscEsta, false);
    setRequiredColour(edtCdInscMuni, false);
    btpSerie->setEnabled(!rdgTodasSerie->isChecked());
}

void TfrmFiltroCompraLEGALBA::rdgListaSerieClick()
{
    setRequiredColour(edtCdInscEsta, true);
    setRequiredColour(edtCdInscMuni, true);
    btpSerie->setEnabled(rdgListaSerie->isChecked());
}

namespace {

// Copies every row of an open query into a candidate table.
void appendCandidates(fis::TADOIBQuery &query, fis::MemTable &table, const QString &codeField,
                      const QString &nameField, const QString &tableCode, const QString &tableName)
{
    query.First();
    while (!query.Eof()) {
        table.insert();
        table.setValue(QStringLiteral("CHAVE"),
                       query.FieldByName(QStringLiteral("CHAVE")).AsString());
        table.setValue(tableCode, query.FieldByName(codeField).AsString());
        table.setValue(tableName, query.FieldByName(nameField).AsString());
        table.post();
        query.Next();
    }
}

// The export screen's company code, empty while there is no screen.
QString screenCompany()
{
    const fis::compralegal::ExportScreenLink *screen = fis::compralegal::exportScreen();
    return screen ? screen->companyCode() : QString();
}

// The next click starts from an empty table; an empty one may stay open.
void closeCandidates(fis::MemTable &table)
{
    if (!table.isEmpty())
        table.close();
}

} // namespace

void TfrmFiltroCompraLEGALBA::btpTipoOperClick()
{
    if (!cdsTpOperacao->isOpen())
        cdsTpOperacao->createDataSet();
    // Rows of a click that failed half-way would be listed twice by the next one.
    auto dropOnError = qScopeGuard([this] { cdsTpOperacao->close(); });
    const QString code = QStringLiteral("CDTIPOOPER");
    const QString name = QStringLiteral("NMTIPOOPER");
    for (fis::TADOIBQuery *query : {qryTipoOperac, qryTpOperacE}) {
        query->Close();
        query->ParamByName(QStringLiteral("P_TIPOOPER")).setAsString(QString());
        query->ParamByName(QStringLiteral("P_TODOS")).setAsString(QStringLiteral("T"));
        query->Open();
    }
    appendCandidates(*qryTipoOperac, *cdsTpOperacao, code, name, code, name);
    appendCandidates(*qryTpOperacE, *cdsTpOperacao, code, name, code, name);
    fis::PesquisaLista(dtsTpOperacao, QStringLiteral("CHAVE"),
                       msgPadrao.Msg(QStringLiteral("TipoOper")), false, stCodTipoOper);
    dropOnError.dismiss();
    closeCandidates(*cdsTpOperacao);
}

void TfrmFiltroCompraLEGALBA::btpSerieClick()
{
    if (fis::EmptyString(edtCdInscEsta->text()) || fis::EmptyString(edtCdInscMuni->text())) {
        if (fis::EmptyString(edtCdInscEsta->text())) {
            edtCdInscEsta->setFocus();
            fis::MensErro(msgPadrao.Msg(QStringLiteral("Serie_est")), true);
        } else {
            edtCdInscMuni->setFocus();
            fis::MensErro(msgPadrao.Msg(QStringLiteral("Serie_muni")), true);
        }
        return;
    }
    if (!cdsSerie->isOpen())
        cdsSerie->createDataSet();
    auto dropOnError = qScopeGuard([this] { cdsSerie->close(); });
    qrySerieNF->Close();
    qrySerieNF->ParamByName(QStringLiteral("P_CDEMPRESA")).setAsString(screenCompany());
    qrySerieNF->ParamByName(QStringLiteral("P_CDINSCESTA")).setAsString(edtCdInscEsta->text());
    qrySerieNF->ParamByName(QStringLiteral("P_CDINSCMUNI")).setAsString(edtCdInscMuni->text());
    qrySerieNF->ParamByName(QStringLiteral("P_CDSERIE")).clear();
    qrySerieNF->Open();
    const QString code = QStringLiteral("CDSERIE");
    const QString name = QStringLiteral("DSSERIE");
    appendCandidates(*qrySerieNF, *cdsSerie, code, name, code, name);
    qrySerieEntr->Close();
    qrySerieEntr->ParamByName(QStringLiteral("P_CDSERIEENTR")).clear();
    qrySerieEntr->Open();
    appendCandidates(*qrySerieEntr, *cdsSerie, QStringLiteral("CDSERIEENTR"),
                     QStringLiteral("DSSERIEENTR"), code, name);
    fis::PesquisaLista(dtsSerie, QStringLiteral("CHAVE"),
                       msgPadrao.Msg(QStringLiteral("pesqSerie")), false, stCodSerie);
    dropOnError.dismiss();
    closeCandidates(*cdsSerie);
}

void TfrmFiltroCompraLEGALBA::edtCdInscEstaChange()
{
    stCodSerie.clear();
}

void TfrmFiltroCompraLEGALBA::edtCdInscMuniChange()
{
    stCodSerie.clear();
}

bool TfrmFiltroCompraLEGALBA::isRequired(const QLineEdit *Edit)
{
    return Edit->palette().color(QPalette::Active, QPalette::Base) ==
           Edit->style()->standardPalette().color(QPalette::Active, QPalette::ToolTipBase);
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
    DataSet.ParamByName(QStringLiteral("P_CDEMPRESA")).setAsString(screenCompany());
}

void TfrmFiltroCompraLEGALBA::qryInscrMunicipBeforeOpen(fis::TADOIBQuery &DataSet)
{
    DataSet.ParamByName(QStringLiteral("P_CDEMPRESA")).setAsString(screenCompany());
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
    const auto hourglass = fis::waitCursor();
    if (!frmFiltroCompraLEGALBA) {
        frmFiltroCompraLEGALBA =
            fis::createForm<TfrmFiltroCompraLEGALBA>(fis::HostApplication::current().dialogOwner());
    }
    fis::setScreenCursor(Qt::ArrowCursor);
    frmFiltroCompraLEGALBA->exec();
    fis::setScreenCursor(Qt::ArrowCursor);
    return boConfirma;
}
