#include "testca.h"

#include <QSslConfiguration>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace vek::test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Key NewKey()
{
    return Key(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

// Code signing uses RSA: Wine's crypt32 verifies RSA certificate signatures
// only, and installers are checked under Wine too.
Key NewSigningKey()
{
    return Key(EVP_RSA_gen(2048), EVP_PKEY_free);
}

bool AddExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

enum class Usage { Server, CodeSigning, None };

constexpr char kLoopbackNames[] = "IP:127.0.0.1,DNS:localhost";

Cert NewCertificate(const char *commonName, EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey,
    long serial, Usage usage = Usage::Server, const char *serverNames = kLoopbackNames)
{
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    X509 *signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    const bool isCa = issuer == nullptr;
    bool ok = isCa ? AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE")
            && AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign")
                   : AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
    if (ok && !isCa && usage == Usage::Server)
        ok = AddExtension(cert.get(), signer, NID_subject_alt_name, serverNames)
            && AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    if (ok && !isCa && usage == Usage::CodeSigning)
        ok = AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature")
            && AddExtension(cert.get(), signer, NID_ext_key_usage, "codeSigning");
    if (ok && !isCa && usage == Usage::None)
        ok = AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
    ok = ok && X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0;
    return ok ? std::move(cert) : Cert(nullptr, X509_free);
}

QByteArray Pem(X509 *cert)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(bio.get(), cert);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

QByteArray Pem(EVP_PKEY *key)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

TestCertificates Make()
{
    TestCertificates made;
    Key caKey = NewKey();
    Key serverKey = NewKey();
    Key proxiedKey = NewKey();
    Key strangerCaKey = NewKey();
    Key strangerKey = NewKey();
    if (!caKey || !serverKey || !proxiedKey || !strangerCaKey || !strangerKey)
        return made;
    Cert ca = NewCertificate("Vek test clinic CA", caKey.get(), nullptr, caKey.get(), 1);
    Cert strangerCa
        = NewCertificate("Unknown CA", strangerCaKey.get(), nullptr, strangerCaKey.get(), 30);
    if (!ca || !strangerCa)
        return made;
    const QByteArray proxiedNames = QByteArray("DNS:") + kProxiedHost;
    Cert server = NewCertificate("127.0.0.1", serverKey.get(), ca.get(), caKey.get(), 2);
    Cert proxied = NewCertificate(kProxiedHost, proxiedKey.get(), ca.get(), caKey.get(), 3,
        Usage::Server, proxiedNames.constData());
    Cert stranger = NewCertificate(kProxiedHost, strangerKey.get(), strangerCa.get(),
        strangerCaKey.get(), 31, Usage::Server, proxiedNames.constData());
    if (!server || !proxied || !stranger)
        return made;
    made.ca = QSslCertificate(Pem(ca.get()));
    made.server = QSslCertificate(Pem(server.get()));
    made.serverKey = QSslKey(Pem(serverKey.get()), QSsl::Ec);
    made.proxiedServer = QSslCertificate(Pem(proxied.get()));
    made.proxiedServerKey = QSslKey(Pem(proxiedKey.get()), QSsl::Ec);
    made.strangerServer = QSslCertificate(Pem(stranger.get()));
    made.strangerServerKey = QSslKey(Pem(strangerKey.get()), QSsl::Ec);
    return made;
}

QString Sha1Hex(X509 *cert)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha1(), digest, &length);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

CodeSigningCertificates MakeCodeSigning()
{
    CodeSigningCertificates made;
    Key rootKey = NewSigningKey();
    Key signerKey = NewSigningKey();
    Key plainKey = NewSigningKey();
    Key otherRootKey = NewSigningKey();
    Key otherSignerKey = NewSigningKey();
    if (!rootKey || !signerKey || !plainKey || !otherRootKey || !otherSignerKey)
        return made;
    Cert root
        = NewCertificate("Vek test code-signing root", rootKey.get(), nullptr, rootKey.get(), 10);
    Cert otherRoot = NewCertificate(
        "Another code-signing root", otherRootKey.get(), nullptr, otherRootKey.get(), 20);
    if (!root || !otherRoot)
        return made;
    Cert signer = NewCertificate(
        "Vek test signer", signerKey.get(), root.get(), rootKey.get(), 11, Usage::CodeSigning);
    Cert plain = NewCertificate(
        "Vek test leaf without usage", plainKey.get(), root.get(), rootKey.get(), 12, Usage::None);
    Cert otherSigner = NewCertificate("Another signer", otherSignerKey.get(), otherRoot.get(),
        otherRootKey.get(), 21, Usage::CodeSigning);
    if (!signer || !plain || !otherSigner)
        return made;
    made.root = Pem(root.get());
    made.signer = Pem(signer.get());
    made.signerKey = Pem(signerKey.get());
    made.leafWithoutUsage = Pem(plain.get());
    made.leafWithoutUsageKey = Pem(plainKey.get());
    made.otherRoot = Pem(otherRoot.get());
    made.otherSigner = Pem(otherSigner.get());
    made.otherSignerKey = Pem(otherSignerKey.get());
    made.rootSha1 = Sha1Hex(root.get());
    made.otherRootSha1 = Sha1Hex(otherRoot.get());
    return made;
}

}  // namespace

const CodeSigningCertificates &CodeSigningCertificatesForProcess()
{
    static const CodeSigningCertificates certificates = MakeCodeSigning();
    return certificates;
}

const TestCertificates &TestCertificatesForProcess()
{
    static const TestCertificates certificates = Make();
    return certificates;
}

void TrustTestCaInDefaultConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QSslCertificate &ca = TestCertificatesForProcess().ca;
    if (!configuration.caCertificates().contains(ca)) {
        configuration.addCaCertificate(ca);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
}

}  // namespace vek::test
