#include "support/fake_http_server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace zapum::test {

std::optional<QByteArray> findHeader(const Headers &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

QList<QByteArray> RecordedRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto &header : headers)
        names.append(header.first);
    return names;
}

FakeResponse FakeResponse::json(int status, const QByteArray &body)
{
    return {status, {{"Content-Type", "application/json"}}, body};
}

namespace {

// Parses one request out of `buffer` once it is complete; removes it from the buffer.
std::optional<RecordedRequest> takeRequest(QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    RecordedRequest request{requestLine.value(0), requestLine.value(1), {}, {}};
    for (const QByteArray &line : std::as_const(lines)) {
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    const qsizetype contentLength = request.header("content-length").value_or("0").toLongLong();
    if (buffer.size() < headerEnd + 4 + contentLength)
        return std::nullopt;
    request.body = buffer.mid(headerEnd + 4, contentLength);
    buffer.remove(0, headerEnd + 4 + contentLength);
    return request;
}

// Sends the response after its stall, in pieces of trickleBytes or else all at once, and breaks
// the connection off where the response says. The socket is the timers' context, so nothing is
// sent once the client has gone.
void answer(QTcpSocket *socket, const FakeResponse &response)
{
    QTimer::singleShot(response.stall, socket, [socket, response] {
        if (response.drop) {
            socket->abort();
            return;
        }
        // The reason phrase may be empty, and nothing here reads it.
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " \r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        socket->write(head + "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n");
        const QByteArray body = response.cutAfterBytes < 0 ? response.body : response.body.left(response.cutAfterBytes);
        const bool cut = body.size() < response.body.size();
        const qsizetype piece = response.trickleBytes > 0 ? response.trickleBytes : std::max<qsizetype>(body.size(), 1);
        auto *timer = new QTimer(socket);
        auto offset = std::make_shared<qsizetype>(0);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, offset, body, cut, piece] {
            socket->write(body.mid(*offset, piece));
            *offset += piece;
            if (*offset >= body.size()) {
                timer->deleteLater();
                if (cut)
                    socket->disconnectFromHost();
            }
        });
        timer->start(response.trickleInterval);
    });
}

}  // namespace

FakeHttpServer::FakeHttpServer()
{
    auto *tcp = new QTcpServer;
    tcp->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, tcp, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        tcp,
        [this, tcp] {
            if (!tcp->listen(QHostAddress::LocalHost, 0))
                qFatal("fake HTTP server: cannot listen on 127.0.0.1");
            m_port = tcp->serverPort();
            QObject::connect(tcp, &QTcpServer::newConnection, tcp, [this, tcp] {
                while (QTcpSocket *socket = tcp->nextPendingConnection()) {
                    auto buffer = std::make_shared<QByteArray>();
                    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                        buffer->append(socket->readAll());
                        while (auto request = takeRequest(*buffer))
                            answer(socket, respond(*request));
                    });
                }
            });
        },
        Qt::BlockingQueuedConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    m_thread.quit();
    m_thread.wait();
}

void FakeHttpServer::enqueue(FakeResponse response)
{
    QMutexLocker lock(&m_mutex);
    m_queue.append(std::move(response));
}

void FakeHttpServer::setHandler(Handler handler)
{
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

QList<RecordedRequest> FakeHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

bool FakeHttpServer::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor([&] { return requestCount() >= count; }, int(timeout.count()));
}

FakeResponse FakeHttpServer::respond(const RecordedRequest &request)
{
    QMutexLocker lock(&m_mutex);
    m_requests.append(request);
    if (!m_queue.isEmpty())
        return m_queue.takeFirst();
    const Handler handler = m_handler;
    // The handler may take its time, and the test may ask what arrived meanwhile.
    lock.unlock();
    return handler ? handler(request) : FakeResponse::json(404, R"({"error":"not found"})");
}

}  // namespace zapum::test
