#include "testprofile.h"

#include "platform/driversettings.h"
#include "printing/profilestore.h"

#include <QUuid>

namespace vek::test {

QByteArray CapturedSettings(const char *queue)
{
    const auto bytes = platform::CaptureDriverSettings(queue, 0, false, {});
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

TestProfile SaveDefaultProfile(const char *queue)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray settings = CapturedSettings(queue);
    if (settings.isEmpty()
        || !printing::WriteProfile(queue, id, QStringLiteral("Default"), settings, 210, 297))
        return {};
    printing::SetQueueEnabled(queue, true);
    return { id, printing::SettingsVersion(settings) };
}

}  // namespace vek::test
