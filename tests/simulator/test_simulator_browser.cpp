// The simulator's status page as a headless browser renders it: the
// workstations, their printers, and each order with its reports in order.

#include "simfixture.h"

#include <QProcess>
#include <QTemporaryDir>

using namespace vek::test;

class TestSimulatorBrowser : public QObject {
    Q_OBJECT
private slots:
    void statusPageShowsWorkstationsPrintersAndReports();
};

void TestSimulatorBrowser::statusPageShowsWorkstationsPrintersAndReports()
{
    SimFixture sim;
    QVERIFY(sim.started);
    const QString printed
        = sim.state.addOrder("desktop1", "Office", "%PDF-1.4 stand-in", "A4 plain");
    const QString waiting = sim.state.addOrder("local", "Labels", "^XA^XZ");
    const QString token = sim.enrolDesktop("ws-<radiology>");
    sim.enrolLocal("ws-front");
    const QJsonObject order
        = sim.desktopPost(sim.desktop1, "claim", {}, token).json.value("order").toObject();
    for (const char *outcome : { "STARTED", "FAILED", "SPOOLED" }) {
        QJsonObject report { { "orderId", order.value("id") },
            { "claimToken", order.value("claimToken") }, { "outcome", outcome },
            { "spoolJobId", "3" } };
        if (qstrcmp(outcome, "FAILED") == 0)
            report.insert("reason", "PRINT_OUTCOME_UNKNOWN");
        sim.desktopPost(sim.desktop1, "report", report, token);
    }

    // The browser fetches while this thread's event loop serves the page.
    QTemporaryDir profile;
    QVERIFY(profile.isValid());
    QProcess browser;
    browser.setProcessChannelMode(QProcess::SeparateChannels);
    browser.start(VEK_HEADLESS_BROWSER,
        { "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile.path(),
            "--dump-dom", sim.admin->baseUrl() + "/" });
    QSignalSpy finished(&browser, &QProcess::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(browser.exitCode(), 0);
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());

    QVERIFY2(dom.contains(QLatin1String("<meta http-equiv=\"refresh\"")), qPrintable(dom));
    // Names are shown as text, never taken as markup.
    QVERIFY(dom.contains(QLatin1String("ws-&lt;radiology&gt;")));
    QVERIFY(dom.contains(QLatin1String("ws-front desk")));
    QVERIFY(dom.contains(QLatin1String("desktop1: Office (profiles: A4 plain)")));
    QVERIFY(dom.contains(QLatin1String("desktop2: Office (profiles: A4 plain)")));
    QVERIFY(dom.contains(QLatin1String("local: Labels")));

    const qsizetype row = dom.indexOf(QStringLiteral("<tr id=\"%1\">").arg(printed));
    const qsizetype end = dom.indexOf(QLatin1String("</tr>"), row);
    QVERIFY(row >= 0 && end > row);
    const QString orderRow = dom.mid(row, end - row);
    const qsizetype started = orderRow.indexOf(QStringLiteral("STARTED → 200"));
    const qsizetype failed
        = orderRow.indexOf(QStringLiteral("FAILED (PRINT_OUTCOME_UNKNOWN) → 200"));
    const qsizetype spooled = orderRow.indexOf(QStringLiteral("SPOOLED → 409"));
    QVERIFY2(started >= 0 && started < failed && failed < spooled, qPrintable(orderRow));
    QVERIFY(orderRow.contains(QLatin1String("finished")));
    QVERIFY(dom.contains(
        QStringLiteral("<tr id=\"%1\"><td>%1</td><td>local</td><td>Labels</td><td>queued</td>")
            .arg(waiting)));
}

QTEST_GUILESS_MAIN(TestSimulatorBrowser)
#include "test_simulator_browser.moc"
