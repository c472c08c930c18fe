#include "hostfw/queryresult.h"

#include "hostfw/hosterror.h"

#include <QSqlField>

#include <algorithm>

namespace fis {

namespace {

// Declared fields are matched to the result's columns by name; marks the columns they take.
ResultLayout declaredFieldLayout(const QList<FieldDef> &declared, const QSqlRecord &record,
                                 std::vector<bool> &used, const QString &queryName)
{
    ResultLayout layout{declared, {}};
    for (const FieldDef &field : declared) {
        const int column = record.indexOf(field.name);
        if (column < 0)
            throw DatabaseError(
                queryName,
                QStringLiteral("o campo %1 não está no resultado do comando").arg(field.name));
        layout.columnOf.push_back(column);
        used[size_t(column)] = true;
    }
    return layout;
}

void sizeUnsizedTextFields(ResultLayout &layout, const std::vector<QVariantList> &rows)
{
    for (qsizetype f = 0; f < layout.fields.size(); ++f) {
        FieldDef &field = layout.fields[f];
        if (!field.isText() || field.size > 0)
            continue;
        field.size = 1;
        for (const QVariantList &row : rows)
            field.size = std::max<int>(field.size,
                                       int(row.at(layout.columnOf[size_t(f)]).toString().size()));
    }
}

bool hasFieldNamed(const QList<FieldDef> &fields, const QString &name)
{
    bool found = false;
    for (const FieldDef &f : fields)
        found = found || f.name.compare(name, Qt::CaseInsensitive) == 0;
    return found;
}

// A column no field was declared for: its type from the column's values, or from the column's
// declared type when it holds no value.
FieldDef undeclaredColumnField(const QSqlRecord &record, int c,
                               const std::vector<QVariantList> &rows)
{
    FieldDef field;
    field.name = record.fieldName(c);
    const int typeId = record.field(c).metaType().id();
    bool numbers = false;
    bool others = false;
    int width = 1;
    for (const QVariantList &row : rows) {
        const QVariant &v = row.at(c);
        if (v.isNull())
            continue;
        (isNumber(v) ? numbers : others) = true;
        width = std::max<int>(width, int(v.toString().size()));
    }
    if (isDateType(typeId)) {
        field.type = FieldType::DateTime;
    } else if ((numbers && !others) || (!others && isNumberType(typeId))) {
        field.type = FieldType::Float;
    } else {
        field.type = FieldType::String;
        field.size = width;
    }
    return field;
}

} // namespace

bool isNumberType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

ResultLayout resultLayout(const QList<FieldDef> &declared, const QSqlRecord &record,
                          const std::vector<QVariantList> &rows, const QString &queryName)
{
    const int columnCount = record.count();
    std::vector<bool> used(size_t(columnCount), false);
    ResultLayout layout = declaredFieldLayout(declared, record, used, queryName);
    sizeUnsizedTextFields(layout, rows);
    for (int c = 0; c < columnCount; ++c) {
        if (used[size_t(c)] || hasFieldNamed(layout.fields, record.fieldName(c)))
            continue;
        FieldDef field = undeclaredColumnField(record, c, rows);
        field.visible = declared.isEmpty();
        layout.fields.append(field);
        layout.columnOf.push_back(c);
    }
    return layout;
}

} // namespace fis
