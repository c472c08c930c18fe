#pragma once

#include "layout/record90.h"
#include "layout/records.h"

#include <QByteArrayView>

#include <functional>
#include <unordered_set>
#include <vector>

namespace fis {

// Builds one Compra LEGAL file line by line and hands each line to a sink as soon as it is made,
// so that a server can stream a million lines into its database without holding them.
//
// Feed it in the file's order: begin() (records 10 and 11), then every invoice (records 50),
// then every item (records 54), then finish(). Products may be added at any point before
// finish(), in any order and with repeats: they are few, so the builder keeps them, sorts them by
// the product code as written in the record, drops repeated codes (the first one given wins) and
// the products no item uses, and writes the records 75 at finish(), followed by the records 90
// with the counts it kept.
//
// Invoices and items are streamed, so the builder checks their order instead of sorting them:
// invoices by issue date, then full invoice number, then issuer CNPJ/CPF, model and series (the
// last three only break ties between issuers); items by their invoice in that same order, then by
// item number. A server query ordering by those columns satisfies it.
//
// Every method throws LayoutError when a value does not fit its record, when data comes out of
// order or at the wrong stage, or (finish) when an item's product code has no product. The lines
// already handed to the sink are then an incomplete file that the caller must discard; the
// builder cannot be used further.
class FileLayoutBuilder
{
public:
    // Receives each line, kRecordLength ASCII characters without CR LF. The view is valid only
    // during the call.
    using LineSink = std::function<void(QByteArrayView line)>;

    explicit FileLayoutBuilder(LineSink sink);
    ~FileLayoutBuilder();
    Q_DISABLE_COPY_MOVE(FileLayoutBuilder)

    void begin(const Informant &informant, const Period &period);
    void addInvoice(const Invoice &invoice);
    void addItem(const Item &item);
    void addProduct(const Product &product);
    // A builder for a run of the file's items laid out apart (on another thread), whose lines
    // follow the items given to the file's own builder before it takes the run in with
    // addItemsRun(): it takes items only.
    void beginItemsRun();
    // Takes in a run's items after its own, checking their order across the two as addItem()
    // does, for the records 75 and 90. The run's lines are the run's sink's to place.
    void addItemsRun(const FileLayoutBuilder &run);
    // Writes the records 75 and 90 and returns the number of lines of the file.
    qint64 finish();

    RecordCounts counts() const { return m_counts; }
    qint64 linesWritten() const { return m_lines; }

private:
    using ProductCode = std::array<char, 14>;
    struct ProductCodeHash
    {
        size_t operator()(const ProductCode &code) const noexcept;
    };
    // Issue date, full number, then the issuer, model and series as written, then item number.
    struct OrderKey
    {
        qint64 day = 0;
        qint64 number = 0;
        std::array<char, 19> issuerModelSeries{};
        int itemNumber = 0;
        auto operator<=>(const OrderKey &) const = default;
    };
    enum class Stage { New, Header, Invoices, Items, Finished, Failed, ItemsRun };

    void expectStage(Stage first, Stage last, const char *what);
    void emitLine();
    [[noreturn]] static void outOfOrder(int itemNumber, qint64 invoiceNumber);
    template<typename Step> void guarded(Step step);

    LineSink m_sink;
    Stage m_stage = Stage::New;
    RecordLine m_line{};
    RecordCounts m_counts;
    qint64 m_lines = 0;
    Period m_period;
    QString m_cnpj;
    QString m_stateRegistration;
    OrderKey m_lastInvoice;
    OrderKey m_lastItem;
    OrderKey m_firstItem;      // of an items run, for the check across runs
    int m_firstItemNumber = 0; // and the item and invoice numbers its message names
    qint64 m_firstItemInvoice = 0;
    ProductCode m_lastUsedCode{};
    std::unordered_set<ProductCode, ProductCodeHash> m_usedCodes;
    std::vector<Product> m_products;
};

} // namespace fis
