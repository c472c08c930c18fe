// Renders the export screen with a loaded, partly marked invoice list and the filter dialog into
// PNG files:  fis-pictures OUTPUT_DIR  (run by scripts/pictures on the offscreen platform).
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/maskedit.h"
#include "hostfw/widgets/useraction.h"
#include "rpcclient/netconnection.h"
#include "spinetestsupport.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

using namespace fis;
using namespace fis::spinetest;

namespace {

bool save(QWidget *widget, const QString &path)
{
    widget->repaint();
    const bool ok = widget->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    return ok;
}

void press(QWidget *widget, int key)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier,
                   key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(widget, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier,
                 key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(widget, &up);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fis-pictures OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    DemoHost host(2000);
    if (!host.isValid())
        return 1;
    ServerProcess server(host.databasePath(), host.outputDir());
    if (!server.isRunning())
        return 1;
    host.setServerPort(server.port());
    RecordingPresenter presenter; // nothing modal may stop the run

    TfrmCompraLegalBA screen;
    frmCompraLegalBA = &screen;
    screen.resize(900, 560);
    screen.show();
    screen.NetCompraLEGALBA->open();
    screen.medCdImposto->setText(QStringLiteral("01"));
    screen.medCdEmpresa->setText(QStringLiteral("01"));
    runAction(&screen, [&screen] {
        screen.Vd_Imposto(true);
        screen.Vd_Empresa(true);
    });
    screen.edtNmArquivo->setText(QStringLiteral("COMPRA.TXT"));

    // The dialog is pictured with its criteria set, then confirmed.
    bool dialogSaved = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialogSaved = save(dialog, out.filePath(QStringLiteral("filter-dialog.png")));
        runAction(dialog, [dialog] { dialog->sbtConfirmaClick(); });
        if (dialog->isVisible())
            dialog->close();
    });
    CriaFtrCompraLEGAL();

    // Every third of the first rows marked, by Space in the grid.
    screen.dbgPadrao->setFocus();
    for (int row = 0; row < 12 && row < screen.cdsNotaFiscal->recordCount(); row += 3) {
        screen.cdsNotaFiscal->moveTo(row);
        press(screen.dbgPadrao, Qt::Key_Space);
    }
    screen.cdsNotaFiscal->moveTo(1);
    const bool screenSaved = save(&screen, out.filePath(QStringLiteral("export-screen.png")));
    delete frmFiltroCompraLEGALBA;
    frmCompraLegalBA = nullptr;
    if (!presenter.errors().isEmpty())
        std::fprintf(stderr, "messages: %s\n", qPrintable(presenter.errors().join(u'\n')));
    return dialogSaved && screenSaved && presenter.errors().isEmpty() ? 0 : 1;
}
