#include "platform/localpeer.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

using vek::platform::LocalPeerIsCurrentUser;
using vek::platform::PeerSide;

class TestLinuxLocalPeer : public QObject {
    Q_OBJECT

private slots:
    void socketPairIsTheSameUser()
    {
        int ends[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        QVERIFY(LocalPeerIsCurrentUser(ends[0], PeerSide::Client));
        QVERIFY(LocalPeerIsCurrentUser(ends[1], PeerSide::Server));
        close(ends[0]);
        close(ends[1]);
    }

    void localServerAndClientSeeEachOther()
    {
        QTemporaryDir folder;
        QLocalServer server;
        QVERIFY(server.listen(folder.path() + "/channel"));
        QLocalSocket client;
        client.connectToServer(server.fullServerName());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket *accepted = server.nextPendingConnection();
        QVERIFY(accepted != nullptr);
        QVERIFY(LocalPeerIsCurrentUser(client.socketDescriptor(), PeerSide::Server));
        QVERIFY(LocalPeerIsCurrentUser(accepted->socketDescriptor(), PeerSide::Client));
    }

    void notAConnectedLocalSocket()
    {
        QVERIFY(!LocalPeerIsCurrentUser(-1, PeerSide::Server));
        QVERIFY(!LocalPeerIsCurrentUser(std::intptr_t(1) << 40, PeerSide::Server));

        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(!LocalPeerIsCurrentUser(file.handle(), PeerSide::Server));

        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        QVERIFY(!LocalPeerIsCurrentUser(pipeEnds[0], PeerSide::Client));
        close(pipeEnds[0]);
        close(pipeEnds[1]);

        // A socket that never connected has no peer.
        const int lonely = socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(lonely >= 0);
        QVERIFY(!LocalPeerIsCurrentUser(lonely, PeerSide::Client));
        close(lonely);
    }
};

QTEST_GUILESS_MAIN(TestLinuxLocalPeer)
#include "test_linux_localpeer.moc"
