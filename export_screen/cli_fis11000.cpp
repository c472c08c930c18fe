#include "export_screen/cli_fis11000.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "hostfw/hostconfig.h"
#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/menumerge.h"
#include "package/cursorscope.h"
#include "rpc/netconnection.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

extern "C" {
TfrmCompraLegalBA *frmCompraLegalBA = nullptr;
bool boIdCriado = false;
bool boEntra = false;
}

namespace {

constexpr int kHeaderHeight = 76;

// The colour the forms use for a required field (clInfoBk).
void paintRequired(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    widget->setPalette(palette);
}

} // namespace

TfrmCompraLegalBA::TfrmCompraLegalBA(QWidget *parent)
    : fis::TfrmPadrImportExport(parent)
    , Panel2(new QFrame(clientArea()))
    , medCdImposto(nullptr)
    , cdsNotaFiscal(new fis::MemTable(QStringLiteral("cdsNotaFiscal"), this))
    , dtsNotaFiscal(new fis::DataSource(cdsNotaFiscal, this))
    , cdsRegistro(new fis::MemTable(QStringLiteral("cdsRegistro"), this))
    , NetCompraLEGALBA(new fis::NetConnection(this))
    , mnuNota(nullptr)
    , mnuOperacao(nullptr)
    , Exportar2(nullptr)
    , mnuFiltro(nullptr)
    , m_gridFrame(new QFrame(clientArea()))
{
    setObjectName(QStringLiteral("frmCompraLegalBA"));
    setWindowTitle(QStringLiteral("Compra LEGAL - BA"));
    resize(866, 541);

    cdsNotaFiscal->setObjectName(QStringLiteral("cdsNotaFiscal"));
    cdsNotaFiscal->setFields(fis::compralegal::notaFiscalFields());
    dtsNotaFiscal->setObjectName(QStringLiteral("dtsNotaFiscal"));
    cdsRegistro->setObjectName(QStringLiteral("cdsRegistro"));
    fis::FieldDef idRegistro;
    idRegistro.name = QStringLiteral("IDREGISTRO");
    idRegistro.size = 2;
    cdsRegistro->setFields({idRegistro});

    NetCompraLEGALBA->setObjectName(QStringLiteral("NetCompraLEGALBA"));
    NetCompraLEGALBA->setServerName(fis::compralegal::serverObjectName());
    connect(NetCompraLEGALBA, &fis::NetConnection::beforeConnect, this,
            &TfrmCompraLegalBA::NetCompraLEGALBABeforeConnect);

    // The list is empty until a filter loads it, so there is nothing to export yet.
    sbtImportExport->setEnabled(false);

    buildHeader();
    m_gridFrame->setObjectName(QStringLiteral("gridFrame"));
    m_gridFrame->setFrameShape(QFrame::StyledPanel);
    m_gridFrame->setFrameShadow(QFrame::Sunken);
    m_gridFrame->setLineWidth(2);
    auto *gridLayout = new QVBoxLayout(m_gridFrame);
    gridLayout->setContentsMargins(2, 2, 2, 2);

    auto *layout = new QVBoxLayout(clientArea());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel2);
    layout->addWidget(m_gridFrame, 1);

    buildMenu();
}

TfrmCompraLegalBA::~TfrmCompraLegalBA()
{
    // A screen released without passing FormClose (its owner went first) must not leave a
    // dangling reference behind for the next CriaCompraLEGAL or the filter dialog.
    if (frmCompraLegalBA == this) {
        frmCompraLegalBA = nullptr;
        boIdCriado = false;
    }
}

void TfrmCompraLegalBA::buildHeader()
{
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(kHeaderHeight);

    auto *label = new QLabel(QStringLiteral("&Imposto"), Panel2);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setGeometry(8, 7, 100, 16);

    medCdImposto = new fis::MaskEdit(QStringLiteral("99;0; "), Panel2);
    medCdImposto->setObjectName(QStringLiteral("medCdImposto"));
    medCdImposto->setMaxLength(2);
    medCdImposto->setGeometry(116, 4, 27, 21);
    paintRequired(medCdImposto);
    label->setBuddy(medCdImposto);
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

    setFormMenu(mnuNota);
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

void TfrmCompraLegalBA::NetCompraLEGALBABeforeConnect(fis::NetConnection *Sender)
{
    Sender->setPort(fis::WebPort());
    Sender->setHost(fis::WebURL());
}

void CriaCompraLEGAL()
{
    const fis::WaitCursorScope hourglass;
    if (!boIdCriado) {
        frmCompraLegalBA = fis::createForm<TfrmCompraLegalBA>();
        fis::HostApplication::current().addMdiChild(frmCompraLegalBA);
        boIdCriado = true;
    }
    fis::showNormalAndActivate(frmCompraLegalBA);
}
