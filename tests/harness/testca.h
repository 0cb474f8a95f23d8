#pragma once
// A certificate authority made at test time, and the server certificates it
// issued: one for 127.0.0.1 and localhost, one for a name that only a proxy
// reaches.

#include <QSslCertificate>
#include <QSslKey>

namespace vek::test {

// A clinic host name that does not resolve: a request reaches it only
// through a proxy that connects it to loopback.
inline constexpr char kProxiedHost[] = "clinic.test";

struct TestCertificates {
    QSslCertificate ca;
    QSslCertificate server;  // 127.0.0.1 and localhost
    QSslKey serverKey;
    QSslCertificate proxiedServer;  // kProxiedHost
    QSslKey proxiedServerKey;
    // kProxiedHost again, from a CA that nobody trusts.
    QSslCertificate strangerServer;
    QSslKey strangerServerKey;
};

const TestCertificates &TestCertificatesForProcess();

// Code-signing material for installers signed at test time, as PEM: a
// code-signing root with a signer (code-signing usage) and a leaf without
// that usage, and a second, unrelated root with a signer of its own.
struct CodeSigningCertificates {
    QByteArray root;
    QByteArray signer;
    QByteArray signerKey;
    QByteArray leafWithoutUsage;
    QByteArray leafWithoutUsageKey;
    QByteArray otherRoot;
    QByteArray otherSigner;
    QByteArray otherSignerKey;
    QString rootSha1;  // lower-case hexadecimal
    QString otherRootSha1;
};

const CodeSigningCertificates &CodeSigningCertificatesForProcess();

// Makes this process's default TLS configuration trust the test CA, as a
// workstation trusts a clinic's certificate authority.
void TrustTestCaInDefaultConfiguration();

}  // namespace vek::test
