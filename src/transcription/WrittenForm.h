#pragma once

#include "core/TranscriptSegment.h"
#include "transcription/WordList.h"

#include <QList>
#include <QString>

#include <memory>
#include <span>

namespace vocalith {

// Writes the on-device recogniser's lower-case words as people write them: a capital at
// the start of each sentence and a full stop at its end, "I", and the names and titles
// the word list knows. Only the words' texts change; times and confidences stay.
class WrittenForm final {
public:
    // A pause at least this long after an utterance ends its sentence.
    static constexpr double sentencePause = 0.5;

    static QString settingKey();
    // Whether on-device text is written out (the default) or kept as recognised.
    static bool isEnabled();

    // Without a word list the text stays as recognised.
    explicit WrittenForm(std::shared_ptr<const WordList> words);

    // Rewrites one utterance, words in order, in place. pauseAfter: the quiet before the
    // next utterance in seconds; 0 where the recogniser cut without a pause.
    void rewriteUtterance(std::span<TranscriptSegment> segments, double pauseAfter);
    // Rewrites a whole transcript whose utterances end at the given segments, each
    // followed by the pause up to the next segment's start.
    void rewriteTranscript(QList<TranscriptSegment>& segments, QList<qsizetype> utteranceEnds);

private:
    static bool isTitle(const QString& word);
    QString writtenWord(const QString& word, bool beforeAnother, bool afterTitle) const;

    std::shared_ptr<const WordList> m_words;
    bool m_inSentence = false;
};

} // namespace vocalith
