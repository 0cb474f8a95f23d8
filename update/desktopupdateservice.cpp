#include "desktopupdateservice.h"

#include "detachedupdate.h"
#include "updatemanifest.h"

#include "agent/systemproxy.h"
#include "platform/installersignature.h"
#include "platform/pefile.h"
#include "platform/sha256stream.h"
#include "vek/product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcUpdate, "vek.update", QtWarningMsg)

namespace vek {
namespace {

constexpr char kAbortReason[] = "vekAbortReason";
constexpr char kInstallerPrefix[] = "Vek-Diagnostic-Viewer-";
constexpr char kManifestPath[] = "/desktop/windows/x64/print-agent/stable/latest.json";

const QString kNotTrusted = QStringLiteral("The update service URL is not trusted.");
const QString kTooLarge = QStringLiteral("The update response is too large.");
const QString kNoLongerAvailable = QStringLiteral("The verified update is no longer available.");
const QString kCouldNotStart
    = QStringLiteral("The update could not start. The installed version is unchanged.");

QStringList InstallerSwitches()
{
    return { QStringLiteral("/SILENT"), QStringLiteral("/NORESTART"),
        QStringLiteral("/NORESTARTAPPLICATIONS") };
}

QString PrintAgentProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/VekPrintAgent.exe");
}

// Ends a request with a reason of this service's own; the finished handler
// reports that reason instead of the network layer's text.
void AbortWith(QNetworkReply *reply, const QString &reason)
{
    if (reply->property(kAbortReason).toString().isEmpty())
        reply->setProperty(kAbortReason, reason);
    reply->abort();
}

QString FileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    vek::platform::Sha256Stream hash;
    QByteArray piece(1 << 20, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = file.read(piece.data(), piece.size())) > 0)
        hash.Add(piece.constData(), std::size_t(got));
    return got < 0 ? QString() : QString::fromStdString(hash.FinishHex());
}

// The signed file's own version must be the offered one, so that a validly
// signed older installer cannot be offered under a newer number.
bool FileVersionIs(const QString &path, const QString &version)
{
    const auto bytes = vek::platform::PeBytesOfFile(path.toStdWString());
    const auto fileVersion = bytes ? vek::platform::ReadPeFileVersion(*bytes) : std::nullopt;
    if (!fileVersion || (*fileVersion)[3] != 0)
        return false;
    return QStringLiteral("%1.%2.%3")
               .arg((*fileVersion)[0])
               .arg((*fileVersion)[1])
               .arg((*fileVersion)[2])
        == version;
}

}  // namespace

UpdateServiceSettings UpdateServiceSettings::BuiltIn()
{
    UpdateServiceSettings settings;
    settings.trustedDomain = QString::fromLatin1(vek::product::kUpdateDomain).toLower();
    settings.rootThumbprint = vek::product::kUpdateRootSha1;
    return settings;
}

DesktopUpdateService::DesktopUpdateService(
    const QString &currentVersion, const QUrl &manifestUrl, QObject *parent, int product)
    : DesktopUpdateService(
        currentVersion, manifestUrl, parent, product, UpdateServiceSettings::BuiltIn())
{
}

DesktopUpdateService::DesktopUpdateService(const QString &currentVersion, const QUrl &manifestUrl,
    QObject *parent, int product, const UpdateServiceSettings &settings)
    : QObject(parent)
    , currentVersion(currentVersion)
    , manifestUrl(manifestUrl)
    , product(product)
    , settings(settings)
    , downloadHash(std::make_unique<vek::platform::Sha256Stream>())
{
    vek::agent::UseSystemProxySettings();
    checkDeadline.setSingleShot(true);
    connect(&checkDeadline, &QTimer::timeout, this, [this] {
        if (manifestReply)
            AbortWith(manifestReply, QStringLiteral("The update check took too long."));
    });
}

DesktopUpdateService::~DesktopUpdateService()
{
    if (manifestReply) {
        manifestReply->disconnect(this);
        manifestReply->abort();
    }
    if (QNetworkReply *reply = std::exchange(downloadReply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (downloadFile) {
        downloadFile->close();
        downloadFile->remove();
        downloadFile.reset();
    }
}

QUrl DesktopUpdateService::DefaultManifestUrl()
{
    return QUrl(QStringLiteral("https://") + QString::fromLatin1(vek::product::kDownloadHost)
        + QLatin1String(kManifestPath));
}

bool DesktopUpdateService::IsTrustedUpdateUrl(const QUrl &url)
{
    return update::IsTrustedUpdateUrlFor(url, UpdateServiceSettings::BuiltIn().trustedDomain);
}

bool DesktopUpdateService::TrustedHere(const QUrl &url) const
{
    return update::IsTrustedUpdateUrlFor(url, settings.trustedDomain);
}

QString DesktopUpdateService::UserAgent() const
{
    return (product == update::kPrintAgentProduct ? QStringLiteral("Vek-Print-Agent/%1")
                                                  : QStringLiteral("Vek-Diagnostic-Viewer/%1"))
        .arg(currentVersion);
}

void DesktopUpdateService::CheckForUpdates()
{
    if (checkInFlight)
        return;
    if (!TrustedHere(manifestUrl)) {
        emit CheckFailed(kNotTrusted);
        return;
    }
    checkInFlight = true;
    QNetworkRequest request(manifestUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(int(settings.transferTimeout.count()));
    // Each redirect target must itself be trusted: the manifest decides what
    // is installed, so it may only come from the maker's hosts.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = network.get(request);
    // The network layer stops reading once this much is buffered, so an
    // endless body costs no more memory than a manifest may have.
    reply->setReadBufferSize(update::kMaxManifestBytes + 1);
    manifestReply = reply;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &target) {
        if (TrustedHere(target))
            emit reply->redirectAllowed();
        else
            AbortWith(reply, kNotTrusted);
    });
    // Bounded while it arrives: neither an announced nor a received size
    // beyond the limit is read any further.
    const auto bound = [reply] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > update::kMaxManifestBytes
            || reply->bytesAvailable() > update::kMaxManifestBytes)
            AbortWith(reply, kTooLarge);
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, bound);
    connect(reply, &QNetworkReply::readyRead, this, bound);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > update::kMaxManifestBytes || total > update::kMaxManifestBytes)
            AbortWith(reply, kTooLarge);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { OnManifestReply(reply); });
    checkDeadline.start(settings.checkDeadline);
}

void DesktopUpdateService::OnManifestReply(QNetworkReply *reply)
{
    checkInFlight = false;
    checkDeadline.stop();
    manifestReply.clear();
    reply->deleteLater();
    const QString abortReason = reply->property(kAbortReason).toString();
    qCDebug(lcUpdate) << "manifest reply finished:" << reply->error() << abortReason;
    if (!abortReason.isEmpty()) {
        emit CheckFailed(abortReason);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        emit CheckFailed(reply->errorString());
        return;
    }
    if (reply->bytesAvailable() > update::kMaxManifestBytes) {
        emit CheckFailed(kTooLarge);
        return;
    }
    const QByteArray body = reply->read(update::kMaxManifestBytes + 1);
    if (body.size() > update::kMaxManifestBytes) {
        emit CheckFailed(kTooLarge);
        return;
    }
    const update::ManifestCheck check
        = update::ParseUpdateManifest(body, product, currentVersion, settings.trustedDomain);
    switch (check.outcome) {
    case update::ManifestOutcome::NoUpdate:
        emit NoUpdateAvailable();
        return;
    case update::ManifestOutcome::UpdateOffered:
        offeredVersion = check.version;
        downloadUrl = check.url;
        expectedSha256 = check.sha256;
        emit UpdateAvailable(check.version);
        return;
    default:
        emit CheckFailed(update::ManifestFailureText(check.outcome));
        return;
    }
}

QString DesktopUpdateService::UpdatesDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
        + QStringLiteral("/updates");
}

QString DesktopUpdateService::InstallerFileName(const QString &version, bool final)
{
    QByteArray part;
    for (const char c : version.toUtf8()) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.')
            part.append(c);
    }
    if (part.isEmpty())
        part = "unknown";
    return QLatin1String(kInstallerPrefix) + QString::fromLatin1(part)
        + (final ? QStringLiteral(".exe") : QStringLiteral(".partial"));
}

QString DesktopUpdateService::InstallerPath(bool final) const
{
    return UpdatesDirectory() + QLatin1Char('/') + InstallerFileName(offeredVersion, final);
}

void DesktopUpdateService::RemoveStaleDownloads()
{
    const QDir directory(UpdatesDirectory());
    if (!directory.exists())
        return;
    const QByteArray prefix(kInstallerPrefix);
    for (const QString &name :
        directory.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        const QByteArray bytes = name.toUtf8();
        if (bytes.size() > prefix.size() && bytes.startsWith(prefix)
            && (bytes.endsWith(".exe") || bytes.endsWith(".partial")))
            QFile::remove(directory.filePath(name));
    }
}

void DesktopUpdateService::DownloadUpdate()
{
    if (offeredVersion.isEmpty()) {
        emit UpdateFailed(QStringLiteral("No update has been offered yet."));
        return;
    }
    if (downloadReply)
        return;
    if (!TrustedHere(downloadUrl)) {
        emit UpdateFailed(QStringLiteral("The update download location is not trusted."));
        return;
    }
    QDir().mkpath(UpdatesDirectory());
    RemoveStaleDownloads();
    downloadFile = std::make_unique<QFile>(InstallerPath(false));
    if (!downloadFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        downloadFile.reset();
        emit UpdateFailed(QStringLiteral("Could not prepare a download location."));
        return;
    }
    downloadHash->Reset();
    downloadWriteFailed = false;

    QNetworkRequest request(downloadUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // A stalled transfer must end, or it would block every later download.
    request.setTransferTimeout(int(settings.transferTimeout.count()));
    QNetworkReply *reply = network.get(request);
    downloadReply = reply;
    connect(
        reply, &QNetworkReply::downloadProgress, this, &DesktopUpdateService::OnDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DesktopUpdateService::OnDownloadData);
    connect(reply, &QNetworkReply::finished, this, &DesktopUpdateService::OnDownloadFinished);
}

void DesktopUpdateService::OnDownloadProgress(qint64 received, qint64 total)
{
    if (!downloadReply)
        return;
    // An announced length beyond the limit is refused before its body arrives.
    if (quint64(std::max<qint64>(received, 0)) > update::kMaxInstallerBytes
        || (total > 0 && quint64(total) > update::kMaxInstallerBytes)) {
        AbortDownload(QStringLiteral("The update is larger than expected."));
        return;
    }
    emit DownloadProgress(received, total);
}

void DesktopUpdateService::OnDownloadData()
{
    if (!downloadReply || !downloadFile || !downloadReply->isReadable())
        return;
    // The digest is taken from the bytes as they arrive, so the file is never
    // read back whole before it is checked.
    const QByteArray data = downloadReply->readAll();
    downloadHash->Add(data.constData(), std::size_t(data.size()));
    if (downloadFile->write(data) != data.size())
        downloadWriteFailed = true;
}

void DesktopUpdateService::AbortDownload(const QString &reason)
{
    if (QNetworkReply *reply = std::exchange(downloadReply, nullptr)) {
        reply->abort();
        reply->deleteLater();
    }
    if (downloadFile) {
        downloadFile->close();
        downloadFile->remove();
        downloadFile.reset();
    }
    readyInstallerPath.clear();
    readySha256.clear();
    emit UpdateFailed(reason);
}

void DesktopUpdateService::OnDownloadFinished()
{
    if (!downloadReply || sender() != downloadReply)
        return;
    OnDownloadData();
    QNetworkReply *reply = std::exchange(downloadReply, nullptr);
    reply->deleteLater();
    const QString errorText = reply->errorString();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        AbortDownload(errorText.isEmpty() ? QStringLiteral("The update could not be downloaded.")
                                          : errorText);
        return;
    }
    if (!downloadFile) {
        AbortDownload(QStringLiteral("The download was interrupted."));
        return;
    }
    if (downloadWriteFailed || !downloadFile->flush()) {
        AbortDownload(QStringLiteral("The downloaded update could not be read."));
        return;
    }
    downloadFile->close();
    const QString partialPath = downloadFile->fileName();
    downloadFile.reset();

    const QString digest = QString::fromStdString(downloadHash->FinishHex());
    if (expectedSha256.size() != 64 || digest.compare(expectedSha256, Qt::CaseInsensitive) != 0) {
        QFile::remove(partialPath);
        AbortDownload(QStringLiteral(
            "The downloaded update did not match its published checksum and was discarded."));
        return;
    }
    vek::platform::SignatureVerdict verdict = vek::platform::VerifyInstallerSignature(
        partialPath.toStdWString(), settings.rootThumbprint);
    if (verdict == vek::platform::SignatureVerdict::Accepted
        && !FileVersionIs(partialPath, offeredVersion))
        verdict = vek::platform::SignatureVerdict::NotVerified;
    if (verdict != vek::platform::SignatureVerdict::Accepted) {
        qCDebug(lcUpdate) << "installer refused:" << vek::platform::VerdictText(verdict);
        QFile::remove(partialPath);
        AbortDownload(QStringLiteral("The downloaded update was rejected: %1.")
                          .arg(QLatin1String(vek::platform::VerdictText(verdict))));
        return;
    }
    const QString finalPath = InstallerPath(true);
    QFile::remove(finalPath);
    if (!QFile::rename(partialPath, finalPath)) {
        QFile::remove(partialPath);
        AbortDownload(QStringLiteral("The verified update could not be prepared."));
        return;
    }
    readyInstallerPath = finalPath;
    readySha256 = digest;
    emit UpdateReady(offeredVersion);
}

bool DesktopUpdateService::StartDetached(const QString &program, const QStringList &arguments)
{
    if (settings.startDetached)
        return settings.startDetached(program, arguments);
    return update::StartDetachedUpdate(program, arguments, nullptr);
}

bool DesktopUpdateService::StartInstaller(const QStringList &arguments)
{
    return StartDetached(readyInstallerPath, arguments);
}

void DesktopUpdateService::InstallUpdate()
{
    if (preparing)
        return;
    if (readyInstallerPath.isEmpty()) {
        emit UpdateFailed(QStringLiteral("No verified update is ready."));
        return;
    }
    // What starts must be what was verified: the file is hashed once more
    // right before it runs.
    if (!QFileInfo::exists(readyInstallerPath)
        || FileSha256(readyInstallerPath).compare(readySha256, Qt::CaseInsensitive) != 0
        || readySha256.isEmpty()) {
        QFile::remove(readyInstallerPath);
        readyInstallerPath.clear();
        readySha256.clear();
        emit UpdateFailed(kNoLongerAvailable);
        return;
    }
    if (product == update::kPrintAgentProduct) {
        if (StartInstaller(InstallerSwitches()
                << QStringLiteral("/VEKRESTARTAGENT=1") << QStringLiteral("/LOG")))
            emit InstallerStarted();
        else
            emit UpdateFailed(kCouldNotStart);
        return;
    }
    preparing = true;
    prepareProcess = new QProcess(this);
    connect(prepareProcess, &QProcess::errorOccurred, this, &DesktopUpdateService::OnPrepareError);
    connect(prepareProcess, &QProcess::finished, this, &DesktopUpdateService::OnPrepareFinished);
    prepareProcess->start(PrintAgentProgram(), { QStringLiteral("--prepare-update") });
}

void DesktopUpdateService::OnPrepareError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !prepareProcess)
        return;
    preparing = false;
    std::exchange(prepareProcess, nullptr)->deleteLater();
    emit UpdateFailed(QStringLiteral("Could not prepare Vek Print Agent for the update. Close it "
                                     "from its tray menu and try again."));
}

void DesktopUpdateService::OnPrepareFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!prepareProcess)
        return;
    preparing = false;
    std::exchange(prepareProcess, nullptr)->deleteLater();
    if (status == QProcess::NormalExit && (exitCode == 0 || exitCode == 10)) {
        QStringList arguments = InstallerSwitches()
            << QStringLiteral("/VEKREOPEN=1") << QStringLiteral("/LOG");
        if (exitCode == 10)
            arguments << QStringLiteral("/VEKRESTARTAGENT=1");
        if (StartInstaller(arguments)) {
            emit InstallerStarted();
            return;
        }
        if (exitCode == 10)
            StartDetached(PrintAgentProgram(), {});
        emit UpdateFailed(kCouldNotStart);
        return;
    }
    emit UpdateFailed(exitCode == 20
            ? QStringLiteral("Vek Print Agent is still finishing work. No files were changed. Wait "
                             "for printing to finish, then retry the update.")
            : QStringLiteral("This Print Agent cannot close automatically. Finish printing and "
                             "choose Quit from its tray menu, then retry the update."));
}

}  // namespace vek
