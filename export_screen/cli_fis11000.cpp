#include "export_screen/cli_fis11000.h"
#include "hostfw/widgets/formparts.h"

#include "compralegal/exportrun.h"
#include "compralegal/filtercriteria.h"
#include "compralegal/headercodes.h"
#include "compralegal/outputname.h"
#include "contracts/compralegalcontract.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hosterror.h"
#include "hostfw/hosthelpers.h"
#include "hostfw/widgets/btnpesquisa.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/menumerge.h"
#include "hostfw/widgets/procura.h"
#include "hostfw/widgets/radiogroup.h"
#include "hostfw/widgets/useraction.h"
#include "hostfw/widgets/waitindicator.h"
#include "rpcclient/netconnection.h"

#include <QAction>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QScopeGuard>
#include <QVBoxLayout>

extern "C" {
TfrmCompraLegalBA *frmCompraLegalBA = nullptr;
bool boIdCriado = false;
bool boEntra = false;
}

using namespace fis::forms;

namespace {

constexpr int kHeaderHeight = 76;

// A control's OnKeyPress: the handler sees each typed character before the control and drops it
// by setting it to 0. It runs as a user action, so a refusal through MensErro drops it too.
class KeyPressHook : public QObject
{
public:
    KeyPressHook(QWidget *control, std::function<void(QChar &)> handler)
        : QObject(control)
        , m_control(control)
        , m_handler(std::move(handler))
    {
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_control || event->type() != QEvent::KeyPress)
            return false;
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (text.size() != 1 || !text.at(0).isPrint())
            return false;
        QChar key = text.at(0);
        const bool ran = fis::runAction(m_control, [this, &key] { m_handler(key); });
        return !ran || key.isNull();
    }

private:
    QWidget *m_control;
    std::function<void(QChar &)> m_handler;
};

// The colour the forms use for a required field (clInfoBk).
void paintRequired(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    widget->setPalette(palette);
}

const QString kIdStatus = QStringLiteral("IDSTATUS");
const QString kIdNfCompraLeg = QStringLiteral("IDNFCOMPRALEG");
const QString kMarked = QStringLiteral("C");
const QString kUnmarked = QStringLiteral("U");

// The grid's titles: "MS Sans Serif" 8 pt, or whatever the system matches for it.
QFont titleFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    return font;
}

// The heavy check mark over the mark's column. The classic screens show "4" in the symbol font
// "Monotype Sorts"; without it the same mark comes from a font holding U+2714, else it is drawn.
void setCheckMarkTitle(fis::DataGridColumn &column)
{
    column.titleAlignment = Qt::AlignCenter;
    const QStringList families = QFontDatabase::families();
    if (families.contains(QStringLiteral("Monotype Sorts"))) {
        column.title = QStringLiteral("4");
        column.titleFont = QFont(QStringLiteral("Monotype Sorts"));
        column.titleFont.setPointSize(8);
        column.titleFontSet = true;
        return;
    }
    const char32_t heavyCheck = 0x2714;
    for (const QString &family : families) {
        QFont font(family);
        font.setPointSize(9);
        if (QFontMetrics(font).inFontUcs4(heavyCheck)) {
            column.title = QString::fromUcs4(&heavyCheck, 1);
            column.titleFont = font;
            column.titleFontSet = true;
            return;
        }
    }
    column.title = QStringLiteral("\u2714");
    column.titlePainter = [](QPainter &painter, const QRect &rect) {
        // A thick tick, 9 x 8 pixels, centred.
        const QPointF origin(rect.center().x() - 4.0, rect.center().y() - 4.0);
        QPainterPath tick;
        tick.moveTo(origin + QPointF(0.5, 4.5));
        tick.lineTo(origin + QPointF(3.0, 7.5));
        tick.lineTo(origin + QPointF(8.5, 0.5));
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QGuiApplication::palette().color(QPalette::WindowText), 2.5,
                            Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
    };
}

QImage loadImage(const QString &name)
{
    return QImage(QStringLiteral(":/fis11000/") + name).convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TfrmCompraLegalBA::TfrmCompraLegalBA(QWidget *parent)
    : fis::TfrmPadrImportExport(parent)
    , Panel2(new QFrame(clientArea()))
    , qryImposto(new fis::TADOIBQuery(QStringLiteral("qryImposto"), this))
    , qryEmpresa(new fis::TADOIBQuery(QStringLiteral("qryEmpresa"), this))
    , cdsNotaFiscal(new fis::MemTable(QStringLiteral("cdsNotaFiscal"), this))
    , dtsNotaFiscal(new fis::DataSource(cdsNotaFiscal, this))
    , cdsRegistro(new fis::MemTable(QStringLiteral("cdsRegistro"), this))
    , NetCompraLEGALBA(new fis::NetConnection(this))
    , cdsLista(new fis::MemTable(QStringLiteral("cdsLista"), this))
    , cdsArquivos(new fis::MemTable(QStringLiteral("cdsArquivos"), this))
    , cdsRegistros(new fis::MemTable(QStringLiteral("cdsRegistros"), this))
    , imgCheck(loadImage(QStringLiteral("imgcheck.xpm")))
    , imgUncheck(loadImage(QStringLiteral("imguncheck.xpm")))
    , imgAprovado(loadImage(QStringLiteral("imgaprovado.xpm")))
    , imgNAprovado(loadImage(QStringLiteral("imgnaprovado.xpm")))
    , m_gridFrame(new QFrame(clientArea()))
{
    setObjectName(QStringLiteral("frmCompraLegalBA"));
    setWindowTitle(QStringLiteral("Compra LEGAL - BA"));
    resize(866, 541);

    buildTables();
    buildToolButtons();
    buildMessages();
    buildQueries();
    buildHeader();
    buildGridFrame();
    layoutClientArea();
    buildMenu();
    connectHeaderFocus();
    fis::compralegal::setExportScreen(this);
}

void TfrmCompraLegalBA::buildToolButtons()
{
    // The list is empty until a filter loads it, so there is nothing to export yet.
    sbtImportExport->setEnabled(false);
    sbtFiltro = addMenuButton(QStringLiteral("sbtFiltro"), QStringLiteral("Filtro"),
                              style()->standardIcon(QStyle::SP_FileDialogContentsView));
    sbtFiltro->setEnabled(false);
    fis::connectAction(sbtFiltro, &QAbstractButton::clicked, this, [this] { sbtFiltroClick(); });
}

// The sunken frame around the invoice list.
void TfrmCompraLegalBA::buildGridFrame()
{
    m_gridFrame->setObjectName(QStringLiteral("gridFrame"));
    m_gridFrame->setFrameShape(QFrame::Panel);
    m_gridFrame->setFrameShadow(QFrame::Sunken);
    m_gridFrame->setLineWidth(2);
    auto *gridLayout = new QVBoxLayout(m_gridFrame);
    gridLayout->setContentsMargins(2, 2, 2, 2);
    buildGrid();
    gridLayout->addWidget(dbgPadrao);
}

// The header on top at its fixed height, the list's frame taking the rest.
void TfrmCompraLegalBA::layoutClientArea()
{
    auto *layout = new QVBoxLayout(clientArea());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel2);
    layout->addWidget(m_gridFrame, 1);
}

// The header's three entries, then the list; the codes' enter and exit handlers and leaving
// the header.
void TfrmCompraLegalBA::connectHeaderFocus()
{
    QWidget::setTabOrder(medCdImposto, medCdEmpresa);
    QWidget::setTabOrder(medCdEmpresa, edtNmArquivo);
    QWidget::setTabOrder(edtNmArquivo, dbgPadrao);

    fis::FocusManager &focus = fis::FocusManager::instance();
    focus.setEnterHandler(medCdImposto, [this] { medCdImpostoEnter(); });
    focus.setEnterHandler(medCdEmpresa, [this] { medCdEmpresaEnter(); });
    focus.setExitHandler(medCdImposto, [this] { medCdImpostoExit(); });
    focus.setExitHandler(medCdEmpresa, [this] { medCdEmpresaExit(); });
    focus.setExitHandler(Panel2, [this] { Panel2Exit(); });
}

void TfrmCompraLegalBA::buildTables()
{
    cdsNotaFiscal->setObjectName(QStringLiteral("cdsNotaFiscal"));
    cdsNotaFiscal->setFields(fis::compralegal::notaFiscalFields());
    dtsNotaFiscal->setObjectName(QStringLiteral("dtsNotaFiscal"));
    cdsNotaFiscal->setGetTextHandler(
        QStringLiteral("IDENTRSAIDOP"), [this](const fis::MemTable &table, int row, bool display) {
            return cdsNotaFiscalIDENTRSAIDOPGetText(table, row, display);
        });
    connect(dtsNotaFiscal, &fis::DataSource::dataChange, this, [this](int field) {
        fis::runAction(this, [this, field] { dtsNotaFiscalDataChange(field); });
    });
    cdsRegistro->setObjectName(QStringLiteral("cdsRegistro"));
    fis::FieldDef idRegistro;
    idRegistro.name = QStringLiteral("IDREGISTRO");
    idRegistro.size = 2;
    cdsRegistro->setFields({idRegistro});
    // Declared now, created by the first export.
    cdsLista->setObjectName(QStringLiteral("cdsLista"));
    cdsLista->setFields(fis::compralegal::listaFields());
    cdsArquivos->setObjectName(QStringLiteral("cdsArquivos"));
    cdsArquivos->setFields(fis::compralegal::arquivosFields());
    cdsRegistros->setObjectName(QStringLiteral("cdsRegistros"));
    cdsRegistros->setFields(fis::compralegal::registrosFields());

    NetCompraLEGALBA->setObjectName(QStringLiteral("NetCompraLEGALBA"));
    NetCompraLEGALBA->setServerName(fis::compralegal::serverObjectName());
    connect(NetCompraLEGALBA, &fis::NetConnection::beforeConnect, this,
            &TfrmCompraLegalBA::NetCompraLEGALBABeforeConnect);
}

void TfrmCompraLegalBA::buildMessages()
{
    msgPadrao.addLine(QStringLiteral("Impo_Inf|Imposto deve ser informado."));
    msgPadrao.addLine(QStringLiteral("Impo_Cad|Imposto não cadastrado."));
    msgPadrao.addLine(QStringLiteral("Empr_Inf|Empresa deve ser informada."));
    msgPadrao.addLine(QStringLiteral("Empr_Cad|Empresa não cadastrada."));
    msgPadrao.addLine(QStringLiteral("Carg_Dad|Carregando dados do servidor..."));
    msgPadrao.addLine(QStringLiteral("Carg_Serv|Carregando dados do servidor..."));
    msgPadrao.addLine(QStringLiteral("Arq_Inf|Nome do arquivo deve ser informado."));
    msgPadrao.addLine(QStringLiteral("Chr_Inv|O arquivo deve conter um nome válido."));
    msgPadrao.addLine(QStringLiteral("Dir_Inv|Diretório inválido para baixar arquivo."));
    msgPadrao.addLine(QStringLiteral("Docu_Inf|Nenhum documento foi informado."));
    msgPadrao.addLine(QStringLiteral("Sucess|Exportação foi concluída com sucesso."));
}

TfrmCompraLegalBA::~TfrmCompraLegalBA()
{
    if (fis::compralegal::exportScreen() == this)
        fis::compralegal::setExportScreen(nullptr);
    // A screen released without passing FormClose (its owner went first) must not leave a
    // dangling reference behind for the next CriaCompraLEGAL or the filter dialog.
    if (frmCompraLegalBA == this) {
        frmCompraLegalBA = nullptr;
        boIdCriado = false;
    }
}

void TfrmCompraLegalBA::buildQueries()
{
    qryImposto->SQL = {QStringLiteral("SELECT CDIMPOSTONFE, SGIMPOSTONFE, IDORGARRECADNFE"),
                       QStringLiteral("FROM IMPOSTONFE"),
                       QStringLiteral("WHERE (CDIMPOSTONFE = :P_CDIMPOSTO OR :P_TIMPOSTO = 'T')"),
                       QStringLiteral("ORDER BY CDIMPOSTONFE")};
    qryImposto->addField(stringField("CDIMPOSTONFE", 2, "Código", true));
    qryImposto->addField(stringField("SGIMPOSTONFE", 10, "Sigla"));
    qryImposto->addField(stringField("IDORGARRECADNFE", 1, "", false, false));
    dtsImposto = new fis::DataSource(qryImposto->table(), this);
    dtsImposto->setObjectName(QStringLiteral("dtsImposto"));

    qryEmpresa->SQL = {QStringLiteral("SELECT CDEMPRESA, NMEMPRESA"),
                       QStringLiteral("FROM EMPRESA"),
                       QStringLiteral("WHERE (CDEMPRESA = :P_EMPRESA OR :P_TEMPRESA = 'T')"),
                       QStringLiteral("ORDER BY CDEMPRESA")};
    qryEmpresa->addField(stringField("CDEMPRESA", 2, "Código", true));
    qryEmpresa->addField(stringField("NMEMPRESA", 40, "Nome"));
    dtsEmpresa = new fis::DataSource(qryEmpresa->table(), this);
    dtsEmpresa->setObjectName(QStringLiteral("dtsEmpresa"));
}

void TfrmCompraLegalBA::buildHeader()
{
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(kHeaderHeight);
    buildTaxRow();
    buildCompanyRow();
    buildNameRow();
    connect(medCdImposto, &fis::MaskEdit::changed, this, [this] { medCdImpostoChange(); });
    connect(medCdEmpresa, &fis::MaskEdit::changed, this, [this] { medCdEmpresaChange(); });
}

void TfrmCompraLegalBA::buildTaxRow()
{
    auto *label = boldLabel(QStringLiteral("&Imposto"), Panel2);
    label->setGeometry(8, 7, 100, 16);
    medCdImposto = new fis::MaskEdit(QStringLiteral("99;0; "), Panel2);
    medCdImposto->setObjectName(QStringLiteral("medCdImposto"));
    medCdImposto->setMaxLength(2);
    medCdImposto->setGeometry(116, 4, 27, 21);
    paintRequired(medCdImposto);
    label->setBuddy(medCdImposto);
    btpImposto = new fis::TBtnPesquisa(Panel2);
    btpImposto->setObjectName(QStringLiteral("btpImposto"));
    btpImposto->setGeometry(147, 2, 21, 24);
    btpImposto->setAssociate(medCdImposto);
    btpImposto->setTitle(QStringLiteral("Imposto"));
    btpImposto->setEmptyError(QStringLiteral("Não há imposto cadastrado."));
    btpImposto->setDataSource(qryImposto);
    btpImposto->OnBeforePesq = [this] {
        btpImpostoBeforePesq();
    };
    btpImposto->OnAfterPesq = [this] {
        btpImpostoAfterPesq();
    };
    edtNmImposto = displayField(QStringLiteral("edtNmImposto"), Panel2);
    edtNmImposto->setGeometry(172, 4, 365, 21);
}

void TfrmCompraLegalBA::buildCompanyRow()
{
    auto *label = boldLabel(QStringLiteral("&Empresa"), Panel2);
    label->setGeometry(8, 30, 100, 16);
    medCdEmpresa = new fis::MaskEdit(QStringLiteral("99;0; "), Panel2);
    medCdEmpresa->setObjectName(QStringLiteral("medCdEmpresa"));
    medCdEmpresa->setMaxLength(2);
    medCdEmpresa->setGeometry(116, 27, 27, 21);
    paintRequired(medCdEmpresa);
    label->setBuddy(medCdEmpresa);
    btpEmpresa = new fis::TBtnPesquisa(Panel2);
    btpEmpresa->setObjectName(QStringLiteral("btpEmpresa"));
    btpEmpresa->setGeometry(147, 25, 21, 24);
    btpEmpresa->setAssociate(medCdEmpresa);
    btpEmpresa->setTitle(QStringLiteral("Empresa"));
    btpEmpresa->setEmptyError(QStringLiteral("Não há empresa cadastrada."));
    btpEmpresa->setDataSource(qryEmpresa);
    btpEmpresa->OnBeforePesq = [this] {
        btpEmpresaBeforePesq();
    };
    btpEmpresa->OnAfterPesq = [this] {
        btpEmpresaAfterPesq();
    };
    edtNmEmpresa = displayField(QStringLiteral("edtNmEmpresa"), Panel2);
    edtNmEmpresa->setGeometry(172, 27, 365, 21);
}

void TfrmCompraLegalBA::buildNameRow()
{
    auto *label = new QLabel(QStringLiteral("&Nome do Arquivo"), Panel2);
    // The edit's place and width are fixed (x 116, 421 wide); the label starts at the panel's
    // very edge to end clear of it with a larger font too.
    label->setObjectName(QStringLiteral("lblNmArquivo"));
    label->setGeometry(0, 56, 115, 16);
    edtNmArquivo = new QLineEdit(Panel2);
    edtNmArquivo->setObjectName(QStringLiteral("edtNmArquivo"));
    edtNmArquivo->setMaxLength(16);
    edtNmArquivo->setGeometry(116, 53, 421, 21);
    label->setBuddy(edtNmArquivo);
    new KeyPressHook(edtNmArquivo, [this](QChar &key) { edtNmArquivoKeyPress(key); });
}

void TfrmCompraLegalBA::buildMenu()
{
    mnuNota = new QMenuBar(this);
    mnuNota->setObjectName(QStringLiteral("mnuNota"));
    mnuOperacao = mnuNota->addMenu(QStringLiteral("&Operação"));
    mnuOperacao->setObjectName(QStringLiteral("mnuOperacao"));
    fis::setMenuGroupIndex(mnuOperacao, 2);

    Exportar2 = mnuOperacao->addAction(QStringLiteral("E&xportar"));
    Exportar2->setObjectName(QStringLiteral("Exportar2"));
    Exportar2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    mnuFiltro = mnuOperacao->addAction(QStringLiteral("F&iltro"));
    mnuFiltro->setObjectName(QStringLiteral("mnuFiltro"));
    mnuFiltro->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));

    fis::connectAction(Exportar2, &QAction::triggered, this, [this] { Exportar2Click(); });
    fis::connectAction(mnuFiltro, &QAction::triggered, this, [this] { mnuFiltroClick(); });

    setFormMenu(mnuNota);
}

void TfrmCompraLegalBA::buildGrid()
{
    dbgPadrao = new fis::DataGrid(m_gridFrame);
    dbgPadrao->setObjectName(QStringLiteral("dbgPadrao"));
    dbgPadrao->setBorderShape(QFrame::NoFrame);
    dbgPadrao->setBackgroundColor(palette().color(QPalette::ToolTipBase));

    const QFont font = titleFont();
    // The rows use the screen's classic 8-point font too, so the fixed widths fit their texts.
    dbgPadrao->setFont(font);
    auto column = [&font](const char *field, int width) {
        fis::DataGridColumn c;
        c.fieldName = QString::fromLatin1(field);
        c.width = width;
        c.titleFont = font;
        c.titleFontSet = true;
        return c;
    };
    fis::DataGridColumn status = column("IDSTATUS", 25);
    setCheckMarkTitle(status);
    dbgPadrao->setColumns({status, column("IDENTRSAIDOP", 47), column("CDFILIAL", -1),
                           column("CLIENTE", 381), column("DTEMISSAO", 89),
                           column("NRNOTAFISC", 78), column("VRNOTAFISC", 72),
                           column("IDNFCOMPRALEG", -1)});
    dbgPadrao->setDataSource(dtsNotaFiscal);

    dbgPadrao->onCellClick = [this](int c) {
        dbgPadraoCellClick(c);
    };
    dbgPadrao->onKeyDown = [this](int &key, Qt::KeyboardModifiers shift) {
        dbgPadraoKeyDown(key, shift);
    };
    dbgPadrao->onTitleClick = [this](int c) {
        dbgPadraoTitleClick(c);
    };
    dbgPadrao->onDrawColumnCell = [this](QPainter &canvas, const QRect &rect, int dataCol, int c,
                                         fis::DataGrid::DrawState state) {
        dbgPadraoDrawColumnCell(canvas, rect, dataCol, c, state);
    };
}

void TfrmCompraLegalBA::FormCreate()
{
    fis::TfrmPadrImportExport::FormCreate();
    cdsRegistro->createDataSet();
    NetCompraLEGALBA->open();
    // Not reached when the server cannot be reached: that screen is released unseen.
    boEntra = true;
}

void TfrmCompraLegalBA::FormActivate()
{
    repaint();
    if (boEntra) {
        boEntra = false;
        medCdImposto->setFocus();
    }
}

void TfrmCompraLegalBA::FormClose(fis::CloseAction &Action)
{
    fis::TfrmPadrImportExport::FormClose(Action);
    boIdCriado = false;
    NetCompraLEGALBA->close();
}

void TfrmCompraLegalBA::FormKeyDown(int &Key, Qt::KeyboardModifiers Shift)
{
    fis::TfrmPadrImportExport::FormKeyDown(Key, Shift);
    fis::MemTable *table = dtsNotaFiscal->table();
    if (!cdsNotaFiscal->isEmpty() && Key == Qt::Key_F7 && table && table->isOpen()) {
        fis::Procura(table);
        // No control of the screen acts on F7; letting the key go on after the search window
        // closed offered it to the form a second time (the focus was not back yet) and searched
        // twice.
        Key = 0;
    }
}

void TfrmCompraLegalBA::toggleMark()
{
    const QString mark = cdsNotaFiscal->asString(kIdStatus);
    cdsNotaFiscal->edit();
    cdsNotaFiscal->setValue(kIdStatus, mark == kUnmarked ? kMarked : kUnmarked);
}

void TfrmCompraLegalBA::dbgPadraoCellClick(int Column)
{
    if (cdsNotaFiscal->isEmpty())
        return;
    const int field = dbgPadrao->fieldIndexOf(Column);
    if (field >= 0 && cdsNotaFiscal->field(field).name == kIdStatus)
        toggleMark();
}

void TfrmCompraLegalBA::dbgPadraoKeyDown(int &Key, Qt::KeyboardModifiers)
{
    if (Key == Qt::Key_Space && !cdsNotaFiscal->isEmpty())
        toggleMark();
}

void TfrmCompraLegalBA::dbgPadraoTitleClick(int Column)
{
    const int field = dbgPadrao->fieldIndexOf(Column);
    if (cdsNotaFiscal->isEmpty() || field < 0 || cdsNotaFiscal->field(field).name != kIdStatus)
        return;
    // Neither the grid nor the table's other views follow the passes row by row: with the
    // list's size that would cost more than the passes themselves.
    dbgPadrao->beginUpdate();
    cdsNotaFiscal->disableControls();
    const auto resume = qScopeGuard([this] {
        cdsNotaFiscal->enableControls();
        dbgPadrao->endUpdate();
    });

    // Moving the cursor commits a pending mark before the list is read.
    cdsNotaFiscal->first();
    const int rows = cdsNotaFiscal->recordCount();
    bool someMarked = false;
    for (int row = 0; row < rows && !someMarked; ++row)
        someMarked = cdsNotaFiscal->valueAt(row, field).toString() == kMarked;

    const QString from = someMarked ? kMarked : kUnmarked;
    const QString to = someMarked ? kUnmarked : kMarked;
    for (int row = 0; row < rows; ++row) {
        if (cdsNotaFiscal->valueAt(row, field).toString() != from)
            continue;
        cdsNotaFiscal->moveTo(row);
        cdsNotaFiscal->edit();
        cdsNotaFiscal->setValue(field, to);
        cdsNotaFiscal->post();
    }
    cdsNotaFiscal->first();
}

void TfrmCompraLegalBA::dbgPadraoDrawColumnCell(QPainter &Canvas, const QRect &Rect, int DataCol,
                                                int, fis::DataGrid::DrawState)
{
    const int row = dbgPadrao->drawingRow();
    if (cdsNotaFiscal->isEmpty() || row < 0 || DataCol < 0)
        return;
    const QString &name = cdsNotaFiscal->field(DataCol).name;
    const QString value = cdsNotaFiscal->viewValue(row, DataCol).toString();
    const QImage *image = nullptr;
    if (name == kIdStatus) {
        if (value == kMarked)
            image = &imgCheck;
        else if (value == kUnmarked)
            image = &imgUncheck;
    } else if (name == kIdNfCompraLeg) {
        image = value == QLatin1String("S") ? &imgAprovado : &imgNAprovado;
    } else {
        return;
    }
    const QColor brush = Canvas.brush().color();
    Canvas.fillRect(Rect, brush);
    if (image)
        fis::drawTransparent(Canvas, QPoint(Rect.left() + 4, Rect.top()), Rect.height(), *image,
                             brush);
}

QString TfrmCompraLegalBA::cdsNotaFiscalIDENTRSAIDOPGetText(const fis::MemTable &Table, int Row,
                                                            bool) const
{
    const QString type =
        Table.viewValue(Row, Table.indexOfField(QStringLiteral("IDENTRSAIDOP"))).toString();
    if (type == QLatin1String("E"))
        return QStringLiteral("Entrada");
    if (type == QLatin1String("S"))
        return QStringLiteral("Saída");
    return {};
}

void TfrmCompraLegalBA::dtsNotaFiscalDataChange(int)
{
    const bool hasRows = !cdsNotaFiscal->isEmpty();
    sbtImportExport->setEnabled(hasRows);
    Exportar2->setEnabled(hasRows);
}

void TfrmCompraLegalBA::sbtFiltroClick()
{
    cdsNotaFiscal->close();
    CriaFtrCompraLEGAL();
}

void TfrmCompraLegalBA::mnuFiltroClick()
{
    sbtFiltroClick();
}

void TfrmCompraLegalBA::Exportar2Click()
{
    if (sbtImportExport->isEnabled())
        sbtImportExportClick();
    else
        Panel2Exit();
}

void TfrmCompraLegalBA::sbtImportExportClick()
{
    using fis::compralegal::HeaderEntry;
    switch (fis::compralegal::firstMissingEntry(medCdImposto->text(), medCdEmpresa->text(),
                                                edtNmArquivo->text())) {
    case HeaderEntry::Imposto:
        medCdImposto->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Impo_Inf")), true);
        break;
    case HeaderEntry::Empresa:
        medCdEmpresa->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Empr_Inf")), true);
        break;
    case HeaderEntry::NomeArquivo:
        edtNmArquivo->setFocus();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Arq_Inf")), true);
        break;
    case HeaderEntry::None:
        break;
    }
    if (!sbtImportExport->isEnabled()) {
        Panel2Exit();
        return;
    }
    AbreQuerys();
    fis::showInformation(msgPadrao.Msg(QStringLiteral("Sucess")));
}

namespace {

// What the run shows and reloads on the screen.
class ScreenRunHost : public fis::compralegal::ExportRunHost
{
public:
    explicit ScreenRunHost(TfrmCompraLegalBA *screen)
        : m_screen(screen)
    {}

    void showWait() override
    {
        fis::ActiveShowAvi(m_screen, 6, m_screen->msgPadrao.Msg(QStringLiteral("Carg_Serv")));
    }
    void hideWait() override { fis::DeactiveShowAvi(); }

    void progress(const fis::compralegal::ExportProgress &p) override
    {
        QString text = QStringLiteral("Arquivo %1 de %2").arg(p.file).arg(p.files);
        if (!p.fileName.isEmpty())
            text += QStringLiteral(" (%1)").arg(p.fileName);
        text += QStringLiteral(", página %1, %2 linhas gravadas")
                    .arg(QLocale().toString(p.page), QLocale().toString(p.lines));
        fis::setWaitDetail(text);
    }

    // The list again with the criteria the filter dialog was confirmed with.
    void reloadInvoices() override
    {
        if (!frmFiltroCompraLEGALBA)
            throw fis::HostError(QStringLiteral("O filtro das notas não está aberto."));
        const fis::compralegal::FilterCriteria criteria = frmFiltroCompraLEGALBA->criteria();
        if (criteria.status)
            stStatus = *criteria.status;
        boConfirma = true;
        fis::compralegal::NotaFiscalRequest request = fis::compralegal::notaFiscalRequest(
            m_screen->medCdEmpresa->text(), criteria, &stCodSerie, &stCodTipoOper);
        request.statusRef = &stStatus;
        fis::compralegal::loadInvoiceList(m_screen->NetCompraLEGALBA->appServer(), request,
                                          *m_screen->cdsNotaFiscal);
        m_screen->repaint();
    }

private:
    TfrmCompraLegalBA *m_screen;
};

} // namespace

void TfrmCompraLegalBA::AbreQuerys()
{
    ScreenRunHost host(this);
    fis::compralegal::ExportRun run(
        *NetCompraLEGALBA, {cdsNotaFiscal, cdsLista, cdsArquivos, cdsRegistros}, host, &FNmArquivo);
    fis::compralegal::ExportRunInput input;
    input.empresa = medCdEmpresa->text();
    input.imposto = medCdImposto->text();
    input.nomeArquivo = edtNmArquivo->text();
    if (frmFiltroCompraLEGALBA) {
        const fis::compralegal::FilterCriteria criteria = frmFiltroCompraLEGALBA->criteria();
        input.inicio = criteria.inicio;
        input.fim = criteria.fim;
    }
    try {
        run.run(input);
    } catch (...) {
        showRunFailure(std::current_exception(), run.guardFailure());
    }
}

// The failure first, then what the failure guard's list deletion answered, if it failed; the
// action ends there.
void TfrmCompraLegalBA::showRunFailure(std::exception_ptr failure,
                                       const std::optional<QString> &guardFailure)
{
    using Kind = fis::compralegal::ExportRunError::Kind;
    try {
        std::rethrow_exception(failure);
    } catch (const fis::ActionAborted &) {
        // Already shown by whoever ended the action.
    } catch (const fis::compralegal::ExportRunError &e) {
        if (e.kind() == Kind::NoInvoiceMarked)
            dbgPadrao->setFocus();
        fis::showError(e.kind() == Kind::DirectoryInvalid ? msgPadrao.Msg(QStringLiteral("Dir_Inv"))
                       : e.kind() == Kind::NoInvoiceMarked
                           ? msgPadrao.Msg(QStringLiteral("Docu_Inf"))
                           : e.message());
    } catch (...) {
        fis::showError(fis::errorText(std::current_exception()));
    }
    if (guardFailure)
        fis::showError(*guardFailure);
    fis::abortAction();
}

void TfrmCompraLegalBA::edtNmArquivoKeyPress(QChar &Key)
{
    if (fis::compralegal::isRefusedInName(Key)) {
        Key = QChar();
        fis::MensErro(msgPadrao.Msg(QStringLiteral("Chr_Inv")), true);
    }
}

void TfrmCompraLegalBA::medCdImpostoEnter()
{
    cdsNotaFiscal->close();
    sbtFiltro->setEnabled(false);
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
    Exportar2->setEnabled(sbtImportExport->isEnabled());
}

void TfrmCompraLegalBA::medCdEmpresaEnter()
{
    cdsNotaFiscal->close();
    sbtFiltro->setEnabled(false);
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
}

void TfrmCompraLegalBA::medCdImpostoChange()
{
    edtNmImposto->clear();
}

void TfrmCompraLegalBA::medCdEmpresaChange()
{
    edtNmEmpresa->clear();
}

void TfrmCompraLegalBA::medCdImpostoExit()
{
    Vd_Imposto(true);
}

void TfrmCompraLegalBA::medCdEmpresaExit()
{
    Vd_Empresa(true);
}

void TfrmCompraLegalBA::Vd_Imposto(bool ReportEmpty)
{
    validateHeaderCode({medCdImposto, edtNmImposto, qryImposto, QStringLiteral("P_CDIMPOSTO"),
                        QStringLiteral("P_TIMPOSTO"), QStringLiteral("SGIMPOSTONFE"),
                        QStringLiteral("Impo_Inf"), QStringLiteral("Impo_Cad")},
                       ReportEmpty);
}

void TfrmCompraLegalBA::Vd_Empresa(bool ReportEmpty)
{
    validateHeaderCode({medCdEmpresa, edtNmEmpresa, qryEmpresa, QStringLiteral("P_EMPRESA"),
                        QStringLiteral("P_TEMPRESA"), QStringLiteral("NMEMPRESA"),
                        QStringLiteral("Empr_Inf"), QStringLiteral("Empr_Cad")},
                       ReportEmpty);
}

// A header code fitted and looked up in its query; its name shown, or the focus back in the code
// and the action ended with the message of an empty (when it is to be reported) or unknown code.
void TfrmCompraLegalBA::validateHeaderCode(const HeaderCode &field, bool reportEmpty)
{
    using Outcome = fis::compralegal::CodeCheck::Outcome;
    keepFocusOnError(field.code, [this, &field, reportEmpty] {
        // The fitted code goes into the field before the lookup, as typed codes always have.
        const fis::compralegal::CodeCheck check = fis::compralegal::checkCode(
            field.code->text(), 2, [&field](const QString &code) -> std::optional<QString> {
                field.code->setText(code);
                field.query->Close();
                field.query->ParamByName(field.codeParam).setAsString(code);
                field.query->ParamByName(field.allParam).clear();
                field.query->Open();
                if (field.query->IsEmpty())
                    return std::nullopt;
                return field.query->FieldByName(field.nameField).AsString();
            });
        if (check.outcome == Outcome::Known) {
            field.name->setText(check.name);
            return;
        }
        if (check.outcome == Outcome::Empty && !reportEmpty)
            return;
        field.code->setFocus();
        fis::MensErro(
            msgPadrao.Msg(check.outcome == Outcome::Empty ? field.emptyKey : field.unknownKey),
            true);
    });
}

void TfrmCompraLegalBA::btpImpostoBeforePesq()
{
    qryImposto->Close();
    qryImposto->ParamByName(QStringLiteral("P_TIMPOSTO")).setAsString(QStringLiteral("T"));
    qryImposto->ParamByName(QStringLiteral("P_CDIMPOSTO")).clear();
    qryImposto->Open();
}

void TfrmCompraLegalBA::btpEmpresaBeforePesq()
{
    qryEmpresa->Close();
    qryEmpresa->ParamByName(QStringLiteral("P_TEMPRESA")).setAsString(QStringLiteral("T"));
    qryEmpresa->ParamByName(QStringLiteral("P_EMPRESA")).clear();
    qryEmpresa->Open();
}

void TfrmCompraLegalBA::btpImpostoAfterPesq()
{
    medCdImposto->setText(qryImposto->FieldByName(QStringLiteral("CDIMPOSTONFE")).AsString());
    edtNmImposto->setText(qryImposto->FieldByName(QStringLiteral("SGIMPOSTONFE")).AsString());
}

void TfrmCompraLegalBA::btpEmpresaAfterPesq()
{
    medCdEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).AsString());
    edtNmEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).AsString());
}

void TfrmCompraLegalBA::Panel2Exit()
{
    if (cdsNotaFiscal->isEmpty())
        CriaFtrCompraLEGAL();
    sbtFiltro->setEnabled(true);
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
}

void TfrmCompraLegalBA::NetCompraLEGALBABeforeConnect(fis::NetConnection *Sender)
{
    Sender->setPort(fis::WebPort());
    Sender->setHost(fis::WebURL());
    // The server may ask this host to prove who it is; the secret is read only then.
    const fis::HostConfig config = fis::HostConfig::current();
    Sender->setTls({config.serverTls, config.serverCaFile, config.serverFingerprint});
    if (!config.serverClient.isEmpty())
        Sender->setCredentials(config.serverClient, [config] { return config.serverSecret(); });
}

void CriaCompraLEGAL()
{
    const auto hourglass = fis::waitCursor();
    if (!boIdCriado) {
        frmCompraLegalBA = fis::createForm<TfrmCompraLegalBA>();
        fis::HostApplication::current().addMdiChild(frmCompraLegalBA);
        boIdCriado = true;
    }
    fis::showNormalAndActivate(frmCompraLegalBA);
}

QString TfrmCompraLegalBA::companyCode() const
{
    return medCdEmpresa->text();
}

fis::AppServer TfrmCompraLegalBA::appServer()
{
    return NetCompraLEGALBA->appServer();
}

fis::MemTable &TfrmCompraLegalBA::invoiceList()
{
    return *cdsNotaFiscal;
}

QString TfrmCompraLegalBA::message(const QString &key) const
{
    return msgPadrao.Msg(key);
}

void TfrmCompraLegalBA::invoicesLoaded()
{
    repaint();
}

void TfrmCompraLegalBA::filterCancelled()
{
    sbtImportExport->setEnabled(!cdsNotaFiscal->isEmpty());
}
