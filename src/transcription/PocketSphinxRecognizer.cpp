#include "PocketSphinxRecognizer.h"

#include "transcription/SoundFile.h"
#include "transcription/SpeechSpans.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace vocalith {

namespace {

constexpr int expectedRate = 16000;

// Below about -50 dBFS nothing can be said; the decoder would still make up a
// word or two in a long stretch of silence.
bool isSilent(const std::vector<short>& samples) {
    constexpr int quietPeak = 100;
    return std::all_of(samples.cbegin(), samples.cend(),
                       [](short sample) { return std::abs(int(sample)) < quietPeak; });
}

} // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(const Model& model)
    : m_model(model) {
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() = default;

bool PocketSphinxRecognizer::isAvailable() const {
    // Nothing outside the machine is needed; a damaged model is reported by recognize().
    return true;
}

std::unique_ptr<PocketSphinxDecoder>
PocketSphinxRecognizer::borrowDecoder(const RecognitionTask& task) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<PocketSphinxDecoder> decoder = std::move(m_idle.back());
            m_idle.pop_back();
            return decoder;
        }
    }
    return PocketSphinxDecoder::load(m_model, [&task] { return task.isCancelled(); });
}

void PocketSphinxRecognizer::giveBack(std::unique_ptr<PocketSphinxDecoder> decoder) {
    const std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(decoder));
}

RecognitionOutcome PocketSphinxRecognizer::recognize(const QString& path, bool,
                                                     RecognitionTask& task) {
    SF_INFO info{};
    SoundFile file(sf_open(path.toUtf8().constData(), SFM_READ, &info));
    if (!file)
        return RecognitionOutcome::failure(RecognitionCode::fileNotAccessible,
                                           QString::fromUtf8(sf_strerror(nullptr)));
    if (info.samplerate != expectedRate || info.channels != 1)
        return RecognitionOutcome::failure(RecognitionCode::unsupportedFormat,
                                           QStringLiteral("Expected 16 kHz mono audio."));

    if (const QStringList missing = PocketSphinxDecoder::missingFiles(m_model); !missing.isEmpty())
        return RecognitionOutcome::failure(
            RecognitionCode::modelUnusable,
            QStringLiteral("The PocketSphinx model is incomplete; missing: ") +
                missing.join(QStringLiteral(", ")));

    std::vector<short> samples(static_cast<size_t>(std::max<sf_count_t>(info.frames, 0)));
    samples.resize(static_cast<size_t>(
        std::max<sf_count_t>(sf_read_short(file.get(), samples.data(), info.frames), 0)));
    if (isSilent(samples)) {
        task.addRecognized(double(samples.size()) / expectedRate);
        return RecognitionOutcome::failure(RecognitionCode::noSpeech,
                                           QStringLiteral("No speech detected."));
    }
    const auto cancelled = [] {
        return RecognitionOutcome::failure(RecognitionCode::cancelled,
                                           QStringLiteral("Recognition was cancelled."));
    };
    if (task.isCancelled())
        return cancelled();
    std::unique_ptr<PocketSphinxDecoder> decoder = borrowDecoder(task);
    if (!decoder && task.isCancelled())
        return cancelled();
    if (!decoder)
        return RecognitionOutcome::failure(
            RecognitionCode::modelUnusable,
            QStringLiteral("The PocketSphinx model could not be loaded from ") +
                QStringList{m_model.acousticModel, m_model.languageModel, m_model.dictionary}.join(
                    QStringLiteral(", ")));
    if (task.isCancelled()) { // loading may have taken a while
        giveBack(std::move(decoder));
        return cancelled();
    }
    // Nothing learnt from the chunk before carries over.
    decoder->resetMean();
    // One utterance per stretch between pauses: the pauses need no decoding, and the
    // language model hears sentences. Fed half a second at a time, so a cancel is seen
    // within that.
    constexpr size_t block = expectedRate / 2;
    constexpr size_t frameLength = expectedRate / 100;
    RecognitionOutcome outcome;
    size_t recognized = 0;
    for (const SampleSpan& span : speechSpans(samples, expectedRate)) {
        decoder->startUtterance();
        for (size_t start = span.begin; start < span.end; start += block) {
            if (task.isCancelled()) {
                // Ending the utterance runs the last search pass over it: that waits for
                // the decoder's next chunk, which has to end it anyway.
                giveBack(std::move(decoder));
                return cancelled();
            }
            const size_t end = std::min(start + block, span.end);
            decoder->process(std::span(samples).subspan(start, end - start));
            task.addRecognized(double(end - recognized) / expectedRate);
            recognized = end;
        }
        outcome.words.append(decoder->endUtterance(int(span.begin / frameLength)));
    }
    task.addRecognized(double(samples.size() - recognized) / expectedRate);
    giveBack(std::move(decoder));
    if (outcome.words.isEmpty())
        return RecognitionOutcome::failure(RecognitionCode::noSpeech,
                                           QStringLiteral("No speech detected."));
    return outcome;
}

PocketSphinxRecognizerProvider::PocketSphinxRecognizerProvider(const QString& modelRoot)
    : m_modelRoot(modelRoot.isEmpty() ? defaultModelRoot : modelRoot) {
}

std::shared_ptr<SpeechRecognizer>
PocketSphinxRecognizerProvider::recognizerFor(const QString& localeIdentifier) {
    const std::lock_guard lock(m_mutex);
    if (const auto it = m_recognizers.constFind(localeIdentifier); it != m_recognizers.cend())
        return *it;
    const std::optional<PocketSphinxDecoder::Model> model =
        PocketSphinxDecoder::installedModel(m_modelRoot, localeIdentifier);
    if (!model)
        return nullptr;
    auto recognizer = std::make_shared<PocketSphinxRecognizer>(*model);
    m_recognizers.insert(localeIdentifier, recognizer);
    return recognizer;
}

QString PocketSphinxRecognizerProvider::currentLocaleIdentifier() const {
    // "en_US" from LANG=en_US.UTF-8 becomes "en-US".
    const QLocale locale;
    const QString exact = locale.name().replace(QLatin1Char('_'), QLatin1Char('-'));
    // Any English desktop, and the C locale of a bare session, can use the US English
    // model when there is none for its own variant.
    const bool english = locale.language() == QLocale::English || locale.language() == QLocale::C;
    const QString name = exact.toLower();
    if (english && !QFileInfo(m_modelRoot + QLatin1Char('/') + name).isDir())
        return QStringLiteral("en-US");
    return exact;
}

} // namespace vocalith
