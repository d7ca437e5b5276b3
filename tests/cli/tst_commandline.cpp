#include "app/InstanceChannel.h"
#include "app/MainWindow.h"
#include "app/TranslationView.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/AudioFixtures.h"
#include "support/ChatFixtures.h"
#include "support/TestDoubles.h"
#include "translation/TranslationViewModel.h"

#include <QDataStream>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    QString m_reading; // a minute and a half of one reader, read again and again

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
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 300'000))
            qWarning("vocalith did not end");
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // A reader who reads on into the microphone until stopped; ready once the speech
    // sink's monitor hears the voice, as a sink that was idle renders its first sound late.
    void startReading(QProcess& reader) {
        QProcess monitor;
        monitor.start(u"parec"_qs, {u"-d"_qs, u"speech.monitor"_qs, u"--raw"_qs,
                                    u"--format=s16le"_qs, u"--channels=1"_qs});
        reader.start(u"paplay"_qs, {u"-d"_qs, u"speech"_qs, m_reading});
        QVERIFY(monitor.waitForStarted() && reader.waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QByteArray heard = monitor.readAllStandardOutput();
                const auto* samples = reinterpret_cast<const qint16*>(heard.constData());
                return std::any_of(samples, samples + heard.size() / 2,
                                   [](qint16 sample) { return std::abs(sample) > 300; });
            },
            120'000));
        monitor.kill();
        monitor.waitForFinished();
    }
    QByteArray contents(const QString& name) const { return readFile(path(name)); }

private Q_SLOTS:
    void initTestCase() {
        // The sound server stays the session's, found by its socket rather than the folder.
        qputenv("PULSE_SERVER", "unix:" + qgetenv("XDG_RUNTIME_DIR") + "/pulse/native");
        // The child inherits these: settings, work files and the window's socket stay here.
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"}) {
            QVERIFY(QDir().mkpath(path(QString::fromLatin1(name))));
            QFile::setPermissions(path(QString::fromLatin1(name)),
                                  QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
            qputenv(name, path(QString::fromLatin1(name)).toUtf8());
        }
        m_clip = path(u"clip.mp3"_qs);
        QVERIFY(fixtures::encodeMp3(fixtures::librivoxDirectory() +
                                        u"/sense_and_sensibility_01_austen_64kb-0880.wav"_qs,
                                    m_clip));
        m_reading = path(u"reading.wav"_qs);
        QVERIFY(fixtures::ffmpeg(
            {u"-stream_loop"_qs, u"12"_qs, u"-i"_qs,
             fixtures::librivoxDirectory() + u"/sense_and_sensibility_01_austen_64kb-0870.wav"_qs,
             u"-c"_qs, u"copy"_qs, m_reading}));
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
        QTest::newRow("speakers on the device")
            << QStringList{u"transcribe"_qs, m_clip, u"--speakers"_qs} << 2
            << u"The on-device engine does not identify speakers."_qs;
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

    // Each transcript made is kept: listed, found by its words at their time, written again.
    void keepsEveryTranscript() {
        const auto listed = [&] {
            return QJsonDocument::fromJson(run({u"library"_qs, u"--json"_qs}).out).array();
        };
        const qsizetype before = listed().size();
        QCOMPARE(run({u"transcribe"_qs, m_clip, u"--no-library"_qs, u"-o"_qs, u"-"_qs}).exitCode,
                 0);
        QCOMPARE(listed().size(), before);
        const Run made =
            run({u"transcribe"_qs, m_clip, u"--format"_qs, u"json"_qs, u"-o"_qs, u"-"_qs});
        QCOMPARE(made.exitCode, 0);
        const QJsonArray library = listed();
        QCOMPARE(library.size(), before + 1);
        const QJsonObject newest = library[0].toObject();
        QCOMPARE(newest.value(u"recording"_qs).toString(), m_clip);
        QVERIFY(newest.value(u"duration"_qs).toDouble() > 2.0);
        const QString id = QString::number(newest.value(u"id"_qs).toInteger());

        // The file written and the one exported agree.
        const QJsonObject json = QJsonDocument::fromJson(made.out).object();
        QCOMPARE(run({u"export"_qs, id, u"--format"_qs, u"json"_qs}).out, made.out);
        QVERIFY(run({u"export"_qs, id, u"--format"_qs, u"srt"_qs, u"-o"_qs, path(u"again.srt"_qs)})
                    .exitCode == 0);
        QCOMPARE(contents(u"again.srt"_qs), run({u"transcribe"_qs, m_clip, u"--format"_qs,
                                                 u"srt"_qs, u"--no-library"_qs, u"-o"_qs, u"-"_qs})
                                                .out);

        const QJsonObject word = json.value(u"segments"_qs)
                                     .toArray()
                                     .last()
                                     .toObject()
                                     .value(u"words"_qs)
                                     .toArray()
                                     .last()
                                     .toObject();
        const Run found = run({u"search"_qs, word.value(u"word"_qs).toString(), u"--json"_qs});
        QCOMPARE(found.exitCode, 0);
        const auto hits = QJsonDocument::fromJson(found.out).array();
        QVERIFY(std::any_of(hits.begin(), hits.end(), [&](const QJsonValue& hit) {
            return hit[u"id"_qs].toInteger() == id.toLongLong() &&
                   qAbs(hit[u"time"_qs].toDouble() - word.value(u"start"_qs).toDouble()) < 0.01;
        }));
        const QByteArray line = run({u"search"_qs, word.value(u"word"_qs).toString()}).out;
        QVERIFY2(line.startsWith("clip.mp3 [0:00:0"), line);

        const Run nothing = run({u"search"_qs, u"\"unbalanced"_qs, u"AND"_qs, u"*"_qs});
        QCOMPARE(nothing.exitCode, 1);
        QCOMPARE(nothing.out + nothing.err, QByteArray());
        QCOMPARE(run({u"export"_qs, u"999999"_qs}).exitCode, 1);

        // One hit or transcript a line, whatever the recording is called.
        QVERIFY(TranscriptLibrary().store({.recordingPath = path(u"two\nlines\t.mp3"_qs),
                                           .segments = {{u"zyxwords"_qs, 1.0, 2.0}}}));
        QCOMPARE(run({u"search"_qs, u"zyxwords"_qs}).out.count('\n'), 1);
        QCOMPARE(run({u"library"_qs}).out.count('\n'), listed().size());
    }

    // A file copied in slowly is transcribed once, after it stopped growing; files there
    // before are left alone unless asked; Ctrl+C ends watching, and so does the folder going.
    void watchesAFolder() {
        const QString folder = path(u"watched"_qs);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(m_clip, folder + u"/before.mp3"_qs));
        const QByteArray expected =
            run({u"transcribe"_qs, m_clip, u"--no-library"_qs, u"-o"_qs, u"-"_qs}).out;
        const auto watch = [&](const QStringList& options, QProcess& watcher) {
            watcher.start(QStringLiteral(VOCALITH_BINARY),
                          QStringList{u"watch"_qs, folder, u"--no-library"_qs} + options);
            QByteArray said;
            QVERIFY(QTest::qWaitFor(
                [&] { return (said += watcher.readAllStandardError()).contains("Watching"); },
                300'000));
        };
        QProcess watcher;
        watch({}, watcher);
        const QByteArray audio = readFile(m_clip);
        QFile slow(folder + u"/slow.mp3"_qs);
        QVERIFY(slow.open(QIODevice::WriteOnly));
        for (int piece = 0; piece < 3; ++piece) { // a writer that pauses under two seconds
            const qsizetype from = piece * audio.size() / 3;
            slow.write(audio.mid(from, (piece + 1) * audio.size() / 3 - from));
            slow.flush();
            QTest::qWait(1500);
        }
        slow.close();
        QByteArray printed;
        QVERIFY(QTest::qWaitFor(
            [&] { return (printed += watcher.readAllStandardOutput()).contains('\n'); }, 300'000));
        QCOMPARE(printed, (folder + u"/slow.mp3\t"_qs + folder + u"/slow.txt\n"_qs).toUtf8());
        QCOMPARE(readFile(folder + u"/slow.txt"_qs), expected);
        QVERIFY(!QFile::exists(folder + u"/before.txt"_qs));
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(watcher.waitForFinished(300'000));
        QCOMPARE(watcher.exitCode(), 1);
        QVERIFY(watcher.readAllStandardError().contains("is gone; watching stopped."));

        QVERIFY(QDir().mkpath(folder) && QFile::copy(m_clip, folder + u"/before.mp3"_qs));
        QProcess existing;
        watch({u"--existing"_qs, u"--format"_qs, u"srt"_qs}, existing);
        QVERIFY(
            QTest::qWaitFor([&] { return QFile::exists(folder + u"/before.srt"_qs); }, 300'000));
        ::kill(pid_t(existing.processId()), SIGINT);
        QVERIFY(existing.waitForFinished(300'000));
        QCOMPARE(existing.exitCode(), 0);
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

        // Subtitles laid out anew in the translation's own lines, as the window saves them.
        const QByteArray times = "1\n00:00:01,000 --> 00:00:06,000\n";
        const QString srt = writeFile(path(u"talk.srt"_qs), times + "Hello everyone\n");
        m_server.enqueue({200, chatAnswer(QString::fromUtf8(
                                   times + "Bonjour \xc3\xa0 tous et bienvenue dans cette "
                                           "conf\xc3\xa9rence sur les sous-titres"))});
        const Run laidOut = run({u"translate"_qs, srt, u"--provider"_qs, u"Loop"_qs, u"--to"_qs,
                                 u"French"_qs, u"--lines"_qs, u"broadcast"_qs});
        QVERIFY2(laidOut.exitCode == 0 && laidOut.err.contains("Saved; "), laidOut.err);
        QCOMPARE(contents(u"talk_translated.srt"_qs),
                 times + "Bonjour \xc3\xa0 tous et bienvenue\ndans cette conf\xc3\xa9rence sur "
                         "les sous-titres");
    }

    // --speakers asks the provider (its setting left as it is); --speaker-names names cues.
    void speakersThroughTheProvider() {
        m_server.enqueue({200, R"({"segments":[{"start":0,"end":1,"text":"Hi.","speaker":"S_1"},)"
                               R"({"start":1,"end":2,"text":"Hello.","speaker":"S_0"}]})"});
        const Run result = run({u"transcribe"_qs, m_clip, u"--engine"_qs, u"Loop"_qs,
                                u"--speakers"_qs, u"--speaker-names"_qs, u"--format"_qs, u"srt"_qs,
                                u"--no-library"_qs, u"-o"_qs, u"-"_qs});
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QCOMPARE(result.out, QByteArray("1\n00:00:00,000 --> 00:00:01,000\nSpeaker 1: Hi.\n\n2\n"
                                        "00:00:01,000 --> 00:00:02,000\nSpeaker 2: Hello.\n\n"));
        QVERIFY(m_server.requests().last().body.contains("name=\"diarize\"\r\n\r\ntrue\r\n"));
        QVERIFY(!ProviderStore(KeychainHelper::shared()).providers().first().identifySpeakers);
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
                                            300'000));
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
                300'000));
            for (const int number : sent)
                ::kill(pid_t(process.processId()), number);
        });
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY(!QFile::exists(path(u"long.txt"_qs)));
        QCOMPARE(QDir(path(u"XDG_CACHE_HOME/Vocalith"_qs)).entryList(QDir::Files), QStringList{});
    }

    // Each utterance is printed as it ends, on standard error when the transcript goes to
    // standard output; the transcript is written after the duration, or on Ctrl+C, and
    // the recording kept beside its target and renamed into place.
    void listen_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("interrupt");     // Ctrl+C after the first line, else the duration
        QTest::addColumn<QString>("transcript"); // a file, or "-"
        QTest::addColumn<QString>("kept");       // the recording, if kept
        const QStringList toStandardOutput{u"--duration"_qs, u"6"_qs,  u"--format"_qs,
                                           u"srt"_qs,        u"-o"_qs, u"-"_qs};
        QTest::newRow("SRT on standard output, kept in a folder")
            << toStandardOutput + QStringList{u"--keep-audio"_qs, path(u"recs/"_qs)} << false
            << u"-"_qs << path(u"recs"_qs);
        // Kept where it is recorded: left there, not copied onto itself nor removed.
        const QString recordings = path(u"XDG_CACHE_HOME/Vocalith/recordings"_qs);
        QTest::newRow("quiet, kept in the recordings folder")
            << toStandardOutput + QStringList{u"-q"_qs, u"--keep-audio"_qs, recordings + u'/'}
            << false << u"-"_qs << recordings;
        QTest::newRow("Ctrl+C, kept over a file")
            << QStringList{u"-o"_qs, path(u"live.txt"_qs), u"--keep-audio"_qs,
                           path(u"live.flac"_qs)}
            << true << path(u"live.txt"_qs) << path(u"live.flac"_qs);
    }
    void listen() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, interrupt);
        QFETCH(QString, transcript);
        QFETCH(QString, kept);
        const bool quiet = arguments.contains(u"-q"_qs);
        QVERIFY(QDir().mkpath(path(u"recs"_qs)));
        QVERIFY(QDir().mkpath(path(u"XDG_CACHE_HOME/Vocalith/recordings"_qs)));
        // A file there is replaced, not written over: a link to it keeps the old bytes.
        QFile::remove(path(u"live.flac"_qs));
        writeFile(path(u"link.flac"_qs), "an older recording");
        QCOMPARE(::link(qPrintable(path(u"link.flac"_qs)), qPrintable(path(u"live.flac"_qs))), 0);
        QProcess reader;
        startReading(reader);
        QByteArray lines;
        const Run result = run(QStringList{u"listen"_qs} + arguments, [&](QProcess& listener) {
            if (interrupt) {
                QVERIFY(QTest::qWaitFor(
                    [&] { return (lines += listener.readAllStandardOutput()).contains('\n'); },
                    300'000));
                ::kill(pid_t(listener.processId()), SIGINT);
            }
        });
        reader.kill();
        reader.waitForFinished();
        QVERIFY2(result.exitCode == 0, result.err.constData());
        const bool toStandardOutput = transcript == u"-"_qs;
        lines += toStandardOutput ? result.err : result.out;
        const QRegularExpression line(u"^\\[0:00:0\\d\\] \\S+( \\S+)*$"_qs,
                                      QRegularExpression::MultilineOption);
        QCOMPARE(line.match(QString::fromUtf8(lines)).hasMatch(), !quiet);
        QCOMPARE(result.err.contains("Finishing: transcribing the last"), !quiet);
        const QByteArray written = toStandardOutput ? result.out : readFile(transcript);
        if (interrupt)
            QVERIFY2(written.startsWith(lines.split('\n').first().mid(10)), lines.constData());
        else
            QVERIFY2(written.startsWith("1\n00:00:0") && !written.contains("[0:"), written);
        if (!kept.isEmpty()) {
            const QFileInfo file(QFileInfo(kept).isDir()
                                     ? QDir(kept).entryInfoList(QDir::Files).value(0)
                                     : QFileInfo(kept));
            QVERIFY2(file.size() > 50'000 && readFile(file.filePath()).startsWith("fLaC"),
                     qPrintable(file.filePath()));
            // The library finds the recording where it was kept.
            const QJsonArray library =
                QJsonDocument::fromJson(run({u"library"_qs, u"--json"_qs}).out).array();
            QCOMPARE(library[0][u"recording"_qs].toString(), file.absoluteFilePath());
        }
        QCOMPARE(contents(u"link.flac"_qs), QByteArray("an older recording"));
    }

    // Ctrl+C ends the recording; its last part is transcribed however long the provider
    // takes, and a second Ctrl+C still ends at once.
    void listenFinishesWhatWasRecorded_data() {
        QTest::addColumn<int>("interrupts");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("Ctrl+C") << 1 << 0;
        QTest::newRow("Ctrl+C twice") << 2 << 130;
    }
    void listenFinishesWhatWasRecorded() {
        QFETCH(int, interrupts);
        QFETCH(int, exitCode);
        LoopbackHttpServer::Response slow(
            200, R"({"text":"heard late","segments":[{"start":0,"end":1,"text":"heard late"}]})");
        slow.delayMs = 20'000;
        m_server.enqueue(slow);
        const qsizetype before = m_server.requests().size();
        const QString transcript = path(u"late.txt"_qs);
        const QDir recordings(path(u"XDG_CACHE_HOME/Vocalith/recordings"_qs));
        const QStringList earlier = recordings.entryList(QDir::Files);
        QProcess reader;
        startReading(reader);
        const Run result =
            run({u"listen"_qs, u"--engine"_qs, u"Loop"_qs, u"-o"_qs, transcript}, [&](QProcess& p) {
                // A second or two of the reader in this recording, then Ctrl+C.
                QVERIFY(QTest::qWaitFor(
                    [&] {
                        const QFileInfoList files = recordings.entryInfoList(QDir::Files);
                        return std::any_of(files.cbegin(), files.cend(), [&](const QFileInfo& f) {
                            return f.size() > 30'000 && !earlier.contains(f.fileName());
                        });
                    },
                    300'000));
                ::kill(pid_t(p.processId()), SIGINT);
                QVERIFY(
                    QTest::qWaitFor([&] { return m_server.requests().size() > before; }, 300'000));
                if (interrupts > 1)
                    ::kill(pid_t(p.processId()), SIGINT);
            });
        reader.kill();
        reader.waitForFinished();
        QVERIFY2(result.exitCode == exitCode && result.err.contains("Finishing: transcribing"),
                 result.err.constData());
        QCOMPARE(readFile(transcript), exitCode == 0 ? QByteArray("heard late") : "<missing>");
        QFile::remove(transcript);
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
