// CUPS drivers have no settings dialog of their own, so the agent shows a
// small options sheet made from the queue's capabilities: the common choices
// first, then the driver's own options (a label printer's darkness, say)
// apart under "Advanced". The sheet stays open while the choices conflict.

#include "drivereditor.h"

#include "dialoghooks.h"
#include "platform/linux/driveroptions.h"
#include "printing/systemtexts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace vek::printing::ui {
namespace {

namespace cups = platform::cups;

QString Tr(const char *text)
{
    return QCoreApplication::translate("vek::printing::DriverOptionsSheet", text);
}

QComboBox *OptionCombo(const cups::DriverOption &option, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::fromStdString(option.keyword));
    for (const cups::OptionChoice &choice : option.choices) {
        const QString value = QString::fromStdString(choice.value);
        combo->addItem(choice.label.empty() ? value : QString::fromStdString(choice.label), value);
    }
    combo->setCurrentIndex(std::max(0, combo->findData(QString::fromStdString(option.value))));
    return combo;
}

QString OptionLabel(const cups::DriverOption &option)
{
    return QString::fromStdString(option.label.empty() ? option.keyword : option.label);
}

}  // namespace

QByteArray EditDriverSettings(QWidget *owner, const QString &systemName, const QByteArray &seed)
{
    const std::string queue = systemName.toStdString();
    const std::vector<cups::DriverOption> options
        = cups::ListDriverOptions(queue, platform::Bytes(seed.cbegin(), seed.cend()));
    if (options.empty())
        return {};

    QDialog sheet(owner);
    sheet.setObjectName("driverOptionsSheet");
    sheet.setWindowTitle(Tr(systemtext::kDriverSettingsButton) + " - " + systemName);
    auto *layout = new QVBoxLayout(&sheet);
    auto *common = new QFormLayout;
    layout->addLayout(common);
    auto *advanced = new QGroupBox(Tr("Advanced"), &sheet);
    advanced->setObjectName("advancedOptions");
    auto *advancedForm = new QFormLayout(advanced);
    layout->addWidget(advanced);

    std::vector<QComboBox *> combos;
    for (const cups::DriverOption &option : options) {
        QComboBox *combo = OptionCombo(option, &sheet);
        (option.advanced ? advancedForm : common)->addRow(OptionLabel(option), combo);
        combos.push_back(combo);
    }
    advanced->setVisible(advancedForm->rowCount() > 0);

    auto *conflict = new QLabel(&sheet);
    conflict->setObjectName("conflictMessage");
    conflict->setWordWrap(true);
    conflict->hide();
    layout->addWidget(conflict);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &sheet);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);

    QByteArray result;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &sheet, [&] {
        cups::OptionValues values;
        for (const QComboBox *combo : combos)
            values.emplace_back(
                combo->objectName().toStdString(), combo->currentData().toString().toStdString());
        const std::string clash = cups::DriverSettingsConflict(queue, values);
        if (!clash.empty()) {
            conflict->setText(QString::fromStdString(clash));
            conflict->show();
            return;
        }
        const platform::Bytes settings = cups::MakeDriverSettings(queue, values);
        result = QByteArray(
            reinterpret_cast<const char *>(settings.data()), qsizetype(settings.size()));
        sheet.accept();
    });

    if (RunModal(sheet) != QDialog::Accepted)
        return {};
    return result;
}

}  // namespace vek::printing::ui
