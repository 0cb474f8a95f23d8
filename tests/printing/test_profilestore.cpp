#include "platform/printers.h"
#include "printing/profilestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace vek::printing;

namespace {

QString NewId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QJsonObject FindQueue(const QJsonArray &queues, const QString &systemName)
{
    for (const auto &queue : queues) {
        if (queue.toObject().value(QStringLiteral("systemName")).toString() == systemName)
            return queue.toObject();
    }
    return {};
}

}  // namespace

class TestProfileStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;

private slots:
    void initTestCase()
    {
        // The store must live in a private place before anything reads it.
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Vekworks"));
        QCoreApplication::setApplicationName(QStringLiteral("Vek Print Agent"));
        QVERIFY(QSettings().fileName().startsWith(config_.path()));
    }

    void queueKeyHashesTheNameAsWritten()
    {
        const QString key = QueueSettingsKey(QStringLiteral("VekOffice"));
        QVERIFY(key.startsWith(QStringLiteral("printing/queues/")));
        const QString hash = key.mid(QStringLiteral("printing/queues/").size());
        QCOMPARE(hash.size(), 64);
        QCOMPARE(hash, hash.toLower());
        QVERIFY(QueueSettingsKey(QStringLiteral("vekoffice")) != key);
        QVERIFY(QueueSettingsKey(QStringLiteral("VekOffice ")) != key);
    }

    void storedIdForm_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("stored");
        QTest::newRow("lower-case uuid") << "0f8fad5b-d9cb-469f-a165-70867728950e" << true;
        QTest::newRow("upper-case") << "0F8FAD5B-D9CB-469F-A165-70867728950E" << false;
        QTest::newRow("braces") << "{0f8fad5b-d9cb-469f-a165-70867728950e}" << false;
        QTest::newRow("trailing newline") << "0f8fad5b-d9cb-469f-a165-70867728950e\n" << false;
        QTest::newRow("no dashes") << "0f8fad5bd9cb469fa16570867728950e" << false;
        QTest::newRow("dash moved") << "0f8fad5bd-9cb-469f-a165-70867728950e" << false;
        QTest::newRow("path") << "../../queues/0f8fad5b-d9cb-469f-a165-70867" << false;
        QTest::newRow("slash inside") << "0f8fad5b-d9cb-469f-a165-708677/8950e" << false;
        QTest::newRow("empty") << "" << false;
    }

    void storedIdForm()
    {
        QFETCH(QString, id);
        QFETCH(bool, stored);
        QCOMPARE(IsStoredIdForm(id), stored);
    }

    void profileRoundTripAndVersion()
    {
        const QString queue = QStringLiteral("Round trip queue");
        const QString id = NewId();
        const QByteArray settings("format 1\ndriver Vek Office\noption media=iso_a4_210x297mm\n");
        QVERIFY(WriteProfile(queue, id, QStringLiteral("A4 plain"), settings, 210, 297));

        const StoredProfile stored = ReadProfile(queue, id);
        QCOMPARE(stored.name, QStringLiteral("A4 plain"));
        QCOMPARE(stored.devmode, settings);
        QCOMPARE(stored.version, SettingsVersion(settings));
        QCOMPARE(stored.version.size(), 64);
        QCOMPARE(stored.widthMm, 210.0);
        QCOMPARE(stored.heightMm, 297.0);

        // Saving the same settings again keeps the version the server knows.
        QVERIFY(WriteProfile(queue, id, QStringLiteral("A4 plain"), settings, 210, 297));
        QCOMPARE(ReadProfile(queue, id).version, stored.version);

        // Any changed byte gives a new version.
        QByteArray changed = settings;
        changed[changed.size() - 2] = 'x';
        QVERIFY(WriteProfile(queue, id, QStringLiteral("A4 plain"), changed, 210, 297));
        QVERIFY(ReadProfile(queue, id).version != stored.version);
        QCOMPARE(ReadProfile(queue, id).devmode, changed);

        const QJsonObject description = ProfileDescription(queue, id);
        QCOMPARE(description.value(QStringLiteral("id")).toString(), id);
        QCOMPARE(description.value(QStringLiteral("name")).toString(), QStringLiteral("A4 plain"));
        QCOMPARE(description.value(QStringLiteral("version")).toString(), SettingsVersion(changed));
        QCOMPARE(description.value(QStringLiteral("widthMm")).toDouble(), 210.0);
        QCOMPARE(description.value(QStringLiteral("heightMm")).toDouble(), 297.0);
        QCOMPARE(description.value(QStringLiteral("ready")).toBool(), true);
    }

    void profileWithoutSettingsIsNotReady()
    {
        const QString queue = QStringLiteral("Half saved queue");
        const QString named = NewId();
        {
            // A profile whose name was written but not yet its settings.
            QSettings settings;
            settings.setValue(
                QueueSettingsKey(queue) + "/profiles/" + named + "/name", QStringLiteral("Label"));
        }
        const QJsonObject half = ProfileDescription(queue, named);
        QCOMPARE(half.value(QStringLiteral("name")).toString(), QStringLiteral("Label"));
        QCOMPARE(half.value(QStringLiteral("ready")).toBool(), false);
        QCOMPARE(half.value(QStringLiteral("version")).toString(), QString());
        QCOMPARE(half.value(QStringLiteral("widthMm")).toDouble(), 0.0);

        const QString missing = NewId();
        const QJsonObject none = ProfileDescription(queue, missing);
        QCOMPARE(none.value(QStringLiteral("id")).toString(), missing);
        QCOMPARE(none.value(QStringLiteral("name")).toString(), QString());
        QCOMPARE(none.value(QStringLiteral("ready")).toBool(), false);
        QCOMPARE(none.keys().size(), 6);
        QCOMPARE(ReadProfile(queue, missing).devmode, QByteArray());
    }

    void realQueuesAreDescribedWithStableIds()
    {
        const QJsonArray first = BuildQueueDescriptions();
        const QJsonObject office = FindQueue(first, QStringLiteral("VekOffice"));
        const QJsonObject label = FindQueue(first, QStringLiteral("VekLabel"));
        QVERIFY2(!office.isEmpty() && !label.isEmpty(), "the private CUPS queues are listed");

        for (const QJsonObject &queue : { office, label }) {
            QCOMPARE(queue.keys().size(), 6);
            QVERIFY(IsStoredIdForm(queue.value(QStringLiteral("localQueueId")).toString()));
            QCOMPARE(
                queue.value(QStringLiteral("name")), queue.value(QStringLiteral("systemName")));
            QCOMPARE(queue.value(QStringLiteral("enabled")), QJsonValue(false));
            QCOMPARE(queue.value(QStringLiteral("profiles")).toArray().size(), 0);
        }
        QVERIFY(office.value(QStringLiteral("localQueueId"))
            != label.value(QStringLiteral("localQueueId")));

        // The status follows the printer's attention flag, queue by queue.
        for (const auto &printer : vek::platform::EnumeratePrinters()) {
            const QJsonObject queue = FindQueue(first, QString::fromStdString(printer.name));
            QCOMPARE(queue.value(QStringLiteral("status")).toString(),
                printer.needsAttention ? QStringLiteral("ERROR") : QStringLiteral("UNKNOWN"));
        }

        SetQueueEnabled(QStringLiteral("VekLabel"), true);
        const QString a = NewId();
        const QString b = NewId();
        QVERIFY(WriteProfile(
            QStringLiteral("VekLabel"), a, QStringLiteral("Label 50x25"), "x", 50, 25));
        QVERIFY(WriteProfile(
            QStringLiteral("VekLabel"), b, QStringLiteral("Label 100x50"), "", 100, 50));

        const QJsonArray second = BuildQueueDescriptions();
        const QJsonObject label2 = FindQueue(second, QStringLiteral("VekLabel"));
        QCOMPARE(
            FindQueue(second, QStringLiteral("VekOffice")).value(QStringLiteral("localQueueId")),
            office.value(QStringLiteral("localQueueId")));
        QCOMPARE(label2.value(QStringLiteral("localQueueId")),
            label.value(QStringLiteral("localQueueId")));
        QCOMPARE(label2.value(QStringLiteral("enabled")), QJsonValue(true));
        QCOMPARE(FindQueue(second, QStringLiteral("VekOffice")).value(QStringLiteral("enabled")),
            QJsonValue(false));
        QVERIFY(IsQueueEnabled(QStringLiteral("VekLabel")));

        const QJsonArray profiles = label2.value(QStringLiteral("profiles")).toArray();
        const QStringList ids = ProfileIds(QStringLiteral("VekLabel"));
        QCOMPARE(ids.size(), 2);
        QCOMPARE(profiles.size(), 2);
        for (int i = 0; i < ids.size(); ++i) {
            QCOMPARE(profiles.at(i).toObject(),
                ProfileDescription(QStringLiteral("VekLabel"), ids.at(i)));
            QCOMPARE(
                profiles.at(i).toObject().value(QStringLiteral("ready")).toBool(), ids.at(i) == a);
        }

        SetQueueEnabled(QStringLiteral("VekLabel"), false);
        QVERIFY(!IsQueueEnabled(QStringLiteral("VekLabel")));
    }

    // Runs last: it leaves the process's view of the store unwritable.
    void unwritableStoreIsReported()
    {
        const QString directory = QFileInfo(QSettings().fileName()).absolutePath();
        QVERIFY(QDir().rename(directory, directory + ".away"));
        QFile blocker(directory);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const auto restore = qScopeGuard([&] {
            QFile::remove(directory);
            QDir().rename(directory + ".away", directory);
        });
        QVERIFY(!WriteProfile(
            QStringLiteral("Any queue"), NewId(), QStringLiteral("A4"), "x", 210, 297));
    }
};

QTEST_GUILESS_MAIN(TestProfileStore)
#include "test_profilestore.moc"
