#pragma once

#include "server/compralegalstore.h"

#include <QByteArray>
#include <QList>

#include <memory>

namespace fis {

class SqlConnection;
struct InvoiceScratch;

// The store on the server's database through the engine-neutral connection (sqldb): the
// statements every engine runs as written live here; what an engine does its own way is a hook
// that each engine's store (makeCompraLegalStore) overrides. One connection, one thread.
class SqlCompraLegalStore : public CompraLegalStore
{
public:
    explicit SqlCompraLegalStore(SqlConnection &db);
    ~SqlCompraLegalStore() override;
    // Takes its numbers the engine's way.
    std::optional<qint64> nextInSequence(const QString &sequence) override = 0;

    std::unique_ptr<StoreTransaction> begin(TransactionKind kind) override;
    void
    findInvoices(const InvoiceCriteria &criteria,
                 const std::function<void(const InvoiceRow &)> &row,
                 const std::function<void(qsizetype rows, qsizetype bytes)> &expected) override;
    bool taxExists(const QString &tax) override;
    QString stateOfRegistration(const QString &company, const QString &registration) override;
    std::optional<exportlists::OwnedList> ownedList(const QString &list,
                                                    const QString &session) override;
    void touchList(const QString &list, const QString &server) override;
    exportlists::Outcome closeSession(const QString &session) override;
    void addList(const QString &list, const QString &session, const QString &server) override;
    void revertList(const QString &list) override;
    bool listHasFiles(const QString &list) override;
    std::unique_ptr<ListFiller> fillList(const QString &list) override;
    void addFile(const NewListFile &file) override;
    std::optional<ListFile> fileOfRegistration(const QString &list,
                                               const QString &registration) override;
    std::optional<ListFile> file(const QString &fileNumber) override;
    void markOtherFilesDelivered(const QString &list, const QString &fileNumber) override;
    qint64 buildFile(const ExportFile &file) override;
    void readLines(const QString &fileNumber, qint64 from, qint64 to,
                   const StoredLineSink &line) override;
    void markFileServed(const QString &fileNumber, const QString &list) override;

    // The statement of findInvoices() and the values it binds, in their order.
    struct Query
    {
        QByteArray sql;
        QList<QString> binds;
        std::optional<double> minimum; // bound last

        void where(QByteArrayView clause, const QString &value)
        {
            sql += clause;
            binds.append(value);
        }
    };

protected:
    SqlConnection &db() const { return m_db; }

    // The clause that keeps the invoices not exported (IDNFCOMPRALEG other than 'S').
    virtual void addPendingClause(const InvoiceCriteria &criteria, Query &query);
    // The clause that keeps the invoices whose `key` (an expression) is one of `keys`.
    virtual void addKeyListClause(const char *key, const QStringList &keys, Query &query) = 0;
    // The invoice number without leading zeros, of a column or of a bound text `?`.
    virtual QByteArray withoutZeros(const char *expression) const;
    virtual const char *lengthFunction() const { return "length"; }
    // Whether the invoices are put in order here, as SQLite orders texts (BINARY), instead of
    // by the statement.
    virtual bool ordersInvoicesItself() const { return false; }
    // The expression of an invoice's row id (InvoiceRow::rowId), where the engine has one.
    virtual const char *rowIdColumn() const { return nullptr; }

private:
    Query invoiceQuery(const InvoiceCriteria &criteria, bool ordered);
    void addStatusClause(const InvoiceCriteria &criteria, Query &query);

    SqlConnection &m_db;
    std::unique_ptr<InvoiceScratch> m_scratch; // findInvoices()' buffers, kept between calls
};

} // namespace fis
