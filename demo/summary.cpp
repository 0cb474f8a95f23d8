#include "summary.h"

#include "adminclient.h"
#include "demofiles.h"

#include "tests/harness/pwgraster.h"
#include "tests/printing/testpdf.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace vek::demo {

namespace {

struct SinkJob {
    QString path;
    QByteArray bytes;
    qint64 receivedMs = 0;  // when the sink had the whole job
};

struct Order {
    QString id;
    QString server;
    QString queue;
    QString file;  // what was queued
    QJsonArray reports;
    qint64 claimedMs = 0;  // the last claim, by the simulator's clock
    qint64 finishedMs = 0;  // the final report, by when its event line was read
};

void Say(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<SinkJob> SinkJobs(const QString &directory)
{
    QList<SinkJob> jobs;
    const QDir dir(directory);
    for (const QString &name :
        dir.entryList({ QStringLiteral("*.job") }, QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        jobs.append({ path, ReadAll(path), QFileInfo(path).lastModified().toMSecsSinceEpoch() });
    }
    return jobs;
}

bool IsSuccess(const QString &outcome)
{
    return outcome == QLatin1String("SPOOLED") || outcome == QLatin1String("COMPLETED");
}

QString ReportsText(const QJsonArray &reports)
{
    QStringList parts;
    for (const QJsonValue &value : reports) {
        const QJsonObject report = value.toObject();
        QString part = report.value("outcome").toString() + ' '
            + QString::number(report.value("status").toInt());
        if (report.contains("spoolJobId"))
            part += QStringLiteral(" (spool job %1)").arg(report.value("spoolJobId").toString());
        if (report.contains("reason"))
            part += QStringLiteral(" (%1)").arg(report.value("reason").toString());
        parts << part;
    }
    return parts.isEmpty() ? QStringLiteral("no reports") : parts.join(QStringLiteral(", "));
}

bool ReportedSuccess(const Order &order)
{
    if (order.reports.isEmpty())
        return false;
    const QJsonObject last = order.reports.last().toObject();
    return IsSuccess(last.value("outcome").toString()) && last.value("status").toInt() == 200;
}

QString Seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 2) + " s";
}

// The page as an image, whatever its colour space.
QImage PageImage(const test::PwgPage &page)
{
    if (page.bitsPerPixel == 8) {
        return QImage(reinterpret_cast<const uchar *>(page.pixels.constData()), page.widthPixels,
            page.heightPixels, page.bytesPerLine, QImage::Format_Grayscale8)
            .copy();
    }
    if (page.bitsPerPixel == 24) {
        return QImage(reinterpret_cast<const uchar *>(page.pixels.constData()), page.widthPixels,
            page.heightPixels, page.bytesPerLine, QImage::Format_RGB888)
            .copy();
    }
    QImage image(page.widthPixels, page.heightPixels, QImage::Format_RGB32);
    for (int y = 0; y < page.heightPixels; ++y) {
        for (int x = 0; x < page.widthPixels; ++x)
            image.setPixel(
                x, y, QRgb(0xff000000u | quint32(std::max<qint64>(0, page.pixel(x, y)))));
    }
    return image;
}

// Which page of the demo document this sheet is: the one whose black square
// sits nearest to the dark pixels in its top two inches; 0 when none fits.
int PageNumber(const test::PwgPage &page, int pageCount)
{
    const int band = std::min(page.heightPixels, page.dpiY * 2);
    int left = page.widthPixels, right = -1;
    for (int y = 0; y < band; y += 2) {
        for (int x = 0; x < page.widthPixels; x += 2) {
            const qint64 rgb = page.pixel(x, y);
            const int grey = int(((rgb >> 16) & 0xff) + ((rgb >> 8) & 0xff) + (rgb & 0xff)) / 3;
            if (rgb >= 0 && grey < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    if (right < 0 || page.dpiX <= 0)
        return 0;
    const double centrePt = (left + right) / 2.0 * 72.0 / page.dpiX;
    int best = 0;
    double bestDistance = test::kMarkSizePt;
    for (int n = 1; n <= pageCount; ++n) {
        const double distance
            = std::abs(centrePt - (test::MarkOrigin(n).x() + test::kMarkSizePt / 2));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = n;
        }
    }
    return best;
}

QHash<QString, QString> ReadManifest(const QString &path)
{
    QHash<QString, QString> files;
    for (const QByteArray &line : ReadAll(path).split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            files.insert(
                QString::fromUtf8(line.left(space)), QString::fromUtf8(line.mid(space + 1)));
    }
    return files;
}

// When each order's final report was heard, from the event lines.
void ReadEvents(const QString &path, QHash<QString, Order> &orders)
{
    static const QRegularExpression reported(QStringLiteral("^report (\\S+) (\\S+)"));
    for (const QByteArray &raw : ReadAll(path).split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype space = line.indexOf(' ');
        if (space < 1)
            continue;
        const qint64 ms = qint64(line.left(space).toDouble() * 1000.0);
        const QString text = line.mid(space + 1);
        if (const auto match = reported.match(text); match.hasMatch()) {
            if (orders.contains(match.captured(1)) && IsSuccess(match.captured(2))
                && !orders[match.captured(1)].finishedMs)
                orders[match.captured(1)].finishedMs = ms;
        }
    }
}

}  // namespace

bool WriteSummary(const SummaryInputs &inputs)
{
    QString error;
    const auto state = AdminGet(inputs.adminUrl + "/admin/state", &error);
    if (!state) {
        Say("The simulator's state could not be read: " + error);
        return false;
    }
    const QHash<QString, QString> files = ReadManifest(inputs.manifestPath);
    QHash<QString, Order> byId;
    QStringList ids;
    for (const QJsonValue &value : state->value("orders").toArray()) {
        const QJsonObject json = value.toObject();
        Order order { json.value("id").toString(), json.value("server").toString(),
            json.value("queue").toString(), files.value(json.value("id").toString()),
            json.value("reports").toArray(), qint64(json.value("claimedAtMs").toDouble()) };
        ids << order.id;
        byId.insert(order.id, order);
    }
    ReadEvents(inputs.eventsPath, byId);

    QDir out(inputs.outputDirectory);
    out.mkpath("labels");
    out.mkpath("pages");
    bool allGood = !ids.isEmpty();
    int labelsExact = 0, documentsInOrder = 0, labelOrders = 0, documentOrders = 0;

    // Labels: each order's file has its own text, so its sink job is the one
    // with exactly its bytes.
    QHash<QString, QList<SinkJob>> sinkJobs;
    const auto jobsOf = [&](const QString &queue) -> QList<SinkJob> & {
        if (!sinkJobs.contains(queue))
            sinkJobs.insert(queue, SinkJobs(inputs.sinkDirectory + '/' + queue));
        return sinkJobs[queue];
    };
    // Documents: CUPS sends a queue's jobs to the printer in the order of
    // their job numbers, which the SPOOLED reports carry; without one, the
    // order of the final reports (one agent prints one order at a time).
    QStringList documentIds;
    for (const QString &id : ids) {
        if (byId[id].server != QLatin1String("local"))
            documentIds << id;
    }
    const auto sinkOrder = [&](const QString &id) {
        const Order &order = byId[id];
        const qint64 job = order.reports.isEmpty()
            ? 0
            : order.reports.last().toObject().value("spoolJobId").toString().toLongLong();
        return std::pair(
            job > 0 ? job : INT64_MAX, order.finishedMs ? order.finishedMs : INT64_MAX);
    };
    std::stable_sort(documentIds.begin(), documentIds.end(),
        [&](const QString &a, const QString &b) { return sinkOrder(a) < sinkOrder(b); });
    QHash<QString, int> documentJobIndex;
    QHash<QString, int> nextJobOfQueue;
    for (const QString &id : documentIds)
        documentJobIndex.insert(id, nextJobOfQueue[byId[id].queue]++);

    Say(QStringLiteral("Orders (%1):").arg(ids.size()));
    for (const QString &id : ids) {
        const Order &order = byId[id];
        const bool reported = ReportedSuccess(order);
        allGood = allGood && reported;
        Say(QStringLiteral("  %1 on %2 for %3: %4")
                .arg(order.id, order.server, order.queue, ReportsText(order.reports)));
        QList<SinkJob> &jobs = jobsOf(order.queue);
        QString atSink;
        qint64 receivedMs = 0;
        bool good = false;
        if (order.server == QLatin1String("local")) {
            ++labelOrders;
            const QByteArray expected = ReadAll(order.file);
            const auto job = std::find_if(jobs.begin(), jobs.end(),
                [&](const SinkJob &candidate) { return candidate.bytes == expected; });
            if (expected.isEmpty() || job == jobs.end()) {
                atSink = QStringLiteral("no sink job holds the label's %1 bytes exactly")
                             .arg(expected.size());
            } else {
                receivedMs = job->receivedMs;
                QFile copy(out.filePath("labels/" + order.id + ".zpl"));
                good = copy.open(QIODevice::WriteOnly)
                    && copy.write(job->bytes) == job->bytes.size();
                atSink = QStringLiteral(
                    "%1 bytes at the sink (%2), identical to %3; kept as labels/%4.zpl")
                             .arg(job->bytes.size())
                             .arg(QFileInfo(job->path).fileName(), QFileInfo(order.file).fileName(),
                                 order.id);
                ++labelsExact;
            }
        } else {
            ++documentOrders;
            const int index = documentJobIndex.value(id);
            if (!order.finishedMs || index >= jobs.size()) {
                atSink = QStringLiteral("no sink job");
            } else {
                const SinkJob &job = jobs[index];
                receivedMs = job.receivedMs;
                const QList<test::PwgPage> pages = test::ReadPwgRaster(job.bytes);
                QStringList seen;
                bool saved = true;
                for (int i = 0; i < pages.size(); ++i) {
                    const int number = PageNumber(pages[i], kDemoDocumentPages);
                    seen << (number ? QString::number(number) : QStringLiteral("?"));
                    saved
                        = PageImage(pages[i]).save(
                              out.filePath(
                                  QStringLiteral("pages/%1-page-%2.png").arg(order.id).arg(i + 1)),
                              "PNG")
                        && saved;
                }
                QStringList expected;
                for (int n = 1; n <= kDemoDocumentPages; ++n)
                    expected << QString::number(n);
                good = seen == expected && saved;
                if (good)
                    ++documentsInOrder;
                atSink
                    = QStringLiteral("%1 pages at the sink (%2, %3 bytes of PWG raster, %4 × %5 "
                                     "px at %6 dpi), pages seen in the order %7%8")
                          .arg(pages.size())
                          .arg(QFileInfo(job.path).fileName())
                          .arg(job.bytes.size())
                          .arg(pages.value(0).widthPixels)
                          .arg(pages.value(0).heightPixels)
                          .arg(pages.value(0).dpiX)
                          .arg(seen.join(QStringLiteral(", ")),
                              good ? QStringLiteral("; kept as pages/%1-page-N.png").arg(order.id)
                                   : QStringLiteral(" (expected %1)").arg(expected.join(", ")));
            }
        }
        allGood = allGood && good;
        if (order.claimedMs && receivedMs) {
            Say(QStringLiteral("      claim to printer %1; %2")
                    .arg(Seconds(receivedMs - order.claimedMs), atSink));
        } else {
            Say(QStringLiteral("      %1").arg(atSink));
        }
    }
    // Nothing else may have reached the printers.
    int extraJobs = 0;
    for (auto it = sinkJobs.constBegin(); it != sinkJobs.constEnd(); ++it) {
        const int expected = int(std::count_if(ids.cbegin(), ids.cend(),
            [&](const QString &id) { return byId[id].queue == it.key(); }));
        extraJobs += std::max(0, int(it.value().size()) - expected);
    }
    allGood = allGood && extraJobs == 0;

    Say(QStringLiteral("%1: %2 of %3 label orders reached the sink byte for byte, %4 of %5 PDF "
                       "orders arrived with their pages in order%6.")
            .arg(allGood ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
            .arg(labelsExact)
            .arg(labelOrders)
            .arg(documentsInOrder)
            .arg(documentOrders)
            .arg(extraJobs ? QStringLiteral(", %1 unexpected sink jobs").arg(extraJobs)
                           : QString()));
    return allGood;
}

}  // namespace vek::demo
