#pragma once

#include <QPointer>

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace fis {

class TfrmPadrImportExport;

// The host application as the screen packages see it (the role of the host's Application object
// as the owner of their windows). The host registers itself at start-up; a package asks
// current() for the main window, the place of its screens and the owner of its dialogs.
//
// When no host is registered (a package exercised on its own), current() answers with a fallback
// that has no main window: screens become windows of their own and dialogs have no owner.
class HostApplication
{
public:
    virtual ~HostApplication();

    // The main window and its MDI area; nullptr in the fallback.
    virtual QMainWindow *mainWindow() = 0;
    virtual QMdiArea *mdiArea() = 0;
    // The owner (parent) of dialogs and other windows the host application keeps: they close
    // and go away with it. nullptr in the fallback.
    virtual QWidget *dialogOwner() = 0;
    // Makes the screen a child of the main window: wraps it in a sub-window of the MDI area
    // (once; later calls reuse it) whose client area keeps the screen's size, and shows it.
    // The fallback shows the screen as a window of its own and returns nullptr.
    virtual QMdiSubWindow *addMdiChild(TfrmPadrImportExport *form) = 0;

    // The registered host, else the fallback.
    static HostApplication &current();
    static bool isRegistered();
    // Registers a host (not owned; it must unregister, with nullptr, before it goes away).
    static void registerHost(HostApplication *host);
};

// Restores a minimised or maximised screen to its normal size, shows it and brings it to the
// front as the active window (the active MDI child inside the host).
void showNormalAndActivate(TfrmPadrImportExport *form);

} // namespace fis
