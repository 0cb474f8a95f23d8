#pragma once
// A certificate authority made at test time, and a server certificate it
// issued for 127.0.0.1 and localhost.

#include <QSslCertificate>
#include <QSslKey>

namespace vek::test {

struct TestCertificates {
    QSslCertificate ca;
    QSslCertificate server;
    QSslKey serverKey;
};

const TestCertificates &TestCertificatesForProcess();

// Makes this process's default TLS configuration trust the test CA, as a
// workstation trusts a clinic's certificate authority.
void TrustTestCaInDefaultConfiguration();

}  // namespace vek::test
