#pragma once
// Keeps a desktop program up to date: checks the maker's manifest, downloads
// the offered installer into a private folder, accepts it only when its
// SHA-256 and its code signature under the pinned root both hold, and starts
// it detached. Every outcome arrives as a signal; nothing is shown here.

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QFile;
class QNetworkReply;

namespace vek::platform {
class Sha256Stream;
}

namespace vek {

// What the program builds in. Only code constructs these, so nothing a user
// can configure moves the trusted domain, the pin or the limits; tests pass
// their own (loopback domain, test root, short time-outs).
struct UpdateServiceSettings {
    QString trustedDomain;  // lower case
    std::string rootThumbprint;  // SHA-1 of the code-signing root, 40 hex digits
    std::chrono::milliseconds transferTimeout { 10000 };  // no data moving for this long
    std::chrono::milliseconds checkDeadline { 30000 };  // a whole manifest check
    // Starts a program detached; empty means update::StartDetachedUpdate.
    // Tests that cannot run the installer they verified observe it here.
    std::function<bool(const QString &program, const QStringList &arguments)> startDetached;

    static UpdateServiceSettings BuiltIn();
};

class DesktopUpdateService : public QObject {
    Q_OBJECT
public:
    DesktopUpdateService(const QString &currentVersion, const QUrl &manifestUrl,
        QObject *parent = nullptr, int product = 1);
    DesktopUpdateService(const QString &currentVersion, const QUrl &manifestUrl, QObject *parent,
        int product, const UpdateServiceSettings &settings);
    ~DesktopUpdateService() override;

    void CheckForUpdates();
    void DownloadUpdate();
    void InstallUpdate();

    static QUrl DefaultManifestUrl();
    static bool IsTrustedUpdateUrl(const QUrl &url);
    QString UserAgent() const;

    static QString UpdatesDirectory();
    static QString InstallerFileName(const QString &version, bool final);
    QString InstallerPath(bool final) const;
    static void RemoveStaleDownloads();

signals:
    void InstallerStarted();
    void UpdateAvailable(QString version);
    void NoUpdateAvailable();
    void CheckFailed(QString reason);
    void DownloadProgress(qlonglong received, qlonglong total);
    void UpdateReady(QString version);
    void UpdateFailed(QString reason);

private:
    void OnManifestReply(QNetworkReply *reply);
    void OnDownloadProgress(qint64 received, qint64 total);
    void OnDownloadData();
    void OnDownloadFinished();
    void AbortDownload(const QString &reason);
    void OnPrepareError(QProcess::ProcessError error);
    void OnPrepareFinished(int exitCode, QProcess::ExitStatus status);
    bool StartDetached(const QString &program, const QStringList &arguments);
    bool StartInstaller(const QStringList &arguments);
    bool TrustedHere(const QUrl &url) const;

    QString currentVersion;
    QUrl manifestUrl;
    int product;
    QNetworkAccessManager network;
    bool checkInFlight = false;
    QString offeredVersion;
    QUrl downloadUrl;
    QString expectedSha256;
    QNetworkReply *downloadReply = nullptr;
    std::unique_ptr<QFile> downloadFile;
    QString readyInstallerPath;
    bool preparing = false;
    QProcess *prepareProcess = nullptr;

    UpdateServiceSettings settings;
    QTimer checkDeadline;
    QPointer<QNetworkReply> manifestReply;
    std::unique_ptr<vek::platform::Sha256Stream> downloadHash;
    bool downloadWriteFailed = false;
    QString readySha256;  // digest of the file at readyInstallerPath
    QString readyVersion;
};

}  // namespace vek
