#include "printprofilesdialog.h"

#include "dialoghooks.h"
#include "drivereditor.h"
#include "platform/driversettings.h"
#include "platform/printers.h"
#include "printing/profilestore.h"
#include "printing/systemtexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUuid>

#include <algorithm>

namespace vek::printing {
namespace {

// The paper sizes a profile may give, in millimetres.
constexpr double kMinPaperMm = 10;
constexpr double kMaxPaperWidthMm = 500;
constexpr double kMaxPaperHeightMm = 1500;
constexpr int kMaxProfileName = 100;

QString Tr(const char *text)
{
    return QCoreApplication::translate("vek::printing::PrintProfilesDialog", text);
}

// Also false for NaN, so a driver's nonsense never passes.
bool InRange(double value, double low, double high)
{
    return value >= low && value <= high;
}

class PrintProfilesDialog : public QDialog {
public:
    explicit PrintProfilesDialog(QWidget *parent);

    void refreshProfileLists();

private:
    void saveProfile(bool newProfile);

    QComboBox *m_printers = new QComboBox(this);
    QCheckBox *m_enabled
        = new QCheckBox(Tr("Allow Vek to print on this printer / السماح بالطباعة"), this);
    QComboBox *m_profiles = new QComboBox(this);
};

PrintProfilesDialog::PrintProfilesDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName("printProfilesDialog");
    setWindowTitle(Tr(systemtext::kProfilesDialogTitle));
    setMinimumWidth(520);
    m_printers->setObjectName("printerCombo");
    m_enabled->setObjectName("enabledCheck");
    m_profiles->setObjectName("profileCombo");

    auto *intro = new QLabel(Tr("Save the printer driver's settings as a profile. These settings "
                                "apply to Vek jobs only.\nاحفظ إعدادات تعريف الطابعة للاستخدام مع "
                                "أوامر Vek."),
        this);
    intro->setWordWrap(true);
    auto *newProfile = new QPushButton(Tr("New profile / إعداد جديد"), this);
    newProfile->setObjectName("newProfileButton");
    auto *driverSettings = new QPushButton(Tr(systemtext::kDriverSettingsButton), this);
    driverSettings->setObjectName("driverSettingsButton");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto *form = new QFormLayout(this);
    form->addRow(intro);
    form->addRow(Tr("Printer / الطابعة"), m_printers);
    form->addRow(m_enabled);
    form->addRow(Tr("Profile / إعداد الطباعة"), m_profiles);
    form->addRow(newProfile);
    form->addRow(driverSettings);
    form->addRow(buttons);

    for (const platform::PrinterInfo &printer : platform::EnumeratePrinters())
        m_printers->addItem(QString::fromStdString(printer.name));

    connect(m_printers, &QComboBox::currentIndexChanged, this,
        &PrintProfilesDialog::refreshProfileLists);
    connect(m_enabled, &QCheckBox::toggled, this,
        [this](bool on) { SetQueueEnabled(m_printers->currentText(), on); });
    connect(newProfile, &QPushButton::clicked, this, [this] { saveProfile(true); });
    connect(driverSettings, &QPushButton::clicked, this, [this] { saveProfile(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void PrintProfilesDialog::refreshProfileLists()
{
    const QString printer = m_printers->currentText();
    {
        // Showing the stored state must not write it back.
        const QSignalBlocker blocker(m_enabled);
        m_enabled->setChecked(IsQueueEnabled(printer));
    }
    m_profiles->clear();
    for (const QString &id : ProfileIds(printer))
        m_profiles->addItem(ReadProfile(printer, id).name, id);
}

void PrintProfilesDialog::saveProfile(bool newProfile)
{
    const QString printer = m_printers->currentText();
    if (printer.isEmpty())
        return;
    QString id = m_profiles->currentData().toString();
    QString name = m_profiles->currentText();
    if (newProfile || id.isEmpty()) {
        const std::optional<QString> answer = ui::AskText(
            this, Tr("Print profile"), Tr("Name / الاسم (A4, Receipt 80 mm, Label 50x25)"));
        if (!answer)
            return;
        name = answer->trimmed();
        if (name.isEmpty() || name.size() > kMaxProfileName)
            return;
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

    const QByteArray seed = newProfile ? QByteArray() : ReadProfile(printer, id).devmode;
    const QByteArray settings = ui::EditDriverSettings(this, printer, seed);
    if (settings.isEmpty())
        return;

    const platform::PaperSize paper = platform::PhysicalPaperSize(
        printer.toStdString(), platform::Bytes(settings.cbegin(), settings.cend()));
    if (!paper.deviceOpened) {
        ui::ShowWarning(this, Tr("Printer"), Tr("The driver rejected these settings."));
        return;
    }
    if (!InRange(paper.widthMm, kMinPaperMm, kMaxPaperWidthMm)
        || !InRange(paper.heightMm, kMinPaperMm, kMaxPaperHeightMm)) {
        ui::ShowWarning(this, Tr("Printer"), Tr("Select a supported physical paper size."));
        return;
    }
    if (!WriteProfile(printer, id, name, settings, paper.widthMm, paper.heightMm)) {
        ui::ShowWarning(this, Tr("Printer"), Tr("The profile could not be saved."));
        return;
    }
    refreshProfileLists();
    // Keep the saved profile chosen, so that its settings can be edited at once.
    m_profiles->setCurrentIndex(std::max(0, m_profiles->findData(id)));
}

}  // namespace

void ShowPrintProfilesDialog(QWidget *parent)
{
    PrintProfilesDialog dialog(parent);
    dialog.refreshProfileLists();
    ui::RunModal(dialog);
}

}  // namespace vek::printing
