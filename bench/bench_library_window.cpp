// Opening the Library window on a library of 2,000 transcripts: from File → Library...
// in a shown main window to the end of the first paint of the list with every
// transcript in it. Each round is a process of its own, as a user's first opening is;
// the median of the rounds is reported.
#include "BenchSupport.h"
#include "app/LibraryWindow.h"
#include "app/MainWindow.h"
#include "app/QtFileDialogs.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace vocalith;

namespace {

constexpr int transcriptCount = 2000;
constexpr int rounds = 7;

// Calls done once the widget has finished a paint for which ready() holds.
class PaintWatch : public QObject {
public:
    PaintWatch(std::function<bool()> ready, std::function<void()> done)
        : m_ready(std::move(ready))
        , m_done(std::move(done)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen && m_ready()) {
            m_seen = true;
            QTimer::singleShot(0, qApp, m_done); // after this paint has been drawn
        }
        return false;
    }

private:
    std::function<bool()> m_ready;
    std::function<void()> m_done;
    bool m_seen = false;
};

bool fill(const QString& path) {
    TranscriptLibrary library(path);
    const QDateTime start = QDateTime::currentDateTime().addDays(-transcriptCount);
    for (int i = 0; i < transcriptCount; ++i) {
        QList<TranscriptSegment> segments;
        for (int s = 0; s < 20; ++s)
            segments.append(
                {QStringLiteral("segment %1 of interview %2 about the harbour").arg(s).arg(i),
                 s * 5.0, s * 5.0 + 4.5});
        if (!library.store(
                {.recordingPath = QStringLiteral("/home/user/Interviews/Interview %1.mp3")
                                      .arg(i, 4, 10, QLatin1Char('0')),
                 .engine = QStringLiteral("On-device (PocketSphinx)"),
                 .model = QStringLiteral("en-us"),
                 .language = QStringLiteral("en-US"),
                 .duration = 1800.0,
                 .createdAt = start.addSecs(i * 86400LL),
                 .segments = segments}))
            return false;
    }
    return true;
}

// One round: the main window shown, then the Library window opened; prints milliseconds.
int openOnce(const QString& path, const QString& settings) {
    QtFileDialogs dialogs;
    TranscriptionViewModel vm(
        {std::make_unique<ProviderStore>(
             KeychainHelper::shared(), std::make_unique<QSettings>(settings, QSettings::IniFormat)),
         std::make_unique<TranscriptionService>(), std::make_unique<ExternalTranscriptionService>(),
         &KeychainHelper::shared(), &dialogs, std::make_shared<TranscriptLibrary>(path)});
    MainWindow window(vm, KeychainHelper::shared(), dialogs);
    QElapsedTimer clock;
    qint64 elapsed = -1;
    QTableView* list = nullptr;
    PaintWatch listed([&] { return list && list->model()->rowCount() == transcriptCount; },
                      [&] {
                          elapsed = clock.nsecsElapsed();
                          QApplication::quit();
                      });
    PaintWatch shown([] { return true; },
                     [&] {
                         clock.start();
                         window.openLibrary();
                         for (QTableView* table :
                              window.libraryWindow()->findChildren<QTableView*>()) {
                             if (table->accessibleName() == QLatin1String("Transcripts"))
                                 list = table;
                         }
                         list->viewport()->installEventFilter(&listed);
                     });
    window.centralWidget()->installEventFilter(&shown);
    window.resize(720, 760);
    window.show();
    QApplication::exec();
    std::printf("%.3f\n", elapsed / 1e6);
    return elapsed < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--open"))
        return openOnce(args[2], args[3]);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.sqlite3"));
    const QString settings = dir.filePath(QStringLiteral("bench.conf"));
    if (!fill(path)) {
        std::fprintf(stderr, "cannot fill the library\n");
        return 1;
    }
    QList<double> times;
    for (int round = 0; round < rounds; ++round) {
        QByteArray output;
        if (bench::timeCommand(args[0], {QStringLiteral("--open"), path, settings}, &output) < 0) {
            std::fprintf(stderr, "the Library window did not open\n");
            return 1;
        }
        times.append(output.trimmed().toDouble());
    }
    std::sort(times.begin(), times.end());
    std::printf("Library window with %d transcripts, File → Library... to the list painted: "
                "best %.1f ms, worst %.1f ms (%d rounds)\n",
                transcriptCount, times.first(), times.last(), rounds);
    std::printf("library_window_open_ms: %.1f (target < 150)\n", times[rounds / 2]);
    return 0;
}
