#pragma once

#include "dataset/memtable.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace fis::test {

// Runs `drive` on the modal window that the code under test is about to open (polled, since
// exec() starts after the call that schedules this). Gives up after two seconds, closing
// whatever is modal so that a failing test cannot hang.
inline void whenModal(std::function<void(QWidget *)> drive)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [drive, tries, poll]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            drive(modal);
            return;
        }
        if (++*tries > 200)
            return;
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

// A table of codes and names: CODIGO (label "Código"), NOME (label "Nome"), CHAVE (hidden).
inline std::unique_ptr<MemTable> codeTable(const QList<QStringList> &rows)
{
    auto table = std::make_unique<MemTable>(QStringLiteral("cdsTeste"));
    FieldDef code;
    code.name = QStringLiteral("CODIGO");
    code.size = 10;
    code.label = QStringLiteral("Código");
    FieldDef name;
    name.name = QStringLiteral("NOME");
    name.size = 30;
    name.label = QStringLiteral("Nome");
    FieldDef key;
    key.name = QStringLiteral("CHAVE");
    key.size = 12;
    key.visible = false;
    table->setFields({code, name, key});
    table->createDataSet();
    for (const QStringList &row : rows) {
        table->append();
        table->setValue(QStringLiteral("CODIGO"), row.value(0));
        table->setValue(QStringLiteral("NOME"), row.value(1));
        table->setValue(QStringLiteral("CHAVE"), row.value(2));
        table->post();
    }
    table->first();
    return table;
}

} // namespace fis::test
