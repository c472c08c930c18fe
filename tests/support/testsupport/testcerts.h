#pragma once

#include <QString>

namespace fis::test {

// Certificates for TLS tests, made once per test program with the openssl command: a CA, a
// server certificate it signed for 127.0.0.1 and localhost with its key, and another CA that
// signed nothing the server holds.
struct TestCertificates
{
    QString ca;
    QString serverCertificate;
    QString serverKey;
    QString otherCa;
    QString fingerprint; // SHA-256 of the server certificate, hex
    bool ok = false;
};

const TestCertificates &testCertificates();

} // namespace fis::test
