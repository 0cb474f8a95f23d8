// The tray offscreen: its menu, the icon and tooltip of every state, the
// lines and balloons, the setup dialog driven through its widgets with the
// real worker enrolling against a fake clinic server, sign-out, and the
// start-at-sign-in switch.

#include "agent/clinicapi.h"
#include "agent/configfile.h"
#include "agent/identity.h"
#include "app/applicationidentity.h"
#include "printing/systemtexts.h"
#include "printing/ui/dialoghooks.h"
#include "tests/harness/fakeclinicserver.h"
#include "tray/agenttray.h"
#include "tray/notices.h"
#include "tray/setupdialog.h"
#include "trayworld.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using vek::agent::AgentConfig;
using vek::agent::AgentState;
using vek::agent::AgentTray;
using vek::agent::Notice;
using vek::agent::SetupDialog;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

Q_DECLARE_METATYPE(Notice::Kind)

namespace {

QString AutostartFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/VekPrintAgent.desktop";
}

}  // namespace

class AgentTrayTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void menuInOrder();
    void menuActionsByText();
    void stateLooks_data();
    void stateLooks();
    void jobAndPrinterLines();
    void serverLinesReplacedOnlyWhenTheirTextsChange();
    void firstRunSetupEnrols();
    void refusedEnrolmentReopensSetupWithTheValuesEntered();
    void oneSetupDialogAtATime();
    void cancelledSetupChangesNothing();
    void signOut_data();
    void signOut();
    void startAtSignInSwitchAndItsFailure();

private:
    AgentTray &makeTray(const AgentConfig *stored = nullptr);
    QSystemTrayIcon *icon() const { return tray->findChild<QSystemTrayIcon *>(); }
    QMenu *menu() const { return icon()->contextMenu(); }
    QStringList menuTexts() const;
    QAction *action(const QString &text) const;
    void invoke(const char *member, QGenericArgument a = {}, QGenericArgument b = {},
        QGenericArgument c = {});
    AgentConfig enrolledConfig() const;

    vek::test::TrayWorld world;
    std::unique_ptr<AgentTray> tray;
};

void AgentTrayTest::initTestCase()
{
    vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
    vek::agent::RegisterAgentMetaTypes();
}

void AgentTrayTest::init()
{
    QVERIFY(world.setUp());
    world.server->setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    world.server->setReply(clinic::kClaimPath, ScriptedReply::Json(200, {}));
}

void AgentTrayTest::cleanup()
{
    tray.reset();
    world.tearDown();
}

AgentTray &AgentTrayTest::makeTray(const AgentConfig *stored)
{
    if (stored)
        vek::agent::SaveAgentConfig(*stored);
    tray = std::make_unique<AgentTray>();
    return *tray;
}

QStringList AgentTrayTest::menuTexts() const
{
    QStringList texts;
    for (const QAction *entry : menu()->actions())
        texts.append(entry->isSeparator() ? "--" : entry->text());
    return texts;
}

QAction *AgentTrayTest::action(const QString &text) const
{
    for (QAction *entry : menu()->actions()) {
        if (entry->text() == text)
            return entry;
    }
    return nullptr;
}

void AgentTrayTest::invoke(
    const char *member, QGenericArgument a, QGenericArgument b, QGenericArgument c)
{
    QVERIFY(QMetaObject::invokeMethod(tray.get(), member, Qt::DirectConnection, a, b, c));
}

AgentConfig AgentTrayTest::enrolledConfig() const
{
    return vek::test::EnrolledConfig(world.server->baseUrl());
}

void AgentTrayTest::menuInOrder()
{
    makeTray();
    QCOMPARE(menuTexts(),
        (QStringList { "Starting…", "No printers reported yet", "No jobs yet", "--",
            "Check for jobs now", "Set up this workstation…",
            vek::printing::systemtext::kPrintersMenuEntry, "Start when I sign in",
            "Sign this workstation out", "--", "Quit" }));
    for (const char *line : { "Starting…", "No printers reported yet", "No jobs yet" })
        QVERIFY(!action(line)->isEnabled());
    QVERIFY(action("Start when I sign in")->isCheckable());
    QVERIFY(!action("Sign this workstation out")->isEnabled());  // no credential yet
    QCOMPARE(icon()->toolTip(), QString("Vek Print Agent"));
    QVERIFY(icon()->isVisible());
    QCOMPARE(icon()->icon().pixmap(64).toImage().pixel(32, 32), QColor(100, 116, 139).rgba());
}

void AgentTrayTest::menuActionsByText()
{
    const AgentConfig config = enrolledConfig();
    makeTray(&config).startUp();
    QTRY_COMPARE(action("Printing is ready") != nullptr, true);
    QSignalSpy polls(tray.get(), &AgentTray::requestPollNow);
    QSignalSpy quits(tray.get(), &AgentTray::quitRequested);
    const int claims = world.server->requestsTo(clinic::kClaimPath).size();
    action("Check for jobs now")->trigger();
    QCOMPARE(polls.size(), 1);
    QTRY_VERIFY(world.server->requestsTo(clinic::kClaimPath).size() > claims);  // the worker polled

    QVERIFY(!tray->setupDialog());
    action("Set up this workstation…")->trigger();
    QVERIFY(tray->setupDialog() && tray->setupDialog()->isVisible());
    tray->setupDialog()->reject();
    QVERIFY(!tray->setupDialog());

    // The profiles dialog runs modally; the hook closes it once it runs.
    QStringList ran;
    vek::printing::ui::TestHooks().aboutToRun = [&ran](QDialog *dialog) {
        ran.append(dialog->windowTitle());
        QTimer::singleShot(0, dialog, &QDialog::reject);
    };
    action(vek::printing::systemtext::kPrintersMenuEntry)->trigger();
    vek::printing::ui::TestHooks() = {};
    QCOMPARE(ran, QStringList { vek::printing::systemtext::kProfilesDialogTitle });

    QCOMPARE(quits.size(), 0);
    action("Quit")->trigger();
    QCOMPARE(quits.size(), 1);
}

void AgentTrayTest::stateLooks_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("balloon");
    QTest::newRow("not configured") << 0 << QColor(217, 119, 6) << "Not set up yet" << false;
    QTest::newRow("not enrolled") << 1 << QColor(217, 119, 6) << "Not set up yet" << false;
    QTest::newRow("connecting") << 2 << QColor(100, 116, 139) << "Connecting…" << false;
    QTest::newRow("ready") << 3 << QColor(22, 163, 74) << "Printing is ready" << false;
    QTest::newRow("printing") << 4 << QColor(37, 99, 235) << "Printing…" << false;
    QTest::newRow("signed out") << 5 << QColor(220, 38, 38) << "This workstation was signed out"
                                << true;
    QTest::newRow("unreachable") << 6 << QColor(220, 38, 38) << "Cannot reach the clinic" << false;
    QTest::newRow("outside the range") << 42 << QColor(100, 116, 139) << "Unknown" << false;
}

void AgentTrayTest::stateLooks()
{
    QFETCH(int, state);
    QFETCH(QColor, colour);
    QFETCH(QString, text);
    QFETCH(bool, balloon);
    makeTray();
    invoke("onStateChanged", Q_ARG(vek::agent::AgentState, AgentState(state)),
        Q_ARG(QString, "The detail."));
    const QImage image = icon()->icon().pixmap(64).toImage();
    QCOMPARE(image.size(), QSize(64, 64));
    QCOMPARE(image.pixel(32, 32), colour.rgba());  // the fill
    QCOMPARE(image.pixel(32, 9), colour.darker(140).rgba());  // the rim
    QCOMPARE(image.pixelColor(2, 2).alpha(), 0);  // outside the circle
    QCOMPARE(icon()->toolTip(), text + "\nThe detail.");
    QCOMPARE(menuTexts().first(), text);

    invoke("onStateChanged", Q_ARG(vek::agent::AgentState, AgentState(state)), Q_ARG(QString, ""));
    QCOMPARE(icon()->toolTip(), text);  // no detail: the text alone
    const QStringList expected = balloon
        ? QStringList { "3|Vek Print Agent|The detail.|10000", "3|Vek Print Agent||10000" }
        : QStringList();
    QCOMPARE(world.notices, expected);
}

void AgentTrayTest::jobAndPrinterLines()
{
    makeTray();
    invoke("onJobFinished", Q_ARG(QString, "order-1"), Q_ARG(bool, true),
        Q_ARG(QString, "front-desk-labels"));
    QCOMPARE(menuTexts().at(2), QString("Last job: sent to CUPS on front-desk-labels"));
    QVERIFY(world.notices.isEmpty());
    invoke("onJobFinished", Q_ARG(QString, "order-2"), Q_ARG(bool, false),
        Q_ARG(QString, "The printer is out of paper."));
    QCOMPARE(menuTexts().at(2), QString("Last job failed: The printer is out of paper."));
    QCOMPARE(
        world.notices, QStringList { "3|A print job failed|The printer is out of paper.|10000" });

    const QList<QPair<int, QString>> counts { { 0, "0 printers reported to the clinic" },
        { 1, "1 printer reported to the clinic" }, { 2, "2 printers reported to the clinic" } };
    for (const auto &[count, line] : counts) {
        invoke("onPrintersReported", Q_ARG(int, count));
        QCOMPARE(menuTexts().at(1), line);
    }
}

void AgentTrayTest::serverLinesReplacedOnlyWhenTheirTextsChange()
{
    makeTray();
    const QStringList lines { "Clinic A: reachable", "Clinic B: cannot be reached" };
    invoke("showServerLines", Q_ARG(QStringList, lines));
    QCOMPARE(menuTexts().mid(1, 3), (lines + QStringList { "No printers reported yet" }));
    const QPointer<QAction> first = action(lines[0]);
    QVERIFY(first && !first->isEnabled());

    invoke("showServerLines", Q_ARG(QStringList, lines));  // the same report
    QCOMPARE(action(lines[0]), first.data());

    const QStringList changed { "Clinic A: reachable", "Clinic B: reachable" };
    invoke("showServerLines", Q_ARG(QStringList, changed));
    QVERIFY(!first);  // replaced, not kept
    QCOMPARE(menuTexts().mid(1, 3), (changed + QStringList { "No printers reported yet" }));

    invoke("showServerLines", Q_ARG(QStringList, QStringList()));
    QCOMPARE(menuTexts().at(1), QString("No printers reported yet"));
    QCOMPARE(menuTexts().size(), 11);
}

void AgentTrayTest::firstRunSetupEnrols()
{
    world.server->setReply(clinic::kEnrolPath, ScriptedReply::Json(200, { { "token", "tok-1" } }));
    makeTray().startUp();
    SetupDialog *dialog = tray->setupDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Set up this workstation"));
    QCOMPARE(menuTexts().first(), QString("Not set up yet"));
    QCOMPARE(icon()->toolTip(), QString("Not set up yet\nThis workstation has not been set up."));

    auto *managed = dialog->findChild<QCheckBox *>("managed");
    auto *address = dialog->findChild<QLineEdit *>("address");
    auto *name = dialog->findChild<QLineEdit *>("displayName");
    auto *secret = dialog->findChild<QLineEdit *>("secret");
    QVERIFY(managed->isChecked());
    QVERIFY(address->text().isEmpty());
    QCOMPARE(address->placeholderText(), QString("https://vekcloud.example"));
    QCOMPARE(secret->placeholderText(), QString("From your organization's settings"));
    QCOMPARE(secret->echoMode(), QLineEdit::Password);

    QSignalSpy stops(tray.get(), &AgentTray::requestStop);
    managed->setChecked(false);
    address->setText("  " + world.server->baseUrl() + " ");
    name->setText("   ");
    secret->setText(" s3cret ");
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(stops.size(), 1);
    QVERIFY(!tray->setupDialog());

    QTRY_COMPARE(menuTexts().first(), QString("Printing is ready"));
    const auto enrol = world.server->requestsTo(clinic::kEnrolPath);
    QCOMPARE(enrol.size(), 1);
    QCOMPARE(enrol[0].json.value("enrolmentSecret").toString(), QString(" s3cret "));
    QCOMPARE(enrol[0].json.value("displayName").toString(), vek::agent::DefaultDisplayName());

    const auto stored = vek::agent::LoadAgentConfig();
    QVERIFY(stored);
    QCOMPARE(stored->nodeBaseUrl, world.server->baseUrl());
    QCOMPARE(stored->token, QString("tok-1"));
    QCOMPARE(stored->managed, false);
    QVERIFY(QFile::exists(AutostartFile()));
    QVERIFY(action("Start when I sign in")->isChecked());
    QVERIFY(action("Sign this workstation out")->isEnabled());
    QVERIFY(world.notices.isEmpty());
}

void AgentTrayTest::refusedEnrolmentReopensSetupWithTheValuesEntered()
{
    world.server->setReply(clinic::kEnrolPath,
        ScriptedReply::Json(401, { { "error", "That secret has been used." } }));
    makeTray().startUp();
    SetupDialog *dialog = tray->setupDialog();
    dialog->findChild<QCheckBox *>("managed")->setChecked(false);
    dialog->findChild<QLineEdit *>("address")->setText(world.server->baseUrl());
    dialog->findChild<QLineEdit *>("displayName")->setText("Front desk");
    dialog->accept();
    QCOMPARE(icon()->toolTip(), QString("Connecting…\nEnrolling…"));

    QTRY_VERIFY(tray->setupDialog());
    QCOMPARE(
        world.notices, QStringList { "0|Set up this workstation|That secret has been used.|0" });
    dialog = tray->setupDialog();
    QCOMPARE(dialog->findChild<QLineEdit *>("address")->text(), world.server->baseUrl());
    QCOMPARE(dialog->findChild<QLineEdit *>("displayName")->text(), QString("Front desk"));
    QVERIFY(!dialog->findChild<QCheckBox *>("managed")->isChecked());
    QVERIFY(dialog->findChild<QLineEdit *>("secret")->text().isEmpty());
    QVERIFY(!QFile::exists(AutostartFile()));
    const auto stored = vek::agent::LoadAgentConfig();
    QVERIFY(stored && stored->token.isEmpty());
}

void AgentTrayTest::oneSetupDialogAtATime()
{
    // A failed enrolment that returns while the user has already reopened
    // the dialog raises that dialog; nothing is sent twice.
    world.server->setReply(clinic::kEnrolPath,
        ScriptedReply::Json(403, { { "error", "Refused." } })
            .after(std::chrono::milliseconds(200)));
    makeTray().startUp();
    tray->setupDialog()->findChild<QCheckBox *>("managed")->setChecked(false);
    tray->setupDialog()->findChild<QLineEdit *>("address")->setText(world.server->baseUrl());
    tray->setupDialog()->accept();
    action("Set up this workstation…")->trigger();
    SetupDialog *open = tray->setupDialog();
    QVERIFY(open);
    action("Set up this workstation…")->trigger();
    QMetaObject::invokeMethod(tray.get(), "openSetup");  // as the command channel does
    QTRY_COMPARE(world.notices.size(), 1);
    QCOMPARE(tray->setupDialog(), open);
    int dialogs = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        dialogs += qobject_cast<SetupDialog *>(widget) && widget->isVisible();
    QCOMPARE(dialogs, 1);
    QCOMPARE(world.server->requestsTo(clinic::kEnrolPath).size(), 1);
}

void AgentTrayTest::cancelledSetupChangesNothing()
{
    const AgentConfig config = enrolledConfig();
    makeTray(&config).startUp();
    QTRY_COMPARE(menuTexts().first(), QString("Printing is ready"));
    const QByteArray before = [] {
        QFile file(vek::agent::AgentConfigPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QSignalSpy stops(tray.get(), &AgentTray::requestStop);
    const QString toolTip = icon()->toolTip();
    action("Set up this workstation…")->trigger();
    SetupDialog *dialog = tray->setupDialog();
    QVERIFY(!dialog->findChild<QCheckBox *>("managed")->isChecked());  // address, not managed
    QCOMPARE(dialog->findChild<QLineEdit *>("address")->text(), config.nodeBaseUrl);
    dialog->findChild<QLineEdit *>("address")->setText("http://elsewhere:8080");
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(stops.size(), 0);
    QCOMPARE(icon()->toolTip(), toolTip);
    QFile file(vek::agent::AgentConfigPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

void AgentTrayTest::signOut_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("refused") << false;
    QTest::newRow("confirmed") << true;
}

void AgentTrayTest::signOut()
{
    QFETCH(bool, yes);
    const AgentConfig config = enrolledConfig();
    makeTray(&config).startUp();
    QTRY_COMPARE(menuTexts().first(), QString("Printing is ready"));
    action("Start when I sign in")->setChecked(true);
    QVERIFY(QFile::exists(AutostartFile()));
    QSignalSpy stops(tray.get(), &AgentTray::requestStop);

    world.answerYes = yes;
    action("Sign this workstation out")->trigger();
    QCOMPARE(world.notices,
        QStringList { "2|Sign this workstation out|This workstation will stop printing until it "
                      "is set up again. Continue?|0" });
    const auto stored = vek::agent::LoadAgentConfig();
    QVERIFY(stored);
    QCOMPARE(stops.size(), yes ? 1 : 0);
    QCOMPARE(stored->token, yes ? QString() : config.token);
    QCOMPARE(stored->nodeBaseUrl, config.nodeBaseUrl);
    QCOMPARE(QFile::exists(AutostartFile()), !yes);
    QCOMPARE(action("Start when I sign in")->isChecked(), !yes);
    QCOMPARE(menuTexts().first(), yes ? QString("Not set up yet") : QString("Printing is ready"));
    if (yes) {
        QCOMPARE(
            icon()->toolTip(), QString("Not set up yet\nThis workstation has been signed out."));
        QVERIFY(!action("Sign this workstation out")->isEnabled());
    }
}

void AgentTrayTest::startAtSignInSwitchAndItsFailure()
{
    makeTray();
    QAction *toggle = action("Start when I sign in");
    QVERIFY(!toggle->isChecked());
    toggle->setChecked(true);
    QVERIFY(QFile::exists(AutostartFile()));
    toggle->setChecked(false);
    QVERIFY(!QFile::exists(AutostartFile()));
    QVERIFY(world.notices.isEmpty());

    // A file where the autostart folder belongs: the entry cannot be written.
    QVERIFY(QDir(world.home->filePath("config/autostart")).removeRecursively());
    QFile blocker(world.home->filePath("config/autostart"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSignalSpy toggles(toggle, &QAction::toggled);
    toggle->setChecked(true);
    QCOMPARE(world.notices,
        QStringList { "0|Vek Print Agent|The autostart entry could not be saved, so the agent may "
                      "not start automatically.|0" });
    QVERIFY(!toggle->isChecked());  // matches the system again
    QCOMPARE(toggles.size(), 1);  // the correction sent no second toggle
}

QTEST_MAIN(AgentTrayTest)
#include "test_agenttray.moc"
