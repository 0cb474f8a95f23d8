#pragma once
// An HTTP server on its own thread that answers every request with bytes a
// test writes itself, for replies that the client must meet as a fast real
// link delivers them: large bodies, lying lengths, bodies that never end.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>
#include <memory>

namespace vek::test {

class ThreadedRawServer : public QObject {
    Q_OBJECT
public:
    ThreadedRawServer();
    ~ThreadedRawServer() override;

    // Written as it stands once a whole request has arrived. With
    // keepOpen the connection then stays open and silent; otherwise it is
    // closed after the bytes are flushed.
    void setResponse(const QByteArray &bytes, bool keepOpen = false);

    // After head, chunk is written again and again: as fast as the client
    // takes it when interval is zero, else once per interval. The body never
    // ends; the connection stays open until the client leaves.
    void setEndlessResponse(
        const QByteArray &head, const QByteArray &chunk, std::chrono::milliseconds interval = {});

    // With https, presents the test CA's certificate for 127.0.0.1 and
    // localhost; the client must trust the test CA.
    bool start(bool https = false);
    QString baseUrl() const;
    quint16 port() const;

    // An HTTP/1.1 head with the status line and headers given, and the blank line.
    static QByteArray Head(int status, const QByteArray &headers);

signals:
    // Emitted from the server's thread once the response was written.
    void responseWritten();

private:
    class Listener;
    QThread thread;
    Listener *listener = nullptr;  // lives on thread
};

}  // namespace vek::test
