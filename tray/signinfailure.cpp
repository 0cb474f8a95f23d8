#include "signinfailure.h"

#include "vek/product.h"

#include <QCoreApplication>

namespace vek::agent {

QString RunAtSignInFailureText()
{
    return product::kWindowsBuild
        ? QCoreApplication::translate("vek::agent::AgentTray",
            "Windows would not let this setting be saved, so the agent may not start "
            "automatically.")
        : QCoreApplication::translate("vek::agent::AgentTray",
            "The autostart entry could not be saved, so the agent may not start automatically.");
}

}  // namespace vek::agent
