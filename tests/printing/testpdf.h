#pragma once
// PDF documents made by the tests themselves.

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>

namespace vek::test {

// A PDF drawn through Qt's PDF writer, one page per size (in points). Page n
// (counting from 1) carries one black 1-inch square, half an inch from the
// top and 0.5 + 1.5 × (n - 1) inches from the left, so a reader can tell the
// pages apart.
QByteArray DrawnPdf(const QList<QSizeF> &pagesPt);

// Where DrawnPdf puts page n's square, in points from the top-left corner.
QPointF MarkOrigin(int page);
inline constexpr double kMarkSizePt = 72;

// A minimal hand-written PDF with empty pages of the given sizes (points);
// any count, including none.
QByteArray WrittenPdf(const QList<QSizeF> &pagesPt);

// The PDF encrypted with a user password by the qpdf tool; empty when that
// failed (error says why).
QByteArray EncryptedPdf(const QByteArray &pdf, QString *error);

}  // namespace vek::test
