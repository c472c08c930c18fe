#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

#include <array>

namespace fis {

// Every record is one line of this many characters; the file writer adds CR LF.
inline constexpr int kRecordLength = 126;

using RecordLine = std::array<char, kRecordLength>;

// The period a file covers (record 10 and the validity of the records 75).
struct Period
{
    QDate start;
    QDate end;
};

// The establishment of the file's state registration: records 10 and 11. Numbers kept as text
// (CNPJ, fax, address number, CEP, telephone) hold digits only; an empty one is written as zeros.
struct Informant
{
    QString cnpj;
    QString stateRegistration;
    QString name;
    QString municipality;
    QString fax;
    QString street;
    QString number;
    QString complement;
    QString district;
    QString postalCode;
    QString contactName;
    QString phone;
};

// What identifies an invoice in records 50 and 54, and orders them in the file.
struct InvoiceKey
{
    QString issuerDocument; // CNPJ or CPF of the issuer, digits only
    QDate issueDate;
    int model = 55; // 1 paper invoice, 55 electronic invoice
    QString series;
    qint64 number = 0; // the record keeps its last six digits
};

enum class InvoiceIssuer { ThirdParty, Own };

// Record 50. Amounts are in reais, rates in percent.
struct Invoice
{
    InvoiceKey key;
    QString issuerStateRegistration; // empty: "ISENTO"
    QString issuerState;
    int cfop = 0;
    InvoiceIssuer issuer = InvoiceIssuer::ThirdParty;
    double totalValue = 0;
    double icmsBase = 0;
    double icmsValue = 0;
    double exemptValue = 0;
    double otherValue = 0;
    double icmsRate = 0;
    bool cancelled = false;
};

// Record 54: one item of the invoice given by its key.
struct Item
{
    InvoiceKey invoice;
    int cfop = 0;
    QString cst;
    int itemNumber = 0;
    QString productCode;
    double quantity = 0;
    double productValue = 0;
    double discount = 0; // discount or extra charges
    double icmsBase = 0;
    double icmsStBase = 0;
    double ipiValue = 0;
    double icmsRate = 0;
};

// Record 75.
struct Product
{
    QString code;
    QString ncm;
    QString description;
    QString unit;
    double ipiRate = 0;
    double icmsRate = 0;
    double baseReduction = 0;
    double stBase = 0;
};

// Each function writes or returns one record of exactly kRecordLength ASCII characters. They throw
// LayoutError, naming the record type and field, when a value does not fit its field; the line is
// then left half-written. record10 also throws when the period ends before it starts.
void writeRecord10(RecordLine &line, const Informant &informant, const Period &period);
void writeRecord11(RecordLine &line, const Informant &informant);
void writeRecord50(RecordLine &line, const Invoice &invoice);
void writeRecord54(RecordLine &line, const Item &item);
void writeRecord75(RecordLine &line, const Product &product, const Period &period);

QByteArray record10(const Informant &informant, const Period &period);
QByteArray record11(const Informant &informant);
QByteArray record50(const Invoice &invoice);
QByteArray record54(const Item &item);
QByteArray record75(const Product &product, const Period &period);

} // namespace fis
