// Authenticode on OpenSSL: the image hash, the PKCS#7 SignedData and its
// indirect-data digest, the signature, and the chain to the pinned root, with
// that root as the only trusted certificate.

#include "platform/installersignature.h"
#include "platform/installertable.h"
#include "platform/pefile.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace vek::platform {
namespace {

constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";  // SPC_INDIRECT_DATA_OBJID
constexpr std::size_t kHashChunk = 1 << 20;

template <typename T, void (*Free)(T *)> struct Deleter {
    void operator()(T *object) const { Free(object); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using DigestInfo = std::unique_ptr<X509_SIG, Deleter<X509_SIG, X509_SIG_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using Object = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

void FreeCertificateStack(STACK_OF(X509) * stack)
{
    sk_X509_free(stack);
}
using Signers = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeCertificateStack>>;

// One DER element: where its contents start and where it ends.
struct DerElement {
    const unsigned char *contents = nullptr;
    const unsigned char *end = nullptr;
};

std::optional<DerElement> ReadDer(const unsigned char *at, const unsigned char *limit)
{
    if (limit - at < 2)
        return std::nullopt;
    std::size_t length = at[1];
    const unsigned char *contents = at + 2;
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || std::size_t(limit - contents) < octets)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < octets; ++i)
            length = (length << 8) | contents[i];
        contents += octets;
    }
    if (std::size_t(limit - contents) < length)
        return std::nullopt;
    return DerElement { contents, contents + length };
}

std::optional<std::vector<unsigned char>> ImageHash(
    const PeBytes &bytes, const PeSignature &signature, const EVP_MD *algorithm)
{
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1)
        return std::nullopt;
    std::vector<unsigned char> buffer(kHashChunk);
    for (const PeByteRange &range : signature.hashedRanges) {
        for (std::uint64_t done = 0; done < range.size;) {
            const std::size_t chunk
                = std::size_t(std::min<std::uint64_t>(kHashChunk, range.size - done));
            if (!bytes.read(range.offset + done, buffer.data(), chunk)
                || EVP_DigestUpdate(context.get(), buffer.data(), chunk) != 1)
                return std::nullopt;
            done += chunk;
        }
    }
    std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        return std::nullopt;
    digest.resize(length);
    return digest;
}

std::string Sha1Hex(X509 *certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha1(), digest, &length) != 1)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0xF]);
    }
    return text;
}

bool IsAllowedDigest(int nid)
{
    return nid == NID_sha256 || nid == NID_sha384 || nid == NID_sha512;
}

// The verdict once the file's structure has been read.
SignatureVerdict VerifySignedData(
    const PeBytes &bytes, const PeSignature &signature, const std::string &pin)
{
    const unsigned char *der = signature.signedData.data();
    Pkcs7 p7(d2i_PKCS7(nullptr, &der, long(signature.signedData.size())));
    if (!p7 || der != signature.signedData.data() + signature.signedData.size()
        || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents)
        return SignatureVerdict::NotVerified;
    PKCS7 *contents = p7->d.sign->contents;
    const Object indirectData(OBJ_txt2obj(kIndirectDataOid, 1));
    if (!indirectData || !contents->type || OBJ_cmp(contents->type, indirectData.get()) != 0
        || !contents->d.other || contents->d.other->type != V_ASN1_SEQUENCE
        || !contents->d.other->value.sequence)
        return SignatureVerdict::NotVerified;

    // SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }.
    const ASN1_STRING *sequence = contents->d.other->value.sequence;
    const unsigned char *start = ASN1_STRING_get0_data(sequence);
    const unsigned char *limit = start + ASN1_STRING_length(sequence);
    const auto outer = ReadDer(start, limit);
    if (!outer || start[0] != 0x30 || outer->end != limit)
        return SignatureVerdict::NotVerified;
    const auto data = ReadDer(outer->contents, outer->end);
    if (!data || outer->contents[0] != 0x30)
        return SignatureVerdict::NotVerified;
    const unsigned char *digestStart = data->end;
    DigestInfo digestInfo(d2i_X509_SIG(nullptr, &digestStart, long(outer->end - data->end)));
    if (!digestInfo || digestStart != outer->end)
        return SignatureVerdict::NotVerified;
    const X509_ALGOR *algorithm = nullptr;
    const ASN1_OCTET_STRING *expectedDigest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &expectedDigest);
    const int digestNid = OBJ_obj2nid(algorithm->algorithm);
    const EVP_MD *md = IsAllowedDigest(digestNid) ? EVP_get_digestbynid(digestNid) : nullptr;
    if (!md)
        return SignatureVerdict::NotVerified;
    const auto imageHash = ImageHash(bytes, signature, md);
    if (!imageHash)
        return SignatureVerdict::Uncheckable;
    if (std::size_t(ASN1_STRING_length(expectedDigest)) != imageHash->size()
        || std::memcmp(ASN1_STRING_get0_data(expectedDigest), imageHash->data(), imageHash->size())
            != 0)
        return SignatureVerdict::NotVerified;

    // The signer signs the contents of the indirect data, without its own
    // tag and length.
    Bio content(BIO_new_mem_buf(outer->contents, int(outer->end - outer->contents)));
    if (!content
        || PKCS7_verify(
               p7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY)
            != 1)
        return SignatureVerdict::NotVerified;
    Signers signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return SignatureVerdict::NotVerified;
    X509 *leaf = sk_X509_value(signers.get(), 0);
    if (!(X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE)
        || !(X509_get_extended_key_usage(leaf) & XKU_CODE_SIGN))
        return SignatureVerdict::NotVerified;

    // Only the certificate with the pinned thumbprint is trusted; the others
    // in the signature may only link the signer to it.
    STACK_OF(X509) *carried = p7->d.sign->cert;
    X509 *root = nullptr;
    for (int i = 0; pin.size() == 40 && i < sk_X509_num(carried); ++i) {
        if (Sha1Hex(sk_X509_value(carried, i)) == pin)
            root = sk_X509_value(carried, i);
    }
    if (!root)
        return SignatureVerdict::WrongAuthority;
    Store store(X509_STORE_new());
    StoreContext context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_add_cert(store.get(), root) != 1
        || X509_STORE_CTX_init(context.get(), store.get(), leaf, carried) != 1)
        return SignatureVerdict::Uncheckable;
    if (X509_verify_cert(context.get()) == 1) {
        // The chain must end in the pinned certificate itself.
        STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context.get());
        const int length = sk_X509_num(chain);
        return length > 0 && X509_cmp(sk_X509_value(chain, length - 1), root) == 0
            ? SignatureVerdict::Accepted
            : SignatureVerdict::WrongAuthority;
    }
    switch (X509_STORE_CTX_get_error(context.get())) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return SignatureVerdict::WrongAuthority;
    default:
        return SignatureVerdict::NotVerified;
    }
}

}  // namespace

SignatureVerdict VerifyInstallerSignature(
    const std::wstring &path, const std::string &expectedRootSha1)
{
    const auto bytes = PeBytesOfFile(std::filesystem::path(path));
    if (!bytes)
        return SignatureVerdict::Uncheckable;
    const PeSignature signature = ReadPeSignature(*bytes);
    if (const auto verdict = VerdictOfTable(signature.state))
        return *verdict;
    return VerifySignedData(*bytes, signature, NormalizeThumbprint(expectedRootSha1));
}

}  // namespace vek::platform
