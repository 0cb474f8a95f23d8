#include "setupdialog.h"

#include "vek/product.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace vek::agent {

SetupDialog::SetupDialog(const AgentConfig &config)
    : managedBox(new QCheckBox(tr("Managed cloud/local printing (pairing code) / ربط بالكود")))
    , addressEdit(new QLineEdit(config.nodeBaseUrl))
    , nameEdit(new QLineEdit(config.displayName))
    , secretEdit(new QLineEdit)
{
    setObjectName("setupDialog");
    setWindowTitle(tr("Set up this workstation"));
    setModal(true);

    managedBox->setObjectName("managed");
    managedBox->setChecked(config.managed || config.nodeBaseUrl.isEmpty());
    addressEdit->setObjectName("address");
    addressEdit->setPlaceholderText(QString::fromUtf8(product::kCloudAddress));
    nameEdit->setObjectName("displayName");
    secretEdit->setObjectName("secret");
    secretEdit->setEchoMode(QLineEdit::Password);
    secretEdit->setPlaceholderText(tr("From your organization's settings"));

    auto *note
        = new QLabel(tr("The enrolment secret is used once and is not stored on this computer."));
    note->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *form = new QFormLayout(this);
    form->addRow(managedBox);
    form->addRow(tr("Clinic server address"), addressEdit);
    form->addRow(tr("This workstation's name"), nameEdit);
    form->addRow(tr("Enrolment secret"), secretEdit);
    form->addRow(note);
    form->addRow(buttons);
}

bool SetupDialog::managed() const
{
    return managedBox->isChecked();
}

QString SetupDialog::address() const
{
    return addressEdit->text().trimmed();
}

QString SetupDialog::displayName() const
{
    return nameEdit->text().trimmed();
}

QString SetupDialog::secret() const
{
    return secretEdit->text();
}

}  // namespace vek::agent
