#include "agent/discburners.h"

#include <QCryptographicHash>
#include <QJsonObject>
#include <QString>

namespace vek::agent {
namespace {

QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonObject BurnerRecord(const vek::platform::DiscWriter &writer, const QString &adapter)
{
    const QString recorderId = FromUtf8(writer.uniqueId);
    // Servers key destinations by this digest, so it is taken over the text
    // that is sent as "recorderId" and keeps the same prefix on every system.
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(recorderId.toUtf8(), QCryptographicHash::Sha256).toHex());

    QString name = FromUtf8(writer.vendorId + ' ' + writer.productId).trimmed();
    if (name.isEmpty())
        name = QStringLiteral("CD/DVD writer");

    QJsonArray volumes;
    for (const std::string &volume : writer.volumes)
        volumes.append(FromUtf8(volume));

    return QJsonObject {
        { QStringLiteral("recorderId"), recorderId },
        { QStringLiteral("destinationKey"), QStringLiteral("imapi2:") + digest },
        { QStringLiteral("code"), QStringLiteral("burner-") + digest.left(24) },
        { QStringLiteral("name"), name },
        { QStringLiteral("volumes"), volumes },
        { QStringLiteral("adapter"), adapter },
    };
}

}  // namespace

QJsonArray BurnerRecords(const vek::platform::DiscWriterScan &scan)
{
    const QString adapter = FromUtf8(scan.adapter);
    QJsonArray records;
    for (const vek::platform::DiscWriter &writer : scan.writers) {
        if (static_cast<std::size_t>(records.size()) >= kMaxDiscWriters)
            break;
        if (writer.uniqueId.empty())
            continue;
        records.append(BurnerRecord(writer, adapter));
    }
    return records;
}

QJsonArray EnumerateDiscBurners()
{
    return BurnerRecords(vek::platform::ListDiscWriters(kMaxDiscWriters));
}

}  // namespace vek::agent
