// Builds a file of about a million lines (250,000 invoices of three items each plus the records
// 75) and prints how many lines per second the layout library formats. The input structs are
// refilled in the loop, as a server fills them from its query rows. Checks that every line has
// the record's length, that the records 50 and 54 are one per invoice and item, and that every
// run gives the same lines (their checksum).
//
//     bench_layout [--invoices N] [--runs N]   (default 250000 invoices, 3 runs)

#include "layout/filelayoutbuilder.h"
#include "layout/records.h"

#include "benchsupport/figure.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace fis;
using namespace fis::bench;

namespace {

int invoiceCount = 250000; // set once from --invoices
constexpr int itemsPerInvoice = 3;
constexpr int productCount = 1000;

struct Pools
{
    QList<QString> issuers;
    QList<QString> productCodes;
    QList<QString> descriptions;
};

Pools makePools()
{
    Pools p;
    for (int i = 0; i < 97; ++i)
        p.issuers.append(QString::number(10000000000000LL + i * 7919LL));
    for (int i = 0; i < productCount; ++i) {
        p.productCodes.append(QStringLiteral("PRD%1").arg(i, 6, 10, QLatin1Char('0')));
        p.descriptions.append(
            QStringLiteral("Produto de número %1 com descrição acentuada e longa demais para o "
                           "campo")
                .arg(i));
    }
    return p;
}

struct Result
{
    qint64 lines = 0;
    qint64 nsecs = 0;
    quint64 checksum = 0;
    qint64 wrongLength = 0, records50 = 0, records54 = 0;
};

const Period kPeriod{QDate(2024, 1, 1), QDate(2024, 12, 31)};

InvoiceKey keyOf(const Pools &pools, int i)
{
    InvoiceKey key;
    key.model = 55;
    key.series = QStringLiteral("1");
    key.issueDate = kPeriod.start.addDays(qint64(i) * 366 / invoiceCount);
    key.number = i + 1;
    key.issuerDocument = pools.issuers[i % pools.issuers.size()];
    return key;
}

void addInvoices(FileLayoutBuilder &builder, const Pools &pools)
{
    Invoice invoice;
    invoice.issuerStateRegistration = QStringLiteral("123456789");
    invoice.issuerState = QStringLiteral("BA");
    invoice.cfop = 1102;
    for (int i = 0; i < invoiceCount; ++i) {
        invoice.key = keyOf(pools, i);
        invoice.totalValue = 1000.0 + i % 9973 * 0.37;
        invoice.icmsBase = invoice.totalValue;
        invoice.icmsValue = invoice.totalValue * 0.18;
        invoice.icmsRate = 18;
        builder.addInvoice(invoice);
    }
}

void addItemsAndProducts(FileLayoutBuilder &builder, const Pools &pools)
{
    Item item;
    item.cfop = 1102;
    item.cst = QStringLiteral("000");
    for (int i = 0; i < invoiceCount; ++i) {
        item.invoice = keyOf(pools, i);
        for (int n = 1; n <= itemsPerInvoice; ++n) {
            item.itemNumber = n;
            item.productCode = pools.productCodes[(i * 7 + n) % productCount];
            item.quantity = 1.5 * n;
            item.productValue = 333.33 + n;
            item.icmsBase = item.productValue;
            item.ipiValue = item.productValue * 0.05;
            item.icmsRate = 18;
            builder.addItem(item);
        }
    }
    Product product;
    product.ncm = QStringLiteral("84713012");
    product.unit = QStringLiteral("UN");
    product.icmsRate = 18;
    for (int p = productCount - 1; p >= 0; --p) {
        product.code = pools.productCodes[p];
        product.description = pools.descriptions[p];
        builder.addProduct(product);
    }
}

Result buildFile(const Pools &pools, bool copyLines)
{
    Result r;
    static char page[1 << 20];
    qsizetype pageUsed = 0;
    FileLayoutBuilder builder([&](QByteArrayView line) {
        r.checksum += quint8(line[kRecordLength - 1]) + quint8(line[40]);
        r.wrongLength += line.size() != kRecordLength;
        r.records50 += line[0] == '5' && line[1] == '0';
        r.records54 += line[0] == '5' && line[1] == '4';
        if (copyLines) {
            // What a writer of pages does: copy each line and its CR LF into the current page.
            if (pageUsed + line.size() + 2 > qsizetype(sizeof page))
                pageUsed = 0;
            std::memcpy(page + pageUsed, line.data(), size_t(line.size()));
            page[pageUsed + line.size()] = '\r';
            page[pageUsed + line.size() + 1] = '\n';
            pageUsed += line.size() + 2;
        }
    });

    Informant informant;
    informant.cnpj = QStringLiteral("12345678000195");
    informant.stateRegistration = QStringLiteral("12345678");
    informant.name = QStringLiteral("Comércio de Alimentos São João Ltda");
    informant.municipality = QStringLiteral("Salvador");

    QElapsedTimer timer;
    timer.start();
    builder.begin(informant, kPeriod);
    addInvoices(builder, pools);
    addItemsAndProducts(builder, pools);
    r.lines = builder.finish();
    r.nsecs = timer.nsecsElapsed();
    return r;
}

void report(const char *label, const Result &r)
{
    const double seconds = double(r.nsecs) / 1e9;
    std::printf("%-32s %9lld lines  %8.1f ms  %12.0f lines/s  %6.1f ns/line  (checksum %llu)\n",
                label, static_cast<long long>(r.lines), seconds * 1e3, double(r.lines) / seconds,
                double(r.nsecs) / double(r.lines), static_cast<unsigned long long>(r.checksum));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The lines of a run against what the input makes, and against the first run.
void checkRun(const Result &r, const Result &first, Check &check)
{
    check.require(
        r.wrongLength == 0,
        QStringLiteral("%1 lines of another length than the record's").arg(r.wrongLength));
    check.require(r.records50 == invoiceCount &&
                      r.records54 == qint64(invoiceCount) * itemsPerInvoice,
                  QStringLiteral("%1 records 50 and %2 records 54 for %3 invoices of %4 items")
                      .arg(r.records50)
                      .arg(r.records54)
                      .arg(invoiceCount)
                      .arg(itemsPerInvoice));
    check.require(r.lines == first.lines && r.checksum == first.checksum,
                  QStringLiteral("the runs made different lines"));
}

// The one-record function, for callers that want a QByteArray per line.
Result singleRecords(const Pools &pools)
{
    Item item;
    item.invoice = {pools.issuers[0], QDate(2024, 1, 1), 55, QStringLiteral("1"), 1};
    item.cfop = 1102;
    item.cst = QStringLiteral("000");
    item.productCode = pools.productCodes[0];
    item.productValue = 333.33;
    Result single;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 1000000; ++i) {
        item.itemNumber = 1 + i % 999;
        item.quantity = i * 0.001;
        const QByteArray line = record54(item);
        single.checksum += quint8(line.at(60));
        single.wrongLength += line.size() != kRecordLength;
    }
    single.nsecs = timer.nsecsElapsed();
    single.lines = 1000000;
    return single;
}

void printFigure(const char *id, const char *title, const std::vector<double> &nsPerLine,
                 const Check &check)
{
    Figure f;
    f.id = QLatin1StringView(id);
    f.title = QLatin1StringView(title);
    f.value = median(nsPerLine);
    f.unit = QStringLiteral("ns");
    f.check = check;
    printFigure(f);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption invoicesOption(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                            QStringLiteral("250000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), {}, QStringLiteral("n"),
                                        QStringLiteral("3"));
    parser.addOptions({invoicesOption, runsOption});
    parser.process(app);
    invoiceCount = std::max(1, parser.value(invoicesOption).toInt());
    const int runs = std::max(1, parser.value(runsOption).toInt());

    const Pools pools = makePools();
    const Result first = buildFile(pools, false); // warm-up: first-use tables, page faults
    Check check;
    std::vector<double> reading, copying;
    for (int run = 1; run <= runs; ++run) {
        for (const bool copy : {false, true}) {
            const Result r = buildFile(pools, copy);
            report(copy ? "builder, sink copies to a page" : "builder, sink reads the line", r);
            checkRun(r, first, check);
            (copy ? copying : reading).push_back(double(r.nsecs) / double(r.lines));
        }
    }
    const Result single = singleRecords(pools);
    report("record54() as QByteArray", single);
    check.require(single.wrongLength == 0, QStringLiteral("record54() of another length"));
    std::printf("checked: %s\n",
                check.ok() ? "yes (lengths, records, runs alike)" : qPrintable(check.detail()));
    printFigure("layout.builder", "file builder, a line", reading, check);
    printFigure("layout.builder.copy", "file builder copying each line into a page", copying,
                check);
    printFigure("layout.record54", "record54() as a QByteArray, a line",
                {double(single.nsecs) / double(single.lines)}, check);
    return check.ok() ? 0 : 1;
}
