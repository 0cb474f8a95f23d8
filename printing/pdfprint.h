#pragma once
// PDF documents to paper through the driver: the document checks, and
// printing every page as a 300 dpi bitmap at its physical size with a saved
// print profile, copies outside and pages inside, in one spool job.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

namespace vek::printing {

struct PdfPrintResult {
    enum Status : std::int32_t {
        Spooled = 0,
        Refused = 2,  // nothing was spooled
        Interrupted = 3,  // failed after the spool job was created
    };
    std::int32_t status = Refused;
    std::uint32_t spoolJobId = 0;  // 0 while no job exists
    std::string error;  // English, untranslated; empty on success
};

// The limits of a printable document.
inline constexpr qsizetype kMaxPdfBytes = 10485760;
inline constexpr int kMaxPdfPages = 100;
inline constexpr int kMaxCopies = 10;
inline constexpr qint64 kMaxPagePixels = 40000000;
inline constexpr int kRenderDpi = 300;

// True when the document may be printed; otherwise error holds the reason.
bool ValidatePdf(const QByteArray &bytes, std::string *error);

PdfPrintResult PrintPdfWithProfile(const QString &systemName, const QString &profileId,
    const QString &version, const QByteArray &bytes, int copies, const QString &orderId);

}  // namespace vek::printing
