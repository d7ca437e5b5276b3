#pragma once

#include <QList>
#include <QString>

namespace vocalith {

// One place a search matched: which transcript, when it was said, the words around it.
struct SearchHit {
    qint64 transcriptId = 0;
    QString recordingPath;
    QString speaker;
    double time = 0.0; // seconds into the recording of the first matched word
    QString context;
    // Where the matched words are in context: start and length.
    QList<std::pair<int, int>> marks;
};

} // namespace vocalith
