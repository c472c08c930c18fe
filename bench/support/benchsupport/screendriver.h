#pragma once

// Drives the export screen as a user does, for the benchmarks that link the package (real
// widgets, offscreen): the header filled, the filter dialog confirmed, the grid's title clicked.

#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/maskedit.h"
#include "rpcclient/netconnection.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace fis::bench {

struct ModalPoll
{
    std::function<void(QWidget *)> drive;
    bool *driven = nullptr;
    int tries = 0;
};

// One look for the modal window, then another a little later until it is there. The pending
// timer alone holds the state, which goes with the last look.
inline void pollModal(const std::shared_ptr<ModalPoll> &state)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
        if (state->driven)
            *state->driven = true;
        state->drive(modal);
        return;
    }
    if (++state->tries > 200) {
        if (modal)
            modal->close();
        return;
    }
    QTimer::singleShot(10, [state] { pollModal(state); });
}

// Runs `drive` on the modal window about to open (polled: exec() starts after the call that
// opens it). After two seconds it closes whatever is modal, so that a run cannot hang; returns
// through `driven` whether `drive` ran.
inline void whenModal(std::function<void(QWidget *)> drive, bool *driven = nullptr)
{
    auto state = std::make_shared<ModalPoll>(ModalPoll{std::move(drive), driven});
    QTimer::singleShot(0, [state] { pollModal(state); });
}

// Opens the screen's connection, fills the header (tax 01, company 01, the output name) and
// shows the screen active, as a user has it in front of them; false when it never became
// active.
inline bool openScreen(TfrmCompraLegalBA &screen, const QString &outputName)
{
    frmCompraLegalBA = &screen;
    screen.NetCompraLEGALBA->open();
    screen.medCdImposto->setText(QStringLiteral("01"));
    screen.medCdEmpresa->setText(QStringLiteral("01"));
    screen.edtNmArquivo->setText(outputName);
    screen.resize(866, 541);
    screen.show();
    screen.activateWindow();
    return QTest::qWaitForWindowActive(&screen);
}

// Opens the filter dialog, lets `prepare` set its entries with clicks and keys, then clicks
// Confirm; `confirming` runs just before that click. Returns whether the dialog was driven.
inline bool confirmFilter(const std::function<void(TfrmFiltroCompraLEGALBA &)> &prepare,
                          const std::function<void()> &confirming = {})
{
    bool driven = false;
    whenModal(
        [prepare, confirming](QWidget *modal) {
            auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            if (prepare)
                prepare(*dialog);
            if (confirming)
                confirming();
            QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
        },
        &driven);
    CriaFtrCompraLEGAL();
    return driven;
}

// A click on the mark's title: marks every row when none is marked, else clears them all.
inline void clickMarkTitle(TfrmCompraLegalBA &screen)
{
    const QRect title = screen.dbgPadrao->titleRect(0);
    QTest::mouseClick(screen.dbgPadrao->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      title.center());
}

// How many rows of the invoice list carry the mark, as the grid shows them (a mark by Space
// stays in the edit buffer until the cursor moves).
inline int markedRows(const MemTable &list)
{
    const int field = list.indexOfField(QStringLiteral("IDSTATUS"));
    int marked = 0;
    for (int row = 0; row < list.recordCount(); ++row)
        marked += list.viewValue(row, field).toString() == QLatin1String("C");
    return marked;
}

} // namespace fis::bench
