#include "records.h"

#include "fieldformat.h"
#include "layouterror.h"

#include <cstring>
#include <exception>

namespace fis {

namespace {

// Writes the fields of one record left to right; each call names the field for error messages.
class FieldWriter
{
public:
    FieldWriter(RecordLine &line, const char *record)
        : m_out(line.data())
        , m_record(record)
    {
        literal(record, 2);
    }

    ~FieldWriter() { Q_ASSERT(m_pos == kRecordLength || std::uncaught_exceptions() > 0); }

    void literal(const char *text, int width)
    {
        std::memcpy(m_out + m_pos, text, size_t(width));
        m_pos += width;
    }
    void number(const char *name, int width, qint64 value)
    {
        writeNumber(next(width), {m_record, name, width}, value);
    }
    void amount(const char *name, int width, int decimals, double value)
    {
        writeAmount(next(width), {m_record, name, width, decimals}, value);
    }
    void text(const char *name, int width, QStringView value)
    {
        writeText(next(width), {m_record, name, width}, value);
    }
    void cutText(const char *name, int width, QStringView value)
    {
        writeText(next(width), {m_record, name, width, 0, true}, value);
    }
    void digits(const char *name, int width, QStringView value)
    {
        writeDigits(next(width), {m_record, name, width}, value);
    }
    void date(const char *name, QDate value) { writeDate(next(8), {m_record, name, 8}, value); }

private:
    char *next(int width)
    {
        char *at = m_out + m_pos;
        m_pos += width;
        return at;
    }

    char *m_out;
    const char *m_record;
    int m_pos = 0;
};

template<typename... Args>
QByteArray toLine(void (*writer)(RecordLine &, const Args &...), const Args &...args)
{
    RecordLine line;
    writer(line, args...);
    return QByteArray(line.data(), kRecordLength);
}

// Invoices past 999999 wrap around in the six-digit field, as the layout asks.
constexpr qint64 invoiceNumberModulus = 1000000;

qint64 lastSixDigits(qint64 number)
{
    return number < 0 ? number : number % invoiceNumberModulus;
}

} // namespace

void writeRecord10(RecordLine &line, const Informant &informant, const Period &period)
{
    if (period.start.isValid() && period.end.isValid() && period.end < period.start)
        throw LayoutError(
            QStringLiteral("Registro 10: o período termina (%1) antes de começar (%2)")
                .arg(period.end.toString(Qt::ISODate), period.start.toString(Qt::ISODate)));
    FieldWriter w(line, "10");
    w.digits("CNPJ", 14, informant.cnpj);
    w.text("inscrição estadual", 14, informant.stateRegistration);
    w.cutText("nome", 35, informant.name);
    w.cutText("município", 30, informant.municipality);
    w.literal("BA", 2);
    w.digits("fax", 10, informant.fax);
    w.date("data inicial", period.start);
    w.date("data final", period.end);
    w.literal("3", 1); // layout code
    w.literal("3", 1); // all operations
    w.literal("1", 1); // normal file
}

void writeRecord11(RecordLine &line, const Informant &informant)
{
    FieldWriter w(line, "11");
    w.cutText("logradouro", 34, informant.street);
    w.digits("número", 5, informant.number);
    w.cutText("complemento", 22, informant.complement);
    w.cutText("bairro", 15, informant.district);
    w.digits("CEP", 8, informant.postalCode);
    w.cutText("nome do contato", 28, informant.contactName);
    w.digits("telefone", 12, informant.phone);
}

void writeRecord50(RecordLine &line, const Invoice &invoice)
{
    const InvoiceKey &key = invoice.key;
    FieldWriter w(line, "50");
    w.digits("CNPJ ou CPF", 14, key.issuerDocument);
    if (QStringView(invoice.issuerStateRegistration).trimmed().isEmpty())
        w.literal("ISENTO        ", 14);
    else
        w.text("inscrição estadual", 14, invoice.issuerStateRegistration);
    w.date("data", key.issueDate);
    w.text("UF", 2, invoice.issuerState);
    w.number("modelo", 2, key.model);
    w.text("série", 3, key.series);
    w.number("número", 6, lastSixDigits(key.number));
    w.number("CFOP", 4, invoice.cfop);
    w.literal(invoice.issuer == InvoiceIssuer::Own ? "P" : "T", 1);
    w.amount("valor total", 13, 2, invoice.totalValue);
    w.amount("base de cálculo do ICMS", 13, 2, invoice.icmsBase);
    w.amount("valor do ICMS", 13, 2, invoice.icmsValue);
    w.amount("isenta ou não tributada", 13, 2, invoice.exemptValue);
    w.amount("outras", 13, 2, invoice.otherValue);
    w.amount("alíquota do ICMS", 4, 2, invoice.icmsRate);
    w.literal(invoice.cancelled ? "S" : "N", 1);
}

void writeRecord54(RecordLine &line, const Item &item)
{
    const InvoiceKey &key = item.invoice;
    FieldWriter w(line, "54");
    w.digits("CNPJ ou CPF", 14, key.issuerDocument);
    w.number("modelo", 2, key.model);
    w.text("série", 3, key.series);
    w.number("número", 6, lastSixDigits(key.number));
    w.number("CFOP", 4, item.cfop);
    w.text("CST", 3, item.cst);
    w.number("número do item", 3, item.itemNumber);
    w.text("código do produto", 14, item.productCode);
    w.amount("quantidade", 11, 3, item.quantity);
    w.amount("valor do produto", 12, 2, item.productValue);
    w.amount("desconto ou despesas acessórias", 12, 2, item.discount);
    w.amount("base de cálculo do ICMS", 12, 2, item.icmsBase);
    w.amount("base de cálculo do ICMS da substituição tributária", 12, 2, item.icmsStBase);
    w.amount("valor do IPI", 12, 2, item.ipiValue);
    w.amount("alíquota do ICMS", 4, 2, item.icmsRate);
}

void writeRecord75(RecordLine &line, const Product &product, const Period &period)
{
    FieldWriter w(line, "75");
    w.date("data inicial", period.start);
    w.date("data final", period.end);
    w.text("código do produto", 14, product.code);
    w.text("código NCM", 8, product.ncm);
    w.cutText("descrição", 53, product.description);
    w.text("unidade", 6, product.unit);
    w.amount("alíquota do IPI", 5, 2, product.ipiRate);
    w.amount("alíquota do ICMS", 4, 2, product.icmsRate);
    w.amount("redução da base de cálculo", 5, 2, product.baseReduction);
    w.amount("base de cálculo da substituição tributária", 13, 2, product.stBase);
}

QByteArray record10(const Informant &informant, const Period &period)
{
    return toLine(&writeRecord10, informant, period);
}

QByteArray record11(const Informant &informant)
{
    return toLine(&writeRecord11, informant);
}

QByteArray record50(const Invoice &invoice)
{
    return toLine(&writeRecord50, invoice);
}

QByteArray record54(const Item &item)
{
    return toLine(&writeRecord54, item);
}

QByteArray record75(const Product &product, const Period &period)
{
    return toLine(&writeRecord75, product, period);
}

} // namespace fis
