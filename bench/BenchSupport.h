#pragma once

#include "support/LoopbackHttpServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

namespace vocalith::bench {

// Peak resident memory of this process so far, in bytes.
inline qint64 peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Wall time of a command run to its end, in seconds; negative when it failed.
inline double timeCommand(const QString& program, const QStringList& arguments,
                          QByteArray* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = std::chrono::steady_clock::now();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1.0;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (output)
        *output = process.readAllStandardOutput();
    return elapsed.count();
}

// The longest gap between ticks of a 2 ms timer on the main thread: how long the window
// could not answer. onTick runs at every tick.
class StallMeter {
public:
    explicit StallMeter(std::function<void()> onTick = {})
        : m_onTick(std::move(onTick)) {
        m_ticker.setInterval(2);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
            if (m_onTick)
                m_onTick();
        });
    }
    void start() {
        m_clock.start();
        m_last = 0;
        m_ticker.start();
    }
    void stop() { m_ticker.stop(); }
    double worstMs() const { return double(m_worst) / 1e6; }

private:
    std::function<void()> m_onTick;
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

// A loopback server on a thread of its own, so that reading never waits on the client.
class ThreadedServer {
public:
    explicit ThreadedServer(const std::function<void(test::LoopbackHttpServer&)>& configure) {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        onServerThread([&] {
            m_server = new test::LoopbackHttpServer;
            configure(*m_server);
        });
    }
    ~ThreadedServer() {
        onServerThread([this] { delete m_server; });
        m_thread.quit();
        m_thread.wait();
    }
    QString baseUrl() const { return m_server->baseUrl(); }
    // Runs work on the server's thread and waits for it, e.g. to read its requests.
    void onServerThread(const std::function<void()>& work) {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }
    const test::LoopbackHttpServer& server() const { return *m_server; }

private:
    QThread m_thread;
    QObject m_context;
    test::LoopbackHttpServer* m_server = nullptr;
};

} // namespace vocalith::bench
