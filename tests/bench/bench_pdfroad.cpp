// Measures the PDF road (validate, render at 300 dpi, place, submit as PWG
// raster, until the sink printer has the job) against QtPdf rendering the
// same pages and nothing else, and against CUPS's own filter chain printing
// the same PDF to a queue that turns PDF into PWG raster.
//
// Each variant runs in a child process of its own so that its peak resident
// memory is its own. CUPS's filters are children of the scheduler; their
// memory is sampled from /proc while the job runs.
//
// The variants take turns, round after round, so that a busy spell of the
// machine falls on all of them alike; each figure is the best of its rounds,
// with the median beside it. The road has two ends: when CUPS holds the
// whole job (finish returned), and when the sink printer has it.
//
// Run through tools/bench.sh pdf, which installs cups-filters and starts the
// private CUPS daemon.
//   bench_pdfroad [PAGES [ROUNDS]]     default 20 pages, 5 rounds; the
//                                      memory run uses 100 pages
//   bench_pdfroad --child road|render FILE [PROFILE VERSION]

#include "platform/driversettings.h"
#include "printing/pdfprint.h"
#include "printing/profilestore.h"
#include "vek/product.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

// A PWG raster printer. The agent sends it raster pages; given a PDF, CUPS
// converts it with its own filters (cups-filters) to the same format.
const QString kQueue = QStringLiteral("VekDocument");

qint64 SinkCount()
{
    const QDir dir(qEnvironmentVariable("VEK_TEST_SINK_DIR") + '/' + kQueue);
    return dir.entryList({ "*.job" }, QDir::Files).size();
}

bool WaitForSinkCount(qint64 count, const std::function<void()> &meanwhile = {})
{
    QElapsedTimer timer;
    timer.start();
    while (SinkCount() < count) {
        if (timer.elapsed() > 600000)
            return false;
        if (meanwhile)
            meanwhile();
        QThread::msleep(2);
    }
    return true;
}

long PeakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Processor time of all the process's threads, user and system.
long long CpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval &t) { return t.tv_sec * 1000LL + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// A document of the kinds a clinic prints: text pages, vector drawings and a
// photograph on A4, and small labels, in turn.
QByteArray MakeMixedPdf(int pages)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    writer.setTitle("Vek benchmark document");
    const QPageSize a4(QPageSize::A4);
    const QPageSize label(QSizeF(50, 25), QPageSize::Millimeter, "Label 50x25");

    QImage photo(900, 600, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb((x * 255) / 900, (y * 255) / 600, ((x ^ y) & 0xff)));

    QPainter painter;
    for (int page = 0; page < pages; ++page) {
        const int kind = page % 4;
        writer.setPageSize(kind == 3 ? label : a4);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        if (page == 0)
            painter.begin(&writer);
        else
            writer.newPage();
        const QRect area(0, 0, writer.width(), writer.height());
        painter.setFont(QFont("DejaVu Sans", kind == 3 ? 8 : 10));
        switch (kind) {
        case 0:  // a report: lines of text
            for (int line = 0; line < 60; ++line)
                painter.drawText(150, 200 + line * 50,
                    QString("Page %1, line %2: patient report text, dosage 250 mg twice daily, "
                            "review in 14 days.")
                        .arg(page + 1)
                        .arg(line + 1));
            break;
        case 1: {  // a chart: vector shapes
            QPainterPath curve;
            curve.moveTo(200, 2000);
            for (int x = 0; x <= 2000; x += 20)
                curve.lineTo(200 + x, 2000 - 800 * std::sin(x / 200.0) * std::exp(-x / 1500.0));
            painter.setPen(QPen(Qt::blue, 6));
            painter.drawPath(curve);
            painter.setPen(QPen(Qt::black, 3));
            for (int i = 0; i < 40; ++i) {
                painter.setBrush(QColor::fromHsv((i * 9) % 360, 200, 230));
                painter.drawRect(200 + i * 50, 3000 - i * 20, 40, i * 20);
                painter.drawEllipse(QPoint(300 + (i % 8) * 250, 500 + (i / 8) * 200), 80, 60);
            }
            painter.drawText(200, 150, QString("Chart, page %1").arg(page + 1));
            break;
        }
        case 2:  // a photograph with a caption
            painter.drawImage(
                QRect(200, 300, area.width() - 400, (area.width() - 400) * 2 / 3), photo);
            painter.drawText(200, 250, QString("Image page %1").arg(page + 1));
            break;
        default:  // a label: text and a bar pattern
            painter.drawText(20, 60, QString("Sample %1  ID 0042-%2").arg(page + 1).arg(page * 7));
            for (int bar = 0; bar < 60; ++bar)
                painter.fillRect(20 + bar * 8, 120, (bar * 7) % 3 + 2, 120, Qt::black);
            break;
        }
    }
    painter.end();
    return bytes;
}

// --- children ------------------------------------------------------------

int RunRenderOnly(const QByteArray &bytes)
{
    QElapsedTimer timer;
    timer.start();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready)
        return 1;
    for (int page = 0; page < document.pageCount(); ++page) {
        const QSizeF points = document.pagePointSize(page);
        const QSize pixels(
            int(std::ceil(points.width() * 300 / 72)), int(std::ceil(points.height() * 300 / 72)));
        if (document.render(page, pixels).isNull())
            return 1;
    }
    std::printf("%lld %ld %lld %lld\n", timer.elapsed(), PeakRssKb(), timer.elapsed(), CpuMs());
    return 0;
}

int RunRoad(const QByteArray &bytes, const QString &profile, const QString &version)
{
    const qint64 before = SinkCount();
    QElapsedTimer timer;
    timer.start();
    std::string error;
    if (!vek::printing::ValidatePdf(bytes, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto result
        = vek::printing::PrintPdfWithProfile(kQueue, profile, version, bytes, 1, "bench");
    if (result.status != vek::printing::PdfPrintResult::Spooled) {
        std::fprintf(stderr, "%s\n", result.error.c_str());
        return 1;
    }
    const qint64 spooled = timer.elapsed();
    const long long cpu = CpuMs();
    if (!WaitForSinkCount(before + 1))
        return 1;
    std::printf("%lld %ld %lld %lld\n", timer.elapsed(), PeakRssKb(), spooled, cpu);
    return 0;
}

// --- the parent ----------------------------------------------------------

// One run of a variant.
struct Figure {
    bool ok = false;
    double ms = 0;  // until the sink had the job (render only: until done)
    double rssMb = 0;
    double spooledMs = 0;  // until CUPS held the whole job (render only: until done)
    double cpuMs = 0;  // the process's own processor time (not the chain's)
};

Figure RunChild(const QStringList &arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList { "--child" } + arguments);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return {};
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() < 4)
        return {};
    return { true, fields[0].toDouble(), fields[1].toDouble() / 1024, fields[2].toDouble(),
        fields[3].toDouble() };
}

// The scheduler's descendants (the filters and backend of a job), summed.
long CupsChildrenRssKb(pid_t scheduler)
{
    std::map<pid_t, pid_t> parents;
    std::map<pid_t, long> rss;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool numeric = false;
        const pid_t pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile status("/proc/" + entry + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() >= 2 && parts[0] == "PPid:")
                parents[pid] = parts[1].toInt();
            else if (parts.size() >= 2 && parts[0] == "VmRSS:")
                rss[pid] = parts[1].toLong();
        }
    }
    long total = 0;
    for (const auto &[pid, kb] : rss) {
        for (pid_t up = parents[pid]; up > 1; up = parents[up]) {
            if (up == scheduler) {
                total += kb;
                break;
            }
        }
    }
    return total;
}

Figure RunCupsChain(const QString &file, pid_t scheduler)
{
    const qint64 before = SinkCount();
    long peakKb = 0;
    QElapsedTimer timer;
    timer.start();
    if (QProcess::execute("lp", { "-s", "-d", kQueue, "-t", "bench", file }) != 0)
        return {};
    if (!WaitForSinkCount(
            before + 1, [&] { peakKb = std::max(peakKb, CupsChildrenRssKb(scheduler)); }))
        return {};
    return { true, double(timer.elapsed()), peakKb / 1024.0, double(timer.elapsed()), 0 };
}

// A variant's runs: the best (least) and the median of each figure.
class Runs {
public:
    void add(const Figure &figure)
    {
        m_ok = m_ok && figure.ok;
        if (figure.ok)
            m_figures.push_back(figure);
    }
    bool ok() const { return m_ok && !m_figures.empty(); }
    double best(double Figure::*field) const
    {
        double least = m_figures.front().*field;
        for (const Figure &figure : m_figures)
            least = std::min(least, figure.*field);
        return least;
    }
    double median(double Figure::*field) const
    {
        std::vector<double> values;
        for (const Figure &figure : m_figures)
            values.push_back(figure.*field);
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    double peakRssMb() const
    {
        double peak = 0;
        for (const Figure &figure : m_figures)
            peak = std::max(peak, figure.rssMb);
        return peak;
    }

private:
    bool m_ok = true;
    std::vector<Figure> m_figures;
};

void PrintRow(const char *name, const Runs &runs, double Figure::*field, int pages,
    const Runs &render, const Runs *chain, bool withRss)
{
    const double best = runs.best(field);
    std::printf("%-36s %8.1f %8.1f %8.2f", name, best / pages, runs.median(field) / pages,
        best / render.best(&Figure::ms));
    if (chain && chain->ok())
        std::printf(" %8.2f", best / chain->best(&Figure::ms));
    else
        std::printf(" %8s", "");
    if (withRss)
        std::printf(" %8.1f", runs.peakRssMb());
    std::printf("\n");
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(vek::product::kOrgName);
    QCoreApplication::setApplicationName(vek::product::kAppName);
    const QStringList args = app.arguments();

    if (args.size() >= 4 && args[1] == "--child") {
        QFile file(args[3]);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = file.readAll();
        if (args[2] == "render")
            return RunRenderOnly(bytes);
        if (args[2] == "road" && args.size() >= 6)
            return RunRoad(bytes, args[4], args[5]);
        return 2;
    }

    const int pages = args.size() > 1 ? std::clamp(args[1].toInt(), 1, 100) : 20;
    const pid_t scheduler = qEnvironmentVariableIntValue("VEK_BENCH_CUPSD_PID");

    // The children read the profile from a store of their own.
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", work.filePath("config").toUtf8());
    const std::string queue = kQueue.toStdString();
    const vek::platform::Bytes defaults = vek::platform::CaptureDriverSettings(queue, 0, false, {});
    const vek::platform::PaperSize paper = vek::platform::PhysicalPaperSize(queue, defaults);
    const QByteArray settings(
        reinterpret_cast<const char *>(defaults.data()), qsizetype(defaults.size()));
    const QString profile = QUuid::createUuid().toString(QUuid::WithoutBraces);
    vek::printing::SetQueueEnabled(kQueue, true);
    if (settings.isEmpty() || !paper.deviceOpened
        || !vek::printing::WriteProfile(
            kQueue, profile, "Bench", settings, paper.widthMm, paper.heightMm)) {
        std::fprintf(stderr, "cannot save a profile for %s\n", queue.c_str());
        return 1;
    }
    const QString version = vek::printing::SettingsVersion(settings);

    auto write = [&](const QString &name, int count) {
        QFile file(work.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(MakeMixedPdf(count));
        return file.fileName();
    };
    const QString mixed = write("mixed.pdf", pages);
    const QString large = write("large.pdf", 100);

    const int rounds = args.size() > 2 ? std::clamp(args[2].toInt(), 1, 50) : 5;
    Runs render, road, chain;
    for (int round = 0; round < rounds; ++round) {
        render.add(RunChild({ "render", mixed }));
        road.add(RunChild({ "road", mixed, profile, version }));
        if (scheduler > 0)
            chain.add(RunCupsChain(mixed, scheduler));
    }
    const Figure renderLarge = RunChild({ "render", large });
    const Figure roadLarge = RunChild({ "road", large, profile, version });

    if (!render.ok() || !road.ok()) {
        std::fprintf(stderr, "a variant failed (render %d, road %d)\n", render.ok(), road.ok());
        return 1;
    }
    std::printf("PDF road, %d mixed pages (A4 text, vector, image; 50x25 mm labels) at 300 dpi, "
                "%d rounds in turn\n",
        pages, rounds);
    std::printf("%-36s %8s %8s %8s %8s %8s\n", "ms per page", "best", "median", "/render", "/chain",
        "peak MB");
    PrintRow("QtPdf render only", render, &Figure::ms, pages, render, &chain, true);
    PrintRow("agent road, until CUPS holds the job", road, &Figure::spooledMs, pages, render,
        &chain, false);
    PrintRow("agent road, until the sink has it", road, &Figure::ms, pages, render, &chain, true);
    if (chain.ok())
        PrintRow(
            "CUPS filter chain (lp), to the sink", chain, &Figure::ms, pages, render, &chain, true);
    else
        std::printf("CUPS filter chain: not measured (no scheduler pid, or lp failed)\n");
    std::printf("processor time per page, best: render only %.1f ms, road %.1f ms (%.2fx)\n",
        render.best(&Figure::cpuMs) / pages, road.best(&Figure::cpuMs) / pages,
        road.best(&Figure::cpuMs) / render.best(&Figure::cpuMs));
    std::printf("\n100-page job, peak RSS MB: road %.1f, render only %.1f, ratio %.2f "
                "(road %.0f ms, render %.0f ms)\n",
        roadLarge.rssMb, renderLarge.rssMb,
        renderLarge.rssMb > 0 ? roadLarge.rssMb / renderLarge.rssMb : 0.0, roadLarge.ms,
        renderLarge.ms);
    // The road is validate, render, place and submit: it ends when CUPS holds
    // the job. The chain ends when its raster reaches the printer, which
    // includes the printing the road leaves to CUPS; how the road fares to the
    // printer is shown beside it.
    const double renderMs = render.best(&Figure::ms);
    const double roadMs = road.best(&Figure::spooledMs);
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("targets (best of rounds): road within 1.25x of render only: %s; road faster than "
                "the CUPS chain: %s; 100-page RSS within 1.3x: %s\n",
        verdict(roadMs <= 1.25 * renderMs),
        !chain.ok() ? "not measured" : verdict(roadMs < chain.best(&Figure::ms)),
        verdict(roadLarge.ok && renderLarge.ok && roadLarge.rssMb <= 1.3 * renderLarge.rssMb));
    if (chain.ok())
        std::printf("to the printer: the road takes %.2fx the time of the CUPS chain\n",
            road.best(&Figure::ms) / chain.best(&Figure::ms));
    return 0;
}
