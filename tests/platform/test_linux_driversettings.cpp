#include "platform/driversettings.h"
#include "platform/linux/driveroptions.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

using namespace vek::platform;
using namespace vek::platform::cups;

namespace {

constexpr char kDocumentQueue[] = "VekDocument";
constexpr char kDocumentDriver[] = "Vek Document Printer (PWG raster)";
constexpr char kA4[] = "iso_a4_210x297mm";
constexpr char kLabel[] = "custom_50x25mm_50x25mm";

Bytes ToBytes(const QByteArray &text)
{
    return { text.begin(), text.end() };
}

QByteArray Text(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

Bytes Capture(const std::string &queue, const Bytes &seed = {})
{
    return CaptureDriverSettings(queue, 0, false, seed);
}

// The document queue's block with one option line replaced or added.
Bytes DocumentBlockWith(const QByteArray &option, const QByteArray &value)
{
    const auto block = Text(MakeDriverSettings(kDocumentQueue, {}));
    QList<QByteArray> lines = block.split('\n');
    lines.removeLast();
    lines.removeIf(
        [&](const QByteArray &line) { return line.startsWith("option " + option + "="); });
    lines.append("option " + option + "=" + value);
    std::sort(lines.begin() + 2, lines.end());
    return ToBytes(lines.join('\n') + '\n');
}

const DriverOption *Find(const std::vector<DriverOption> &options, const std::string &keyword)
{
    const auto it = std::find_if(options.begin(), options.end(),
        [&](const DriverOption &option) { return option.keyword == keyword; });
    return it == options.end() ? nullptr : &*it;
}

bool Offers(const DriverOption &option, const std::string &value)
{
    return std::any_of(option.choices.begin(), option.choices.end(),
        [&](const cups::OptionChoice &choice) { return choice.value == value; });
}

bool SetQueueOption(const QString &option)
{
    return QProcess::execute("lpadmin", { "-p", kDocumentQueue, "-o", option }) == 0;
}

}  // namespace

class TestLinuxDriverSettings : public QObject {
    Q_OBJECT

private slots:
    void captureGivesTheQueueDefaultsCanonically()
    {
        const Bytes first = Capture(kDocumentQueue);
        QCOMPARE(Capture(kDocumentQueue), first);
        QCOMPARE(Text(first),
            QByteArray("vek-cups-settings 1\n"
                       "driver Vek Document Printer (PWG raster)\n"
                       "option Darkness=10\n"
                       "option Resolution=300dpi\n"
                       "option media=iso_a4_210x297mm\n"
                       "option media-source=main\n"
                       "option media-type=stationery\n"
                       "option print-color-mode=color\n"
                       "option sides=one-sided\n"));
        // A queue without a PPD or choices still has a block naming it.
        QVERIFY(Text(Capture("VekOffice"))
                    .startsWith("vek-cups-settings 1\ndriver Local Raw Printer\n"));
        QVERIFY(
            Text(Capture("VekLabel")).contains("\ndriver ZDesigner GK420d (test label printer)\n"));
    }

    void captureFails_data()
    {
        QTest::addColumn<QByteArray>("queue");
        QTest::addColumn<bool>("showDialog");
        QTest::newRow("missing queue") << QByteArray("VekNoSuchQueue") << false;
        QTest::newRow("NUL in the name") << QByteArray("VekDocument\0Other", 17) << false;
        QTest::newRow("empty name") << QByteArray() << false;
        // The options sheet edits blocks; queues have no dialog of their own.
        QTest::newRow("dialog") << QByteArray(kDocumentQueue) << true;
    }
    void captureFails()
    {
        QFETCH(QByteArray, queue);
        QFETCH(bool, showDialog);
        QVERIFY(CaptureDriverSettings(queue.toStdString(), 0, showDialog, {}).empty());
    }

    void captureFollowsAChangedQueueDefault_data()
    {
        QTest::addColumn<QString>("changed");
        QTest::addColumn<QString>("restored");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("PPD option") << "Darkness=15"
                                    << "Darkness=10" << QByteArray("option Darkness=15\n");
        QTest::newRow("paper") << "PageSize=Letter"
                               << "PageSize=A4" << QByteArray("option media=na_letter_8.5x11in\n");
        QTest::newRow("two-sided")
            << "Duplex=DuplexNoTumble"
            << "Duplex=None" << QByteArray("option sides=two-sided-long-edge\n");
    }
    void captureFollowsAChangedQueueDefault()
    {
        QFETCH(QString, changed);
        QFETCH(QString, restored);
        QFETCH(QByteArray, line);
        const Bytes before = Capture(kDocumentQueue);
        QVERIFY(SetQueueOption(changed));
        const auto restore = qScopeGuard([&] { SetQueueOption(restored); });
        const Bytes after = Capture(kDocumentQueue);
        QVERIFY2(Text(after).contains(line), Text(after).constData());
        QVERIFY(after != before);
        QCOMPARE(Capture(kDocumentQueue), after);
    }

    void seedIsUsedOnlyWhenItFitsTheQueue_data()
    {
        QTest::addColumn<Bytes>("seed");
        QTest::addColumn<bool>("used");
        const Bytes chosen
            = MakeDriverSettings(kDocumentQueue, { { "Darkness", "20" }, { "media", kLabel } });
        QTest::newRow("own block") << chosen << true;
        QTest::newRow("another queue's block") << Capture("VekLabel") << false;
        QTest::newRow("value the queue does not offer")
            << DocumentBlockWith("Darkness", "25") << false;
        QTest::newRow("option the queue does not offer")
            << DocumentBlockWith("copies", "2") << false;
        QTest::newRow("not a block") << ToBytes("Darkness=20\n") << false;
        QTest::newRow("block cut short") << Bytes(chosen.begin(), chosen.end() - 1) << false;
    }
    void seedIsUsedOnlyWhenItFitsTheQueue()
    {
        QFETCH(Bytes, seed);
        QFETCH(bool, used);
        QVERIFY(!seed.empty());
        QCOMPARE(Capture(kDocumentQueue, seed), used ? seed : Capture(kDocumentQueue));
    }

    void settingsForPrinting_data()
    {
        QTest::addColumn<QByteArray>("queue");
        QTest::addColumn<Bytes>("saved");
        QTest::addColumn<bool>("fits");
        const Bytes defaults = Capture(kDocumentQueue);
        QByteArray otherDriver = Text(defaults);
        otherDriver.replace(kDocumentDriver, "Vek Document Printer (PWG raster) v2");
        QByteArray otherFormat = Text(defaults);
        otherFormat.replace("vek-cups-settings 1", "vek-cups-settings 2");
        QByteArray unsorted = Text(defaults);
        unsorted.replace("option Darkness=10\noption Resolution=300dpi\n",
            "option Resolution=300dpi\noption Darkness=10\n");

        QTest::newRow("defaults") << QByteArray(kDocumentQueue) << defaults << true;
        QTest::newRow("chosen options")
            << QByteArray(kDocumentQueue)
            << MakeDriverSettings(kDocumentQueue, { { "Resolution", "600dpi" } }) << true;
        QTest::newRow("another driver")
            << QByteArray(kDocumentQueue) << ToBytes(otherDriver) << false;
        QTest::newRow("another format")
            << QByteArray(kDocumentQueue) << ToBytes(otherFormat) << false;
        QTest::newRow("value no longer offered")
            << QByteArray(kDocumentQueue) << DocumentBlockWith("Resolution", "1200dpi") << false;
        QTest::newRow("copies") << QByteArray(kDocumentQueue) << DocumentBlockWith("copies", "1")
                                << false;
        QTest::newRow("unsorted") << QByteArray(kDocumentQueue) << ToBytes(unsorted) << false;
        QTest::newRow("empty") << QByteArray(kDocumentQueue) << Bytes() << false;
        QTest::newRow("another queue") << QByteArray("VekLabel") << defaults << false;
        QTest::newRow("missing queue") << QByteArray("VekNoSuchQueue") << defaults << false;
    }
    void settingsForPrinting()
    {
        QFETCH(QByteArray, queue);
        QFETCH(Bytes, saved);
        QFETCH(bool, fits);
        const std::optional<Bytes> ready = SettingsForPrinting(queue.toStdString(), saved);
        QCOMPARE(ready.has_value(), fits);
        if (fits) {
            QCOMPARE(*ready, saved);
            QVERIFY(!Text(*ready).contains("copies"));
        }
    }

    void physicalPaperSize_data()
    {
        QTest::addColumn<QByteArray>("queue");
        QTest::addColumn<Bytes>("settings");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<double>("widthMm");
        QTest::addColumn<double>("heightMm");
        auto media = [](const char *name) {
            return MakeDriverSettings(kDocumentQueue, { { "media", name } });
        };
        QTest::newRow("A4") << QByteArray(kDocumentQueue) << media(kA4) << true << 210.0 << 297.0;
        QTest::newRow("Letter") << QByteArray(kDocumentQueue) << media("na_letter_8.5x11in") << true
                                << 215.9 << 279.4;
        QTest::newRow("label") << QByteArray(kDocumentQueue) << media(kLabel) << true << 50.0
                               << 25.0;
        QTest::newRow("narrow strip")
            << QByteArray(kDocumentQueue) << media("custom_9x50mm_9x50mm") << true << 9.0 << 50.0;
        QTest::newRow("long roll")
            << QByteArray(kDocumentQueue) << media("custom_100x1600mm_100x1600mm") << true << 100.0
            << 1600.0;
        QTest::newRow("unknown media")
            << QByteArray(kDocumentQueue) << DocumentBlockWith("media", "iso_a3_297x420mm") << false
            << 0.0 << 0.0;
        QTest::newRow("label printer default")
            << QByteArray("VekLabel") << Capture("VekLabel") << true << 101.6 << 152.4;
        QTest::newRow("another queue's block")
            << QByteArray("VekLabel") << media(kA4) << false << 0.0 << 0.0;
        QTest::newRow("missing queue")
            << QByteArray("VekNoSuchQueue") << media(kA4) << false << 0.0 << 0.0;
    }
    void physicalPaperSize()
    {
        QFETCH(QByteArray, queue);
        QFETCH(Bytes, settings);
        QFETCH(bool, opened);
        QFETCH(double, widthMm);
        QFETCH(double, heightMm);
        const PaperSize size = PhysicalPaperSize(queue.toStdString(), settings);
        QCOMPARE(size.deviceOpened, opened);
        QVERIFY2(
            std::abs(size.widthMm - widthMm) < 0.05, qPrintable(QString::number(size.widthMm)));
        QVERIFY2(
            std::abs(size.heightMm - heightMm) < 0.05, qPrintable(QString::number(size.heightMm)));
    }

    void listsTheQueueOptions()
    {
        const auto options = ListDriverOptions(kDocumentQueue, {});
        QStringList keywords;
        for (const DriverOption &option : options)
            keywords.append(QString::fromStdString(option.keyword) + (option.advanced ? "*" : ""));
        QCOMPARE(keywords,
            QStringList({ "media", "media-source", "media-type", "Resolution", "sides",
                "print-color-mode", "Darkness*" }));

        const DriverOption *media = Find(options, "media");
        QVERIFY(
            Offers(*media, kA4) && Offers(*media, kLabel) && Offers(*media, "na_letter_8.5x11in"));
        QCOMPARE(media->value, kA4);
        const DriverOption *resolution = Find(options, "Resolution");
        QCOMPARE(resolution->choices.size(), 2u);
        QVERIFY(Offers(*resolution, "300dpi") && Offers(*resolution, "600dpi"));
        QCOMPARE(resolution->value, "300dpi");
        const DriverOption *darkness = Find(options, "Darkness");
        QCOMPARE(darkness->label, "Darkness");
        QCOMPARE(darkness->choices.size(), 4u);
        QCOMPARE(darkness->choices.front().label, "Light");
        QCOMPARE(darkness->value, "10");
        QVERIFY(Offers(*Find(options, "sides"), "two-sided-long-edge"));
        for (const DriverOption &option : options)
            QVERIFY(!option.label.empty());

        QVERIFY(ListDriverOptions("VekNoSuchQueue", {}).empty());
    }

    void madeSettingsRoundTrip()
    {
        const OptionValues chosen { { "Darkness", "20" }, { "media", kLabel },
            { "Resolution", "600dpi" } };
        const Bytes block = MakeDriverSettings(kDocumentQueue, chosen);
        QVERIFY(!block.empty());
        QCOMPARE(MakeDriverSettings(kDocumentQueue, chosen), block);
        QCOMPARE(Capture(kDocumentQueue, block), block);
        QCOMPARE(SettingsForPrinting(kDocumentQueue, block), std::optional(block));

        const auto options = ListDriverOptions(kDocumentQueue, block);
        for (const auto &[keyword, value] : chosen)
            QCOMPARE(Find(options, keyword)->value, value);
        QCOMPARE(Find(options, "sides")->value, "one-sided");
        // The same choices in another order give the same block.
        QCOMPARE(MakeDriverSettings(kDocumentQueue, { chosen[2], chosen[0], chosen[1] }), block);
        // A block made from the listed values is the block listed.
        OptionValues listed;
        for (const DriverOption &option : options)
            listed.emplace_back(option.keyword, option.value);
        QCOMPARE(MakeDriverSettings(kDocumentQueue, listed), block);
    }

    void makeRefusesWhatTheQueueDoesNotOffer_data()
    {
        QTest::addColumn<QByteArray>("queue");
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("unknown value")
            << QByteArray(kDocumentQueue) << QByteArray("Darkness") << QByteArray("99");
        QTest::newRow("copies") << QByteArray(kDocumentQueue) << QByteArray("copies")
                                << QByteArray("2");
        QTest::newRow("page ranges")
            << QByteArray(kDocumentQueue) << QByteArray("page-ranges") << QByteArray("1-2");
        QTest::newRow("line feed in a value")
            << QByteArray(kDocumentQueue) << QByteArray("Darkness") << QByteArray("10\noption x=y");
        QTest::newRow("missing queue")
            << QByteArray("VekNoSuchQueue") << QByteArray("Darkness") << QByteArray("10");
    }
    void makeRefusesWhatTheQueueDoesNotOffer()
    {
        QFETCH(QByteArray, queue);
        QFETCH(QByteArray, option);
        QFETCH(QByteArray, value);
        QVERIFY(MakeDriverSettings(
            queue.toStdString(), { { option.toStdString(), value.toStdString() } })
                    .empty());
    }

    void conflicts_data()
    {
        QTest::addColumn<OptionValues>("values");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("label on both sides")
            << OptionValues { { "media", kLabel }, { "sides", "two-sided-long-edge" } }
            << "These options cannot be used together: Paper size, Two-sided.";
        QTest::newRow("label, short edge")
            << OptionValues { { "sides", "two-sided-short-edge" }, { "media", kLabel } }
            << "These options cannot be used together: Paper size, Two-sided.";
        QTest::newRow("A4 on both sides")
            << OptionValues { { "media", kA4 }, { "sides", "two-sided-long-edge" } } << QString();
        QTest::newRow("label on one side") << OptionValues { { "media", kLabel } } << QString();
        QTest::newRow("defaults") << OptionValues {} << QString();
    }
    void conflicts()
    {
        QFETCH(OptionValues, values);
        QFETCH(QString, sentence);
        QCOMPARE(QString::fromStdString(DriverSettingsConflict(kDocumentQueue, values)), sentence);
    }
};

QTEST_GUILESS_MAIN(TestLinuxDriverSettings)
#include "test_linux_driversettings.moc"
