// The installer digest as the download computes it (SHA-256 over the body in
// network-sized pieces, as they arrive) against sha256sum on the same file,
// with this process's peak memory. Not a test: tools/bench.sh runs it.
//   bench_updatehash [file]   default: a 512 MiB file made in a temporary folder

#include "platform/sha256stream.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr qint64 kSize = 512ll << 20;
constexpr qint64 kPiece = 64 << 10;  // what one readyRead typically delivers

qint64 PeakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool MakeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray piece(1 << 20, '\0');
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char((i * 2654435761u) >> 24);
    for (qint64 written = 0; written < kSize; written += piece.size()) {
        if (file.write(piece) != piece.size())
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir directory;
    QString path = argc > 1 ? QString::fromLocal8Bit(argv[1])
                            : directory.filePath(QStringLiteral("big.bin"));
    if (argc <= 1 && !MakeFile(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    const qint64 peakBefore = PeakResidentKiB();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QElapsedTimer timer;
    timer.start();
    vek::platform::Sha256Stream hash;
    QByteArray piece(kPiece, Qt::Uninitialized);
    qint64 total = 0;
    for (qint64 got; (got = file.read(piece.data(), kPiece)) > 0;) {
        hash.Add(piece.constData(), std::size_t(got));
        total += got;
    }
    const QByteArray ours = QByteArray::fromStdString(hash.FinishHex());
    const double oursSeconds = timer.nsecsElapsed() / 1e9;

    QProcess sha256sum;
    timer.restart();
    sha256sum.start(QStringLiteral("sha256sum"), { path });
    sha256sum.waitForFinished(-1);
    const double theirSeconds = timer.nsecsElapsed() / 1e9;
    const QByteArray theirs = sha256sum.readAllStandardOutput().left(64);

    const double mib = total / double(1 << 20);
    std::printf("file            %.0f MiB\n", mib);
    std::printf("streamed hash   %.2f s  %.0f MiB/s\n", oursSeconds, mib / oursSeconds);
    std::printf("sha256sum       %.2f s  %.0f MiB/s\n", theirSeconds, mib / theirSeconds);
    std::printf("speed ratio     %.2f x sha256sum\n", theirSeconds / oursSeconds);
    std::printf("peak memory     %lld KiB before, %lld KiB after\n", peakBefore, PeakResidentKiB());
    std::printf("digests agree   %s\n", ours == theirs ? "yes" : "NO");
    return ours == theirs ? 0 : 1;
}
