#include "hostfw/widgets/procura.h"

#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/useraction.h"

#include "dataset/memtable.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace fis {

SearchDialog::SearchDialog(MemTable *table, QWidget *parent)
    : QDialog(parent)
    , m_table(table)
    , m_field(new QComboBox(this))
    , m_text(new QLineEdit(this))
    , m_contains(new QCheckBox(QStringLiteral("Contém"), this))
{
    setObjectName(QStringLiteral("fisSearchDialog"));
    setWindowTitle(QStringLiteral("Procurar"));
    setModal(true);
    m_field->setObjectName(QStringLiteral("searchField"));
    m_text->setObjectName(QStringLiteral("searchText"));
    m_contains->setObjectName(QStringLiteral("searchContains"));
    for (int field : visibleFields(*table))
        m_field->addItem(table->field(field).displayLabel(), field);

    auto *first = new QPushButton(QStringLiteral("&Localizar"), this);
    auto *next = new QPushButton(QStringLiteral("&Próximo"), this);
    auto *close = new QPushButton(QStringLiteral("&Fechar"), this);
    first->setObjectName(QStringLiteral("searchFirst"));
    next->setObjectName(QStringLiteral("searchNext"));
    close->setObjectName(QStringLiteral("searchClose"));
    for (QPushButton *button : {first, next, close})
        button->setAutoDefault(false);
    connect(first, &QPushButton::clicked, this,
            [this]() { runAction(this, [this]() { findFirst(); }); });
    connect(next, &QPushButton::clicked, this,
            [this]() { runAction(this, [this]() { findNext(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    m_text->installEventFilter(this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Campo:"), m_field);
    form->addRow(QStringLiteral("Texto:"), m_text);
    form->addRow(QString(), m_contains);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(first);
    buttons->addWidget(next);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    m_text->setFocus();
}

bool SearchDialog::findFirst()
{
    return findFrom(0);
}

bool SearchDialog::findNext()
{
    if (m_lastSearch != m_text->text())
        return findFrom(0);
    return findFrom(m_table->currentRow() + 1);
}

bool SearchDialog::findFrom(int start)
{
    m_lastSearch = m_text->text();
    const int field = m_field->currentData().toInt();
    if (m_text->text().isEmpty() || m_field->currentIndex() < 0)
        return false;
    for (int row = qMax(start, 0); row < m_table->recordCount(); ++row) {
        const QString shown = m_table->displayText(row, field);
        const bool found = m_contains->isChecked()
                               ? shown.contains(m_text->text(), Qt::CaseInsensitive)
                               : shown.startsWith(m_text->text(), Qt::CaseInsensitive);
        if (found) {
            m_table->moveTo(row);
            return true;
        }
    }
    showInformation(QStringLiteral("Registro não encontrado."));
    return false;
}

bool SearchDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            runAction(this, [this]() { findNext(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Procura(MemTable *table)
{
    if (!table || table->isEmpty())
        return;
    QWidget *context = currentActionContext();
    SearchDialog window(table, context ? context->window() : QApplication::activeWindow());
    window.exec();
}

} // namespace fis
