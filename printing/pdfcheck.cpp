#include "printing/pageplacement.h"
#include "printing/pdfprint.h"
#include "printing/printablepdf.h"

#include <QLoggingCategory>

namespace vek::printing {

namespace {

Q_LOGGING_CATEGORY(lcPdfCheck, "vek.pdf", QtWarningMsg)

constexpr const char *kInvalidPdf = "Invalid or oversized PDF";
constexpr const char *kUnreadablePdf = "Unreadable, encrypted or oversized PDF";

}  // namespace

PrintablePdf::PrintablePdf(const QByteArray &bytes)
    : bytes_(bytes)
    , buffer_(&bytes_)
{
    if (bytes_.size() > kMaxPdfBytes || !bytes_.startsWith("%PDF-")) {
        error_ = kInvalidPdf;
        return;
    }
    buffer_.open(QIODevice::ReadOnly);
    document_.load(&buffer_);
    const int pages = document_.pageCount();
    if (document_.status() != QPdfDocument::Status::Ready
        || document_.error() != QPdfDocument::Error::None || pages < 1 || pages > kMaxPdfPages) {
        qCDebug(lcPdfCheck) << "document refused:" << document_.status() << document_.error()
                            << pages << "pages";
        error_ = kUnreadablePdf;
        return;
    }
    // Every page must render within the bitmap cap before anything is spooled.
    for (int page = 0; page < pages; ++page) {
        const QSizeF size = document_.pagePointSize(page);
        if (!PageBitmapSize(size.width(), size.height())) {
            qCDebug(lcPdfCheck) << "page" << page + 1 << "has an unusable size" << size;
            error_ = kUnreadablePdf;
            return;
        }
    }
}

bool ValidatePdf(const QByteArray &bytes, std::string *error)
{
    PrintablePdf pdf(bytes);
    if (error)
        *error = pdf.error();
    return pdf.error().empty();
}

}  // namespace vek::printing
