#pragma once

#include "dataset/memtable.h"

#include <QList>
#include <QString>

// Field declarations and small tables shared by the dataset tests.
namespace fis::test {

inline FieldDef textField(const QString &name, int size, const QString &label = {})
{
    FieldDef f;
    f.name = name;
    f.type = FieldType::String;
    f.size = size;
    f.label = label;
    return f;
}

inline FieldDef floatField(const QString &name, const QString &format = {})
{
    FieldDef f;
    f.name = name;
    f.type = FieldType::Float;
    f.displayFormat = format;
    return f;
}

inline FieldDef dateField(const QString &name)
{
    FieldDef f;
    f.name = name;
    f.type = FieldType::DateTime;
    return f;
}

// CODE text(5), NAME text(20), VALUE float, DAY datetime.
inline QList<FieldDef> sampleFields()
{
    return {textField(QStringLiteral("CODE"), 5, QStringLiteral("Código")),
            textField(QStringLiteral("NAME"), 20),
            floatField(QStringLiteral("VALUE"), QStringLiteral("#,##0.00")),
            dateField(QStringLiteral("DAY"))};
}

// Appends and posts one row of the sample fields.
inline void addSample(MemTable &t, const QString &code, const QString &name = {},
                      const QVariant &value = {}, const QVariant &day = {})
{
    t.append();
    t.setValue(QStringLiteral("CODE"), code);
    if (!name.isNull())
        t.setValue(QStringLiteral("NAME"), name);
    t.setValue(QStringLiteral("VALUE"), value);
    t.setValue(QStringLiteral("DAY"), day);
    t.post();
}

// The CODE column in row order.
inline QStringList codes(const MemTable &t)
{
    QStringList result;
    const int column = t.indexOfField(QStringLiteral("CODE"));
    for (int row = 0; row < t.recordCount(); ++row)
        result << t.valueAt(row, column).toString();
    return result;
}

} // namespace fis::test
