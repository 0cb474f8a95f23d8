#include "platform/linux/printerstate.h"
#include "platform/printers.h"

#include <QProcess>
#include <QTest>

#include <cups/cups.h>

#include <algorithm>

using vek::platform::EnumeratePrinters;
using vek::platform::PrinterInfo;
using vek::platform::linuxbackend::StateReasonsNeedAttention;

namespace {

std::optional<PrinterInfo> Find(const std::vector<PrinterInfo> &printers, const std::string &name)
{
    const auto it = std::find_if(
        printers.begin(), printers.end(), [&](const PrinterInfo &p) { return p.name == name; });
    return it == printers.end() ? std::nullopt : std::optional(*it);
}

std::string DefaultQueue()
{
    const auto printers = EnumeratePrinters();
    const auto it = std::find_if(
        printers.begin(), printers.end(), [](const PrinterInfo &p) { return p.isDefault; });
    return it == printers.end() ? std::string() : it->name;
}

QString QueueOption(const char *queue, const char *option)
{
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue, nullptr);
    const char *value = dest ? cupsGetOption(option, dest->num_options, dest->options) : nullptr;
    const QString text = QString::fromUtf8(value ? value : "");
    cupsFreeDests(dest ? 1 : 0, dest);
    return text;
}

bool Run(const QString &tool, const QStringList &arguments)
{
    return QProcess::execute(tool, arguments) == 0;
}

}  // namespace

class TestLinuxPrinters : public QObject {
    Q_OBJECT

private slots:
    void listsTheQueues()
    {
        const auto printers = EnumeratePrinters();
        const auto label = Find(printers, "VekLabel");
        const auto office = Find(printers, "VekOffice");
        QVERIFY(label && office);
        QCOMPARE(
            QString::fromStdString(label->driverName), "ZDesigner GK420d (test label printer)");
        QCOMPARE(QString::fromStdString(office->driverName), "Local Raw Printer");
        QVERIFY(QString::fromStdString(label->portName).startsWith("socket://127.0.0.1:"));
        QVERIFY(QString::fromStdString(office->portName).startsWith("socket://127.0.0.1:"));
        QVERIFY(label->portName != office->portName);
        QVERIFY(!label->needsAttention && !office->needsAttention);
        QCOMPARE(EnumeratePrinters(), printers);
    }

    void marksTheDefaultQueue()
    {
        const std::string before = DefaultQueue();
        const std::string chosen = before == "VekLabel" ? "VekOffice" : "VekLabel";
        QVERIFY(Run("lpadmin", { "-d", QString::fromStdString(chosen) }));
        const auto printers = EnumeratePrinters();
        if (!before.empty())
            QVERIFY(Run("lpadmin", { "-d", QString::fromStdString(before) }));

        QCOMPARE(std::count_if(printers.begin(), printers.end(),
                     [](const PrinterInfo &p) { return p.isDefault; }),
            1);
        QVERIFY(Find(printers, chosen)->isDefault);
    }

    void pausedQueueNeedsNoAttention()
    {
        QVERIFY(Run("cupsdisable", { "VekOffice" }));
        const auto office = Find(EnumeratePrinters(), "VekOffice");
        const QString state = QueueOption("VekOffice", "printer-state");
        QVERIFY(Run("cupsenable", { "VekOffice" }));
        QCOMPARE(state, QString::number(IPP_PSTATE_STOPPED));
        QVERIFY(office);
        QVERIFY(!office->needsAttention);
    }

    void stateReasons_data()
    {
        QTest::addColumn<QString>("reasons");
        QTest::addColumn<bool>("attention");
        QTest::newRow("none") << "none" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("paused") << "paused" << false;
        QTest::newRow("printing") << "connecting-to-device" << false;
        QTest::newRow("out of paper") << "media-empty" << true;
        QTest::newRow("out of paper, error") << "media-empty-error" << true;
        QTest::newRow("running out of paper") << "media-empty-warning" << false;
        QTest::newRow("paper report") << "media-empty-report" << false;
        QTest::newRow("paper needed") << "media-needed" << true;
        QTest::newRow("jam") << "media-jam" << true;
        QTest::newRow("no toner") << "toner-empty-error" << true;
        QTest::newRow("low toner") << "toner-low-warning" << false;
        QTest::newRow("no marker supply") << "marker-supply-empty" << true;
        QTest::newRow("door open") << "door-open" << true;
        QTest::newRow("cover open") << "cover-open-warning" << false;
        QTest::newRow("cover open, error") << "cover-open" << true;
        QTest::newRow("offline, as CUPS reports it") << "offline-report" << true;
        QTest::newRow("offline") << "offline" << true;
        QTest::newRow("shut down") << "shutdown" << true;
        QTest::newRow("any error") << "other-error" << true;
        QTest::newRow("vendor error") << "com.example-head-error" << true;
        QTest::newRow("filter warning") << "cups-missing-filter-warning" << false;
        QTest::newRow("problem in a list") << "paused,media-jam-error" << true;
        QTest::newRow("spaced list") << "none, door-open" << true;
        QTest::newRow("name contains a problem") << "media-empty-soon" << false;
    }
    void stateReasons()
    {
        QFETCH(QString, reasons);
        QFETCH(bool, attention);
        QCOMPARE(StateReasonsNeedAttention(reasons.toStdString()), attention);
    }
};

QTEST_GUILESS_MAIN(TestLinuxPrinters)
#include "test_linux_printers.moc"
