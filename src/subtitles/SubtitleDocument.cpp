#include "SubtitleDocument.h"

#include <QRegularExpression>

#include <cmath>
#include <numeric>
#include <optional>

namespace vocalith {

namespace {

// "00:01:02,345 --> 00:01:04,000" with anything after it (WebVTT cue settings); WebVTT
// may leave out the hours.
const QRegularExpression& timeLinePattern() {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*((?:\\d{1,9}:)?\\d{1,2}:\\d{2}[,.]\\d{3})\\s*-->\\s*"
                       "((?:\\d{1,9}:)?\\d{1,2}:\\d{2}[,.]\\d{3})(?=\\s|$)"));
    return pattern;
}

// Kept whole, so the times saved are the times read, to the millisecond.
qint64 milliseconds(const QString& stamp) {
    static const QRegularExpression separators(QStringLiteral("[:,.]"));
    const QStringList fields = stamp.split(separators);
    qint64 total = 0;
    for (qsizetype i = 0; i + 1 < fields.size(); ++i)
        total = total * 60 + fields[i].toLongLong();
    return total * 1000 + fields.last().toLongLong();
}

qint64 milliseconds(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? std::llround(seconds * 1000.0) : 0;
}

// A time written as `like` was: the same decimal mark, hours only where it had them.
QString stampLike(qint64 total, const QString& like) {
    const qsizetype hourDigits =
        like.count(QLatin1Char(':')) == 2 ? like.indexOf(QLatin1Char(':')) : 0;
    const qint64 hours = total / 3'600'000;
    QString stamp;
    if (hourDigits > 0 || hours > 0)
        stamp = QStringLiteral("%1:").arg(hours, int(std::max<qsizetype>(hourDigits, 2)), 10,
                                          QLatin1Char('0'));
    return stamp + QStringLiteral("%1:%2%3%4")
                       .arg(total / 60'000 % 60, 2, 10, QLatin1Char('0'))
                       .arg(total / 1000 % 60, 2, 10, QLatin1Char('0'))
                       .arg(like.contains(QLatin1Char(',')) ? QLatin1Char(',') : QLatin1Char('.'))
                       .arg(total % 1000, 3, 10, QLatin1Char('0'));
}

QString joined(const QStringList& lines) {
    return lines.join(QLatin1Char(' ')).simplified();
}

std::optional<qint64> numberIn(const QString& identifier) {
    static const QRegularExpression digits(QStringLiteral("^\\d{1,15}$"));
    if (!digits.match(identifier).hasMatch())
        return std::nullopt;
    return identifier.toLongLong();
}

} // namespace

SubtitleDocument SubtitleDocument::read(const QString& text) {
    SubtitleDocument document;
    const qsizetype firstBreak = text.indexOf(QLatin1Char('\n'));
    if (firstBreak > 0 && text[firstBreak - 1] == QLatin1Char('\r'))
        document.m_lineBreak = QStringLiteral("\r\n");

    // Blocks are runs of lines with something on them; the blank lines between are kept.
    struct Line {
        qsizetype begin = 0;
        qsizetype end = 0; // before its line break
        bool blank = true;
    };
    QList<Line> fileLines;
    for (qsizetype position = text.startsWith(QChar(0xFEFF)) ? 1 : 0; position < text.size();) {
        const qsizetype lineBreak = text.indexOf(QLatin1Char('\n'), position);
        const qsizetype next = lineBreak < 0 ? text.size() : lineBreak + 1;
        qsizetype end = lineBreak < 0 ? text.size() : lineBreak;
        if (end > position && text[end - 1] == QLatin1Char('\r'))
            --end;
        fileLines.append(
            {position, end, QStringView(text).mid(position, end - position).trimmed().isEmpty()});
        position = next;
    }
    qsizetype separatorStart = 0;
    for (qsizetype first = 0; first < fileLines.size(); ++first) {
        if (fileLines[first].blank)
            continue;
        qsizetype last = first;
        while (last + 1 < fileLines.size() && !fileLines[last + 1].blank)
            ++last;
        if (document.m_blocks.isEmpty())
            document.m_leading = text.left(fileLines[first].begin);
        else
            document.m_blocks.last().separator =
                text.mid(separatorStart, fileLines[first].begin - separatorStart);
        Block block;
        block.raw = text.mid(fileLines[first].begin, fileLines[last].end - fileLines[first].begin);
        block.line = int(first + 1);
        document.m_blocks.append(block);
        separatorStart = fileLines[last].end;
        first = last;
    }
    if (document.m_blocks.isEmpty())
        document.m_leading = text;
    else
        document.m_blocks.last().separator = text.mid(separatorStart);

    for (qsizetype b = 0; b < document.m_blocks.size(); ++b) {
        Block& block = document.m_blocks[b];
        QStringList lines = block.raw.split(QLatin1Char('\n'));
        for (QString& each : lines) {
            if (each.endsWith(QLatin1Char('\r')))
                each.chop(1);
        }
        if (b == 0 && lines.first().startsWith(QLatin1String("WEBVTT"))) {
            document.m_webVtt = true;
            continue;
        }
        static const QRegularExpression kept(QStringLiteral("^(?:NOTE|STYLE|REGION)(?:\\s|$)"));
        if (document.m_webVtt && kept.match(lines.first()).hasMatch())
            continue;
        const qsizetype timeLine =
            std::find_if(lines.cbegin(), lines.cend(),
                         [](const QString& each) { return each.contains(QLatin1String("-->")); }) -
            lines.cbegin();
        const QRegularExpressionMatch times = timeLine < 2
                                                  ? timeLinePattern().match(lines.value(timeLine))
                                                  : QRegularExpressionMatch();
        if (!times.hasMatch()) {
            block.kind = Kind::Unreadable;
            continue;
        }
        block.kind = Kind::Cue;
        block.identifier = timeLine == 1 ? lines.first() : QString();
        block.timeLine = lines[timeLine];
        block.lines = lines.mid(timeLine + 1);
        block.start = milliseconds(times.captured(1));
        block.end = milliseconds(times.captured(2));
    }
    return document;
}

QList<TranscriptSegment> SubtitleDocument::rows() const {
    QList<TranscriptSegment> rows;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        const Block& block = m_blocks[b];
        if (block.kind != Kind::Cue)
            continue;
        TranscriptSegment row{joined(block.lines), block.start / 1000.0, block.end / 1000.0};
        row.subtitleBlock = int(b);
        rows.append(row);
    }
    return rows;
}

QString SubtitleDocument::write(const QList<TranscriptSegment>& rows) const {
    // The rows each cue holds now; a row of no known block follows the row before it.
    QList<QList<TranscriptSegment>> held(m_blocks.size());
    qsizetype current = std::find_if(m_blocks.cbegin(), m_blocks.cend(),
                                     [](const Block& block) { return block.kind == Kind::Cue; }) -
                        m_blocks.cbegin();
    for (const TranscriptSegment& row : rows) {
        if (row.subtitleBlock >= 0 && row.subtitleBlock < m_blocks.size() &&
            m_blocks[row.subtitleBlock].kind == Kind::Cue)
            current = row.subtitleBlock;
        if (current < m_blocks.size())
            held[current].append(row);
    }

    // Numbers that ran 1, 2, 3... (from any start) run on so after a split or delete.
    std::optional<qint64> next;
    bool consecutive = true;
    for (const Block& block : m_blocks) {
        if (block.kind != Kind::Cue)
            continue;
        const std::optional<qint64> number = numberIn(block.identifier);
        // "007" is a number written its own way, kept as it is.
        consecutive = consecutive && number && block.identifier == QString::number(*number) &&
                      (!next || *number == *next);
        next = number ? std::optional(*number + 1) : std::nullopt;
        if (!consecutive)
            break;
    }
    qint64 number = 0;
    if (consecutive && next) {
        number = std::find_if(m_blocks.cbegin(), m_blocks.cend(), [](const Block& block) {
                     return block.kind == Kind::Cue;
                 })->identifier.toLongLong();
    }

    QString text = m_leading;
    QString separator;
    bool first = true;
    const auto append = [&](const QString& block, const QString& after) {
        text += (first ? QString() : separator) + block;
        separator = after;
        first = false;
    };
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        const Block& block = m_blocks[b];
        const QString after = b + 1 < m_blocks.size() ? block.separator : m_lineBreak + m_lineBreak;
        if (block.kind != Kind::Cue) {
            append(block.raw, after);
            continue;
        }
        for (qsizetype r = 0; r < held[b].size(); ++r) {
            const bool numbered = consecutive && next;
            if (!numbered)
                number = r == 0 ? numberIn(block.identifier).value_or(number) : number + 1;
            QString identifier = r == 0 ? block.identifier : QString();
            if (numbered || (r > 0 && !m_webVtt && !block.identifier.isEmpty()))
                identifier = QString::number(number);
            append(cueText(block, held[b][r], r == 0, identifier), after);
            if (numbered)
                ++number;
        }
    }
    return text + (m_blocks.isEmpty() ? QString() : m_blocks.last().separator);
}

QString SubtitleDocument::cueText(const Block& block, const TranscriptSegment& row, bool own,
                                  const QString& identifier) const {
    const qint64 start = milliseconds(row.startTime);
    const qint64 end = milliseconds(row.endTime);
    const bool sameTimes = own && start == block.start && end == block.end;
    const bool sameText = own && row.text == joined(block.lines);
    if (sameTimes && sameText && identifier == block.identifier)
        return block.raw;

    QStringList lines;
    if (!identifier.isEmpty())
        lines.append(identifier);
    QString timeLine = block.timeLine;
    if (!sameTimes) {
        const QRegularExpressionMatch times = timeLinePattern().match(block.timeLine);
        timeLine = block.timeLine.left(times.capturedStart(1)) +
                   stampLike(start, times.captured(1)) +
                   block.timeLine.mid(times.capturedEnd(1),
                                      times.capturedStart(2) - times.capturedEnd(1)) +
                   stampLike(end, times.captured(2)) + block.timeLine.mid(times.capturedEnd(2));
    }
    lines.append(timeLine);
    if (sameText) {
        lines.append(block.lines);
    } else if (const QString text = row.text.simplified(); !text.isEmpty()) {
        // A corrected word keeps the lines as they were broken when the words still
        // number the same; otherwise the text is one line.
        const QStringList words = text.split(QLatin1Char(' '));
        QList<qsizetype> perLine;
        for (const QString& line : block.lines)
            perLine.append(line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
        if (own &&
            std::accumulate(perLine.cbegin(), perLine.cend(), qsizetype(0)) == words.size()) {
            qsizetype taken = 0;
            for (qsizetype count : perLine) {
                if (count > 0)
                    lines.append(words.mid(taken, count).join(QLatin1Char(' ')));
                taken += count;
            }
        } else {
            lines.append(text);
        }
    }
    return lines.join(m_lineBreak);
}

} // namespace vocalith
