#include "rpc/clientauth.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace fis {

namespace {

constexpr char kScheme[] = "scram-sha-256";
constexpr int kKeyBytes = 32;

QByteArray hmac(const QByteArray &key, const QByteArray &message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray xorBytes(const QByteArray &a, const QByteArray &b)
{
    QByteArray out(a.size(), '\0');
    for (qsizetype i = 0; i < a.size() && i < b.size(); ++i)
        out[i] = char(a[i] ^ b[i]);
    return out;
}

QByteArray clientKeyOf(const QByteArray &salted)
{
    return hmac(salted, QByteArrayLiteral("Client Key"));
}

QByteArray serverKeyOf(const QByteArray &salted)
{
    return hmac(salted, QByteArrayLiteral("Server Key"));
}

} // namespace

QByteArray randomBytes(int count)
{
    QByteArray out(count, '\0');
    QRandomGenerator *g = QRandomGenerator::system();
    for (int i = 0; i < count; ++i)
        out[i] = char(g->bounded(256));
    return out;
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QByteArray saltedSecret(const QByteArray &secret, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, secret, salt, iterations,
                                              kKeyBytes);
}

ClientVerifier ClientVerifier::fromSecret(const QByteArray &secret, int iterations)
{
    ClientVerifier v;
    v.iterations = iterations;
    v.salt = randomBytes(16);
    const QByteArray salted = saltedSecret(secret, v.salt, iterations);
    v.storedKey = sha256(clientKeyOf(salted));
    v.serverKey = serverKeyOf(salted);
    return v;
}

QString ClientVerifier::toText() const
{
    return QStringLiteral("%1:%2:%3:%4:%5")
        .arg(QLatin1StringView(kScheme))
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(storedKey.toBase64()),
             QString::fromLatin1(serverKey.toBase64()));
}

std::optional<ClientVerifier> ClientVerifier::parse(const QString &text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() != 5 || parts[0] != QLatin1StringView(kScheme))
        return std::nullopt;
    bool ok = false;
    ClientVerifier v;
    v.iterations = parts[1].toInt(&ok);
    if (!ok || v.iterations < kMinSecretIterations)
        return std::nullopt;
    const auto decode = [](const QString &b64, QByteArray *out) {
        auto r =
            QByteArray::fromBase64Encoding(b64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!r)
            return false;
        *out = *r;
        return true;
    };
    if (!decode(parts[2], &v.salt) || !decode(parts[3], &v.storedKey) ||
        !decode(parts[4], &v.serverKey) || v.salt.size() < 8 || v.storedKey.size() != kKeyBytes ||
        v.serverKey.size() != kKeyBytes)
        return std::nullopt;
    return v;
}

QByteArray authMessage(const QString &client, const QByteArray &clientNonce,
                       const QByteArray &serverNonce)
{
    return client.toUtf8() + '\0' + clientNonce + serverNonce;
}

QByteArray clientProof(const QByteArray &salted, const QByteArray &message)
{
    const QByteArray clientKey = clientKeyOf(salted);
    return xorBytes(clientKey, hmac(sha256(clientKey), message));
}

QByteArray expectedServerSignature(const QByteArray &salted, const QByteArray &message)
{
    return hmac(serverKeyOf(salted), message);
}

bool proofIsValid(const ClientVerifier &verifier, const QByteArray &message,
                  const QByteArray &proof)
{
    if (proof.size() != kKeyBytes)
        return false;
    const QByteArray clientKey = xorBytes(proof, hmac(verifier.storedKey, message));
    return sameBytes(sha256(clientKey), verifier.storedKey);
}

QByteArray serverSignature(const ClientVerifier &verifier, const QByteArray &message)
{
    return hmac(verifier.serverKey, message);
}

} // namespace fis
