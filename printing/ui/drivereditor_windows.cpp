// The driver's own settings dialog, owned by the window that asked for it.

#include "drivereditor.h"

#include "platform/driversettings.h"

#include <QWidget>

namespace vek::printing::ui {

QByteArray EditDriverSettings(QWidget *owner, const QString &systemName, const QByteArray &seed)
{
    const std::uintptr_t window = owner ? std::uintptr_t(owner->window()->winId()) : 0;
    const platform::Bytes settings = platform::CaptureDriverSettings(
        systemName.toStdString(), window, true, platform::Bytes(seed.cbegin(), seed.cend()));
    return QByteArray(reinterpret_cast<const char *>(settings.data()), qsizetype(settings.size()));
}

}  // namespace vek::printing::ui
