#include "hostfw/widgets/padrimportexport.h"

#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/menushortcuts.h"
#include "hostfw/widgets/useraction.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace fis {

namespace {

void collectLeafActions(const QList<QAction *> &actions, QList<QAction *> &leaves)
{
    for (QAction *action : actions) {
        if (QMenu *menu = action->menu())
            collectLeafActions(menu->actions(), leaves);
        else if (!action->isSeparator())
            leaves.append(action);
    }
}

} // namespace

TfrmPadrImportExport::TfrmPadrImportExport(QWidget *parent)
    : QWidget(parent)
    , panMenu(new QWidget(this))
    , sbtImportExport(nullptr)
    , m_client(new QWidget(this))
    , m_menuLayout(new QVBoxLayout(panMenu))
{
    FocusManager::setFormScope(this);
    MenuShortcuts::ensureInstalled();
    panMenu->setObjectName(QStringLiteral("panMenu"));
    m_client->setObjectName(QStringLiteral("clientArea"));
    m_menuLayout->setContentsMargins(2, 2, 2, 2);
    m_menuLayout->setSpacing(2);
    m_menuLayout->addStretch();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_client, 1);
    layout->addWidget(panMenu);

    sbtImportExport = addMenuButton(QStringLiteral("sbtImportExport"), QStringLiteral("Exportar"),
                                    style()->standardIcon(QStyle::SP_DialogSaveButton));
    connectAction(sbtImportExport, &QAbstractButton::clicked, this,
                  [this]() { sbtImportExportClick(); });

    new KeyPreview(this,
                   [this](int &key, Qt::KeyboardModifiers shift) { FormKeyDown(key, shift); });
}

TfrmPadrImportExport::~TfrmPadrImportExport() = default;

TButtonFlat *TfrmPadrImportExport::addMenuButton(const QString &name, const QString &hint,
                                                 const QIcon &icon)
{
    auto *button = new TButtonFlat(name, hint, panMenu);
    if (!icon.isNull())
        button->setIcon(icon);
    m_menuLayout->insertWidget(m_menuLayout->count() - 1, button);
    return button;
}

void TfrmPadrImportExport::setFormMenu(QMenuBar *menu)
{
    m_menu = menu;
    if (menu) {
        menu->setParent(this);
        menu->hide();
        QList<QAction *> leaves;
        collectLeafActions(menu->actions(), leaves);
        for (QAction *action : leaves) {
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            addAction(action);
        }
    }
    emit formMenuChanged();
}

QMdiSubWindow *TfrmPadrImportExport::subWindow() const
{
    return qobject_cast<QMdiSubWindow *>(parentWidget());
}

void TfrmPadrImportExport::FormCreate()
{}

void TfrmPadrImportExport::FormClose(CloseAction &action)
{
    action = CloseAction::Free;
}

void TfrmPadrImportExport::FormKeyDown(int &, Qt::KeyboardModifiers)
{}

void TfrmPadrImportExport::FormActivate()
{}

void TfrmPadrImportExport::sbtImportExportClick()
{}

void TfrmPadrImportExport::followSubWindow()
{
    QMdiSubWindow *sub = subWindow();
    if (sub == m_followed)
        return;
    if (m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    m_followed = sub;
    if (sub) {
        connect(sub, &QMdiSubWindow::windowStateChanged, this,
                [this](Qt::WindowStates before, Qt::WindowStates now) {
                    if (!(before & Qt::WindowActive) && (now & Qt::WindowActive))
                        activated();
                });
    }
}

void TfrmPadrImportExport::activated()
{
    // Queued: Qt gives the focus back to the sub-window's last control after this signal.
    QTimer::singleShot(0, this, [this]() { runAction(this, [this]() { FormActivate(); }); });
}

bool TfrmPadrImportExport::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        followSubWindow();
        break;
    case QEvent::WindowActivate:
        if (isWindow())
            activated();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void TfrmPadrImportExport::closeEvent(QCloseEvent *event)
{
    if (m_released) {
        event->accept(); // the sub-window closing after us: FormClose ran already
        return;
    }
    CloseAction action = CloseAction::Hide;
    if (!runAction(this, [&]() { FormClose(action); }))
        action = CloseAction::None;
    QMdiSubWindow *sub = subWindow();
    switch (action) {
    case CloseAction::None:
        event->ignore();
        return;
    case CloseAction::Minimize:
        event->ignore();
        if (sub)
            sub->showMinimized();
        else
            showMinimized();
        return;
    case CloseAction::Hide:
        break;
    case CloseAction::Free:
        m_released = true;
        setAttribute(Qt::WA_DeleteOnClose);
        if (sub) {
            // The sub-window goes too, whether the close began there or here.
            sub->setAttribute(Qt::WA_DeleteOnClose);
            QTimer::singleShot(0, sub, [sub]() { sub->close(); });
        }
        break;
    }
    event->accept();
}

} // namespace fis
