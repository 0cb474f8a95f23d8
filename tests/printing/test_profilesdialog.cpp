// The print profiles dialog driven offscreen against the private CUPS queues:
// the name and message boxes are answered through the dialog hooks, and the
// driver options sheet is driven through its widgets.

#include "printing/profilestore.h"
#include "printing/ui/dialoghooks.h"
#include "printing/ui/printprofilesdialog.h"
#include "vek/product.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDebug>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <deque>
#include <functional>
#include <optional>

using vek::printing::ui::TestHooks;

namespace {

const QString kLabelQueue = QStringLiteral("VekLabel");
const QString kDocumentQueue = QStringLiteral("VekDocument");
const QString kSizeRefused = QStringLiteral("Printer: Select a supported physical paper size.");

using Snapshot = QMap<QString, QVariant>;

// Everything in the settings store, to show that nothing was written.
Snapshot StoreSnapshot()
{
    QSettings settings;
    Snapshot snapshot;
    for (const QString &key : settings.allKeys())
        snapshot.insert(key, settings.value(key));
    return snapshot;
}

template <typename T> T *Child(QWidget *parent, const char *name)
{
    T *child = parent->findChild<T *>(QString::fromLatin1(name));
    if (!child)
        qWarning("no child %s", name);
    return child;
}

// Chooses the item whose data or text contains part; false when none does.
bool Choose(QComboBox *combo, const QString &part)
{
    for (int i = 0; combo && i < combo->count(); ++i) {
        if (combo->itemData(i).toString().contains(part, Qt::CaseInsensitive)
            || combo->itemText(i).contains(part, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    for (int i = 0; combo && i < combo->count(); ++i)
        qWarning() << "offered" << combo->itemData(i).toString() << combo->itemText(i);
    return false;
}

void ClickDialogButton(QDialog *dialog, QDialogButtonBox::StandardButton which)
{
    if (auto *box = dialog->findChild<QDialogButtonBox *>())
        if (QPushButton *button = box->button(which))
            button->click();
}

// One run of the dialog with scripted answers. The scenario runs inside the
// dialog's event loop; each time the options sheet opens, the next sheet
// action runs inside the sheet's loop.
struct Session {
    std::deque<std::optional<QString>> names;  // answers to the name box; nullopt = Cancel
    std::deque<std::function<void(QDialog *)>> sheetActions;
    QStringList warnings;  // "title: text"
    int namesAsked = 0;
    int sheetsOpened = 0;

    void run(const std::function<void(QDialog *)> &scenario)
    {
        TestHooks().textInput = [this](const QString &, const QString &) {
            ++namesAsked;
            std::optional<QString> answer;
            if (!names.empty()) {
                answer = names.front();
                names.pop_front();
            }
            return answer;
        };
        TestHooks().warning = [this](const QString &title, const QString &text) {
            warnings << title + ": " + text;
        };
        TestHooks().aboutToRun = [this, scenario](QDialog *dialog) {
            if (dialog->objectName() == "driverOptionsSheet") {
                ++sheetsOpened;
                std::function<void(QDialog *)> action
                    = [](QDialog *d) { ClickDialogButton(d, QDialogButtonBox::Cancel); };
                if (!sheetActions.empty()) {
                    action = sheetActions.front();
                    sheetActions.pop_front();
                }
                QTimer::singleShot(0, dialog, [dialog, action] {
                    action(dialog);
                    if (dialog->isVisible())  // an action that failed halfway
                        dialog->reject();
                });
            } else {
                QTimer::singleShot(0, dialog, [dialog, scenario] {
                    scenario(dialog);
                    dialog->reject();
                });
            }
        };
        const auto clear = qScopeGuard([] { TestHooks() = {}; });
        vek::printing::ShowPrintProfilesDialog();
    }
};

// A sheet action that picks the choices (option keyword, part of the value
// or label) and presses OK.
std::function<void(QDialog *)> Accept(QList<QPair<const char *, QString>> choices = {})
{
    return [choices](QDialog *sheet) {
        for (const auto &[keyword, part] : choices)
            QVERIFY2(Choose(Child<QComboBox>(sheet, keyword), part), keyword);
        ClickDialogButton(sheet, QDialogButtonBox::Ok);
    };
}

void SelectPrinter(QDialog *dialog, const QString &queue)
{
    auto *printers = Child<QComboBox>(dialog, "printerCombo");
    printers->setCurrentIndex(printers->findText(queue));
}

void Click(QDialog *dialog, const char *button)
{
    Child<QPushButton>(dialog, button)->click();
}

QStringList Profiles(const QString &queue)
{
    return vek::printing::ProfileIds(queue);
}

QString Sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace

class TestProfilesDialog : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QCoreApplication::setOrganizationName(vek::product::kOrgName);
        QCoreApplication::setApplicationName(vek::product::kAppName);
        QVERIFY(QSettings().fileName().startsWith(m_config.path()));
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.sync();
    }

    void choosingAPrinterReloadsItsStateWithoutStoring()
    {
        vek::printing::SetQueueEnabled(kLabelQueue, true);
        const QString stored = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QVERIFY(
            vek::printing::WriteProfile(kDocumentQueue, stored, "Stored A4", "settings", 210, 297));
        const Snapshot before = StoreSnapshot();

        Session session;
        session.run([&](QDialog *dialog) {
            auto *enabled = Child<QCheckBox>(dialog, "enabledCheck");
            auto *profiles = Child<QComboBox>(dialog, "profileCombo");
            QCOMPARE(dialog->windowTitle(), "Printers and print profiles / الطابعات وإعداداتها");
            QVERIFY(dialog->minimumWidth() >= 520);
            QVERIFY(Child<QComboBox>(dialog, "printerCombo")->findText(kDocumentQueue) >= 0);

            SelectPrinter(dialog, kLabelQueue);
            QVERIFY(enabled->isChecked());
            QCOMPARE(profiles->count(), 0);

            SelectPrinter(dialog, kDocumentQueue);
            QVERIFY(!enabled->isChecked());
            QCOMPARE(profiles->count(), 1);
            QCOMPARE(profiles->itemText(0), "Stored A4");
            QCOMPARE(profiles->itemData(0).toString(), stored);

            SelectPrinter(dialog, kLabelQueue);
            QVERIFY(enabled->isChecked());
        });
        QCOMPARE(StoreSnapshot(), before);
    }

    void theCheckBoxAllowsPrinting()
    {
        Session session;
        session.run([&](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            auto *enabled = Child<QCheckBox>(dialog, "enabledCheck");
            enabled->click();
            QVERIFY(vek::printing::IsQueueEnabled(kDocumentQueue));
            enabled->click();
            QVERIFY(!vek::printing::IsQueueEnabled(kDocumentQueue));
            enabled->click();
        });
        QVERIFY(vek::printing::IsQueueEnabled(kDocumentQueue));
        QVERIFY(!vek::printing::IsQueueEnabled(kLabelQueue));
    }

    void profileNames_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("stored");  // empty: nothing may be stored

        QTest::newRow("100 characters") << std::optional(QString(100, 'n')) << QString(100, 'n');
        QTest::newRow("trimmed") << std::optional<QString>("  Label 50x25\t") << "Label 50x25";
        QTest::newRow("101 characters") << std::optional(QString(101, 'n')) << QString();
        QTest::newRow("101 before trimming")
            << std::optional(" " + QString(100, 'n') + " ") << QString(100, 'n');
        QTest::newRow("blanks only") << std::optional<QString>(" \t ") << QString();
        QTest::newRow("empty") << std::optional<QString>("") << QString();
        QTest::newRow("cancelled") << std::optional<QString>() << QString();
    }

    void profileNames()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, stored);
        const Snapshot before = StoreSnapshot();

        Session session;
        session.names = { answer };
        session.sheetActions = { Accept() };
        session.run([](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
        });

        QCOMPARE(session.namesAsked, 1);
        QVERIFY(session.warnings.isEmpty());
        const QStringList ids = Profiles(kDocumentQueue);
        if (stored.isEmpty()) {
            QCOMPARE(session.sheetsOpened, 0);
            QCOMPARE(StoreSnapshot(), before);
            return;
        }
        QCOMPARE(ids.size(), 1);
        QVERIFY(vek::printing::IsStoredIdForm(ids[0]));
        QCOMPARE(vek::printing::ReadProfile(kDocumentQueue, ids[0]).name, stored);
    }

    void aLabelSizeIsStoredWithItsSettings()
    {
        Session session;
        session.names = { "Label 50x25" };
        session.sheetActions = { Accept({ { "media", "_50x25mm" } }) };
        QString listed;
        session.run([&](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
            listed = Child<QComboBox>(dialog, "profileCombo")->currentText();
        });

        QVERIFY(session.warnings.isEmpty());
        const QStringList ids = Profiles(kDocumentQueue);
        QCOMPARE(ids.size(), 1);
        const auto profile = vek::printing::ReadProfile(kDocumentQueue, ids[0]);
        QCOMPARE(profile.name, "Label 50x25");
        QCOMPARE(listed, "Label 50x25");
        QVERIFY(!profile.devmode.isEmpty());
        QCOMPARE(profile.version, Sha256(profile.devmode));
        QVERIFY2(qAbs(profile.widthMm - 50) < 0.5, qPrintable(QString::number(profile.widthMm)));
        QVERIFY2(qAbs(profile.heightMm - 25) < 0.5, qPrintable(QString::number(profile.heightMm)));
    }

    void paperOutsideTheRangeIsRefused_data()
    {
        QTest::addColumn<QString>("size");
        // Sizes the queue offers just outside what a profile may use.
        QTest::newRow("9 mm wide") << "_9x50mm";
        QTest::newRow("1600 mm long") << "x1600mm";
    }

    void paperOutsideTheRangeIsRefused()
    {
        QFETCH(QString, size);
        const Snapshot before = StoreSnapshot();
        Session session;
        session.names = { "Too odd" };
        session.sheetActions = { Accept({ { "media", size } }) };
        session.run([](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
        });
        QCOMPARE(session.sheetsOpened, 1);
        QCOMPARE(session.warnings, QStringList { kSizeRefused });
        QCOMPARE(StoreSnapshot(), before);
    }

    void editingAProfileKeepsOrRenewsItsVersion()
    {
        QString darkness;  // the value the sheet showed when it opened for the edit
        Session session;
        session.names = { "Labels" };
        session.sheetActions = {
            Accept({ { "media", "_50x25mm" } }),
            [&](QDialog *sheet) {  // unchanged
                darkness = Child<QComboBox>(sheet, "Darkness")->currentData().toString();
                ClickDialogButton(sheet, QDialogButtonBox::Ok);
            },
        };
        QString id, firstVersion;
        session.run([&](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
            id = Child<QComboBox>(dialog, "profileCombo")->currentData().toString();
            firstVersion = vek::printing::ReadProfile(kDocumentQueue, id).version;
            Click(dialog, "driverSettingsButton");
        });
        QCOMPARE(session.namesAsked, 1);
        QCOMPARE(Profiles(kDocumentQueue), QStringList { id });
        const auto unchanged = vek::printing::ReadProfile(kDocumentQueue, id);
        QCOMPARE(unchanged.version, firstVersion);
        QCOMPARE(unchanged.name, "Labels");

        // Another darkness: same profile, new settings and version; the sheet
        // starts from the saved media, not the queue's default.
        QString mediaShown;
        Session edit;
        edit.sheetActions = { [&](QDialog *sheet) {
            auto *media = Child<QComboBox>(sheet, "media");
            mediaShown = media->currentData().toString() + media->currentText();
            auto *dark = Child<QComboBox>(sheet, "Darkness");
            dark->setCurrentIndex((dark->currentIndex() + 1) % dark->count());
            QVERIFY(dark->currentData().toString() != darkness);
            ClickDialogButton(sheet, QDialogButtonBox::Ok);
        } };
        edit.run([&](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "driverSettingsButton");
        });
        QCOMPARE(edit.namesAsked, 0);
        QVERIFY2(mediaShown.contains("_50x25mm"), qPrintable(mediaShown));
        QCOMPARE(Profiles(kDocumentQueue), QStringList { id });
        const auto changed = vek::printing::ReadProfile(kDocumentQueue, id);
        QCOMPARE(changed.name, "Labels");
        QVERIFY(changed.version != firstVersion);
        QCOMPARE(changed.version, Sha256(changed.devmode));
    }

    void conflictingChoicesKeepTheSheetOpen()
    {
        QString shown;
        bool openAfterConflict = false;
        Session session;
        session.names = { "Two-sided label" };
        session.sheetActions = { [&](QDialog *sheet) {
            auto *sides = Child<QComboBox>(sheet, "sides");
            QVERIFY(Choose(Child<QComboBox>(sheet, "media"), "_50x25mm"));
            QVERIFY(Choose(sides, "Long"));
            ClickDialogButton(sheet, QDialogButtonBox::Ok);
            auto *conflict = Child<QLabel>(sheet, "conflictMessage");
            shown = conflict->isVisible() ? conflict->text() : QString();
            openAfterConflict = sheet->isVisible();
            // One-sided again: the same sheet now saves.
            QVERIFY(Choose(sides, "one-sided"));
            ClickDialogButton(sheet, QDialogButtonBox::Ok);
        } };
        session.run([](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
        });
        QVERIFY(openAfterConflict);
        QVERIFY2(shown.startsWith("These options cannot be used together: "), qPrintable(shown));
        QVERIFY(shown.contains("Two-Sided", Qt::CaseInsensitive) || shown.contains("Two-sided"));
        QVERIFY(session.warnings.isEmpty());
        const QStringList ids = Profiles(kDocumentQueue);
        QCOMPARE(ids.size(), 1);
        QCOMPARE(vek::printing::ReadProfile(kDocumentQueue, ids[0]).name, "Two-sided label");
    }

    void cancellingTheSheetStoresNothing()
    {
        const Snapshot before = StoreSnapshot();
        Session session;
        session.names = { "Never saved" };
        session.sheetActions
            = { [](QDialog *sheet) { ClickDialogButton(sheet, QDialogButtonBox::Cancel); } };
        session.run([](QDialog *dialog) {
            SelectPrinter(dialog, kDocumentQueue);
            Click(dialog, "newProfileButton");
        });
        QCOMPARE(session.sheetsOpened, 1);
        QVERIFY(session.warnings.isEmpty());
        QCOMPARE(StoreSnapshot(), before);
    }
};

QTEST_MAIN(TestProfilesDialog)
#include "test_profilesdialog.moc"
