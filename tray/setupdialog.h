#pragma once
// Where a user connects this workstation to a clinic: the server address,
// the workstation's name, the mode and the one-time secret or pairing code.
// It keeps nothing itself; the tray reads the fields once it is accepted.

#include "agent/agentconfig.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace vek::agent {

class SetupDialog : public QDialog {
    Q_OBJECT
public:
    // Filled from config; no parent window.
    explicit SetupDialog(const AgentConfig &config);

    bool managed() const;
    QString address() const;  // trimmed
    QString displayName() const;  // trimmed
    QString secret() const;  // exactly as typed

private:
    QCheckBox *managedBox;
    QLineEdit *addressEdit;
    QLineEdit *nameEdit;
    QLineEdit *secretEdit;
};

}  // namespace vek::agent
