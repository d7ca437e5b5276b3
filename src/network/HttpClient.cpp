#include "HttpClient.h"

#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace vocalith {

namespace {

using Clock = std::chrono::steady_clock;

void initialiseCurl() {
    // Once per process, before any thread uses libcurl.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    Q_UNUSED(result);
}

// Serves the body parts in order; files are read while they are sent.
class BodyReader {
public:
    explicit BodyReader(const QList<BodyPart>& parts)
        : m_parts(parts) {}

    // The total size, or absent when a file of the body cannot be read.
    std::optional<qint64> measure() {
        qint64 total = 0;
        for (const BodyPart& part : m_parts) {
            if (part.filePath.isEmpty()) {
                total += part.bytes.size();
                continue;
            }
            const QFileInfo info(part.filePath);
            if (!info.isFile() || !info.isReadable())
                return std::nullopt;
            m_fileSizes.append(info.size());
            total += info.size();
        }
        return total;
    }

    // Up to size bytes, 0 at the end, or absent when a file fails or ends early.
    std::optional<size_t> read(char* buffer, size_t size) {
        size_t done = 0;
        while (done < size && m_part < m_parts.size()) {
            const BodyPart& part = m_parts[m_part];
            if (part.filePath.isEmpty()) {
                const size_t n = std::min(size - done, size_t(part.bytes.size() - m_offset));
                std::memcpy(buffer + done, part.bytes.constData() + m_offset, n);
                done += n;
                m_offset += qint64(n);
                if (m_offset == part.bytes.size())
                    next();
                continue;
            }
            if (!m_file.isOpen()) {
                m_file.setFileName(part.filePath);
                if (!m_file.open(QIODevice::ReadOnly))
                    return std::nullopt;
            }
            const qint64 expected = m_fileSizes[m_filePart];
            const qint64 n =
                m_file.read(buffer + done, std::min(qint64(size - done), expected - m_offset));
            if (n <= 0 && m_offset < expected)
                return std::nullopt; // a read error, or the file shrank meanwhile
            done += size_t(n);
            m_offset += n;
            if (m_offset == expected) {
                m_file.close();
                ++m_filePart;
                next();
            }
        }
        return done;
    }

private:
    void next() {
        ++m_part;
        m_offset = 0;
    }

    const QList<BodyPart> m_parts;
    QList<qint64> m_fileSizes;
    qsizetype m_part = 0;
    qsizetype m_filePart = 0;
    qint64 m_offset = 0;
    QFile m_file;
};

} // namespace

// One request on a thread of its own, with its own connection.
class HttpTransfer final {
public:
    HttpTransfer(const HttpRequest& request, HttpClient::Progress progress,
                 HttpClient::Finished finished)
        : m_request(request)
        , m_progress(std::move(progress))
        , m_finished(std::move(finished))
        , m_reader(request.body)
        , m_multi(curl_multi_init()) {}

    ~HttpTransfer() {
        join();
        curl_multi_cleanup(m_multi);
    }

    void start() {
        m_thread = std::thread([this] { run(); });
    }
    void cancel() {
        m_cancelled = true;
        curl_multi_wakeup(m_multi);
    }
    // No callback runs any more: the owner is going away.
    void silence() { m_silenced = true; }
    bool isDone() const { return m_done; }
    void join() {
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            m_thread.join();
    }

private:
    static size_t readBody(char* buffer, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<HttpTransfer*>(self);
        const std::optional<size_t> n = transfer->m_reader.read(buffer, size * count);
        if (!n) {
            transfer->m_bodyUnreadable = true;
            return CURL_READFUNC_ABORT;
        }
        return *n;
    }

    static size_t writeBody(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<HttpTransfer*>(self);
        if (transfer->m_answer.body.size() + qint64(size * count) > HttpClient::maxResponseBytes) {
            transfer->m_responseTooLarge = true;
            return 0; // ends the transfer
        }
        transfer->m_answer.body.append(data, qsizetype(size * count));
        transfer->m_lastActivity = Clock::now();
        return size * count;
    }

    static constexpr qsizetype maxHeaders = 200;
    static size_t readHeader(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<HttpTransfer*>(self);
        const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
        if (line.startsWith("HTTP/")) // a new response (after a 100 Continue, say)
            transfer->m_answer.headers.clear();
        else if (const qsizetype colon = line.indexOf(':');
                 colon > 0 && transfer->m_answer.headers.size() < maxHeaders)
            transfer->m_answer.headers.append(
                {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return size * count;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t uploadTotal,
                          curl_off_t uploaded) {
        auto* transfer = static_cast<HttpTransfer*>(self);
        if (uploaded != transfer->m_uploaded || downloaded != transfer->m_downloaded) {
            transfer->m_lastActivity = Clock::now();
            if (uploaded != transfer->m_uploaded && transfer->m_progress && !transfer->m_silenced)
                transfer->m_progress(qint64(uploaded), qint64(uploadTotal));
            transfer->m_uploaded = uploaded;
            transfer->m_downloaded = downloaded;
        }
        return transfer->m_cancelled ? 1 : 0;
    }

    void run() {
        const std::optional<qint64> total = m_reader.measure();
        if (!total)
            m_answer.bodyUnreadable = true;
        else
            perform(*total);
        if (!m_silenced && m_finished)
            m_finished(m_answer);
        m_done = true;
    }

    void perform(qint64 total) {
        CURL* easy = curl_easy_init();
        curl_slist* headers = nullptr;
        for (const auto& [name, value] : m_request.headers)
            headers = curl_slist_append(headers, QByteArray(name + ": " + value).constData());
        // No "100-continue" round trip: servers that never answer it would stall us.
        headers = curl_slist_append(headers, "Expect:");
        char error[CURL_ERROR_SIZE] = {};
        const QByteArray url = m_request.url.toEncoded();
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(total));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &HttpTransfer::readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::writeBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::readHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &HttpTransfer::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
        curl_multi_add_handle(m_multi, easy);

        m_lastActivity = Clock::now();
        bool timedOut = false;
        for (int running = 1;;) {
            curl_multi_perform(m_multi, &running);
            if (!running || m_cancelled)
                break;
            const auto idle = Clock::now() - m_lastActivity.load();
            if (idle >= m_request.idleTimeout) {
                timedOut = true;
                break;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_request.idleTimeout - idle);
            curl_multi_poll(m_multi, nullptr, 0, int(std::clamp<qint64>(left.count(), 1, 100)),
                            nullptr);
        }

        CURLcode result = CURLE_OK;
        int queued = 0;
        if (CURLMsg* message = curl_multi_info_read(m_multi, &queued);
            message && message->msg == CURLMSG_DONE)
            result = message->data.result;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        long osError = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
        curl_multi_remove_handle(m_multi, easy);
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);

        if (m_cancelled) {
            m_answer.cancelled = true;
        } else if (timedOut || result == CURLE_OPERATION_TIMEDOUT) {
            m_answer.transportError = QStringLiteral("The request timed out.");
        } else if (m_bodyUnreadable) {
            m_answer.bodyUnreadable = true;
        } else if (m_responseTooLarge) {
            m_answer.transportError = QStringLiteral("The response is larger than ") +
                                      QString::number(HttpClient::maxResponseBytes / 1'000'000) +
                                      QStringLiteral(" MB.");
        } else if (result == CURLE_COULDNT_CONNECT && osError != 0) {
            m_answer.transportError = QString::fromLocal8Bit(std::strerror(int(osError)));
        } else if (result != CURLE_OK) {
            m_answer.transportError =
                QString::fromUtf8(std::strlen(error) > 0 ? error : curl_easy_strerror(result));
        } else if (status == 0) {
            m_answer.transportError = QStringLiteral("No HTTP response");
        } else {
            m_answer.status = int(status);
        }
        if (!m_answer.status) {
            m_answer.body.clear();
            m_answer.headers.clear();
        }
    }

    const HttpRequest m_request;
    const HttpClient::Progress m_progress;
    const HttpClient::Finished m_finished;
    BodyReader m_reader;
    CURLM* m_multi;
    std::thread m_thread;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_silenced{false};
    std::atomic<bool> m_done{false};
    bool m_bodyUnreadable = false;
    bool m_responseTooLarge = false;
    std::atomic<Clock::time_point> m_lastActivity{Clock::now()};
    curl_off_t m_uploaded = 0;
    curl_off_t m_downloaded = 0;
    HttpAnswer m_answer;
};

HttpClient::HttpClient() {
    initialiseCurl();
}

HttpClient::~HttpClient() {
    std::list<std::shared_ptr<HttpTransfer>> transfers;
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        transfers.swap(m_transfers);
    }
    for (const auto& transfer : transfers) {
        transfer->silence();
        transfer->cancel();
    }
    for (const auto& transfer : transfers)
        transfer->join();
}

void HttpClient::post(const HttpRequest& request, Progress progress, Finished finished) {
    const std::lock_guard lock(m_mutex);
    if (m_closing)
        return;
    reapFinished();
    auto transfer =
        std::make_shared<HttpTransfer>(request, std::move(progress), std::move(finished));
    m_transfers.push_back(transfer);
    transfer->start();
}

void HttpClient::cancelAll() {
    const std::lock_guard lock(m_mutex);
    for (const auto& transfer : m_transfers)
        transfer->cancel();
}

void HttpClient::reapFinished() {
    m_transfers.remove_if([](const std::shared_ptr<HttpTransfer>& transfer) {
        if (!transfer->isDone())
            return false;
        transfer->join();
        return true;
    });
}

} // namespace vocalith
