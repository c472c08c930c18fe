#include "filelayoutbuilder.h"

#include "layout/fieldformat.h"
#include "layout/layouterror.h"

#include <QHashFunctions>

#include <algorithm>
#include <cstring>

namespace fis {

namespace {

const char *stageName(int stage)
{
    static const char *const names[] = {
        "antes de begin()",   "depois de begin()", "entre as notas",     "entre os itens",
        "depois de finish()", "depois de um erro", "numa série de itens"};
    return names[stage];
}

} // namespace

size_t FileLayoutBuilder::ProductCodeHash::operator()(const ProductCode &code) const noexcept
{
    return qHashBits(code.data(), code.size());
}

FileLayoutBuilder::FileLayoutBuilder(LineSink sink)
    : m_sink(std::move(sink))
{
    Q_ASSERT(m_sink);
}

FileLayoutBuilder::~FileLayoutBuilder() = default;

template<typename Step> void FileLayoutBuilder::guarded(Step step)
{
    try {
        step();
    } catch (...) {
        m_stage = Stage::Failed;
        throw;
    }
}

void FileLayoutBuilder::expectStage(Stage first, Stage last, const char *what)
{
    if (m_stage >= first && m_stage <= last)
        return;
    const Stage found = m_stage;
    m_stage = Stage::Failed;
    throw LayoutError(QStringLiteral("%1 não pode vir %2: um arquivo tem os registros 10 e 11, "
                                     "depois 50, 54, 75 e 90, nessa ordem")
                          .arg(QLatin1String(what), QLatin1String(stageName(int(found)))));
}

void FileLayoutBuilder::emitLine()
{
    m_sink(QByteArrayView(m_line.data(), kRecordLength));
    ++m_lines;
}

void FileLayoutBuilder::begin(const Informant &informant, const Period &period)
{
    expectStage(Stage::New, Stage::New, "O registro 10");
    guarded([&] {
        writeRecord10(m_line, informant, period);
        emitLine();
        writeRecord11(m_line, informant);
        emitLine();
        m_period = period;
        m_cnpj = informant.cnpj;
        m_stateRegistration = informant.stateRegistration;
        m_stage = Stage::Header;
    });
}

void FileLayoutBuilder::addInvoice(const Invoice &invoice)
{
    expectStage(Stage::Header, Stage::Invoices, "O registro 50");
    guarded([&] {
        writeRecord50(m_line, invoice);
        OrderKey key;
        key.day = invoice.key.issueDate.toJulianDay();
        key.number = invoice.key.number;
        std::memcpy(key.issuerModelSeries.data(), m_line.data() + 2, 14);      // CNPJ or CPF
        std::memcpy(key.issuerModelSeries.data() + 14, m_line.data() + 40, 5); // model, series
        if (m_counts.record50 > 0 && !(m_lastInvoice < key))
            throw LayoutError(
                QStringLiteral("Registro 50: a nota %1 de %2 veio fora de ordem ou duas vezes (as "
                               "notas seguem a data de emissão e depois o número)")
                    .arg(invoice.key.number)
                    .arg(invoice.key.issueDate.toString(Qt::ISODate)));
        m_lastInvoice = key;
        emitLine();
        ++m_counts.record50;
        m_stage = Stage::Invoices;
    });
}

void FileLayoutBuilder::outOfOrder(int itemNumber, qint64 invoiceNumber)
{
    throw LayoutError(QStringLiteral("Registro 54: o item %1 da nota %2 veio fora de ordem ou duas "
                                     "vezes (os itens seguem a nota e depois o número do item)")
                          .arg(itemNumber)
                          .arg(invoiceNumber));
}

void FileLayoutBuilder::addItem(const Item &item)
{
    if (m_stage != Stage::ItemsRun)
        expectStage(Stage::Header, Stage::Items, "O registro 54");
    guarded([&] {
        writeRecord54(m_line, item);
        OrderKey key;
        key.day = item.invoice.issueDate.toJulianDay();
        key.number = item.invoice.number;
        std::memcpy(key.issuerModelSeries.data(), m_line.data() + 2, 19); // CNPJ, model, series
        key.itemNumber = item.itemNumber;
        if (m_counts.record54 > 0 && !(m_lastItem < key))
            outOfOrder(item.itemNumber, item.invoice.number);
        if (m_counts.record54 == 0) {
            m_firstItem = key;
            m_firstItemNumber = item.itemNumber;
            m_firstItemInvoice = item.invoice.number;
        }
        m_lastItem = key;

        ProductCode code;
        std::memcpy(code.data(), m_line.data() + 37, code.size());
        // Items of one invoice often repeat a product; skip the hash for the common case.
        if (m_usedCodes.empty() || code != m_lastUsedCode) {
            m_usedCodes.insert(code);
            m_lastUsedCode = code;
        }
        emitLine();
        ++m_counts.record54;
        if (m_stage != Stage::ItemsRun)
            m_stage = Stage::Items;
    });
}

void FileLayoutBuilder::beginItemsRun()
{
    expectStage(Stage::New, Stage::New, "Uma série de itens");
    m_stage = Stage::ItemsRun;
}

void FileLayoutBuilder::addItemsRun(const FileLayoutBuilder &run)
{
    expectStage(Stage::Header, Stage::Items, "Uma série de itens");
    guarded([&] {
        if (run.m_stage != Stage::ItemsRun)
            throw LayoutError(QStringLiteral("A série de itens não terminou (está %1).")
                                  .arg(QLatin1String(stageName(int(run.m_stage)))));
        if (run.m_counts.record54 == 0)
            return;
        if (m_counts.record54 > 0 && !(m_lastItem < run.m_firstItem))
            outOfOrder(run.m_firstItemNumber, run.m_firstItemInvoice);
        m_lastItem = run.m_lastItem;
        m_counts.record54 += run.m_counts.record54;
        m_lines += run.m_lines;
        m_usedCodes.insert(run.m_usedCodes.begin(), run.m_usedCodes.end());
        m_stage = Stage::Items;
    });
}

void FileLayoutBuilder::addProduct(const Product &product)
{
    expectStage(Stage::New, Stage::Items, "Um produto");
    m_products.push_back(product);
}

qint64 FileLayoutBuilder::finish()
{
    expectStage(Stage::Header, Stage::Items, "O fim do arquivo");
    guarded([&] {
        struct Entry
        {
            ProductCode code;
            const Product *product;
        };
        std::vector<Entry> entries;
        entries.reserve(m_products.size());
        for (const Product &product : m_products) {
            Entry entry{{}, &product};
            writeText(entry.code.data(), {"75", "código do produto", 14}, product.code);
            if (m_usedCodes.count(entry.code) > 0)
                entries.push_back(entry);
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry &a, const Entry &b) { return a.code < b.code; });
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [](const Entry &a, const Entry &b) { return a.code == b.code; }),
                      entries.end());
        if (entries.size() != m_usedCodes.size()) {
            std::vector<ProductCode> missing;
            for (const ProductCode &code : m_usedCodes) {
                const auto found = std::lower_bound(
                    entries.begin(), entries.end(), code,
                    [](const Entry &e, const ProductCode &c) { return e.code < c; });
                if (found == entries.end() || found->code != code)
                    missing.push_back(code);
            }
            std::sort(missing.begin(), missing.end());
            throw LayoutError(
                QStringLiteral("Registro 54: o código de produto \"%1\" não tem produto para o seu "
                               "registro 75")
                    .arg(QLatin1String(missing.front().data(), missing.front().size()).trimmed()));
        }
        for (const Entry &entry : entries) {
            writeRecord75(m_line, *entry.product, m_period);
            emitLine();
            ++m_counts.record75;
        }
        for (const QByteArray &line : records90(m_cnpj, m_stateRegistration, m_counts)) {
            m_sink(line);
            ++m_lines;
        }
        Q_ASSERT(m_lines == fileLineCount(m_counts));
        m_stage = Stage::Finished;
    });
    return m_lines;
}

} // namespace fis
