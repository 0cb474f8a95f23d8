// The claim reply's order envelope, its spool payload and the Base64 decoder.

#include "agent/claimreply.h"
#include "agent/orderenvelope.h"

#include <QJsonDocument>

#include <QByteArray>
#include <QTest>

#include <nlohmann/json.hpp>

using namespace vek::agent;
using Json = nlohmann::json;

Q_DECLARE_METATYPE(OrderKind)
Q_DECLARE_METATYPE(PrinterTransport)
Q_DECLARE_METATYPE(SpoolError)

namespace {

Json Parse(const QByteArray &text)
{
    return Json::parse(text.constData(), text.constData() + text.size());
}

// A claim reply around one order whose printer object is given as JSON text.
QByteArray ReplyWithPrinter(const QByteArray &printer, const QByteArray &kind = "\"LABEL\"")
{
    return R"({"order":{"id":"ord-7","kind":)" + kind + R"(,"printer":)" + printer + "}}";
}

std::vector<std::uint8_t> Bytes(const QByteArray &data)
{
    return { data.begin(), data.end() };
}

QByteArray SpoolOrder(const QByteArray &base64)
{
    return R"({"spool":{"datatype":"RAW","dataBase64":")" + base64 + R"("}})";
}

}  // namespace

class TestOrderEnvelope : public QObject {
    Q_OBJECT

private slots:
    void noOrder_data();
    void noOrder();
    void refusal_data();
    void refusal();
    void acceptedOrder_data();
    void acceptedOrder();
    void acceptedOrderKeepsFieldsAndPayload();

    void spoolError_data();
    void spoolError();
    void spoolDocumentName_data();
    void spoolDocumentName();
    void spoolSizeLimit_data();
    void spoolSizeLimit();
    void spoolErrorMessages();

    void claimReply_data();
    void claimReply();

    void decodeBase64_data();
    void decodeBase64();
    void decodeBase64RoundTrip();
};

void TestOrderEnvelope::noOrder_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("empty reply") << QByteArray("{}");
    QTest::newRow("reply not an object") << QByteArray(R"([{"order":{"id":"x"}}])");
    QTest::newRow("order null") << QByteArray(R"({"order":null})");
    QTest::newRow("order a string") << QByteArray(R"({"order":"ord-1"})");
    QTest::newRow("order an array") << QByteArray(R"({"order":[]})");
    QTest::newRow("id missing") << QByteArray(R"({"order":{"kind":"LABEL"}})");
    QTest::newRow("id a number") << QByteArray(
        R"({"order":{"id":42,"kind":"LABEL","printer":{"transport":"SYSTEM","systemName":"Q"}}})");
    QTest::newRow("id empty") << QByteArray(R"({"order":{"id":"","kind":"BOGUS"}})");
}

void TestOrderEnvelope::noOrder()
{
    QFETCH(QByteArray, reply);
    QVERIFY(std::holds_alternative<NoOrder>(ParseOrder(Parse(reply))));
}

void TestOrderEnvelope::refusal_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");

    const QString jobType = "This workstation does not understand the job type.";
    const QString noPrinter = "The order arrived without a printer.";
    const QString transport = "This workstation does not support that printer connection.";
    const QString noQueue = "The printer has no queue name on this workstation.";
    const QString label = "The label printer has no usable address.";
    const QString film = "The film printer has no usable address.";
    const QString aeTitle = "The film printer has no called AE title.";

    const QByteArray okPrinter = R"({"transport":"SYSTEM","systemName":"Q"})";
    QTest::newRow("kind lower case") << ReplyWithPrinter(okPrinter, "\"label\"") << jobType;
    QTest::newRow("kind a number") << ReplyWithPrinter(okPrinter, "1") << jobType;
    QTest::newRow("kind missing") << QByteArray(R"({"order":{"id":"ord-7"}})") << jobType;
    QTest::newRow("printer missing, no spool either")
        << QByteArray(R"({"order":{"id":"ord-7","kind":"DOCUMENT"}})") << noPrinter;
    QTest::newRow("printer an array") << ReplyWithPrinter("[]") << noPrinter;
    QTest::newRow("printer null") << ReplyWithPrinter("null") << noPrinter;
    QTest::newRow("transport missing") << ReplyWithPrinter(R"({"systemName":"Q"})") << transport;
    QTest::newRow("transport lower case")
        << ReplyWithPrinter(R"({"transport":"zpl_tcp","host":"h","port":9100})") << transport;
    QTest::newRow("system without queue")
        << ReplyWithPrinter(R"({"transport":"SYSTEM"})") << noQueue;
    QTest::newRow("system queue not a string")
        << ReplyWithPrinter(R"({"transport":"SYSTEM","systemName":7})") << noQueue;

    const auto zpl = [](const QByteArray &rest) {
        return ReplyWithPrinter(R"({"transport":"ZPL_TCP",)" + rest + "}");
    };
    QTest::newRow("zpl port 0") << zpl(R"("host":"10.0.0.9","port":0)") << label;
    QTest::newRow("zpl port 65536") << zpl(R"("host":"10.0.0.9","port":65536)") << label;
    QTest::newRow("zpl port -1") << zpl(R"("host":"10.0.0.9","port":-1)") << label;
    QTest::newRow("zpl port fractional") << zpl(R"("host":"10.0.0.9","port":9100.5)") << label;
    QTest::newRow("zpl port written as float")
        << zpl(R"("host":"10.0.0.9","port":9100.0)") << label;
    QTest::newRow("zpl port a string") << zpl(R"("host":"10.0.0.9","port":"9100")") << label;
    QTest::newRow("zpl port missing") << zpl(R"("host":"10.0.0.9")") << label;
    // 2^32 + 9100 would turn into 9100 if narrowed to 32 bits.
    QTest::newRow("zpl port wraps to 9100 when narrowed")
        << zpl(R"("host":"10.0.0.9","port":4294976396)") << label;
    QTest::newRow("zpl port negative, wraps to 9100 when narrowed")
        << zpl(R"("host":"10.0.0.9","port":-4294958196)") << label;
    QTest::newRow("zpl host missing") << zpl(R"("port":9100)") << label;
    QTest::newRow("zpl host empty") << zpl(R"("host":"","port":9100)") << label;

    const auto dicom = [](const QByteArray &rest) {
        return ReplyWithPrinter(R"({"transport":"DICOM_SCU",)" + rest + "}", "\"FILM\"");
    };
    QTest::newRow("dicom empty AE title")
        << dicom(R"("host":"pacs","port":104,"aeTitle":"")") << aeTitle;
    QTest::newRow("dicom AE title missing") << dicom(R"("host":"pacs","port":104)") << aeTitle;
    QTest::newRow("dicom no host, AE title set")
        << dicom(R"("port":104,"aeTitle":"FILM1")") << film;
    QTest::newRow("dicom no host, no AE title") << dicom(R"("port":104)") << film;
    QTest::newRow("dicom port 0") << dicom(R"("host":"pacs","port":0,"aeTitle":"FILM1")") << film;
}

void TestOrderEnvelope::refusal()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    const OrderParse parsed = ParseOrder(Parse(reply));
    const auto *refusal = std::get_if<OrderRefusal>(&parsed);
    QVERIFY(refusal);
    QCOMPARE(refusal->orderId, std::string("ord-7"));
    QCOMPARE(QString::fromStdString(refusal->message), message);
}

void TestOrderEnvelope::acceptedOrder_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<OrderKind>("kind");
    QTest::addColumn<PrinterTransport>("transport");
    QTest::addColumn<int>("port");

    QTest::newRow("label to a queue")
        << ReplyWithPrinter(R"({"transport":"SYSTEM","systemName":"Zebra"})") << OrderKind::Label
        << PrinterTransport::System << 0;
    QTest::newRow("document to a queue") << ReplyWithPrinter(
        R"({"transport":"SYSTEM","systemName":"HP","port":"x"})", "\"DOCUMENT\"")
                                         << OrderKind::Document << PrinterTransport::System << 0;
    QTest::newRow("zpl on 9100") << ReplyWithPrinter(
        R"({"transport":"ZPL_TCP","host":"10.0.0.9","port":9100})")
                                 << OrderKind::Label << PrinterTransport::ZplTcp << 9100;
    QTest::newRow("zpl on 1") << ReplyWithPrinter(R"({"transport":"ZPL_TCP","host":"h","port":1})")
                              << OrderKind::Label << PrinterTransport::ZplTcp << 1;
    QTest::newRow("zpl on 65535") << ReplyWithPrinter(
        R"({"transport":"ZPL_TCP","host":"h","port":65535})")
                                  << OrderKind::Label << PrinterTransport::ZplTcp << 65535;
    QTest::newRow("film over dicom") << ReplyWithPrinter(
        R"({"transport":"DICOM_SCU","host":"pacs","port":104,"aeTitle":"F1"})", "\"FILM\"")
                                     << OrderKind::Film << PrinterTransport::DicomScu << 104;
}

void TestOrderEnvelope::acceptedOrder()
{
    QFETCH(QByteArray, reply);
    QFETCH(OrderKind, kind);
    QFETCH(PrinterTransport, transport);
    QFETCH(int, port);
    const OrderParse parsed = ParseOrder(Parse(reply));
    const auto *order = std::get_if<PrintOrder>(&parsed);
    QVERIFY(order);
    QCOMPARE(order->id, std::string("ord-7"));
    QCOMPARE(order->kind, kind);
    QCOMPARE(order->transport, transport);
    QCOMPARE(order->port, port);
    QVERIFY(order->payload.is_null());
}

void TestOrderEnvelope::acceptedOrderKeepsFieldsAndPayload()
{
    // Non-string fields read as empty; the payload is kept as it came.
    const Json reply = Parse(R"({"order":{"id":"ord-ü","kind":"LABEL",
        "printer":{"transport":"ZPL_TCP","name":"Étiquettes","systemName":["x"],
                   "host":"zebra.clinic.local","port":9100,"aeTitle":null},
        "payload":{"labels":[1,2,{"x":null}]},
        "spool":{"datatype":"RAW","dataBase64":"AQ=="}}})");
    const OrderParse parsed = ParseOrder(reply);
    const auto *order = std::get_if<PrintOrder>(&parsed);
    QVERIFY(order);
    QCOMPARE(order->id, std::string("ord-ü"));
    QCOMPARE(order->name, std::string("Étiquettes"));
    QCOMPARE(order->systemName, std::string());
    QCOMPARE(order->host, std::string("zebra.clinic.local"));
    QCOMPARE(order->aeTitle, std::string());
    QVERIFY(order->payload == reply["order"]["payload"]);
}

void TestOrderEnvelope::spoolError_data()
{
    QTest::addColumn<QByteArray>("order");
    QTest::addColumn<SpoolError>("error");

    QTest::newRow("order not an object") << QByteArray("[]") << SpoolError::NoSpool;
    QTest::newRow("no spool") << QByteArray(R"({"id":"x"})") << SpoolError::NoSpool;
    QTest::newRow("spool null") << QByteArray(R"({"spool":null})") << SpoolError::NoSpool;
    QTest::newRow("spool a string")
        << QByteArray(R"({"spool":"AQID"})") << SpoolError::NothingToPrint;
    QTest::newRow("datatype missing")
        << QByteArray(R"({"spool":{"dataBase64":"AQID"}})") << SpoolError::UnknownDatatype;
    QTest::newRow("datatype lower case")
        << QByteArray(R"({"spool":{"datatype":"raw","dataBase64":"AQID"}})")
        << SpoolError::UnknownDatatype;
    QTest::newRow("datatype not a string")
        << QByteArray(R"({"spool":{"datatype":0,"dataBase64":"AQID"}})")
        << SpoolError::UnknownDatatype;
    QTest::newRow("data missing") << QByteArray(R"({"spool":{"datatype":"RAW"}})")
                                  << SpoolError::NothingToPrint;
    QTest::newRow("data not a string")
        << QByteArray(R"({"spool":{"datatype":"RAW","dataBase64":[1,2,3]}})")
        << SpoolError::NothingToPrint;
    QTest::newRow("data empty") << SpoolOrder("") << SpoolError::NothingToPrint;
    QTest::newRow("data only blanks") << SpoolOrder(R"( \r\n\t )") << SpoolError::NothingToPrint;
    QTest::newRow("data URL-safe Base64") << SpoolOrder("-_8=") << SpoolError::Unreadable;
    QTest::newRow("data cut short") << SpoolOrder("AQIDB") << SpoolError::Unreadable;
}

void TestOrderEnvelope::spoolError()
{
    QFETCH(QByteArray, order);
    QFETCH(SpoolError, error);
    const auto parsed = ParseSpool(Parse(order));
    QVERIFY(std::holds_alternative<SpoolError>(parsed));
    QCOMPARE(std::get<SpoolError>(parsed), error);
}

void TestOrderEnvelope::spoolDocumentName_data()
{
    QTest::addColumn<QByteArray>("documentName");  // JSON value; empty means absent
    QTest::addColumn<QString>("expected");

    QTest::newRow("given") << QByteArray(R"("Label 0042 – Müller")") << "Label 0042 – Müller";
    QTest::newRow("empty is kept for the spooler") << QByteArray(R"("")") << "";
    QTest::newRow("absent") << QByteArray() << "Vek print job";
    QTest::newRow("not a string") << QByteArray("12") << "Vek print job";
}

void TestOrderEnvelope::spoolDocumentName()
{
    QFETCH(QByteArray, documentName);
    QFETCH(QString, expected);
    QByteArray order = R"({"spool":{"datatype":"RAW","dataBase64":"XlhBXlha")";
    if (!documentName.isEmpty())
        order += R"(,"documentName":)" + documentName;
    order += "}}";

    const auto parsed = ParseSpool(Parse(order));
    const auto *payload = std::get_if<SpoolPayload>(&parsed);
    QVERIFY(payload);
    QCOMPARE(payload->datatype, SpoolDatatype::Raw);
    QCOMPARE(QString::fromStdString(payload->documentName), expected);
    QCOMPARE(payload->data, Bytes("^XA^XZ"));
}

void TestOrderEnvelope::spoolSizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("one byte") << 1 << true;
    QTest::newRow("exactly the limit") << int(kMaxSpoolBytes) << true;
    QTest::newRow("one byte over") << int(kMaxSpoolBytes) + 1 << false;
}

void TestOrderEnvelope::spoolSizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 7 + 3);
    // Wrapped in lines of 76 characters, as mail-style encoders write it.
    QByteArray base64 = data.toBase64();
    for (qsizetype at = 76; at < base64.size(); at += 80)
        base64.insert(at, "\\r\\n");

    const auto parsed = ParseSpool(Parse(SpoolOrder(base64)));
    if (accepted) {
        const auto *payload = std::get_if<SpoolPayload>(&parsed);
        QVERIFY(payload);
        QVERIFY(payload->data == Bytes(data));
    } else {
        QVERIFY(std::holds_alternative<SpoolError>(parsed));
        QCOMPARE(std::get<SpoolError>(parsed), SpoolError::TooLarge);
        QCOMPARE(SpoolErrorMessage(SpoolError::TooLarge),
            QString("The job is too large for this workstation to spool."));
    }
}

void TestOrderEnvelope::spoolErrorMessages()
{
    QCOMPARE(SpoolErrorMessage(SpoolError::NoSpool),
        QString("This job arrived without anything to send to the printer."));
    QCOMPARE(SpoolErrorMessage(SpoolError::UnknownDatatype),
        QString("This workstation does not understand how the job was prepared."));
    QCOMPARE(SpoolErrorMessage(SpoolError::NothingToPrint),
        QString("The job arrived with nothing to print."));
    QCOMPARE(
        SpoolErrorMessage(SpoolError::Unreadable), QString("The job's data could not be read."));
}

// The whole step the worker takes, from the reply as the framework parsed it.
void TestOrderEnvelope::claimReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("outcome");  // "none", "order <bytes>" or the refusal's reason
    const QByteArray system = R"("printer":{"transport":"SYSTEM","systemName":"VekLabel"})";
    const QByteArray zpl = R"("printer":{"transport":"ZPL_TCP","host":"lab","port":)";
    QTest::newRow("no order") << QByteArray("{}") << "none";
    QTest::newRow("order not an object") << QByteArray(R"({"order":[1]})") << "none";
    QTest::newRow("printable") << R"({"order":{"id":"o1","kind":"LABEL",)" + system
            + R"(,"spool":{"datatype":"RAW","dataBase64":"AAEC"}}})"
                               << "order 3";
    QTest::newRow("refused order") << QByteArray(R"({"order":{"id":"o2","kind":"label"}})")
                                   << "This workstation does not understand the job type.";
    QTest::newRow("spool refused with the order's id")
        << R"({"order":{"id":"o3","kind":"LABEL",)" + system + R"(,"spool":{"datatype":"raw"}}})"
        << "This workstation does not understand how the job was prepared.";
    QTest::newRow("no spool") << R"({"order":{"id":"o4","kind":"LABEL",)" + system + "}}"
                              << "This job arrived without anything to send to the printer.";
    // The framework keeps numbers as doubles and writes whole ones without
    // a fraction, so a port written 9100.0 reads as 9100; 9100.5 stays refused.
    QTest::newRow("port 9100.0") << R"({"order":{"id":"o5","kind":"LABEL",)" + zpl
            + R"(9100.0},"spool":{"datatype":"RAW","dataBase64":"QQ=="}}})"
                                 << "order 1";
    QTest::newRow("port 9100.5") << R"({"order":{"id":"o6","kind":"LABEL",)" + zpl + R"(9100.5}}})"
                                 << "The label printer has no usable address.";
}

void TestOrderEnvelope::claimReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, outcome);
    const QJsonDocument document = QJsonDocument::fromJson(reply);
    QVERIFY(document.isObject());
    const ClaimOutcome read = ReadClaimReply(document.object());
    QString got = "none";
    if (const auto *refusal = std::get_if<OrderRefusal>(&read)) {
        QVERIFY(!refusal->orderId.empty());
        got = QString::fromStdString(refusal->message);
    } else if (const auto *order = std::get_if<RawPrintOrder>(&read)) {
        got = QString("order %1").arg(order->spool.data.size());
    }
    QCOMPARE(got, outcome);
}

void TestOrderEnvelope::decodeBase64_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("three bytes") << QByteArray("AQID") << true << QByteArray("010203");
    QTest::newRow("four bytes, padded") << QByteArray("AQIDBA==") << true << QByteArray("01020304");
    QTest::newRow("four bytes, unpadded") << QByteArray("AQIDBA") << true << QByteArray("01020304");
    QTest::newRow("five bytes, padded")
        << QByteArray("AQIDBAU=") << true << QByteArray("0102030405");
    QTest::newRow("blanks anywhere")
        << QByteArray(" AQ\tI\r\nDB A=\n= ") << true << QByteArray("01020304");
    QTest::newRow("empty") << QByteArray() << true << QByteArray();
    QTest::newRow("only blanks") << QByteArray(" \r\n\t") << true << QByteArray();
    QTest::newRow("all alphabet characters")
        << QByteArray("+/09AZaz") << true << QByteArray("fbfd3d0196b3");

    QTest::newRow("one character left over") << QByteArray("AQIDB") << false << QByteArray();
    QTest::newRow("one character alone") << QByteArray("A") << false << QByteArray();
    QTest::newRow("one character padded") << QByteArray("AQIDB===") << false << QByteArray();
    QTest::newRow("character after padding") << QByteArray("AQ==AQ==") << false << QByteArray();
    QTest::newRow("character after one '='") << QByteArray("AQI=D") << false << QByteArray();
    QTest::newRow("three '='") << QByteArray("AQ===") << false << QByteArray();
    QTest::newRow("leftover bits not zero (2 chars)")
        << QByteArray("AR==") << false << QByteArray();
    QTest::newRow("leftover bits not zero (3 chars)")
        << QByteArray("AQJ=") << false << QByteArray();
    QTest::newRow("URL-safe '-'") << QByteArray("AQ-D") << false << QByteArray();
    QTest::newRow("URL-safe '_'") << QByteArray("AQ_D") << false << QByteArray();
    QTest::newRow("other punctuation") << QByteArray("AQ.D") << false << QByteArray();
    QTest::newRow("vertical tab is not a blank") << QByteArray("AQ\vID") << false << QByteArray();
    QTest::newRow("non-ASCII") << QByteArray("AQ\xc3\xa9") << false << QByteArray();
    QTest::newRow("NUL inside") << QByteArray("AQ\0ID", 5) << false << QByteArray();
}

void TestOrderEnvelope::decodeBase64()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QByteArray, hex);
    const auto decoded = DecodeBase64Strict(std::string_view(text.constData(), text.size()));
    QCOMPARE(decoded.has_value(), ok);
    if (ok)
        QVERIFY(*decoded == Bytes(QByteArray::fromHex(hex)));
}

void TestOrderEnvelope::decodeBase64RoundTrip()
{
    // Every byte value at every position of a group, with and without padding.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    for (int length = 0; length <= all.size(); ++length) {
        const QByteArray data = all.right(length);
        for (const auto option : { QByteArray::Base64Encoding, QByteArray::OmitTrailingEquals }) {
            const QByteArray text = data.toBase64(option);
            const auto decoded
                = DecodeBase64Strict(std::string_view(text.constData(), text.size()));
            QVERIFY2(decoded && *decoded == Bytes(data), text.constData());
        }
    }
}

QTEST_GUILESS_MAIN(TestOrderEnvelope)
#include "test_orderenvelope.moc"
