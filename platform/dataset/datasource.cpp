#include "dataset/datasource.h"

#include "dataset/memtable.h"

namespace fis {

DataSource::DataSource(QObject *parent)
    : QObject(parent)
{}

DataSource::DataSource(MemTable *table, QObject *parent)
    : QObject(parent)
{
    setTable(table);
}

DataSource::~DataSource() = default;

MemTable *DataSource::table() const
{
    return m_table;
}

void DataSource::setTable(MemTable *table)
{
    if (m_table == table)
        return;
    if (m_table)
        disconnect(m_table, nullptr, this, nullptr);
    m_table = table;
    if (!table)
        return;
    // A reset of a closed table is its closing (or a change of its declarations): the screen
    // relies on closing not counting as a change of the list.
    connect(table, &MemTable::tableReset, this, [this] {
        if (m_table && m_table->isOpen())
            report(-1);
    });
    connect(table, &MemTable::currentRowChanged, this, [this] { report(-1); });
    connect(table, &MemTable::dataChanged, this, &DataSource::report);
    connect(table, &MemTable::stateChanged, this, [this] {
        if (m_enabled)
            emit stateChange();
    });
    if (table->isOpen())
        report(-1);
}

bool DataSource::isEnabled() const
{
    return m_enabled;
}

void DataSource::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (enabled && m_table && m_table->isOpen())
        report(-1);
}

void DataSource::report(int fieldIndex)
{
    if (m_enabled && m_table && !m_table->controlsDisabled())
        emit dataChange(fieldIndex);
}

} // namespace fis
