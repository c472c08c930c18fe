#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace fis {

// Proving a client's secret in the hello without sending it, in the manner of SCRAM-SHA-256
// (RFC 5802, RFC 7677): the server keeps only a verifier derived from the secret with a salt and
// many PBKDF2 rounds, from which the secret cannot be had back nor a proof made; each connection
// proves knowledge of the secret against nonces of both sides, so that a proof seen once is
// worth nothing on another connection; the server's signature proves to the client that the
// server holds the verifier.
//
//   salted    = PBKDF2-HMAC-SHA256(secret, salt, iterations), 32 bytes
//   clientKey = HMAC(salted, "Client Key"); storedKey = SHA-256(clientKey)
//   serverKey = HMAC(salted, "Server Key")
//   message   = client name, NUL, client nonce, server nonce
//   proof     = clientKey XOR HMAC(storedKey, message)
//   signature = HMAC(serverKey, message)

inline constexpr int kDefaultSecretIterations = 100000;
inline constexpr int kMinSecretIterations = 4096;
inline constexpr int kNonceBytes = 32;

struct ClientVerifier
{
    int iterations = 0;
    QByteArray salt;
    QByteArray storedKey;
    QByteArray serverKey;

    // A verifier for `secret` with a fresh random salt.
    static ClientVerifier fromSecret(const QByteArray &secret,
                                     int iterations = kDefaultSecretIterations);
    // "scram-sha-256:ITERATIONS:SALT:STOREDKEY:SERVERKEY", the binary parts in base64: how a
    // server's configuration holds it. parse() gives nothing for a text not of that form.
    QString toText() const;
    static std::optional<ClientVerifier> parse(const QString &text);
};

// The salted secret; the slow step, done once per secret, salt and iterations.
QByteArray saltedSecret(const QByteArray &secret, const QByteArray &salt, int iterations);
QByteArray authMessage(const QString &client, const QByteArray &clientNonce,
                       const QByteArray &serverNonce);
// The client's side.
QByteArray clientProof(const QByteArray &salted, const QByteArray &message);
QByteArray expectedServerSignature(const QByteArray &salted, const QByteArray &message);
// The server's side.
bool proofIsValid(const ClientVerifier &verifier, const QByteArray &message,
                  const QByteArray &proof);
QByteArray serverSignature(const ClientVerifier &verifier, const QByteArray &message);
// Random bytes from the system's generator.
QByteArray randomBytes(int count);
// Equal in a time that does not depend on where they differ.
bool sameBytes(const QByteArray &a, const QByteArray &b);

} // namespace fis
