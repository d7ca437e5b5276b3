#pragma once

#include "core/TranscriptSegment.h"

#include <QDateTime>
#include <QFileInfo>
#include <QList>
#include <QString>

namespace vocalith {

// A transcript as the library keeps it: what it was made from, how, and its segments.
struct StoredTranscript {
    qint64 id = 0; // 0 until stored
    QString recordingPath = {};
    qint64 recordingSize = 0;
    QDateTime recordingModified = {};
    // SHA-256 of the recording, in hex, so a moved file can be told from another.
    QString contentHash = {};
    QString engine = {}; // what the user picked: "On-device (PocketSphinx)" or a provider's name
    QString model = {};
    QString language = {};
    double duration = 0.0; // seconds
    QDateTime createdAt = {};
    QDateTime editedAt = {}; // invalid until edited in review
    QList<TranscriptSegment> segments = {};

    QString recordingName() const { return QFileInfo(recordingPath).fileName(); }
};

} // namespace vocalith
