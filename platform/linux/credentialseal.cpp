// Seals secrets for the signed-in user on this machine.
//
// Threat model. A sealed blob is AES-256-GCM ciphertext under a key derived
// (HKDF-SHA256) from a random per-user key file, the machine identifier and
// the user id. It protects against the blob leaking on its own (a copied
// configuration file, a backup), against the blob being copied to another
// account (that account has its own key file and user id) and against the
// account's files being copied to another machine (another machine id). Like
// the data protection of other systems it does not protect against root or
// against code running as the same user: they can read the key file.
//
// The key file is 32 random bytes, mode 0600, in the application's 0700 data
// directory. It is written to a private temporary file first and then linked
// into place, so a reader never sees half a key and, when two processes
// create one at once, both end up with the same key.

#include "platform/credentialseal.h"

#include "platform/machineguid.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <array>
#include <cerrno>
#include <climits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vek::platform {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = { 'V', 'K', 'S', 1 };
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
constexpr char kKeyFileName[] = "credential.key";
constexpr char kKdfLabel[] = "vek credential seal v1";

// Key material that is wiped when it goes out of scope.
struct SecretKey {
    std::array<unsigned char, kKeySize> bytes {};
    SecretKey() = default;
    SecretKey(const SecretKey &) = delete;
    SecretKey &operator=(const SecretKey &) = delete;
    ~SecretKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

struct OsslDeleter {
    void operator()(EVP_KDF *kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX *ctx) const { EVP_KDF_CTX_free(ctx); }
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using KdfPtr = std::unique_ptr<EVP_KDF, OsslDeleter>;
using KdfCtxPtr = std::unique_ptr<EVP_KDF_CTX, OsslDeleter>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OsslDeleter>;

QByteArray KeyDirectory()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return dir.isEmpty() ? QByteArray() : QFile::encodeName(dir);
}

// Makes the key directory if needed and keeps it private to its owner.
bool PrepareDirectory(const QByteArray &dir)
{
    if (!QDir().mkpath(QFile::decodeName(dir)))
        return false;
    struct stat info { };
    if (::stat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 07777) == 0700 || ::chmod(dir.constData(), 0700) == 0;
}

bool WriteAll(int fd, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SyncDirectory(const QByteArray &dir)
{
    Fd fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

// Reads the key only when it is a private file of this user with the right size:
// a key others could read, or a truncated one, protects nothing.
bool ReadKey(const QByteArray &path, SecretKey &key)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info { };
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || info.st_uid != ::getuid() || (info.st_mode & 077) != 0
        || info.st_size != static_cast<off_t>(kKeySize))
        return false;
    std::size_t done = 0;
    while (done < kKeySize) {
        const ssize_t got = ::read(fd.get(), key.bytes.data() + done, kKeySize - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Publishes a new random key unless another process got there first.
bool CreateKey(const QByteArray &dir, const QByteArray &path)
{
    SecretKey fresh;
    if (RAND_bytes(fresh.bytes.data(), static_cast<int>(fresh.bytes.size())) != 1)
        return false;
    QByteArray temporary = path + ".XXXXXX";
    Fd fd(::mkostemp(temporary.data(), O_CLOEXEC));  // O_CREAT | O_EXCL, mode 0600
    if (fd.get() < 0)
        return false;
    const bool written = WriteAll(fd.get(), fresh.bytes.data(), fresh.bytes.size())
        && ::fsync(fd.get()) == 0 && fd.Close();
    const bool linked
        = written && (::link(temporary.constData(), path.constData()) == 0 || errno == EEXIST);
    ::unlink(temporary.constData());
    return linked && SyncDirectory(dir);
}

bool LoadKey(bool create, SecretKey &key)
{
    const QByteArray dir = KeyDirectory();
    if (dir.isEmpty())
        return false;
    const QByteArray path = dir + '/' + kKeyFileName;
    if (!create)
        return ReadKey(path, key);
    if (!PrepareDirectory(dir))
        return false;
    if (::access(path.constData(), F_OK) != 0 && !CreateKey(dir, path))
        return false;
    return ReadKey(path, key);
}

// The sealing key belongs to this key file, this machine and this user.
bool DeriveSealingKey(const SecretKey &fileKey, SecretKey &sealingKey)
{
    std::string info = kKdfLabel;
    info += '\0';
    info += MachineGuid();
    info += '\0';
    info += std::to_string(::getuid());

    const KdfPtr kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    const KdfCtxPtr ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!ctx)
        return false;
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
            const_cast<unsigned char *>(fileKey.bytes.data()), fileKey.bytes.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(ctx.get(), sealingKey.bytes.data(), sealingKey.bytes.size(), params) == 1;
}

bool SealingKey(bool create, SecretKey &sealingKey)
{
    SecretKey fileKey;
    return LoadKey(create, fileKey) && DeriveSealingKey(fileKey, sealingKey);
}

}  // namespace

std::optional<Bytes> SealForCurrentUser(const Bytes &plain, const std::string &description)
{
    // The blob is bound to user and machine, not to a name; the description
    // only labels the secret on systems that record one.
    static_cast<void>(description);
    if (plain.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    SecretKey key;
    if (!SealingKey(true, key))
        return std::nullopt;

    Bytes sealed(kMagic.size() + kNonceSize + plain.size() + kTagSize);
    std::copy(kMagic.begin(), kMagic.end(), sealed.begin());
    unsigned char *nonce = sealed.data() + kMagic.size();
    unsigned char *cipher = nonce + kNonceSize;
    unsigned char *tag = cipher + plain.size();
    if (RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1)
        return std::nullopt;

    const CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!ctx
        || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), nonce) != 1
        || EVP_EncryptUpdate(
               ctx.get(), nullptr, &length, kMagic.data(), static_cast<int>(kMagic.size()))
            != 1
        || (!plain.empty()
            && EVP_EncryptUpdate(
                   ctx.get(), cipher, &length, plain.data(), static_cast<int>(plain.size()))
                != 1)
        || EVP_EncryptFinal_ex(ctx.get(), tag, &length) != 1
        || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), tag)
            != 1)
        return std::nullopt;
    return sealed;
}

std::optional<Bytes> UnsealForCurrentUser(const Bytes &sealed)
{
    if (sealed.size() < kMagic.size() + kNonceSize + kTagSize
        || !std::equal(kMagic.begin(), kMagic.end(), sealed.begin()))
        return std::nullopt;
    const std::size_t cipherSize = sealed.size() - kMagic.size() - kNonceSize - kTagSize;
    if (cipherSize > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    SecretKey key;
    if (!SealingKey(false, key))
        return std::nullopt;

    const unsigned char *nonce = sealed.data() + kMagic.size();
    const unsigned char *cipher = nonce + kNonceSize;
    Bytes tag(cipher + cipherSize, cipher + cipherSize + kTagSize);
    Bytes plain(cipherSize);
    const CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!ctx
        || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), nonce) != 1
        || EVP_DecryptUpdate(
               ctx.get(), nullptr, &length, kMagic.data(), static_cast<int>(kMagic.size()))
            != 1
        || (cipherSize > 0
            && EVP_DecryptUpdate(
                   ctx.get(), plain.data(), &length, cipher, static_cast<int>(cipherSize))
                != 1)
        || EVP_CIPHER_CTX_ctrl(
               ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), tag.data())
            != 1
        || EVP_DecryptFinal_ex(ctx.get(), plain.data() + cipherSize, &length) != 1) {
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    return plain;
}

}  // namespace vek::platform
