// Builds a file of about a million lines (250,000 invoices of three items each plus the records
// 75) and prints how many lines per second the layout library formats. The input structs are
// refilled in the loop, as a server fills them from its query rows.

#include "layout/filelayoutbuilder.h"
#include "layout/records.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <cstdio>
#include <cstring>

using namespace fis;

namespace {

constexpr int invoiceCount = 250000;
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
};

Result buildFile(const Pools &pools, bool copyLines)
{
    Result r;
    static char page[1 << 20];
    qsizetype pageUsed = 0;
    FileLayoutBuilder builder([&](QByteArrayView line) {
        r.checksum += quint8(line[kRecordLength - 1]) + quint8(line[40]);
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
    const Period period{QDate(2024, 1, 1), QDate(2024, 12, 31)};

    QElapsedTimer timer;
    timer.start();
    builder.begin(informant, period);

    Invoice invoice;
    invoice.key.model = 55;
    invoice.key.series = QStringLiteral("1");
    invoice.issuerStateRegistration = QStringLiteral("123456789");
    invoice.issuerState = QStringLiteral("BA");
    invoice.cfop = 1102;
    const auto keyOf = [&](int i) {
        InvoiceKey key = invoice.key;
        key.issueDate = period.start.addDays(qint64(i) * 366 / invoiceCount);
        key.number = i + 1;
        key.issuerDocument = pools.issuers[i % pools.issuers.size()];
        return key;
    };
    for (int i = 0; i < invoiceCount; ++i) {
        invoice.key = keyOf(i);
        invoice.totalValue = 1000.0 + i % 9973 * 0.37;
        invoice.icmsBase = invoice.totalValue;
        invoice.icmsValue = invoice.totalValue * 0.18;
        invoice.icmsRate = 18;
        builder.addInvoice(invoice);
    }

    Item item;
    item.cfop = 1102;
    item.cst = QStringLiteral("000");
    for (int i = 0; i < invoiceCount; ++i) {
        item.invoice = keyOf(i);
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

} // namespace

int main()
{
    const Pools pools = makePools();
    buildFile(pools, false); // warm-up: first-use tables, page faults
    for (int run = 1; run <= 3; ++run) {
        report("builder, sink reads the line", buildFile(pools, false));
        report("builder, sink copies to a page", buildFile(pools, true));
    }

    // The one-record functions, for callers that want a QByteArray per line.
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
        single.checksum += quint8(record54(item).at(60));
    }
    single.nsecs = timer.nsecsElapsed();
    single.lines = 1000000;
    report("record54() as QByteArray", single);
    return 0;
}
