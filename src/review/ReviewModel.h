#pragma once

#include "core/TranscriptSegment.h"

#include <QAbstractTableModel>
#include <QList>
#include <QUndoStack>

namespace vocalith {

// The transcript under review as a table (Start, End, Text). Every change goes through
// the undo stack, so each one can be taken back; the stack's clean state says whether
// the edits have been saved.
class ReviewModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { StartColumn, EndColumn, TextColumn, ColumnCount };
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

    // Each returns false, changing nothing, when the edit would do nothing or break the
    // order of times.
    bool setText(int row, const QString& text);
    // Moves one edge by `seconds`, never past the neighbouring segment nor the other edge.
    bool nudge(int row, Edge edge, double seconds);
    // Moves one edge to `seconds`, within the same bounds.
    bool moveEdge(int row, Edge edge, double seconds);
    // How far an edge may go: never past the neighbouring segment nor the other edge.
    std::pair<double, double> edgeLimits(int row, Edge edge) const;
    // Two rows from one at a character position; the time is shared in proportion to
    // the characters on each side.
    bool split(int row, int position);
    bool mergeWithNext(int row);
    bool remove(int row);
    // Every occurrence in every row, as one undoable step; the number replaced.
    int replaceAll(const QString& find, const QString& replacement,
                   Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive);
    // The first row at or after `from` (wrapping round) whose text holds `find`, or -1.
    int findNext(const QString& find, int from, Qt::CaseSensitivity sensitivity,
                 bool backwards = false) const;

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
    QUndoStack m_undo;
};

} // namespace vocalith
