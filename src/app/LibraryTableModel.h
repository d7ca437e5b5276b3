#pragma once

#include <QAbstractTableModel>

namespace vocalith {

class LibraryViewModel;

// The Library window's two tables over its controller: every transcript (name, date,
// duration, engine, language), or the hits of the search (recording, time, the words
// around the match, with where the match is under MarksRole).
class LibraryTableModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LibraryTableModel)

public:
    enum class Kind { transcripts, hits };
    enum Role { IdRole = Qt::UserRole, MarksRole };
    enum HitColumn { RecordingColumn, TimeColumn, WordsColumn };

    LibraryTableModel(const LibraryViewModel& library, Kind kind, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The row of a transcript, or -1.
    int rowOf(qint64 id) const;

private:
    const LibraryViewModel& m_library;
    Kind m_kind;
};

} // namespace vocalith
