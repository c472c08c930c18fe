#include "referencedata.h"

#include "demorandom.h"
#include "taxid.h"

#include <QString>

#include <array>
#include <cstdio>
#include <set>

namespace fis::demo {
namespace {

// The reference data has its own fixed stream, apart from the invoice seed.
constexpr std::uint64_t kReferenceSeed = 0x5EEDF15C11000ULL;
constexpr int kClientCount = 2000;

std::string digits(DemoRandom &rnd, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + rnd.below(10));
    return s;
}

std::string cnpj(const std::string &root, int order)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04d", order);
    const std::string base = root + buf;
    return base + taxid::cnpjCheckDigits(QString::fromStdString(base)).toStdString();
}

std::string cpf(const std::string &base)
{
    return base + taxid::cpfCheckDigits(QString::fromStdString(base)).toStdString();
}

// The CNPJ roots of the three companies; their branches number on from them.
constexpr const char *kRoot01 = "07526557", *kRoot02 = "15436940", *kRoot03 = "29871045";

void addTaxes(ReferenceData &d)
{
    d.taxes = {
        {"01", "ICMS", "E"}, {"02", "IPI", "F"},    {"03", "ISS", "M"},
        {"04", "PIS", "F"},  {"05", "COFINS", "F"}, {"06", "ICMS-ST", "E"},
    };
}

void addCompanies(ReferenceData &d)
{
    d.companies = {
        {"01", "Comercial Baiana de Alimentos Ltda", cnpj(kRoot01, 1)},
        {"02", "Distribuidora São Salvador S.A.", cnpj(kRoot02, 1)},
        {"03", "Itapuã Participações Ltda", cnpj(kRoot03, 1)},
    };
}

void addBranches(ReferenceData &d)
{
    d.currentBranch = "0001";
    d.firstInvoiceDate = "2024-12-01";
    d.branches = {
        {"0001", "Matriz Salvador", "01", "2025-05-20", cnpj(kRoot01, 1), "Salvador", "052147836",
         "2145870010", 35},
        {"0002", "Filial Feira de Santana", "01", "2025-05-16", cnpj(kRoot01, 2),
         "Feira de Santana", "061258473", "3120458", 15},
        {"0003", "Filial Vitória da Conquista", "01", "2025-04-30", cnpj(kRoot01, 3),
         "Vitória da Conquista", "074369581", "45871236", 12},
        {"0004", "Filial Ilhéus", "01", "2025-05-20", cnpj(kRoot01, 4), "Ilhéus", "083471692",
         "1102587", 10},
        {"0005", "Matriz Lauro de Freitas", "02", "2025-05-19", cnpj(kRoot02, 1),
         "Lauro de Freitas", "112583704", "0087456321", 14},
        {"0006", "Filial Camaçari", "02", "2025-05-12", cnpj(kRoot02, 2), "Camaçari", "125694815",
         "5500871", 9},
        {"0007", "Filial Juazeiro", "02", "2025-05-20", cnpj(kRoot02, 3), "Juazeiro", "136705926",
         "7781245", 5},
    };
}

struct Address
{
    const char *fax, *street, *number, *complement, *district, *cep, *contact, *phone;
};

// One per branch, in the order of the branches.
constexpr std::array<Address, 7> kBranchAddresses = {{
    {"7133417701", "Avenida Tancredo Neves", "1632", "Sala 1201 Ed. Salvador Trade",
     "Caminho das Árvores", "41820020", "Maria das Graças Souza", "7133417700"},
    {"", "Avenida Getúlio Vargas", "2410", "Galpão 3", "Centro", "44025010", "José Carlos Pereira",
     "7536231450"},
    {"7734245567", "Avenida Olívia Flores", "890", "", "Candeias", "45028610", "Ana Paula Ribeiro",
     "7734245566"},
    {"", "Rua Marquês de Paranaguá", "75", "Loja B", "Centro", "45653000", "Paulo Roberto Matos",
     "7332311020"},
    {"7132878901", "Estrada do Coco", "3500", "Km 3,5 Galpão 12", "Buraquinho", "42700000",
     "Fernanda Lima Conceição", "7132878900"},
    {"", "Via Atlântica", "", "Lote 7 Polo Industrial", "Polo Petroquímico", "42810000",
     "Ricardo Almeida", "7136211234"},
    {"", "Avenida Adolfo Viana", "1200", "", "Centro", "48903000", "Luciana Barbosa", "7436115500"},
}};

void addRegistrations(ReferenceData &d)
{
    for (size_t i = 0; i < d.branches.size(); ++i) {
        const Branch &b = d.branches[i];
        const Address &a = kBranchAddresses[i];
        d.stateRegistrations.push_back({b.company, b.stateRegistration, "BA", b.code, b.cnpj,
                                        b.city, a.fax, a.street, a.number, a.complement, a.district,
                                        a.cep, a.contact, a.phone});
        d.municipalRegistrations.push_back({b.company, b.municipalRegistration, b.code, b.city});
    }
    // The head office's registration as tax substitute in Sergipe: no branch, no invoices.
    const Address &hq = kBranchAddresses[0];
    d.stateRegistrations.push_back({"01", "271905438", "SE", "", d.branches[0].cnpj, "Salvador",
                                    hq.fax, hq.street, hq.number, hq.complement, hq.district,
                                    hq.cep, hq.contact, hq.phone});
}

void addOperationTypes(ReferenceData &d)
{
    d.operationTypes = {
        {"01", "E", "Compra para comercialização", "S", "S", "1102"},
        {"02", "E", "Compra de material de consumo", "S", "S", "1556"},
        {"03", "E", "Compra para ativo imobilizado", "S", "S", "1551"},
        {"04", "E", "Bonificação recebida", "S", "N", "1910"},
        {"05", "E", "Entrada em comodato", "N", "S", "1908"},
        {"06", "E", "Transferência recebida", "S", "S", "1152"},
        {"10", "E", "Devolução de venda", "S", "S", "1202"},
        {"01", "S", "Devolução de compra", "S", "S", "5202"},
        {"06", "S", "Transferência enviada", "S", "S", "5152"},
        {"07", "S", "Remessa para conserto", "S", "S", "5915"},
        {"08", "S", "Remessa em garantia", "N", "S", "5949"},
        {"10", "S", "Venda de mercadoria", "S", "S", "5102"},
        {"11", "S", "Remessa para demonstração", "S", "N", "5912"},
    };
}

struct SeriesDef
{
    const char *code, *description;
};

void addSeries(ReferenceData &d)
{
    d.entrySeries = {
        {"1", "Série 1"},       {"2", "Série 2"}, {"3", "Série 3"},
        {"890", "NF-e avulsa"}, {"D", "Série D"}, {"D1", "Série D subsérie 1"},
        {"U", "Série única"},
    };

    const std::vector<std::vector<SeriesDef>> seriesPerBranch = {
        {{"1", "Série 1 NF-e"}, {"2", "Série 2 NF-e"}, {"A", "Série A"}, {"U", "Série única"}},
        {{"1", "Série 1 NF-e"}, {"U", "Série única"}},
        {{"1", "Série 1 NF-e"}},
        {{"1", "Série 1 NF-e"}, {"2", "Série 2 NF-e"}},
        {{"1", "Série 1 NF-e"}, {"B", "Série B"}, {"U", "Série única"}},
        {{"1", "Série 1 NF-e"}},
        {{"1", "Série 1 NF-e"}, {"2", "Série 2 NF-e"}},
    };
    for (size_t i = 0; i < d.branches.size(); ++i) {
        const Branch &b = d.branches[i];
        for (const SeriesDef &s : seriesPerBranch[i]) {
            const bool electronic = std::string(s.code) == "1" || std::string(s.code) == "2";
            d.invoiceSeries.push_back({b.company, b.stateRegistration, b.municipalRegistration,
                                       s.code, s.description,
                                       electronic ? "NFE_DANFE_RETRATO" : "NF_MODELO_1",
                                       electronic ? "NFE_ESPELHO" : ""});
        }
    }
}

void addFixedData(ReferenceData &d)
{
    addTaxes(d);
    addCompanies(d);
    addBranches(d);
    addRegistrations(d);
    addOperationTypes(d);
    addSeries(d);
}

struct Category
{
    const char *name, *package, *ncm, *unit;
    int ipiRate;
    TaxProfile profile;
    ProductGroup group;
    int priceCents;
    bool byWeight;
};

using P = TaxProfile;
using G = ProductGroup;

// The products cycle through these, one brand after another.
constexpr std::array<Category, 22> kCategories = {{
    {"Arroz branco tipo 1", "fardo 10x1kg", "10063021", "FD", 0, P::Reduced, G::Goods, 5290, false},
    {"Feijão carioca tipo 1", "fardo 10x1kg", "07133399", "FD", 0, P::Reduced, G::Goods, 7450,
     false},
    {"Açúcar cristal", "fardo 10x1kg", "17011400", "FD", 0, P::Reduced, G::Goods, 4390, false},
    {"Café torrado e moído", "caixa 20x250g", "09012100", "CX", 0, P::Normal, G::Goods, 18900,
     false},
    {"Óleo de soja refinado", "caixa 20x900ml", "15079011", "CX", 0, P::Reduced, G::Goods, 14200,
     false},
    {"Farinha de mandioca", "granel", "11062000", "KG", 0, P::Exempt, G::Goods, 690, true},
    {"Ovos brancos grandes", "bandeja 30 un", "04072100", "BDJ", 0, P::Exempt, G::Goods, 1890,
     false},
    {"Banana prata", "granel", "08039000", "KG", 0, P::Exempt, G::Goods, 549, true},
    {"Refrigerante cola", "fardo 6x2l", "22021000", "FD", 400, P::Substitution, G::Goods, 4190,
     false},
    {"Cerveja pilsen lata", "caixa 12x350ml", "22030000", "CX", 600, P::Substitution, G::Goods,
     3990, false},
    {"Água mineral sem gás", "fardo 12x500ml", "22011000", "FD", 0, P::Substitution, G::Goods, 1290,
     false},
    {"Sabão em pó", "caixa 12x1kg", "34022000", "CX", 500, P::Normal, G::Goods, 11800, false},
    {"Detergente líquido", "caixa 24x500ml", "34022000", "CX", 0, P::Substitution, G::Goods, 5760,
     false},
    {"Papel higiênico folha dupla", "fardo 16x4 rolos", "48181000", "FD", 0, P::Normal, G::Goods,
     9980, false},
    {"Biscoito recheado", "caixa 40x130g", "19053100", "CX", 0, P::Normal, G::Goods, 8790, false},
    {"Leite UHT integral", "caixa 12x1l", "04012010", "CX", 0, P::Reduced, G::Goods, 6490, false},
    {"Leite em pó integral", "lata 400g", "04022110", "UN", 0, P::Normal, G::Goods, 1990, false},
    {"Papel sulfite A4", "caixa 10 resmas", "48025610", "CX", 0, P::Normal, G::Consumption, 24900,
     false},
    {"Cartucho de toner", "unidade", "84439933", "UN", 1000, P::Normal, G::Consumption, 38900,
     false},
    {"Óleo lubrificante", "frasco 1l", "27101932", "LT", 0, P::Substitution, G::Consumption, 3450,
     false},
    {"Notebook 15 polegadas", "unidade", "84713012", "UN", 1500, P::Normal, G::Asset, 389900,
     false},
    {"Cadeira de escritório", "unidade", "94013000", "UN", 500, P::Normal, G::Asset, 74900, false},
}};

constexpr std::array<const char *, 10> kBrands = {
    "Dona Bahia",     "Sol Nascente", "Recôncavo",     "Itapuã", "Bom Jesus",
    "Estrela do Sul", "Cajazeiras",   "São Francisco", "Abaeté", "Pelourinho",
};

constexpr int kProductCount = 200;

Product makeProduct(int p, DemoRandom &rnd)
{
    const int c = p % static_cast<int>(kCategories.size());
    const int brand = (p / static_cast<int>(kCategories.size()) + c) % 10;
    const Category &cat = kCategories[c];
    Product pr;
    char code[16];
    std::snprintf(code, sizeof code, "%06d", 100001 + p);
    pr.code = code;
    pr.ncm = cat.ncm;
    pr.description = std::string(cat.name) + " " + cat.package + " " + kBrands[brand];
    pr.unit = cat.unit;
    pr.ipiRate = cat.ipiRate;
    pr.profile = cat.profile;
    pr.group = cat.group;
    pr.byWeight = cat.byWeight;
    pr.icmsRate = cat.profile == P::Exempt ? 0 : 2050;
    pr.baseReduction = cat.profile == P::Reduced ? 4146 : 0; // 20.5% on 58.54%: 12% in effect
    pr.unitPriceCents = cat.priceCents * rnd.between(85, 125) / 100;
    // Tax-substitution base: the price with the sector's value-added margin.
    pr.stBaseCents = cat.profile == P::Substitution ? pr.unitPriceCents * 140 / 100 : 0;
    return pr;
}

void addProducts(ReferenceData &d, DemoRandom &rnd)
{
    for (int p = 0; p < kProductCount; ++p)
        d.products.push_back(makeProduct(p, rnd));
}

struct StateInfo
{
    const char *state;
    int weight;           // percent of clients
    int registrationSize; // digits of its state registrations
    const char *cities[3];
};

constexpr std::array<StateInfo, 10> kClientStates = {{
    {"BA", 60, 9, {"Salvador", "Feira de Santana", "Santo Antônio de Jesus"}},
    {"SP", 10, 12, {"São Paulo", "Campinas", "Ribeirão Preto"}},
    {"PE", 6, 9, {"Recife", "Petrolina", "Caruaru"}},
    {"SE", 5, 9, {"Aracaju", "Itabaiana", "Lagarto"}},
    {"MG", 5, 13, {"Belo Horizonte", "Uberlândia", "Montes Claros"}},
    {"RJ", 3, 8, {"Rio de Janeiro", "Niterói", "Duque de Caxias"}},
    {"PR", 3, 10, {"Curitiba", "Londrina", "Maringá"}},
    {"GO", 3, 9, {"Goiânia", "Anápolis", "Rio Verde"}},
    {"CE", 3, 9, {"Fortaleza", "Juazeiro do Norte", "Sobral"}},
    {"RS", 2, 10, {"Porto Alegre", "Caxias do Sul", "Pelotas"}},
}};

// A company's name: prefix, core and suffix; its trade name leaves the suffix out.
constexpr std::array<const char *, 10> kNamePrefixes = {
    "Comercial",  "Distribuidora", "Atacadão", "Indústria de Alimentos",
    "Mercantil",  "Casa",          "Empório",  "Frigorífico",
    "Laticínios", "Cerealista",
};
constexpr std::array<const char *, 30> kNameCores = {
    "Santa Luzia", "São Jorge", "Bonfim",   "Rio Vermelho", "Itaparica",     "Paraguaçu",
    "Ondina",      "Barra",     "Sertão",   "Chapada",      "Boa Vista",     "Nordeste",
    "Atlântico",   "Tropical",  "Aurora",   "Piatã",        "Jequitinhonha", "Cachoeira",
    "Maragogipe",  "Amaralina", "Lençóis",  "Canudos",      "Belmonte",      "Tabuleiro",
    "Mucugê",      "Caetité",   "Guanambi", "Irecê",        "Jacobina",      "Valença",
};
constexpr std::array<const char *, 5> kNameSuffixes = {"Ltda", "S.A.", "Eireli", "ME", "EPP"};
constexpr std::array<const char *, 20> kFirstNames = {
    "Maria",    "José",    "Antônio",  "Ana",       "João",      "Francisca", "Carlos",
    "Paulo",    "Luíza",   "Raimundo", "Conceição", "Sebastião", "Joana",     "Pedro",
    "Gilberto", "Iracema", "Edvaldo",  "Cleide",    "Valdir",    "Rosângela",
};
constexpr std::array<const char *, 15> kSurnames = {
    "da Silva", "dos Santos", "de Jesus", "Oliveira", "Souza", "Conceição", "Bispo",   "Nascimento",
    "Pereira",  "Ferreira",   "Lima",     "Carvalho", "Rocha", "Araújo",    "Barbosa",
};
constexpr std::array<const char *, 5> kForeignNames = {
    "Proveedora Andina S.A.", "Global Food Trading Co.",   "Exportadora del Plata S.R.L.",
    "Lusitana Conservas Lda", "Pacific Rim Supplies Inc.",
};

// Foreign suppliers: no Brazilian number, no invoices in the demo.
void makeForeign(Client &c, int foreignIndex)
{
    c.personType = "O";
    c.name = kForeignNames[foreignIndex % kForeignNames.size()];
    c.tradeName = c.name.substr(0, c.name.find(' '));
    c.state = "EX";
    c.city = "Exterior";
}

const StateInfo &pickState(DemoRandom &rnd)
{
    std::uint64_t pick = rnd.below(100);
    for (const StateInfo &s : kClientStates) {
        if (pick < static_cast<std::uint64_t>(s.weight))
            return s;
        pick -= static_cast<std::uint64_t>(s.weight);
    }
    return kClientStates[0];
}

void makePerson(Client &c, const StateInfo &st, DemoRandom &rnd, std::set<std::string> &used)
{
    c.personType = "F";
    do {
        c.taxId = cpf(digits(rnd, 9));
    } while (!taxid::isValidCpf(QString::fromStdString(c.taxId)) || !used.insert(c.taxId).second);
    const char *first = kFirstNames[rnd.below(kFirstNames.size())];
    const char *s1 = kSurnames[rnd.below(kSurnames.size())];
    const char *s2 = kSurnames[rnd.below(kSurnames.size())];
    c.name = std::string(first) + " " + s1 + " " + s2;
    c.tradeName = std::string(first) + " " + s2;
    // Rural producers hold a state registration; other persons are exempt.
    if (rnd.percent(20))
        c.stateRegistration = digits(rnd, st.registrationSize);
}

void makeCompany(Client &c, const StateInfo &st, DemoRandom &rnd, std::set<std::string> &used)
{
    c.personType = "J";
    do {
        // Drawn in separate statements: the order of evaluation must not vary.
        const std::string lead = std::to_string(rnd.between(1, 9));
        const std::string root = lead + digits(rnd, 7);
        c.taxId = cnpj(root, rnd.percent(85) ? 1 : static_cast<int>(rnd.between(2, 9)));
    } while (!used.insert(c.taxId).second);
    const char *prefix = kNamePrefixes[rnd.below(kNamePrefixes.size())];
    const char *core = kNameCores[rnd.below(kNameCores.size())];
    const char *suffix = kNameSuffixes[rnd.below(kNameSuffixes.size())];
    c.name = std::string(prefix) + " " + core + " " + suffix;
    c.tradeName = std::string(prefix) + " " + core;
    if (!rnd.percent(10))
        c.stateRegistration = digits(rnd, st.registrationSize);
}

void addClients(ReferenceData &d, DemoRandom &rnd)
{
    std::set<std::string> used;
    int foreignIndex = 0;
    for (int i = 0; i < kClientCount; ++i) {
        Client c;
        char code[16];
        std::snprintf(code, sizeof code, "%06d", i + 1);
        c.code = code;
        if (i % 200 == 199) {
            makeForeign(c, foreignIndex++);
        } else {
            const StateInfo &st = pickState(rnd);
            c.state = st.state;
            c.city = st.cities[rnd.below(3)];
            if (i % 5 == 4)
                makePerson(c, st, rnd, used);
            else
                makeCompany(c, st, rnd, used);
        }
        d.clients.push_back(std::move(c));
    }
}

ReferenceData build()
{
    ReferenceData d;
    DemoRandom rnd(kReferenceSeed);
    addFixedData(d);
    addProducts(d, rnd);
    addClients(d, rnd);
    return d;
}

} // namespace

std::string Product::cst() const
{
    switch (profile) {
    case TaxProfile::Reduced:
        return "020";
    case TaxProfile::Exempt:
        return "040";
    case TaxProfile::Substitution:
        return "010";
    case TaxProfile::Normal:
        break;
    }
    return "000";
}

int icmsRateFrom(const std::string &state)
{
    if (state == "BA")
        return 2050;
    // From the South and Southeast (Espírito Santo aside) to the Northeast the rate is 7%.
    static const std::set<std::string> southSoutheast = {"SP", "MG", "RJ", "PR", "SC", "RS"};
    return southSoutheast.count(state) ? 700 : 1200;
}

const ReferenceData &referenceData()
{
    static const ReferenceData data = build();
    return data;
}

} // namespace fis::demo
