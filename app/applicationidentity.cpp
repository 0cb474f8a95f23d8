#include "applicationidentity.h"

#include "vek/product.h"

#include <QCoreApplication>

namespace vek::app {

void ApplyApplicationIdentity(QCoreApplication &application)
{
    application.setApplicationName(QString::fromUtf8(product::kAppName));
    application.setOrganizationName(QString::fromUtf8(product::kOrgName));
    application.setApplicationVersion(QString::fromUtf8(product::kVersion));
}

}  // namespace vek::app
