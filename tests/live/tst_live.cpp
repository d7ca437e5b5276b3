#include "live/FlacRecorder.h"
#include "live/LiveTranscription.h"
#include "live/MicrophoneCapture.h"
#include "live/SampleResampler.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "transcription/AudioConverter.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/PauseDetector.h"
#include "transcription/SoundFile.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>

#include <sys/resource.h>

using namespace vocalith;
using namespace vocalith::test;

namespace {

constexpr int rate = 16000;

std::vector<short> readSamples(const QString& path) {
    SF_INFO info{};
    const SoundFile file(sf_open(path.toUtf8().constData(), SFM_READ, &info));
    std::vector<short> samples(size_t(info.frames));
    sf_read_short(file.get(), samples.data(), info.frames);
    return samples;
}

// Every sample a file decodes to, at 16 kHz mono.
std::vector<short> decodeAll(const QString& path) {
    std::vector<short> samples;
    const auto error = AudioConverter::decodeMono(
        path, rate,
        [&](const AudioConverter::MonoStream&, std::span<const short> block) {
            samples.insert(samples.end(), block.begin(), block.end());
            return std::optional<QString>();
        },
        nullptr);
    if (error)
        qWarning("%s: %s", qPrintable(path), qPrintable(*error));
    return error ? std::vector<short>{} : samples;
}

QStringList wordsOf(const QList<TranscriptSegment>& segments) {
    QStringList words;
    for (const TranscriptSegment& segment : segments)
        words.append(segment.text.toLower().remove(u'.'));
    return words;
}

// Plays a file into the null sink that "TestMic" hears.
QProcess* play(const QString& path, QObject* parent) {
    auto* player = new QProcess(parent);
    player->start(u"paplay"_qs, {u"-d"_qs, u"speech"_qs, path});
    return player;
}

// A disk that takes files of this process up to limit bytes, while it lives.
struct FullDisk {
    explicit FullDisk(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() { setrlimit(RLIMIT_FSIZE, &before); }
    Q_DISABLE_COPY_MOVE(FullDisk)
    rlimit before{};
    const sighandler_t oldHandler = std::signal(SIGXFSZ, SIG_IGN);
};

// The sample format ("s16le 2ch 44100Hz") of the microphone, or of this process's
// recording of it (the remap module's own stream from the sink is listed too).
QString sampleFormat(bool recording) {
    QProcess pactl;
    pactl.start(u"pactl"_qs,
                {u"list"_qs, u"short"_qs, recording ? u"source-outputs"_qs : u"sources"_qs});
    pactl.waitForFinished();
    for (const QString& line : QString::fromUtf8(pactl.readAllStandardOutput()).split(u'\n')) {
        if (line.section(u'\t', recording ? 3 : 1, recording ? 3 : 1) ==
            (recording ? u"protocol-native.c"_qs : u"mic"_qs))
            return line.section(u'\t', recording ? 4 : 3, recording ? 4 : 3);
    }
    return {};
}

// A microphone recording: started, the file played into it, then stopped when
// stopAfter seconds were heard or the file ended.
struct Session {
    LiveTranscription live;
    int partials = 0;
    int utterancesWhileRecording = 0;
};

} // namespace

class TestLive : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_book; // the five LibriVox recordings in one 16 kHz WAVE, about 25 s
    QStringList m_reference;
    QAudioDevice m_microphone;

    void record(Session& session, double stopAfter,
                const TranscriptionEngine& engine = TranscriptionEngine::onDevice()) {
        QObject::connect(&session.live, &LiveTranscription::partialTextChanged, &session.live,
                         [&] { session.partials += !session.live.partialText().isEmpty(); });
        QObject::connect(&session.live, &LiveTranscription::utteranceRecognized, &session.live,
                         [&] { session.utterancesWhileRecording += session.live.isRecording(); });
        QVERIFY2(
            session.live.start(m_microphone, engine, TranscriptionLanguage::english, u"sk-test"_qs),
            qPrintable(session.live.errorMessage()));
        QProcess* player = play(m_book, &session.live);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return player->state() == QProcess::NotRunning ||
                       session.live.elapsed() >= stopAfter || !session.live.isRecording();
            },
            60'000));
        if (player->state() == QProcess::NotRunning)
            QTest::qWait(1000); // the reader's last word, and the pause after it
        session.live.stop();
        QVERIFY(QTest::qWaitFor([&] { return !session.live.isFinishing(); }, 30'000));
        player->kill();
        player->waitForFinished();
    }

private Q_SLOTS:
    void initTestCase() {
        QStringList arguments;
        const QStringList ids = AudioFixtures::librivoxIds();
        for (const QString& id : ids) {
            arguments << u"-i"_qs << AudioFixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
            m_reference += AudioFixtures::referenceWords(id);
        }
        m_book = m_dir.filePath(u"book.wav"_qs);
        arguments << u"-filter_complex"_qs << u"concat=n=%1:v=0:a=1"_qs.arg(ids.size()) << m_book;
        QVERIFY(AudioFixtures::ffmpeg(arguments));
        const std::optional<QAudioDevice> microphone = MicrophoneCapture::inputNamed(u"TestMic"_qs);
        QVERIFY2(microphone, "the test session's microphone is missing");
        m_microphone = *microphone;
    }

    // Tone bursts over a quiet hiss: a gap of 0.3 s is within speech, 0.5 s ends it.
    void pauses() {
        std::vector<short> frame(rate / 100);
        auto fill = [&](bool loud, int index) {
            for (size_t i = 0; i < frame.size(); ++i)
                frame[i] = loud ? short(5000 * std::sin(0.3 * double(i + index * frame.size())))
                                : short((i * 7919 + size_t(index) * 31) % 61 - 30);
        };
        // (loud, frames)
        const QList<std::pair<bool, int>> script = {
            {false, 300}, {true, 100}, {false, 30}, {true, 50}, {false, 80}};
        QList<std::pair<PauseDetector::Change, int>> changes;
        PauseDetector detector;
        int index = 0;
        for (const auto& [loud, frames] : script) {
            for (int f = 0; f < frames; ++f, ++index) {
                fill(loud, index);
                if (const auto change = detector.addFrame(frame);
                    change != PauseDetector::Change::none)
                    changes.append({change, index});
            }
        }
        const decltype(changes) expected = {{PauseDetector::Change::speechStarted, 300},
                                            {PauseDetector::Change::speechEnded, 529}};
        QCOMPARE(changes, expected);
    }

    // What the encoder finished is in the file while it is still being written, sample
    // for sample; a file a crash left behind is offered once, one still being recorded
    // never.
    void recordingOnDisk() {
        const std::vector<short> book = readSamples(m_book);
        QVERIFY(QDir().mkpath(TranscriptionService::recordingsDirectory()));
        const QString path =
            TranscriptionService::recordingsDirectory() + u"/Recording 0.flac.part"_qs;
        QString error;
        auto recorder = FlacRecorder::create(path, rate, error);
        QVERIFY2(recorder, qPrintable(error));
        const size_t written = 3 * rate;
        for (size_t at = 0; at < written; at += rate / 10)
            QVERIFY(recorder->write(std::span(book).subspan(at, rate / 10)));
        const QString copy = m_dir.filePath(u"crashed.flac"_qs);
        QVERIFY(QFile::copy(path, copy));
        const QString left =
            TranscriptionService::recordingsDirectory() + u"/Recording 1.flac.part"_qs;
        QVERIFY(QFile::copy(path, left));
        QVERIFY(FlacRecorder::seal(copy, error));
        const std::vector<short> early = decodeAll(copy);
        QVERIFY2(early.size() + rate / 4 >= written, qPrintable(QString::number(early.size())));
        QVERIFY(std::equal(early.begin(), early.end(), book.begin()));
        QVERIFY(recorder->close());
        const std::vector<short> whole = decodeAll(path);
        QCOMPARE(whole.size(), written);
        QVERIFY(std::equal(whole.begin(), whole.end(), book.begin()));

        QCOMPARE(LiveTranscription::takeInterruptedRecording(),
                 TranscriptionService::recordingsDirectory() + u"/Recording 1.flac"_qs);
        QCOMPARE(decodeAll(TranscriptionService::recordingsDirectory() + u"/Recording 1.flac"_qs),
                 early);
        QCOMPARE(LiveTranscription::takeInterruptedRecording(), std::nullopt);
        QCOMPARE(decodeAll(path), whole); // the recorder's until it goes
        recorder.reset();
        QCOMPARE(LiveTranscription::takeInterruptedRecording(), path.chopped(5));
        QFile::remove(path.chopped(5));
    }

    // A full disk: writing stops with a reason, and what was written before stays
    // readable.
    void diskFull() {
        const std::vector<short> book = readSamples(m_book);
        const QString path = m_dir.filePath(u"full.flac"_qs);
        QString error;
        auto recorder = FlacRecorder::create(path, rate, error);
        QVERIFY(recorder);
        size_t written = 0;
        {
            const FullDisk full(100'000);
            while (written + rate / 10 <= book.size() &&
                   recorder->write(std::span(book).subspan(written, rate / 10)))
                written += rate / 10;
            recorder->close();
        }
        QVERIFY2(written + rate / 10 <= book.size(), "the limit was never reached");
        QVERIFY(!recorder->errorString().isEmpty());
        const std::vector<short> kept = decodeAll(path);
        QVERIFY2(kept.size() + rate >= written,
                 qPrintable(u"%1 of %2"_qs.arg(kept.size()).arg(written)));
        QVERIFY(std::equal(kept.begin(), kept.end(), book.begin()));
    }

    // Whatever a device gives becomes 16 kHz mono: a 440 Hz tone keeps its pitch,
    // loudness and length.
    void resampling_data() {
        QTest::addColumn<int>("inputRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QAudioFormat::SampleFormat>("sampleFormat");
        QTest::newRow("48 kHz stereo float") << 48000 << 2 << QAudioFormat::Float;
        QTest::newRow("44.1 kHz mono 32-bit") << 44100 << 1 << QAudioFormat::Int32;
        QTest::newRow("8 kHz mono 8-bit") << 8000 << 1 << QAudioFormat::UInt8;
    }
    void resampling() {
        QFETCH(int, inputRate);
        QFETCH(int, channels);
        QFETCH(QAudioFormat::SampleFormat, sampleFormat);
        QAudioFormat format;
        format.setSampleRate(inputRate);
        format.setChannelCount(channels);
        format.setSampleFormat(sampleFormat);
        auto resampler = SampleResampler::create(format);
        QVERIFY(resampler);
        QByteArray data;
        for (int i = 0; i < inputRate; ++i) {
            const double value = 0.5 * std::sin(2 * M_PI * 440.0 * i / inputRate);
            for (int c = 0; c < channels; ++c) {
                if (sampleFormat == QAudioFormat::Float) {
                    const float sample = float(value);
                    data.append(reinterpret_cast<const char*>(&sample), sizeof sample);
                } else if (sampleFormat == QAudioFormat::Int32) {
                    const qint32 sample = qint32(value * 2147483647.0);
                    data.append(reinterpret_cast<const char*>(&sample), sizeof sample);
                } else {
                    data.append(char(quint8(128 + qRound(value * 127))));
                }
            }
        }
        const std::span<const short> out = resampler->convert(data);
        QVERIFY2(std::abs(int(out.size()) - rate) < rate / 50,
                 qPrintable(QString::number(out.size())));
        int crossings = 0;
        double energy = 0.0;
        for (size_t i = 1; i < out.size(); ++i) {
            crossings += (out[i - 1] < 0) != (out[i] < 0);
            energy += double(out[i]) * out[i];
        }
        QVERIFY2(std::abs(crossings - 880) < 20, qPrintable(QString::number(crossings)));
        const double rms = std::sqrt(energy / double(out.size())) / 32768.0;
        QVERIFY2(std::abs(rms - 0.5 / std::sqrt(2.0)) < 0.03, qPrintable(QString::number(rms)));
    }

    // The book read into the microphone: words come while it plays, and the result is
    // as good and as well timed as the file engine's on the same recording.
    void transcribesAsSpoken() {
        Session session;
        record(session, 1e9);
        QVERIFY(session.live.errorMessage().isEmpty());
        QVERIFY(session.partials > 3);
        QVERIFY(session.utterancesWhileRecording > 2);
        const std::vector<short> kept = decodeAll(session.live.recordingPath());
        QVERIFY(std::abs(double(kept.size()) / rate - session.live.elapsed()) < 0.05);

        // Words lost on the way to the microphone show only against the original file.
        QList<TranscriptSegment> original, fileWords;
        for (auto [path, words] :
             {std::pair{m_book, &original}, std::pair{session.live.recordingPath(), &fileWords}}) {
            TranscriptionService files(nullptr, nullptr, m_dir.filePath(u"work"_qs));
            EventLog<TranscriptionEvent> job;
            files.transcribe(path, TranscriptionLanguage::english, job.queuedHandler());
            QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 120'000));
            QVERIFY(job.success());
            *words = job.success()->segments;
        }
        const QList<TranscriptSegment>& liveWords = session.live.segments();
        const auto errorRate = [&](const QList<TranscriptSegment>& words) {
            return 100.0 * AudioFixtures::wordErrors(m_reference, wordsOf(words)) /
                   m_reference.size();
        };
        // Written as sentences, which run on from one utterance to the next.
        QVERIFY(liveWords.first().text.at(0).isUpper() && liveWords.last().text.endsWith(u'.'));
        const double liveRate = errorRate(liveWords);
        qInfo("word error rate: live %.1f %%, file engine on the original %.1f %%, on the "
              "recording %.1f %%",
              liveRate, errorRate(original), errorRate(fileWords));
        // Live utterances end where the pauses fell, the file engine's where its chunks do:
        // on two busy cores up to six of the 71 words either way (each is 1.4 points).
        // Against the original the decoder also meets the silence before the reader (1.3 s
        // of it costs four points).
        QVERIFY2(liveRate <= errorRate(fileWords) + 10.0, qPrintable(u"%1 %"_qs.arg(liveRate)));
        QVERIFY2(liveRate <= errorRate(original) + 13.0, qPrintable(u"%1 %"_qs.arg(liveRate)));

        // Each live word against the file engine's same word nearest in time.
        int matched = 0, close = 0;
        for (const TranscriptSegment& word : liveWords) {
            double nearest = 1e9;
            for (const TranscriptSegment& other : fileWords) {
                if (wordsOf({other}) == wordsOf({word}))
                    nearest = std::min(nearest, std::abs(other.startTime - word.startTime));
            }
            if (nearest > 2.0)
                continue;
            ++matched;
            close += nearest <= 0.3 && std::abs(word.endTime - word.startTime) < 3.0;
        }
        qInfo("%d of %d matched words start within 0.3 s", close, matched);
        QVERIFY(matched > liveWords.size() * 3 / 4);
        QVERIFY(close > matched * 95 / 100);
    }

    // Through a provider: the first part is cut at a pause after 20 s and sent while the
    // recording goes on, the last on Stop with the text so far as its prompt. A part the
    // provider fails on is kept for Retry and the recording goes on; one that cannot be
    // written ends the recording, keeping what was recorded. The end comes once.
    void throughAProvider_data() {
        QTest::addColumn<int>("firstStatus");
        QTest::addColumn<bool>("diskFull"); // takes the FLAC, not a 20 s WAVE
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("error"); // how errorMessage() starts
        QTest::addColumn<bool>("speakers"); // a diarize model: part 2 knows part 1's speaker
        QTest::newRow("answered") << 200 << false << QStringList{u"part 1"_qs, u"part 2"_qs}
                                  << QString() << false;
        QTest::newRow("first part refused") // cut between 20 and 30 s
            << 500 << false << QStringList{u"part 2"_qs} << u"The recording from 0 s to 2"_qs
            << false;
        QTest::newRow("part not written")
            << 200 << true << QStringList{} << u"A part of the recording could not be written"_qs
            << false;
        QTest::newRow("speakers") << 200 << false << QStringList{u"part 1"_qs, u"part 2"_qs}
                                  << QString() << true;
    }
    void throughAProvider() {
        QFETCH(int, firstStatus);
        QFETCH(bool, diskFull);
        QFETCH(QStringList, words);
        QFETCH(QString, error);
        QFETCH(bool, speakers);
        LoopbackHttpServer server;
        server.setResponder([&](const LoopbackHttpServer::Request&) {
            const qsizetype n = server.requests().size();
            return LoopbackHttpServer::Response(
                n == 1 ? firstStatus : 200,
                u"{\"text\":\"part %1\",\"segments\":[{\"start\":1.0,\"end\":4.0,"
                "\"text\":\"part %1\",\"speaker\":\"%2\"}]}"_qs.arg(n)
                    .arg(n == 1 ? u"A"_qs : u"Speaker 1"_qs)
                    .toUtf8());
        });
        const auto engine = TranscriptionEngine::custom(CustomProvider::create(
            u"Loop"_qs, server.baseUrl(),
            speakers ? u"gpt-4o-transcribe-diarize"_qs : u"whisper-1"_qs, speakers));
        Session session;
        QSignalSpy finished(&session.live, &LiveTranscription::finished);
        std::optional<FullDisk> full; // once heard: the sound server's buffers are files too
        QObject::connect(&session.live, &LiveTranscription::elapsedChanged, &session.live, [&] {
            if (diskFull && !full && session.live.elapsed() >= 1.0)
                full.emplace(560'000);
        });
        record(session, 1e9, engine);
        full.reset();
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);
        const QString message = session.live.errorMessage();
        QVERIFY2(error.isEmpty() ? message.isEmpty() : message.startsWith(error),
                 qPrintable(message));
        const QList<TranscriptSegment>& segments = session.live.segments();
        QCOMPARE(wordsOf(segments), words);
        QCOMPARE(server.requests().size(), words.size() + (firstStatus != 200));
        const std::vector<short> kept = decodeAll(session.live.recordingPath());
        QVERIFY(std::abs(double(kept.size()) / rate - session.live.elapsed()) < 0.05);
        if (words.size() == 2) {
            QCOMPARE(session.utterancesWhileRecording, 1);
            const double firstPart = segments[1].startTime - 1.0;
            QVERIFY2(firstPart >= 20.0 && firstPart <= 30.0,
                     qPrintable(QString::number(firstPart)));
            const QByteArray& body = server.requests()[1].body;
            QCOMPARE(body.contains("name=\"prompt\"\r\n\r\npart 1\r\n"), !speakers);
            // A live speaker's label is a recording's label, however many parts it takes.
            QCOMPARE(segments[1].speaker, speakers ? u"Speaker 1"_qs : QString());
            QCOMPARE(body.contains("names[]\"\r\n\r\nSpeaker 1\r\n--"), speakers);
            QCOMPARE(body.contains("references[]\"\r\n\r\ndata:audio/wav;base64,UklGR"), speakers);
        }
        const QList<UploadPreparation::Part> failedParts = session.live.takeFailedParts();
        QCOMPARE(failedParts.size(), qsizetype(firstStatus != 200));
        if (!failedParts.isEmpty()) {
            // The tab's Retry sends the kept part alone and puts its words in their place.
            ScriptedFileDialogs dialogs;
            TranscriptionViewModel vm({std::make_unique<ProviderStore>(KeychainHelper::shared()),
                                       std::make_unique<RecordingOnDeviceEngine>(),
                                       std::make_unique<ExternalTranscriptionService>(),
                                       &KeychainHelper::shared(), &dialogs});
            vm.setSelectedEngine(engine);
            vm.finishRecording(session.live.recordingPath(), segments, message, failedParts);
            QVERIFY(vm.canRetry() && vm.errorMessage() == message);
            vm.retryTranscription();
            QTRY_VERIFY_WITH_TIMEOUT(!vm.isTranscribing(), 30'000);
            QCOMPARE(wordsOf(vm.segments()), (QStringList{u"part 3"_qs, u"part 2"_qs}));
            QCOMPARE(vm.segments().first().startTime, 1.0);
            QVERIFY(!vm.canRetry() && !vm.errorMessage());
        }
        QCOMPARE(QDir(TranscriptionService::defaultWorkDirectory())
                     .entryList({u"*.wav"_qs}, QDir::Files),
                 QStringList{}); // the parts are gone
    }

    // The microphone is heard at its own rate and format, so the sound server does not
    // resample it (its fast resampler costs words).
    void stopMidWord() {
        Session session;
        QString heardAs;
        QObject::connect(&session.live, &LiveTranscription::elapsedChanged, &session.live, [&] {
            if (heardAs.isEmpty() && session.live.isRecording())
                heardAs = sampleFormat(true);
        });
        record(session, 6.2);
        QVERIFY2(heardAs.endsWith(u"Hz"_qs), qPrintable(heardAs));
        QCOMPARE(heardAs, sampleFormat(false));
        QVERIFY(!session.live.segments().isEmpty());
        const std::vector<short> kept = decodeAll(session.live.recordingPath());
        QVERIFY(std::abs(double(kept.size()) / rate - session.live.elapsed()) < 0.05);
        QVERIFY2(session.live.segments().last().endTime > session.live.elapsed() - 1.0,
                 qPrintable(QString::number(session.live.segments().last().endTime)));
    }

    // The microphone goes away while recording: a message, and what was heard is kept
    // and transcribed.
    void unplugged() {
        Session session;
        QObject::connect(&session.live, &LiveTranscription::elapsedChanged, &session.live, [&] {
            if (session.live.elapsed() >= 5.0 && session.live.isRecording())
                QProcess::execute(u"pactl"_qs, {u"unload-module"_qs, u"module-remap-source"_qs});
        });
        record(session, 1e9);
        QProcess plugIn; // quietly: pactl prints the module's number
        plugIn.start(u"pactl"_qs,
                     {u"load-module"_qs, u"module-remap-source"_qs, u"master=speech.monitor"_qs,
                      u"source_name=mic"_qs, u"source_properties=device.description=TestMic"_qs});
        QVERIFY(plugIn.waitForFinished() && plugIn.exitCode() == 0);
        QVERIFY2(session.live.errorMessage().contains(u"TestMic"_qs),
                 qPrintable(session.live.errorMessage()));
        QVERIFY2(session.live.elapsed() >= 5.0 && session.live.elapsed() < 10.0,
                 qPrintable(QString::number(session.live.elapsed())));
        QVERIFY(!session.live.segments().isEmpty());
        QVERIFY(!decodeAll(session.live.recordingPath()).empty());

        LiveTranscription none; // a machine without a microphone
        QVERIFY(!none.start(QAudioDevice(), TranscriptionEngine::onDevice(),
                            TranscriptionLanguage::english));
        QCOMPARE(none.errorMessage(), u"No microphone was found."_qs);
        QCOMPARE(QDir(TranscriptionService::recordingsDirectory()).entryList({u"*.part"_qs}),
                 QStringList{});
    }
};

QTEST_MAIN(TestLive)
#include "tst_live.moc"
