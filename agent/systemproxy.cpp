#include "systemproxy.h"

#include <QNetworkProxyFactory>

namespace vek::agent {

void UseSystemProxySettings()
{
    // Some builds of the framework default to no proxy at all. Setting it
    // again is cheap and safe from any thread: a flag under the framework's
    // own lock.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

}  // namespace vek::agent
