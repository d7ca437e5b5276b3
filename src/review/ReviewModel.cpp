#include "ReviewModel.h"

#include "core/TranscriptRendering.h"

#include <QFont>
#include <QTextBoundaryFinder>
#include <QUndoCommand>

#include <cmath>
#include <limits>

namespace vocalith {

namespace {

double toMilliseconds(double seconds) {
    return std::round(seconds * 1000.0) / 1000.0;
}

// Segment text is one line: a line break would end a subtitle early.
QString oneLine(const QString& text) {
    return text.simplified();
}

double lowestConfidence(const QList<TranscriptWord>& words) {
    double lowest = 1.0;
    for (const TranscriptWord& word : words)
        lowest = std::min(lowest, word.confidence);
    return lowest;
}

// As the on-device engine gives words: one segment each.
bool isLoneWord(const TranscriptSegment& segment) {
    return segment.words.size() == 1 && segment.words.first().text == segment.text;
}

QList<TranscriptSegment> rowsOf(QList<TranscriptSegment> segments) {
    // A row a word is unreadable; the phrases are those of the subtitles, so the rows
    // saved again give the same cues.
    if (!segments.isEmpty() && std::all_of(segments.begin(), segments.end(), isLoneWord))
        segments = groupIntoCues(segments);
    for (TranscriptSegment& segment : segments)
        segment.text = oneLine(segment.text);
    return segments;
}

QList<std::pair<qsizetype, qsizetype>> wordSpans(const TranscriptSegment& segment) {
    QList<std::pair<qsizetype, qsizetype>> spans;
    qsizetype from = 0;
    for (const TranscriptWord& word : segment.words) {
        const qsizetype at = segment.text.indexOf(word.text, from);
        if (at < 0)
            break;
        spans.append({at, word.text.size()});
        from = at + word.text.size();
    }
    return spans;
}

// A segment with new text. Words that still line up keep their times; otherwise the
// segment's time is shared by characters, nothing better being known. A word the
// reviewer wrote, or every word of a row they typed, is in no doubt.
void retext(TranscriptSegment& segment, const QString& text, bool wholeRowTyped) {
    if (!segment.words.isEmpty()) {
        const QStringList texts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QList<TranscriptWord> words;
        if (texts.size() == segment.words.size()) {
            for (qsizetype i = 0; i < texts.size(); ++i) {
                TranscriptWord word = segment.words[i];
                if (wholeRowTyped || word.text != texts[i])
                    word = {texts[i], word.startTime, word.endTime, 1.0};
                words.append(word);
            }
        } else {
            qsizetype total = 0;
            for (const QString& part : texts)
                total += graphemeCount(part);
            const double share = std::max(0.0, segment.endTime - segment.startTime) / double(total);
            qsizetype before = 0;
            for (const QString& part : texts) {
                const double start = segment.startTime + share * double(before);
                before += graphemeCount(part);
                words.append({part, start, segment.startTime + share * double(before), 1.0});
            }
        }
        segment.words = words;
    }
    segment.text = text;
    segment.confidence = lowestConfidence(segment.words);
}

void setWords(TranscriptSegment& segment, QList<TranscriptWord> words) {
    QStringList texts;
    for (const TranscriptWord& word : words)
        texts.append(word.text);
    segment.text = texts.join(QLatin1Char(' '));
    segment.confidence = lowestConfidence(words);
    segment.words = std::move(words);
}

} // namespace

// Every edit is "these rows became those rows", which undoes by swapping them back.
class ReviewModel::ReplaceRows final : public QUndoCommand {
public:
    ReplaceRows(ReviewModel& model, int first, QList<TranscriptSegment> before,
                QList<TranscriptSegment> after, const QString& name)
        : QUndoCommand(name)
        , m_model(model)
        , m_first(first)
        , m_before(std::move(before))
        , m_after(std::move(after)) {}

    void redo() override { m_model.replace(m_first, m_before.size(), m_after); }
    void undo() override { m_model.replace(m_first, m_after.size(), m_before); }

private:
    ReviewModel& m_model;
    int m_first;
    QList<TranscriptSegment> m_before;
    QList<TranscriptSegment> m_after;
};

ReviewModel::ReviewModel(QList<TranscriptSegment> segments, QObject* parent)
    : QAbstractTableModel(parent)
    , m_segments(rowsOf(std::move(segments)))
    , m_hasSpeakers(!speakers().isEmpty()) {
}

int ReviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_segments.size());
}

int ReviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_hasSpeakers ? ColumnCount : SpeakerColumn;
}

QVariant ReviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_segments.size())
        return {};
    const TranscriptSegment& segment = m_segments[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
        switch (index.column()) {
        case StartColumn:
            return timeText(segment.startTime);
        case EndColumn:
            return timeText(segment.endTime);
        case SpeakerColumn:
            return segment.speaker;
        default:
            return segment.text;
        }
    case Qt::TextAlignmentRole:
        if (index.column() == StartColumn || index.column() == EndColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::FontRole:
        // A row with words has only those underlined, by the view.
        if (index.column() == TextColumn && segment.words.isEmpty() && segment.isDoubtful()) {
            QFont font;
            font.setUnderline(true);
            return font;
        }
        return {};
    case Qt::AccessibleDescriptionRole:
        if (index.column() == TextColumn && segment.isDoubtful())
            return QStringLiteral("uncertain");
        return {};
    default:
        return {};
    }
}

bool ReviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole)
        return false;
    if (index.column() == SpeakerColumn)
        return setSpeaker(index.row(), value.toString());
    return index.column() == TextColumn && setText(index.row(), value.toString());
}

QVariant ReviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case StartColumn:
        return QStringLiteral("Start");
    case EndColumn:
        return QStringLiteral("End");
    case TextColumn:
        return QStringLiteral("Text");
    case SpeakerColumn:
        return QStringLiteral("Speaker");
    default:
        return {};
    }
}

Qt::ItemFlags ReviewModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == TextColumn || index.column() == SpeakerColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool ReviewModel::setText(int row, const QString& text) {
    if (row < 0 || row >= m_segments.size())
        return false;
    TranscriptSegment changed = m_segments[row];
    const QString typed = oneLine(text);
    if (typed.isEmpty() || typed == changed.text)
        return false;
    retext(changed, typed, true);
    push(row, {m_segments[row]}, {changed}, QStringLiteral("Edit Text"));
    return true;
}

std::pair<double, double> ReviewModel::edgeLimits(int row, Edge edge) const {
    const TranscriptSegment& segment = m_segments[row];
    // Segments that already overlap are left so; an edge is never pushed, only held.
    if (edge == Start) {
        const double lowest =
            std::min(row > 0 ? m_segments[row - 1].endTime : 0.0, segment.startTime);
        return {lowest, std::max(segment.endTime - minimumLength, segment.startTime)};
    }
    const double highest = row + 1 < m_segments.size()
                               ? std::max(m_segments[row + 1].startTime, segment.endTime)
                               : std::numeric_limits<double>::max();
    return {std::min(segment.startTime + minimumLength, segment.endTime), highest};
}

bool ReviewModel::nudge(int row, Edge edge, double seconds) {
    if (row < 0 || row >= m_segments.size())
        return false;
    const TranscriptSegment& segment = m_segments[row];
    return moveEdge(row, edge, (edge == Start ? segment.startTime : segment.endTime) + seconds);
}

bool ReviewModel::moveEdge(int row, Edge edge, double seconds) {
    if (row < 0 || row >= m_segments.size())
        return false;
    const auto [lowest, highest] = edgeLimits(row, edge);
    TranscriptSegment changed = m_segments[row];
    double& time = edge == Start ? changed.startTime : changed.endTime;
    time = std::clamp(toMilliseconds(seconds), lowest, highest);
    if (changed == m_segments[row])
        return false;
    push(row, {m_segments[row]}, {changed},
         edge == Start ? QStringLiteral("Move Start") : QStringLiteral("Move End"));
    return true;
}

bool ReviewModel::split(int row, int position) {
    if (row < 0 || row >= m_segments.size())
        return false;
    const TranscriptSegment& segment = m_segments[row];
    if (segment.endTime - segment.startTime < 2 * minimumLength)
        return false;
    TranscriptSegment first = segment;
    TranscriptSegment second = segment;
    double cut = 0.0;
    if (!segment.words.isEmpty()) {
        const int word = wordAt(row, position);
        if (word <= 0)
            return false;
        setWords(first, segment.words.mid(0, word));
        setWords(second, segment.words.mid(word));
        cut = segment.words[word].startTime;
    } else {
        // Never inside a word: back to where a line may break, the start of the word under
        // the position.
        const QString& text = segment.text;
        qsizetype at = std::clamp<qsizetype>(position, 0, text.size());
        while (at < text.size() && text[at].isSpace())
            ++at;
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
        breaks.setPosition(at);
        if (!breaks.isAtBoundary())
            at = breaks.toPreviousBoundary();
        first.text = text.left(at).trimmed();
        second.text = text.mid(at).trimmed();
        if (first.text.isEmpty() || second.text.isEmpty())
            return false;
        const double firstShare = double(graphemeCount(first.text)) /
                                  double(graphemeCount(first.text) + graphemeCount(second.text));
        cut =
            toMilliseconds(segment.startTime + (segment.endTime - segment.startTime) * firstShare);
    }
    // Neither half shorter than a row may be.
    cut = std::clamp(cut, segment.startTime + minimumLength, segment.endTime - minimumLength);
    first.endTime = cut;
    second.startTime = cut;
    push(row, {segment}, {first, second}, QStringLiteral("Split Row"));
    return true;
}

bool ReviewModel::mergeWithNext(int row) {
    if (row < 0 || row + 1 >= m_segments.size())
        return false;
    const TranscriptSegment& first = m_segments[row];
    const TranscriptSegment& second = m_segments[row + 1];
    TranscriptSegment merged = first;
    merged.text = oneLine(first.text + QLatin1Char(' ') + second.text);
    merged.endTime = std::max(first.endTime, second.endTime);
    merged.confidence = std::min(first.confidence, second.confidence);
    // The words stay only where both rows have them, so they always spell the text.
    merged.words = first.words.isEmpty() || second.words.isEmpty() ? QList<TranscriptWord>()
                                                                   : first.words + second.words;
    push(row, {first, second}, {merged}, QStringLiteral("Merge Rows"));
    return true;
}

bool ReviewModel::remove(int row) {
    if (row < 0 || row >= m_segments.size())
        return false;
    push(row, {m_segments[row]}, {}, QStringLiteral("Delete Row"));
    return true;
}

int ReviewModel::replaceAll(const QString& find, const QString& replacement,
                            Qt::CaseSensitivity sensitivity) {
    if (find.isEmpty())
        return 0;
    int count = 0;
    QList<TranscriptSegment> after = m_segments;
    for (TranscriptSegment& segment : after) {
        // Counted as QString::replace replaces: each match after the one before it.
        int found = 0;
        for (qsizetype at = segment.text.indexOf(find, 0, sensitivity); at >= 0;
             at = segment.text.indexOf(find, at + find.size(), sensitivity))
            ++found;
        if (found == 0)
            continue;
        const QString text = oneLine(QString(segment.text).replace(find, replacement, sensitivity));
        if (text.isEmpty() || text == segment.text)
            continue;
        retext(segment, text, false);
        count += found;
    }
    if (count > 0)
        push(0, m_segments, after, QStringLiteral("Replace All"));
    return count;
}

QStringList ReviewModel::speakers() const {
    QStringList names;
    for (const TranscriptSegment& segment : m_segments) {
        if (!segment.speaker.isEmpty() && !names.contains(segment.speaker))
            names.append(segment.speaker);
    }
    return names;
}

bool ReviewModel::renameSpeaker(const QString& from, const QString& to) {
    const QString name = to.simplified();
    if (name.isEmpty() || name == from || !speakers().contains(from))
        return false;
    QList<TranscriptSegment> after = m_segments;
    for (TranscriptSegment& segment : after) {
        if (segment.speaker == from)
            segment.speaker = name;
    }
    push(0, m_segments, after, QStringLiteral("Rename Speaker"));
    return true;
}

bool ReviewModel::setSpeaker(int row, const QString& name) {
    if (row < 0 || row >= m_segments.size() || !m_hasSpeakers)
        return false;
    TranscriptSegment changed = m_segments[row];
    changed.speaker = name.simplified();
    if (changed.speaker.isEmpty() || changed == m_segments[row])
        return false;
    push(row, {m_segments[row]}, {changed}, QStringLiteral("Set Speaker"));
    return true;
}

int ReviewModel::findNext(const QString& find, int from, Qt::CaseSensitivity sensitivity,
                          bool backwards) const {
    const int count = int(m_segments.size());
    if (find.isEmpty() || count == 0)
        return -1;
    for (int step = 0; step < count; ++step) {
        const int row = ((from + (backwards ? -step : step)) % count + count) % count;
        if (m_segments[row].text.contains(find, sensitivity))
            return row;
    }
    return -1;
}

int ReviewModel::nextDoubtful(int from, bool backwards) const {
    const int count = int(m_segments.size());
    for (int step = 1; step <= count; ++step) {
        const int row = ((from + (backwards ? -step : step)) % count + count) % count;
        if (m_segments[row].isDoubtful())
            return row;
    }
    return -1;
}

int ReviewModel::wordAt(int row, qsizetype position) const {
    if (row < 0 || row >= m_segments.size())
        return -1;
    const QList<std::pair<qsizetype, qsizetype>> spans = wordSpans(m_segments[row]);
    for (qsizetype word = 0; word < spans.size(); ++word) {
        if (position < spans[word].first + spans[word].second)
            return int(word);
    }
    return -1;
}

QList<std::pair<qsizetype, qsizetype>> ReviewModel::doubtfulSpans(int row) const {
    QList<std::pair<qsizetype, qsizetype>> doubtful;
    if (row < 0 || row >= m_segments.size())
        return doubtful;
    const QList<std::pair<qsizetype, qsizetype>> spans = wordSpans(m_segments[row]);
    for (qsizetype word = 0; word < spans.size(); ++word) {
        if (m_segments[row].words[word].isDoubtful())
            doubtful.append(spans[word]);
    }
    return doubtful;
}

QString ReviewModel::timeText(double seconds) {
    const qint64 total = std::llround(std::max(0.0, seconds) * 1000.0);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(total / 3'600'000)
        .arg(total / 60'000 % 60, 2, 10, QLatin1Char('0'))
        .arg(total / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 1000, 3, 10, QLatin1Char('0'));
}

void ReviewModel::push(int first, QList<TranscriptSegment> before, QList<TranscriptSegment> after,
                       const QString& name) {
    m_undo.push(new ReplaceRows(*this, first, std::move(before), std::move(after), name));
}

void ReviewModel::replace(int first, qsizetype count, const QList<TranscriptSegment>& rows) {
    if (count == rows.size()) {
        std::copy(rows.begin(), rows.end(), m_segments.begin() + first);
        Q_EMIT dataChanged(index(first, 0), index(first + int(count) - 1, columnCount() - 1));
    } else {
        if (count > 0) {
            beginRemoveRows({}, first, first + int(count) - 1);
            m_segments.remove(first, count);
            endRemoveRows();
        }
        if (!rows.isEmpty()) {
            beginInsertRows({}, first, first + int(rows.size()) - 1);
            for (qsizetype i = 0; i < rows.size(); ++i)
                m_segments.insert(first + i, rows[i]);
            endInsertRows();
        }
    }
    Q_EMIT segmentsChanged();
}

} // namespace vocalith
