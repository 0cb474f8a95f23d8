#include "detachedupdate.h"

#include "platform/detachedstart.h"

#include <QDir>

namespace vek::update {

bool StartDetachedUpdate(const QString &program, const QStringList &arguments, qint64 *processId)
{
    std::vector<std::string> utf8Arguments;
    for (const QString &argument : arguments)
        utf8Arguments.push_back(argument.toStdString());
    std::int64_t id = 0;
    const bool started = vek::platform::StartDetached(
        QDir::toNativeSeparators(program).toStdString(), utf8Arguments, &id);
    if (started && processId)
        *processId = id;
    return started;
}

}  // namespace vek::update
