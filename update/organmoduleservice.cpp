#include "organmoduleservice.h"

#include "agent/systemproxy.h"

#include <QFile>
#include <QNetworkReply>

#include <utility>

namespace vek {

OrganModuleService::OrganModuleService(QObject *parent)
    : QObject(parent)
{
    vek::agent::UseSystemProxySettings();
}

OrganModuleService::~OrganModuleService()
{
    // A running download is aborted and the partial file removed from disk,
    // so no half-written module outlives the service.
    if (QNetworkReply *reply = std::exchange(downloadReply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (downloadFile && downloadFile->isOpen()) {
        downloadFile->close();
        downloadFile->remove();
    }
    downloadFile.reset();
}

void OrganModuleService::AdoptDownload(QNetworkReply *reply, std::unique_ptr<QFile> partialFile)
{
    downloadReply = reply;
    downloadFile = std::move(partialFile);
}

}  // namespace vek
