#include "app/InstanceChannel.h"
#include "app/MainWindow.h"
#include "app/TranslationView.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/AudioFixtures.h"
#include "support/ChatFixtures.h"
#include "support/TestDoubles.h"
#include "translation/TranslationViewModel.h"

#include <QDataStream>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace vocalith;
using namespace vocalith::test;
namespace fixtures = vocalith::test::AudioFixtures;

// The real binary, run as a user runs it, against the real keyring, a loopback provider
// and real recordings.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;
    QString m_clip;

    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList& arguments, const std::function<void(QProcess&)>& meanwhile = {}) {
        QProcess process;
        process.start(QStringLiteral(VOCALITH_BINARY), arguments);
        process.waitForStarted();
        if (meanwhile)
            meanwhile(process);
        // The loopback provider answers from this thread's event loop.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120'000))
            qWarning("vocalith did not end");
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QByteArray contents(const QString& name) const { return readFile(path(name)); }

private Q_SLOTS:
    void initTestCase() {
        // The sound server stays the session's, found by its socket rather than the folder.
        qputenv("PULSE_SERVER", "unix:" + qgetenv("XDG_RUNTIME_DIR") + "/pulse/native");
        // The child inherits these: settings, work files and the window's socket stay here.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            QVERIFY(QDir().mkpath(path(QString::fromLatin1(name))));
            QFile::setPermissions(path(QString::fromLatin1(name)),
                                  QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
            qputenv(name, path(QString::fromLatin1(name)).toUtf8());
        }
        m_clip = path(u"clip.mp3"_qs);
        QVERIFY(fixtures::encodeMp3(fixtures::librivoxDirectory() +
                                        u"/sense_and_sensibility_01_austen_64kb-0880.wav"_qs,
                                    m_clip));
        QCoreApplication::setOrganizationName(u"Vocalith"_qs);
        QCoreApplication::setApplicationName(u"Vocalith"_qs);
        ProviderStore(KeychainHelper::shared())
            .addProvider(u"Loop"_qs, m_server.baseUrl(), u"chat-model"_qs, u"sk-secret"_qs);
    }

    void usage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // on standard output or error
        QTest::newRow("help") << QStringList{u"--help"_qs} << 0 << u"Usage: vocalith"_qs;
        QTest::newRow("version") << QStringList{u"--version"_qs} << 0 << u"vocalith 0.1.0"_qs;
        QTest::newRow("providers") << QStringList{u"providers"_qs} << 0
                                   << u"Loop\t"_qs + m_server.baseUrl() + u"\tchat-model"_qs;
        QTest::newRow("unknown option")
            << QStringList{u"--frobnicate"_qs} << 2 << u"Unknown option 'frobnicate'."_qs;
        QTest::newRow("misplaced") << QStringList{u"transcribe"_qs, u"a"_qs, u"--to"_qs, u"x"_qs}
                                   << 2 << u"--to does not apply to transcribe."_qs;
        QTest::newRow("unknown engine")
            << QStringList{u"transcribe"_qs, u"a"_qs, u"--engine"_qs, u"Nobody"_qs} << 2
            << u"No provider is named \"Nobody\""_qs;
        QTest::newRow("stdout for two")
            << QStringList{u"transcribe"_qs, u"a"_qs, u"b"_qs, u"-o"_qs, u"-"_qs} << 2
            << u"--output - takes one input only."_qs;
        QTest::newRow("check a non-subtitle")
            << QStringList{u"check"_qs, m_clip} << 2 << m_clip + u": Not a UTF-8 text file."_qs;
        // Refused before any job is paid for.
        QTest::newRow("two inputs, one output file")
            << QStringList{u"transcribe"_qs, m_clip, path(u"b.mp3"_qs), u"-o"_qs,
                           path(u"notes.txt"_qs)}
            << 2 << u"would both be written to "_qs + path(u"notes.txt"_qs);
        QTest::newRow("two inputs, one name")
            << QStringList{u"transcribe"_qs, m_clip, path(u"clip.m4a"_qs)} << 2
            << u"would both be written to "_qs + path(u"clip.txt"_qs);
        QTest::newRow("listen to a file")
            << QStringList{u"listen"_qs, m_clip} << 2 << u"listen takes no files"_qs;
        QTest::newRow("unknown microphone") << QStringList{u"listen"_qs, u"--device"_qs, u"Nope"_qs}
                                            << 2 << u"No microphone is named \"Nope\""_qs;
        QTest::newRow("devices") << QStringList{u"devices"_qs} << 0 << u"TestMic\tmic"_qs;
        QTest::newRow("missing folder")
            << QStringList{u"transcribe"_qs, m_clip, u"-o"_qs, path(u"nowhere/"_qs)} << 2
            << u"No such folder: "_qs + path(u"nowhere/"_qs);
    }
    void usage() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        const qsizetype requestsBefore = m_server.requests().size();
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(QByteArray(result.out + result.err).contains(printed.toUtf8()),
                 result.err.constData());
        QVERIFY(!result.out.contains("sk-secret"));
        QCOMPARE(m_server.requests().size(), requestsBefore);
        QVERIFY(!QFile::exists(path(u"clip.txt"_qs)) && !QFile::exists(path(u"notes.txt"_qs)));
    }

    // A failing file does not stop the others; a file, standard output and WebVTT agree.
    void transcribeInEveryForm() {
        const Run batch =
            run({u"transcribe"_qs, path(u"missing.mp3"_qs), m_clip, u"--format"_qs, u"srt"_qs});
        QCOMPARE(batch.exitCode, 1);
        QVERIFY2(batch.err.contains("missing.mp3: Failed to convert audio"), batch.err);
        QVERIFY(batch.err.contains("Transcribing chunk 1 of 1...")); // plain lines off a terminal

        QVERIFY(contents(u"clip.srt"_qs).startsWith("1\n00:00:0"));
        // Broadcast lines, then the checker on what was written.
        const QString laidOut = path(u"broadcast.srt"_qs);
        QVERIFY(run({u"transcribe"_qs, m_clip, u"--format"_qs, u"srt"_qs, u"--lines"_qs,
                     u"broadcast"_qs, u"-o"_qs, laidOut})
                    .err.contains("Saved; "));
        const Run check = run({u"check"_qs, laidOut, u"--max-cps"_qs, u"40"_qs});
        QCOMPARE(check.exitCode, 0);
        QCOMPARE(check.out, QByteArray());
        QCOMPARE(run({u"transcribe"_qs, m_clip, u"--format"_qs, u"srt"_qs, u"-o"_qs, u"-"_qs}).out,
                 contents(u"clip.srt"_qs));

        // WebVTT into a directory: ffmpeg reads back the same cues as from the SRT.
        QVERIFY(QDir().mkpath(path(u"out"_qs)));
        QCOMPARE(run({u"transcribe"_qs, m_clip, u"--format"_qs, u"vtt"_qs, u"--output"_qs,
                      path(u"out"_qs), u"-q"_qs})
                     .err,
                 QByteArray());
        const auto cues = [&](const QString& file) {
            QProcess ffmpeg;
            ffmpeg.start(u"ffmpeg"_qs, {u"-v"_qs, u"error"_qs, u"-i"_qs, path(file), u"-f"_qs,
                                        u"srt"_qs, u"-"_qs});
            ffmpeg.waitForFinished();
            return ffmpeg.readAllStandardOutput();
        };
        QVERIFY(!cues(u"out/clip.vtt"_qs).isEmpty());
        QCOMPARE(cues(u"out/clip.vtt"_qs), cues(u"clip.srt"_qs));
    }

    void translateThroughTheProvider() {
        const QString input = writeFile(path(u"hello.txt"_qs), "Hello, world");
        m_server.enqueue({200, chatAnswer(u"Bonjour, le monde"_qs)});
        const QString context = writeFile(path(u"context.txt"_qs), "Say \xc2\xabmonde\xc2\xbb.");
        const Run result = run({u"translate"_qs, input, u"--provider"_qs, u"LOOP"_qs, u"--to"_qs,
                                u"french"_qs, u"--context-file"_qs, context});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(contents(u"hello_translated.txt"_qs), QByteArray("Bonjour, le monde"));
        QCOMPARE(m_server.requests().last().header("Authorization"),
                 QByteArray("Bearer sk-secret"));
        QVERIFY(m_server.requests().last().body.contains("French"));
        QVERIFY(m_server.requests().last().body.contains("tone:\\nSay \xc2\xabmonde\xc2\xbb."));
    }

    // What a server says reaches the terminal without its control characters; a job
    // with nothing to write is a failure, not a silent success.
    void serverAnswersAreChecked() {
        const QString input = writeFile(path(u"quiet.txt"_qs), "Hello");
        const QStringList translate{u"translate"_qs, input,      u"--provider"_qs,
                                    u"Loop"_qs,      u"--to"_qs, u"German"_qs};
        m_server.enqueue({401, "\x1b]0;owned\x07\x1b[2Jdenied\rgone"});
        Run result = run(translate);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("API error (HTTP 401): \xEF\xBF\xBD]0;owned\xEF\xBF\xBD"),
                 result.err);
        QVERIFY(!result.err.contains('\x1b') && !result.err.contains('\r'));

        m_server.enqueue({200, chatAnswer(u" \n\t "_qs)});
        result = run(translate);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("quiet.txt: The result is empty; nothing was written."),
                 result.err);
        QVERIFY(!QFile::exists(path(u"quiet_translated.txt"_qs)));
    }

    // Ctrl+C between two files starts no other job: the second request is never sent.
    void interruptStartsNothingMore() {
        const QStringList inputs{writeFile(path(u"one.txt"_qs), "One"),
                                 writeFile(path(u"two.txt"_qs), "Two")};
        const qsizetype before = m_server.requests().size();
        m_server.enqueue({200, {}, LoopbackHttpServer::Delivery::neverAnswer});
        const Run result =
            run({u"translate"_qs, inputs[0], inputs[1], u"--provider"_qs, u"Loop"_qs, u"--to"_qs,
                 u"German"_qs},
                [&](QProcess& process) {
                    QVERIFY(QTest::qWaitFor([&] { return m_server.requests().size() > before; },
                                            20'000));
                    ::kill(pid_t(process.processId()), SIGINT);
                });
        QCOMPARE(result.exitCode, 130);
        QTest::qWait(200);
        QCOMPARE(m_server.requests().size(), before + 1);
    }

    // Ctrl+C stops the job and leaves neither output nor work files.
    // SIGTERM is handled as Ctrl+C, with its own status; a second signal ends at once.
    void interruptLeavesNothing_data() {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("Ctrl+C") << QList<int>{SIGINT} << 130;
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << 143;
        QTest::newRow("SIGTERM twice") << QList<int>{SIGTERM, SIGTERM} << 143;
    }
    void interruptLeavesNothing() {
        QFETCH(QList<int>, sent);
        QFETCH(int, exitCode);
        const QString longFile = path(u"long.mp3"_qs);
        if (!QFile::exists(longFile))
            QVERIFY(fixtures::ffmpeg(
                {u"-stream_loop"_qs, u"20"_qs, u"-i"_qs, m_clip, u"-c"_qs, u"copy"_qs, longFile}));
        const Run result = run({u"transcribe"_qs, longFile}, [&](QProcess& process) {
            QByteArray progress;
            QVERIFY(QTest::qWaitFor(
                [&] {
                    progress += process.readAllStandardError();
                    return progress.contains("Transcribing chunk");
                },
                60'000));
            for (const int number : sent)
                ::kill(pid_t(process.processId()), number);
        });
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY(!QFile::exists(path(u"long.txt"_qs)));
        QCOMPARE(QDir(path(u"XDG_CACHE_HOME/Vocalith"_qs)).entryList(QDir::Files), QStringList{});
    }

    // A reader into the microphone: each utterance is printed as it ends; the transcript
    // is written after the duration, or on Ctrl+C, and the recording kept on request.
    void listen() {
        QProcess reader;
        const auto readAloud = [&](QProcess& listener) {
            QByteArray said;
            QVERIFY(QTest::qWaitFor(
                [&] { return (said += listener.readAllStandardError()).contains("Listening to"); },
                20'000));
            reader.start(u"paplay"_qs, {u"-d"_qs, u"speech"_qs,
                                        fixtures::librivoxDirectory() +
                                            u"/sense_and_sensibility_01_austen_64kb-0870.wav"_qs});
        };
        const Run timed =
            run({u"listen"_qs, u"--duration"_qs, u"9"_qs, u"--format"_qs, u"srt"_qs, u"-o"_qs,
                 path(u"live.srt"_qs), u"--keep-audio"_qs, path(u"live.flac"_qs)},
                readAloud);
        reader.waitForFinished();
        QCOMPARE(timed.exitCode, 0);
        const QRegularExpression line(u"^\\[0:00:0\\d\\] \\S+( \\S+)+$"_qs,
                                      QRegularExpression::MultilineOption);
        QVERIFY2(line.match(QString::fromUtf8(timed.out)).hasMatch(), timed.out.constData());
        QVERIFY2(contents(u"live.srt"_qs).startsWith("1\n00:00:0"), contents(u"live.srt"_qs));
        QVERIFY(QFileInfo(path(u"live.flac"_qs)).size() > 50'000);

        QByteArray printed;
        const Run stopped = run({u"listen"_qs, u"-o"_qs, path(u"live.txt"_qs)}, [&](QProcess& p) {
            readAloud(p);
            QVERIFY(QTest::qWaitFor(
                [&] { return (printed += p.readAllStandardOutput()).contains('\n'); }, 20'000));
            ::kill(pid_t(p.processId()), SIGINT);
        });
        reader.waitForFinished();
        QVERIFY2(stopped.exitCode == 0, stopped.err.constData());
        const QByteArray firstWords = printed.split('\n').first().mid(10);
        QVERIFY2(contents(u"live.txt"_qs).startsWith(firstWords), printed.constData());
    }

    // A second start hands its file to the open window, which loads it on the right tab.
    // Without a session's runtime folder the socket lives in a folder of the user's own,
    // and a message no list of paths would make is refused before it is read.
    void filesFromTheDesktop() {
        {
            const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
            qunsetenv("XDG_RUNTIME_DIR");
            const QFileInfo folder(QFileInfo(InstanceChannel::serverName()).absolutePath());
            qputenv("XDG_RUNTIME_DIR", runtime);
            QVERIFY(folder.isDir() && folder.ownerId() == getuid());
            QCOMPARE(folder.permissions() & 0x0077, QFile::Permissions());
        }
        QVERIFY(InstanceChannel::isPlausible({}));
        QVERIFY(!InstanceChannel::isPlausible(QByteArray("\xff\xff\xff\xf0", 4)));
        QVERIFY(!InstanceChannel::isPlausible(QByteArray(InstanceChannel::maxMessageBytes + 1, 0)));
        QByteArray list;
        QDataStream stream(&list, QIODevice::WriteOnly);
        stream << QStringList{u"/tmp/a.mp3"_qs};
        QVERIFY(InstanceChannel::isPlausible(list));

        InstanceChannel channel;
        QVERIFY(channel.listen());
        QStringList received;
        connect(&channel, &InstanceChannel::filesReceived, this,
                [&](const QStringList& files) { received = files; });
        QCOMPARE(run({u"hello.txt"_qs}).exitCode, 0);
        QCOMPARE(received, QStringList{QDir::current().absoluteFilePath(u"hello.txt"_qs)});

        TestController controller;
        MainWindow window(*controller.vm, KeychainHelper::shared(), controller.dialogs);
        window.openFiles({m_clip, path(u"hello.txt"_qs)});
        QCOMPARE(controller.vm->audioFileURL(), QUrl::fromLocalFile(m_clip));
        QCOMPARE(window.tabs()->currentIndex(), 1);
        QCOMPARE(window.translationView()->viewModel().inputText(), u"Hello, world"_qs);
    }

    void cleanupTestCase() {
        ProviderStore store(KeychainHelper::shared());
        for (const CustomProvider& provider : store.providers())
            store.deleteProvider(provider);
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
