// zapum-devserver: the ZaPum backend's API and web pages on this machine, for development and
// end-to-end tests. See README.md, "Run everything locally".
#include "dev_server.h"
#include "options.h"
#include "store.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace zapum::devserver;

namespace {

void say(const QString &line, FILE *stream = stdout)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

bool writePrivateFile(const QString &path, const QString &content)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray bytes = content.toUtf8() + '\n';
    const bool written =
        ::fchmod(fd, 0600) == 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

// The token exists in clear only now; afterwards the data file holds just its digest.
bool announceFirstUser(const NewUser &created, const Options &options)
{
    if (options.devTokenFile.isEmpty()) {
        say(QStringLiteral("Created the user %1. Its sign-in token, shown only this once:\n  %2")
                .arg(created.user.email, created.token));
        return true;
    }
    if (!writePrivateFile(options.devTokenFile, created.token)) {
        say(QStringLiteral("zapum-devserver: cannot write %1").arg(options.devTokenFile), stderr);
        return false;
    }
    say(QStringLiteral("Created the user %1; its sign-in token is in %2.")
            .arg(created.user.email, options.devTokenFile));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Signals are taken by one thread with sigwait, so every other thread (httplib's workers
    // included, which inherit this mask) keeps running undisturbed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.options) {
        say(parsed.message, parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    const Options &options = *parsed.options;

    QString error;
    const std::unique_ptr<Store> store = Store::open(options.dataFile, &error);
    if (!store) {
        say(QStringLiteral("zapum-devserver: ") + error, stderr);
        return 1;
    }
    DevServer server(*store, DevServerTimings{options.pairingLifetime});
    if (!server.listen(options.apiPort, options.webPort, &error)) {
        say(QStringLiteral("zapum-devserver: ") + error, stderr);
        return 1;
    }
    if (const std::optional<NewUser> created = store->createFirstUser(options.devEmail)) {
        if (!announceFirstUser(*created, options))
            return 1;
    }
    say(QStringLiteral("zapum-devserver is running.\n"
                       "  API  %1   (in ZaPum choose the environment \"Local (dev)\")\n"
                       "  Web  %2   (admin page: %2/admin)\n"
                       "  Data %3\n"
                       "Press Ctrl+C to stop.")
            .arg(server.apiBase(), server.webBase(), options.dataFile));

    std::atomic<bool> finished = false;
    std::thread stopper([&server, &finished, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // A stop that lands before a listener has started is lost, so repeat until both are down.
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    server.run();
    finished = true;
    // Wake the stopper if the servers ended on their own.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    say(QStringLiteral("zapum-devserver stopped."));
    return 0;
}
