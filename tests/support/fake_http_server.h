#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QPair>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace zapum::test {

using Headers = QList<QPair<QByteArray, QByteArray>>;
// The first header of that name, in any letter case.
std::optional<QByteArray> findHeader(const Headers &headers, QByteArrayView name);

// One request as it arrived on the wire: headers in their order and spelling.
struct RecordedRequest {
    QByteArray method;
    QByteArray target;  // path and query, as sent
    Headers headers;
    QByteArray body;

    QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
    std::optional<QByteArray> header(QByteArrayView name) const { return findHeader(headers, name); }
    QList<QByteArray> headerNames() const;
};

struct FakeResponse {
    int status = 200;
    Headers headers;
    QByteArray body;
    // Wait this long before sending anything (a stalled server).
    std::chrono::milliseconds stall{0};
    // Send the body in pieces of this many bytes, one every trickleInterval (a slow server).
    int trickleBytes = 0;
    std::chrono::milliseconds trickleInterval{0};
    // Close the connection without answering.
    bool drop = false;
    // Close the connection once this many bytes of the body are sent (a reply broken off).
    qsizetype cutAfterBytes = -1;

    static FakeResponse json(int status, const QByteArray &body);
};

// A real HTTP/1.1 server on 127.0.0.1 (ephemeral port) in its own thread, so it answers even while
// the test's thread is blocked. It records every request and answers from a queue of canned
// responses, then from the handler, else with 404.
class FakeHttpServer {
public:
    using Handler = std::function<FakeResponse(const RecordedRequest &)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    quint16 port() const { return m_port; }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port)); }

    void enqueue(FakeResponse response);
    void setHandler(Handler handler);  // called on the server's thread

    QList<RecordedRequest> requests() const;
    int requestCount() const { return int(requests().size()); }
    // Spins the caller's event loop until `count` requests have arrived or the time is up.
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    FakeResponse respond(const RecordedRequest &request);

    QThread m_thread;
    quint16 m_port = 0;

    mutable QMutex m_mutex;
    QList<RecordedRequest> m_requests;
    QList<FakeResponse> m_queue;
    Handler m_handler;
};

}  // namespace zapum::test

Q_DECLARE_METATYPE(zapum::test::FakeResponse)
