#include "dataset/datapacket.h"

#include "base/automationdate.h"
#include "base/hugepages.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringDecoder>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace fis {

namespace {

const QString kFormatName = QStringLiteral("fis-datapacket");
constexpr quint64 kFormatVersion = 1;

QString tr(const char *text)
{
    return QCoreApplication::translate("fis::DataPacket", text);
}

QString tableLabel(const QString &tableName)
{
    return tableName.isEmpty() ? tr("Pacote de dados") : tableName;
}

QString fieldLabel(const QString &tableName, const QString &fieldName)
{
    return tr("%1, campo %2").arg(tableLabel(tableName), fieldName);
}

QString typeName(FieldType type)
{
    switch (type) {
    case FieldType::String:
        return QStringLiteral("string");
    case FieldType::FixedString:
        return QStringLiteral("fixedstring");
    case FieldType::Float:
        return QStringLiteral("float");
    case FieldType::DateTime:
        return QStringLiteral("datetime");
    }
    return {};
}

bool typeFromName(const QString &name, FieldType *type)
{
    for (FieldType t :
         {FieldType::String, FieldType::FixedString, FieldType::Float, FieldType::DateTime}) {
        if (name == typeName(t)) {
            *type = t;
            return true;
        }
    }
    return false;
}

bool sameKind(FieldType a, FieldType b)
{
    const auto text = [](FieldType t) {
        return t == FieldType::String || t == FieldType::FixedString;
    };
    return a == b || (text(a) && text(b));
}

// length < 0: only known to exceed the size.
[[noreturn]] void throwTooLong(const QString &tableName, const FieldDef &field, qsizetype length)
{
    if (length < 0)
        throw DataSetError(tr("%1: o texto é maior que o tamanho do campo (%2).")
                               .arg(fieldLabel(tableName, field.name))
                               .arg(field.size));
    throw DataSetError(tr("%1: um texto de %2 caracteres não cabe no tamanho do campo (%3).")
                           .arg(fieldLabel(tableName, field.name))
                           .arg(length)
                           .arg(field.size));
}

bool validDateRange(const QDate &date)
{
    return date.isValid() && date.year() >= 100 && date.year() <= 9999;
}

// CBOR (RFC 8949) is written and read here directly on the bytes: Qt's stream reader and writer
// spend more time per item than a whole 100,000-row invoice list may take. Only what packets
// use is written; reading accepts every encoding of those items (any integer or float width,
// indefinite lengths) and refuses everything else.

enum Major : quint8 {
    UnsignedInt = 0,
    NegativeInt = 1,
    ByteString = 2,
    TextString = 3,
    Array = 4,
    Map = 5,
    Tag = 6,
    Simple = 7,
};

constexpr uchar kFalse = 0xf4;
constexpr uchar kTrue = 0xf5;
constexpr uchar kNull = 0xf6;
constexpr uchar kBreak = 0xff;

// Eight bytes at a time: every text cell of a large packet goes through here.
bool isAscii(const uchar *p, qsizetype n)
{
    quint64 any = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        memcpy(&word, p + i, 8);
        any |= word;
    }
    for (; i < n; ++i)
        any |= p[i];
    return (any & 0x8080808080808080ull) == 0;
}

// The julian days of the automation epoch and of the years a packet's dates may have.
const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();
const qint64 kFirstJulianDay = QDate(100, 1, 1).toJulianDay();
const qint64 kLastJulianDay = QDate(9999, 12, 31).toJulianDay();

// IEEE 754 half precision, as RFC 8949 appendix D decodes it.
double halfToDouble(quint16 half)
{
    const int exponent = (half >> 10) & 0x1f;
    const int mantissa = half & 0x3ff;
    double value;
    if (exponent == 0)
        value = std::ldexp(mantissa, -24);
    else if (exponent != 31)
        value = std::ldexp(mantissa + 1024, exponent - 25);
    else
        value = mantissa == 0 ? INFINITY : NAN;
    return (half & 0x8000) ? -value : value;
}

class Output
{
public:
    void reserve(qsizetype n)
    {
        // What has been written so far moves with the room, which is advised before the rest
        // of it is touched.
        if (n >= kLargeBlock)
            reserveAdvised(m_bytes, n);
        else
            m_bytes.reserve(n);
    }

    void head(quint8 major, quint64 value)
    {
        char *p = grow(9);
        const char m = char(major << 5);
        if (value < 24) {
            p[0] = char(m | char(value));
            m_size += 1;
        } else if (value <= 0xff) {
            p[0] = char(m | 24);
            p[1] = char(value);
            m_size += 2;
        } else if (value <= 0xffff) {
            p[0] = char(m | 25);
            qToBigEndian(quint16(value), p + 1);
            m_size += 3;
        } else if (value <= 0xffffffffu) {
            p[0] = char(m | 26);
            qToBigEndian(quint32(value), p + 1);
            m_size += 5;
        } else {
            p[0] = char(m | 27);
            qToBigEndian(quint64(value), p + 1);
            m_size += 9;
        }
    }

    void byte(uchar b)
    {
        *grow(1) = char(b);
        m_size += 1;
    }

    void text(QStringView s)
    {
        const qsizetype n = s.size();
        bool ascii = true;
        for (const QChar c : s) {
            if (c.unicode() >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            head(TextString, quint64(n));
            char *p = grow(n);
            for (qsizetype i = 0; i < n; ++i)
                p[i] = char(s[i].unicode());
            m_size += n;
        } else {
            const QByteArray utf8 = s.toUtf8();
            head(TextString, quint64(utf8.size()));
            memcpy(grow(utf8.size()), utf8.constData(), size_t(utf8.size()));
            m_size += utf8.size();
        }
    }

    // Integral numbers travel as CBOR integers (shorter, and exact); others as the shortest
    // float that holds them exactly.
    void number(double value)
    {
        constexpr double kExactLimit = 9007199254740992.0; // 2^53
        if (value == std::trunc(value) && std::fabs(value) < kExactLimit &&
            !(value == 0 && std::signbit(value))) {
            if (value >= 0)
                head(UnsignedInt, quint64(value));
            else
                head(NegativeInt, quint64(-1.0 - value));
            return;
        }
        const float single = float(value);
        if (double(single) == value) {
            char *p = grow(5);
            p[0] = char(0xfa);
            quint32 bits;
            memcpy(&bits, &single, 4);
            qToBigEndian(bits, p + 1);
            m_size += 5;
        } else {
            char *p = grow(9);
            p[0] = char(0xfb);
            quint64 bits;
            memcpy(&bits, &value, 8);
            qToBigEndian(bits, p + 1);
            m_size += 9;
        }
    }

    // A text string item of UTF-8 already checked.
    void utf8Text(QByteArrayView utf8)
    {
        const qsizetype n = utf8.size();
        if (n < 24) {
            char *p = grow(1 + n);
            p[0] = char(TextString << 5 | n);
            if (n > 0)
                memcpy(p + 1, utf8.data(), size_t(n));
            m_size += 1 + n;
            return;
        }
        head(TextString, quint64(n));
        raw(utf8);
    }

    void raw(QByteArrayView bytes)
    {
        memcpy(grow(bytes.size()), bytes.data(), size_t(bytes.size()));
        m_size += bytes.size();
    }

    QByteArrayView bytes() const { return QByteArrayView(m_bytes.constData(), m_size); }
    void clear() { m_size = 0; }

    qsizetype size() const { return m_size; }

    QByteArray take()
    {
        m_bytes.resize(m_size);
        m_size = 0;
        return std::move(m_bytes);
    }

private:
    // Room for n more bytes; the array grows geometrically, within the room reserved first, and
    // is trimmed by take().
    char *grow(qsizetype n)
    {
        if (m_size + n > m_bytes.size()) {
            qsizetype size = qMax(m_size + n, qMax<qsizetype>(256, m_bytes.size() * 2));
            if (m_size + n <= m_bytes.capacity())
                size = qMin(size, m_bytes.capacity());
            if (size > m_bytes.capacity() && size >= kLargeBlock)
                moveToAdvisedRoom(size);
            m_bytes.resize(size);
        }
        return m_bytes.data() + m_size;
    }

    // A large packet's bytes move to new room advised before the copy first touches it
    // (adviseHugePages()); a reallocation would copy into room faulted in 4 KB at a time.
    static constexpr qsizetype kLargeBlock = qsizetype(4) << 20;
    void moveToAdvisedRoom(qsizetype size)
    {
        QByteArray room;
        reserveAdvised(room, size);
        room.resize(m_size);
        std::memcpy(room.data(), m_bytes.constData(), size_t(m_size));
        m_bytes = std::move(room);
    }
    static void reserveAdvised(QByteArray &bytes, qsizetype size)
    {
        bytes.reserve(size);
        adviseHugePages(bytes.data(), bytes.capacity());
    }

    QByteArray m_bytes;
    qsizetype m_size = 0;
};

// A cell of a value in its stored form (normalizedFieldValue()), as writers put it.
void writeCell(Output &out, const FieldDef &field, const QVariant &value)
{
    if (!value.isValid()) {
        out.byte(kNull);
    } else if (field.isText()) {
        out.text(*static_cast<const QString *>(value.constData()));
    } else if (field.type == FieldType::Float) {
        out.number(*static_cast<const double *>(value.constData()));
    } else {
        out.head(Tag, kAutomationDateTag);
        out.number(toAutomationDate(*static_cast<const QDateTime *>(value.constData())));
    }
}

int headSize(quint64 value)
{
    return value < 24 ? 1 : value <= 0xff ? 2 : value <= 0xffff ? 3 : value <= 0xffffffffu ? 5 : 9;
}

// Packet decoding. Every structural check fails with a message that says what was expected
// where; nothing is kept from a failed decode. Containers are only entered where the format
// has one, so nesting is bounded by the format itself.
class Decoder
{
public:
    Decoder(const QByteArray &packet, const QString &tableName)
        : m_begin(reinterpret_cast<const uchar *>(packet.constData()))
        , m_p(m_begin)
        , m_end(m_begin + packet.size())
        , m_table(tableName)
    {}

    // Reads the packet. With `declared`, rows come out in the declared fields' order.
    void run(const QList<FieldDef> *declared, DataPacket *out)
    {
        if (m_p == m_end)
            fail(tr("o pacote está vazio"));
        Count top = container(Map, "o pacote");
        bool seenFormat = false, seenVersion = false, seenFields = false, seenRows = false;
        while (more(top)) {
            const QString key = readText(32, "uma chave");
            if (key == QLatin1String("format")) {
                once(&seenFormat, key);
                if (readText(64, "o nome do formato") != kFormatName)
                    fail(tr("não é um fis-datapacket"));
            } else if (key == QLatin1String("version")) {
                once(&seenVersion, key);
                const quint64 version = readUnsigned("a versão");
                if (version != kFormatVersion)
                    fail(tr("a versão %1 não é suportada").arg(version));
            } else if (key == QLatin1String("fields")) {
                once(&seenFields, key);
                readFields(&out->fields);
                mapFields(declared ? *declared : out->fields, out->fields);
            } else if (key == QLatin1String("rows")) {
                once(&seenRows, key);
                if (!seenFields)
                    fail(tr("as linhas vêm antes dos campos"));
                if (m_packed)
                    readPackedRows(m_packed);
                else
                    readRows(&out->rows);
            } else {
                fail(tr("chave desconhecida: \"%1\"").arg(key));
            }
        }
        if (!seenFormat || !seenVersion)
            fail(tr("falta o nome ou a versão do formato"));
        if (!seenFields || !seenRows)
            fail(tr("faltam os campos ou as linhas"));
        if (m_p != m_end)
            fail(tr("há dados depois do fim do pacote"));
        if (declared)
            out->fields = *declared;
    }

    // Rows come out packed (into `rows`) instead of into the DataPacket.
    void packRowsInto(std::vector<PackedRow> *rows) { m_packed = rows; }

    // Reading a packed row: the decoder runs over the row's bytes.
    QVariant cellAt(int index, const FieldDef &field)
    {
        for (int i = 0; i < index; ++i)
            skipCell();
        return readCell(-1, field);
    }

    // Where each of a packed row's `count` cells begins, and where the last one ends.
    std::vector<const uchar *> cellBounds(int count)
    {
        std::vector<const uchar *> bounds;
        bounds.reserve(size_t(count) + 1);
        for (int i = 0; i < count; ++i) {
            bounds.push_back(m_p);
            skipCell();
        }
        bounds.push_back(m_p);
        return bounds;
    }

    QByteArrayView textAt(int index, const FieldDef &field, QByteArray *scratch)
    {
        for (int i = 0; i < index; ++i)
            skipCell();
        if (peek() == kNull)
            return {};
        const Head h = head();
        if (h.major == TextString && !h.indefinite && h.value <= quint64(remaining()))
            return QByteArrayView(reinterpret_cast<const char *>(m_p), qsizetype(h.value));
        m_p = m_begin;
        *scratch = cellAt(index, field).toString().toUtf8();
        return *scratch;
    }

private:
    struct Head
    {
        quint8 major = 0;
        quint8 info = 0;
        quint64 value = 0;
        bool indefinite = false;
    };

    // Items left in a container: a count, or open-ended until a break.
    struct Count
    {
        quint64 left = 0;
        bool indefinite = false;
    };

    [[noreturn]] void fail(const QString &what) const
    {
        throw DataSetError(tr("%1: pacote de dados inválido (%2, no byte %3).")
                               .arg(tableLabel(m_table), what)
                               .arg(m_p - m_begin));
    }

    void once(bool *seen, const QString &key) const
    {
        if (*seen)
            fail(tr("a chave \"%1\" aparece duas vezes").arg(key));
        *seen = true;
    }

    qsizetype remaining() const { return m_end - m_p; }

    uchar peek() const
    {
        if (m_p >= m_end)
            fail(tr("o pacote termina antes do esperado"));
        return *m_p;
    }

    Head head()
    {
        const uchar initial = peek();
        Head h;
        h.major = quint8(initial >> 5);
        h.info = quint8(initial & 0x1f);
        if (initial == kBreak)
            fail(tr("fim inesperado de um contêiner"));
        if (h.info < 24) {
            h.value = h.info;
            m_p += 1;
            return h;
        }
        if (h.info == 31) {
            if (h.major < ByteString || h.major > Map)
                fail(tr("um item tem comprimento indefinido onde isso não é permitido"));
            h.indefinite = true;
            m_p += 1;
            return h;
        }
        if (h.info > 27)
            fail(tr("item CBOR reservado"));
        const qsizetype size = qsizetype(1) << (h.info - 24);
        if (remaining() < 1 + size)
            fail(tr("o pacote termina antes do esperado"));
        const uchar *q = m_p + 1;
        switch (size) {
        case 1:
            h.value = q[0];
            break;
        case 2:
            h.value = qFromBigEndian<quint16>(q);
            break;
        case 4:
            h.value = qFromBigEndian<quint32>(q);
            break;
        default:
            h.value = qFromBigEndian<quint64>(q);
            break;
        }
        m_p += 1 + size;
        return h;
    }

    Count container(Major major, const char *what)
    {
        const Head h = head();
        if (h.major != major)
            fail(major == Map ? tr("%1 não é um mapa").arg(tr(what))
                              : tr("%1 não é uma lista").arg(tr(what)));
        // Every item takes at least one byte: a larger count is a lie, and must not be believed.
        if (!h.indefinite && h.value > quint64(remaining()))
            fail(tr("%1 declara mais itens do que o pacote contém").arg(tr(what)));
        return Count{h.value, h.indefinite};
    }

    // Whether another item (of a map: another key and value) follows in the container.
    bool more(Count &c)
    {
        if (c.indefinite) {
            if (peek() == kBreak) {
                ++m_p;
                return false;
            }
            return true;
        }
        if (c.left == 0)
            return false;
        --c.left;
        return true;
    }

    quint64 readUnsigned(const char *what)
    {
        const Head h = head();
        if (h.major != UnsignedInt)
            fail(tr("%1 não é um número sem sinal").arg(tr(what)));
        return h.value;
    }

    bool readBool(const char *what)
    {
        const uchar b = peek();
        if (b != kTrue && b != kFalse)
            fail(tr("%1 não é verdadeiro nem falso").arg(tr(what)));
        ++m_p;
        return b == kTrue;
    }

    // A text string of at most maxChars UTF-16 units. A definite length is checked before any
    // byte is taken (a UTF-16 unit comes from at most 3 bytes of UTF-8), so a forged length
    // never allocates.
    QString readText(qsizetype maxChars, const char *what, const FieldDef *field = nullptr)
    {
        const Head h = head();
        if (h.major != TextString)
            fail(field ? tr("o campo %1 tem um valor que não é texto").arg(field->name)
                       : tr("%1 não é um texto").arg(tr(what)));
        const quint64 maxBytes = quint64(maxChars) * 3;
        if (!h.indefinite) {
            if (h.value > maxBytes)
                tooLong(-1, what, field);
            if (h.value > quint64(remaining()))
                fail(tr("o pacote termina antes do esperado"));
            const uchar *bytes = m_p;
            m_p += h.value;
            return checkedText(decodeText(bytes, qsizetype(h.value)), maxChars, what, field);
        }
        QByteArray joined;
        for (;;) {
            if (peek() == kBreak) {
                ++m_p;
                break;
            }
            const Head chunk = head();
            if (chunk.major != TextString || chunk.indefinite)
                fail(tr("um texto está dividido em partes que não são textos"));
            if (chunk.value > quint64(remaining()))
                fail(tr("o pacote termina antes do esperado"));
            if (quint64(joined.size()) + chunk.value > maxBytes)
                tooLong(-1, what, field);
            joined.append(reinterpret_cast<const char *>(m_p), qsizetype(chunk.value));
            m_p += chunk.value;
        }
        return checkedText(
            decodeText(reinterpret_cast<const uchar *>(joined.constData()), joined.size()),
            maxChars, what, field);
    }

    QString checkedText(QString text, qsizetype maxChars, const char *what,
                        const FieldDef *field) const
    {
        if (text.size() > maxChars)
            tooLong(text.size(), what, field);
        return text;
    }

    QString decodeText(const uchar *bytes, qsizetype n)
    {
        if (isAscii(bytes, n))
            return QString::fromLatin1(reinterpret_cast<const char *>(bytes), n);
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless |
                                   QStringConverter::Flag::ConvertInitialBom);
        QString text = decoder.decode(QByteArrayView(reinterpret_cast<const char *>(bytes), n));
        if (decoder.hasError())
            fail(tr("um texto não é UTF-8 válido"));
        return text;
    }

    // Values of a column repeat throughout a list (flags, codes, branches, clients): repeated
    // values share one string, which saves an allocation per cell and the memory it takes.
    // A column with more distinct values than the cache holds stops being looked up.
    QString columnText(int column, const FieldDef &field)
    {
        constexpr qsizetype kMaxCachedBytes = 96;
        constexpr qsizetype kMaxDistinct = 256; // a small table stays in the CPU cache
        ColumnCache &cache = m_columnCaches[size_t(column)];
        const uchar initial = peek();
        const quint8 info = initial & 0x1f;
        if (!cache.enabled || initial >> 5 != TextString || info == 31 || info > 24 ||
            (info == 24 && remaining() >= 2 && m_p[1] > kMaxCachedBytes))
            return readText(field.size, "um valor", &field);
        const qsizetype n = info < 24 ? info : (remaining() >= 2 ? m_p[1] : 0);
        const qsizetype headSize = info < 24 ? 1 : 2;
        if (remaining() < headSize + n)
            return readText(field.size, "um valor", &field); // reports the truncation
        // The key views the packet's own bytes, which outlive the decode.
        const std::string_view key(reinterpret_cast<const char *>(m_p + headSize), size_t(n));
        const auto it = cache.texts.find(key);
        if (it != cache.texts.end()) {
            m_p += headSize + n;
            return it->second;
        }
        QString text = readText(field.size, "um valor", &field);
        cache.texts.emplace(key, text);
        if (cache.texts.size() >= size_t(kMaxDistinct)) {
            cache.enabled = false;
            cache.texts.clear();
        }
        return text;
    }

    [[noreturn]] void tooLong(qsizetype length, const char *what, const FieldDef *field) const
    {
        if (field)
            throwTooLong(m_table, *field, length);
        fail(tr("%1 passa do tamanho máximo").arg(tr(what)));
    }

    // Any CBOR number: integer, half, single or double float; NaN and infinities are refused.
    double readNumber(const FieldDef &field)
    {
        const uchar initial = peek();
        double value = 0;
        if (initial == 0xf9 || initial == 0xfa || initial == 0xfb) {
            const Head h = head();
            if (h.info == 25) {
                const quint16 bits = quint16(h.value);
                value = halfToDouble(bits);
            } else if (h.info == 26) {
                const quint32 bits = quint32(h.value);
                float single;
                memcpy(&single, &bits, 4);
                value = double(single);
            } else {
                memcpy(&value, &h.value, 8);
            }
        } else {
            const Head h = head();
            if (h.major == UnsignedInt)
                value = double(h.value);
            else if (h.major == NegativeInt)
                value = -1.0 - double(h.value);
            else
                fail(tr("o campo %1 tem um valor que não é número").arg(field.name));
        }
        if (!std::isfinite(value))
            fail(tr("o campo %1 tem um número que não é finito").arg(field.name));
        return value;
    }

    void readFields(QList<FieldDef> *fields)
    {
        Count list = container(Array, "a lista de campos");
        if (!list.indefinite && list.left > quint64(kMaxPacketFields))
            fail(tr("campos demais"));
        QHash<QString, int> names;
        while (more(list)) {
            if (fields->size() >= kMaxPacketFields)
                fail(tr("campos demais"));
            FieldDef field = readField();
            const QString key = field.name.toUpper();
            if (names.contains(key))
                fail(tr("o campo %1 foi declarado duas vezes").arg(field.name));
            names.insert(key, int(fields->size()));
            fields->append(std::move(field));
        }
        if (fields->isEmpty())
            fail(tr("o pacote não declara nenhum campo"));
    }

    FieldDef readField()
    {
        Count map = container(Map, "uma declaração de campo");
        FieldDef field;
        bool hasName = false, hasType = false, hasSize = false;
        QStringList seen;
        while (more(map)) {
            const QString key = readText(32, "uma chave");
            if (seen.contains(key))
                fail(tr("a chave \"%1\" aparece duas vezes em um campo").arg(key));
            seen.append(key);
            if (key == QLatin1String("name")) {
                field.name = readText(kMaxFieldNameLength, "um nome de campo");
                hasName = true;
            } else if (key == QLatin1String("type")) {
                const QString type = readText(32, "um tipo de campo");
                if (!typeFromName(type, &field.type))
                    fail(tr("tipo de campo desconhecido: \"%1\"").arg(type));
                hasType = true;
            } else if (key == QLatin1String("size")) {
                const quint64 size = readUnsigned("um tamanho de campo");
                if (size == 0 || size > quint64(kMaxFieldTextSize))
                    fail(
                        tr("um tamanho de campo não é um número de 1 a %1").arg(kMaxFieldTextSize));
                field.size = int(size);
                hasSize = true;
            } else if (key == QLatin1String("label")) {
                field.label = readText(kMaxFieldAttributeLength, "um rótulo de campo");
            } else if (key == QLatin1String("visible")) {
                field.visible = readBool("o indicador visible");
            } else if (key == QLatin1String("readOnly")) {
                field.readOnly = readBool("o indicador readOnly");
            } else if (key == QLatin1String("required")) {
                field.required = readBool("o indicador required");
            } else if (key == QLatin1String("displayFormat")) {
                field.displayFormat = readText(kMaxFieldAttributeLength, "um formato de exibição");
            } else {
                fail(tr("chave desconhecida em um campo: \"%1\"").arg(key));
            }
        }
        if (!hasName || field.name.isEmpty())
            fail(tr("um campo não tem nome"));
        if (!hasType)
            fail(tr("o campo %1 não tem tipo").arg(field.name));
        if (field.isText() != hasSize)
            fail(field.isText()
                     ? tr("o campo de texto %1 não tem tamanho").arg(field.name)
                     : tr("o campo %1 tem tamanho, mas não é do tipo texto").arg(field.name));
        return field;
    }

    // Builds, for each packet field, the target column and declaration it is read into.
    void mapFields(const QList<FieldDef> &declared, const QList<FieldDef> &packetFields)
    {
        m_targets.clear();
        m_columns.clear();
        m_declared = &declared;
        QList<bool> used(declared.size(), false);
        for (const FieldDef &pf : packetFields) {
            int target = -1;
            for (int i = 0; i < declared.size(); ++i) {
                if (declared.at(i).name.compare(pf.name, Qt::CaseInsensitive) == 0) {
                    target = i;
                    break;
                }
            }
            if (target < 0)
                fail(tr("o campo %1 não está declarado na tabela").arg(pf.name));
            const FieldDef &df = declared.at(target);
            if (!sameKind(df.type, pf.type))
                fail(tr("o campo %1 é %2 no pacote, mas %3 na tabela")
                         .arg(pf.name, typeName(pf.type), typeName(df.type)));
            used[target] = true;
            m_targets.push_back(&df);
            m_columns.push_back(target);
        }
        for (int i = 0; i < declared.size(); ++i) {
            if (!used.at(i))
                fail(tr("falta o campo %1").arg(declared.at(i).name));
        }
        m_columnCount = int(declared.size());
    }

    void readRows(std::vector<DataRow> *rows)
    {
        Count list = container(Array, "a lista de linhas");
        if (!list.indefinite)
            rows->reserve(size_t(list.left));
        const int packetColumns = int(m_targets.size());
        m_columnCaches.assign(size_t(packetColumns), ColumnCache());
        while (more(list)) {
            const qsizetype rowNumber = qsizetype(rows->size()) + 1;
            Count cellsLeft = container(Array, "uma linha");
            if (!cellsLeft.indefinite && cellsLeft.left != quint64(packetColumns))
                fail(tr("a linha %1 tem %2 valores para %3 campos")
                         .arg(rowNumber)
                         .arg(cellsLeft.left)
                         .arg(packetColumns));
            DataRow row(m_columnCount);
            QVariant *cells = row.data();
            for (int i = 0; i < packetColumns; ++i) {
                if (!more(cellsLeft))
                    fail(tr("a linha %1 tem menos valores que campos").arg(rowNumber));
                cells[m_columns[size_t(i)]] = readCell(i, *m_targets[size_t(i)]);
            }
            if (more(cellsLeft))
                fail(tr("a linha %1 tem mais valores que campos").arg(rowNumber));
            rows->push_back(std::move(row));
        }
    }

    QVariant readCell(int column, const FieldDef &field)
    {
        if (peek() == kNull) {
            ++m_p;
            return {};
        }
        switch (field.type) {
        case FieldType::String:
        case FieldType::FixedString:
            return QVariant(column < 0 ? readText(field.size, "um valor", &field)
                                       : columnText(column, field));
        case FieldType::Float:
            return QVariant(readNumber(field));
        case FieldType::DateTime: {
            const uchar initial = peek();
            if (initial >> 5 != Tag)
                fail(tr("o campo %1 tem um valor que não é data").arg(field.name));
            const Head tag = head();
            if (tag.value != kAutomationDateTag)
                fail(tr("o campo %1 tem um valor que não é data").arg(field.name));
            const QDateTime value = fromAutomationDate(readNumber(field));
            if (!value.isValid())
                fail(tr("o campo %1 tem uma data fora do intervalo aceito").arg(field.name));
            return QVariant(value);
        }
        }
        return {};
    }

    // One cell of a checked row, of any kind.
    void skipCell()
    {
        if (peek() == kNull) {
            ++m_p;
            return;
        }
        const Head h = head();
        if (h.major == Tag) {
            skipCell();
        } else if (h.major == TextString && !h.indefinite) {
            m_p += h.value;
        } else if (h.major == TextString) {
            while (peek() != kBreak)
                m_p += head().value;
            ++m_p;
        }
    }

    // Checks a cell as readCell() does without making its value (most texts are ASCII and
    // need no conversion to be measured), and whether it is written as a writer would write
    // its value: a row that is not is written anew, so that saving gives what writers give.
    void checkCell(const FieldDef &field)
    {
        const uchar *start = m_p;
        const uchar initial = peek();
        if (initial == kNull) {
            ++m_p;
            return;
        }
        if (field.isText() && initial >> 5 == TextString && (initial & 0x1f) != 31) {
            const Head h = head();
            if (h.value <= quint64(remaining())) {
                const qsizetype n = qsizetype(h.value);
                // Well-formed UTF-8 is what the decoder accepts, and written again as it is.
                const qsizetype units =
                    isAscii(m_p, n)
                        ? n
                        : utf16Length(QByteArrayView(reinterpret_cast<const char *>(m_p), n));
                if (units >= 0 && units <= field.size) {
                    if (m_p - start != headSize(h.value))
                        m_canonical = false;
                    m_p += n;
                    return;
                }
            }
            m_p = start;
        }
        if (checkWholeNumber(field, start))
            return;
        const QVariant value = readCell(-1, field);
        m_written.clear();
        writeCell(m_written, field, value);
        if (m_written.bytes() != QByteArrayView(start, m_p - start))
            m_canonical = false;
    }

    // A float or date cell holding a whole number (a date at midnight), as writers write them,
    // checked without making its value: an integer head of the shortest form, within 2^53 (a
    // writer puts larger numbers as floats), and for a date within the years 100 to 9999. False,
    // with nothing read, for anything else.
    bool checkWholeNumber(const FieldDef &field, const uchar *start)
    {
        if (field.isText())
            return false;
        const uchar *p = m_p;
        if (field.type == FieldType::DateTime) {
            // Tag 1899 in its shortest form: 0xd9 0x07 0x6b.
            if (remaining() < 3 || p[0] != 0xd9 || p[1] != 0x07 || p[2] != 0x6b)
                return false;
            p += 3;
        }
        if (p >= m_end || (*p >> 5 != UnsignedInt && *p >> 5 != NegativeInt))
            return false;
        m_p = p;
        const Head h = head();
        constexpr quint64 kExactLimit = 9007199254740992ull; // 2^53
        const bool negative = h.major == NegativeInt;
        bool whole = !h.indefinite && h.value < kExactLimit;
        if (whole && field.type == FieldType::DateTime) // fromAutomationDate()'s range
            whole = negative ? h.value + 1 < 657435 : h.value < 2958466;
        if (!whole) {
            m_p = start;
            return false;
        }
        if (m_p - p != headSize(h.value))
            m_canonical = false;
        return true;
    }

    void readPackedRows(std::vector<PackedRow> *rows)
    {
        Count list = container(Array, "a lista de linhas");
        if (!list.indefinite)
            rows->reserve(size_t(list.left));
        const int columns = int(m_targets.size());
        bool inOrder = true;
        for (int i = 0; i < columns; ++i)
            inOrder = inOrder && m_columns[size_t(i)] == i;
        std::vector<std::pair<const uchar *, const uchar *>> cells(static_cast<size_t>(columns));
        while (more(list)) {
            const qsizetype rowNumber = qsizetype(rows->size()) + 1;
            Count cellsLeft = rowCells(rowNumber, columns);
            m_canonical = true;
            for (int i = 0; i < columns; ++i) {
                if (!more(cellsLeft))
                    fail(tr("a linha %1 tem menos valores que campos").arg(rowNumber));
                const uchar *start = m_p;
                checkCell(*m_targets[size_t(i)]);
                cells[size_t(m_columns[size_t(i)])] = {start, m_p};
            }
            if (more(cellsLeft))
                fail(tr("a linha %1 tem mais valores que campos").arg(rowNumber));
            PackedRow row = packedOf(cells, inOrder);
            if (!m_canonical)
                row = packRow(unpackRow(row, *m_declared), *m_declared, m_table);
            rows->push_back(std::move(row));
        }
    }

    Count rowCells(qsizetype rowNumber, int columns)
    {
        Count cells = container(Array, "uma linha");
        if (!cells.indefinite && cells.left != quint64(columns))
            fail(tr("a linha %1 tem %2 valores para %3 campos")
                     .arg(rowNumber)
                     .arg(cells.left)
                     .arg(columns));
        return cells;
    }

    // A row's cells in the declared order: in the packet's order they are one stretch of it,
    // which the row views instead of copying.
    static PackedRow packedOf(const std::vector<std::pair<const uchar *, const uchar *>> &cells,
                              bool inOrder)
    {
        const auto bytes = [](const uchar *p) {
            return reinterpret_cast<const char *>(p);
        };
        if (inOrder)
            return PackedRow::fromRawData(bytes(cells.front().first),
                                          cells.back().second - cells.front().first);
        PackedRow row;
        for (const auto &[begin, end] : cells)
            row.append(bytes(begin), end - begin);
        return row;
    }

    std::vector<PackedRow> *m_packed = nullptr;
    const QList<FieldDef> *m_declared = nullptr; // the fields rows are read into
    bool m_canonical = true;                     // the row's cells so far as a writer puts them
    Output m_written;
    const uchar *m_begin;
    const uchar *m_p;
    const uchar *m_end;
    QString m_table;
    std::vector<const FieldDef *> m_targets; // per packet field: the declaration it is read as
    std::vector<int> m_columns;              // per packet field: its column in a decoded row
    int m_columnCount = 0;
    struct ColumnCache
    {
        std::unordered_map<std::string_view, QString> texts;
        bool enabled = true;
    };
    std::vector<ColumnCache> m_columnCaches;
};

} // namespace

DataPacket decodePacket(const QByteArray &packet)
{
    DataPacket result;
    Decoder(packet, {}).run(nullptr, &result);
    return result;
}

std::vector<DataRow> decodePacketRows(const QByteArray &packet, const QList<FieldDef> &fields,
                                      const QString &tableName)
{
    DataPacket result;
    Decoder(packet, tableName).run(&fields, &result);
    return std::move(result.rows);
}

PackedPacket decodePacketPacked(const QByteArray &packet, const QString &tableName)
{
    PackedPacket out;
    DataPacket decoded;
    Decoder decoder(packet, tableName);
    decoder.packRowsInto(&out.rows);
    decoder.run(nullptr, &decoded);
    out.fields = std::move(decoded.fields);
    return out;
}

std::vector<PackedRow> decodePackedRows(const QByteArray &packet, const QList<FieldDef> &fields,
                                        const QString &tableName)
{
    std::vector<PackedRow> rows;
    DataPacket decoded;
    Decoder decoder(packet, tableName);
    decoder.packRowsInto(&rows);
    decoder.run(&fields, &decoded);
    return rows;
}

QVariant packedCell(const PackedRow &row, const QList<FieldDef> &fields, int field)
{
    return Decoder(row, {}).cellAt(field, fields.at(field));
}

namespace {

// The head of a definite item at `p` (within `end`): its major type and value, and where its
// content begins; false for anything a writer does not write (indefinite lengths, simple values
// other than null, 64-bit lengths past the end).
inline bool plainHead(const uchar *&p, const uchar *end, quint8 *major, quint64 *value)
{
    if (p >= end)
        return false;
    const uchar initial = *p;
    *major = quint8(initial >> 5);
    const quint8 info = initial & 0x1f;
    if (info < 24) {
        *value = info;
        p += 1;
        return true;
    }
    static constexpr int kSizes[] = {1, 2, 4, 8};
    if (info > 27)
        return false;
    const int n = kSizes[info - 24];
    if (end - p < 1 + n)
        return false;
    quint64 v = 0;
    for (int i = 1; i <= n; ++i)
        v = (v << 8) | p[i];
    *value = v;
    p += 1 + n;
    return true;
}

// Steps over one cell as writers write them; false for anything else.
inline bool skipPlainCell(const uchar *&p, const uchar *end)
{
    if (p < end && *p == kNull) {
        ++p;
        return true;
    }
    quint8 major;
    quint64 value;
    if (!plainHead(p, end, &major, &value))
        return false;
    switch (major) {
    case UnsignedInt:
    case NegativeInt:
        return true;
    case TextString:
        if (value > quint64(end - p))
            return false;
        p += value;
        return true;
    case Tag:
        return skipPlainCell(p, end);
    case Simple: // the floats: their bytes were the head's value
        return true;
    default:
        return false;
    }
}

} // namespace

QByteArrayView packedText(const PackedRow &row, const QList<FieldDef> &fields, int field,
                          QByteArray *scratch)
{
    // Rows are read cell by cell for every painted or searched cell: the usual encodings are
    // stepped over here without setting up a decoder.
    const auto *p = reinterpret_cast<const uchar *>(row.constData());
    const auto *end = p + row.size();
    bool plain = true;
    for (int i = 0; i < field && plain; ++i)
        plain = skipPlainCell(p, end);
    if (plain && p < end) {
        if (*p == kNull)
            return {};
        quint8 major;
        quint64 length;
        if (plainHead(p, end, &major, &length) && major == TextString && length <= quint64(end - p))
            return QByteArrayView(reinterpret_cast<const char *>(p), qsizetype(length));
    }
    return Decoder(row, {}).textAt(field, fields.at(field), scratch);
}

int findPackedTextPrefix(const std::vector<PackedRow> &rows, const QList<FieldDef> &fields,
                         int field, QByteArrayView prefix, int from, int to)
{
    QByteArray scratch;
    for (int row = from; row < to; ++row) {
        const PackedRow &packed = rows[size_t(row)];
        // The usual encodings inline, as in packedText(); anything else through it.
        const auto *p = reinterpret_cast<const uchar *>(packed.constData());
        const auto *end = p + packed.size();
        bool plain = true;
        for (int i = 0; i < field && plain; ++i) {
            // Nulls and short texts, most cells of a list, in a byte.
            if (p < end && (*p == kNull || (*p >= 0x60 && *p < 0x78 && *p - 0x60 < end - p)))
                p += *p == kNull ? 1 : 1 + (*p - 0x60);
            else
                plain = skipPlainCell(p, end);
        }
        quint8 major = 0;
        quint64 length = 0;
        QByteArrayView text;
        if (plain && p < end && *p != kNull && plainHead(p, end, &major, &length) &&
            major == TextString && length <= quint64(end - p))
            text = QByteArrayView(reinterpret_cast<const char *>(p), qsizetype(length));
        else
            text = packedText(packed, fields, field, &scratch);
        if (text.size() >= prefix.size() &&
            (prefix.isEmpty() || memcmp(text.data(), prefix.data(), size_t(prefix.size())) == 0))
            return row;
    }
    return -1;
}

DataRow unpackRow(const PackedRow &row, const QList<FieldDef> &fields)
{
    DataRow values;
    values.reserve(fields.size());
    Decoder decoder(row, {});
    for (const FieldDef &field : fields)
        values.append(decoder.cellAt(0, field));
    return values;
}

PackedRow packRow(const DataRow &row, const QList<FieldDef> &fields, const QString &tableName)
{
    Output out;
    for (qsizetype i = 0; i < fields.size(); ++i)
        writeCell(out, fields.at(i), normalizedFieldValue(fields.at(i), row.at(i), tableName));
    return out.take();
}

PackedRow packEditedRow(const PackedRow &original, const DataRow &values,
                        const std::vector<bool> &changed, const QList<FieldDef> &fields)
{
    const int count = int(fields.size());
    const std::vector<const uchar *> bounds = Decoder(original, {}).cellBounds(count);
    Output out;
    out.reserve(original.size() + 64);
    for (int i = 0; i < count; ++i) {
        if (changed[size_t(i)])
            writeCell(out, fields.at(i), values.at(i));
        else
            out.raw(QByteArrayView(bounds[size_t(i)], bounds[size_t(i) + 1]));
    }
    return out.take();
}

qsizetype utf16Length(QByteArrayView utf8)
{
    const auto *p = reinterpret_cast<const uchar *>(utf8.data());
    const auto *end = p + utf8.size();
    qsizetype units = 0;
    const auto continuation = [&](const uchar *at) {
        return at < end && (*at & 0xc0) == 0x80;
    };
    while (p < end) {
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            ++units;
        } else if (c >= 0xc2 && c <= 0xdf) {
            if (!continuation(p + 1))
                return -1;
            p += 2;
            ++units;
        } else if (c >= 0xe0 && c <= 0xef) {
            if (!continuation(p + 1) || !continuation(p + 2))
                return -1;
            if ((c == 0xe0 && p[1] < 0xa0) || (c == 0xed && p[1] > 0x9f))
                return -1; // overlong, or a surrogate
            p += 3;
            ++units;
        } else if (c >= 0xf0 && c <= 0xf4) {
            if (!continuation(p + 1) || !continuation(p + 2) || !continuation(p + 3))
                return -1;
            if ((c == 0xf0 && p[1] < 0x90) || (c == 0xf4 && p[1] > 0x8f))
                return -1; // overlong, or past U+10FFFF
            p += 4;
            units += 2;
        } else {
            return -1;
        }
    }
    return units;
}

QByteArray encodePacket(const QList<FieldDef> &fields, const std::vector<DataRow> &rows)
{
    PacketWriter writer(fields, qsizetype(rows.size()));
    for (const DataRow &row : rows)
        writer.addRow(row);
    return writer.finish();
}

void validateFieldDef(const FieldDef &field, const QString &tableName)
{
    if (field.name.isEmpty())
        throw DataSetError(tr("%1: um campo precisa de nome.").arg(tableLabel(tableName)));
    if (field.name.size() > kMaxFieldNameLength)
        throw DataSetError(tr("%1: o nome de campo %2 é longo demais.")
                               .arg(tableLabel(tableName), field.name.left(32)));
    if (field.label.size() > kMaxFieldAttributeLength ||
        field.displayFormat.size() > kMaxFieldAttributeLength)
        throw DataSetError(tr("%1: o rótulo ou o formato de exibição é longo demais.")
                               .arg(fieldLabel(tableName, field.name)));
    if (field.isText() && (field.size < 1 || field.size > kMaxFieldTextSize))
        throw DataSetError(tr("%1: um campo de texto precisa de um tamanho de 1 a %2.")
                               .arg(fieldLabel(tableName, field.name))
                               .arg(kMaxFieldTextSize));
    if (!field.isText() && field.size != 0)
        throw DataSetError(
            tr("%1: só campos de texto têm tamanho.").arg(fieldLabel(tableName, field.name)));
}

namespace {

// Qt 6 no longer calls these variants null; a table does.
bool holdsNoValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return static_cast<const QString *>(value.constData())->isNull();
    case QMetaType::QDate:
        return !static_cast<const QDate *>(value.constData())->isValid();
    case QMetaType::QDateTime:
        return !static_cast<const QDateTime *>(value.constData())->isValid();
    default:
        return false;
    }
}

DataSetError wrongTypeError(const FieldDef &field, const QVariant &value, const QString &tableName)
{
    return DataSetError(tr("%1: um valor do tipo %2 não pode ser gravado em um campo %3.")
                            .arg(fieldLabel(tableName, field.name),
                                 QString::fromLatin1(value.metaType().name()),
                                 typeName(field.type)));
}

QVariant normalizedText(const FieldDef &field, const QVariant &value, const QString &tableName)
{
    QString text;
    const int type = value.metaType().id();
    if (type == QMetaType::QString)
        text = value.toString();
    else if (type == QMetaType::QChar)
        text = QString(value.toChar());
    else
        throw wrongTypeError(field, value, tableName);
    if (text.size() > field.size)
        throwTooLong(tableName, field, text.size());
    return QVariant(std::move(text));
}

bool isNumberType(int type)
{
    switch (type) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

QVariant normalizedNumber(const FieldDef &field, const QVariant &value, const QString &tableName)
{
    if (!isNumberType(value.metaType().id()))
        throw wrongTypeError(field, value, tableName);
    const double number = value.toDouble();
    if (!std::isfinite(number))
        throw DataSetError(tr("%1: o número não é finito.").arg(fieldLabel(tableName, field.name)));
    return QVariant(number);
}

QVariant normalizedDateTime(const FieldDef &field, const QVariant &value, const QString &tableName)
{
    QDate date;
    QTime time(0, 0);
    const int type = value.metaType().id();
    if (type == QMetaType::QDateTime) {
        const QDateTime dt = value.toDateTime();
        date = dt.date();
        time = dt.time();
    } else if (type == QMetaType::QDate) {
        date = value.toDate();
    } else {
        throw wrongTypeError(field, value, tableName);
    }
    if (!validDateRange(date))
        throw DataSetError(
            tr("%1: a data está fora dos anos 100 a 9999.").arg(fieldLabel(tableName, field.name)));
    return QVariant(wallClockDateTime(date, time));
}

} // namespace

QVariant normalizedFieldValue(const FieldDef &field, const QVariant &value,
                              const QString &tableName)
{
    if (holdsNoValue(value))
        return {};
    switch (field.type) {
    case FieldType::String:
    case FieldType::FixedString:
        return normalizedText(field, value, tableName);
    case FieldType::Float:
        return normalizedNumber(field, value, tableName);
    case FieldType::DateTime:
        return normalizedDateTime(field, value, tableName);
    }
    return {};
}

struct PacketWriter::Private
{
    QList<FieldDef> fields;
    QString tableName;
    Output out;
    qsizetype declaredRows = -1;
    qsizetype rows = 0;
    int column = 0;
    bool failed = false;
    bool finished = false;

    // The field of the next cell, without writing anything.
    const FieldDef &peekField()
    {
        if (Q_UNLIKELY(failed || finished || (declaredRows >= 0 && rows >= declaredRows)))
            refuseCell();
        return fields.at(column);
    }

    [[noreturn]] Q_NEVER_INLINE void refuseCell()
    {
        if (failed || finished)
            throw DataSetError(
                tr("%1: o gravador do pacote não pode mais ser usado.").arg(tableLabel(tableName)));
        fail(tr("%1: mais linhas que as %2 anunciadas.")
                 .arg(tableLabel(tableName))
                 .arg(declaredRows));
    }

    const FieldDef &nextField()
    {
        const FieldDef &field = peekField();
        if (column == 0)
            out.head(Array, quint64(fields.size()));
        return field;
    }

    void cellDone()
    {
        if (++column == fields.size()) {
            column = 0;
            ++rows;
        }
    }

    [[noreturn]] void fail(const QString &message)
    {
        failed = true;
        throw DataSetError(message);
    }

    [[noreturn]] void wrongCell(const FieldDef &field, const char *given)
    {
        fail(tr("%1: foi informado um valor do tipo %2 para um campo %3.")
                 .arg(fieldLabel(tableName, field.name), tr(given), typeName(field.type)));
    }
};

namespace {

void validatePacketFields(const QList<FieldDef> &fields, const QString &tableName)
{
    if (fields.isEmpty())
        throw DataSetError(tr("%1: um pacote precisa de campos.").arg(tableLabel(tableName)));
    QHash<QString, bool> names;
    for (const FieldDef &field : fields) {
        validateFieldDef(field, tableName);
        const QString key = field.name.toUpper();
        if (names.contains(key))
            throw DataSetError(tr("%1: o campo %2 foi declarado duas vezes.")
                                   .arg(tableLabel(tableName), field.name));
        names.insert(key, true);
    }
    if (fields.size() > kMaxPacketFields)
        throw DataSetError(tr("%1: campos demais.").arg(tableLabel(tableName)));
}

// A field's map holds only the attributes that differ from their defaults.
void writeFieldDef(Output &w, const FieldDef &field)
{
    const bool text = field.isText();
    w.head(Map, 2 + (text ? 1 : 0) + (field.label.isEmpty() ? 0 : 1) + (field.visible ? 0 : 1) +
                    (field.readOnly ? 1 : 0) + (field.required ? 1 : 0) +
                    (field.displayFormat.isEmpty() ? 0 : 1));
    w.text(u"name");
    w.text(field.name);
    w.text(u"type");
    w.text(typeName(field.type));
    if (text) {
        w.text(u"size");
        w.head(UnsignedInt, quint64(field.size));
    }
    if (!field.label.isEmpty()) {
        w.text(u"label");
        w.text(field.label);
    }
    if (!field.visible) {
        w.text(u"visible");
        w.byte(kFalse);
    }
    if (field.readOnly) {
        w.text(u"readOnly");
        w.byte(kTrue);
    }
    if (field.required) {
        w.text(u"required");
        w.byte(kTrue);
    }
    if (!field.displayFormat.isEmpty()) {
        w.text(u"displayFormat");
        w.text(field.displayFormat);
    }
}

// Everything before the first row: the format, its version, the fields and the rows' array.
void writePacketHead(Output &w, const QList<FieldDef> &fields, qsizetype rowCount)
{
    w.reserve(4096);
    w.head(Map, 4);
    w.text(u"format");
    w.text(kFormatName);
    w.text(u"version");
    w.head(UnsignedInt, kFormatVersion);
    w.text(u"fields");
    w.head(Array, quint64(fields.size()));
    for (const FieldDef &field : fields)
        writeFieldDef(w, field);
    w.text(u"rows");
    if (rowCount >= 0) {
        w.head(Array, quint64(rowCount));
        w.reserve(4096 + rowCount * 16 * fields.size());
    } else {
        w.byte(0x9f); // an array of open length, ended by a break
    }
}

} // namespace

PacketWriter::PacketWriter(const QList<FieldDef> &fields, qsizetype rowCount,
                           const QString &tableName)
    : d(std::make_unique<Private>())
{
    validatePacketFields(fields, tableName);
    d->fields = fields;
    d->tableName = tableName;
    d->declaredRows = rowCount;
    writePacketHead(d->out, fields, rowCount);
}

PacketWriter::~PacketWriter() = default;

void PacketWriter::addNull()
{
    d->nextField();
    d->out.byte(kNull);
    d->cellDone();
}

void PacketWriter::addText(QStringView text)
{
    const FieldDef &field = d->nextField();
    if (!field.isText())
        d->wrongCell(field, "texto");
    if (text.size() > field.size) {
        d->failed = true;
        throwTooLong(d->tableName, field, text.size());
    }
    d->out.text(text);
    d->cellDone();
}

void PacketWriter::addUtf8Text(QByteArrayView utf8, InvalidUtf8 invalid)
{
    const auto *bytes = reinterpret_cast<const uchar *>(utf8.data());
    qsizetype length = isAscii(bytes, utf8.size()) ? utf8.size() : utf16Length(utf8);
    // QString::fromUtf8() and the decoder both drop a leading byte order mark.
    const bool bom = utf8.size() >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf;
    if (length < 0 || bom) {
        if (invalid == InvalidUtf8::Replace) {
            addText(QString::fromUtf8(utf8));
            return;
        }
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(utf8);
        if (decoder.hasError()) {
            d->nextField();
            d->fail(tr("%1: um texto não é UTF-8 válido.").arg(tableLabel(d->tableName)));
        }
        addText(text);
        return;
    }
    const FieldDef &field = d->nextField();
    if (!field.isText())
        d->wrongCell(field, "texto");
    if (length > field.size) {
        d->failed = true;
        throwTooLong(d->tableName, field, length);
    }
    // Well-formed UTF-8 is what the text's QString would be written as.
    d->out.utf8Text(utf8);
    d->cellDone();
}

void PacketWriter::addFloat(double value)
{
    const FieldDef &field = d->nextField();
    if (field.type != FieldType::Float)
        d->wrongCell(field, "número");
    if (!std::isfinite(value))
        d->fail(tr("%1: o número não é finito.").arg(fieldLabel(d->tableName, field.name)));
    d->out.number(value);
    d->cellDone();
}

void PacketWriter::addDateTime(const QDateTime &value)
{
    const FieldDef &field = d->nextField();
    if (field.type != FieldType::DateTime)
        d->wrongCell(field, "data");
    if (!value.isValid()) {
        d->out.byte(kNull);
    } else {
        if (!validDateRange(value.date()))
            d->fail(tr("%1: a data está fora dos anos 100 a 9999.")
                        .arg(fieldLabel(d->tableName, field.name)));
        d->out.head(Tag, kAutomationDateTag);
        d->out.number(toAutomationDate(value));
    }
    d->cellDone();
}

void PacketWriter::addDate(const QDate &date, const QTime &time)
{
    const FieldDef &field = d->nextField();
    if (field.type != FieldType::DateTime)
        d->wrongCell(field, "data");
    if (!date.isValid()) {
        d->out.byte(kNull);
    } else {
        // validDateRange() and toAutomationDate() of the same wall-clock value, on the julian day.
        const qint64 julianDay = date.toJulianDay();
        if (julianDay < kFirstJulianDay || julianDay > kLastJulianDay)
            d->fail(tr("%1: a data está fora dos anos 100 a 9999.")
                        .arg(fieldLabel(d->tableName, field.name)));
        const qint64 days = julianDay - kEpochJulianDay;
        const double fraction = (time.isValid() ? time.msecsSinceStartOfDay() : 0) / 86400000.0;
        d->out.head(Tag, kAutomationDateTag);
        d->out.number(days < 0 ? double(days) - fraction : double(days) + fraction);
    }
    d->cellDone();
}

void PacketWriter::addValue(const QVariant &value)
{
    const FieldDef &field = d->peekField();
    // Values already in their stored form go straight out; addText still checks the size.
    const int type = value.metaType().id();
    if (!value.isValid()) {
        addNull();
        return;
    }
    if (field.isText() && type == QMetaType::QString) {
        const QString &text = *static_cast<const QString *>(value.constData());
        if (text.isNull())
            addNull();
        else
            addText(text);
        return;
    }
    if (field.type == FieldType::Float && type == QMetaType::Double) {
        addFloat(*static_cast<const double *>(value.constData()));
        return;
    }
    if (field.type == FieldType::DateTime && type == QMetaType::QDateTime) {
        addDateTime(*static_cast<const QDateTime *>(value.constData()));
        return;
    }
    QVariant stored;
    try {
        stored = normalizedFieldValue(field, value, d->tableName);
    } catch (const DataSetError &) {
        d->failed = true;
        throw;
    }
    if (!stored.isValid()) {
        addNull();
    } else if (field.isText()) {
        addText(*static_cast<const QString *>(stored.constData()));
    } else if (field.type == FieldType::Float) {
        addFloat(*static_cast<const double *>(stored.constData()));
    } else {
        addDateTime(*static_cast<const QDateTime *>(stored.constData()));
    }
}

void PacketWriter::addRow(const DataRow &row)
{
    if (d->column != 0)
        d->fail(tr("%1: uma linha foi incluída no meio de outra.").arg(tableLabel(d->tableName)));
    if (row.size() != d->fields.size())
        d->fail(tr("%1: uma linha tem %2 valores para %3 campos.")
                    .arg(tableLabel(d->tableName))
                    .arg(row.size())
                    .arg(d->fields.size()));
    for (const QVariant &value : row)
        addValue(value);
}

void PacketWriter::addPackedRow(const PackedRow &row)
{
    if (d->column != 0)
        d->fail(tr("%1: uma linha foi incluída no meio de outra.").arg(tableLabel(d->tableName)));
    d->peekField();
    d->out.head(Array, quint64(d->fields.size()));
    d->out.raw(row);
    ++d->rows;
}

void PacketWriter::reserve(qsizetype bytes)
{
    d->out.reserve(bytes);
}

qsizetype PacketWriter::rowsWritten() const
{
    return d->rows;
}

qsizetype PacketWriter::bytesWritten() const
{
    return d->out.size();
}

QByteArray PacketWriter::finish()
{
    if (d->failed || d->finished)
        throw DataSetError(
            tr("%1: o gravador do pacote não pode mais ser usado.").arg(tableLabel(d->tableName)));
    if (d->column != 0)
        d->fail(tr("%1: a última linha está incompleta.").arg(tableLabel(d->tableName)));
    if (d->declaredRows >= 0 && d->rows != d->declaredRows)
        d->fail(tr("%1: foram gravadas %2 linhas, e %3 foram anunciadas.")
                    .arg(tableLabel(d->tableName))
                    .arg(d->rows)
                    .arg(d->declaredRows));
    if (d->declaredRows < 0)
        d->out.byte(kBreak);
    d->finished = true;
    return d->out.take();
}

} // namespace fis
