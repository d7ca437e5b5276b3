#pragma once

#include "core/TranscriptSegment.h"

#include <QList>
#include <QString>

namespace vocalith {

// The numbers broadcast and streaming subtitles are made to.
struct SubtitleRules {
    qsizetype maxChars = 42; // a line, in grapheme clusters
    qsizetype maxLines = 2;
    double minDuration = 0.833; // seconds: 5/6 s
    double maxDuration = 7.0;
    double maxCharsPerSecond = 17.0;
    double minGap = 0.083; // two frames at 24 fps
};

// Subtitles laid out to SubtitleRules: the words regrouped into subtitles of at most two
// balanced lines, each shown long enough to read, never a word changed or moved.
namespace BroadcastLayout {

// The segments' words (times spread over a segment's characters where it holds several)
// as subtitles whose text holds their line break. languageCode chooses the words a line
// may start with or not end with.
QList<TranscriptSegment> layout(const QList<TranscriptSegment>& segments,
                                const QString& languageCode, const SubtitleRules& rules = {});

// An SRT file with each block's text re-broken into lines; numbers and times stay.
QString rewrapSrt(const QString& srt, const QString& languageCode, const SubtitleRules& rules = {});

} // namespace BroadcastLayout

} // namespace vocalith
