#pragma once
// The boxes and modal dialogs of the printing UI, each with a seam for tests
// that drive the dialogs offscreen: a hook that is set answers in place of
// the person, and an unset hook shows the real box.

#include <QString>

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace vek::printing::ui {

struct DialogHooks {
    // Answers a one-line text input; nullopt stands for Cancel.
    std::function<std::optional<QString>(const QString &title, const QString &label)> textInput;
    // Receives a warning instead of a message box.
    std::function<void(const QString &title, const QString &text)> warning;
    // Sees every modal dialog just before it runs, for example to script its
    // widgets from a zero-time timer once its event loop has started.
    std::function<void(QDialog *dialog)> aboutToRun;
};

// The hooks in force; tests set and clear them (main thread only).
DialogHooks &TestHooks();

// A one-line text input starting empty; nullopt when cancelled.
std::optional<QString> AskText(QWidget *parent, const QString &title, const QString &label);

// A warning box with one OK button.
void ShowWarning(QWidget *parent, const QString &title, const QString &text);

// Runs the dialog modally and returns its result code.
int RunModal(QDialog &dialog);

}  // namespace vek::printing::ui
