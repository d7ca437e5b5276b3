#pragma once

#include "core/TranscriptSegment.h"

#include <QList>
#include <QString>

namespace vocalith {

// The segment texts joined by one space, untrimmed. When speakers are known, a
// paragraph for each turn instead, "Speaker 1: text", with a blank line between.
QString plainTextRendering(const QList<TranscriptSegment>& segments);

// Consecutive segments regrouped into cues: a new one after a pause over 0.4 s, where
// the text would pass 80 characters or the span 6 s, or another speaker begins. A cue
// keeps the segments' words, speaker and the lowest confidence among them.
QList<TranscriptSegment> groupIntoCues(const QList<TranscriptSegment>& segments);

// Subtitles: consecutive segments regrouped into cues (split at a pause over
// 0.4 s, a text over 80 characters or a span over 6 s), numbered from 1.
QString srtRendering(const QList<TranscriptSegment>& segments);

// WebVTT: the same cues as SRT under a "WEBVTT" header, "HH:MM:SS.mmm" times, and
// "&", "<", ">" escaped in the text; a cue with a speaker in a voice span,
// "<v Speaker 1>text</v>".
QString vttRendering(const QList<TranscriptSegment>& segments);

// Cues already laid out (a text may hold line breaks), numbered from 1, as SRT; and
// as WebVTT, with the header, dotted times and escaped text.
QString srtFromCues(const QList<TranscriptSegment>& cues);
QString vttFromCues(const QList<TranscriptSegment>& cues);

// The cues with "Name: " before the text of each that has a speaker.
QList<TranscriptSegment> withSpeakerNames(QList<TranscriptSegment> cues);

// User-perceived characters, so accents and emoji count once.
qsizetype graphemeCount(const QString& text);

// "HH:MM:SS,mmm", rounded to the nearest millisecond.
QString srtTimestamp(double seconds);

} // namespace vocalith
