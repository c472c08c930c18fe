#include "host/screenregistry.h"

namespace fis {

const QList<ScreenEntry> &hostScreens()
{
    static const QList<ScreenEntry> screens = {
        {QStringLiteral("FIS11000"), QStringLiteral("Compra LEGAL - BA"),
         QStringLiteral("Pkg_Fis11000"), QStringLiteral("IniProc")},
    };
    return screens;
}

const ScreenEntry *findScreen(const QString &code)
{
    for (const ScreenEntry &screen : hostScreens()) {
        if (screen.code.compare(code, Qt::CaseInsensitive) == 0)
            return &screen;
    }
    return nullptr;
}

} // namespace fis
