#pragma once
// A PDF document loaded from memory and checked against the limits of a
// printable document. Shared by the document check and the printer.

#include <QBuffer>
#include <QByteArray>
#include <QPdfDocument>

#include <string>

namespace vek::printing {

class PrintablePdf {
public:
    explicit PrintablePdf(const QByteArray &bytes);
    PrintablePdf(const PrintablePdf &) = delete;
    PrintablePdf &operator=(const PrintablePdf &) = delete;

    // Empty when the document may be printed, else the reason.
    const std::string &error() const { return error_; }
    QPdfDocument &document() { return document_; }

private:
    QByteArray bytes_;
    QBuffer buffer_;
    QPdfDocument document_;
    std::string error_;
};

}  // namespace vek::printing
