#include "demodata.h"

#include "demorandom.h"
#include "referencedata.h"
#include "sqlitedb.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>

namespace fis {
namespace {

using demo::Product;
using demo::ReferenceData;

std::int64_t mulDivRound(std::int64_t a, std::int64_t b, std::int64_t d)
{
    return (a * b + d / 2) / d;
}

QDate isoDate(const std::string &s)
{
    return QDate::fromString(QString::fromStdString(s), Qt::ISODate);
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

void writeTaxes(SqliteDb &db, const std::vector<demo::Tax> &taxes)
{
    SqliteStmt tax(db, "INSERT INTO IMPOSTONFE (CDIMPOSTONFE, SGIMPOSTONFE, IDORGARRECADNFE) "
                       "VALUES (?, ?, ?)");
    for (const auto &t : taxes) {
        tax.bind(1, t.code);
        tax.bind(2, t.abbreviation);
        tax.bind(3, t.authority);
        tax.execute();
    }
}

void writeCompanies(SqliteDb &db, const std::vector<demo::Company> &companies)
{
    SqliteStmt company(db, "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA, NRCNPJEMPRESA) "
                           "VALUES (?, ?, ?)");
    for (const auto &c : companies) {
        company.bind(1, c.code);
        company.bind(2, c.name);
        company.bind(3, c.cnpj);
        company.execute();
    }
}

void writeBranches(SqliteDb &db, const std::vector<demo::Branch> &branches)
{
    SqliteStmt branch(db, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, DTPROCESSAMENTO, "
                          "NRCNPJFILIAL, SGESTADO, NMMUNICIPIO) VALUES (?, ?, ?, ?, ?, 'BA', ?)");
    for (const auto &b : branches) {
        branch.bind(1, b.code);
        branch.bind(2, b.name);
        branch.bind(3, b.company);
        branch.bind(4, b.processingDate);
        branch.bind(5, b.cnpj);
        branch.bind(6, b.city);
        branch.execute();
    }
}

void writeStateRegistrations(SqliteDb &db,
                             const std::vector<demo::StateRegistration> &registrations)
{
    SqliteStmt state(db, "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, SGESTADO, CDFILIAL, "
                         "NRCNPJ, NMMUNICIPIO, NRFAX, DSLOGRADOURO, NRLOGRADOURO, DSCOMPLEMENTO, "
                         "NMBAIRRO, NRCEP, NMCONTATO, NRTELEFONE) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto &r : registrations) {
        const std::array<const std::string *, 14> values = {
            &r.company, &r.number,       &r.state,      &r.branch,   &r.cnpj, &r.city,    &r.fax,
            &r.street,  &r.streetNumber, &r.complement, &r.district, &r.cep,  &r.contact, &r.phone};
        for (size_t i = 0; i < values.size(); ++i)
            state.bind(static_cast<int>(i + 1), *values[i]);
        state.execute();
    }
}

void writeMunicipalRegistrations(SqliteDb &db,
                                 const std::vector<demo::MunicipalRegistration> &registrations)
{
    SqliteStmt muni(db, "INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI, CDFILIAL, NMMUNICIPIO) "
                        "VALUES (?, ?, ?, ?)");
    for (const auto &m : registrations) {
        muni.bind(1, m.company);
        muni.bind(2, m.number);
        muni.bind(3, m.branch);
        muni.bind(4, m.city);
        muni.execute();
    }
}

void writeOperationTypes(SqliteDb &db, const std::vector<demo::OperationType> &types)
{
    SqliteStmt oper(db, "INSERT INTO TIPOOPERAC (CDTIPOOPER, IDENTRSAIDOP, NMTIPOOPER, IDUTILOPER, "
                        "IDUTILEMISNF, NRCFOP) VALUES (?, ?, ?, ?, ?, ?)");
    for (const auto &o : types) {
        oper.bind(1, o.code);
        oper.bind(2, o.direction);
        oper.bind(3, o.name);
        oper.bind(4, o.inUse);
        oper.bind(5, o.usedInIssue);
        oper.bind(6, o.cfop);
        oper.execute();
    }
}

void writeInvoiceSeries(SqliteDb &db, const std::vector<demo::InvoiceSeries> &invoiceSeries)
{
    SqliteStmt series(db, "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, "
                          "DSSERIE, CDRELMODENF, CDRELESPENF) VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (const auto &s : invoiceSeries) {
        series.bind(1, s.company);
        series.bind(2, s.stateRegistration);
        series.bind(3, s.municipalRegistration);
        series.bind(4, s.code);
        series.bind(5, s.description);
        series.bind(6, s.modelReport);
        series.bind(7, s.mirrorReport);
        series.execute();
    }
}

void writeEntrySeries(SqliteDb &db, const std::vector<demo::EntrySeries> &entrySeries)
{
    SqliteStmt entry(db, "INSERT INTO SERIEENTR (CDSERIEENTR, DSSERIEENTR) VALUES (?, ?)");
    for (const auto &s : entrySeries) {
        entry.bind(1, s.code);
        entry.bind(2, s.description);
        entry.execute();
    }
}

void writeProducts(SqliteDb &db, const std::vector<Product> &products)
{
    SqliteStmt product(db, "INSERT INTO PRODUTO (CDPRODUTO, CDNCM, DSPRODUTO, SGUNIDADE, "
                           "PCALIQIPI, PCALIQICMS, PCREDBASEICMS, VRBASEICMSST) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto &p : products) {
        product.bind(1, p.code);
        product.bind(2, p.ncm);
        product.bind(3, p.description);
        product.bind(4, p.unit);
        // Rates are held in hundredths of a percent, the same scale as cents.
        product.bindCents(5, p.ipiRate);
        product.bindCents(6, p.icmsRate);
        product.bindCents(7, p.baseReduction);
        product.bindCents(8, p.stBaseCents);
        product.execute();
    }
}

void writeClients(SqliteDb &db, const std::vector<demo::Client> &clients)
{
    SqliteStmt client(db, "INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE, NRINSJURCLIE, "
                          "IDTPIJURCLIE, NMFANTCLIE, NRINSCESTCLIE, SGESTADO, NMMUNICIPIO) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto &c : clients) {
        client.bind(1, c.code);
        client.bind(2, c.name);
        client.bind(3, c.taxId);
        client.bind(4, c.personType);
        client.bind(5, c.tradeName);
        client.bind(6, c.stateRegistration);
        client.bind(7, c.state);
        client.bind(8, c.city);
        client.execute();
    }
}

void writeReferenceData(SqliteDb &db, const ReferenceData &d)
{
    writeTaxes(db, d.taxes);
    writeCompanies(db, d.companies);
    writeBranches(db, d.branches);
    writeStateRegistrations(db, d.stateRegistrations);
    writeMunicipalRegistrations(db, d.municipalRegistrations);
    writeOperationTypes(db, d.operationTypes);
    writeInvoiceSeries(db, d.invoiceSeries);
    writeEntrySeries(db, d.entrySeries);
    writeProducts(db, d.products);
    writeClients(db, d.clients);
}

struct Weighted
{
    size_t index;
    int weight;
};

size_t pickWeighted(DemoRandom &rnd, const std::vector<Weighted> &choices)
{
    int total = 0;
    for (const auto &c : choices)
        total += c.weight;
    auto pick = static_cast<int>(rnd.below(static_cast<std::uint64_t>(total)));
    for (const auto &c : choices) {
        if (pick < c.weight)
            return c.index;
        pick -= c.weight;
    }
    return choices.back().index;
}

size_t operationIndex(const ReferenceData &d, const char *code, const char *direction)
{
    for (size_t i = 0; i < d.operationTypes.size(); ++i)
        if (d.operationTypes[i].code == code && d.operationTypes[i].direction == direction)
            return i;
    throw DemoDataError(QStringLiteral("Tipo de operação desconhecido: %1%2.")
                            .arg(QLatin1String(direction), QLatin1String(code)));
}

struct Item
{
    const Product *product;
    std::string cst;
    std::int64_t quantity; // thousandths
    std::int64_t value, discount, icmsBase, stBase, ipi;
    int rate;
};

class InvoiceWriter
{
public:
    InvoiceWriter(SqliteDb &db, const ReferenceData &d, std::uint64_t seed)
        : m_d(d)
        , m_rnd(seed)
        , m_invoice(db, "INSERT INTO NFCOMPRA (CDFILIAL, NRLANCTONF, CDEMPRESA, IDENTRSAIDOP, "
                        "CDTIPOOPER, CDSERIE, NRNOTAFISC, DTEMISSAO, VRNOTAFISC, CDCLIENTE, "
                        "CDINSCESTA, CDINSCMUNI, IDNFCOMPRALEG, NRCFOP, CDMODELONF, VRBASEICMS, "
                        "VRICMS, VRISENTO, VROUTRAS, PCALIQICMS, IDSITUACAO) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        , m_item(db, "INSERT INTO NFCOMPRAITEM (CDFILIAL, NRLANCTONF, NRITEM, CDPRODUTO, NRCFOP, "
                     "CDCST, QTITEM, VRPRODUTO, VRDESCONTO, VRBASEICMS, VRBASEICMSST, VRIPI, "
                     "PCALIQICMS) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
    {
        for (size_t i = 0; i < d.branches.size(); ++i) {
            m_branchChoices.push_back({i, d.branches[i].share});
            if (d.branches[i].code == d.currentBranch)
                m_currentBranch = i;
        }
        m_postings.assign(d.branches.size(), 0);
        for (size_t i = 0; i < d.clients.size(); ++i)
            if (d.clients[i].personType != "O")
                m_suppliers.push_back(i);
        for (size_t i = 0; i < d.products.size(); ++i)
            m_productsByGroup[static_cast<int>(d.products[i].group)].push_back(i);

        m_entryChoices = {{operationIndex(d, "01", "E"), 57}, {operationIndex(d, "02", "E"), 15},
                          {operationIndex(d, "03", "E"), 5},  {operationIndex(d, "04", "E"), 3},
                          {operationIndex(d, "06", "E"), 12}, {operationIndex(d, "10", "E"), 8}};
        m_exitChoices = {{operationIndex(d, "01", "S"), 70},
                         {operationIndex(d, "06", "S"), 15},
                         {operationIndex(d, "07", "S"), 10},
                         {operationIndex(d, "11", "S"), 5}};
        m_purchaseForResale = operationIndex(d, "01", "E");

        const QDate first = isoDate(d.firstInvoiceDate);
        const QDate last = isoDate(d.branches[m_currentBranch].processingDate);
        const int lastMonth = last.year() * 12 + last.month();
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            m_days.push_back(day.toString(Qt::ISODate).toStdString());
            m_monthsBeforeLast.push_back(lastMonth - (day.year() * 12 + day.month()));
        }
    }

    std::int64_t items() const { return m_itemCount; }

    void write(int index, int count)
    {
        // Issue dates grow with the index, so postings of a branch follow the calendar.
        const size_t day = static_cast<size_t>(static_cast<std::int64_t>(index) *
                                               static_cast<std::int64_t>(m_days.size()) / count);
        // The last invoice is always a pending purchase at the current branch, so that the
        // default period finds one however few invoices are made.
        const bool anchor = index == count - 1;

        const InvoiceHeader header = drawHeader(anchor, m_monthsBeforeLast[day]);
        const int rate = demo::icmsRateFrom(header.client->state);
        std::array<Item, 5> items{};
        InvoiceTotals totals;
        const int itemCount = drawItems(*header.operation, rate, items, totals);

        const std::string posting = nextPosting(header.branch);
        insertInvoice(header, posting, m_days[day], totals, rate);
        insertItems(header, posting, items, itemCount);
        m_itemCount += itemCount;
    }

private:
    // Everything of an invoice but its items and totals.
    struct InvoiceHeader
    {
        size_t branch = 0;
        const demo::OperationType *operation = nullptr;
        const demo::Client *client = nullptr;
        bool entry = false;
        std::string cfop, model, series;
        std::int64_t number = 0;
        bool exported = false;
        bool cancelled = false;
    };

    struct InvoiceTotals
    {
        std::int64_t total = 0, base = 0, exempt = 0, other = 0;
    };

    // The draws are made in a fixed order: changing it changes every database made from a seed.
    InvoiceHeader drawHeader(bool anchor, int monthsBack)
    {
        InvoiceHeader h;
        h.branch = anchor ? m_currentBranch : pickWeighted(m_rnd, m_branchChoices);
        h.entry = anchor || m_rnd.percent(92);
        h.operation = &m_d.operationTypes[anchor    ? m_purchaseForResale
                                          : h.entry ? pickWeighted(m_rnd, m_entryChoices)
                                                    : pickWeighted(m_rnd, m_exitChoices)];
        h.client = &pickSupplier();
        h.cfop = h.operation->cfop;
        if (h.client->state != "BA")
            h.cfop[0] = static_cast<char>(h.cfop[0] + 1);
        if (h.entry) {
            drawEntryModelAndSeries(*h.client, h);
        } else {
            h.model = "55";
            h.series = pickOwnSeries(m_d.branches[h.branch]);
        }
        h.number = m_rnd.between(1, h.model == "55" ? 400000 : 99999);
        const int exportedChance = monthsBack == 0 ? 8 : monthsBack == 1 ? 55 : 95;
        h.exported = !anchor && m_rnd.percent(exportedChance);
        h.cancelled = !anchor && m_rnd.percent(2);
        return h;
    }

    const demo::Client &pickSupplier()
    {
        // Two draws, the lower kept: a few suppliers get most of the invoices.
        const std::uint64_t r1 = m_rnd.below(m_suppliers.size());
        const std::uint64_t r2 = m_rnd.below(m_suppliers.size());
        return m_d.clients[m_suppliers[std::min(r1, r2)]];
    }

    void drawEntryModelAndSeries(const demo::Client &client, InvoiceHeader &h)
    {
        const bool paper = m_rnd.percent(client.personType == "F" ? 60 : 12);
        h.model = paper ? "01" : "55";
        const std::uint64_t s = m_rnd.below(100);
        if (paper)
            h.series = s < 50 ? "U" : s < 80 ? "D" : "D1";
        else
            h.series = s < 70 ? "1" : s < 85 ? "2" : s < 95 ? "3" : "890";
    }

    // An exit is issued by the branch itself, in one of its registrations' series.
    std::string pickOwnSeries(const demo::Branch &branch)
    {
        std::vector<const std::string *> own;
        for (const auto &s : m_d.invoiceSeries)
            if (s.stateRegistration == branch.stateRegistration &&
                s.municipalRegistration == branch.municipalRegistration)
                own.push_back(&s.code);
        return *own[m_rnd.below(own.size())];
    }

    int drawItemCount()
    {
        const std::uint64_t sizePick = m_rnd.below(100);
        return sizePick < 30 ? 1 : sizePick < 55 ? 2 : sizePick < 75 ? 3 : sizePick < 90 ? 4 : 5;
    }

    int drawItems(const demo::OperationType &op, int rate, std::array<Item, 5> &items,
                  InvoiceTotals &totals)
    {
        const auto group = op.cfop == "1556"   ? demo::ProductGroup::Consumption
                           : op.cfop == "1551" ? demo::ProductGroup::Asset
                                               : demo::ProductGroup::Goods;
        const std::vector<size_t> &pool = m_productsByGroup[static_cast<int>(group)];
        const int itemCount = drawItemCount();
        std::array<size_t, 5> chosen{};
        for (int n = 0; n < itemCount; ++n) {
            size_t p = m_rnd.below(pool.size());
            // Each product once per invoice.
            for (int k = 0; k < n; ++k)
                if (chosen[static_cast<size_t>(k)] == p) {
                    p = (p + 1) % pool.size();
                    k = -1;
                }
            chosen[static_cast<size_t>(n)] = p;
            drawItem(m_d.products[pool[p]], rate, items[static_cast<size_t>(n)], totals);
        }
        return itemCount;
    }

    std::int64_t drawQuantity(const Product &pr)
    {
        if (pr.byWeight)
            return m_rnd.between(500, 150000);
        if (pr.group == demo::ProductGroup::Asset)
            return m_rnd.between(1, 4) * 1000;
        return m_rnd.between(1, pr.group == demo::ProductGroup::Goods ? 60 : 20) * 1000;
    }

    void drawItem(const Product &pr, int rate, Item &it, InvoiceTotals &totals)
    {
        it.product = &pr;
        it.cst = pr.cst();
        it.quantity = drawQuantity(pr);
        it.value = mulDivRound(it.quantity, pr.unitPriceCents, 1000);
        it.discount = m_rnd.percent(25) ? mulDivRound(it.value, m_rnd.between(1, 8), 100) : 0;
        const std::int64_t net = it.value - it.discount;
        it.ipi = mulDivRound(it.value, pr.ipiRate, 10000);
        if (pr.profile == demo::TaxProfile::Exempt) {
            it.icmsBase = 0;
            it.rate = 0;
            totals.exempt += net;
        } else {
            it.icmsBase = mulDivRound(net, 10000 - pr.baseReduction, 10000);
            it.rate = rate;
            totals.other += net - it.icmsBase;
        }
        it.stBase = pr.profile == demo::TaxProfile::Substitution
                        ? mulDivRound(it.quantity, pr.stBaseCents, 1000)
                        : 0;
        totals.other += it.ipi;
        totals.base += it.icmsBase;
        totals.total += net + it.ipi;
    }

    std::string nextPosting(size_t branch)
    {
        char posting[24];
        std::snprintf(posting, sizeof posting, "%010lld",
                      static_cast<long long>(++m_postings[branch]));
        return posting;
    }

    void insertInvoice(const InvoiceHeader &h, const std::string &posting, const std::string &date,
                       const InvoiceTotals &t, int rate)
    {
        const demo::Branch &branch = m_d.branches[h.branch];
        const int invoiceRate = t.base > 0 ? rate : 0;
        const std::int64_t icms = mulDivRound(t.base, invoiceRate, 10000);
        const std::string numberText = std::to_string(h.number);

        m_invoice.bind(1, branch.code);
        m_invoice.bind(2, posting);
        m_invoice.bind(3, branch.company);
        m_invoice.bind(4, h.operation->direction);
        m_invoice.bind(5, h.operation->code);
        m_invoice.bind(6, h.series);
        m_invoice.bind(7, numberText);
        m_invoice.bind(8, date);
        m_invoice.bindCents(9, t.total);
        m_invoice.bind(10, h.client->code);
        m_invoice.bind(11, branch.stateRegistration);
        m_invoice.bind(12, branch.municipalRegistration);
        m_invoice.bind(13, h.exported ? "S" : "N");
        m_invoice.bind(14, h.cfop);
        m_invoice.bind(15, h.model);
        m_invoice.bindCents(16, t.base);
        m_invoice.bindCents(17, icms);
        m_invoice.bindCents(18, t.exempt);
        m_invoice.bindCents(19, t.other);
        m_invoice.bindCents(20, invoiceRate);
        m_invoice.bind(21, h.cancelled ? "S" : "N");
        m_invoice.execute();
    }

    void insertItems(const InvoiceHeader &h, const std::string &posting,
                     const std::array<Item, 5> &items, int itemCount)
    {
        const demo::Branch &branch = m_d.branches[h.branch];
        for (int n = 0; n < itemCount; ++n) {
            const Item &it = items[static_cast<size_t>(n)];
            m_item.bind(1, branch.code);
            m_item.bind(2, posting);
            m_item.bind(3, std::int64_t{n + 1});
            m_item.bind(4, it.product->code);
            m_item.bind(5, h.cfop);
            m_item.bind(6, it.cst);
            m_item.bindDecimal(7, it.quantity, 3);
            m_item.bindCents(8, it.value);
            m_item.bindCents(9, it.discount);
            m_item.bindCents(10, it.icmsBase);
            m_item.bindCents(11, it.stBase);
            m_item.bindCents(12, it.ipi);
            m_item.bindCents(13, it.rate);
            m_item.execute();
        }
    }

    const ReferenceData &m_d;
    DemoRandom m_rnd;
    SqliteStmt m_invoice;
    SqliteStmt m_item;
    std::vector<Weighted> m_branchChoices, m_entryChoices, m_exitChoices;
    size_t m_currentBranch = 0;
    size_t m_purchaseForResale = 0;
    std::vector<std::int64_t> m_postings;
    std::vector<size_t> m_suppliers;
    std::array<std::vector<size_t>, 3> m_productsByGroup;
    std::vector<std::string> m_days;
    std::vector<int> m_monthsBeforeLast;
    std::int64_t m_itemCount = 0;
};

void writeParameters(SqliteDb &db, const ReferenceData &d, int invoices, std::uint64_t seed)
{
    SqliteStmt param(db, "INSERT INTO PARAMGERAL (CDPARAMETRO, VLPARAMETRO) VALUES (?, ?)");
    const std::array<std::pair<std::string, std::string>, 4> values = {{
        {"CDFILIALCORRENTE", d.currentBranch},
        {"DEMO_NOTAS", std::to_string(invoices)},
        {"DEMO_SEMENTE", std::to_string(seed)},
        {"DEMO_VERSAO", "1"},
    }};
    for (const auto &[key, value] : values) {
        param.bind(1, key);
        param.bind(2, value);
        param.execute();
    }
}

void checkGenerateArguments(const QString &path, int invoices)
{
    if (invoices < kMinDemoInvoices || invoices > kMaxDemoInvoices)
        throw DemoDataError(QStringLiteral("O número de notas deve ser de %1 a %2, não %3.")
                                .arg(kMinDemoInvoices)
                                .arg(kMaxDemoInvoices)
                                .arg(invoices));
    if (path.isEmpty())
        throw DemoDataError(QStringLiteral("Nenhum arquivo de banco de dados foi informado."));
}

// Returns the number of invoice items written.
std::int64_t fillDatabase(SqliteDb &db, const ReferenceData &d, int invoices, std::uint64_t seed)
{
    // A fresh file that nobody else sees yet: no journal, no syncing until it is complete.
    db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; "
            "PRAGMA temp_store=MEMORY;");
    QString deferredIndexes;
    db.exec("BEGIN");
    db.execScript(sqliteSchemaScript(), &deferredIndexes);
    writeReferenceData(db, d);
    writeParameters(db, d, invoices, seed);
    std::int64_t items = 0;
    {
        InvoiceWriter writer(db, d, seed);
        for (int i = 0; i < invoices; ++i)
            writer.write(i, invoices);
        items = writer.items();
    }
    // Building the secondary indexes once at the end is far cheaper than keeping them up
    // to date row by row.
    db.execScript(deferredIndexes.toUtf8().constData());
    db.exec("COMMIT");
    db.exec("PRAGMA analysis_limit=1000; ANALYZE;");
    // Several server processes share the finished file: readers must not block the writer.
    SqliteStmt wal(db, "PRAGMA journal_mode=WAL");
    if (!wal.step() || wal.text(0) != QLatin1String("wal"))
        db.fail(QStringLiteral("Não foi possível passar o banco de dados para o modo WAL"));
    return items;
}

} // namespace

DemoDataStats generateDemoDatabase(const QString &path, int invoices, std::uint64_t seed)
{
    checkGenerateArguments(path, invoices);

    QElapsedTimer timer;
    timer.start();
    removeDatabaseFiles(path);
    if (QFileInfo::exists(path))
        throw DemoDataError(
            QStringLiteral("Não foi possível remover o arquivo existente %1.").arg(path));
    QDir().mkpath(QFileInfo(path).absolutePath());

    const ReferenceData &d = demo::referenceData();
    DemoDataStats stats;
    try {
        SqliteDb db(path, SqliteDb::Mode::Create);
        stats.items = fillDatabase(db, d, invoices, seed);
    } catch (...) {
        removeDatabaseFiles(path);
        throw;
    }
    stats.invoices = invoices;
    stats.clients = static_cast<qint64>(d.clients.size());
    stats.products = static_cast<qint64>(d.products.size());
    stats.elapsedMs = timer.elapsed();
    return stats;
}

DemoDataStats generateDemoDatabase(const DatabaseTarget &target, int invoices, std::uint64_t seed)
{
    if (!target.isServerEngine())
        return generateDemoDatabase(target.database, invoices, seed);
    QElapsedTimer timer;
    timer.start();
    // The rows are drawn exactly as for an SQLite file, then copied: every engine holds the same.
    QTemporaryDir dir;
    if (!dir.isValid())
        throw DemoDataError(QStringLiteral("Não foi possível criar uma pasta temporária: %1")
                                .arg(dir.errorString()));
    const QString file = dir.filePath(QStringLiteral("demo.sqlite"));
    DemoDataStats stats = generateDemoDatabase(file, invoices, seed);
    copyDemoDatabase(file, target);
    stats.elapsedMs = timer.elapsed();
    return stats;
}
} // namespace fis
