#include "server/fileorderkey.h"

#include "sqldb/sqliteconnection.h"

#include <QByteArray>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace fis {

namespace {

constexpr char kName[] = "fis_file_order_key";
constexpr int kArguments = 7;

// Type tags: SQLite orders NULL before numbers and numbers before text.
constexpr char kNull = 0;
constexpr char kNumber = 1;
constexpr char kText = 2;

// Room for the longest key kept; a longer one is left to the eight expressions.
constexpr size_t kRoom = 512;

// One row's key, written left to right; false from the first value it cannot key exactly.
class KeyWriter
{
public:
    const char *data() const { return m_bytes.data(); }
    int size() const { return int(m_size); }

    void null() { put(&kNull, 1); }

    // Text ends with a zero byte: its own bytes are above zero, so a shorter text that begins
    // a longer one comes first, as SQLite's BINARY collation has it.
    bool text(const unsigned char *bytes, size_t size)
    {
        return put(&kText, 1) && put(bytes, size) && put("", 1);
    }

    // Big-endian with the sign bit flipped: byte order is numeric order.
    bool number(qint64 value)
    {
        const quint64 bits = quint64(value) ^ (quint64(1) << 63);
        unsigned char bytes[9] = {uchar(kNumber)};
        for (int i = 0; i < 8; ++i)
            bytes[1 + i] = uchar(bits >> (56 - 8 * i));
        return put(bytes, sizeof bytes);
    }

private:
    bool put(const void *bytes, size_t size)
    {
        if (m_size + size > kRoom)
            return false;
        std::memcpy(m_bytes.data() + m_size, bytes, size);
        m_size += size;
        return true;
    }

    std::array<char, kRoom> m_bytes;
    size_t m_size = 0;
};

// A value's bytes when it is ASCII text without NUL; false otherwise.
bool asciiText(sqlite3_value *value, const unsigned char *&bytes, size_t &size)
{
    if (sqlite3_value_type(value) != SQLITE_TEXT)
        return false;
    bytes = sqlite3_value_text(value);
    if (!bytes) // SQLite out of memory
        return false;
    size = size_t(sqlite3_value_bytes(value));
    return std::all_of(bytes, bytes + size, [](unsigned char c) { return c != 0 && c < 0x80; });
}

// trim(): blanks only, both ends.
void trimBlanks(const unsigned char *&bytes, size_t &size)
{
    while (size > 0 && bytes[0] == ' ') {
        ++bytes;
        --size;
    }
    while (size > 0 && bytes[size - 1] == ' ')
        --size;
}

// substr(DTEMISSAO, 1, 10)
bool issueDay(KeyWriter &key, sqlite3_value *value)
{
    if (sqlite3_value_type(value) == SQLITE_NULL) {
        key.null();
        return true;
    }
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    return asciiText(value, bytes, size) && key.text(bytes, std::min<size_t>(size, 10));
}

// length(ltrim(trim(NRNOTAFISC), '0')), then ltrim(trim(NRNOTAFISC), '0')
bool invoiceNumber(KeyWriter &key, sqlite3_value *value)
{
    if (sqlite3_value_type(value) == SQLITE_NULL) {
        key.null();
        key.null();
        return true;
    }
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    if (!asciiText(value, bytes, size))
        return false;
    trimBlanks(bytes, size);
    while (size > 0 && bytes[0] == '0') {
        ++bytes;
        --size;
    }
    return key.number(qint64(size)) && key.text(bytes, size);
}

// substr('00000000000000' || coalesce(trim(NRINSJURCLIE), ''), -14)
bool issuerDocument(KeyWriter &key, sqlite3_value *value)
{
    std::array<unsigned char, 14> digits;
    digits.fill('0');
    if (sqlite3_value_type(value) != SQLITE_NULL) {
        const unsigned char *bytes = nullptr;
        size_t size = 0;
        if (!asciiText(value, bytes, size))
            return false;
        trimBlanks(bytes, size);
        if (size >= digits.size())
            std::memcpy(digits.data(), bytes + size - digits.size(), digits.size());
        else
            std::memcpy(digits.data() + digits.size() - size, bytes, size);
    }
    return key.text(digits.data(), digits.size());
}

// CAST(CDMODELONF AS INTEGER), for an integer or up to 18 digits with a sign and blanks around
// them: other text casts by rules of its own (a prefix, exponents, saturation).
bool model(KeyWriter &key, sqlite3_value *value)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        key.null();
        return true;
    case SQLITE_INTEGER:
        return key.number(sqlite3_value_int64(value));
    default:
        break;
    }
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    if (!asciiText(value, bytes, size))
        return false;
    trimBlanks(bytes, size);
    const bool negative = size > 0 && bytes[0] == '-';
    if (size > 0 && (bytes[0] == '-' || bytes[0] == '+')) {
        ++bytes;
        --size;
    }
    if (size == 0 || size > 18)
        return false;
    qint64 number = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] < '0' || bytes[i] > '9')
            return false;
        number = number * 10 + (bytes[i] - '0');
    }
    return key.number(negative ? -number : number);
}

// upper(coalesce(CDSERIE, '')): ASCII letters only, as SQLite's own upper().
bool series(KeyWriter &key, sqlite3_value *value)
{
    std::array<unsigned char, 64> upper;
    if (sqlite3_value_type(value) == SQLITE_NULL)
        return key.text(upper.data(), 0);
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    if (!asciiText(value, bytes, size) || size > upper.size())
        return false;
    for (size_t i = 0; i < size; ++i)
        upper[i] = bytes[i] >= 'a' && bytes[i] <= 'z' ? uchar(bytes[i] - ('a' - 'A')) : bytes[i];
    return key.text(upper.data(), size);
}

// A column as it is: CDFILIAL, NRLANCTONF.
bool column(KeyWriter &key, sqlite3_value *value)
{
    const unsigned char *bytes = nullptr;
    size_t size = 0;
    return asciiText(value, bytes, size) && key.text(bytes, size);
}

// The collation NFCOMPRA declares for a column is SQLite's default.
bool comparesBytes(sqlite3 *db, const char *column)
{
    const char *collation = nullptr;
    return sqlite3_table_column_metadata(db, "main", "NFCOMPRA", column, nullptr, &collation,
                                         nullptr, nullptr, nullptr) == SQLITE_OK &&
           collation && qstricmp(collation, "BINARY") == 0;
}

void fileOrderKey(sqlite3_context *context, int count, sqlite3_value **values)
{
    KeyWriter key;
    const bool keyed = count == kArguments && issueDay(key, values[0]) &&
                       invoiceNumber(key, values[1]) && issuerDocument(key, values[2]) &&
                       model(key, values[3]) && series(key, values[4]) && column(key, values[5]) &&
                       column(key, values[6]);
    if (!keyed) {
        ++*static_cast<qint64 *>(sqlite3_user_data(context));
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_blob(context, key.data(), key.size(), SQLITE_TRANSIENT);
}

} // namespace

FileOrderKey::FileOrderKey(SqliteConnection &db)
    : m_db(db)
    , m_usable(comparesBytes(db.handle(), "CDFILIAL") && comparesBytes(db.handle(), "NRLANCTONF"))
{
    if (sqlite3_create_function_v2(
            db.handle(), kName, kArguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
            &m_unkeyed, fileOrderKey, nullptr, nullptr, nullptr) != SQLITE_OK)
        db.fail(QStringLiteral("Não foi possível registrar a função %1").arg(QLatin1String(kName)));
}

FileOrderKey::~FileOrderKey()
{
    // Gone with the counter it writes to; refused only while a statement using it runs.
    sqlite3_create_function_v2(m_db.handle(), kName, kArguments, SQLITE_UTF8, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
}

} // namespace fis
