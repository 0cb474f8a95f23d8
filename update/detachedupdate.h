#pragma once
// Starts a verified installer so that it outlives this program and inherits
// none of its handles, streams or connections.

#include <QString>
#include <QStringList>

namespace vek::update {

// program is a full path; it runs in its own directory. True when started.
bool StartDetachedUpdate(const QString &program, const QStringList &arguments, qint64 *processId);

}  // namespace vek::update
