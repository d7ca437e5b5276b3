#pragma once

#include "network/HttpRequest.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>

namespace vocalith {

class HttpTransfer;

// Sends requests with libcurl, each on a worker thread of its own, over a fresh
// connection: exactly one request per call, whatever the server does. TLS is checked
// against the system's certificates and proxies come from the usual environment
// variables. Callbacks run on the transfer's thread; a transfer may be started from
// any thread, also from inside another's callback.
class HttpClient final {
public:
    // sent and total are body bytes.
    using Progress = std::function<void(qint64 sent, qint64 total)>;
    using Finished = std::function<void(const HttpAnswer&)>;
    // Answers are JSON documents; a larger body ends the transfer with an error rather
    // than filling memory. The "verbose_json" of a 25 MB part of low-rate Opus (over two
    // hours, some 2,000 segments with their tokens) comes near 1 MB, hence the room.
    static constexpr qint64 maxResponseBytes = 4'000'000;

    HttpClient();
    // Cancels every transfer and waits for their threads; no callback runs after it.
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // finished is called exactly once, unless the client is being destroyed.
    void post(const HttpRequest& request, Progress progress, Finished finished);
    // Ends every running transfer within a few milliseconds; each reports cancelled.
    void cancelAll();

private:
    void reapFinished();

    std::mutex m_mutex;
    bool m_closing = false;
    std::list<std::shared_ptr<HttpTransfer>> m_transfers;
};

} // namespace vocalith
