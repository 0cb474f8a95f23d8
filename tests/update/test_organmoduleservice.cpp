// The module service's signals and its clean-up on destruction.

#include "tests/harness/threadedrawserver.h"
#include "update/organmoduleservice.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Drives the protected hand-over the way the download code does.
class DownloadingModuleService : public vek::OrganModuleService {
public:
    using vek::OrganModuleService::AdoptDownload;
};

}  // namespace

class OrganModuleServiceTest : public QObject {
    Q_OBJECT
private slots:
    void signalsInTheirOrder();
    void destructionAbortsAndDeletesThePartialFile();
};

void OrganModuleServiceTest::signalsInTheirOrder()
{
    const QMetaObject &meta = vek::OrganModuleService::staticMetaObject;
    QCOMPARE(QLatin1String(meta.className()), QLatin1String("vek::OrganModuleService"));
    QStringList signalList;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Signal)
            signalList << QString::fromLatin1(meta.method(i).methodSignature());
    }
    QCOMPARE(signalList,
        QStringList({ "Offered(QString,qulonglong,bool)", "UpToDate()", "CheckFailed(QString)",
            "Progress(qlonglong,qlonglong)", "Installing(QString)", "Installed(QString)",
            "Failed(QString)" }));
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
}

void OrganModuleServiceTest::destructionAbortsAndDeletesThePartialFile()
{
    vek::test::ThreadedRawServer silent;
    silent.setResponse(
        vek::test::ThreadedRawServer::Head(200, "Content-Length: 1000\r\n") + "M", true);
    QVERIFY(silent.start());
    QTemporaryDir directory;
    const QString partialPath = directory.filePath(QStringLiteral("module.partial"));
    QNetworkAccessManager network;
    QPointer<QNetworkReply> reply
        = network.get(QNetworkRequest(QUrl(silent.baseUrl() + "/module")));
    QSignalSpy replyFinished(reply.data(), &QNetworkReply::finished);
    auto partial = std::make_unique<QFile>(partialPath);
    QVERIFY(partial->open(QIODevice::WriteOnly));
    partial->write("partial");

    auto *service = new DownloadingModuleService;
    service->AdoptDownload(reply, std::move(partial));
    delete service;

    QVERIFY(!QFile::exists(partialPath));
    QCOMPARE(replyFinished.size(), 1);
    QCOMPARE(reply->error(), QNetworkReply::OperationCanceledError);
    QTRY_VERIFY(reply.isNull());  // scheduled for deletion
}

QTEST_GUILESS_MAIN(OrganModuleServiceTest)
#include "test_organmoduleservice.moc"
