#include "printing/pdfprint.h"

#include "platform/driversettings.h"
#include "platform/pageoutput.h"
#include "platform/printjobtext.h"
#include "printing/pageplacement.h"
#include "printing/printablepdf.h"
#include "printing/profilestore.h"
#include "printing/systemtexts.h"

#include <QImage>
#include <QLoggingCategory>

namespace vek::printing {

namespace {

Q_LOGGING_CATEGORY(lcPdf, "vek.pdf", QtWarningMsg)

constexpr const char *kProfileChanged = "Printer disabled or profile changed";
constexpr const char *kDriverChanged = "Printer driver changed; save the profile again";
constexpr const char *kCannotOpen = "Cannot open configured printer";
constexpr const char *kInterrupted
    = "Print transmission interrupted; check output before reprinting";

PdfPrintResult Refused(std::string error)
{
    PdfPrintResult result;
    result.status = PdfPrintResult::Refused;
    result.error = std::move(error);
    return result;
}

// A rendered page as the device takes it. The renderer leaves the page's
// background transparent; the device lays it on white paper where it reads
// the pixels, so no pass over the whole page is made here.
struct RenderedPage {
    QImage image;
    platform::PageAlpha alpha = platform::PageAlpha::Unused;
};

RenderedPage RenderPage(QPdfDocument &document, int page, QSize size)
{
    QImage image = document.render(page, size);
    if (image.isNull() || image.size() != size)
        return {};
    if (image.format() == QImage::Format_RGB32)
        return { std::move(image), platform::PageAlpha::Unused };
    if (image.format() != QImage::Format_ARGB32) {
        image.convertTo(QImage::Format_ARGB32);
        if (image.isNull())
            return {};
    }
    return { std::move(image), platform::PageAlpha::OverWhite };
}

// A page is rendered at the rendering resolution, or straight at the size it
// lands on the device when that is smaller (a coarser device, or a page
// reduced to fit): the device shows no more pixels than that, and rendering
// them directly is sharper and cheaper than rendering more and averaging
// them down.
QSize RenderSize(QSize bitmap, const platform::PagePlacement &at)
{
    if (at.width <= bitmap.width() && at.height <= bitmap.height())
        return { at.width, at.height };
    return bitmap;
}

// Prints every copy of every page into the started job; false when the
// renderer, the device or the spooler failed on the way.
bool PrintPages(platform::PageJob &job, QPdfDocument &document, int copies)
{
    const int pages = document.pageCount();
    for (int copy = 1; copy <= copies; ++copy) {
        for (int page = 0; page < pages; ++page) {
            const QSizeF points = document.pagePointSize(page);
            const auto bitmapSize = PageBitmapSize(points.width(), points.height());
            if (!bitmapSize)
                return false;
            const auto at = PlacePage(points.width(), points.height(), job.printableArea());
            if (!at) {
                qCWarning(lcPdf) << "the device reports no usable printable area";
                return false;
            }
            RenderedPage rendered = RenderPage(document, page, RenderSize(*bitmapSize, *at));
            QImage &image = rendered.image;
            if (image.isNull()) {
                qCWarning(lcPdf) << "page" << page + 1 << "did not render";
                return false;
            }
            if (!job.startPage())
                return false;
            const platform::PageImage bits { image.bits(), image.width(), image.height(),
                static_cast<std::size_t>(image.bytesPerLine()), rendered.alpha };
            if (!job.drawPage(bits, *at) || !job.endPage())
                return false;
            qCDebug(lcPdf).noquote()
                << "page" << page + 1 << "of copy" << copy << "handed to the spooler";
        }
    }
    return true;
}

}  // namespace

PdfPrintResult PrintPdfWithProfile(const QString &systemName, const QString &profileId,
    const QString &version, const QByteArray &bytes, int copies, const QString &orderId)
{
    PrintablePdf pdf(bytes);
    if (!pdf.error().empty())
        return Refused(pdf.error());

    // The profile id names a place in the store, so only an id of the stored
    // form is looked up; and the bytes printed with must be the very bytes
    // the server's version names, since the dialog may be saving beside us.
    if (!IsStoredIdForm(profileId) || !IsQueueEnabled(systemName) || copies < 1
        || copies > kMaxCopies)
        return Refused(kProfileChanged);
    const StoredProfile profile = ReadProfile(systemName, profileId);
    if (profile.version != version || SettingsVersion(profile.devmode) != version)
        return Refused(kProfileChanged);

    const std::string queue = systemName.toStdString();
    const platform::Bytes saved(profile.devmode.begin(), profile.devmode.end());
    const auto settings
        = saved.empty() ? std::nullopt : platform::SettingsForPrinting(queue, saved);
    if (!settings)
        return Refused(kDriverChanged);

    const std::string title = platform::JobTitle(("Vek " + orderId).toStdString());
    platform::PageJobStart start = platform::StartPageJob(queue, *settings, title);
    if (start.error == platform::PageJobError::Rejected)
        return Refused(systemtext::kPrintJobRejected);
    if (!start.job)
        return Refused(kCannotOpen);

    platform::PageJob &job = *start.job;
    PdfPrintResult result;
    result.spoolJobId = job.jobId();
    if (!PrintPages(job, pdf.document(), copies)) {
        qCWarning(lcPdf) << "job" << result.spoolJobId << "failed on the way; aborting";
        job.abort();
        result.status = PdfPrintResult::Interrupted;
        result.error = kInterrupted;
        return result;
    }
    if (!job.finish()) {
        qCWarning(lcPdf) << "job" << result.spoolJobId << "was not taken by the spooler";
        result.status = PdfPrintResult::Interrupted;
        result.error = kInterrupted;
        return result;
    }
    result.status = PdfPrintResult::Spooled;
    return result;
}

}  // namespace vek::printing
