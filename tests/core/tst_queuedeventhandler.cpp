#include "core/QueuedEventHandler.h"

#include <QTest>
#include <QThread>

#include <thread>

using namespace vocalith;

namespace {

// Writes what it receives into a log that outlives it.
class Receiver : public QObject {
public:
    explicit Receiver(QList<int>& log)
        : m_log(log) {}
    void apply(const int& value) {
        QVERIFY(QThread::currentThread() == qApp->thread());
        m_log.append(value);
    }

private:
    QList<int>& m_log;
};

} // namespace

class TestQueuedEventHandler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appliesLaterOnMainThreadInOrder() {
        QList<int> log;
        Receiver receiver(log);
        const auto handler = queuedEventHandler(&receiver, &Receiver::apply);

        handler(0); // from the main thread: still not applied inside the call
        QVERIFY(log.isEmpty());
        std::thread worker([&] {
            for (int i = 1; i <= 1000; ++i)
                handler(i);
        });
        worker.join();
        handler(1001);
        QVERIFY(log.isEmpty());

        QList<int> expected;
        for (int i = 0; i <= 1001; ++i)
            expected.append(i);
        QTRY_COMPARE(log, expected);
    }

    void dropsEventsOnceReceiverIsGone() {
        QList<int> log;
        auto receiver = std::make_unique<Receiver>(log);
        const auto handler = queuedEventHandler(receiver.get(), &Receiver::apply);

        std::thread([&] { handler(1); }).join(); // queued while the receiver lives
        receiver.reset();
        std::thread([&] { handler(2); }).join(); // sent after it is gone
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestQueuedEventHandler)
#include "tst_queuedeventhandler.moc"
