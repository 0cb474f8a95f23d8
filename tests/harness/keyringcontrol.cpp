#include "keyringcontrol.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDirIterator>
#include <QFile>

#include <csignal>

namespace {

const QString kService = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kLogin = QStringLiteral("/org/freedesktop/secrets/collection/login");

// A secret as the Secret Service carries it: (session, parameters, value, content type).
struct Secret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Secret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Secret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

QDBusMessage Call(const QString &interface, const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kServicePath, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
}

bool Signal(int signal)
{
    const qint64 pid = qEnvironmentVariableIntValue("VEK_TEST_KEYRING_PID");
    return pid > 0 && ::kill(pid_t(pid), signal) == 0;
}

}  // namespace

Q_DECLARE_METATYPE(Secret)

namespace vek::test {

bool LockKeyring()
{
    const QDBusMessage reply
        = Call(QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"),
            { QVariant::fromValue(QList<QDBusObjectPath> { QDBusObjectPath(kLogin) }) });
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool UnlockKeyring()
{
    // The daemon's own interface for unlocking with a password, which the
    // desktop's sign-in uses; the public one would show a prompt.
    qDBusRegisterMetaType<Secret>();
    const QDBusMessage session
        = Call(QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"),
            { QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString())) });
    if (session.type() != QDBusMessage::ReplyMessage || session.arguments().size() != 2)
        return false;
    const Secret password { session.arguments().at(1).value<QDBusObjectPath>(), {},
        qgetenv("VEK_TEST_KEYRING_PASSWORD"), QStringLiteral("text/plain") };
    const QDBusMessage reply
        = Call(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
            QStringLiteral("UnlockWithMasterPassword"),
            { QVariant::fromValue(QDBusObjectPath(kLogin)), QVariant::fromValue(password) });
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool PauseKeyring()
{
    return Signal(SIGSTOP);
}

bool ResumeKeyring()
{
    return Signal(SIGCONT);
}

QStringList FilesContaining(const QString &dir, const QByteArray &needle)
{
    QStringList found;
    QDirIterator files(
        dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            found.append(file.fileName());
    }
    return found;
}

}  // namespace vek::test
