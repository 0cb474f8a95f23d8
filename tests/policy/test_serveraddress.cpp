// Canonical form and acceptance of server addresses learned from the network.

#include "agent/serveraddress.h"
#include "vek/product.h"

#include <QJsonDocument>
#include <QTest>

using namespace vek::agent;

namespace {

const QString kCloud = QString::fromLatin1(vek::product::kCloudDomain);
const QString kMesh = QString::fromLatin1(vek::product::kMeshSuffix);

QJsonObject Reply(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

}  // namespace

class TestServerAddress : public QObject {
    Q_OBJECT

private slots:
    void normalise_data();
    void normalise();
    void allowed_data();
    void allowed();
    void serverList_data();
    void serverList();
};

void TestServerAddress::normalise_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("path, query, fragment, capitals")
        << "HTTPS://Node.Clinic.Local:8443/api/v1/?x=1#top"
        << "https://node.clinic.local:8443";
    QTest::newRow("trailing slash") << "http://192.168.1.20:8080/"
                                    << "http://192.168.1.20:8080";
    QTest::newRow("surrounding blanks") << "  http://printsrv/  \n"
                                        << "http://printsrv";
    QTest::newRow("IPv6 literal") << "http://[::1]:8080/x/"
                                  << "http://[::1]:8080";
    QTest::newRow("any scheme") << "ftp://printsrv/files"
                                << "ftp://printsrv";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blank") << "   "
                           << "";
    QTest::newRow("no scheme") << "192.168.1.20:8080"
                               << "";
    QTest::newRow("no host") << "http:///path"
                             << "";
    QTest::newRow("user and password") << "http://user:pw@printsrv/"
                                       << "";
    QTest::newRow("user") << "https://user@printsrv"
                          << "";
    QTest::newRow("password only") << "https://:pw@printsrv"
                                   << "";
    // An empty user part is no user information and leaves no "@" behind.
    QTest::newRow("bare @") << "http://@printsrv:80/"
                            << "http://printsrv:80";
    QTest::newRow("port out of range") << "http://printsrv:99999"
                                       << "";
}

void TestServerAddress::normalise()
{
    QFETCH(QString, address);
    QFETCH(QString, canonical);
    QCOMPARE(NormaliseServerUrl(address), canonical);
}

void TestServerAddress::allowed_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("cloud") << "https://" + kCloud << true;
    QTest::newRow("cloud sub-domain with port") << "https://eu.west." + kCloud + ":443" << true;
    QTest::newRow("cloud in capitals") << "HTTPS://EU." + kCloud.toUpper() << true;
    QTest::newRow("cloud over http") << "http://" + kCloud << false;
    QTest::newRow("cloud letters without dot") << "https://evil" + kCloud << false;
    QTest::newRow("cloud as a prefix") << "https://" + kCloud + ".evil.example" << false;

    QTest::newRow("http private with port") << "http://192.168.1.20:8080" << true;
    QTest::newRow("https private with port") << "https://192.168.1.20:8443" << true;
    QTest::newRow("http 172.32") << "http://172.32.0.1" << false;
    QTest::newRow("https public IPv4") << "https://8.8.8.8" << false;
    QTest::newRow("single label") << "http://printsrv" << true;
    QTest::newRow(".local") << "https://printsrv.local" << true;
    QTest::newRow("mesh") << "http://node.tail1234" + kMesh << true;
    QTest::newRow("public name over https") << "https://clinic.example.org" << false;
    QTest::newRow("IPv6 unique-local") << "http://[fd00::5]:8080" << true;
    QTest::newRow("IPv6 loopback") << "http://[::1]" << true;
    QTest::newRow("IPv6 global") << "http://[2001:db8::1]:8080" << false;
    QTest::newRow("path is not examined") << "http://printsrv/api/" << true;

    QTest::newRow("user information") << "http://user@printsrv" << false;
    QTest::newRow("query") << "http://printsrv/?next=1" << false;
    QTest::newRow("fragment") << "http://printsrv/#top" << false;
    QTest::newRow("other scheme, private host") << "ftp://192.168.1.20" << false;
    QTest::newRow("websocket, private host") << "ws://printsrv" << false;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no scheme") << "printsrv:8080" << false;
}

void TestServerAddress::allowed()
{
    QFETCH(QString, address);
    QFETCH(bool, allowed);
    QCOMPARE(IsAllowedServerUrl(address), allowed);
}

void TestServerAddress::serverList_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("primary");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no servers key") << R"({"ok":true})"
                                    << "http://printsrv" << QStringList();
    QTest::newRow("servers not an array") << R"({"servers":{"url":"http://a"}})"
                                          << "http://printsrv" << QStringList();
    QTest::newRow("filtered and in order")
        << QString(R"({"servers":[
              {"url":"HTTPS://Node.Clinic.Local:8443/"},
              {"url":"https://node.clinic.local:8443/api?x=1"},
              {"url":"http://192.168.1.20:8080/x"},
              {"name":"no url"},
              "http://10.0.0.1",
              {"url":42},
              {"url":"HTTP://192.168.1.20:8080"},
              {"url":"http://clinic.example.org"},
              {"url":"https://user@10.0.0.2"},
              {"url":"https://eu.%1/"},
              {"url":"http://[2001:db8::1]"},
              {"url":"ftp://printsrv"},
              {"url":"  http://printsrv#x "}]})")
               .arg(kCloud)
        << "https://node.clinic.local:8443/api/"
        << QStringList { "http://192.168.1.20:8080", "https://eu." + kCloud, "http://printsrv" };
    QTest::newRow("no primary") << R"({"servers":[{"url":"http://printsrv"}]})"
                                << "" << QStringList { "http://printsrv" };
}

void TestServerAddress::serverList()
{
    QFETCH(QString, reply);
    QFETCH(QString, primary);
    QFETCH(QStringList, expected);
    QCOMPARE(ParseServerList(Reply(reply), primary), expected);
}

QTEST_GUILESS_MAIN(TestServerAddress)
#include "test_serveraddress.moc"
