#pragma once

class QCoreApplication;

namespace vek::app {

// Sets the application and organisation names and the version; they select
// the per-user directories of the configuration, journals and dumps.
void ApplyApplicationIdentity(QCoreApplication &application);

}  // namespace vek::app
