#pragma once

// How the rows a query's statement returned become the fields of its in-memory table.

#include "dataset/memtable.h"

#include <QList>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <vector>

namespace fis {

// The driver value types a query takes as numbers and as dates.
bool isNumberType(int typeId);
inline bool isNumber(const QVariant &value)
{
    return isNumberType(value.typeId());
}
inline bool isDateType(int typeId)
{
    return typeId == QMetaType::QDate || typeId == QMetaType::QDateTime;
}

// The table's fields and, for each, the result column it is loaded from.
struct ResultLayout
{
    QList<FieldDef> fields;
    std::vector<int> columnOf;
};

// The declared fields first, matched to the record's columns by name (a text field declared
// without a size takes the widest value of its column), then every other column whose name no
// field has yet, typed by its values: hidden when fields were declared. Throws DatabaseError,
// naming queryName, when a declared field is not among the columns.
ResultLayout resultLayout(const QList<FieldDef> &declared, const QSqlRecord &record,
                          const std::vector<QVariantList> &rows, const QString &queryName);

} // namespace fis
