#pragma once
// The dialog in which the user allows the agent to print on a printer and
// saves that printer's driver settings as named print profiles.

class QWidget;

namespace vek::printing {

// Builds the dialog, runs it modally and returns when it is closed.
void ShowPrintProfilesDialog(QWidget *parent = nullptr);

}  // namespace vek::printing
