#pragma once

#include "transcription/SpeechRecognizer.h"

#include <QHash>

#include <mutex>

struct cmd_ln_s;
struct ps_decoder_s;

namespace vocalith {

// Offline recognition with PocketSphinx and an installed acoustic and language model.
// The model is loaded on first use and kept for every later chunk and job.
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
                                 const RecognitionTask& task) override;

private:
    bool loadDecoder();
    QStringList missingModelFiles() const;

    Model m_model;
    std::mutex m_mutex; // one decoder, one file at a time
    cmd_ln_s* m_config = nullptr;
    ps_decoder_s* m_decoder = nullptr;
    bool m_utteranceOpen = false; // a cancelled chunk's, ended before the next one starts
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
