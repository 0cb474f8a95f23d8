#include "printerinventory.h"

#include "platform/printers.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace vek::agent {

QString ClassifyQueue(const QString &driverName)
{
    static const char *const labelMarks[] = { "zebra", "zdesigner", "label", "tsc", "godex" };
    const QString driver = driverName.toLower();
    for (const char *mark : labelMarks) {
        if (driver.contains(QLatin1String(mark)))
            return QStringLiteral("LABEL");
    }
    return QStringLiteral("DOCUMENT");
}

QJsonArray BuildQueueList()
{
    QJsonArray queues;
    for (const platform::PrinterInfo &printer : platform::EnumeratePrinters()) {
        const QString name = QString::fromStdString(printer.name);
        queues.append(QJsonObject { { "systemName", name }, { "name", name },
            { "kind", ClassifyQueue(QString::fromStdString(printer.driverName)) } });
    }
    return queues;
}

QString InventoryFingerprint(const QJsonArray &queues)
{
    const QByteArray text = QJsonDocument(queues).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

}  // namespace vek::agent
