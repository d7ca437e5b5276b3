#pragma once

#include "network/HttpClient.h"
#include "providers/CustomProvider.h"
#include "translation/TranslationError.h"
#include "translation/TranslationEvent.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace vocalith {

// Translates plain text in one chat-completion request, and subtitles in
// sequential batches of srtChunkSize blocks. Keeps no state of its own per job;
// a job whose service is gone ends silently. Events after the first ones come from
// the transfers' threads.
class TranslationService final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranslationService)

public:
    enum class InputFormat { plainText, srt };

    // No byte moved for this long ends an exchange.
    static constexpr std::chrono::milliseconds defaultTimeout{120'000};
    const int srtChunkSize = 15;

    explicit TranslationService(std::chrono::milliseconds timeout = defaultTimeout,
                                QObject* parent = nullptr);

    // srt for a ".srt" extension in any case, plain text for everything else.
    static InputFormat detectFormat(const QString& path);
    // Blocks are separated by runs of empty lines; each is trimmed, empty ones dropped.
    static QStringList splitSRTBlocks(const QString& text);
    QList<QStringList> makeBatches(const QStringList& blocks) const;

    static QString srtSystemPrompt(const QString& languageName);
    static QString plainTextSystemPrompt(const QString& languageName);

    using ChatResult = std::variant<QString, TranslationError>;
    using ChatCompletion = std::function<void(const ChatResult&)>;
    // One exchange with "/chat/completions"; completion is called exactly once, before
    // this returns when nothing could be sent.
    void sendChatCompletion(const QString& systemPrompt, const QString& userContent,
                            const CustomProvider& provider, const QString& apiKey,
                            ChatCompletion completion);
    // The first choice's content, trimmed; absent with a reason when the body is not
    // a chat-completion answer or has no choice.
    static std::optional<QString> parseChatResponse(const QByteArray& body, QString& error);
    // Drops Markdown fence lines wherever they stand; what stood on either side of one
    // stays apart, as blocks do.
    static QString stripCodeFence(const QString& text);
    // The sent blocks with the reply's text in place of theirs: the numbers and time
    // lines are the originals, whatever the model did to them. Absent when the reply,
    // past any commentary before it, does not hold the same blocks in the same order,
    // leaves a text empty that was not, or goes on after its last block (a remark, or
    // the rest of that block after a blank line); returned is then its block count.
    static std::optional<QStringList> matchBatchReply(const QStringList& sent, const QString& reply,
                                                      qsizetype& returned);
    // Added to the user message of the one corrective request for a batch.
    static QString correctionNote(const QStringList& sent);

    void translateSRT(const QString& text, const QString& targetLanguage,
                      const CustomProvider& provider, const QString& apiKey,
                      TranslationEventHandler onEvent);
    void translatePlainText(const QString& text, const QString& targetLanguage,
                            const CustomProvider& provider, const QString& apiKey,
                            TranslationEventHandler onEvent);
    // Ends the running job, which reports one failure saying it was cancelled.
    void cancel();

private:
    struct SrtJob;
    void runBatch(const std::shared_ptr<SrtJob>& job, qsizetype index);
    void sendBatch(const std::shared_ptr<SrtJob>& job, qsizetype index, bool corrective);

    std::chrono::milliseconds m_timeout;
    std::mutex m_cancelMutex; // a batch is never started past a cancel
    quint64 m_generation = 0;
    HttpClient m_http; // last: its transfers end before anything else goes
};

} // namespace vocalith
