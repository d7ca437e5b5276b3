#include "PocketSphinxDecoder.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace vocalith {

namespace {

constexpr double framesPerSecond = 100.0;

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

} // namespace

struct PocketSphinxDecoder::Handles {
    cmd_ln_t* config = nullptr; // one each: ps_init writes model paths into it
    ps_decoder_t* decoder = nullptr;
    // The cepstral mean a new decoder starts from. The decoder adapts it to what it
    // hears; resetting to it makes a result independent of what was heard before.
    std::vector<mfcc_t> initialMean;

    ~Handles() {
        if (decoder)
            ps_free(decoder);
        if (config)
            cmd_ln_free_r(config);
    }
};

std::optional<PocketSphinxDecoder::Model>
PocketSphinxDecoder::installedModel(const QString& modelRoot, const QString& locale) {
    // Debian's layout: model/<locale>/<locale> (acoustic), <locale>.lm.bin and
    // cmudict-<locale>.dict, the locale in lower case ("en-us").
    const QString name = locale.toLower();
    const QString directory = modelRoot + QLatin1Char('/') + name;
    const Model model{directory + QLatin1Char('/') + name,
                      directory + QLatin1Char('/') + name + QStringLiteral(".lm.bin"),
                      directory + QStringLiteral("/cmudict-") + name + QStringLiteral(".dict")};
    if (name.isEmpty() || !QFileInfo(model.acousticModel).isDir())
        return std::nullopt;
    return model;
}

QStringList PocketSphinxDecoder::missingFiles(const Model& model) {
    QStringList missing;
    if (!QFileInfo(model.acousticModel).isDir())
        missing.append(model.acousticModel);
    for (const QString& file : {model.languageModel, model.dictionary}) {
        if (!QFileInfo(file).isFile())
            missing.append(file);
    }
    return missing;
}

std::unique_ptr<PocketSphinxDecoder>
PocketSphinxDecoder::load(const Model& model, const std::function<bool()>& cancelled) {
    const QByteArray hmm = model.acousticModel.toUtf8();
    const QByteArray lm = model.languageModel.toUtf8();
    const QByteArray dict = model.dictionary.toUtf8();
    // The library's log is one global file that "-logfn" would reopen from every
    // decoder while others write to it: it is switched off once.
    static std::once_flag silenced;
    std::call_once(silenced, [] { err_set_logfp(nullptr); });
    static std::mutex loading;
    const std::lock_guard lock(loading);
    // Another thread's load may have taken seconds, and the job been cancelled meanwhile.
    if (cancelled && cancelled())
        return nullptr;
    std::unique_ptr<PocketSphinxDecoder> loaded(new PocketSphinxDecoder);
    loaded->m_handles = std::make_unique<Handles>();
    Handles& handles = *loaded->m_handles;
    handles.config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm",
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
    if (!handles.config)
        return nullptr;
    handles.decoder = ps_init(handles.config);
    if (!handles.decoder)
        return nullptr;
    cmn_t* mean = ps_get_feat(handles.decoder)->cmn_struct;
    handles.initialMean.resize(size_t(mean->veclen));
    cmn_live_get(mean, handles.initialMean.data());
    return loaded;
}

PocketSphinxDecoder::~PocketSphinxDecoder() = default;

void PocketSphinxDecoder::resetMean() {
    if (m_utteranceOpen) {
        ps_end_utt(m_handles->decoder);
        m_utteranceOpen = false;
    }
    cmn_live_set(ps_get_feat(m_handles->decoder)->cmn_struct, m_handles->initialMean.data());
}

void PocketSphinxDecoder::startUtterance() {
    ps_decoder_t* ps = m_handles->decoder;
    if (m_utteranceOpen)
        ps_end_utt(ps);
    // Each utterance is a stream of its own, as frame numbers count from a stream's start.
    ps_start_stream(ps);
    ps_start_utt(ps);
    m_utteranceOpen = true;
}

void PocketSphinxDecoder::process(std::span<const short> samples) {
    if (!samples.empty())
        ps_process_raw(m_handles->decoder, samples.data(), samples.size(), FALSE, FALSE);
}

QString PocketSphinxDecoder::partialText() const {
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(m_handles->decoder, &score);
    return hypothesis ? QString::fromUtf8(hypothesis) : QString();
}

QList<RecognizedWord> PocketSphinxDecoder::endUtterance(int firstFrame) {
    ps_decoder_t* ps = m_handles->decoder;
    QList<RecognizedWord> words;
    if (!m_utteranceOpen)
        return words;
    ps_end_utt(ps);
    m_utteranceOpen = false;
    for (ps_seg_t* segment = ps_seg_iter(ps); segment; segment = ps_seg_next(segment)) {
        const QString word = withoutVariant(QString::fromUtf8(ps_seg_word(segment)));
        if (isFiller(word))
            continue;
        int startFrame = 0;
        int endFrame = 0;
        ps_seg_frames(segment, &startFrame, &endFrame);
        // The best path's posterior, from the lattice of the utterance.
        int32 acoustic = 0, language = 0, backoff = 0;
        const double posterior =
            logmath_exp(ps_get_logmath(ps), ps_seg_prob(segment, &acoustic, &language, &backoff));
        words.append({word, (firstFrame + startFrame) / framesPerSecond,
                      (endFrame - startFrame + 1) / framesPerSecond,
                      std::clamp(posterior, 0.0, 1.0)});
    }
    if (!words.isEmpty())
        words.last().endsUtterance = true;
    return words;
}

} // namespace vocalith
