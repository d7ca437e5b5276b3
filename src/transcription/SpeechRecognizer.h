#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace vocalith {

// Error codes a recogniser reports, as the engine gives them meaning.
namespace RecognitionCode {
constexpr int noSpeech = -3002;
constexpr int unsupportedFormat = -3003;
constexpr int fileNotAccessible = -1100;
constexpr int cancelled = 301;
// The installed model is incomplete or cannot be read; the description names its files.
constexpr int modelUnusable = 1101;
} // namespace RecognitionCode

struct RecognizedWord {
    QString text;
    double timestamp = 0.0; // seconds from the start of the file
    double duration = 0.0;
    double confidence = 1.0;    // the word's posterior probability
    bool endsUtterance = false; // the last word before the recogniser stopped at a pause
};

// The final result of one file: words, or an error code with its description.
struct RecognitionOutcome {
    QList<RecognizedWord> words;
    std::optional<int> errorCode;
    QString errorDescription;

    static RecognitionOutcome failure(int code, const QString& description) {
        return {{}, code, description};
    }
};

// The running recognition of one job's files, shared by the threads recognising them;
// every member is safe from any thread.
class RecognitionTask {
public:
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }
    // Recognisers count the audio they have gone through, as they go.
    void addRecognized(double seconds) { m_recognized.fetch_add(seconds); }
    double recognizedSeconds() const { return m_recognized.load(); }

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<double> m_recognized{0.0};
};

// A speech recogniser for one locale.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    virtual bool isAvailable() const = 0;
    virtual bool supportsOnDeviceRecognition() const = 0;
    // Recognises one 16 kHz mono WAVE file to its end, or until the task is cancelled.
    // May be called from several threads at once.
    virtual RecognitionOutcome recognize(const QString& path, bool requiresOnDevice,
                                         RecognitionTask& task) = 0;
};

// Finds the recogniser for a locale; there is one exactly when a model is installed.
class SpeechRecognizerProvider {
public:
    virtual ~SpeechRecognizerProvider() = default;

    // nullptr when no recogniser exists for the locale (e.g. "en-US").
    virtual std::shared_ptr<SpeechRecognizer> recognizerFor(const QString& localeIdentifier) = 0;
    // The user's current locale as an identifier such as "en-US".
    virtual QString currentLocaleIdentifier() const = 0;
};

} // namespace vocalith
