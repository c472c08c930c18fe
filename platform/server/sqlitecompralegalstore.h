#pragma once

#include "server/compralegalstore.h"

namespace fis {

class SqlConnection;

// The store on the server's SQLite database (db/schema/sqlite.sql), over one connection used
// from one thread.
class SqliteCompraLegalStore final : public CompraLegalStore
{
public:
    explicit SqliteCompraLegalStore(SqlConnection &db);

    std::unique_ptr<StoreTransaction> begin(TransactionKind kind) override;
    std::optional<qint64> nextInSequence(const QString &sequence) override;
    void findInvoices(const InvoiceCriteria &criteria,
                      const std::function<void(const InvoiceRow &)> &row) override;
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

private:
    // The company's flags other than exported: none, exactly one (its value), or several, which
    // includes whatever cannot be told by an equality.
    struct PendingFlag
    {
        enum class Kind { None, One, Several } kind = Kind::Several;
        QString value;
    };
    PendingFlag pendingFlag(const QString &company);
    struct Query;
    Query invoiceQuery(const InvoiceCriteria &criteria);
    void addStatusClause(const InvoiceCriteria &criteria, Query &query);

    SqlConnection &m_db;
};

} // namespace fis
