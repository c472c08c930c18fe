#pragma once

// Drives the export screen as a user does, for tests that link the package.

#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/maskedit.h"
#include "rpcclient/netconnection.h"
#include "spinetestsupport.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

namespace fis::spinetest {

// Opens the screen's connection and fills the header: tax 01, company 01, the output name.
inline void fillHeader(TfrmCompraLegalBA &screen, const QString &outputName)
{
    screen.NetCompraLEGALBA->open();
    screen.medCdImposto->setText(QStringLiteral("01"));
    screen.medCdEmpresa->setText(QStringLiteral("01"));
    screen.edtNmArquivo->setText(outputName);
}

// Confirms the filter dialog's defaults (the pending invoices of the current month), marks every
// invoice loaded by a click on the grid's title and clicks Export. Returns how many were loaded.
inline int exportAllPending(TfrmCompraLegalBA &screen)
{
    whenModal([](QWidget *modal) {
        if (auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal))
            QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
        else
            modal->close();
    });
    CriaFtrCompraLEGAL();
    const int loaded = screen.cdsNotaFiscal->recordCount();
    if (loaded == 0)
        return 0;
    const QRect title = screen.dbgPadrao->titleRect(0);
    QTest::mouseClick(screen.dbgPadrao->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      title.center());
    QTest::mouseClick(screen.sbtImportExport, Qt::LeftButton);
    return loaded;
}

} // namespace fis::spinetest
