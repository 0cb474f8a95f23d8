// Which hosts count as local (node client, plain HTTP) or private (learned
// server addresses).

#include "agent/hostrules.h"
#include "vek/product.h"

#include <QTest>

using namespace vek::agent;

class TestHostRules : public QObject {
    Q_OBJECT

private slots:
    void localNodeHost_data();
    void localNodeHost();
    void privateNetworkHost_data();
    void privateNetworkHost();
    void ipv6Literal_data();
    void ipv6Literal();
};

void TestHostRules::localNodeHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("local");

    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("localhost, capitals") << "LocalHost" << true;
    QTest::newRow("loopback") << "127.0.0.1" << true;
    QTest::newRow("10/8") << "10.0.0.7" << true;
    QTest::newRow("192.168/16") << "192.168.1.5" << true;
    QTest::newRow("172.16") << "172.16.0.4" << true;
    QTest::newRow("172.31") << "172.31.9.9" << true;
    QTest::newRow("172.32") << "172.32.0.4" << false;
    QTest::newRow("172.15") << "172.15.0.4" << false;
    QTest::newRow("public IPv4") << "8.8.8.8" << false;
    QTest::newRow("single-label name") << "PRINTSRV-01" << true;
    QTest::newRow("multi-label public name") << "node.clinic.example" << false;
    QTest::newRow("empty") << "" << false;

    // Names that merely begin like a private IPv4 address are names on the internet.
    QTest::newRow("name starting with 10.") << "10.example.com" << false;
    QTest::newRow("name starting with 192.168.") << "192.168.example.com" << false;
    QTest::newRow("name starting with 172.16.") << "172.16.evil.example" << false;
    QTest::newRow("five numeric parts") << "10.0.0.7.example" << false;
    QTest::newRow("part above 255") << "10.0.0.256" << false;
}

void TestHostRules::localNodeHost()
{
    QFETCH(QString, host);
    QFETCH(bool, local);
    QCOMPARE(IsLocalNodeHost(host), local);
}

void TestHostRules::privateNetworkHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("isPrivate");

    QTest::newRow("10/8") << "10.1.2.3" << true;
    QTest::newRow("127/8") << "127.0.0.5" << true;
    QTest::newRow("192.168") << "192.168.1.20" << true;
    QTest::newRow("192.169") << "192.169.1.20" << false;
    QTest::newRow("172.16") << "172.16.0.1" << true;
    QTest::newRow("172.31") << "172.31.255.1" << true;
    QTest::newRow("172.32") << "172.32.0.1" << false;
    QTest::newRow("100.64") << "100.64.0.1" << true;
    QTest::newRow("100.127") << "100.127.0.1" << true;
    QTest::newRow("100.128") << "100.128.0.1" << false;
    QTest::newRow("100.63") << "100.63.0.1" << false;
    QTest::newRow("link-local IPv4") << "169.254.1.1" << false;
    QTest::newRow("public IPv4") << "8.8.8.8" << false;
    // Not literals in their plain form, so names with dots.
    QTest::newRow("leading zero") << "010.0.0.1" << false;
    QTest::newRow("plus sign") << "+10.0.0.1" << false;
    QTest::newRow("empty part") << "10..0.1" << false;
    QTest::newRow("three parts") << "10.0.1" << false;
    QTest::newRow("part above 255") << "10.0.0.256" << false;

    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("single label") << "printsrv" << true;
    QTest::newRow(".local") << "printsrv.local" << true;
    QTest::newRow("ends in local without the dot") << "printsrv.nonlocal" << false;
    QTest::newRow("sub-domain of localhost") << "evil.localhost" << false;
    QTest::newRow("mesh name") << QString("node.tail1234") + vek::product::kMeshSuffix << true;
    QTest::newRow("mesh suffix without its dot")
        << QString("evil") + QString(vek::product::kMeshSuffix).mid(1) << false;
    QTest::newRow("public name") << "clinic.example.org" << false;
    QTest::newRow("name starting with 10.") << "10.example.com" << false;
    QTest::newRow("empty") << "" << false;
}

void TestHostRules::privateNetworkHost()
{
    QFETCH(QString, host);
    QFETCH(bool, isPrivate);
    QCOMPARE(IsPrivateNetworkHost(host), isPrivate);
}

void TestHostRules::ipv6Literal_data()
{
    // Both rules: only loopback, unique-local (fc00::/7) and link-local
    // (fe80::/10) addresses count; a global address is on the internet.
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("local");

    QTest::newRow("loopback") << "::1" << true;
    QTest::newRow("loopback, long form") << "0:0:0:0:0:0:0:1" << true;
    QTest::newRow("unique-local fd") << "fd12:3456:789a::5" << true;
    QTest::newRow("unique-local fc") << "fc00::1" << true;
    QTest::newRow("link-local") << "fe80::1" << true;
    QTest::newRow("link-local with zone") << "fe80::1%eth0" << true;
    QTest::newRow("link-local, top of range") << "febf::1" << true;
    QTest::newRow("above link-local") << "fec0::1" << false;
    QTest::newRow("below unique-local") << "fbff::1" << false;
    QTest::newRow("documentation range") << "2001:db8::1" << false;
    QTest::newRow("public") << "2606:4700:4700::1111" << false;
    QTest::newRow("unspecified") << "::" << false;
    QTest::newRow("::2") << "::2" << false;
    QTest::newRow("IPv4-mapped private") << "::ffff:10.0.0.1" << false;
    QTest::newRow("not an address") << "fe80::zz" << false;
}

void TestHostRules::ipv6Literal()
{
    QFETCH(QString, host);
    QFETCH(bool, local);
    QCOMPARE(IsLocalNodeHost(host), local);
    QCOMPARE(IsPrivateNetworkHost(host), local);
}

QTEST_GUILESS_MAIN(TestHostRules)
#include "test_hostrules.moc"
