// Makes the README's screenshots from the real window: a LibriVox recording
// transcribed on the device, and a subtitle file translated through a loopback
// provider. Usage: readme_screenshots <output directory> [WIDTHxHEIGHT] [dark]
// (a size and a dark Fusion palette, for checking the window as a user would see it)
#include "app/MainWindow.h"
#include "app/QtFileDialogs.h"
#include "app/TranslationView.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/AudioFixtures.h"
#include "support/ChatFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QStringList size =
        argc > 2 ? QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x')) : QStringList();
    if (argc > 3 && qstrcmp(argv[3], "dark") == 0) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark(QColor(53, 53, 53));
        dark.setColor(QPalette::Window, QColor(37, 37, 38));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(QPalette::PlaceholderText, QColor(160, 160, 160));
        QApplication::setPalette(dark);
    }
    QTemporaryDir dir;

    test::LoopbackHttpServer server;
    server.setResponder(test::echoingChat([](const QString& text) {
        QString german = text;
        return german
            .replace(QStringLiteral("Hello, how are you?"),
                     QStringLiteral("Hallo, wie geht es dir?"))
            .replace(QStringLiteral("I am fine, thank you."),
                     QStringLiteral("Mir geht es gut, danke."));
    }));

    QtFileDialogs dialogs;
    TranscriptionViewModel vm(
        {std::make_unique<ProviderStore>(
             KeychainHelper::shared(),
             std::make_unique<QSettings>(dir.filePath(QStringLiteral("s.conf")),
                                         QSettings::IniFormat)),
         std::make_unique<TranscriptionService>(nullptr, nullptr, dir.path()),
         std::make_unique<ExternalTranscriptionService>(), &KeychainHelper::shared(), &dialogs});
    vm.providerStore().addProvider(QStringLiteral("Groq Whisper"), server.baseUrl(),
                                   QStringLiteral("whisper-large-v3"), QStringLiteral("sk-demo"));
    vm.providerStore().addProvider(QStringLiteral("Groq Llama"), server.baseUrl(),
                                   QStringLiteral("llama-3.3-70b-versatile"),
                                   QStringLiteral("sk-demo"));
    MainWindow window(vm, KeychainHelper::shared(), dialogs);
    dialogs.setParent(&window);
    window.resize(size.size() == 2 ? QSize(size[0].toInt(), size[1].toInt()) : QSize(720, 820));
    window.show();
    QTest::qWait(200);

    const QString mp3 = dir.filePath(QStringLiteral("Sense and Sensibility.mp3"));
    fixtures::encodeMp3(fixtures::librivoxDirectory() +
                            QStringLiteral("/sense_and_sensibility_01_austen_64kb-0920.wav"),
                        mp3);
    vm.setSelectedLanguage(TranscriptionLanguage::english);
    vm.loadFile(QUrl::fromLocalFile(mp3));
    vm.startTranscription();
    if (!QTest::qWaitFor([&] { return !vm.isTranscribing(); }, 60'000))
        return 1;
    QTest::qWait(300);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QFileDialog*>(widget))
            widget->close(); // the save dialog that opens after every job
    }
    QTest::qWait(200);
    window.grab().save(out.filePath(QStringLiteral("transcribe.png")));
    if (size.size() == 2) { // the checking run also shows an error next to the result
        vm.setErrorMessage(QStringLiteral("API error (HTTP 502): <html><body>Bad gateway, the "
                                          "upstream server did not answer in time.</body></html>"));
        QTest::qWait(200);
        window.grab().save(out.filePath(QStringLiteral("transcribe-error.png")));
        vm.setErrorMessage(std::nullopt);
        vm.setShowSuccessBanner(false);
        vm.setNoticeMessage(QStringLiteral("Transcription was cancelled."));
        QTest::qWait(200);
        window.grab().save(out.filePath(QStringLiteral("transcribe-cancelled.png")));
        // A minute of speech, caught while it runs: progress with the time left.
        const QString minute = dir.filePath(QStringLiteral("minute.mp3"));
        fixtures::ffmpeg({QStringLiteral("-stream_loop"), QStringLiteral("10"),
                          QStringLiteral("-i"), mp3, QStringLiteral("-c"), QStringLiteral("copy"),
                          minute});
        vm.loadFile(QUrl::fromLocalFile(minute));
        vm.startTranscription();
        if (!QTest::qWaitFor([&] { return !vm.timeLeft().isEmpty(); }, 60'000))
            return 1;
        window.grab().save(out.filePath(QStringLiteral("transcribe-running.png")));
        vm.cancelTranscription();
        vm.loadFile(QUrl::fromLocalFile(mp3));
    }

    window.tabs()->setCurrentIndex(1);
    QTest::qWait(200);
    TranslationViewModel& translation = window.translationView()->viewModel();
    translation.setSelectedProvider(vm.providerStore().providers().last());
    QFile srt(dir.filePath(QStringLiteral("episode.srt")));
    srt.open(QIODevice::WriteOnly);
    srt.write("1\n00:00:01,000 --> 00:00:03,000\nHello, how are you?\n\n"
              "2\n00:00:03,500 --> 00:00:05,000\nI am fine, thank you.\n");
    srt.close();
    translation.loadFile(QUrl::fromLocalFile(srt.fileName()));
    translation.setTargetLanguage(QStringLiteral("German"));
    translation.startTranslation();
    if (!QTest::qWaitFor([&] { return !translation.isTranslating(); }, 20'000))
        return 1;
    QTest::qWait(300);
    window.grab().save(out.filePath(QStringLiteral("translate.png")));
    if (size.size() == 2) { // and the hint a speech model gets
        translation.setSelectedProvider(vm.providerStore().providers().first());
        QTest::qWait(200);
        window.grab().save(out.filePath(QStringLiteral("translate-hint.png")));
    }
    while (!vm.providerStore().providers().isEmpty())
        vm.providerStore().deleteProvider(vm.providerStore().providers().first());
    return 0;
}
