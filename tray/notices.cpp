#include "notices.h"

#include <QMessageBox>

namespace vek::agent {

namespace {
constexpr int kBalloonMs = 10000;

NoticeHook &Hook()
{
    static NoticeHook hook;
    return hook;
}

bool Hooked(const Notice &notice, bool *answer = nullptr)
{
    if (!Hook())
        return false;
    const bool result = Hook()(notice);
    if (answer)
        *answer = result;
    return true;
}
}  // namespace

void SetNoticeHookForTesting(NoticeHook hook)
{
    Hook() = std::move(hook);
}

void ShowWarningBox(const QString &title, const QString &text)
{
    if (!Hooked({ Notice::Warning, title, text }))
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

void ShowCriticalBox(const QString &title, const QString &text)
{
    if (!Hooked({ Notice::Critical, title, text }))
        QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
}

void ShowInformationBox(const QString &title, const QString &text)
{
    if (!Hooked({ Notice::Information, title, text }))
        QMessageBox::information(nullptr, title, text, QMessageBox::Ok);
}

bool AskYesNo(const QString &title, const QString &text)
{
    bool answer = false;
    if (Hooked({ Notice::Question, title, text }, &answer))
        return answer;
    return QMessageBox::question(
               nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

void ShowWarningBalloon(QSystemTrayIcon &icon, const QString &title, const QString &text)
{
    if (!Hooked({ Notice::Balloon, title, text, kBalloonMs }))
        icon.showMessage(title, text, QSystemTrayIcon::Warning, kBalloonMs);
}

void ShowInformationBalloon(QSystemTrayIcon &icon, const QString &title, const QString &text)
{
    if (!Hooked({ Notice::InformationBalloon, title, text, kBalloonMs }))
        icon.showMessage(title, text, QSystemTrayIcon::Information, kBalloonMs);
}

}  // namespace vek::agent
