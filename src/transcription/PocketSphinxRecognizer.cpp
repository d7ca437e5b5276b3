#include "PocketSphinxRecognizer.h"

#include "transcription/SoundFile.h"
#include "transcription/SpeechSpans.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace vocalith {

namespace {

constexpr double framesPerSecond = 100.0;
constexpr int expectedRate = 16000;

// "<s>", "</s>", "<sil>" and "[NOISE]"-like fillers are not words.
bool isFiller(const QString& word) {
    return word.isEmpty() || word.startsWith(QLatin1Char('<')) ||
           word.startsWith(QLatin1Char('[')) || word.startsWith(QLatin1Char('+'));
}

// "was(2)" is the second pronunciation of "was".
QString withoutVariant(const QString& word) {
    static const QRegularExpression variant(QStringLiteral("\\(\\d+\\)$"));
    QString text = word;
    text.remove(variant);
    return text;
}

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

struct PocketSphinxRecognizer::Decoder {
    cmd_ln_t* config = nullptr; // one each: ps_init writes model paths into it
    ps_decoder_t* decoder = nullptr;
    bool utteranceOpen = false; // a cancelled chunk's, ended before the next one starts
    // The cepstral mean a new decoder starts from. The decoder adapts it to each chunk
    // it hears; every chunk starts from this one, so a result never depends on which
    // decoder recognised it or what that decoder heard before.
    std::vector<mfcc_t> initialMean;
};

void PocketSphinxRecognizer::DecoderDeleter::operator()(Decoder* decoder) const {
    if (decoder->decoder)
        ps_free(decoder->decoder);
    if (decoder->config)
        cmd_ln_free_r(decoder->config);
    delete decoder;
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() = default;

bool PocketSphinxRecognizer::isAvailable() const {
    // Nothing outside the machine is needed; a damaged model is reported by recognize().
    return true;
}

QStringList PocketSphinxRecognizer::missingModelFiles() const {
    QStringList missing;
    if (!QFileInfo(m_model.acousticModel).isDir())
        missing.append(m_model.acousticModel);
    for (const QString& file : {m_model.languageModel, m_model.dictionary}) {
        if (!QFileInfo(file).isFile())
            missing.append(file);
    }
    return missing;
}

PocketSphinxRecognizer::DecoderPtr
PocketSphinxRecognizer::borrowDecoder(const RecognitionTask& task) {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            DecoderPtr decoder = std::move(m_idle.back());
            m_idle.pop_back();
            return decoder;
        }
    }
    const QByteArray hmm = m_model.acousticModel.toUtf8();
    const QByteArray lm = m_model.languageModel.toUtf8();
    const QByteArray dict = m_model.dictionary.toUtf8();
    // The library keeps global state (its log is one global file that "-logfn" would
    // reopen from every decoder while others write to it): its log is switched off once,
    // and decoders are loaded one at a time.
    static std::once_flag silenced;
    std::call_once(silenced, [] { err_set_logfp(nullptr); });
    static std::mutex loading;
    const std::lock_guard lock(loading);
    // Another thread's load may have taken seconds, and the job been cancelled meanwhile.
    if (task.isCancelled())
        return nullptr;
    DecoderPtr loaded(new Decoder);
    loaded->config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm",
                                 lm.constData(), "-dict", dict.constData(),
                                 // Every frame fed is kept, so frame numbers are times;
                                 // pauses are left out before (speechSpans).
                                 "-remove_silence", "no",
                                 // At most 5000 active HMMs a frame instead of 30000: a
                                 // quarter faster, and the same words on the LibriVox set.
                                 "-maxhmmpf", "5000",
                                 // No second, flat-lexicon pass: a fifth faster, and fewer
                                 // word errors without it on the LibriVox recordings.
                                 "-fwdflat", "no", nullptr);
    if (!loaded->config)
        return nullptr;
    loaded->decoder = ps_init(loaded->config);
    if (!loaded->decoder)
        return nullptr;
    cmn_t* mean = ps_get_feat(loaded->decoder)->cmn_struct;
    loaded->initialMean.resize(size_t(mean->veclen));
    cmn_live_get(mean, loaded->initialMean.data());
    return loaded;
}

void PocketSphinxRecognizer::giveBack(DecoderPtr decoder) {
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

    if (const QStringList missing = missingModelFiles(); !missing.isEmpty())
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
    DecoderPtr decoder = borrowDecoder(task);
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
    ps_decoder_t* ps = decoder->decoder;
    if (decoder->utteranceOpen)
        ps_end_utt(ps);
    cmn_live_set(ps_get_feat(ps)->cmn_struct, decoder->initialMean.data());
    // One utterance per stretch between pauses: the pauses need no decoding, and the
    // language model hears sentences. Each is a stream of its own, as frame numbers count
    // from a stream's start. Fed half a second at a time, so a cancel is seen within that.
    constexpr size_t block = expectedRate / 2;
    constexpr size_t frameLength = expectedRate / 100;
    RecognitionOutcome outcome;
    size_t recognized = 0;
    for (const SampleSpan& span : speechSpans(samples, expectedRate)) {
        ps_start_stream(ps);
        ps_start_utt(ps);
        decoder->utteranceOpen = true;
        for (size_t start = span.begin; start < span.end; start += block) {
            if (task.isCancelled()) {
                // Ending the utterance runs the last search pass over it: that waits for
                // the decoder's next chunk, which has to end it anyway.
                giveBack(std::move(decoder));
                return cancelled();
            }
            const size_t end = std::min(start + block, span.end);
            ps_process_raw(ps, samples.data() + start, end - start, FALSE, FALSE);
            task.addRecognized(double(end - recognized) / expectedRate);
            recognized = end;
        }
        ps_end_utt(ps);
        decoder->utteranceOpen = false;
        const int firstFrame = int(span.begin / frameLength);
        for (ps_seg_t* segment = ps_seg_iter(ps); segment; segment = ps_seg_next(segment)) {
            const QString word = withoutVariant(QString::fromUtf8(ps_seg_word(segment)));
            if (isFiller(word))
                continue;
            int startFrame = 0;
            int endFrame = 0;
            ps_seg_frames(segment, &startFrame, &endFrame);
            // The best path's posterior, from the lattice of the utterance.
            int32 acoustic = 0, language = 0, backoff = 0;
            const double posterior = logmath_exp(
                ps_get_logmath(ps), ps_seg_prob(segment, &acoustic, &language, &backoff));
            outcome.words.append({word, (firstFrame + startFrame) / framesPerSecond,
                                  (endFrame - startFrame + 1) / framesPerSecond,
                                  std::clamp(posterior, 0.0, 1.0)});
        }
    }
    task.addRecognized(double(samples.size() - recognized) / expectedRate);
    giveBack(std::move(decoder));
    if (outcome.words.isEmpty())
        return RecognitionOutcome::failure(RecognitionCode::noSpeech,
                                           QStringLiteral("No speech detected."));
    return outcome;
}

PocketSphinxRecognizerProvider::PocketSphinxRecognizerProvider(const QString& modelRoot)
    : m_modelRoot(modelRoot.isEmpty() ? QStringLiteral("/usr/share/pocketsphinx/model")
                                      : modelRoot) {
}

std::shared_ptr<SpeechRecognizer>
PocketSphinxRecognizerProvider::recognizerFor(const QString& localeIdentifier) {
    const std::lock_guard lock(m_mutex);
    if (const auto it = m_recognizers.constFind(localeIdentifier); it != m_recognizers.cend())
        return *it;
    // Debian's layout: model/<locale>/<locale> (acoustic), <locale>.lm.bin and
    // cmudict-<locale>.dict, the locale in lower case ("en-us").
    const QString name = localeIdentifier.toLower();
    const QString directory = m_modelRoot + QLatin1Char('/') + name;
    const PocketSphinxRecognizer::Model model{
        directory + QLatin1Char('/') + name,
        directory + QLatin1Char('/') + name + QStringLiteral(".lm.bin"),
        directory + QStringLiteral("/cmudict-") + name + QStringLiteral(".dict")};
    if (name.isEmpty() || !QFileInfo(model.acousticModel).isDir())
        return nullptr;
    auto recognizer = std::make_shared<PocketSphinxRecognizer>(model);
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
