#pragma once

#include "transcription/SpeechRecognizer.h"

#include <QHash>

#include <memory>
#include <mutex>
#include <vector>

struct cmd_ln_s;
struct ps_decoder_s;

namespace vocalith {

// Offline recognition with PocketSphinx and an installed acoustic and language model.
// Safe to call from several threads at once: each call borrows a decoder of its own,
// loaded on first use and kept for every later chunk and job.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    struct Model {
        QString acousticModel; // -hmm directory
        QString languageModel; // -lm file
        QString dictionary;    // -dict file
    };

    explicit PocketSphinxRecognizer(const Model& model);
    ~PocketSphinxRecognizer() override;

    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    RecognitionOutcome recognize(const QString& path, bool requiresOnDevice,
                                 RecognitionTask& task) override;

private:
    struct Decoder;
    struct DecoderDeleter {
        void operator()(Decoder* decoder) const;
    };
    using DecoderPtr = std::unique_ptr<Decoder, DecoderDeleter>;

    // An idle decoder, or a new one; nullptr when the model cannot be loaded or the task
    // was cancelled before loading began.
    DecoderPtr borrowDecoder(const RecognitionTask& task);
    void giveBack(DecoderPtr decoder);
    QStringList missingModelFiles() const;

    Model m_model;
    std::mutex m_mutex;
    std::vector<DecoderPtr> m_idle;
};

// The PocketSphinx models Debian installs, one recogniser per locale.
class PocketSphinxRecognizerProvider final : public SpeechRecognizerProvider {
public:
    // modelRoot: where Debian puts the models ("/usr/share/pocketsphinx/model").
    explicit PocketSphinxRecognizerProvider(const QString& modelRoot = {});

    std::shared_ptr<SpeechRecognizer> recognizerFor(const QString& localeIdentifier) override;
    QString currentLocaleIdentifier() const override;

private:
    QString m_modelRoot;
    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<SpeechRecognizer>> m_recognizers;
};

} // namespace vocalith
