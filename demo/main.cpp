// vek-demo: the steps of tools/demo.sh that need the product's own code or
// Qt, one subcommand each.
//   vek-demo files DIR LABELS            the label files and the PDF
//   vek-demo profile QUEUE               save QUEUE's defaults as profile "Default"
//   vek-demo has-profile QUEUE NAME      whether QUEUE is allowed and has profile NAME
//   vek-demo shot FILE [STATE SECONDS]   the screen, once it shows STATE's icon
//   vek-demo order ADMIN SERVER QUEUE FILE MANIFEST [PROFILE]
//   vek-demo fault ADMIN SERVER MODE [DELAY_MS]
//   vek-demo summary ADMIN EVENTS MANIFEST SINK_DIR OUTPUT_DIR
// The profile lands in the per-user store that HOME and XDG_CONFIG_HOME select.

#include "adminclient.h"
#include "demofiles.h"
#include "screenshot.h"
#include "summary.h"

#include "app/applicationidentity.h"
#include "printing/profilestore.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>

#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr,
        "usage: vek-demo files DIR LABELS | profile QUEUE | has-profile QUEUE NAME | shot FILE "
        "[not-set-up|ready|printing "
        "SECONDS] | order ADMIN SERVER QUEUE FILE MANIFEST [PROFILE] | fault ADMIN SERVER MODE "
        "[DELAY_MS] | summary ADMIN EVENTS MANIFEST SINK_DIR OUTPUT_DIR\n");
    return 2;
}

int Fail(const QString &text)
{
    std::fprintf(stderr, "vek-demo: %s\n", text.toUtf8().constData());
    return 1;
}

std::optional<vek::agent::AgentState> StateNamed(const QString &name)
{
    using vek::agent::AgentState;
    if (name == QLatin1String("not-set-up"))
        return AgentState::NotConfigured;
    if (name == QLatin1String("ready"))
        return AgentState::Ready;
    if (name == QLatin1String("printing"))
        return AgentState::Printing;
    return std::nullopt;
}

int QueueOrder(const QStringList &args)
{
    QFile file(args[4]);
    if (!file.open(QIODevice::ReadOnly))
        return Fail("cannot read " + args[4]);
    QJsonObject body { { "server", args[2] }, { "queue", args[3] },
        { "dataBase64", QString::fromLatin1(file.readAll().toBase64()) }, { "count", 1 } };
    if (args.size() > 6)
        body.insert("profile", args[6]);
    QString error;
    const auto reply = vek::demo::AdminPost(args[1] + "/admin/orders", body, &error);
    if (!reply)
        return Fail(error);
    QFile manifest(args[5]);
    if (!manifest.open(QIODevice::Append))
        return Fail("cannot write " + args[5]);
    for (const QJsonValue &id : reply->value("orders").toArray()) {
        manifest.write((id.toString() + ' ' + args[4] + '\n').toUtf8());
        std::printf("%s\n", id.toString().toUtf8().constData());
    }
    return 0;
}

int SetFault(const QStringList &args)
{
    QJsonObject body { { "server", args[2] }, { "mode", args[3] } };
    if (args.size() > 4)
        body.insert("delayMs", args[4].toInt());
    QString error;
    return vek::demo::AdminPost(args[1] + "/admin/fault", body, &error) ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char *argv[])
{
    const bool screen = argc > 1 && qstrcmp(argv[1], "shot") == 0;
    if (!screen && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    vek::app::ApplyApplicationIdentity(app);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);

    if (command == QLatin1String("files") && args.size() == 3) {
        return vek::demo::WriteDemoFiles(args[1], args[2].toInt()) ? 0
                                                                   : Fail("cannot write the files");
    }
    if (command == QLatin1String("profile") && args.size() == 2) {
        return vek::demo::SaveQueueProfile(args[1]) ? 0
                                                    : Fail("cannot save a profile for " + args[1]);
    }
    if (command == QLatin1String("has-profile") && args.size() == 3) {
        if (!vek::printing::IsQueueEnabled(args[1]))
            return Fail(args[1] + " is not allowed");
        for (const QString &id : vek::printing::ProfileIds(args[1])) {
            if (vek::printing::ReadProfile(args[1], id).name == args[2])
                return 0;
        }
        return Fail(args[1] + " has no profile " + args[2]);
    }
    if (command == QLatin1String("shot") && (args.size() == 2 || args.size() == 4)) {
        std::optional<vek::agent::AgentState> state;
        if (args.size() == 4 && !(state = StateNamed(args[2])))
            return Usage();
        const int timeoutMs = args.size() == 4 ? args[3].toInt() * 1000 : 0;
        if (vek::demo::SaveScreenshot(args[1], state, timeoutMs))
            return 0;
        return Fail(state ? QStringLiteral("the screen did not show a %1 icon").arg(args[2])
                          : QStringLiteral("cannot save the screen"));
    }
    if (command == QLatin1String("order") && (args.size() == 6 || args.size() == 7))
        return QueueOrder(args);
    if (command == QLatin1String("fault") && (args.size() == 4 || args.size() == 5))
        return SetFault(args);
    if (command == QLatin1String("summary") && args.size() == 6) {
        return vek::demo::WriteSummary({ args[1], args[2], args[3], args[4], args[5] }) ? 0 : 1;
    }
    return Usage();
}
