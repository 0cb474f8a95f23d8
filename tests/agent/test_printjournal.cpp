// The recovery journal on its own: what a file's bytes read as, how a record
// is written, and where each server's journal lives.

#include "agent/clinicapi.h"
#include "agent/printjournal.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using vek::agent::JournalRecord;
namespace clinic = vek::agent::clinic;

Q_DECLARE_METATYPE(JournalRecord::Kind)

class PrintJournalTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void records_data();
    void records();
    void writeIsCompactOwnerOnlyAndReplaces();
    void pathPerServerTextAndDevice();

private:
    QTemporaryDir data;
};

void PrintJournalTest::initTestCase()
{
    QVERIFY(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QCoreApplication::setOrganizationName("Vekworks");
    QCoreApplication::setApplicationName("Vek Print Agent");
}

void PrintJournalTest::records_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<JournalRecord::Kind>("kind");
    QTest::addColumn<QByteArray>("report");  // compact JSON of the body to send

    const QByteArray head = R"("orderId":"o-1","claimToken":"c-1",)";
    QTest::newRow("STARTED becomes an unknown outcome")
        << "{" + head + R"("outcome":"STARTED"})" << JournalRecord::Report
        << QByteArray(
               R"({"claimToken":"c-1","orderId":"o-1","outcome":"FAILED","reason":"PRINT_OUTCOME_UNKNOWN"})");
    QTest::newRow("SPOOLED as stored")
        << "{" + head + R"("outcome":"SPOOLED","spoolJobId":"42"})" << JournalRecord::Report
        << QByteArray(
               R"({"claimToken":"c-1","orderId":"o-1","outcome":"SPOOLED","spoolJobId":"42"})");
    QTest::newRow("FAILED as stored")
        << "{" + head
            + R"("outcome":"FAILED","reason":"Printer disabled or profile changed","spoolJobId":"0"})"
        << JournalRecord::Report
        << QByteArray(
               R"({"claimToken":"c-1","orderId":"o-1","outcome":"FAILED","reason":"Printer disabled or profile changed","spoolJobId":"0"})");

    const auto damaged = [](const char *name, const QByteArray &bytes) {
        QTest::newRow(name) << bytes << JournalRecord::Damaged << QByteArray();
    };
    damaged("empty file", "");
    damaged("empty array", "[]");
    damaged("empty object", "{}");
    damaged("truncated", "{" + head + R"("outcome":"SPOO)");
    damaged("no order id", R"({"claimToken":"c-1","outcome":"STARTED"})");
    damaged("empty claim token", R"({"orderId":"o-1","claimToken":"","outcome":"STARTED"})");
    damaged("unknown outcome", "{" + head + R"("outcome":"COMPLETED","spoolJobId":"1"})");
    damaged("final without job number", "{" + head + R"("outcome":"SPOOLED"})");
    damaged("job number not decimal", "{" + head + R"("outcome":"SPOOLED","spoolJobId":"-4"})");
    damaged("job number a number", "{" + head + R"("outcome":"SPOOLED","spoolJobId":4})");
    damaged("over 64 KiB",
        "{" + head + R"("outcome":"STARTED","pad":")"
            + QByteArray(vek::agent::kMaxJournalBytes, 'x') + "\"}");
}

void PrintJournalTest::records()
{
    QFETCH(QByteArray, bytes);
    QFETCH(JournalRecord::Kind, kind);
    QFETCH(QByteArray, report);
    const JournalRecord record = vek::agent::ParseJournalRecord(bytes);
    QCOMPARE(record.kind, kind);
    if (kind == JournalRecord::Report)
        QCOMPARE(QJsonDocument(record.report).toJson(QJsonDocument::Compact), report);
}

void PrintJournalTest::writeIsCompactOwnerOnlyAndReplaces()
{
    const QString path = vek::agent::PrintJournalPath("http://127.0.0.1:1", "device");
    QFile::remove(path);
    const QJsonObject started { { clinic::kOrderId, "o-1" }, { clinic::kClaimToken, "c-1" },
        { clinic::kOutcome, clinic::kStarted } };
    QVERIFY(vek::agent::WriteJournalAtomically(path, started));
    QCOMPARE(QFileInfo(path).permissions(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    QJsonObject final = started;
    final.insert(clinic::kOutcome, clinic::kSpooled);
    final.insert(clinic::kSpoolJobId, "7");
    QVERIFY(vek::agent::WriteJournalAtomically(path, final));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QJsonDocument(final).toJson(QJsonDocument::Compact));
    // No temporary file is left beside the journal.
    QCOMPARE(
        QFileInfo(path).dir().entryList(QDir::Files), QStringList { QFileInfo(path).fileName() });
    QVERIFY(QFile::remove(path));

    // A directory that cannot hold the file: nothing is claimed to be in place.
    QVERIFY(!vek::agent::WriteJournalAtomically(data.filePath("missing/journal.json"), final));
}

void PrintJournalTest::pathPerServerTextAndDevice()
{
    using vek::agent::PrintJournalPath;
    const QString path = PrintJournalPath("http://frontdesk:8080", "vekpa-1");
    const QString name = QFileInfo(path).fileName();
    QVERIFY(QRegularExpression("^print-journal-[0-9a-f]{64}\\.json$").match(name).hasMatch());
    QVERIFY(QFileInfo(path).dir().exists());
    QVERIFY(path.startsWith(data.path()));
    QCOMPARE(PrintJournalPath("http://frontdesk:8080", "vekpa-1"), path);
    // The name comes from the address text as passed.
    QVERIFY(PrintJournalPath("http://FRONTDESK:8080", "vekpa-1") != path);
    QVERIFY(PrintJournalPath("http://frontdesk:8080/", "vekpa-1") != path);
    QVERIFY(PrintJournalPath("http://frontdesk:8080", "vekpa-2") != path);
}

QTEST_GUILESS_MAIN(PrintJournalTest)
#include "test_printjournal.moc"
