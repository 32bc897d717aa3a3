#include "support/fake_http_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
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
    FakeResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = body;
    return response;
}

namespace {

// Parses one request out of `buffer` once it is complete; removes it from the buffer.
std::optional<RecordedRequest> takeRequest(QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    RecordedRequest request;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    const qsizetype total = headerEnd + 4 + contentLength;
    if (buffer.size() < total)
        return std::nullopt;
    request.body = buffer.mid(headerEnd + 4, contentLength);
    buffer.remove(0, total);
    return request;
}

}  // namespace

class FakeHttpServer::Worker : public QObject {
public:
    explicit Worker(FakeHttpServer *owner) : m_owner(owner) {}

    quint16 listen()
    {
        m_server = new QTcpServer(this);
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            qFatal("fake HTTP server: cannot listen on 127.0.0.1");
        QObject::connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                serve(socket);
        });
        return m_server->serverPort();
    }

private:
    void serve(QTcpSocket *socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            while (auto request = takeRequest(*buffer))
                answer(socket, m_owner->respond(*request));
        });
    }

    static void answer(QTcpSocket *socket, const FakeResponse &response)
    {
        QPointer<QTcpSocket> guard(socket);
        auto send = [guard, response] {
            if (!guard)
                return;
            if (response.drop) {
                guard->abort();
                return;
            }
            // The reason phrase may be empty, and nothing here reads it.
            QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " \r\n";
            for (const auto &[name, value] : response.headers)
                head += name + ": " + value + "\r\n";
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
            guard->write(head);
            const qsizetype sent = response.cutAfterBytes < 0 ? response.body.size()
                                                              : std::min(response.cutAfterBytes, response.body.size());
            const bool cut = sent < response.body.size();
            if (response.trickleBytes <= 0) {
                guard->write(response.body.left(sent));
                if (cut)
                    guard->disconnectFromHost();
                return;
            }
            auto *timer = new QTimer(guard);
            auto offset = std::make_shared<qsizetype>(0);
            QTcpSocket *const connection = guard.data();
            QObject::connect(timer, &QTimer::timeout, connection, [connection, timer, offset, response, sent, cut] {
                connection->write(response.body.mid(*offset, std::min<qsizetype>(response.trickleBytes, sent - *offset)));
                *offset += response.trickleBytes;
                if (*offset >= sent) {
                    timer->deleteLater();
                    if (cut)
                        connection->disconnectFromHost();
                }
            });
            timer->start(response.trickleInterval);
        };
        if (response.stall.count() > 0)
            QTimer::singleShot(response.stall, socket, send);
        else
            send();
    }

    FakeHttpServer *m_owner;
    QTcpServer *m_server = nullptr;
};

FakeHttpServer::FakeHttpServer()
{
    m_worker = new Worker(this);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    QSemaphore ready;
    QMetaObject::invokeMethod(m_worker, [this, &ready] {
        m_port = m_worker->listen();
        ready.release();
    });
    ready.acquire();
}

FakeHttpServer::~FakeHttpServer()
{
    m_thread.quit();
    m_thread.wait();
}

QUrl FakeHttpServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

void FakeHttpServer::enqueue(FakeResponse response)
{
    QMutexLocker lock(&m_mutex);
    m_queue.push_back(std::move(response));
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

int FakeHttpServer::requestCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_requests.size());
}

bool FakeHttpServer::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    QDeadlineTimer deadline(timeout);
    while (requestCount() < count && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return requestCount() >= count;
}

FakeResponse FakeHttpServer::respond(const RecordedRequest &request)
{
    Handler handler;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        if (!m_queue.empty()) {
            FakeResponse next = std::move(m_queue.front());
            m_queue.pop_front();
            return next;
        }
        handler = m_handler;
    }
    if (handler)
        return handler(request);
    return FakeResponse::json(404, R"({"error":"not found"})");
}

}  // namespace zapum::test
