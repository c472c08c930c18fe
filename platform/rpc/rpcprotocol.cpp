#include "rpc/rpcprotocol.h"

#include "base/automationdate.h"
#include "rpc/peertext.h"
#include "rpc/rpcerror.h"

#include <QBuffer>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace fis {

namespace {

// Deep enough for any real argument, shallow enough that hostile nesting cannot exhaust the stack.
constexpr int kMaxDepth = 64;
// Keys, objects and methods are names; none of ours comes near this.
constexpr qint64 kMaxNameBytes = 256;
// Nonces, salts, proofs and signatures are a few dozen bytes.
constexpr qint64 kMaxNonceBytes = 128;
// More rounds than any secret is worth; a server asking for more is refused.
constexpr qint64 kMaxIterations = 10000000;

constexpr qint64 kInt64Max = std::numeric_limits<qint64>::max();

// Packets from this size on are read in place when the caller owns the frame, and sent apart
// from the frame's other bytes: they are the pages of lines and the invoice lists, tens of MB
// that a copy would double.
constexpr qint64 kPacketInPlaceFrom = qint64(64) << 10;

void writeText(QCborStreamWriter &w, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    w.appendTextString(utf8.constData(), utf8.size());
}

void writeKey(QCborStreamWriter &w, const char *key)
{
    w.append(QLatin1StringView(key));
}

// Packets written apart from the frame's other bytes (see encodeAnswerPieces()): each is written
// as an empty byte string, whose place in the buffer is noted, to be replaced by its real head
// and the packet's own bytes when the pieces are put together.
struct Splices
{
    const QBuffer *buffer = nullptr;
    QList<std::pair<qint64, QByteArray>> at; // position just after the empty string, packet
};

void writeValue(QCborStreamWriter &w, const RpcValue &v, Splices *splices = nullptr)
{
    switch (v.kind()) {
    case RpcValue::Kind::Null:
        w.append(nullptr);
        break;
    case RpcValue::Kind::Bool:
        w.append(v.toBool());
        break;
    case RpcValue::Kind::Integer:
        w.append(v.toInteger());
        break;
    case RpcValue::Kind::Double:
        w.append(v.toDouble());
        break;
    case RpcValue::Kind::Text:
        writeText(w, v.toText());
        break;
    case RpcValue::Kind::Date:
        w.append(QCborTag(kAutomationDateTag));
        w.append(v.toAutomationDate());
        break;
    case RpcValue::Kind::Packet:
        w.append(QCborKnownTags::EncodedCbor);
        if (splices && v.toPacket().size() >= kPacketInPlaceFrom) {
            w.append(QByteArray());
            splices->at.append({splices->buffer->pos(), v.toPacket()});
        } else {
            w.append(v.toPacket());
        }
        break;
    case RpcValue::Kind::Array: {
        const QList<RpcValue> &items = v.toArray();
        w.startArray(quint64(items.size()));
        for (const RpcValue &item : items)
            writeValue(w, item, splices);
        w.endArray();
        break;
    }
    }
}

// Roughly the encoded size, so that a frame carrying a page of lines is allocated once.
qsizetype sizeHint(const RpcValue &v)
{
    switch (v.kind()) {
    case RpcValue::Kind::Text:
        return v.toText().size() + 9;
    case RpcValue::Kind::Packet:
        return v.toPacket().size() + 11;
    case RpcValue::Kind::Array: {
        qsizetype n = 9;
        for (const RpcValue &item : v.toArray())
            n += sizeHint(item);
        return n;
    }
    default:
        return 12;
    }
}

qsizetype sizeHint(const QList<RpcValue> &values)
{
    qsizetype n = 0;
    for (const RpcValue &v : values)
        n += sizeHint(v);
    return n;
}

// Builds one frame in a single buffer: room for the prefix first, patched once the size is known.
template<typename Fill>
QByteArray buildFrame(qint64 maxFrameSize, const char *what, qsizetype sizeHint, Fill &&fill)
{
    QByteArray frame(4, '\0');
    frame.reserve(4 + 64 + sizeHint);
    {
        // QCborStreamWriter's own QByteArray mode starts over at the front; a buffer placed
        // after the prefix keeps it.
        QBuffer buffer(&frame);
        buffer.open(QIODevice::ReadWrite);
        buffer.seek(4);
        QCborStreamWriter w(&buffer);
        fill(w);
    }
    const qint64 body = frame.size() - 4;
    const qint64 limit = std::min(maxFrameSize, kLargestFrameSize);
    if (body > limit)
        throw RpcError(
            RpcError::Kind::FrameTooLarge,
            QStringLiteral("A %1 é grande demais para ser enviada: %2 bytes; o limite é %3.")
                .arg(QString::fromUtf8(what))
                .arg(body)
                .arg(limit));
    const QByteArray prefix = FrameReader::prefix(body);
    std::copy_n(prefix.constData(), 4, frame.data());
    return frame;
}

class Decoder
{
public:
    // With `inPlace`, large packets come out as views of `body`, each also listed there, for
    // settleInPlace() to hand over once the decoder is gone; otherwise every packet is a copy.
    explicit Decoder(const QByteArray &body, std::vector<QByteArrayView> *inPlace = nullptr)
        : m_body(body)
        , m_reader(body)
        , m_inPlace(inPlace)
    {}

    [[noreturn]] void fail(const QString &what) const
    {
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("Mensagem malformada: %1.").arg(what));
    }

    void check()
    {
        const QCborError e = m_reader.lastError();
        if (e != QCborError::NoError)
            fail(e == QCborError::EndOfFile ? QStringLiteral("ela termina antes do esperado")
                                            : e.toString());
    }

    // Walks the message map; onKey(key) must consume the key's value. Unknown keys are the
    // callback's to reject or skip.
    template<typename OnKey> void readMessage(OnKey &&onKey)
    {
        if (m_body.isEmpty())
            fail(QStringLiteral("o quadro está vazio"));
        check();
        if (!m_reader.isMap())
            fail(QStringLiteral("uma mensagem deve ser um mapa"));
        m_reader.enterContainer();
        QSet<QString> seen;
        while (m_reader.hasNext()) {
            check();
            if (!m_reader.isString())
                fail(QStringLiteral("uma chave da mensagem deve ser um texto"));
            const QString key = readText(QStringLiteral("a chave"), kMaxNameBytes);
            if (seen.contains(key))
                fail(QStringLiteral("a chave \"%1\" aparece duas vezes").arg(printable(key)));
            seen.insert(key);
            onKey(key);
        }
        check();
        m_reader.leaveContainer();
        expectEnd();
    }

    void expectEnd()
    {
        check();
        if (m_reader.currentOffset() != m_body.size())
            fail(QStringLiteral("há bytes depois da mensagem"));
    }

    // Skips one whole value. The reader takes a tag as an item of its own, so the tags in front
    // of a value go first: stepping over the tag alone would leave its value to be read as the
    // next key.
    void skip()
    {
        for (int tags = 0; m_reader.isTag(); ++tags) {
            if (tags == kMaxDepth)
                fail(QStringLiteral("etiquetas demais em sequência"));
            m_reader.next();
            check();
        }
        m_reader.next(kMaxDepth);
        check();
    }

    // A name (a key, an object, a method) is refused past maxBytes of UTF-8 before it is read,
    // so that a huge one costs neither memory nor a huge echo.
    QString readText(const QString &name, qint64 maxBytes = -1)
    {
        check();
        if (!m_reader.isString())
            fail(QStringLiteral("%1 deve ser um texto").arg(name));
        const auto tooLong = [&] {
            fail(QStringLiteral("%1 passa de %2 bytes").arg(name).arg(maxBytes));
        };
        if (maxBytes >= 0 && m_reader.isLengthKnown() && m_reader.length() > quint64(maxBytes))
            tooLong();
        QString text;
        auto r = m_reader.readString();
        while (r.status == QCborStreamReader::Ok) {
            text += r.data;
            if (maxBytes >= 0 && text.size() > maxBytes)
                tooLong();
            r = m_reader.readString();
        }
        check();
        if (r.status == QCborStreamReader::Error)
            fail(QStringLiteral("texto ilegível"));
        return text;
    }

    quint64 readUnsigned(const QString &name)
    {
        check();
        if (!m_reader.isUnsignedInteger())
            fail(QStringLiteral("%1 deve ser um inteiro sem sinal").arg(name));
        const quint64 v = m_reader.toUnsignedInteger();
        m_reader.next();
        check();
        return v;
    }

    // A byte string without tag, as the handshake's nonces and proofs are.
    QByteArray readBytes(const QString &name, qint64 maxBytes)
    {
        check();
        if (!m_reader.isByteArray())
            fail(QStringLiteral("%1 deve ser uma sequência de bytes").arg(name));
        if (m_reader.isLengthKnown() && m_reader.length() > quint64(maxBytes))
            fail(QStringLiteral("%1 passa de %2 bytes").arg(name).arg(maxBytes));
        QByteArray bytes;
        auto r = m_reader.readByteArray();
        while (r.status == QCborStreamReader::Ok) {
            bytes += r.data;
            if (bytes.size() > maxBytes)
                fail(QStringLiteral("%1 passa de %2 bytes").arg(name).arg(maxBytes));
            r = m_reader.readByteArray();
        }
        check();
        if (r.status == QCborStreamReader::Error)
            fail(QStringLiteral("bytes ilegíveis"));
        return bytes;
    }

    bool readBool(const QString &name)
    {
        check();
        if (!m_reader.isBool())
            fail(QStringLiteral("%1 deve ser verdadeiro ou falso").arg(name));
        const bool v = m_reader.toBool();
        m_reader.next();
        check();
        return v;
    }

    // An index into the argument list.
    qsizetype readIndex(const QString &name)
    {
        const quint64 v = readUnsigned(name);
        if (v > quint64(std::numeric_limits<int>::max()))
            fail(QStringLiteral("%1 está fora do intervalo aceito").arg(name));
        return qsizetype(v);
    }

    // Calls onItem() once per element of an array.
    template<typename OnItem> void readArray(const QString &name, OnItem &&onItem)
    {
        check();
        if (!m_reader.isArray())
            fail(QStringLiteral("%1 deve ser uma lista").arg(name));
        m_reader.enterContainer();
        while (m_reader.hasNext()) {
            check();
            onItem();
        }
        check();
        m_reader.leaveContainer();
        check();
    }

    // Calls onEntry() once per key/value pair of a map; it reads both.
    template<typename OnEntry> void readMap(const QString &name, OnEntry &&onEntry)
    {
        check();
        if (!m_reader.isMap())
            fail(QStringLiteral("%1 deve ser um mapa").arg(name));
        m_reader.enterContainer();
        while (m_reader.hasNext()) {
            check();
            onEntry();
        }
        check();
        m_reader.leaveContainer();
        check();
    }

    RpcValue readValue(int depth = 0)
    {
        check();
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            if (m_reader.toUnsignedInteger() > quint64(kInt64Max))
                fail(QStringLiteral("um inteiro está fora do intervalo aceito"));
            const qint64 v = m_reader.toInteger();
            m_reader.next();
            return v;
        }
        case QCborStreamReader::NegativeInteger: {
            const quint64 magnitude = quint64(m_reader.toNegativeInteger());
            if (magnitude == 0 || magnitude > quint64(kInt64Max) + 1)
                fail(QStringLiteral("um inteiro está fora do intervalo aceito"));
            const qint64 v = m_reader.toInteger();
            m_reader.next();
            return v;
        }
        case QCborStreamReader::String:
            return readText(QStringLiteral("o texto"));
        case QCborStreamReader::ByteArray:
            fail(QStringLiteral(
                "uma sequência de bytes deve vir marcada como pacote de dados (tag 24)"));
        case QCborStreamReader::Array: {
            if (depth >= kMaxDepth)
                fail(QStringLiteral("as listas estão aninhadas fundo demais"));
            QList<RpcValue> items;
            readArray(QStringLiteral("a lista"), [&] { items.append(readValue(depth + 1)); });
            return items;
        }
        case QCborStreamReader::Map:
            fail(QStringLiteral("um mapa não é um valor"));
        case QCborStreamReader::Tag:
            return readTagged();
        case QCborStreamReader::SimpleType: {
            RpcValue v;
            if (m_reader.isBool())
                v = m_reader.toBool();
            else if (!m_reader.isNull())
                fail(QStringLiteral("o valor simples %1 não é um valor aceito")
                         .arg(int(m_reader.toSimpleType())));
            m_reader.next();
            return v;
        }
        case QCborStreamReader::Float16:
        case QCborStreamReader::Float:
        case QCborStreamReader::Double: {
            const double d = readFloat();
            return d;
        }
        case QCborStreamReader::Invalid:
            break;
        }
        check();
        fail(QStringLiteral("valor ilegível"));
    }

private:
    double readFloat()
    {
        double d = 0;
        if (m_reader.isFloat16())
            d = double(float(m_reader.toFloat16()));
        else if (m_reader.isFloat())
            d = double(m_reader.toFloat());
        else
            d = m_reader.toDouble();
        m_reader.next();
        check();
        return d;
    }

    RpcValue readTagged()
    {
        const quint64 tag = quint64(m_reader.toTag());
        m_reader.next();
        check();
        if (tag == kAutomationDateTag) {
            double days = 0;
            if (m_reader.isFloat16() || m_reader.isFloat() || m_reader.isDouble()) {
                days = readFloat();
            } else if (m_reader.isInteger()) {
                const RpcValue n = readValue();
                days = double(n.toInteger());
            } else {
                fail(
                    QStringLiteral("uma data (tag %1) deve ser um número").arg(kAutomationDateTag));
            }
            if (!std::isfinite(days))
                fail(QStringLiteral("uma data deve ser um número finito"));
            return RpcValue::fromAutomationDate(days);
        }
        if (tag == quint64(QCborKnownTags::EncodedCbor)) {
            if (!m_reader.isByteArray())
                fail(QStringLiteral("um pacote de dados (tag 24) deve ser uma sequência de bytes"));
            if (m_inPlace && m_reader.isLengthKnown() && m_reader.length() >= kPacketInPlaceFrom)
                return packetInPlace();
            QByteArray bytes;
            auto r = m_reader.readByteArray();
            while (r.status == QCborStreamReader::Ok) {
                bytes += r.data;
                r = m_reader.readByteArray();
            }
            check();
            if (r.status == QCborStreamReader::Error)
                fail(QStringLiteral("pacote de dados ilegível"));
            return RpcValue::fromPacket(bytes);
        }
        fail(QStringLiteral("a tag %1 não é suportada").arg(tag));
    }

    // Skips the byte string without copying it (a chunk read into no room is skipped whole) and
    // views it where it lies: it ends where the next item starts.
    RpcValue packetInPlace()
    {
        const qint64 length = qint64(m_reader.length());
        char none = 0;
        auto r = m_reader.readStringChunk(&none, 0);
        while (r.status == QCborStreamReader::Ok && r.data == 0)
            r = m_reader.readStringChunk(&none, 0);
        check();
        if (r.status != QCborStreamReader::EndOfString)
            fail(QStringLiteral("pacote de dados ilegível"));
        const qint64 end = m_reader.currentOffset();
        if (end < length || end > m_body.size())
            fail(QStringLiteral("pacote de dados ilegível"));
        const QByteArrayView view(m_body.constData() + (end - length), length);
        m_inPlace->push_back(view);
        return RpcValue::fromPacket(QByteArray::fromRawData(view.data(), view.size()));
    }

    const QByteArray &m_body;
    QCborStreamReader m_reader;
    std::vector<QByteArrayView> *m_inPlace;
};

// Gives every packet read in place bytes of its own, once nothing else holds `body`: the largest
// takes the frame's buffer itself, cut to the packet (dropping the front of a buffer nobody shares
// moves its start, without a copy), the others a copy each.
template<typename ForEachValue>
void settleInPlace(QByteArray &&body, const std::vector<QByteArrayView> &inPlace,
                   ForEachValue &&forEachValue)
{
    if (inPlace.empty())
        return;
    const QByteArrayView largest =
        *std::max_element(inPlace.begin(), inPlace.end(),
                          [](QByteArrayView a, QByteArrayView b) { return a.size() < b.size(); });
    const char *from = body.constData();
    const char *to = from + body.size();
    forEachValue([&](QByteArray &bytes) {
        if (bytes.constData() >= from && bytes.constData() < to &&
            bytes.constData() != largest.data())
            bytes = QByteArray(bytes.constData(), bytes.size());
    });
    QByteArray own = std::move(body);
    own.remove(0, largest.data() - from);
    own.truncate(largest.size());
    forEachValue([&](QByteArray &bytes) {
        if (bytes.constData() == largest.data() && bytes.size() == largest.size())
            bytes = own;
    });
}

[[noreturn]] void unknownKey(Decoder &d, const QString &key)
{
    d.fail(QStringLiteral("chave desconhecida: \"%1\"").arg(printable(key)));
}

} // namespace

QByteArray encodeHello(const RpcHello &hello, qint64 maxFrameSize)
{
    return buildFrame(maxFrameSize, "saudação", 0, [&](QCborStreamWriter &w) {
        w.startMap(2 + (hello.session.isEmpty() ? 0 : 1) + (hello.client.isEmpty() ? 0 : 2));
        writeKey(w, "hello");
        writeText(w, hello.protocol);
        writeKey(w, "version");
        w.append(hello.version);
        if (!hello.session.isEmpty()) {
            writeKey(w, "session");
            writeText(w, hello.session);
        }
        if (!hello.client.isEmpty()) {
            writeKey(w, "client");
            writeText(w, hello.client);
            writeKey(w, "nonce");
            w.appendByteString(hello.nonce.constData(), hello.nonce.size());
        }
        w.endMap();
    });
}

QByteArray encodeHelloReply(const RpcHelloReply &reply, qint64 maxFrameSize)
{
    return buildFrame(
        maxFrameSize, "resposta à saudação", reply.error.size(), [&](QCborStreamWriter &w) {
            if (reply.isChallenge()) {
                w.startMap(3);
                writeKey(w, "challenge");
                w.appendByteString(reply.challenge.constData(), reply.challenge.size());
                writeKey(w, "salt");
                w.appendByteString(reply.salt.constData(), reply.salt.size());
                writeKey(w, "iterations");
                w.append(reply.iterations);
            } else if (reply.ok) {
                w.startMap(reply.signature.isEmpty() ? 2 : 3);
                writeKey(w, "ok");
                w.append(true);
                writeKey(w, "version");
                w.append(reply.version);
                if (!reply.signature.isEmpty()) {
                    writeKey(w, "signature");
                    w.appendByteString(reply.signature.constData(), reply.signature.size());
                }
            } else {
                w.startMap(1);
                writeKey(w, "error");
                writeText(w, reply.error);
            }
            w.endMap();
        });
}

QByteArray encodeProof(const RpcProof &proof)
{
    return buildFrame(kDefaultMaxFrameSize, "prova", 0, [&](QCborStreamWriter &w) {
        w.startMap(1);
        writeKey(w, "proof");
        w.appendByteString(proof.proof.constData(), proof.proof.size());
        w.endMap();
    });
}

QByteArray encodeCall(const RpcCall &call, qint64 maxFrameSize)
{
    return buildFrame(maxFrameSize, "chamada", sizeHint(call.args), [&](QCborStreamWriter &w) {
        w.startMap(call.byRef.isEmpty() ? 4 : 5);
        writeKey(w, "id");
        w.append(quint64(call.id));
        writeKey(w, "object");
        writeText(w, call.object);
        writeKey(w, "method");
        writeText(w, call.method);
        writeKey(w, "args");
        w.startArray(quint64(call.args.size()));
        for (const RpcValue &v : call.args)
            writeValue(w, v);
        w.endArray();
        if (!call.byRef.isEmpty()) {
            writeKey(w, "byRef");
            w.startArray(quint64(call.byRef.size()));
            for (qsizetype i : call.byRef)
                w.append(quint64(i));
            w.endArray();
        }
        w.endMap();
    });
}

namespace {

void writeAnswer(QCborStreamWriter &w, const RpcAnswer &answer, Splices *splices)
{
    const bool withRefs = !answer.failed && !answer.refs.isEmpty();
    w.startMap((answer.id ? 1 : 0) + 1 + (withRefs ? 1 : 0));
    if (answer.id) {
        writeKey(w, "id");
        w.append(quint64(*answer.id));
    }
    if (answer.failed) {
        writeKey(w, "error");
        writeText(w, answer.error);
    } else {
        writeKey(w, "result");
        writeValue(w, answer.result, splices);
    }
    if (withRefs) {
        writeKey(w, "refs");
        w.startMap(quint64(answer.refs.size()));
        for (auto it = answer.refs.cbegin(); it != answer.refs.cend(); ++it) {
            w.append(quint64(it.key()));
            writeValue(w, it.value(), splices);
        }
        w.endMap();
    }
    w.endMap();
}

// The head of a CBOR item, shortest form, as the stream writer writes it.
QByteArray cborHead(quint8 major, quint64 value)
{
    char bytes[9];
    const char m = char(major << 5);
    if (value < 24) {
        bytes[0] = char(m | char(value));
        return QByteArray(bytes, 1);
    }
    int size = 9;
    char info = 27;
    if (value <= 0xff) {
        size = 2;
        info = 24;
    } else if (value <= 0xffff) {
        size = 3;
        info = 25;
    } else if (value <= 0xffffffffu) {
        size = 5;
        info = 26;
    }
    bytes[0] = char(m | info);
    for (int i = size - 1; i > 0; --i, value >>= 8)
        bytes[i] = char(value & 0xff);
    return QByteArray(bytes, size);
}

qsizetype answerSizeHint(const RpcAnswer &answer)
{
    qsizetype hint = answer.error.size() + sizeHint(answer.result);
    for (const RpcValue &v : answer.refs)
        hint += 9 + sizeHint(v);
    return hint;
}

} // namespace

QByteArray encodeAnswer(const RpcAnswer &answer, qint64 maxFrameSize)
{
    return buildFrame(maxFrameSize, "resposta", answerSizeHint(answer),
                      [&](QCborStreamWriter &w) { writeAnswer(w, answer, nullptr); });
}

QList<QByteArray> encodeAnswerPieces(const RpcAnswer &answer, qint64 maxFrameSize)
{
    QByteArray frame(4, '\0');
    Splices splices;
    {
        QBuffer buffer(&frame);
        buffer.open(QIODevice::ReadWrite);
        buffer.seek(4);
        splices.buffer = &buffer;
        QCborStreamWriter w(&buffer);
        writeAnswer(w, answer, &splices);
    }
    QList<QByteArray> pieces;
    qint64 body = frame.size() - 4;
    qint64 from = 0;
    for (const auto &[at, packet] : std::as_const(splices.at)) {
        // The empty string's head, one byte before `at`, gives way to the packet's.
        pieces.append(frame.mid(from, at - 1 - from));
        pieces.append(cborHead(2, quint64(packet.size())));
        pieces.append(packet);
        body += pieces.at(pieces.size() - 2).size() + packet.size() - 1;
        from = at;
    }
    pieces.append(frame.mid(from));
    const qint64 limit = std::min(maxFrameSize, kLargestFrameSize);
    if (body > limit)
        throw RpcError(
            RpcError::Kind::FrameTooLarge,
            QStringLiteral("A resposta é grande demais para ser enviada: %1 bytes; o limite é %2.")
                .arg(body)
                .arg(limit));
    const QByteArray prefix = FrameReader::prefix(body);
    std::copy_n(prefix.constData(), 4, pieces.first().data());
    return pieces;
}

QString randomSessionKey()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex());
}

RpcHello decodeHello(const QByteArray &body)
{
    Decoder d(body);
    RpcHello hello;
    bool hasName = false;
    bool hasVersion = false;
    d.readMessage([&](const QString &key) {
        if (key == u"hello") {
            hello.protocol = d.readText(key, kMaxNameBytes);
            hasName = true;
        } else if (key == u"version") {
            const quint64 v = d.readUnsigned(key);
            hello.version = v > quint64(kInt64Max) ? kInt64Max : qint64(v);
            hasVersion = true;
        } else if (key == u"session") {
            hello.session = d.readText(key, kMaxNameBytes);
        } else if (key == u"client") {
            hello.client = d.readText(key, kMaxNameBytes);
        } else if (key == u"nonce") {
            hello.nonce = d.readBytes(key, kMaxNonceBytes);
        } else {
            // A later version may say more in its hello; it still deserves a clear version answer.
            d.skip();
        }
    });
    if (!hasName || !hasVersion)
        d.fail(QStringLiteral("uma saudação precisa de \"hello\" e \"version\""));
    return hello;
}

RpcHelloReply decodeHelloReply(const QByteArray &body)
{
    Decoder d(body);
    RpcHelloReply reply;
    bool hasOk = false;
    bool hasVersion = false;
    bool hasError = false;
    d.readMessage([&](const QString &key) {
        if (key == u"ok") {
            if (!d.readBool(key))
                d.fail(QStringLiteral("\"ok\" deve ser verdadeiro"));
            hasOk = true;
        } else if (key == u"version") {
            const quint64 v = d.readUnsigned(key);
            reply.version = v > quint64(kInt64Max) ? kInt64Max : qint64(v);
            hasVersion = true;
        } else if (key == u"error") {
            reply.error = d.readText(key);
            hasError = true;
        } else if (key == u"signature") {
            reply.signature = d.readBytes(key, kMaxNonceBytes);
        } else if (key == u"challenge") {
            reply.challenge = d.readBytes(key, kMaxNonceBytes);
        } else if (key == u"salt") {
            reply.salt = d.readBytes(key, kMaxNonceBytes);
        } else if (key == u"iterations") {
            const quint64 n = d.readUnsigned(key);
            reply.iterations = n > quint64(kMaxIterations) ? kMaxIterations : qint64(n);
        } else {
            unknownKey(d, key);
        }
    });
    if (reply.isChallenge()) {
        if (hasOk || hasVersion || hasError || !reply.signature.isEmpty() || reply.salt.isEmpty() ||
            reply.iterations <= 0)
            d.fail(QStringLiteral("um desafio traz \"challenge\", \"salt\" e \"iterations\", e "
                                  "nada mais"));
        reply.ok = false;
    } else if (!reply.salt.isEmpty() || reply.iterations != 0) {
        d.fail(QStringLiteral("\"salt\" e \"iterations\" só vêm num desafio"));
    } else if (hasError) {
        if (hasOk || hasVersion || !reply.signature.isEmpty())
            d.fail(QStringLiteral("uma resposta à saudação traz ok ou um erro, não os dois"));
        reply.ok = false;
    } else if (!hasOk || !hasVersion) {
        d.fail(QStringLiteral(
            "uma resposta à saudação precisa de \"ok\" e \"version\", ou de \"error\""));
    }
    return reply;
}

RpcProof decodeProof(const QByteArray &body)
{
    Decoder d(body);
    RpcProof proof;
    bool hasProof = false;
    d.readMessage([&](const QString &key) {
        if (key == u"proof") {
            proof.proof = d.readBytes(key, kMaxNonceBytes);
            hasProof = true;
        } else {
            unknownKey(d, key);
        }
    });
    if (!hasProof)
        d.fail(QStringLiteral("uma prova precisa de \"proof\""));
    return proof;
}

namespace {

RpcCall decodeCallIn(const QByteArray &body, std::vector<QByteArrayView> *inPlace)
{
    Decoder d(body, inPlace);
    RpcCall call;
    bool hasId = false, hasObject = false, hasMethod = false, hasArgs = false;
    d.readMessage([&](const QString &key) {
        if (key == u"id") {
            call.id = d.readUnsigned(key);
            hasId = true;
        } else if (key == u"object") {
            call.object = d.readText(key, kMaxNameBytes);
            hasObject = true;
        } else if (key == u"method") {
            call.method = d.readText(key, kMaxNameBytes);
            hasMethod = true;
        } else if (key == u"args") {
            d.readArray(key, [&] { call.args.append(d.readValue(1)); });
            hasArgs = true;
        } else if (key == u"byRef") {
            d.readArray(key, [&] { call.byRef.append(d.readIndex(QStringLiteral("um índice"))); });
        } else {
            unknownKey(d, key);
        }
    });
    if (!hasId || !hasObject || !hasMethod || !hasArgs)
        d.fail(QStringLiteral("uma chamada precisa de \"id\", \"object\", \"method\" e \"args\""));
    QSet<qsizetype> seen;
    for (qsizetype i : call.byRef) {
        if (i >= call.args.size())
            d.fail(QStringLiteral("o índice por referência %1 passa dos %2 argumentos")
                       .arg(i)
                       .arg(call.args.size()));
        if (seen.contains(i))
            d.fail(QStringLiteral("o índice por referência %1 aparece duas vezes").arg(i));
        seen.insert(i);
    }
    return call;
}

RpcAnswer decodeAnswerIn(const QByteArray &body, std::vector<QByteArrayView> *inPlace)
{
    Decoder d(body, inPlace);
    RpcAnswer answer;
    bool hasResult = false, hasRefs = false;
    d.readMessage([&](const QString &key) {
        if (key == u"id") {
            answer.id = d.readUnsigned(key);
        } else if (key == u"result") {
            answer.result = d.readValue(1);
            hasResult = true;
        } else if (key == u"error") {
            answer.error = d.readText(key);
            answer.failed = true;
        } else if (key == u"refs") {
            d.readMap(key, [&] {
                const qsizetype index = d.readIndex(QStringLiteral("um índice por referência"));
                if (answer.refs.contains(index))
                    d.fail(
                        QStringLiteral("o índice por referência %1 aparece duas vezes").arg(index));
                answer.refs.insert(index, d.readValue(1));
            });
            hasRefs = true;
        } else {
            unknownKey(d, key);
        }
    });
    if (hasResult == answer.failed)
        d.fail(QStringLiteral("uma resposta traz \"result\" ou \"error\", um dos dois"));
    if (hasRefs && answer.failed)
        d.fail(QStringLiteral("uma resposta de erro não traz \"refs\""));
    if (!answer.id && !answer.failed)
        d.fail(QStringLiteral("uma resposta precisa de \"id\""));
    return answer;
}

} // namespace

RpcCall decodeCall(const QByteArray &body)
{
    return decodeCallIn(body, nullptr);
}

RpcCall decodeCall(QByteArray &&body)
{
    std::vector<QByteArrayView> inPlace;
    RpcCall call = decodeCallIn(body, &inPlace);
    settleInPlace(std::move(body), inPlace, [&](const auto &visit) {
        for (RpcValue &arg : call.args)
            arg.visitPackets(visit);
    });
    return call;
}

RpcAnswer decodeAnswer(const QByteArray &body)
{
    return decodeAnswerIn(body, nullptr);
}

RpcAnswer decodeAnswer(QByteArray &&body)
{
    std::vector<QByteArrayView> inPlace;
    RpcAnswer answer = decodeAnswerIn(body, &inPlace);
    settleInPlace(std::move(body), inPlace, [&](const auto &visit) {
        answer.result.visitPackets(visit);
        for (RpcValue &ref : answer.refs)
            ref.visitPackets(visit);
    });
    return answer;
}

QByteArray encodeValue(const RpcValue &value)
{
    QByteArray out;
    QCborStreamWriter w(&out);
    writeValue(w, value);
    return out;
}

RpcValue decodeValue(const QByteArray &cbor)
{
    Decoder d(cbor);
    if (cbor.isEmpty())
        d.fail(QStringLiteral("nenhum valor"));
    RpcValue v = d.readValue();
    d.expectEnd();
    return v;
}

} // namespace fis
