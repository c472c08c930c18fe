#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The fixed reference data of the demo database: taxes, companies, branches, registrations,
// operation types, series, products and clients. It never depends on the number of invoices or
// on the invoice seed, so tests and fixtures may rely on it (db/README.md lists the facts).
// Texts are UTF-8 and stay inside the Latin-1 range.
namespace fis::demo {

struct Tax
{
    std::string code, abbreviation, authority;
};

struct Company
{
    std::string code, name, cnpj;
};

struct Branch
{
    std::string code, name, company, processingDate, cnpj, city;
    std::string stateRegistration, municipalRegistration;
    int share = 0; // percent of the invoices posted at this branch
};

struct StateRegistration
{
    std::string company, number, state, branch, cnpj, city, fax, street, streetNumber, complement,
        district, cep, contact, phone;
};

struct MunicipalRegistration
{
    std::string company, number, branch, city;
};

struct OperationType
{
    std::string code, direction, name, inUse, usedInIssue, cfop;
};

struct InvoiceSeries
{
    std::string company, stateRegistration, municipalRegistration, code, description, modelReport,
        mirrorReport;
};

struct EntrySeries
{
    std::string code, description;
};

enum class TaxProfile { Normal, Reduced, Exempt, Substitution };
enum class ProductGroup { Goods, Consumption, Asset };

struct Product
{
    std::string code, ncm, description, unit;
    int ipiRate = 0;       // hundredths of a percent
    int icmsRate = 0;      // hundredths of a percent
    int baseReduction = 0; // hundredths of a percent
    std::int64_t stBaseCents = 0;
    std::int64_t unitPriceCents = 0;
    TaxProfile profile = TaxProfile::Normal;
    ProductGroup group = ProductGroup::Goods;
    bool byWeight = false; // quantities with decimals
    std::string cst() const;
};

struct Client
{
    std::string code, name, taxId, personType, tradeName, stateRegistration, state, city;
};

struct ReferenceData
{
    std::vector<Tax> taxes;
    std::vector<Company> companies;
    std::vector<Branch> branches;
    std::vector<StateRegistration> stateRegistrations;
    std::vector<MunicipalRegistration> municipalRegistrations;
    std::vector<OperationType> operationTypes;
    std::vector<InvoiceSeries> invoiceSeries;
    std::vector<EntrySeries> entrySeries;
    std::vector<Product> products;
    std::vector<Client> clients;

    std::string currentBranch;    // the host's current branch in the demo
    std::string firstInvoiceDate; // invoices run from here to the current branch's processing date
};

// Built once, on first use.
const ReferenceData &referenceData();

// ICMS rate (hundredths of a percent) of a purchase from the given state into Bahia.
int icmsRateFrom(const std::string &state);

} // namespace fis::demo
