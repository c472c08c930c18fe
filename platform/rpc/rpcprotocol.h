#pragma once

#include "rpc/framereader.h"
#include "rpc/rpcvalue.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace fis {

// The messages of the wire protocol (docs/protocol.md) and their encoding.
//
// Every encoder returns a whole frame, prefix included, and throws RpcError(FrameTooLarge) when
// the frame would exceed the given limit. Every decoder takes a frame body (without prefix),
// validates all of it - one CBOR map, only known keys, each of the right type, nothing after it -
// and throws RpcError(Protocol) for anything else; it never crashes on hostile input.

inline constexpr qint64 kProtocolVersion = 1;
inline constexpr char kProtocolName[] = "fis-rpc";

// Client to server, first frame of a connection.
struct RpcHello
{
    QString protocol = QString::fromLatin1(kProtocolName);
    qint64 version = kProtocolVersion;
    // The client's session key: the same on every connection the client makes, so that the
    // server can tell its own lists from anyone else's. Empty: none sent.
    QString session;
    // The client's name and its nonce, when it has a secret to prove (rpc/clientauth.h).
    QString client;
    QByteArray nonce;
};

// Server to client, answer to the hello: ok, or an error text after which the server closes,
// or a challenge when the client has to prove its secret first.
struct RpcHelloReply
{
    bool ok = true;
    qint64 version = kProtocolVersion;
    QString error;
    // The challenge: the server's nonce, the secret's salt and rounds. Empty when none.
    QByteArray challenge;
    QByteArray salt;
    qint64 iterations = 0;
    // With ok after a proof: the server's own proof that it holds the client's verifier.
    QByteArray signature;

    bool isChallenge() const { return !challenge.isEmpty(); }
};

// Client to server, answer to a challenge.
struct RpcProof
{
    QByteArray proof;
};

struct RpcCall
{
    quint64 id = 0;
    QString object;
    QString method;
    QList<RpcValue> args;
    QList<qsizetype> byRef; // 0-based indexes into args, each at most once
};

// Answer to a call: a result with the final values of the by-reference arguments, or an error.
// An error without id is about the connection itself; the server closes after sending it.
struct RpcAnswer
{
    std::optional<quint64> id;
    bool failed = false;
    QString error;
    RpcValue result;
    QMap<qsizetype, RpcValue> refs;
};

QByteArray encodeHello(const RpcHello &hello, qint64 maxFrameSize = kDefaultMaxFrameSize);
QByteArray encodeHelloReply(const RpcHelloReply &reply, qint64 maxFrameSize = kDefaultMaxFrameSize);
QByteArray encodeProof(const RpcProof &proof);
QByteArray encodeCall(const RpcCall &call, qint64 maxFrameSize = kDefaultMaxFrameSize);
QByteArray encodeAnswer(const RpcAnswer &answer, qint64 maxFrameSize = kDefaultMaxFrameSize);
// The same frame as pieces to send one after the other: a large packet is a piece of its own,
// shared with the answer instead of copied into the frame.
QList<QByteArray> encodeAnswerPieces(const RpcAnswer &answer,
                                     qint64 maxFrameSize = kDefaultMaxFrameSize);

RpcHello decodeHello(const QByteArray &body);
// A new session key for a hello: 128 random bits from the system's generator, in hex.
QString randomSessionKey();
RpcHelloReply decodeHelloReply(const QByteArray &body);
RpcProof decodeProof(const QByteArray &body);
RpcCall decodeCall(const QByteArray &body);
RpcAnswer decodeAnswer(const QByteArray &body);
// The same from a frame body nobody else holds: a large packet takes the body's buffer instead
// of a copy of its bytes, so a page of lines is held once, not twice.
RpcCall decodeCall(QByteArray &&body);
RpcAnswer decodeAnswer(QByteArray &&body);

// One value alone, as it appears inside a message (no frame); for tests and tools.
QByteArray encodeValue(const RpcValue &value);
RpcValue decodeValue(const QByteArray &cbor);

} // namespace fis
