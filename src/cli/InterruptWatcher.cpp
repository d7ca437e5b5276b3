#include "InterruptWatcher.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vocalith {

namespace {

int pipeEnds[2] = {-1, -1};
std::atomic<int> signalsSeen{0}; // lock-free, so safe in a signal handler
constexpr char stopListening = 0;
constexpr char deadlineChanged = 1; // no signal has this number

// Only what is safe in a signal handler. Should the listener be gone, a third signal
// still ends the process.
void onSignal(int number) {
    if (signalsSeen.fetch_add(1) + 1 >= 3)
        ::_exit(128 + number);
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
}

} // namespace

InterruptWatcher::InterruptWatcher(std::function<void(int status)> forceExit, QObject* parent)
    : QObject(parent)
    , m_forceExit(std::move(forceExit)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    signalsSeen = 0;
    m_listener = std::thread([this] { listen(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (m_listener.joinable()) {
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &stopListening, 1);
        m_listener.join();
    }
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void InterruptWatcher::liftDeadline() {
    m_graceMs = noDeadline;
    if (m_listener.joinable()) { // the listener may be waiting for the old deadline
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &deadlineChanged, 1);
    }
}

void InterruptWatcher::listen() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point firstSignal;
    for (;;) {
        pollfd readable{pipeEnds[1], POLLIN, 0};
        const int graceMs = m_graceMs.load();
        int timeout = -1;
        if (m_status != 0 && graceMs != noDeadline)
            timeout = int(std::max<qint64>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(
                       firstSignal + std::chrono::milliseconds(graceMs) - Clock::now())
                       .count()));
        const int ready = ::poll(&readable, 1, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        if (ready > 0) {
            char byte = stopListening;
            if (::read(pipeEnds[1], &byte, 1) != 1 || byte == stopListening)
                return;
            if (byte == deadlineChanged)
                continue;
            if (m_status == 0) {
                m_status = 128 + byte;
                firstSignal = Clock::now();
                QMetaObject::invokeMethod(
                    this, [this] { Q_EMIT interrupted(); }, Qt::QueuedConnection);
                continue;
            }
        }
        return m_forceExit(m_status); // a second signal, or the grace period is over
    }
}

} // namespace vocalith
