#pragma once

#include "core/TranscriptSegment.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QUndoStack>

namespace vocalith {

// The transcript under review as a table (Start, End, Text, and Speaker where speakers
// were told apart). Words the on-device engine
// gave one segment each are read as phrases, the stretches their subtitles show, each
// row keeping its words with their times and doubts; other segments are one row each.
// Every change goes through the undo stack, so each one can be taken back; the stack's
// clean state says whether the edits have been saved.
class ReviewModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { StartColumn, EndColumn, TextColumn, SpeakerColumn, ColumnCount };
    enum Edge { Start, End };

    // A segment ends no sooner than this after it starts.
    static constexpr double minimumLength = 0.05;

    explicit ReviewModel(QList<TranscriptSegment> segments, QObject* parent = nullptr);

    const QList<TranscriptSegment>& segments() const { return m_segments; }
    QUndoStack* undoStack() { return &m_undo; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Each returns false, changing nothing, when the edit would do nothing, break the
    // order of times or make a row shorter than minimumLength.
    // New text: words that line up with the old ones keep their times, otherwise the
    // words share the row's time by characters; the reviewer's words are in no doubt.
    bool setText(int row, const QString& text);
    // Moves one edge by `seconds`, never past the neighbouring segment nor the other edge.
    bool nudge(int row, Edge edge, double seconds);
    // Moves one edge to `seconds`, within the same bounds.
    bool moveEdge(int row, Edge edge, double seconds);
    // How far an edge may go: never past the neighbouring segment nor closer than
    // minimumLength to the other edge, but never inwards past where it already is, so
    // the lowest is never above the highest.
    std::pair<double, double> edgeLimits(int row, Edge edge) const;
    // Two rows from one at a character position of its text. A row with words is cut
    // before the word at that position, at the word's start; one without at the
    // position, its time shared in proportion to the characters on each side. Either
    // half keeps at least minimumLength.
    bool split(int row, int position);
    bool mergeWithNext(int row);
    bool remove(int row);
    // Every occurrence in every row, as one undoable step; the number replaced. A row it
    // would empty is left as it is; the words replaced are in no doubt.
    int replaceAll(const QString& find, const QString& replacement,
                   Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive);
    // The speakers' names in order of first appearance; empty when none were told apart.
    QStringList speakers() const;
    // Every row of one speaker given another name, as one undoable step; false when
    // nobody is called `from` or the name is empty or already that.
    bool renameSpeaker(const QString& from, const QString& to);
    // One row said by another speaker, who may be new; only where speakers were told apart.
    bool setSpeaker(int row, const QString& name);

    // The first row at or after `from` (wrapping round) whose text holds `find`, or -1.
    int findNext(const QString& find, int from, Qt::CaseSensitivity sensitivity,
                 bool backwards = false) const;

    // The word of a row at a character position of its text (the next word when the
    // position is between words), or -1 for a row without words or past its last.
    int wordAt(int row, qsizetype position) const;
    // Where each uncertain word of a row is in its text: start and length.
    QList<std::pair<qsizetype, qsizetype>> doubtfulSpans(int row) const;

    // The next row after `from` (or the one before), wrapping round, whose recogniser was
    // unsure of it; -1 when there is none.
    int nextDoubtful(int from, bool backwards = false) const;

    // "0:01:02.345"
    static QString timeText(double seconds);

Q_SIGNALS:
    // After any change, including undo and redo.
    void segmentsChanged();

private:
    class ReplaceRows;

    void push(int first, QList<TranscriptSegment> before, QList<TranscriptSegment> after,
              const QString& name);
    void replace(int first, qsizetype count, const QList<TranscriptSegment>& rows);

    QList<TranscriptSegment> m_segments;
    bool m_hasSpeakers; // the Speaker column: never an empty one for a screen reader
    QUndoStack m_undo;
};

} // namespace vocalith
