#pragma once

#include "transcription/PocketSphinxDecoder.h"
#include "transcription/SpeechRecognizer.h"

#include <QHash>

#include <memory>
#include <mutex>
#include <vector>

namespace vocalith {

// Offline recognition with PocketSphinx and an installed acoustic and language model.
// Safe to call from several threads at once: each call borrows a decoder of its own,
// loaded on first use and kept for every later chunk and job.
class PocketSphinxRecognizer final : public SpeechRecognizer {
public:
    using Model = PocketSphinxDecoder::Model;

    explicit PocketSphinxRecognizer(const Model& model);
    ~PocketSphinxRecognizer() override;

    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    RecognitionOutcome recognize(const QString& path, bool requiresOnDevice,
                                 RecognitionTask& task) override;

private:
    // An idle decoder, or a new one; nullptr when the model cannot be loaded or the task
    // was cancelled before loading began.
    std::unique_ptr<PocketSphinxDecoder> borrowDecoder(const RecognitionTask& task);
    void giveBack(std::unique_ptr<PocketSphinxDecoder> decoder);

    Model m_model;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<PocketSphinxDecoder>> m_idle;
};

// The PocketSphinx models Debian installs, one recogniser per locale.
class PocketSphinxRecognizerProvider final : public SpeechRecognizerProvider {
public:
    // Where Debian puts the models.
    static inline const QString defaultModelRoot = QStringLiteral("/usr/share/pocketsphinx/model");

    // modelRoot: defaultModelRoot unless given.
    explicit PocketSphinxRecognizerProvider(const QString& modelRoot = {});

    std::shared_ptr<SpeechRecognizer> recognizerFor(const QString& localeIdentifier) override;
    QString currentLocaleIdentifier() const override;

private:
    QString m_modelRoot;
    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<SpeechRecognizer>> m_recognizers;
};

} // namespace vocalith
