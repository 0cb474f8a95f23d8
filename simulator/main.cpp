// vek-clinic-simulator: local node and desktop printing servers on loopback,
// fed with orders from the command line and the admin API, for trying the
// agent end to end and as a reference for server builders.

#include "adminserver.h"
#include "clinicserver.h"
#include "simstate.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

using namespace vek::sim;

namespace {

struct Listen {
    bool https = false;
    quint16 port = 0;
    bool ok = false;
};

Listen ParseListen(QString text)
{
    Listen listen;
    if (text.startsWith(QLatin1String("https:"))) {
        listen.https = true;
        text = text.mid(6);
    } else if (text.startsWith(QLatin1String("http:"))) {
        text = text.mid(5);
    }
    const uint port = text.toUInt(&listen.ok);
    listen.ok = listen.ok && port <= 65535;
    listen.port = quint16(port);
    return listen;
}

// "FILE" or "FILExN": the file and how many orders to make of it.
bool ReadOrderFile(const QString &spec, QByteArray *data, int *count)
{
    QString path = spec;
    *count = 1;
    static const QRegularExpression repeat(QStringLiteral("^(.*)x(\\d+)$"));
    if (const auto match = repeat.match(spec); match.hasMatch() && !QFile::exists(spec)) {
        path = match.captured(1);
        *count = match.captured(2).toInt();
    }
    QFile file(path);
    if (*count < 1 || !file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return !data->isEmpty();
}

void Say(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int Fail(const QString &line)
{
    std::fprintf(stderr, "vek-clinic-simulator: %s\n", line.toUtf8().constData());
    return 2;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Clinic servers on 127.0.0.1 for the print agent."));
    parser.addHelpOption();
    const QCommandLineOption localOption(
        "local-node", "A local node on [https:]PORT (0: any free port).", "listen");
    const QCommandLineOption desktopOption(
        "desktop", "A desktop printing server on [https:]PORT; repeatable.", "listen");
    const QCommandLineOption adminOption(
        "admin-port", "Port of the admin API and status page.", "port", "0");
    const QCommandLineOption certOption("cert", "PEM certificate for the https servers.", "file");
    const QCommandLineOption keyOption("key", "PEM private key for the https servers.", "file");
    const QCommandLineOption secretOption(
        "secret", "The local node's enrolment secret.", "text", "local-secret");
    const QCommandLineOption codeOption(
        "pairing-code", "A pairing code, good once; repeatable.", "code");
    const QCommandLineOption leaseOption(
        "lease-ms", "How long a claimed order waits for STARTED.", "ms", "30000");
    const QCommandLineOption labelOption(
        "label", "QUEUE=FILE[xN]: raw orders for a local-node queue.", "order");
    const QCommandLineOption pdfOption(
        "pdf", "[SERVER/]QUEUE:PROFILE=FILE[xN]: PDF orders for a desktop server.", "order");
    parser.addOptions({ localOption, desktopOption, adminOption, certOption, keyOption,
        secretOption, codeOption, leaseOption, labelOption, pdfOption });
    parser.process(app);

    SimState state;
    QObject::connect(&state, &SimState::event, &Say);
    state.setEnrolmentSecret(parser.value(secretOption));
    state.setLeaseMs(parser.value(leaseOption).toLongLong());
    const QStringList codes = parser.values(codeOption);
    for (const QString &code :
        codes.isEmpty() ? QStringList { QStringLiteral("PAIR-0001") } : codes)
        state.addPairingCode(code);

    QSslCertificate certificate;
    QSslKey key;
    if (parser.isSet(certOption) || parser.isSet(keyOption)) {
        QFile certFile(parser.value(certOption));
        QFile keyFile(parser.value(keyOption));
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return Fail(QStringLiteral("cannot read the certificate or the key"));
        certificate = QSslCertificate(&certFile, QSsl::Pem);
        const QByteArray keyBytes = keyFile.readAll();
        key = QSslKey(keyBytes, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    }

    QList<ClinicServer *> servers;
    auto startServer = [&](const QString &name, Api api, const QString &spec) {
        const Listen listen = ParseListen(spec);
        auto *server = new ClinicServer(&state, name, api, &app);
        const bool started = !listen.ok ? false
            : listen.https              ? server->startTls(listen.port, certificate, key)
                                        : server->start(listen.port);
        if (!started)
            return false;
        servers.append(server);
        Say(QStringLiteral("server %1 %2").arg(name, server->baseUrl()));
        return true;
    };
    QStringList desktops = parser.values(desktopOption);
    const bool defaults = !parser.isSet(localOption) && desktops.isEmpty();
    if (parser.isSet(localOption) || defaults) {
        if (!startServer(QStringLiteral("local"), Api::LocalNode,
                defaults ? QStringLiteral("0") : parser.value(localOption)))
            return Fail(QStringLiteral("cannot start the local node"));
    }
    if (defaults)
        desktops = { QStringLiteral("0") };
    QList<QPair<QString, QString>> desktopList;
    for (int i = 0; i < desktops.size(); ++i) {
        const QString name = QStringLiteral("desktop%1").arg(i + 1);
        if (!startServer(name, Api::Desktop, desktops[i]))
            return Fail(QStringLiteral("cannot start %1 on %2").arg(name, desktops[i]));
        desktopList.append({ name, servers.last()->baseUrl() });
    }
    state.setDesktopServers(desktopList);

    const QStringList labels = parser.values(labelOption);
    for (const QString &spec : labels) {
        const qsizetype equals = spec.indexOf(u'=');
        QByteArray data;
        int count = 0;
        if (equals < 1 || !ReadOrderFile(spec.mid(equals + 1), &data, &count))
            return Fail(QStringLiteral("cannot use --label %1").arg(spec));
        for (int i = 0; i < count; ++i)
            state.addOrder(QStringLiteral("local"), spec.left(equals), data);
    }
    const QStringList pdfs = parser.values(pdfOption);
    for (const QString &spec : pdfs) {
        static const QRegularExpression form(QStringLiteral("^(?:([^/]+)/)?([^:]+):([^=]+)=(.+)$"));
        const auto match = form.match(spec);
        QByteArray data;
        int count = 0;
        if (!match.hasMatch() || !ReadOrderFile(match.captured(4), &data, &count))
            return Fail(QStringLiteral("cannot use --pdf %1").arg(spec));
        const QString server
            = match.captured(1).isEmpty() ? QStringLiteral("desktop1") : match.captured(1);
        for (int i = 0; i < count; ++i)
            state.addOrder(server, match.captured(2), data, match.captured(3));
    }

    AdminServer admin(&state, servers);
    if (!admin.start(quint16(parser.value(adminOption).toUInt())))
        return Fail(QStringLiteral("cannot start the admin server"));
    Say(QStringLiteral("admin %1").arg(admin.baseUrl()));
    return app.exec();
}
