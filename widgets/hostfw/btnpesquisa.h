#pragma once

// `TBtnPesquisa` and its members `Associate`, `Title`, `DataSource`, `EmptyError`,
// `OnBeforePesq`, `OnAfterPesq` and `OnClick` keep the names under which the screen modules use
// the host's lookup button; everything else follows the Qt naming of the project.

#include "hostfw/widgets/buttonflat.h"

#include <QPointer>

#include <functional>

namespace fis {

class DataSource;
class MemTable;
class TADOIBQuery;

// A lookup button bound to a field. It takes no focus, so clicking it runs no exit handler.
//
// A click runs one user action:
//   - with OnClick set, only OnClick (it replaces everything below);
//   - else OnBeforePesq (which usually opens the query); then, when the table has no rows, the
//     EmptyError text as an error (the action ends); otherwise the list window (LookupDialog)
//     titled Title. A pick puts the table's cursor on the picked row and runs OnAfterPesq; Esc
//     leaves the table as it was and runs nothing.
// An error in a handler is shown by the host's error display and ends the action.
// F2 in the Associate control clicks the button, for the keyboard.
class TBtnPesquisa : public TButtonFlat
{
    Q_OBJECT
public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    QWidget *Associate() const { return m_associate; }
    void setAssociate(QWidget *control);

    QString Title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }

    QString EmptyError() const { return m_emptyError; }
    void setEmptyError(const QString &text) { m_emptyError = text; }

    // The rows shown: a data source's table, a table, or a query's rows. Looked up at every click,
    // after OnBeforePesq.
    void setDataSource(DataSource *source);
    void setDataSource(MemTable *table);
    void setDataSource(TADOIBQuery *query);
    MemTable *table() const;

    std::function<void()> OnBeforePesq;
    std::function<void()> OnAfterPesq;
    std::function<void()> OnClick;

    // What a click runs, for callers that are already inside an action.
    void pesquisa();

signals:
    // The list window is about to be shown (for tests and tools).
    void lookupShown(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_associate;
    QString m_title;
    QString m_emptyError;
    QPointer<DataSource> m_source;
    QPointer<MemTable> m_table;
    QPointer<TADOIBQuery> m_query;
};

} // namespace fis
