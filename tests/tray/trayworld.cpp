#include "trayworld.h"

#include <QDir>

namespace vek::test {

QString NoticeText(const agent::Notice &notice)
{
    return QString("%1|%2|%3|%4")
        .arg(notice.kind)
        .arg(notice.title, notice.text)
        .arg(notice.timeoutMs);
}

agent::AgentConfig EnrolledConfig(const QString &nodeBaseUrl)
{
    agent::AgentConfig config;
    config.nodeBaseUrl = nodeBaseUrl;
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.token = "node-credential";
    return config;
}

bool TrayWorld::setUp(bool https)
{
    home = std::make_unique<QTemporaryDir>();
    if (!home->isValid() || !QDir(home->path()).mkpath("config"))
        return false;
    qputenv("XDG_DATA_HOME", home->filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home->filePath("config").toUtf8());
    server = std::make_unique<FakeClinicServer>();
    if (!server->start(https))
        return false;
    notices.clear();
    answerYes = false;
    agent::SetNoticeHookForTesting([this](const agent::Notice &notice) {
        notices.append(NoticeText(notice));
        return answerYes;
    });
    return true;
}

void TrayWorld::tearDown()
{
    agent::SetNoticeHookForTesting({});
    server.reset();
}

}  // namespace vek::test
