#include "rpc/framereader.h"
#include "rpc/memorypolicy.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcprotocol.h"
#include "rpc/rpcvalue.h"
#include "rpcserver/rpcargs.h"
#include "rpctesthelpers.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <functional>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

using namespace fis;
using fis::test::expected;
using fis::test::thrown;

namespace {

QByteArray cbor(const QCborValue &v)
{
    return v.toCbor();
}

QByteArray validCall()
{
    RpcCall call;
    call.id = 7;
    call.object = QStringLiteral("FIS11000.rdmCompraLEGALBA");
    call.method = QStringLiteral("GetRegistro");
    call.args = {QStringLiteral("COMPRA"), RpcValue::fromAutomationDate(45322), 0.0};
    call.byRef = {0, 2};
    return encodeCall(call).mid(4);
}

// Bytes that differ from place to place, so that a slice taken at the wrong offset shows.
QByteArray patterned(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(seed + i % 251);
    return bytes;
}

bool inside(const QByteArray &bytes, const char *from, const char *to)
{
    return bytes.constData() >= from && bytes.constData() < to;
}

} // namespace

class TestRpcFraming : public QObject
{
    Q_OBJECT
private slots:
    void valuesKeepTheirKindOnTheWire_data();
    void valuesKeepTheirKindOnTheWire();
    void valueEncodingIsTheDocumentedOne_data();
    void valueEncodingIsTheDocumentedOne();
    void datesConvertToAndFromQt();
    void accessorsAreStrict();

    void readerReassemblesFramesSplitAnywhere_data();
    void readerReassemblesFramesSplitAnywhere();
    void readerHoldsAPartialFrame();
    void readerRejectsOversizedLengthBeforeTheBody();

    void messagesRoundTrip();
    void encoderEnforcesTheLimit();
    void malformedCallsAreRejected_data();
    void malformedCallsAreRejected();
    void malformedAnswersAreRejected_data();
    void malformedAnswersAreRejected();
    void helloToleratesLaterKeysButNeedsItsOwn();
    void largePacketsAreTakenFromTheFrame();
    void packetsReadInPlaceAreChecked();
    void largeBlocksComeFromTheHeap();
    void answersGoOutInPiecesWithTheirPacketsShared();

    void argsHelpersNameTheArgument();
};

void TestRpcFraming::valuesKeepTheirKindOnTheWire_data()
{
    QTest::addColumn<RpcValue>("value");
    QTest::newRow("null") << RpcValue();
    QTest::newRow("true") << RpcValue(true);
    QTest::newRow("integer") << RpcValue(-1234567890123LL);
    QTest::newRow("double") << RpcValue(50000.0);
    QTest::newRow("double fraction") << RpcValue(0.1);
    QTest::newRow("empty text") << RpcValue(QString());
    QTest::newRow("accented text") << RpcValue(QStringLiteral("Exportação concluída"));
    QTest::newRow("date") << RpcValue::fromAutomationDate(45322.75);
    QTest::newRow("date before epoch") << RpcValue::fromAutomationDate(-1.5);
    QTest::newRow("empty packet") << RpcValue::fromPacket(QByteArray());
    QTest::newRow("packet") << RpcValue::fromPacket(QByteArray("\xa2\x01\x02\x00\xff", 5));
    QTest::newRow("answer array") << RpcValue(QList<RpcValue>{
        QStringLiteral("OK"), RpcValue::fromPacket("p"), QStringLiteral("C:\\saida\\"),
        QStringLiteral("S"), QList<RpcValue>{1, RpcValue()}});
}

void TestRpcFraming::valuesKeepTheirKindOnTheWire()
{
    QFETCH(RpcValue, value);
    const RpcValue back = decodeValue(encodeValue(value));
    QCOMPARE(back.kind(), value.kind());
    QVERIFY2(back == value, qPrintable(back.toDiagnostic() + u" != " + value.toDiagnostic()));
}

void TestRpcFraming::valueEncodingIsTheDocumentedOne_data()
{
    QTest::addColumn<RpcValue>("value");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("null") << RpcValue() << QByteArray("f6");
    QTest::newRow("false") << RpcValue(false) << QByteArray("f4");
    QTest::newRow("-1") << RpcValue(-1) << QByteArray("20");
    QTest::newRow("1.5") << RpcValue(1.5) << QByteArray("fb3ff8000000000000");
    QTest::newRow("text in UTF-8")
        << RpcValue(QStringLiteral("Ação")) << QByteArray("6641c3a7c3a36f");
    // Tag 1899 around a double: a date never travels as text.
    QTest::newRow("date") << RpcValue::fromAutomationDate(45000.5)
                          << QByteArray("d9076bfb40e5f91000000000");
    // Tag 24 around the packet's bytes as they are.
    QTest::newRow("packet") << RpcValue::fromPacket(QByteArray("\x01\x02", 2))
                            << QByteArray("d818420102");
    QTest::newRow("array") << RpcValue(QList<RpcValue>{1, QStringLiteral("a")})
                           << QByteArray("82016161");
}

void TestRpcFraming::valueEncodingIsTheDocumentedOne()
{
    QFETCH(RpcValue, value);
    QFETCH(QByteArray, hex);
    QCOMPARE(encodeValue(value).toHex(), hex);
}

void TestRpcFraming::datesConvertToAndFromQt()
{
    QCOMPARE(RpcValue(QDate(2024, 1, 31)).toAutomationDate(), 45322.0);
    QCOMPARE(RpcValue(QDateTime(QDate(1899, 12, 30), QTime(18, 0))).toAutomationDate(), 0.75);
    const QDateTime noon(QDate(2023, 6, 15), QTime(12, 30, 15));
    QCOMPARE(RpcValue(noon).toDateTime(), noon);
    QCOMPARE(RpcValue(noon).toDate(), QDate(2023, 6, 15));
    QCOMPARE(RpcValue(noon).kind(), RpcValue::Kind::Date);

    // An empty date edit yields an invalid date: it goes as null, not as some day.
    QVERIFY(RpcValue(QDate()).isNull());
    QVERIFY(RpcValue(QDateTime()).isNull());
    QCOMPARE(thrown([] { RpcValue::fromAutomationDate(qQNaN()); }),
             expected(RpcError::Kind::BadValue));
    QCOMPARE(thrown([] { RpcValue::fromAutomationDate(1e12).toDateTime(); }),
             expected(RpcError::Kind::BadValue));
}

void TestRpcFraming::accessorsAreStrict()
{
    // A string literal must become text, never the bool a pointer converts to.
    QCOMPARE(RpcValue("OK").kind(), RpcValue::Kind::Text);
    QCOMPARE(RpcValue("OK").toText(), QStringLiteral("OK"));
    QCOMPARE(RpcValue(3).toDouble(), 3.0);

    QString message;
    QCOMPARE(thrown([] { RpcValue("2024-01-31").toAutomationDate(); }, &message),
             expected(RpcError::Kind::BadValue));
    QVERIFY2(message.contains(u"data") && message.contains(u"texto"), qPrintable(message));
    QCOMPARE(thrown([] { RpcValue::fromAutomationDate(1).toDouble(); }),
             expected(RpcError::Kind::BadValue));
    QCOMPARE(thrown([] { RpcValue(QList<RpcValue>{"OK"}).at(1); }),
             expected(RpcError::Kind::BadValue));
    QCOMPARE(thrown([] { RpcValue().toText(); }), expected(RpcError::Kind::BadValue));
}

void TestRpcFraming::readerReassemblesFramesSplitAnywhere_data()
{
    QTest::addColumn<int>("chunk"); // bytes fed at a time; 0 for the whole stream at once
    QTest::addRow("1 byte at a time") << 1;
    QTest::addRow("2 bytes at a time") << 2;
    QTest::addRow("3 bytes at a time") << 3;
    QTest::addRow("5 bytes at a time") << 5;
    QTest::addRow("4096 bytes at a time") << 4096;
    QTest::addRow("the whole stream at once") << 0;
}

void TestRpcFraming::readerReassemblesFramesSplitAnywhere()
{
    QFETCH(int, chunk);
    const QList<QByteArray> bodies = {QByteArray("\xa0", 1), QByteArray(), QByteArray(70000, 'x'),
                                      validCall()};
    QByteArray stream;
    for (const QByteArray &b : bodies)
        stream += FrameReader::prefix(b.size()) + b;
    if (chunk == 0)
        chunk = int(stream.size());

    FrameReader reader;
    QList<QByteArray> got;
    for (qsizetype pos = 0; pos < stream.size(); pos += chunk) {
        reader.feed(
            QByteArrayView(stream).sliced(pos, qMin<qsizetype>(chunk, stream.size() - pos)));
        while (reader.hasFrame())
            got << reader.takeFrame();
    }
    QCOMPARE(got, bodies);
    QVERIFY(!reader.isMidFrame());
}

void TestRpcFraming::readerHoldsAPartialFrame()
{
    FrameReader reader;
    reader.feed(QByteArray("\0\0\0\x05xy", 6));
    QVERIFY(reader.isMidFrame());
    QVERIFY(!reader.hasFrame());
}

void TestRpcFraming::readerRejectsOversizedLengthBeforeTheBody()
{
    FrameReader reader(100);
    reader.feed(QByteArray(FrameReader::prefix(100) + QByteArray(100, 'a')));
    QCOMPARE(reader.takeFrame().size(), 100);

    // Only the prefix has come: the reader must refuse at once, not wait for the body.
    QCOMPARE(thrown([&] { reader.feed(FrameReader::prefix(101)); }),
             expected(RpcError::Kind::FrameTooLarge));
    QCOMPARE(thrown([&] { reader.feed(QByteArray(1, 'a')); }),
             expected(RpcError::Kind::FrameTooLarge));

    FrameReader defaults;
    QCOMPARE(thrown([&] { defaults.feed(QByteArray("\xff\xff\xff\xff", 4)); }),
             expected(RpcError::Kind::FrameTooLarge));
}

void TestRpcFraming::messagesRoundTrip()
{
    const RpcCall call = decodeCall(validCall());
    QCOMPARE(call.id, quint64(7));
    QCOMPARE(call.method, QStringLiteral("GetRegistro"));
    QCOMPARE(call.args.size(), 3);
    QVERIFY(call.args.at(1).isDate());
    QCOMPARE(call.byRef, (QList<qsizetype>{0, 2}));

    RpcAnswer answer;
    answer.id = 7;
    answer.result = QList<RpcValue>{"OK"};
    answer.refs.insert(0, "COMPRA_0001");
    answer.refs.insert(2, 50000.0);
    const RpcAnswer back = decodeAnswer(encodeAnswer(answer).mid(4));
    QVERIFY(back.id && *back.id == 7);
    QVERIFY(!back.failed);
    QVERIFY(back.result == answer.result);
    QCOMPARE(back.refs.keys(), answer.refs.keys());
    QVERIFY(back.refs.value(0) == RpcValue("COMPRA_0001"));

    RpcAnswer farewell;
    farewell.failed = true;
    farewell.error = QStringLiteral("bye");
    const RpcAnswer farewellBack = decodeAnswer(encodeAnswer(farewell).mid(4));
    QVERIFY(!farewellBack.id);
    QCOMPARE(farewellBack.error, QStringLiteral("bye"));

    const RpcHelloReply refused =
        decodeHelloReply(encodeHelloReply(RpcHelloReply{false, 0, QStringLiteral("no")}).mid(4));
    QVERIFY(!refused.ok);
    QCOMPARE(refused.error, QStringLiteral("no"));
}

void TestRpcFraming::encoderEnforcesTheLimit()
{
    RpcCall call;
    call.args = {RpcValue::fromPacket(QByteArray(1000, 'p'))};
    QCOMPARE(thrown([&] { encodeCall(call, 500); }), expected(RpcError::Kind::FrameTooLarge));
    const QByteArray frame = encodeCall(call, 2000);
    QCOMPARE(frame.left(4), FrameReader::prefix(frame.size() - 4));
}

void TestRpcFraming::malformedCallsAreRejected_data()
{
    QTest::addColumn<QByteArray>("body");
    const auto call = [](const QCborValue &args, const QCborValue &byRef = QCborValue()) {
        QCborMap m{{QStringLiteral("id"), 1},
                   {QStringLiteral("object"), QStringLiteral("o")},
                   {QStringLiteral("method"), QStringLiteral("m")},
                   {QStringLiteral("args"), args}};
        if (!byRef.isUndefined())
            m.insert(QStringLiteral("byRef"), byRef);
        return cbor(m);
    };
    const auto withArg = [&](const char *hex) -> QByteArray {
        // {"id":1,"object":"o","method":"m","args":[<hex>]}
        return QByteArray::fromHex("a46269640166") + QByteArray("object") +
               QByteArray::fromHex("616f66") + QByteArray("method") +
               QByteArray::fromHex("616d64") + QByteArray("args") + QByteArray::fromHex("81") +
               QByteArray::fromHex(hex);
    };
    const QByteArray good = validCall();

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a map") << cbor(QCborArray{1});
    QTest::newRow("unknown key") << cbor(QCborMap{{QStringLiteral("id"), 1},
                                                  {QStringLiteral("object"), QStringLiteral("o")},
                                                  {QStringLiteral("method"), QStringLiteral("m")},
                                                  {QStringLiteral("args"), QCborArray()},
                                                  {QStringLiteral("extra"), 1}});
    QTest::newRow("missing args") << cbor(
        QCborMap{{QStringLiteral("id"), 1},
                 {QStringLiteral("object"), QStringLiteral("o")},
                 {QStringLiteral("method"), QStringLiteral("m")}});
    QTest::newRow("negative id") << cbor(QCborMap{{QStringLiteral("id"), -1},
                                                  {QStringLiteral("object"), QStringLiteral("o")},
                                                  {QStringLiteral("method"), QStringLiteral("m")},
                                                  {QStringLiteral("args"), QCborArray()}});
    QTest::newRow("args not an array") << call(QStringLiteral("x"));
    QTest::newRow("byRef past the args") << call(QCborArray{1}, QCborArray{1});
    QTest::newRow("byRef twice") << call(QCborArray{1, 2}, QCborArray{0, 0});
    QTest::newRow("byRef text") << call(QCborArray{1}, QCborArray{QStringLiteral("0")});
    QTest::newRow("duplicate key") << QByteArray::fromHex("a26269640162696402");
    QTest::newRow("truncated") << good.left(good.size() - 1);
    QTest::newRow("trailing bytes") << good + QByteArray(1, '\0');
    QTest::newRow("untagged byte string") << withArg("420102");
    QTest::newRow("unknown tag") << withArg("c100");
    QTest::newRow("date as text") << withArg("d9076b6a323032342d30312d3331");
    QTest::newRow("date NaN") << withArg("d9076bf97e00");
    QTest::newRow("packet as text") << withArg("d8186178");
    QTest::newRow("map as value") << withArg("a0");
    QTest::newRow("undefined") << withArg("f7");
    QTest::newRow("integer over 64 bits signed") << withArg("1bffffffffffffffff");
    QTest::newRow("invalid UTF-8") << withArg("62c328");
    QTest::newRow("huge byte string") << withArg("d8185b4000000000000000");
    QTest::newRow("huge text") << withArg("7b4000000000000000");
    QTest::newRow("huge array") << withArg("9bffffffffffffffff");
    QTest::newRow("deep nesting") << withArg(
        QByteArray(QByteArray("81").repeated(100) + "00").constData());
}

void TestRpcFraming::malformedCallsAreRejected()
{
    QFETCH(QByteArray, body);
    QString message;
    QCOMPARE(thrown([&] { decodeCall(body); }, &message), expected(RpcError::Kind::Protocol));
    QVERIFY2(message.startsWith(u"Mensagem malformada"), qPrintable(message));
}

void TestRpcFraming::malformedAnswersAreRejected_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("result and error")
        << cbor(QCborMap{{QStringLiteral("id"), 1},
                         {QStringLiteral("result"), 1},
                         {QStringLiteral("error"), QStringLiteral("x")}});
    QTest::newRow("neither") << cbor(QCborMap{{QStringLiteral("id"), 1}});
    QTest::newRow("result without id") << cbor(QCborMap{{QStringLiteral("result"), 1}});
    QTest::newRow("refs on an error")
        << cbor(QCborMap{{QStringLiteral("id"), 1},
                         {QStringLiteral("error"), QStringLiteral("x")},
                         {QStringLiteral("refs"), QCborMap{{0, 1}}}});
    QTest::newRow("refs keyed by text")
        << cbor(QCborMap{{QStringLiteral("id"), 1},
                         {QStringLiteral("result"), 1},
                         {QStringLiteral("refs"), QCborMap{{QStringLiteral("0"), 1}}}});
    QTest::newRow("error not text")
        << cbor(QCborMap{{QStringLiteral("id"), 1}, {QStringLiteral("error"), 5}});
}

void TestRpcFraming::malformedAnswersAreRejected()
{
    QFETCH(QByteArray, body);
    QCOMPARE(thrown([&] { decodeAnswer(body); }), expected(RpcError::Kind::Protocol));
}

void TestRpcFraming::helloToleratesLaterKeysButNeedsItsOwn()
{
    const RpcHello later = decodeHello(cbor(QCborMap{{QStringLiteral("hello"), "fis-rpc"},
                                                     {QStringLiteral("version"), 2},
                                                     {QStringLiteral("compression"), "zstd"}}));
    QCOMPARE(later.version, qint64(2));
    QCOMPARE(thrown([] {
                 decodeHello(cbor(QCborMap{{QStringLiteral("version"), 1}}));
             }),
             expected(RpcError::Kind::Protocol));
    QCOMPARE(thrown([] {
                 decodeHelloReply(
                     cbor(QCborMap{{QStringLiteral("ok"), false}, {QStringLiteral("version"), 1}}));
             }),
             expected(RpcError::Kind::Protocol));
}

void TestRpcFraming::argsHelpersNameTheArgument()
{
    RpcArgs args(QStringLiteral("GetRegistro"),
                 {QStringLiteral("COMPRA"), QStringLiteral("2024-01-31"), 5, RpcValue()}, {0});
    QCOMPARE(args.text(0), QStringLiteral("COMPRA"));
    QCOMPARE(args.number(2), 5.0);

    QString message;
    QCOMPARE(thrown([&] { args.date(1); }, &message), expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("O argumento 2 de GetRegistro deve ser uma data, não texto."));
    QCOMPARE(thrown([&] { args.expectCount(12); }, &message), expected(RpcError::Kind::Server));
    QCOMPARE(message, QStringLiteral("GetRegistro recebe 12 argumentos, não 4."));
    QCOMPARE(thrown([&] { args.packet(3); }, &message), expected(RpcError::Kind::Server));
    QCOMPARE(message,
             QStringLiteral("O argumento 4 de GetRegistro deve ser um pacote de dados, não nulo."));
    QCOMPARE(thrown([&] { args.text(4); }, &message), expected(RpcError::Kind::Server));
    QVERIFY2(message.contains(u"argumento 5"), qPrintable(message));

    QVERIFY(args.isByRef(0));
    QVERIFY(!args.isByRef(1));
    args.set(0, QStringLiteral("COMPRA_0001"));
    QCOMPARE(args.text(0), QStringLiteral("COMPRA_0001"));
}

QTEST_GUILESS_MAIN(TestRpcFraming)
// A page of lines is held once: the largest packet of an answer or a call takes the frame's own
// buffer, the other large ones and the small ones are copies, and each outlives the frame.
void TestRpcFraming::largePacketsAreTakenFromTheFrame()
{
    const QByteArray page = patterned(300000, 'a');
    const QByteArray list = patterned(100000, 'k');
    const QByteArray small = QByteArrayLiteral("tiny");
    RpcAnswer answer;
    answer.id = 3;
    answer.result =
        QList<RpcValue>{"OK", RpcValue::fromPacket(page), "dir", RpcValue::fromPacket(small),
                        QList<RpcValue>{RpcValue::fromPacket(list)}};
    answer.refs.insert(1, RpcValue::fromPacket(list));
    QByteArray body = encodeAnswer(answer).mid(4);
    const char *from = body.constData();
    const char *to = from + body.size();
    RpcAnswer back = decodeAnswer(std::move(body));
    QVERIFY(back.result == answer.result);
    QVERIFY(back.refs.value(1) == answer.refs.value(1));
    const QByteArray got = back.result.at(1).toPacket();
    QVERIFY(inside(got, from, to));
    QVERIFY(!inside(back.result.at(4).at(0).toPacket(), from, to));
    QVERIFY(!inside(back.refs.value(1).toPacket(), from, to));
    QVERIFY(!inside(back.result.at(3).toPacket(), from, to));
    back = RpcAnswer();
    QCOMPARE(got, page);

    // A call's packet argument likewise, and the const& form copies every packet.
    RpcCall call;
    call.id = 4;
    call.object = QStringLiteral("O");
    call.method = QStringLiteral("getNotasMarcadas");
    call.args = {RpcValue::fromPacket(page), RpcValue::fromPacket(list)};
    QByteArray callBody = encodeCall(call).mid(4);
    const QByteArray kept = callBody;
    const RpcCall copied = decodeCall(kept);
    QVERIFY(
        !inside(copied.args.at(0).toPacket(), kept.constData(), kept.constData() + kept.size()));
    from = callBody.constData();
    to = from + callBody.size();
    const RpcCall taken = decodeCall(std::move(callBody)); // shares the buffer with `kept`
    QCOMPARE(taken.args.at(0).toPacket(), page);
    QCOMPARE(taken.args.at(1).toPacket(), list);
    QCOMPARE(copied.args.at(0).toPacket(), page);
}

// Read in place or copied, a packet whose bytes run past the frame is refused, and one sent in
// chunks (of unknown length) is put together as before.
void TestRpcFraming::packetsReadInPlaceAreChecked()
{
    RpcAnswer answer;
    answer.id = 1;
    answer.result = QList<RpcValue>{"OK", RpcValue::fromPacket(patterned(200000, 'p')), "S"};
    const QByteArray whole = encodeAnswer(answer).mid(4);
    for (const qsizetype cut : {qsizetype(100), whole.size() / 2, whole.size() - 4}) {
        QByteArray shortBody = whole.left(cut);
        QCOMPARE(thrown([&] { decodeAnswer(std::move(shortBody)); }),
                 expected(RpcError::Kind::Protocol));
        QCOMPARE(thrown([&] { decodeAnswer(whole.left(cut)); }),
                 expected(RpcError::Kind::Protocol));
    }

    // {"id": 1, "result": 24(_ h'<70000 bytes>' h'78')}
    const QByteArray first = patterned(70000, 'c');
    QByteArray chunked = QByteArrayLiteral("\xa2\x62id\x01\x66result\xd8\x18\x5f\x5a");
    chunked += char(0);
    chunked += char(first.size() >> 16);
    chunked += char((first.size() >> 8) & 0xff);
    chunked += char(first.size() & 0xff);
    chunked += first;
    chunked += QByteArrayLiteral("\x41x\xff");
    const RpcAnswer back = decodeAnswer(std::move(chunked));
    QCOMPARE(back.result.toPacket(), first + "x");
}

// A block the size of a page of lines comes from the heap, not from fresh memory of the system.
void TestRpcFraming::largeBlocksComeFromTheHeap()
{
#if defined(M_MMAP_THRESHOLD)
    reuseLargeBlocks();
    const size_t mappedBefore = mallinfo2().hblkhd;
    void *page = std::malloc(40 << 20);
    QVERIFY(page);
    QCOMPARE(mallinfo2().hblkhd, mappedBefore);
    std::free(page);
#else
    QSKIP("the C library has no such setting");
#endif
}

// Sent in pieces, an answer is the same bytes as in one frame, each large packet going out as the
// answer holds it, without a copy; the size limit counts the whole.
void TestRpcFraming::answersGoOutInPiecesWithTheirPacketsShared()
{
    const QByteArray page = patterned(300000, 'a');
    const QByteArray other = patterned(70000, 'o');
    RpcAnswer answer;
    answer.id = 12;
    answer.result = QList<RpcValue>{"OK",          RpcValue::fromPacket(page),
                                    "C:\\saida\\", RpcValue::fromPacket(QByteArrayLiteral("small")),
                                    "N",           ""};
    answer.refs.insert(0, "COMPRA");
    answer.refs.insert(8, 50000.0);
    answer.refs.insert(9, RpcValue::fromPacket(other));
    const QList<QByteArray> pieces = encodeAnswerPieces(answer);
    QCOMPARE(pieces.join(), encodeAnswer(answer));
    QCOMPARE(std::count_if(pieces.begin(), pieces.end(),
                           [&](const QByteArray &p) {
                               return p.constData() == page.constData() ||
                                      p.constData() == other.constData();
                           }),
             2);
    QVERIFY(decodeAnswer(pieces.join().mid(4)).result == answer.result);

    // Without large packets, one piece; too large, refused as the whole frame would be.
    RpcAnswer plain;
    plain.id = 1;
    plain.result = QList<RpcValue>{"OK", RpcValue::fromPacket(QByteArrayLiteral("x"))};
    QCOMPARE(encodeAnswerPieces(plain), QList<QByteArray>{encodeAnswer(plain)});
    const qint64 size = pieces.join().size() - 4;
    QCOMPARE(encodeAnswerPieces(answer, size).join().size(), size + 4);
    QCOMPARE(thrown([&] { encodeAnswerPieces(answer, size - 1); }),
             expected(RpcError::Kind::FrameTooLarge));
}

#include "tst_rpcframing.moc"
