#include "configfile.h"

#include "identity.h"
#include "serveraddress.h"

#include "platform/credentialseal.h"
#include "platform/secretstore.h"
#include "vek/product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace vek::agent {

namespace {

// The value of "tokenStore" when the keyring holds the credential.
constexpr char kInKeyring[] = "keyring";

QString Tr(const char *text)
{
    return QCoreApplication::translate("vek::agent::ConfigFile", text);
}

platform::Bytes ToBytes(const QByteArray &bytes)
{
    return platform::Bytes(bytes.cbegin(), bytes.cend());
}

QByteArray FromBytes(const platform::Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

QString UnsealToken(const QJsonValue &stored)
{
    const QByteArray sealed = QByteArray::fromBase64(stored.toString().toLatin1());
    if (sealed.isEmpty())
        return {};
    const auto plain = platform::UnsealForCurrentUser(ToBytes(sealed));
    return plain ? QString::fromUtf8(FromBytes(*plain)) : QString();
}

// The keyring entry belongs to this file: another data directory of the same
// user (a second profile, a demonstration run) has an entry of its own.
std::string KeyringKey()
{
    return AgentConfigPath().toStdString();
}

QString KeyringProblem(const platform::SecretStoreResult &read)
{
    switch (read.status) {
    case platform::SecretStoreStatus::Locked:
        return Tr("The desktop keyring that holds this workstation's credential is locked. "
                  "Unlock it, then choose \"Check for jobs now\".");
    case platform::SecretStoreStatus::NoStore:
        return Tr("This workstation's credential is kept in the desktop keyring, which is not "
                  "running. Sign in to the desktop again, then choose \"Check for jobs now\".");
    default:
        return Tr("The desktop keyring did not give this workstation's credential (%1). Choose "
                  "\"Check for jobs now\" to try again.")
            .arg(QString::fromStdString(read.error));
    }
}

// The credential from the keyring. A missing entry counts as none (the
// workstation is set up again); any other failure is a problem for the user.
QString ReadKeyringToken(QString *problem)
{
    const platform::SecretStoreResult read = platform::ReadSecret(product::kAppName, KeyringKey());
    if (read.status == platform::SecretStoreStatus::Done)
        return QString::fromStdString(read.secret);
    if (read.status != platform::SecretStoreStatus::NotFound && problem)
        *problem = KeyringProblem(read);
    return {};
}

QStringList LoadServers(const QJsonValue &stored)
{
    QStringList servers;
    for (const QJsonValue &entry : stored.toArray()) {
        const QString canonical = NormaliseServerUrl(entry.toString().trimmed());
        if (!canonical.isEmpty() && IsAllowedServerUrl(canonical) && !servers.contains(canonical))
            servers.append(canonical);
    }
    return servers;
}

std::optional<QJsonObject> ReadStoredObject()
{
    QFile file(AgentConfigPath());
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool InKeyring(const QJsonObject &stored)
{
    return !stored.contains("token") && stored.value("tokenStore").toString() == kInKeyring;
}

// Everything but the credential.
AgentConfig RecordFrom(const QJsonObject &stored)
{
    AgentConfig config;
    config.nodeBaseUrl = stored.value("nodeBaseUrl").toString().trimmed();
    config.managed = stored.value("managed").toBool(false);
    config.deviceId = stored.value("deviceId").toString().trimmed();
    config.displayName = stored.value("displayName").toString().trimmed();
    config.servers = LoadServers(stored.value("servers"));
    if (config.deviceId.isEmpty())
        config.deviceId = DeriveDeviceId().value_or(QString());
    if (config.displayName.isEmpty())
        config.displayName = DefaultDisplayName();
    return config;
}

// Puts the credential where it is kept: into the keyring where one runs and
// takes it, otherwise sealed into the file. A keyring that refuses it (locked,
// the unlock prompt dismissed, not answering) must not cost the enrolment, and
// the sealed file protects it as well as it does where no keyring runs.
// False when neither worked.
bool StoreToken(const QString &token, QJsonObject &stored)
{
    if (token.isEmpty())
        return true;
    const QByteArray plain = token.toUtf8();
    if (plain.isEmpty())
        return false;
    if (platform::HasSecretStore()
        && platform::StoreSecret(product::kAppName, KeyringKey(), plain.toStdString()).status
            == platform::SecretStoreStatus::Done) {
        stored.insert("tokenStore", kInKeyring);
        return true;
    }
    const auto sealed = platform::SealForCurrentUser(ToBytes(plain), product::kAppName);
    if (!sealed || sealed->empty())
        return false;
    stored.insert("token", QString::fromLatin1(FromBytes(*sealed).toBase64()));
    return true;
}

// Writes the file. keyringCleared tells whether an entry that the previous
// file pointed to, and the new one no longer does, is gone from the keyring.
bool Save(const AgentConfig &config, bool *keyringCleared)
{
    *keyringCleared = true;
    const QString path = AgentConfigPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;

    QJsonObject stored { { "nodeBaseUrl", config.nodeBaseUrl.trimmed() },
        { "managed", config.managed }, { "deviceId", config.deviceId.trimmed() },
        { "displayName", config.displayName.trimmed() },
        { "servers", QJsonArray::fromStringList(config.servers) } };
    if (!StoreToken(config.token, stored))
        return false;
    const bool wasInKeyring = InKeyring(ReadStoredObject().value_or(QJsonObject()));

    // Written to a save file and committed over the old one, so a crash or a
    // full disk never leaves a half-written file without address or credential.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray text = QJsonDocument(stored).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size() || !file.commit())
        return false;
    if (wasInKeyring && !InKeyring(stored)) {
        *keyringCleared = platform::RemoveSecret(product::kAppName, KeyringKey()).status
            == platform::SecretStoreStatus::Done;
    }
    return true;
}

}  // namespace

QString AgentConfigPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/agent.json");
}

std::optional<AgentConfig> LoadAgentConfig(QString *credentialProblem)
{
    const std::optional<QJsonObject> stored = ReadStoredObject();
    if (!stored)
        return std::nullopt;
    AgentConfig config = RecordFrom(*stored);
    config.token = InKeyring(*stored) ? ReadKeyringToken(credentialProblem)
                                      : UnsealToken(stored->value("token"));
    return config;
}

bool SaveAgentConfig(const AgentConfig &config)
{
    bool keyringCleared = true;
    return Save(config, &keyringCleared);
}

bool ClearStoredToken()
{
    // The credential itself is not read: a locked keyring would ask the user
    // to unlock it only to throw it away.
    const std::optional<QJsonObject> stored = ReadStoredObject();
    if (!stored)
        return true;
    bool keyringCleared = true;
    return Save(RecordFrom(*stored), &keyringCleared) && keyringCleared;
}

}  // namespace vek::agent
