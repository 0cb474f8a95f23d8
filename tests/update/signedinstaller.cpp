#include "signedinstaller.h"

#include "tests/harness/testca.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>

namespace vek::test {
namespace {

bool Run(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        if (error)
            *error = program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QTemporaryDir &WorkDirectory()
{
    static QTemporaryDir directory;
    return directory;
}

QString BuildUnsigned(const QString &version, QString *error)
{
    const QString base = WorkDirectory().filePath(QStringLiteral("plain-") + version);
    if (QFile::exists(base + QStringLiteral(".exe")))
        return base + QStringLiteral(".exe");
    const QString commas = QString(version).replace(QLatin1Char('.'), QLatin1Char(','));
    const QByteArray resource
        = QStringLiteral("1 VERSIONINFO\n"
                         "FILEVERSION %1,0\n"
                         "PRODUCTVERSION %1,0\n"
                         "BEGIN\n"
                         "  BLOCK \"StringFileInfo\"\n"
                         "  BEGIN\n"
                         "    BLOCK \"040904b0\"\n"
                         "    BEGIN\n"
                         "      VALUE \"FileVersion\", \"%2\"\n"
                         "      VALUE \"ProductName\", \"Vek test installer\"\n"
                         "    END\n"
                         "  END\n"
                         "  BLOCK \"VarFileInfo\"\n"
                         "  BEGIN\n"
                         "    VALUE \"Translation\", 0x409, 1200\n"
                         "  END\n"
                         "END\n")
              .arg(commas, version)
              .toLatin1();
    if (!Write(base + QStringLiteral(".rc"), resource)
        || !Write(base + QStringLiteral(".c"), "int main(void) { return 0; }\n"))
        return {};
    if (!Run(QStringLiteral(VEK_TEST_WINDRES),
            { base + QStringLiteral(".rc"), QStringLiteral("-O"), QStringLiteral("coff"),
                QStringLiteral("-o"), base + QStringLiteral(".res.o") },
            error)
        || !Run(QStringLiteral(VEK_TEST_MINGW_GCC),
            { QStringLiteral("-s"), QStringLiteral("-o"), base + QStringLiteral(".exe"),
                base + QStringLiteral(".c"), base + QStringLiteral(".res.o") },
            error))
        return {};
    return base + QStringLiteral(".exe");
}

}  // namespace

QByteArray MakeInstaller(const QString &version, InstallerSigner signer, QString *error)
{
    static QMutex mutex;
    static QHash<QString, QByteArray> made;
    QMutexLocker lock(&mutex);
    const QString key = version + QLatin1Char('/') + QString::number(int(signer));
    if (made.contains(key))
        return made.value(key);
    if (!WorkDirectory().isValid())
        return {};
    const QString plain = BuildUnsigned(version, error);
    if (plain.isEmpty())
        return {};
    if (signer == InstallerSigner::Unsigned)
        return made[key] = Read(plain);

    const CodeSigningCertificates &material = CodeSigningCertificatesForProcess();
    QByteArray chain;
    QByteArray privateKey;
    switch (signer) {
    case InstallerSigner::Trusted:
        chain = material.signer + material.root;
        privateKey = material.signerKey;
        break;
    case InstallerSigner::OtherRoot:
        chain = material.otherSigner + material.otherRoot;
        privateKey = material.otherSignerKey;
        break;
    case InstallerSigner::WithoutCodeSigningUsage:
        chain = material.leafWithoutUsage + material.root;
        privateKey = material.leafWithoutUsageKey;
        break;
    case InstallerSigner::Unsigned:
        break;
    }
    const QString base
        = WorkDirectory().filePath(QStringLiteral("signed-%1-%2").arg(version).arg(int(signer)));
    if (!Write(base + QStringLiteral(".chain.pem"), chain)
        || !Write(base + QStringLiteral(".key.pem"), privateKey))
        return {};
    QFile::remove(base + QStringLiteral(".exe"));
    if (!Run(QStringLiteral(VEK_TEST_OSSLSIGNCODE),
            { QStringLiteral("sign"), QStringLiteral("-certs"), base + QStringLiteral(".chain.pem"),
                QStringLiteral("-key"), base + QStringLiteral(".key.pem"), QStringLiteral("-h"),
                QStringLiteral("sha256"), QStringLiteral("-n"),
                QStringLiteral("Vek test installer"), QStringLiteral("-in"), plain,
                QStringLiteral("-out"), base + QStringLiteral(".exe") },
            error))
        return {};
    return made[key] = Read(base + QStringLiteral(".exe"));
}

quint32 ReadU32(const QByteArray &bytes, qsizetype offset)
{
    if (offset < 0 || offset + 4 > bytes.size())
        return 0;
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes[offset + i]);
    return value;
}

void WriteU32(QByteArray &bytes, qsizetype offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

PeOffsets FindPeOffsets(const QByteArray &file)
{
    PeOffsets offsets;
    const qsizetype pe = ReadU32(file, 0x3C);
    const qsizetype optional = pe + 24;
    const quint32 optionalSize = ReadU32(file, pe + 20) & 0xFFFF;
    offsets.checksum = optional + 64;
    offsets.certificateEntry = optional + 112 + 8 * 4;
    offsets.firstSection = ReadU32(file, optional + optionalSize + 20);
    return offsets;
}

QByteArray Bent(QByteArray file, Bend bend)
{
    const PeOffsets at = FindPeOffsets(file);
    const quint32 tableOffset = ReadU32(file, at.certificateEntry);
    const auto grow = [&](const QByteArray &extra, bool counted) {
        file.append(extra);
        if (!counted)
            return;
        const quint32 size = ReadU32(file, at.certificateEntry + 4) + quint32(extra.size());
        WriteU32(file, at.certificateEntry + 4, size);
        WriteU32(file, tableOffset, size);  // WIN_CERTIFICATE.dwLength
    };
    switch (bend) {
    case Bend::None:
        break;
    case Bend::FlipBodyByte:
        file[at.firstSection + 16] = char(file[at.firstSection + 16] ^ 0x01);
        break;
    case Bend::ChangeChecksum:
        WriteU32(file, at.checksum, ReadU32(file, at.checksum) ^ 0x5A5A5A5Au);
        break;
    case Bend::JunkInsideBlock:
        grow(QByteArray("\x00\x00\x00\x00\x00\x00\x00\x00HIDDEN-PAYLOAD-XXXXXXXXXXXXXXXX", 40),
            true);
        break;
    case Bend::AppendAfterTable:
        grow(QByteArray(64, 'A'), false);
        break;
    case Bend::TruncateSignature: {
        const quint32 size = ReadU32(file, at.certificateEntry + 4) - 64;
        file.chop(64);
        WriteU32(file, at.certificateEntry + 4, size);
        WriteU32(file, tableOffset, size);
        break;
    }
    case Bend::SecondCertificateEntry: {
        // A second, well-formed WIN_CERTIFICATE that repeats the first.
        const QByteArray first = file.mid(tableOffset);
        grow(first, true);
        WriteU32(file, tableOffset, quint32(first.size()));
        break;
    }
    }
    return file;
}

QString Sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace vek::test
