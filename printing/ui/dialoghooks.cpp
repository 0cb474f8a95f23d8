#include "dialoghooks.h"

#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace vek::printing::ui {

DialogHooks &TestHooks()
{
    static DialogHooks hooks;
    return hooks;
}

std::optional<QString> AskText(QWidget *parent, const QString &title, const QString &label)
{
    if (TestHooks().textInput)
        return TestHooks().textInput(title, label);
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, {}, &ok);
    return ok ? std::optional(text) : std::nullopt;
}

void ShowWarning(QWidget *parent, const QString &title, const QString &text)
{
    if (TestHooks().warning) {
        TestHooks().warning(title, text);
        return;
    }
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

int RunModal(QDialog &dialog)
{
    if (TestHooks().aboutToRun)
        TestHooks().aboutToRun(&dialog);
    return dialog.exec();
}

}  // namespace vek::printing::ui
