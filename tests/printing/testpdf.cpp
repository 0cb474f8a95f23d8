#include "tests/printing/testpdf.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

namespace vek::test {

QPointF MarkOrigin(int page)
{
    return QPointF(36 + 108 * (page - 1), 36);
}

QByteArray DrawnPdf(const QList<QSizeF> &pagesPt)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    const auto pageSize = [](QSizeF size) {
        return QPageSize(size, QPageSize::Point, QString(), QPageSize::ExactMatch);
    };
    writer.setPageLayout(
        QPageLayout(pageSize(pagesPt.value(0)), QPageLayout::Portrait, QMarginsF()));
    QPainter painter(&writer);
    for (qsizetype i = 0; i < pagesPt.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(pageSize(pagesPt.at(i)));
            writer.newPage();
        }
        painter.fillRect(
            QRectF(MarkOrigin(int(i) + 1), QSizeF(kMarkSizePt, kMarkSizePt)), Qt::black);
    }
    painter.end();
    return bytes;
}

QByteArray WrittenPdf(const QList<QSizeF> &pagesPt)
{
    QList<QByteArray> objects;
    QByteArray kids;
    for (qsizetype i = 0; i < pagesPt.size(); ++i)
        kids += QByteArray::number(i + 3) + " 0 R ";
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pagesPt.size())
            + " >>";
    for (const QSizeF &size : pagesPt) {
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(size.width())
                + " " + QByteArray::number(size.height()) + "] >>";
    }

    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1)
        + " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray EncryptedPdf(const QByteArray &pdf, QString *error)
{
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain.pdf")));
    if (!plain.open(QIODevice::WriteOnly) || plain.write(pdf) != pdf.size()) {
        *error = QStringLiteral("cannot write the plain PDF");
        return {};
    }
    plain.close();
    const QString encryptedPath = dir.filePath(QStringLiteral("encrypted.pdf"));
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"),
        { QStringLiteral("--encrypt"), QStringLiteral("user-secret"),
            QStringLiteral("owner-secret"), QStringLiteral("256"), QStringLiteral("--"),
            plain.fileName(), encryptedPath });
    if (!qpdf.waitForFinished(30000) || qpdf.exitStatus() != QProcess::NormalExit
        || qpdf.exitCode() != 0) {
        *error = QStringLiteral("qpdf failed: ") + qpdf.errorString() + " "
            + QString::fromLocal8Bit(qpdf.readAllStandardError());
        return {};
    }
    QFile encrypted(encryptedPath);
    if (!encrypted.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("qpdf wrote nothing");
        return {};
    }
    return encrypted.readAll();
}

}  // namespace vek::test
