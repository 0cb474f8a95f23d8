#include "printing/pdfprint.h"
#include "tests/printing/testpdf.h"

#include <QBuffer>
#include <QPdfDocument>
#include <QTest>

using vek::printing::kMaxPdfBytes;
using vek::printing::ValidatePdf;
using namespace vek::test;

namespace {

constexpr const char *kInvalid = "Invalid or oversized PDF";
constexpr const char *kUnreadable = "Unreadable, encrypted or oversized PDF";

const QSizeF kA4(595, 842);

// The PDF grown to exactly size bytes by a comment after its end marker.
QByteArray PaddedTo(QByteArray pdf, qsizetype size)
{
    pdf += '%';
    pdf += QByteArray(size - pdf.size() - 1, 'x');
    pdf += '\n';
    return pdf;
}

}  // namespace

class TestPdfCheck : public QObject {
    Q_OBJECT

private slots:
    void validate_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");  // empty: printable

        const QByteArray small = DrawnPdf({ kA4, QSizeF(141.73, 70.87), QSizeF(1191, 1684) });
        QTest::newRow("pages of several sizes") << small << QString();
        QTest::newRow("largest size") << PaddedTo(small, kMaxPdfBytes) << QString();
        QTest::newRow("one byte over") << PaddedTo(small, kMaxPdfBytes + 1) << kInvalid;
        QTest::newRow("empty") << QByteArray() << kInvalid;
        QTest::newRow("no signature") << small.mid(1) << kInvalid;
        QTest::newRow("signature not first") << " " + small << kInvalid;
        QTest::newRow("lower-case signature") << "%pdf-" + small.mid(5) << kInvalid;
        QTest::newRow("signature only") << QByteArray("%PDF-") << kUnreadable;
        QTest::newRow("garbage after signature")
            << "%PDF-1.7\n" + QByteArray(4096, '\x9c') << kUnreadable;
        QTest::newRow("cut in half") << small.left(small.size() / 2) << kUnreadable;
        QTest::newRow("no pages") << WrittenPdf({}) << kUnreadable;
        QTest::newRow("100 pages") << WrittenPdf(QList<QSizeF>(100, kA4)) << QString();
        QTest::newRow("101 pages") << WrittenPdf(QList<QSizeF>(101, kA4)) << kUnreadable;
        QTest::newRow("100 drawn pages") << DrawnPdf(QList<QSizeF>(100, kA4)) << QString();
        // 5000 × 8000 pixels at 300 dpi is the largest bitmap a page may need.
        QTest::newRow("page at the pixel cap")
            << WrittenPdf({ kA4, QSizeF(1200, 1920) }) << QString();
        QTest::newRow("page over the pixel cap")
            << WrittenPdf({ kA4, QSizeF(1200, 1921) }) << kUnreadable;
    }

    void validate()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        std::string reason = "stale";
        QCOMPARE(ValidatePdf(bytes, &reason), error.isEmpty());
        QCOMPARE(QString::fromStdString(reason), error);
    }

    void encryptedIsRefused()
    {
        QString why;
        const QByteArray encrypted = EncryptedPdf(DrawnPdf({ kA4 }), &why);
        QVERIFY2(!encrypted.isEmpty(), qPrintable(why));
        QVERIFY(encrypted.startsWith("%PDF-"));
        std::string reason;
        QVERIFY(!ValidatePdf(encrypted, &reason));
        QCOMPARE(reason, std::string(kUnreadable));
    }

    void drawnPagesHaveTheirSizes()
    {
        // The fixture itself: other tests rely on these page sizes.
        QByteArray bytes = DrawnPdf({ kA4, QSizeF(842, 595), QSizeF(1200, 1921) });
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QPdfDocument document;
        document.load(&buffer);
        QCOMPARE(document.pageCount(), 3);
        QCOMPARE(document.pagePointSize(0).toSize(), QSize(595, 842));
        QCOMPARE(document.pagePointSize(1).toSize(), QSize(842, 595));
        QCOMPARE(document.pagePointSize(2).toSize(), QSize(1200, 1921));
        std::string reason;
        QVERIFY(!ValidatePdf(bytes, &reason));
    }
};

QTEST_MAIN(TestPdfCheck)
#include "test_pdfcheck.moc"
