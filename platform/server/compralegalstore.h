#pragma once

// The plain types of the export lists (OwnedList, Outcome) and of a file to build (ExportFile,
// ExportDataError); their functions belong to the SQLite store.
#include "server/exportlists.h"
#include "server/filegenerator.h"
#include "server/storedline.h"

#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace fis {

// Which invoices GetNotaFiscal lists by their exported flag.
enum class InvoiceStatus { Pending, Exported, Both };

// The criteria of GetNotaFiscal, checked. A null text, an unset list or minimum and an invalid
// date restrict nothing.
struct InvoiceCriteria
{
    QString company;
    QString number; // zeros in front do not count
    QString client; // the client's registration number
    QString branch;
    QString stateRegistration;
    QString municipalRegistration;
    std::optional<QStringList> series;     // keys: IDENTRSAIDOP followed by the series
    std::optional<QStringList> operations; // keys: IDENTRSAIDOP followed by the operation type
    QDate start;
    QDate end; // the whole day
    InvoiceStatus status = InvoiceStatus::Both;
    std::optional<double> minimum; // of the invoice's value

    // The same invoices asked for: a null text is no criterion, unlike an empty one. A field
    // added above must be compared here too, or a kept answer would be given to other criteria.
    bool sameAs(const InvoiceCriteria &o) const
    {
        const auto sameText = [](const QString &a, const QString &b) {
            return a.isNull() == b.isNull() && a == b;
        };
        const auto sameKeys = [&](const std::optional<QStringList> &a,
                                  const std::optional<QStringList> &b) {
            if (a.has_value() != b.has_value())
                return false;
            return !a || std::equal(a->cbegin(), a->cend(), b->cbegin(), b->cend(), sameText);
        };
        return sameText(company, o.company) && sameText(number, o.number) &&
               sameText(client, o.client) && sameText(branch, o.branch) &&
               sameText(stateRegistration, o.stateRegistration) &&
               sameText(municipalRegistration, o.municipalRegistration) &&
               sameKeys(series, o.series) && sameKeys(operations, o.operations) &&
               start == o.start && end == o.end && status == o.status && minimum == o.minimum;
    }
};

// The invoices findInvoices() reads as of one moment, as far as a store can tell them apart: two
// stamps are equal only if nothing those invoices come from has changed between them.
struct InvoicesStamp
{
    qint64 committedElsewhere = 0; // as other connections' commits change it
    quint64 ownChanges = 0;        // rows the store's own connection has written
    bool operator==(const InvoicesStamp &) const = default;
};

// An invoice as GetNotaFiscal lists it: its texts as the database's UTF-8 bytes, valid only
// while the row is handed over (a list of some 100,000 invoices is not worth a QString a cell).
struct InvoiceRow
{
    QByteArrayView direction; // IDENTRSAIDOP
    bool exported = false;
    QByteArrayView branch;
    QByteArrayView clientType; // "J" or "F"; null where the invoice's client is missing
    QByteArrayView clientNumber;
    QByteArrayView clientName;
    QByteArrayView posting;
    QDate issuedDate; // zone-free; invalid where the stored text is no date
    QTime issuedTime; // midnight where the stored text has no (valid) time
    QByteArrayView number;
    double value = 0;
    // Null views where the column is null.
    QByteArrayView operation;
    QByteArrayView stateRegistration;
    QByteArrayView municipalRegistration;
    QByteArrayView series;
    QByteArrayView client;
    // Where the store has one: what ownFlagUpdatesSince() names the invoice by.
    std::optional<qint64> rowId;
};

// An invoice's exported flag as the store's own connection set it.
struct FlagUpdate
{
    qint64 rowId = 0; // as InvoiceRow::rowId
    bool exported = false;
};

// A file of an export list (ARQCOMPRALEG), with its list's owner and state.
struct ListFile
{
    QString fileNumber; // NRSEQARQMAG
    QString listNumber;
    QString company;
    QString stateRegistration;
    QString namePart;      // NOMEARQUIVO
    qint64 lineCount = -1; // -1: not built
    QString served;        // exportlists::kFileNotServed, kFileServed or kFileDelivered
    QString owner;         // the list's session
    QString listState;     // exportlists::kOpen, kDelivered or kFinal
};

// A file added to a list, not built yet.
struct NewListFile
{
    QString fileNumber;
    QString listNumber;
    QString company;
    QString stateRegistration;
    QString state; // the registration's SGESTADO
    QString namePart;
};

// What a key of the marked list names.
struct FoundInvoices
{
    int count = 0; // one for a good key; more when several branches' invoices answer to it
    // Of the last one found.
    QString company;
    QString registration;
};

// Another list that is not final holds an invoice: an invoice is on at most one such list.
class InvoiceTakenError : public std::runtime_error
{
public:
    InvoiceTakenError(QString number, QString branch, QString posting)
        : std::runtime_error("invoice on another unfinished list")
        , m_number(std::move(number))
        , m_branch(std::move(branch))
        , m_posting(std::move(posting))
    {}
    QString number() const { return m_number; } // NRNOTAFISC
    QString branch() const { return m_branch; }
    QString posting() const { return m_posting; }

private:
    QString m_number;
    QString m_branch;
    QString m_posting;
};

// Puts the marked invoices of one getNotasMarcadas call on their list (LISTACOMPRALEGNF), one
// key at a time.
class ListFiller
{
public:
    virtual ~ListFiller() = default;
    // Looks up the invoices `key` names: a branch code followed by an invoice's posting number,
    // in UTF-8. The bytes must stay valid until finish().
    virtual FoundInvoices find(QByteArrayView key) = 0;
    // The keys find() is about to be asked for, in that order, for a store that looks them up
    // better all at once than one by one. The bytes must stay valid until finish().
    virtual void lookUpAll(const std::vector<QByteArrayView> &keys) { Q_UNUSED(keys) }
    // Puts the one invoice the last find() found on the list. The store may hold it back until
    // a later call or finish(); either throws InvoiceTakenError for an invoice it writes.
    virtual void addFound() = 0;
    virtual void finish() = 0;
};

enum class TransactionKind { Read, Write };

// Rolled back when it goes away uncommitted.
class StoreTransaction
{
public:
    virtual ~StoreTransaction() = default;
    virtual void commit() = 0;
};

// The database work of the server's methods, so that CompraLegalService holds only what the
// methods check and answer. Every operation works inside the caller's transaction, if there is
// one; throws (DatabaseError for SQLite) for the database's own failures.
class CompraLegalStore
{
public:
    virtual ~CompraLegalStore() = default;

    // A write transaction takes the write lock at once, so that two writers never deadlock.
    virtual std::unique_ptr<StoreTransaction> begin(TransactionKind kind) = 0;

    // The next number of the sequence (SEQCOMPRALEG); unset when there is no such sequence.
    virtual std::optional<qint64> nextInSequence(const QString &sequence) = 0;

    // The invoices that meet the criteria, in the list's order. `expected`, when set, is called
    // before the rows where the store has them all at hand: their number and about how many
    // bytes their texts take, so that an answer takes its room once.
    // Where the store can tell, the stamp of the invoices findInvoices() would read now, inside
    // the caller's transaction: an answer may be given again while the stamp stays the same.
    virtual std::optional<InvoicesStamp> invoicesStamp() { return std::nullopt; }
    // Where the store can tell: the exported flags its own connection has set since `stamp`
    // (oldest first), when nothing else of what findInvoices() reads has changed since then;
    // nullopt otherwise. Kept only from followOwnFlagUpdates(true) on, until it is called with
    // false: the call that wants them says so when it takes a stamp.
    virtual void followOwnFlagUpdates(bool) {}
    virtual std::optional<std::vector<FlagUpdate>> ownFlagUpdatesSince(const InvoicesStamp &)
    {
        return std::nullopt;
    }
    virtual void
    findInvoices(const InvoiceCriteria &criteria,
                 const std::function<void(const InvoiceRow &)> &row,
                 const std::function<void(qsizetype rows, qsizetype bytes)> &expected) = 0;
    virtual bool taxExists(const QString &tax) = 0;
    // The state (SGESTADO) of the company's registration; null when it is not there.
    virtual QString stateOfRegistration(const QString &company, const QString &registration) = 0;

    // The lists, as exportlists.h tells their life.
    virtual std::optional<exportlists::OwnedList> ownedList(const QString &list,
                                                            const QString &session) = 0;
    virtual void touchList(const QString &list, const QString &server) = 0;
    virtual exportlists::Outcome closeSession(const QString &session) = 0;
    // A new open list of the session, created now.
    virtual void addList(const QString &list, const QString &session, const QString &server) = 0;
    virtual void revertList(const QString &list) = 0;

    virtual bool listHasFiles(const QString &list) = 0;
    virtual std::unique_ptr<ListFiller> fillList(const QString &list) = 0;
    virtual void addFile(const NewListFile &file) = 0;
    virtual std::optional<ListFile> fileOfRegistration(const QString &list,
                                                       const QString &registration) = 0;
    virtual std::optional<ListFile> file(const QString &fileNumber) = 0;
    // The list's files served in full other than `fileNumber` count as delivered.
    virtual void markOtherFilesDelivered(const QString &list, const QString &fileNumber) = 0;
    // As generateExportFile(); returns the number of lines.
    virtual qint64 buildFile(const ExportFile &file) = 0;
    // The file's lines `from` to `to`, in order; a stored block that is not whole, or lines
    // missing between them, are a DatabaseError.
    virtual void readLines(const QString &fileNumber, qint64 from, qint64 to,
                           const StoredLineSink &line) = 0;
    // The file has been served in full; with the list's last file the list is delivered.
    virtual void markFileServed(const QString &fileNumber, const QString &list) = 0;
};

} // namespace fis
