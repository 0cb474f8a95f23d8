#pragma once
// Message boxes and balloons of the tray. Boxes have no parent window. A
// test installs a hook that sees each notice instead of a real box and
// gives the answer to a question.

#include <QString>
#include <QSystemTrayIcon>

#include <functional>

namespace vek::agent {

struct Notice {
    enum Kind { Warning, Critical, Question, Balloon, Information, InformationBalloon };
    Kind kind = Warning;
    QString title;
    QString text;
    int timeoutMs = 0;  // balloons only
};

// The hook's result answers a question (true for Yes); otherwise ignored.
// An empty hook restores the real boxes.
using NoticeHook = std::function<bool(const Notice &notice)>;
void SetNoticeHookForTesting(NoticeHook hook);

void ShowWarningBox(const QString &title, const QString &text);
void ShowCriticalBox(const QString &title, const QString &text);
// Yes and No, neither the default; true for Yes.
bool AskYesNo(const QString &title, const QString &text);
void ShowInformationBox(const QString &title, const QString &text);
// A warning balloon for 10000 ms.
void ShowWarningBalloon(QSystemTrayIcon &icon, const QString &title, const QString &text);
// An information balloon for 10000 ms.
void ShowInformationBalloon(QSystemTrayIcon &icon, const QString &title, const QString &text);

}  // namespace vek::agent
