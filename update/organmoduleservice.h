#pragma once
// The module counterpart of DesktopUpdateService, shared with the sibling
// desktop product: its signals and its clean-up. The print agent never
// creates it.

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QFile;
class QNetworkReply;

namespace vek {

class OrganModuleService : public QObject {
    Q_OBJECT
public:
    explicit OrganModuleService(QObject *parent = nullptr);
    ~OrganModuleService() override;

signals:
    void Offered(QString version, qulonglong bytes, bool update);
    void UpToDate();
    void CheckFailed(QString reason);
    void Progress(qlonglong received, qlonglong total);
    void Installing(QString version);
    void Installed(QString version);
    void Failed(QString reason);

protected:
    // For the code that runs the download: the reply and the partial file
    // are owned here so that destruction always cleans them up.
    void AdoptDownload(QNetworkReply *reply, std::unique_ptr<QFile> partialFile);

private:
    QNetworkAccessManager network;
    QString installedVersion;
    QString offeredVersion;
    QString expectedSha256;
    QUrl manifestUrl;
    QUrl downloadUrl;
    QNetworkReply *downloadReply = nullptr;
    std::unique_ptr<QFile> downloadFile;
};

}  // namespace vek
