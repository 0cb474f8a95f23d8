#include "demofiles.h"

#include "tests/printing/testpdf.h"
#include "tests/printing/testprofile.h"

#include <QDir>
#include <QFile>

namespace vek::demo {

namespace {

constexpr QSizeF kA4Pt(595, 842);

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray Label(int number)
{
    const QByteArray n = QByteArray::number(number);
    return "^XA\n^CF0,40\n^FO40,40^FDVek demo label " + n + "^FS\n^FO40,100^BCN,80^FDVEK-DEMO-"
        + n.rightJustified(4, '0') + "^FS\n^XZ\n";
}

}  // namespace

bool WriteDemoFiles(const QString &directory, int labelCount)
{
    if (!QDir().mkpath(directory))
        return false;
    for (int i = 1; i <= labelCount; ++i) {
        if (!WriteFile(QStringLiteral("%1/label-%2.zpl").arg(directory).arg(i), Label(i)))
            return false;
    }
    // Page n carries its black square n - 1 steps further right.
    const QByteArray pdf = test::DrawnPdf(QList<QSizeF>(kDemoDocumentPages, kA4Pt));
    return !pdf.isEmpty() && WriteFile(directory + "/document.pdf", pdf);
}

bool SaveQueueProfile(const QString &queue)
{
    return !test::SaveDefaultProfile(queue.toUtf8().constData()).id.isEmpty();
}

}  // namespace vek::demo
