// The desktop's Secret Service (GNOME Keyring, KWallet) through QtKeychain.
//
// QtKeychain's jobs answer asynchronously; each call here runs its job in a
// local event loop up to a time limit. QtKeychain cannot tell a locked
// keyring from a missing entry (both read back as "entry not found"), so the
// Secret Service itself is asked whether the entry sits in a locked
// collection. Its insecure fallback, a plaintext settings file, stays off.

#include "platform/secretstore.h"

#include "platform/linux/secretservice.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMap>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <atomic>
#include <memory>

namespace vek::platform {

namespace linuxbackend {
namespace {
constexpr std::chrono::milliseconds kDefaultTimeout { 30000 };
std::atomic<std::chrono::milliseconds::rep> overriddenTimeout { 0 };
}  // namespace

std::chrono::milliseconds SecretServiceTimeout()
{
    const auto overridden = overriddenTimeout.load();
    return overridden > 0 ? std::chrono::milliseconds(overridden) : kDefaultTimeout;
}

void SetSecretServiceTimeoutForTesting(std::chrono::milliseconds timeout)
{
    overriddenTimeout = timeout.count();
}
}  // namespace linuxbackend

namespace {

Q_LOGGING_CATEGORY(lcKeyring, "vek.keyring", QtWarningMsg)

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

int TimeoutMs()
{
    return int(linuxbackend::SecretServiceTimeout().count());
}

SecretStoreResult Result(SecretStoreStatus status, const QString &error = {})
{
    return SecretStoreResult { status, {}, error.toStdString() };
}

// A blocking call on the session bus; an invalid reply when it failed.
QDBusMessage CallBus(const QDBusMessage &call)
{
    return QDBusConnection::sessionBus().call(call, QDBus::Block, TimeoutMs());
}

// Runs job to its end or to the time limit. A job still waiting for the store
// then is left to delete itself when the answer comes, since the store's
// library still holds a pointer to it; a late store or removal may still be
// carried out then.
template <class JobType> bool Finish(std::unique_ptr<JobType> &job)
{
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(linuxbackend::SecretServiceTimeout(), &loop, &QEventLoop::quit);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished) {
        qCWarning(lcKeyring) << "the Secret Service did not answer in time";
        job->setAutoDelete(true);
        static_cast<void>(job.release());
    }
    return finished;
}

SecretStoreResult NoAnswer()
{
    return Result(SecretStoreStatus::Failed, QStringLiteral("The keyring did not answer in time."));
}

SecretStoreResult Failure(const QKeychain::Job &job)
{
    const bool locked
        = job.error() == QKeychain::AccessDenied || job.error() == QKeychain::AccessDeniedByUser;
    return Result(
        locked ? SecretStoreStatus::Locked : SecretStoreStatus::Failed, job.errorString());
}

enum class Presence { Absent, Unlocked, Locked, Unknown };

// Where the Secret Service keeps the entry, asked by the attributes under
// which QtKeychain files it.
Presence FindEntry(const QString &service, const QString &key)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage search
        = QDBusMessage::createMethodCall(kSecretService, QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    const QMap<QString, QString> attributes { { QStringLiteral("user"), key },
        { QStringLiteral("server"), service } };
    search << QVariant::fromValue(attributes);
    const QDBusMessage reply = CallBus(search);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        qCWarning(lcKeyring) << "searching the Secret Service failed:" << reply.errorMessage();
        return Presence::Unknown;
    }
    const auto paths = [&](int index) {
        return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(index));
    };
    if (!paths(1).isEmpty())
        return Presence::Locked;
    return paths(0).isEmpty() ? Presence::Absent : Presence::Unlocked;
}

}  // namespace

bool HasSecretStore()
{
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    const auto ask = [](const char *method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QString::fromLatin1(method));
        call.setArguments(arguments);
        const QDBusMessage reply = CallBus(call);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            ? reply.arguments().constFirst()
            : QVariant();
    };
    // A desktop that starts its keyring on demand lists it as activatable.
    return ask("NameHasOwner", { kSecretService }).toBool()
        || ask("ListActivatableNames", {}).toStringList().contains(kSecretService);
}

SecretStoreResult StoreSecret(
    const std::string &service, const std::string &key, const std::string &secret)
{
    if (!HasSecretStore())
        return Result(SecretStoreStatus::NoStore);
    auto job = std::make_unique<QKeychain::WritePasswordJob>(QString::fromStdString(service));
    job->setKey(QString::fromStdString(key));
    job->setTextData(QString::fromStdString(secret));
    if (!Finish(job))
        return NoAnswer();
    return job->error() == QKeychain::NoError ? Result(SecretStoreStatus::Done) : Failure(*job);
}

SecretStoreResult ReadSecret(const std::string &service, const std::string &key)
{
    if (!HasSecretStore())
        return Result(SecretStoreStatus::NoStore);
    auto job = std::make_unique<QKeychain::ReadPasswordJob>(QString::fromStdString(service));
    job->setKey(QString::fromStdString(key));
    if (!Finish(job))
        return NoAnswer();
    if (job->error() == QKeychain::NoError) {
        SecretStoreResult found = Result(SecretStoreStatus::Done);
        found.secret = job->textData().toStdString();
        return found;
    }
    if (job->error() != QKeychain::EntryNotFound)
        return Failure(*job);
    switch (FindEntry(QString::fromStdString(service), QString::fromStdString(key))) {
    case Presence::Absent:
        return Result(SecretStoreStatus::NotFound);
    case Presence::Locked:
        return Result(SecretStoreStatus::Locked, QStringLiteral("The keyring is locked."));
    case Presence::Unlocked:
    case Presence::Unknown:
        break;
    }
    return Result(SecretStoreStatus::Failed, job->errorString());
}

SecretStoreResult RemoveSecret(const std::string &service, const std::string &key)
{
    if (!HasSecretStore())
        return Result(SecretStoreStatus::NoStore);
    auto job = std::make_unique<QKeychain::DeletePasswordJob>(QString::fromStdString(service));
    job->setKey(QString::fromStdString(key));
    if (!Finish(job))
        return NoAnswer();
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        return Failure(*job);
    // A locked keyring answers a removal without removing anything.
    switch (FindEntry(QString::fromStdString(service), QString::fromStdString(key))) {
    case Presence::Absent:
        return Result(SecretStoreStatus::Done);
    case Presence::Locked:
        return Result(SecretStoreStatus::Locked, QStringLiteral("The keyring is locked."));
    case Presence::Unlocked:
    case Presence::Unknown:
        break;
    }
    return Result(SecretStoreStatus::Failed, QStringLiteral("The keyring kept the entry."));
}

}  // namespace vek::platform
