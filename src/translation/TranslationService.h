#pragma once

#include "network/HttpClient.h"
#include "providers/CustomProvider.h"
#include "providers/KeptJob.h"
#include "providers/RateLimit.h"
#include "translation/TranslationError.h"
#include "translation/TranslationEvent.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
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

    // Without a time-out the preference is read at each exchange.
    explicit TranslationService(std::optional<std::chrono::milliseconds> timeout = {},
                                QObject* parent = nullptr);
    // A wait for a rate limit ends first, so no transfer's thread outlives the service.
    ~TranslationService() override;

    // srt for a ".srt" extension in any case, plain text for everything else.
    static InputFormat detectFormat(const QString& path);
    // Blocks are separated by runs of empty lines (LF or CRLF); each is trimmed, empty ones
    // dropped. Text holding half a surrogate pair is split like any other.
    static QStringList splitSRTBlocks(const QString& text);
    QList<QStringList> makeBatches(const QStringList& blocks) const;

    static QString srtSystemPrompt(const QString& languageName);
    static QString plainTextSystemPrompt(const QString& languageName);
    // The system message with the user's instructions (names, terms, tone) under a fixed
    // lead-in; unchanged when there are none.
    static QString withInstructions(const QString& systemPrompt, const QString& instructions);
    // The system message of a batch after the first: the previous batch's last translated
    // blocks follow, as context the reply must not repeat.
    static QString withPreviousBlocks(const QString& systemPrompt, const QStringList& blocks);
    // Blocks of the previous batch a later batch carries.
    static constexpr qsizetype contextBlocks = 3;

    using ChatResult = std::variant<QString, TranslationError>;
    using ChatCompletion = std::function<void(const ChatResult&)>;
    // The first choice's content, trimmed; absent with a reason when the body is not
    // a chat-completion answer or has no choice.
    static std::optional<QString> parseChatResponse(const QByteArray& body, QString& error);
    // Drops Markdown fence lines wherever they stand; what stood on either side of one
    // stays apart, as blocks do.
    static QString stripCodeFence(const QString& text);
    // The sent blocks with the reply's text in place of theirs: the numbers and time
    // lines are the originals, whatever the model did to them. Absent when the reply,
    // past any commentary before it, does not hold the same blocks in the same order,
    // leaves a text empty that was not, or has text between or after its blocks (a
    // remark, or the rest of a block after a blank line); mismatch then says what
    // differs, as in "the provider returned 14 blocks instead of 15".
    static std::optional<QStringList> matchBatchReply(const QStringList& sent, const QString& reply,
                                                      QString& mismatch);
    // Added to the system message of the one corrective request for a batch, so the
    // blocks stay the whole user message.
    static QString correctionNote(const QStringList& sent);

    void translateSRT(const QString& text, const QString& targetLanguage,
                      const CustomProvider& provider, const QString& apiKey,
                      TranslationEventHandler onEvent, const QString& instructions = {});
    void translatePlainText(const QString& text, const QString& targetLanguage,
                            const CustomProvider& provider, const QString& apiKey,
                            TranslationEventHandler onEvent, const QString& instructions = {});
    // Ends the running job, which reports one failure saying it was cancelled.
    void cancel();

    // A subtitle job whose batch failed is kept with the batches translated before it.
    bool hasKeptJob() const;
    // Continues the kept job from the batch that failed; false when there is none.
    bool resume(TranslationEventHandler onEvent);
    void discardKeptJob();

private:
    struct SrtJob;
    // One exchange with "/chat/completions" for the job started at generation;
    // completion is called exactly once, before this returns when nothing could be sent.
    // A 429 is waited out and the request sent again, onWait told the seconds left
    // once a second. Never called under m_cancelMutex.
    void sendChatCompletion(const QString& systemPrompt, const QString& userContent,
                            const CustomProvider& provider, const QString& apiKey,
                            quint64 generation, ChatCompletion completion,
                            std::function<void(int secondsLeft)> onWait);
    void runBatch(const std::shared_ptr<SrtJob>& job, qsizetype index);
    void sendBatch(const std::shared_ptr<SrtJob>& job, qsizetype index, bool corrective);
    void failBatch(const std::shared_ptr<SrtJob>& job, const TranslationError& error);
    // onEvent, silent once this service is going: whoever listened may be going too.
    TranslationEventHandler untilClosed(TranslationEventHandler onEvent);
    // Sends attempt number attempt of a request unless its job was cancelled.
    void post(const HttpRequest& request, const QString& providerName, quint64 generation,
              int attempt, std::chrono::milliseconds waited, ChatCompletion completion,
              std::function<void(int)> onWait);
    void handleAnswer(const HttpAnswer& answer, const HttpRequest& request,
                      const QString& providerName, quint64 generation, int attempt,
                      std::chrono::milliseconds waited, const ChatCompletion& completion,
                      const std::function<void(int)>& onWait);

    std::optional<std::chrono::milliseconds> m_timeout;
    mutable std::mutex m_cancelMutex; // a batch is never started past a cancel
    quint64 m_generation = 0;
    std::shared_mutex m_closingMutex; // held while a job reports
    bool m_closing = false;
    KeptJob<SrtJob> m_kept; // the failed job resume() continues
    RateLimit::Wait m_rateWait;
    HttpClient m_http; // last: its transfers end before anything else goes
};

} // namespace vocalith
