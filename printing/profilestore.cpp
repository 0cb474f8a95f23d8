#include "printing/profilestore.h"

#include "platform/printers.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QSettings>
#include <QUuid>

namespace vek::printing {

namespace {

Q_LOGGING_CATEGORY(lcProfiles, "vek.profiles", QtWarningMsg)

QString ProfileGroup(const QString &systemName, const QString &profileId)
{
    return QueueSettingsKey(systemName) + QStringLiteral("/profiles/") + profileId;
}

QStringList ProfileIdsIn(QSettings &settings, const QString &queueKey)
{
    settings.beginGroup(queueKey + QStringLiteral("/profiles"));
    const QStringList ids = settings.childGroups();
    settings.endGroup();
    return ids;
}

QJsonObject DescribeProfile(QSettings &settings, const QString &group, const QString &profileId)
{
    return QJsonObject {
        { QStringLiteral("id"), profileId },
        { QStringLiteral("name"), settings.value(group + QStringLiteral("/name")).toString() },
        { QStringLiteral("version"),
            settings.value(group + QStringLiteral("/version")).toString() },
        { QStringLiteral("widthMm"),
            settings.value(group + QStringLiteral("/widthMm")).toDouble() },
        { QStringLiteral("heightMm"),
            settings.value(group + QStringLiteral("/heightMm")).toDouble() },
        { QStringLiteral("ready"),
            !settings.value(group + QStringLiteral("/devmode")).toByteArray().isEmpty() },
    };
}

// Writes what is pending; false when the store could not be written.
bool Flush(QSettings &settings)
{
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    qCWarning(lcProfiles) << "settings store not written:" << settings.fileName()
                          << settings.status();
    return false;
}

}  // namespace

QString QueueSettingsKey(const QString &systemName)
{
    const QByteArray hash
        = QCryptographicHash::hash(systemName.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("printing/queues/") + QString::fromLatin1(hash);
}

bool IsStoredIdForm(const QString &id)
{
    if (id.size() != 36)
        return false;
    for (qsizetype i = 0; i < id.size(); ++i) {
        const QChar c = id.at(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return true;
}

QJsonObject ProfileDescription(const QString &systemName, const QString &profileId)
{
    QSettings settings;
    return DescribeProfile(settings, ProfileGroup(systemName, profileId), profileId);
}

QJsonArray BuildQueueDescriptions()
{
    QSettings settings;
    QJsonArray queues;
    for (const platform::PrinterInfo &printer : platform::EnumeratePrinters()) {
        const QString systemName = QString::fromStdString(printer.name);
        const QString queueKey = QueueSettingsKey(systemName);
        const QString idKey = queueKey + QStringLiteral("/id");
        QString localId = settings.value(idKey).toString();
        if (localId.isEmpty()) {
            localId = QUuid::createUuid().toString(QUuid::WithoutBraces);
            settings.setValue(idKey, localId);
        }
        QJsonArray profiles;
        for (const QString &profileId : ProfileIdsIn(settings, queueKey))
            profiles.append(DescribeProfile(
                settings, queueKey + QStringLiteral("/profiles/") + profileId, profileId));
        queues.append(QJsonObject {
            { QStringLiteral("localQueueId"), localId },
            { QStringLiteral("systemName"), systemName },
            { QStringLiteral("name"), systemName },
            { QStringLiteral("status"),
                printer.needsAttention ? QStringLiteral("ERROR") : QStringLiteral("UNKNOWN") },
            { QStringLiteral("enabled"),
                settings.value(queueKey + QStringLiteral("/enabled"), false).toBool() },
            { QStringLiteral("profiles"), profiles },
        });
    }
    Flush(settings);
    return queues;
}

bool IsQueueEnabled(const QString &systemName)
{
    QSettings settings;
    return settings.value(QueueSettingsKey(systemName) + QStringLiteral("/enabled"), false)
        .toBool();
}

void SetQueueEnabled(const QString &systemName, bool enabled)
{
    QSettings settings;
    settings.setValue(QueueSettingsKey(systemName) + QStringLiteral("/enabled"), enabled);
    Flush(settings);
}

QStringList ProfileIds(const QString &systemName)
{
    QSettings settings;
    return ProfileIdsIn(settings, QueueSettingsKey(systemName));
}

StoredProfile ReadProfile(const QString &systemName, const QString &profileId)
{
    QSettings settings;
    const QString group = ProfileGroup(systemName, profileId);
    StoredProfile profile;
    profile.name = settings.value(group + QStringLiteral("/name")).toString();
    profile.devmode = settings.value(group + QStringLiteral("/devmode")).toByteArray();
    profile.version = settings.value(group + QStringLiteral("/version")).toString();
    profile.widthMm = settings.value(group + QStringLiteral("/widthMm")).toDouble();
    profile.heightMm = settings.value(group + QStringLiteral("/heightMm")).toDouble();
    return profile;
}

bool WriteProfile(const QString &systemName, const QString &profileId, const QString &name,
    const QByteArray &devmode, double widthMm, double heightMm)
{
    QSettings settings;
    const QString group = ProfileGroup(systemName, profileId);
    settings.setValue(group + QStringLiteral("/name"), name);
    settings.setValue(group + QStringLiteral("/devmode"), devmode);
    settings.setValue(group + QStringLiteral("/version"), SettingsVersion(devmode));
    settings.setValue(group + QStringLiteral("/widthMm"), widthMm);
    settings.setValue(group + QStringLiteral("/heightMm"), heightMm);
    return Flush(settings);
}

QString SettingsVersion(const QByteArray &devmode)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(devmode, QCryptographicHash::Sha256).toHex());
}

}  // namespace vek::printing
