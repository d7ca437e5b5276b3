#pragma once

#include "core/TranscriptSegment.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vocalith {

// An SRT or WebVTT file kept block by block as it was read, so subtitles opened for
// review are written back as they came: only the cues whose rows changed are new.
class SubtitleDocument {
public:
    enum class Kind {
        Cue,
        Kept,      // the WebVTT header, a NOTE, STYLE or REGION block
        Unreadable // no subtitle a player could show: kept as it is, reported by the checker
    };

    struct Block {
        Kind kind = Kind::Kept;
        QString raw;       // as written, up to the line break after its last line
        QString separator; // the line breaks and blank lines after it
        int line = 0;      // where it starts, from 1
        // A cue's parts as written: the line before the times (empty when there is none),
        // the time line with any settings, the text lines with their markup.
        QString identifier;
        QString timeLine;
        QStringList lines;
        qint64 start = 0; // milliseconds
        qint64 end = 0;
    };

    static SubtitleDocument read(const QString& text);

    bool isWebVtt() const { return m_webVtt; }
    const QList<Block>& blocks() const { return m_blocks; }
    // The cues as review rows: the text lines joined by a space, each row naming its block.
    QList<TranscriptSegment> rows() const;
    // The file with these rows in place of its cues. A row whose text and times are its
    // block's own gives back the block as it was; another has its time line, and, when
    // its text changed, its text written anew. Rows made by splitting follow their block
    // as new cues; a block no row names is left out. Cues numbered 1, 2, 3... (from any
    // start) are numbered on afresh, so numbers stay consecutive after a split or delete.
    QString write(const QList<TranscriptSegment>& rows) const;

private:
    // A cue written for a row: `own` when it is the block's first row, not a split's.
    QString cueText(const Block& block, const TranscriptSegment& row, bool own,
                    const QString& identifier) const;

    QString m_leading; // a byte order mark, blank lines before the first block
    QList<Block> m_blocks;
    QString m_lineBreak = QStringLiteral("\n");
    bool m_webVtt = false;
};

} // namespace vocalith
