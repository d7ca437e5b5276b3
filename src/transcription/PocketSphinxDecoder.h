#pragma once

#include "transcription/SpeechRecognizer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace vocalith {

// One loaded PocketSphinx decoder, used by one thread at a time: utterances of 16 kHz
// mono samples in, words with times and posteriors out.
class PocketSphinxDecoder {
public:
    struct Model {
        QString acousticModel; // -hmm directory
        QString languageModel; // -lm file
        QString dictionary;    // -dict file
    };

    // Debian's model for a locale such as "en-US" under modelRoot, if installed.
    static std::optional<Model> installedModel(const QString& modelRoot, const QString& locale);
    // The files of the model that are missing.
    static QStringList missingFiles(const Model& model);
    // Loads a decoder; loads are made one at a time, as the library keeps global state.
    // nullptr when the model cannot be loaded or cancelled() turned true while waiting.
    static std::unique_ptr<PocketSphinxDecoder> load(const Model& model,
                                                     const std::function<bool()>& cancelled);
    ~PocketSphinxDecoder();
    PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
    PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

    // Forgets what the decoder learnt of the loudness of earlier audio.
    void resetMean();
    // Begins an utterance, ending one left open; frame times count from here.
    void startUtterance();
    void process(std::span<const short> samples);
    // The best guess of the open utterance so far.
    QString partialText() const;
    // Ends the utterance: its words, timed from the 10 ms frame where it started.
    QList<RecognizedWord> endUtterance(int firstFrame);
    bool isUtteranceOpen() const { return m_utteranceOpen; }

private:
    PocketSphinxDecoder() = default;

    struct Handles;
    std::unique_ptr<Handles> m_handles;
    bool m_utteranceOpen = false;
};

} // namespace vocalith
