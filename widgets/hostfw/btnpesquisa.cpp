#include "hostfw/widgets/btnpesquisa.h"

#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/useraction.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "hostfw/adoibquery.h"

#include <QKeyEvent>

namespace fis {

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : TButtonFlat(parent)
{
    setToolTip(QStringLiteral("Pesquisar"));
    setText(QStringLiteral("..."));
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QAbstractButton::clicked, this,
            [this]() { runAction(this, [this]() { pesquisa(); }); });
}

void TBtnPesquisa::setAssociate(QWidget *control)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = control;
    if (control)
        control->installEventFilter(this);
}

void TBtnPesquisa::setDataSource(DataSource *source)
{
    m_source = source;
    m_table = nullptr;
    m_query = nullptr;
}

void TBtnPesquisa::setDataSource(MemTable *table)
{
    m_source = nullptr;
    m_table = table;
    m_query = nullptr;
}

void TBtnPesquisa::setDataSource(TADOIBQuery *query)
{
    m_source = nullptr;
    m_table = nullptr;
    m_query = query;
}

MemTable *TBtnPesquisa::table() const
{
    if (m_source)
        return m_source->table();
    if (m_query)
        return m_query->table();
    return m_table;
}

void TBtnPesquisa::pesquisa()
{
    if (OnClick) {
        OnClick();
        return;
    }
    if (OnBeforePesq)
        OnBeforePesq();
    MemTable *rows = table();
    if (!rows || rows->isEmpty()) {
        MensErro(m_emptyError.isEmpty() ? QStringLiteral("Não há registros para pesquisar.")
                                        : m_emptyError,
                 true);
        return;
    }
    QPointer<MemTable> guard = rows;
    LookupDialog window(rows, m_title, this->window());
    emit lookupShown(&window);
    if (window.exec() != QDialog::Accepted || window.pickedRow() < 0 || !guard)
        return;
    rows->moveTo(window.pickedRow());
    if (OnAfterPesq)
        OnAfterPesq();
}

bool TBtnPesquisa::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_associate && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F2 && isEnabled() && isVisible()) {
        click();
        return true;
    }
    return TButtonFlat::eventFilter(watched, event);
}

} // namespace fis
