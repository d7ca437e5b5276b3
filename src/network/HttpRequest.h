#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <utility>

namespace vocalith {

// One piece of a request body: bytes held in memory, or a whole file read from disk
// while it is sent, so a large upload never sits in memory.
struct BodyPart {
    QByteArray bytes;
    QString filePath; // when set, the file's contents stand here instead of bytes

    static BodyPart data(const QByteArray& bytes) { return {bytes, {}}; }
    static BodyPart file(const QString& path) { return {{}, path}; }
};

// A POST as the providers take it. No redirect is followed and nothing is retried.
struct HttpRequest {
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QList<BodyPart> body;
    // No byte moved in either direction for this long ends the transfer.
    std::chrono::milliseconds idleTimeout{120'000};
};

// How a transfer ended: a transport failure, a cancel, or an HTTP status with its body.
struct HttpAnswer {
    std::optional<QString> transportError;
    bool cancelled = false;
    bool bodyUnreadable = false; // a file of the body could not be read to its end
    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers; // the final response's
    QByteArray body;

    bool isSuccessStatus() const { return status >= 200 && status <= 299; }
    // The first header of that name, in any case; empty when there is none.
    QByteArray header(QByteArrayView name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

} // namespace vocalith
