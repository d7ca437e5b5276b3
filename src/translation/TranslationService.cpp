#include "TranslationService.h"

#include "core/TextTrimming.h"
#include "providers/ProviderHttp.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace vocalith {

struct TranslationService::SrtJob {
    QList<QStringList> batches;
    qsizetype blockCount = 0;
    QString systemPrompt;
    CustomProvider provider;
    QString apiKey;
    QStringList translated;
    TranslationEventHandler onEvent;
    quint64 generation = 0;
    double fraction = 0.05; // of the batch being sent
};

namespace {

const QString blockSeparator = QStringLiteral("\n\n");

void reportFailure(const TranslationEventHandler& onEvent, const TranslationError& error) {
    onEvent(TranslationEvent::failure(error.toEngineError()));
}

bool isNumberLine(const QString& block) {
    bool number = false;
    block.section(QLatin1Char('\n'), 0, 0).trimmed().toLongLong(&number);
    return number;
}

bool isTimeLine(const QString& line) {
    return line.contains(QLatin1String("-->"));
}

// The number line, and the time line when there is one.
qsizetype headLines(const QStringList& lines) {
    return lines.size() > 1 && isTimeLine(lines[1]) ? 2 : 1;
}

QString numberOf(const QString& block) {
    return block.section(QLatin1Char('\n'), 0, 0).trimmed();
}

// A JSON escape such as "\ud800" decodes to half a character, which could be neither
// sent on in the next batch's context nor written as UTF-8.
QString withoutLoneSurrogates(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace

TranslationService::TranslationService(std::optional<std::chrono::milliseconds> timeout,
                                       QObject* parent)
    : QObject(parent)
    , m_timeout(timeout) {
}

TranslationService::~TranslationService() {
    {
        // Waits for a report on its way, then lets none through.
        const std::unique_lock lock(m_closingMutex);
        m_closing = true;
    }
    cancel();
}

TranslationEventHandler TranslationService::untilClosed(TranslationEventHandler onEvent) {
    // Transfers are joined before the members they read go, so this is never read late.
    return [this, onEvent = std::move(onEvent)](const TranslationEvent& event) {
        const std::shared_lock lock(m_closingMutex);
        if (!m_closing)
            onEvent(event);
    };
}

void TranslationService::cancel() {
    {
        const std::lock_guard lock(m_cancelMutex);
        ++m_generation;
        m_http.cancelAll();
    }
    // Outside the lock: a waiting exchange takes the wait's lock, then reads the generation.
    m_rateWait.wakeAll();
}

bool TranslationService::hasKeptJob() const {
    return m_kept.has();
}

bool TranslationService::resume(TranslationEventHandler onEvent) {
    const std::shared_ptr<SrtJob> job = m_kept.take();
    if (!job)
        return false;
    {
        const std::lock_guard lock(m_cancelMutex);
        job->generation = m_generation;
    }
    job->onEvent = untilClosed(std::move(onEvent));
    runBatch(job, job->translated.size());
    return true;
}

void TranslationService::discardKeptJob() {
    m_kept.discard();
}

void TranslationService::failBatch(const std::shared_ptr<SrtJob>& job,
                                   const TranslationError& error) {
    if (error.kind() != TranslationError::Case::cancelled) {
        const std::lock_guard lock(m_cancelMutex);
        if (job->generation == m_generation)
            m_kept.keep(job);
    }
    reportFailure(job->onEvent, error);
}

TranslationService::InputFormat TranslationService::detectFormat(const QString& path) {
    return QFileInfo(path).suffix().toLower() == QLatin1String("srt") ? InputFormat::srt
                                                                      : InputFormat::plainText;
}

QStringList TranslationService::splitSRTBlocks(const QString& text) {
    // One pass, without a regular expression: one would match nothing in text holding
    // half a surrogate pair, and QString::replace of CRLF moves the tail once per
    // thousand matches, which grows with the square of a long file.
    QStringList blocks;
    QString block;
    const auto endBlock = [&] {
        const QString trimmed = trimmedWhiteSpaceAndLineBreaks(block);
        if (!trimmed.isEmpty())
            blocks.append(trimmed);
        block.clear();
    };
    qsizetype breaks = 0; // line feeds in a row, CRLF counted as one
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        if (c == u'\n') {
            ++breaks;
            continue;
        }
        if (breaks >= 2)
            endBlock();
        else if (breaks == 1)
            block.append(u'\n');
        breaks = 0;
        block.append(c);
    }
    endBlock();
    return blocks;
}

QList<QStringList> TranslationService::makeBatches(const QStringList& blocks) const {
    QList<QStringList> batches;
    for (qsizetype start = 0; start < blocks.size(); start += srtChunkSize)
        batches.append(blocks.mid(start, srtChunkSize));
    return batches;
}

QString TranslationService::srtSystemPrompt(const QString& languageName) {
    return QStringLiteral("You are a professional subtitle translator. Translate ONLY the dialogue "
                          "lines into ") +
           languageName +
           QStringLiteral(". Keep every index number and every timestamp line (format: "
                          "00:00:01,000 --> 00:00:04,000) exactly as-is — do not alter, reformat, "
                          "or omit them. Do not add explanations, comments, or extra blank lines. "
                          "Return only the translated SRT blocks.");
}

QString TranslationService::withInstructions(const QString& systemPrompt,
                                             const QString& instructions) {
    const QString text = trimmedWhiteSpaceAndLineBreaks(instructions);
    if (text.isEmpty())
        return systemPrompt;
    return systemPrompt +
           QStringLiteral("\n\nFollow these instructions from the user about names, terms and "
                          "tone:\n") +
           text;
}

QString TranslationService::withPreviousBlocks(const QString& systemPrompt,
                                               const QStringList& blocks) {
    if (blocks.isEmpty())
        return systemPrompt;
    return systemPrompt +
           QStringLiteral("\n\nFor consistent names and terms, here are the last subtitle blocks "
                          "of the previous batch as already translated. They are context only: "
                          "do not translate, repeat or include them in your reply.\n\n") +
           blocks.join(blockSeparator);
}

QString TranslationService::plainTextSystemPrompt(const QString& languageName) {
    return QStringLiteral("You are a professional translator. Translate the text below into ") +
           languageName +
           QStringLiteral(". Return only the translated text with no explanation, notes, or extra "
                          "formatting.");
}

void TranslationService::sendChatCompletion(const QString& systemPrompt, const QString& userContent,
                                            const CustomProvider& provider, const QString& apiKey,
                                            quint64 generation, ChatCompletion completion,
                                            std::function<void(int)> onWait) {
    const std::optional<QUrl> url =
        ProviderHttp::endpoint(provider.baseURL, QStringLiteral("/chat/completions"));
    if (!url)
        return completion(TranslationError::invalidURL());
    if (!ProviderHttp::isUsableApiKey(apiKey))
        return completion(TranslationError::unusableApiKey());
    // Text with broken UTF-16 would be silently altered on the way to UTF-8.
    if (!systemPrompt.isValidUtf16() || !userContent.isValidUtf16() ||
        !provider.model.isValidUtf16())
        return completion(TranslationError::encodingFailed());

    const QJsonObject body{
        {QStringLiteral("model"), provider.model},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                {QStringLiteral("content"), systemPrompt}},
                    QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), userContent}}}},
        {QStringLiteral("temperature"), 0.3},
    };
    HttpRequest request;
    request.url = *url;
    request.headers = {{"Content-Type", "application/json"}};
    if (!apiKey.isEmpty()) // a server on the user's own network may need none
        request.headers.prepend({"Authorization", "Bearer " + apiKey.toUtf8()});
    request.body = {BodyPart::data(QJsonDocument(body).toJson(QJsonDocument::Compact))};
    request.idleTimeout = m_timeout.value_or(ProviderHttp::timeoutSetting(defaultTimeout));
    post(request, provider.name, generation, 1, {}, std::move(completion), std::move(onWait));
}

void TranslationService::post(const HttpRequest& request, const QString& providerName,
                              quint64 generation, int attempt, std::chrono::milliseconds waited,
                              ChatCompletion completion, std::function<void(int)> onWait) {
    {
        // Checked and sent under the lock, so nothing is sent past a cancel.
        const std::lock_guard lock(m_cancelMutex);
        if (generation == m_generation) {
            m_http.post(request, {}, [=, this](const HttpAnswer& answer) {
                handleAnswer(answer, request, providerName, generation, attempt, waited, completion,
                             onWait);
            });
            return;
        }
    }
    completion(TranslationError::cancelled());
}

void TranslationService::handleAnswer(const HttpAnswer& answer, const HttpRequest& request,
                                      const QString& providerName, quint64 generation, int attempt,
                                      std::chrono::milliseconds waited,
                                      const ChatCompletion& completion,
                                      const std::function<void(int)>& onWait) {
    if (answer.cancelled)
        return completion(TranslationError::cancelled());
    if (answer.transportError)
        return completion(TranslationError::network(*answer.transportError));
    if (const auto wait = RateLimit::nextWait(answer, attempt, waited)) {
        const auto stopped = [this, generation] {
            const std::lock_guard lock(m_cancelMutex);
            return generation != m_generation;
        };
        if (!m_rateWait.wait(*wait, stopped, [&](int secondsLeft) {
                if (onWait)
                    onWait(secondsLeft);
            }))
            return completion(TranslationError::cancelled());
        return post(request, providerName, generation, attempt + 1, waited + *wait, completion,
                    onWait);
    }
    if (!answer.isSuccessStatus())
        return completion(
            TranslationError::apiError(answer.status, ProviderHttp::bodyText(answer.body)));
    QString error;
    const std::optional<QString> content = parseChatResponse(answer.body, error);
    if (!content)
        return completion(TranslationError::parseError(error));
    completion(*content);
}

std::optional<QString> TranslationService::parseChatResponse(const QByteArray& body,
                                                             QString& error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = ProviderHttp::jsonErrorText(parseError);
        return std::nullopt;
    }
    const QJsonValue choices = document.object().value(QLatin1String("choices"));
    if (!document.isObject() || !choices.isArray()) {
        error = QStringLiteral("Expected an object with a \"choices\" array.");
        return std::nullopt;
    }
    const QJsonArray array = choices.toArray();
    QStringList contents;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue content = array.at(i)
                                       .toObject()
                                       .value(QLatin1String("message"))
                                       .toObject()
                                       .value(QLatin1String("content"));
        if (!content.isString()) {
            error = QStringLiteral("Choice ") + QString::number(i + 1) +
                    QStringLiteral(" has no \"message\" with a \"content\" string.");
            return std::nullopt;
        }
        contents.append(content.toString());
    }
    if (contents.isEmpty()) {
        error = TranslationError::emptyResponse().errorDescription();
        return std::nullopt;
    }
    return trimmedWhiteSpaceAndLineBreaks(withoutLoneSurrogates(contents.first()));
}

QString TranslationService::stripCodeFence(const QString& text) {
    static const QRegularExpression fenceLine(QStringLiteral("^[ \\t]*```[^\\n]*$"),
                                              QRegularExpression::MultilineOption);
    QString result = text;
    result.replace(fenceLine, QString());
    return trimmedWhiteSpaceAndLineBreaks(result);
}

std::optional<QStringList> TranslationService::matchBatchReply(const QStringList& sent,
                                                               const QString& reply,
                                                               QString& mismatch) {
    QStringList blocks = splitSRTBlocks(stripCodeFence(reply));
    // Blocks that are not numbered are taken as they come; numbered ones are checked.
    const bool numbered = std::all_of(sent.cbegin(), sent.cend(), isNumberLine);
    if (numbered) { // "Here is the translation:" and the like are not blocks
        while (!blocks.isEmpty() && !isNumberLine(blocks.first()))
            blocks.removeFirst();
    }
    const qsizetype returned =
        numbered ? std::count_if(blocks.cbegin(), blocks.cend(), isNumberLine) : blocks.size();
    if (returned != sent.size()) {
        mismatch = QStringLiteral("the provider returned ") + QString::number(returned) +
                   QStringLiteral(" blocks instead of ") + QString::number(sent.size());
        return std::nullopt;
    }
    if (!numbered)
        return blocks;
    QStringList rebuilt;
    for (qsizetype b = 0; b < blocks.size(); ++b) {
        const qsizetype i = rebuilt.size();
        // Text between or after the blocks may be a block's own, cut off by a blank line:
        // never dropped unseen.
        if (!isNumberLine(blocks[b])) {
            mismatch = QStringLiteral("the provider's reply has text after block ") +
                       numberOf(sent[i - 1]);
            return std::nullopt;
        }
        const QStringList original = sent[i].split(QLatin1Char('\n'));
        QStringList lines = blocks[b].split(QLatin1Char('\n'));
        if (numberOf(blocks[b]) != numberOf(sent[i])) { // renumbered, merged or moved
            mismatch = QStringLiteral("the provider returned block ") + numberOf(blocks[b]) +
                       QStringLiteral(" where block ") + numberOf(sent[i]) +
                       QStringLiteral(" was sent");
            return std::nullopt;
        }
        lines.remove(0, headLines(lines));
        const qsizetype head = headLines(original);
        const bool hadText =
            !trimmedWhiteSpaceAndLineBreaks(original.mid(head).join(QLatin1Char('\n'))).isEmpty();
        if (hadText && trimmedWhiteSpaceAndLineBreaks(lines.join(QLatin1Char('\n'))).isEmpty()) {
            mismatch = QStringLiteral("the provider returned block ") + numberOf(sent[i]) +
                       QStringLiteral(" without its text");
            return std::nullopt;
        }
        rebuilt.append((original.mid(0, head) + lines).join(QLatin1Char('\n')));
    }
    return rebuilt;
}

QString TranslationService::correctionNote(const QStringList& sent) {
    return QStringLiteral("Your previous reply did not keep the subtitle blocks. Return exactly ") +
           QString::number(sent.size()) + QStringLiteral(" blocks, numbered ") +
           numberOf(sent.first()) + QStringLiteral(" to ") + numberOf(sent.last()) +
           QStringLiteral(", each with its number, its timestamp line and its translated text, "
                          "and nothing else.");
}

void TranslationService::translateSRT(const QString& text, const QString& targetLanguage,
                                      const CustomProvider& provider, const QString& apiKey,
                                      TranslationEventHandler onEvent,
                                      const QString& instructions) {
    discardKeptJob(); // a new job replaces the one kept
    const QStringList blocks = splitSRTBlocks(text);
    if (blocks.isEmpty())
        return reportFailure(onEvent, TranslationError::emptyInput());

    auto job = std::make_shared<SrtJob>();
    job->batches = makeBatches(blocks);
    job->blockCount = blocks.size();
    job->systemPrompt = withInstructions(srtSystemPrompt(targetLanguage), instructions);
    job->provider = provider;
    job->apiKey = apiKey;
    job->onEvent = untilClosed(std::move(onEvent));
    {
        const std::lock_guard lock(m_cancelMutex);
        job->generation = m_generation;
    }
    job->onEvent(TranslationEvent::progress(
        0.05, QStringLiteral("Translating ") + QString::number(job->blockCount) +
                  QStringLiteral(" subtitle blocks in ") + QString::number(job->batches.size()) +
                  QStringLiteral(" batch(es)...")));
    runBatch(job, 0);
}

void TranslationService::runBatch(const std::shared_ptr<SrtJob>& job, qsizetype index) {
    const qsizetype batchCount = job->batches.size();
    if (index >= batchCount) {
        job->onEvent(TranslationEvent::progress(1.0, QStringLiteral("Complete")));
        job->onEvent(TranslationEvent::success(job->translated.join(blockSeparator)));
        return;
    }
    {
        const std::lock_guard lock(m_cancelMutex);
        if (job->generation != m_generation)
            return reportFailure(job->onEvent, TranslationError::cancelled());
    }
    qsizetype done = 0;
    for (qsizetype i = 0; i < index; ++i)
        done += job->batches[i].size();
    job->fraction = 0.05 + 0.9 * static_cast<double>(done) / static_cast<double>(job->blockCount);
    job->onEvent(TranslationEvent::progress(
        job->fraction, QStringLiteral("Translating Batch ") + QString::number(index + 1) +
                           QLatin1Char('/') + QString::number(batchCount) + QStringLiteral("...")));
    sendBatch(job, index, false);
}

void TranslationService::sendBatch(const std::shared_ptr<SrtJob>& job, qsizetype index,
                                   bool corrective) {
    const QStringList& batch = job->batches[index];
    QString systemPrompt = job->systemPrompt;
    if (index > 0) {
        const QStringList previous = splitSRTBlocks(job->translated[index - 1]);
        systemPrompt = withPreviousBlocks(systemPrompt,
                                          previous.last(std::min(contextBlocks, previous.size())));
    }
    // The correction goes with the instructions: a model that translates all it is given
    // would send it back, translated, after the last block.
    if (corrective)
        systemPrompt += blockSeparator + correctionNote(batch);
    sendChatCompletion(
        systemPrompt, batch.join(blockSeparator), job->provider, job->apiKey, job->generation,
        [this, job, index, corrective](const ChatResult& result) {
            if (const auto* error = std::get_if<TranslationError>(&result))
                return failBatch(job, *error);
            const QStringList& sent = job->batches[index];
            QString mismatch;
            if (const auto blocks = matchBatchReply(sent, std::get<QString>(result), mismatch)) {
                job->translated.append(blocks->join(blockSeparator));
                return runBatch(job, index + 1);
            }
            if (corrective)
                return failBatch(
                    job, TranslationError::batchMismatch(index + 1, job->batches.size(), mismatch));
            // One corrective request, only because this reply cannot be used.
            sendBatch(job, index, true);
        },
        [job](int secondsLeft) {
            job->onEvent(TranslationEvent::progress(
                job->fraction, RateLimit::statusText(job->provider.name, secondsLeft)));
        });
}

void TranslationService::translatePlainText(const QString& text, const QString& targetLanguage,
                                            const CustomProvider& provider, const QString& apiKey,
                                            TranslationEventHandler onEvent,
                                            const QString& instructions) {
    discardKeptJob();
    onEvent = untilClosed(std::move(onEvent));
    onEvent(TranslationEvent::progress(0.05, QStringLiteral("Preparing request to ") +
                                                 provider.name + QStringLiteral("...")));
    quint64 generation = 0;
    {
        const std::lock_guard lock(m_cancelMutex);
        generation = m_generation;
    }
    sendChatCompletion(
        withInstructions(plainTextSystemPrompt(targetLanguage), instructions), text, provider,
        apiKey, generation,
        [onEvent](const ChatResult& result) {
            if (const auto* error = std::get_if<TranslationError>(&result))
                return reportFailure(onEvent, *error);
            onEvent(TranslationEvent::progress(1.0, QStringLiteral("Complete")));
            onEvent(TranslationEvent::success(std::get<QString>(result)));
        },
        [onEvent, name = provider.name](int secondsLeft) {
            onEvent(TranslationEvent::progress(0.05, RateLimit::statusText(name, secondsLeft)));
        });
}

} // namespace vocalith
