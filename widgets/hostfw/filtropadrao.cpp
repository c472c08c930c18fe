#include "hostfw/widgets/filtropadrao.h"

#include "hostfw/widgets/focusmanager.h"
#include "hostfw/widgets/menushortcuts.h"
#include "hostfw/widgets/useraction.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QStyle>
#include <QVBoxLayout>

namespace fis {

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget *parent)
    : QDialog(parent)
    , grbFiltroPadrao(new QGroupBox(this))
    , panMenu(new QWidget(this))
{
    FocusManager::setFormScope(this);
    MenuShortcuts::ensureInstalled();
    setModal(true);
    grbFiltroPadrao->setObjectName(QStringLiteral("grbFiltroPadrao"));
    panMenu->setObjectName(QStringLiteral("panMenu"));

    sbtConfirma =
        new TButtonFlat(QStringLiteral("sbtConfirma"), QStringLiteral("Confirmar"), panMenu);
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    sbtCancel = new TButtonFlat(QStringLiteral("sbtCancel"), QStringLiteral("Cancelar"), panMenu);
    sbtCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    btfSaveOpc =
        new TButtonFlat(QStringLiteral("btfSaveOpc"), QStringLiteral("Salvar opções"), panMenu);
    btfSaveOpc->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    btfLoadOpc =
        new TButtonFlat(QStringLiteral("btfLoadOpc"), QStringLiteral("Carregar opções"), panMenu);
    btfLoadOpc->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));

    auto *column = new QVBoxLayout(panMenu);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(sbtConfirma);
    column->addWidget(sbtCancel);
    auto *line = new QFrame(panMenu);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    column->addWidget(btfSaveOpc);
    column->addWidget(btfLoadOpc);
    column->addStretch();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(grbFiltroPadrao, 1);
    layout->addWidget(panMenu);

    connectAction(sbtConfirma, &QAbstractButton::clicked, this, [this]() { sbtConfirmaClick(); });
    connectAction(sbtCancel, &QAbstractButton::clicked, this, [this]() { sbtCancelClick(); });
    connectAction(btfSaveOpc, &QAbstractButton::clicked, this, [this]() { btfSaveOpcClick(); });
    connectAction(btfLoadOpc, &QAbstractButton::clicked, this, [this]() { btfLoadOpcClick(); });

    new KeyPreview(this,
                   [this](int &key, Qt::KeyboardModifiers shift) { FormKeyDown(key, shift); });
}

TfrmFiltroPadrao::~TfrmFiltroPadrao() = default;

void TfrmFiltroPadrao::FormCreate()
{}

void TfrmFiltroPadrao::FormClose(CloseAction &action)
{
    action = CloseAction::Free;
}

void TfrmFiltroPadrao::FormKeyDown(int &, Qt::KeyboardModifiers)
{}

void TfrmFiltroPadrao::sbtConfirmaClick()
{}

void TfrmFiltroPadrao::sbtCancelClick()
{
    close();
}

void TfrmFiltroPadrao::btfSaveOpcClick()
{}

void TfrmFiltroPadrao::btfLoadOpcClick()
{}

void TfrmFiltroPadrao::done(int result)
{
    if (m_closing)
        return; // FormClose is deciding already (it called close() itself)
    CloseAction action = CloseAction::Hide;
    m_closing = true;
    const bool decided = runAction(this, [&]() { FormClose(action); });
    m_closing = false;
    if (!decided || action == CloseAction::None)
        return;
    QDialog::done(result);
    if (action == CloseAction::Free)
        deleteLater();
}

} // namespace fis
