#include "configfile.h"

#include "identity.h"
#include "serveraddress.h"

#include "platform/credentialseal.h"
#include "vek/product.h"

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

}  // namespace

QString AgentConfigPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/agent.json");
}

std::optional<AgentConfig> LoadAgentConfig()
{
    QFile file(AgentConfigPath());
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
    file.close();

    AgentConfig config;
    config.nodeBaseUrl = stored.value("nodeBaseUrl").toString().trimmed();
    config.managed = stored.value("managed").toBool(false);
    config.deviceId = stored.value("deviceId").toString().trimmed();
    config.displayName = stored.value("displayName").toString().trimmed();
    config.servers = LoadServers(stored.value("servers"));
    config.token = UnsealToken(stored.value("token"));
    if (config.deviceId.isEmpty())
        config.deviceId = DeriveDeviceId().value_or(QString());
    if (config.displayName.isEmpty())
        config.displayName = DefaultDisplayName();
    return config;
}

bool SaveAgentConfig(const AgentConfig &config)
{
    const QString path = AgentConfigPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;

    QJsonObject stored { { "nodeBaseUrl", config.nodeBaseUrl.trimmed() },
        { "managed", config.managed }, { "deviceId", config.deviceId.trimmed() },
        { "displayName", config.displayName.trimmed() },
        { "servers", QJsonArray::fromStringList(config.servers) } };
    if (!config.token.isEmpty()) {
        const QByteArray plain = config.token.toUtf8();
        const auto sealed = plain.isEmpty()
            ? std::nullopt
            : platform::SealForCurrentUser(ToBytes(plain), product::kAppName);
        if (!sealed || sealed->empty())
            return false;
        stored.insert("token", QString::fromLatin1(FromBytes(*sealed).toBase64()));
    }

    // Written to a save file and committed over the old one, so a crash or a
    // full disk never leaves a half-written file without address or credential.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray text = QJsonDocument(stored).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size())
        return false;
    return file.commit();
}

bool ClearStoredToken()
{
    std::optional<AgentConfig> stored = LoadAgentConfig();
    if (!stored)
        return true;
    stored->token.clear();
    return SaveAgentConfig(*stored);
}

}  // namespace vek::agent
