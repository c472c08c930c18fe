#include "hostfw/widgets/hostapplication.h"

#include "hostfw/widgets/padrimportexport.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace fis {

namespace {

class StandaloneHost : public HostApplication
{
public:
    QMainWindow *mainWindow() override { return nullptr; }
    QMdiArea *mdiArea() override { return nullptr; }
    QWidget *dialogOwner() override { return nullptr; }
    QMdiSubWindow *addMdiChild(TfrmPadrImportExport *form) override
    {
        form->show();
        return nullptr;
    }
};

HostApplication *g_registered = nullptr;

} // namespace

HostApplication::~HostApplication()
{
    if (g_registered == this)
        g_registered = nullptr;
}

HostApplication &HostApplication::current()
{
    static StandaloneHost standalone;
    return g_registered ? *g_registered : standalone;
}

bool HostApplication::isRegistered()
{
    return g_registered != nullptr;
}

void HostApplication::registerHost(HostApplication *host)
{
    g_registered = host;
}

void showNormalAndActivate(TfrmPadrImportExport *form)
{
    if (QMdiSubWindow *sub = form->subWindow()) {
        sub->showNormal();
        if (QMdiArea *area = sub->mdiArea())
            area->setActiveSubWindow(sub);
        sub->raise();
        return;
    }
    form->showNormal();
    form->raise();
    form->activateWindow();
}

} // namespace fis
