#pragma once

#include "dataset/memtable.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QString>
#include <QWidget>

// Small pieces the module's two forms build their controls from.
namespace fis::forms {

// A field that only shows what the program puts there (clBtnFace); `skipFocus` also keeps it
// out of the focus chain.
inline QLineEdit *displayField(const QString &name, QWidget *parent, bool skipFocus = false)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setEnabled(false);
    if (skipFocus)
        edit->setFocusPolicy(Qt::NoFocus);
    QPalette palette = edit->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Button));
    edit->setPalette(palette);
    return edit;
}

inline QLabel *boldLabel(const QString &text, QWidget *parent, const QString &name = {})
{
    auto *label = new QLabel(text, parent);
    if (!name.isEmpty())
        label->setObjectName(name);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

inline FieldDef stringField(const char *name, int size, const char *label, bool required = false,
                            bool visible = true)
{
    FieldDef field;
    field.name = QString::fromLatin1(name);
    field.size = size;
    field.label = QString::fromUtf8(label);
    field.required = required;
    field.visible = visible;
    return field;
}

// An error while validating a field must find the focus back in that field first.
template<typename Body> void keepFocusOnError(QWidget *field, Body body)
{
    try {
        body();
    } catch (...) {
        field->setFocus();
        throw;
    }
}

} // namespace fis::forms
