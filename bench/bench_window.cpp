// The window's responsiveness and start-up, each against its own reference in one
// run: the longest stall of the event loop while an on-device transcription of a
// long MP3 runs through the window, and the time from process start to the first
// painted window against a bare Qt window.
#include "BenchSupport.h"
#include "WindowBench.h"
#include "app/MainWindow.h"
#include "app/QtFileDialogs.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/AudioFixtures.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

constexpr int rounds = 5;

// Prints "painted" and quits once the widget has been painted the first time.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("painted\n");
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    bool m_done = false;
};

int startUp(bool bare, const QString& settings) {
    QtFileDialogs dialogs;
    std::unique_ptr<TranscriptionViewModel> vm;
    std::unique_ptr<QMainWindow> window;
    if (bare) {
        window = std::make_unique<QMainWindow>();
        window->setCentralWidget(new QLabel(QStringLiteral("Vocalith")));
    } else {
        vm = bench::makeViewModel(dialogs, settings);
        window = std::make_unique<MainWindow>(*vm, KeychainHelper::shared(), dialogs);
    }
    FirstPaint watcher;
    window->centralWidget()->installEventFilter(&watcher);
    window->resize(720, 760);
    window->show();
    return QApplication::exec();
}

// Transcribes the file through the window and reports the longest gap between
// ticks of a 2 ms timer on the main thread, in milliseconds.
int longestStall(const QString& mp3, const QString& settings) {
    QtFileDialogs dialogs;
    std::unique_ptr<TranscriptionViewModel> vm = bench::makeViewModel(dialogs, settings);
    MainWindow window(*vm, KeychainHelper::shared(), dialogs);
    window.show();
    vm->setSelectedLanguage(TranscriptionLanguage::english);
    vm->loadFile(QUrl::fromLocalFile(mp3));

    bench::StallMeter stalls;
    // The job ends where the save dialog opens; opening it is not part of the job.
    QObject::connect(vm.get(), &TranscriptionViewModel::isTranscribingChanged, [&] {
        if (vm->isTranscribing())
            return;
        stalls.stop();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    stalls.start();
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (button->accessibleName() == QLatin1String("Start Transcription"))
            button->click();
    }
    QApplication::exec();
    std::printf("%.3f %s\n", stalls.worstMs(), vm->errorMessage() ? "failed" : "ok");
    return vm->errorMessage() ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--start"))
        return startUp(false, args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--start-bare"))
        return startUp(true, args[2]);
    if (args.size() == 4 && args[1] == QLatin1String("--stall"))
        return longestStall(args[2], args[3]);

    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("bench.conf"));
    double window = 1e9;
    double bare = 1e9;
    for (int round = 0; round < rounds; ++round) {
        window =
            std::min(window, bench::timeCommand(args[0], {QStringLiteral("--start"), settings}));
        bare =
            std::min(bare, bench::timeCommand(args[0], {QStringLiteral("--start-bare"), settings}));
    }

    // Five minutes of speech, as users' MP3s are.
    QStringList concat;
    for (const QString& id : fixtures::librivoxIds())
        concat << QStringLiteral("-i")
               << fixtures::librivoxDirectory() + QLatin1Char('/') + id + QStringLiteral(".wav");
    const QString speech = dir.filePath(QStringLiteral("speech.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("long.mp3"));
    concat << QStringLiteral("-filter_complex") << QStringLiteral("concat=n=5:v=0:a=1") << speech;
    if (!fixtures::ffmpeg(concat) ||
        !fixtures::ffmpeg({QStringLiteral("-stream_loop"), QStringLiteral("-1"),
                           QStringLiteral("-i"), speech, QStringLiteral("-t"),
                           QStringLiteral("300"), QStringLiteral("-ar"), QStringLiteral("44100"),
                           QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                           QStringLiteral("libmp3lame"), mp3})) {
        std::fprintf(stderr, "cannot make the test file\n");
        return 1;
    }
    QByteArray stall;
    if (bench::timeCommand(args[0], {QStringLiteral("--stall"), mp3, settings}, &stall) < 0) {
        std::fprintf(stderr, "transcription through the window failed\n");
        return 1;
    }

    std::printf("first painted window: Vocalith %.3f s, bare Qt window %.3f s (best of %d)\n",
                window, bare, rounds);
    std::printf("window_longest_stall_ms: %.1f (target < 50)\n",
                stall.trimmed().split(' ').first().toDouble());
    std::printf("window_startup_ratio: %.2f (target <= 1.5)\n", window / bare);
    return 0;
}
