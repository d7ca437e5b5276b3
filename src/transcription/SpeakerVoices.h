#pragma once

#include "core/TranscriptSegment.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace vocalith {

// Who spoke, across the parts of one recording. Gives the labels a server answers the
// names readers see ("Speaker 1", "Speaker 2", ... in order of first appearance), and
// keeps a clip of each speaker's longest turn so that a later part can be asked to know
// them again. Used by one part at a time.
class SpeakerVoices {
public:
    // A known speaker as a request names them: the name, and a "data:audio/wav;base64,"
    // URL of a 16 kHz mono clip of their voice.
    struct Reference {
        QString name;
        QByteArray dataUrl;
    };
    static constexpr qsizetype mostReferences = 4;
    static constexpr double shortestClip = 2.0; // seconds
    static constexpr double longestClip = 10.0;

    // Renames the labels of one part's segments in place. A label that is the name of a
    // speaker already known is that speaker. Otherwise, when labels restart in each part
    // (models given references), each label is a new speaker of this part; when they do
    // not, the same label is the same speaker in every part.
    void name(QList<TranscriptSegment>& segments, bool labelsRestart);
    // Names already in the transcript, which new labels then never take.
    void knowNames(const QList<TranscriptSegment>& segments);
    // Counts what each named speaker said in this part (times from the part's start),
    // and cuts a new clip from the part's audio for each whose longest turn it holds.
    void listen(const QString& audioPath, const QList<TranscriptSegment>& segments);
    // The speakers with a clip, the most talkative first, at most mostReferences.
    QList<Reference> references() const;

private:
    struct Speaker {
        QString name;
        double seconds = 0.0; // all they said
        double longestTurn = 0.0;
        QByteArray clip; // WAV bytes
    };

    QList<Speaker> m_speakers;
    QHash<QString, qsizetype> m_labels; // a label (with its part, when they restart) → speaker
    int m_part = 0;
};

} // namespace vocalith
