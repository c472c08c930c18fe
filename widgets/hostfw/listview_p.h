#pragma once

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTableView>

namespace fis {

// The row list shared by the lookup and pick windows: whole rows, one at a time, read-only, no
// row indicator; Tab leaves the list for the window's buttons.
inline void setUpRowList(QTableView *view, QAbstractItemModel *model)
{
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
}

} // namespace fis
