// Encodes and decodes an invoice list of 100,000 rows with the fields of the export screen's
// list, and prints the median time of several runs of each step and the packet's size. Checks
// that the decoded rows encode to the same packet again and that the table holds every row.
//
//     bench_datapacket [--rows N] [--runs N]   (default 100000 rows, 7 runs)

#include "dataset/datapacket.h"
#include "dataset/memtable.h"

#include "benchsupport/figure.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

using namespace fis;
using namespace fis::bench;

namespace {

QList<FieldDef> invoiceFields()
{
    const auto text = [](const char *name, int size, FieldType type = FieldType::String) {
        FieldDef f;
        f.name = QString::fromLatin1(name);
        f.type = type;
        f.size = size;
        return f;
    };
    FieldDef emissao;
    emissao.name = QStringLiteral("DTEMISSAO");
    emissao.type = FieldType::DateTime;
    FieldDef valor;
    valor.name = QStringLiteral("VRNOTAFISC");
    valor.type = FieldType::Float;
    valor.displayFormat = QStringLiteral("#,##0.00");
    return {text("IDENTRSAIDOP", 1),
            text("IDNFCOMPRALEG", 1),
            text("IDSTATUS", 1, FieldType::FixedString),
            text("CDFILIAL", 4),
            text("CLIENTE", 73),
            text("NRLANCTONF", 10),
            emissao,
            text("NRNOTAFISC", 20),
            valor,
            text("CDTIPOOPER", 2),
            text("CDINSCESTA", 16),
            text("CDINSCMUNI", 16),
            text("CDSERIE", 5),
            text("CDCLIENTE", 21)};
}

std::vector<DataRow> invoiceRows(int count)
{
    QRandomGenerator rng(20240601);
    static const char *const names[] = {
        "COMERCIAL DE ALIMENTOS BAHIA LTDA", "DISTRIBUIDORA NORDESTE DE BEBIDAS S/A",
        "FARMÁCIA SÃO JOÃO EIRELI", "MATERIAIS DE CONSTRUÇÃO RECÔNCAVO LTDA ME",
        "SUPERMERCADO BOM PREÇO DE FEIRA DE SANTANA"};
    std::vector<DataRow> rows;
    rows.reserve(size_t(count));
    const QDate start(2023, 1, 1);
    for (int i = 0; i < count; ++i) {
        const int client = int(rng.bounded(5000));
        DataRow row;
        row.reserve(14);
        row << QStringLiteral("E")
            << (rng.bounded(4) == 0 ? QStringLiteral("S") : QStringLiteral("N"))
            << QStringLiteral("U")
            << QStringLiteral("%1").arg(1 + rng.bounded(20), 4, 10, QLatin1Char('0'))
            << QStringLiteral("%1 %2").arg(QString::fromUtf8(names[client % 5])).arg(client)
            << QString::number(1000000 + i)
            << QVariant(QDateTime(start.addDays(rng.bounded(730)), QTime(0, 0), Qt::UTC))
            << QString::number(100000 + rng.bounded(900000))
            << QVariant(double(rng.bounded(100000000)) / 100.0)
            << QStringLiteral("%1").arg(rng.bounded(100), 2, 10, QLatin1Char('0'))
            << QStringLiteral("%1").arg(10000000 + client * 37, 9, 10, QLatin1Char('0'))
            << QStringLiteral("%1").arg(200000 + client, 8, 10, QLatin1Char('0'))
            << QStringLiteral("1") << QStringLiteral("%1").arg(client, 14, 10, QLatin1Char('0'));
        rows.push_back(std::move(row));
    }
    return rows;
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Median wall-clock and CPU time of the runs: on a busy machine the CPU time shows what the
// step itself costs.
struct Timing
{
    double wallMs;
    double cpuMs;
};

Timing median(int runs, const std::function<void()> &step)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpuStart = threadCpuMs();
        timer.start();
        step();
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void printTiming(const char *id, const char *title, const Timing &t, const Check &check)
{
    Figure f;
    f.id = QLatin1StringView(id);
    f.title = QLatin1StringView(title);
    f.value = t.wallMs;
    f.unit = QStringLiteral("ms");
    f.check = check;
    printFigure(f);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(QStringLiteral("rows"), {}, QStringLiteral("n"),
                                        QStringLiteral("100000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), {}, QStringLiteral("n"),
                                        QStringLiteral("7"));
    parser.addOptions({rowsOption, runsOption});
    parser.process(app);
    const int rowCount = std::max(1, parser.value(rowsOption).toInt());
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const QList<FieldDef> fields = invoiceFields();
    const std::vector<DataRow> rows = invoiceRows(rowCount);

    QByteArray packet;
    const Timing encode = median(runs, [&] { packet = encodePacket(fields, rows); });
    Check check;
    check.require(encodePacket(fields, decodePacket(packet).rows) == packet,
                  QStringLiteral("the decoded rows encode to another packet"));

    MemTable source(QStringLiteral("cdsNotaFiscal"));
    source.setFields(fields);
    source.loadFromPacket(packet);
    const Timing save = median(runs, [&] { packet = source.saveToPacket(); });

    MemTable table(QStringLiteral("cdsNotaFiscal"));
    table.setFields(fields);
    const Timing load = median(runs, [&] { table.loadFromPacket(packet); });
    DataPacket decoded;
    const Timing decode = median(runs, [&] { decoded = decodePacket(packet); });
    check.require(table.recordCount() == rowCount && qsizetype(decoded.rows.size()) == rowCount,
                  QStringLiteral("loaded %1 rows, decoded %2, of %3")
                      .arg(table.recordCount())
                      .arg(decoded.rows.size())
                      .arg(rowCount));

    std::printf("rows: %d, fields: %lld, runs: %d (median wall / thread CPU)\n", rowCount,
                static_cast<long long>(fields.size()), runs);
    const auto line = [](const char *what, const Timing &f) {
        std::printf("%-34s %8.1f ms %8.1f ms\n", what, f.wallMs, f.cpuMs);
    };
    line("encode (encodePacket)", encode);
    line("encode (MemTable::saveToPacket)", save);
    line("decode into MemTable (load)", load);
    line("decode standalone (decodePacket)", decode);
    std::printf("%-34s %8.2f MB (%lld bytes, %.1f bytes/row)\n", "packet size",
                double(packet.size()) / (1024.0 * 1024.0), static_cast<long long>(packet.size()),
                double(packet.size()) / rowCount);
    std::printf("checked: %s\n",
                check.ok() ? "yes (round trip, rows)" : qPrintable(check.detail()));
    printTiming("datapacket.encode", "encodePacket of the list", encode, check);
    printTiming("datapacket.save", "MemTable::saveToPacket of the list", save, check);
    printTiming("datapacket.load", "the packet loaded into a MemTable", load, check);
    printTiming("datapacket.decode", "decodePacket of the list", decode, check);
    return check.ok() ? 0 : 1;
}
