#pragma once

#include "support/LoopbackHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vocalith::test {

// A chat-completion answer whose first choice holds content.
inline QByteArray chatAnswer(const QString& content) {
    const QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                              {QStringLiteral("content"), content}};
    const QJsonObject choice{{QStringLiteral("message"), message}};
    return QJsonDocument(QJsonObject{{QStringLiteral("choices"), QJsonArray{choice}}})
        .toJson(QJsonDocument::Compact);
}

// The user message of a recorded chat-completion request.
inline QString chatUserMessage(const LoopbackHttpServer::Request& request) {
    return QJsonDocument::fromJson(request.body)
        .object()
        .value(QStringLiteral("messages"))
        .toArray()
        .at(1)
        .toObject()
        .value(QStringLiteral("content"))
        .toString();
}

// Answers every chat request with its own user message, transformed.
inline LoopbackHttpServer::Responder echoingChat(std::function<QString(const QString&)> transform =
                                                     [](const QString& s) { return s; }) {
    return [transform](const LoopbackHttpServer::Request& request) {
        return LoopbackHttpServer::Response(200, chatAnswer(transform(chatUserMessage(request))));
    };
}

} // namespace vocalith::test
