#pragma once

#include "hostfw/widgets/hostapplication.h"
#include "hostfw/widgets/menumerge.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QMdiArea;
class QMdiSubWindow;

namespace fis {

class PackageLoader;
class TfrmPadrImportExport;

// The host's main window: an MDI area under the main menu "&Arquivo" (group 0), "&Módulos"
// (group 1, one item per screen) and "&Janela" (group 9). The menu of the active child screen
// joins the main menu, placed by its group index, and leaves it when another child becomes active
// or the child closes.
//
// It registers itself as the HostApplication for as long as it exists. Screens open through
// their package's entry point, loaded on first use.
class HostMainWindow : public QMainWindow, public HostApplication
{
    Q_OBJECT
public:
    explicit HostMainWindow(PackageLoader &packages, QWidget *parent = nullptr);
    ~HostMainWindow() override;

    QMainWindow *mainWindow() override { return this; }
    QMdiArea *mdiArea() override { return m_mdiArea; }
    QWidget *dialogOwner() override { return this; }
    QMdiSubWindow *addMdiChild(TfrmPadrImportExport *form) override;

    // Opens a screen by its code ("FIS11000"): loads its package and calls its entry point.
    // Throws HostError for an unknown code, PackageError when the package or the entry point is
    // missing, and whatever the entry point raises.
    void openScreen(const QString &code);
    // openScreen() as a user action: errors go to the standard error display.
    bool openScreenAction(const QString &code);

    // The "Módulos" item of a screen, nullptr for an unknown code.
    QAction *screenAction(const QString &code) const;
    // The captions of the visible menus of the main menu, in order.
    QStringList menuTitles() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void followActiveChild();
    void dropChildMenu();

    PackageLoader &m_packages;
    QMdiArea *m_mdiArea;
    QList<QAction *> m_screenActions;
    QPointer<TfrmPadrImportExport> m_menuForm; // whose menu is merged
    MergedMenus m_merged;
};

} // namespace fis
