#pragma once

#include <QList>
#include <QString>

namespace fis {

// A screen the host can open: its code, the caption of its menu item, and the package and
// procedure that open it.
struct ScreenEntry
{
    QString code;
    QString caption;
    QString package;
    QString entryPoint;
};

// The screens of the "Módulos" menu, in menu order.
const QList<ScreenEntry> &hostScreens();
// The screen of a code (compared without case); nullptr for an unknown code.
const ScreenEntry *findScreen(const QString &code);

} // namespace fis
