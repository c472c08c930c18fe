#include "host/hostmainwindow.h"

#include "host/packageloader.h"
#include "host/screenregistry.h"
#include "hostfw/widgets/menushortcuts.h"
#include "hostfw/widgets/padrimportexport.h"
#include "hostfw/widgets/useraction.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

namespace fis {

namespace {

constexpr int kGroupArquivo = 0;
constexpr int kGroupModulos = 1;
constexpr int kGroupJanela = 9;

} // namespace

HostMainWindow::HostMainWindow(PackageLoader &packages, QWidget *parent)
    : QMainWindow(parent)
    , m_packages(packages)
    , m_mdiArea(new QMdiArea(this))
{
    setObjectName(QStringLiteral("frmPrincipal"));
    MenuShortcuts::ensureInstalled();
    setWindowTitle(QStringLiteral("Sistema Fiscal"));
    m_mdiArea->setObjectName(QStringLiteral("mdiArea"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);
    buildMenus();
    resize(1024, 720);

    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &HostMainWindow::followActiveChild);
    HostApplication::registerHost(this);
}

HostMainWindow::~HostMainWindow()
{
    // The area reports activations while it is taken down; the menu bar may be gone by then.
    disconnect(m_mdiArea, nullptr, this, nullptr);
    HostApplication::registerHost(nullptr);
    dropChildMenu();
}

void HostMainWindow::buildMenus()
{
    QMenu *arquivo = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    arquivo->setObjectName(QStringLiteral("mnuArquivo"));
    setMenuGroupIndex(arquivo, kGroupArquivo);
    QAction *sair = arquivo->addAction(QStringLiteral("&Sair"));
    sair->setObjectName(QStringLiteral("mnuSair"));
    sair->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(sair, &QAction::triggered, this, &QWidget::close);

    QMenu *modulos = menuBar()->addMenu(QStringLiteral("&Módulos"));
    modulos->setObjectName(QStringLiteral("mnuModulos"));
    setMenuGroupIndex(modulos, kGroupModulos);
    for (const ScreenEntry &screen : hostScreens()) {
        QAction *action = modulos->addAction(screen.caption);
        action->setObjectName(QStringLiteral("mnu") + screen.code);
        action->setData(screen.code);
        const QString code = screen.code;
        connect(action, &QAction::triggered, this, [this, code]() { openScreenAction(code); });
        m_screenActions.append(action);
    }

    QMenu *janela = menuBar()->addMenu(QStringLiteral("&Janela"));
    janela->setObjectName(QStringLiteral("mnuJanela"));
    setMenuGroupIndex(janela, kGroupJanela);
    connect(janela->addAction(QStringLiteral("&Cascata")), &QAction::triggered, m_mdiArea,
            &QMdiArea::cascadeSubWindows);
    connect(janela->addAction(QStringLiteral("Lado a &lado")), &QAction::triggered, m_mdiArea,
            &QMdiArea::tileSubWindows);
    connect(janela->addAction(QStringLiteral("&Fechar")), &QAction::triggered, m_mdiArea,
            &QMdiArea::closeActiveSubWindow);
}

QMdiSubWindow *HostMainWindow::addMdiChild(TfrmPadrImportExport *form)
{
    if (QMdiSubWindow *existing = form->subWindow()) {
        existing->show();
        return existing;
    }
    const QSize client = form->size();
    QMdiSubWindow *sub = m_mdiArea->addSubWindow(form);
    sub->setObjectName(form->objectName() + QStringLiteral("Window"));
    sub->show();
    // The screen's size is its client area: the sub-window adds its frame and title bar to it.
    if (sub->layout())
        sub->layout()->activate();
    sub->resize(client + (sub->size() - form->size()));
    return sub;
}

void HostMainWindow::openScreen(const QString &code)
{
    const ScreenEntry *screen = findScreen(code);
    if (!screen)
        throw HostError(QStringLiteral("Tela %1 desconhecida.").arg(code));
    PackageLoader::Procedure entry = m_packages.procedure(screen->package, screen->entryPoint);
    entry();
}

bool HostMainWindow::openScreenAction(const QString &code)
{
    return runAction(this, [this, &code]() { openScreen(code); });
}

QAction *HostMainWindow::screenAction(const QString &code) const
{
    for (QAction *action : m_screenActions) {
        if (action->data().toString().compare(code, Qt::CaseInsensitive) == 0)
            return action;
    }
    return nullptr;
}

QStringList HostMainWindow::menuTitles() const
{
    QStringList titles;
    const QList<QAction *> actions = menuBar()->actions();
    for (const QAction *action : actions) {
        if (action->isVisible())
            titles.append(action->text());
    }
    return titles;
}

void HostMainWindow::followActiveChild()
{
    // While a dialog is up the area reports no active child, yet the current one stays: its menu
    // stays too.
    QMdiSubWindow *sub = m_mdiArea->currentSubWindow();
    auto *form = sub ? qobject_cast<TfrmPadrImportExport *>(sub->widget()) : nullptr;
    if (form && form == m_menuForm)
        return;
    dropChildMenu();
    if (!form)
        return;
    m_menuForm = form;
    connect(form, &TfrmPadrImportExport::formMenuChanged, this, [this, form]() {
        if (form == m_menuForm) {
            dropChildMenu();
            followActiveChild();
        }
    });
    connect(form, &QObject::destroyed, this, &HostMainWindow::dropChildMenu);
    if (form->formMenu())
        m_merged = mergeFormMenu(menuBar(), form->formMenu());
}

void HostMainWindow::dropChildMenu()
{
    if (m_menuForm)
        disconnect(m_menuForm, nullptr, this, nullptr);
    m_menuForm = nullptr;
    unmergeFormMenu(menuBar(), m_merged);
    m_merged = {};
}

void HostMainWindow::closeEvent(QCloseEvent *event)
{
    // Each screen decides through its FormClose (its server connection closes there).
    m_mdiArea->closeAllSubWindows();
    const QList<QMdiSubWindow *> children = m_mdiArea->subWindowList();
    for (const QMdiSubWindow *child : children) {
        if (child->isVisible()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

} // namespace fis
