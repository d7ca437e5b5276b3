#include "LibraryTableModel.h"

#include "app/LibraryViewModel.h"
#include "core/TranscriptionLanguage.h"

#include <QFileInfo>
#include <QLocale>

namespace vocalith {

LibraryTableModel::LibraryTableModel(const LibraryViewModel& library, Kind kind, QObject* parent)
    : QAbstractTableModel(parent)
    , m_library(library)
    , m_kind(kind) {
    connect(&library,
            kind == Kind::transcripts ? &LibraryViewModel::transcriptsChanged
                                      : &LibraryViewModel::hitsChanged,
            this, [this] {
                beginResetModel();
                endResetModel();
            });
}

int LibraryTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return int(m_kind == Kind::transcripts ? m_library.transcripts().size()
                                           : m_library.hits().size());
}

int LibraryTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_kind == Kind::transcripts ? 5 : 3;
}

QVariant LibraryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList transcripts{QStringLiteral("Name"), QStringLiteral("Date"),
                                         QStringLiteral("Duration"), QStringLiteral("Engine"),
                                         QStringLiteral("Language")};
    static const QStringList hits{QStringLiteral("Recording"), QStringLiteral("Time"),
                                  QStringLiteral("Words")};
    return (m_kind == Kind::transcripts ? transcripts : hits).value(section);
}

QVariant LibraryTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (m_kind == Kind::hits) {
        const SearchHit& hit = m_library.hits().at(index.row());
        if (role == IdRole)
            return hit.transcriptId;
        if (role == MarksRole)
            return QVariant::fromValue(hit.marks);
        if (role == Qt::ToolTipRole && index.column() == WordsColumn)
            return hit.context;
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case RecordingColumn:
            return QFileInfo(hit.recordingPath).fileName();
        case TimeColumn:
            return LibraryViewModel::timeText(hit.time);
        default:
            return hit.context;
        }
    }
    const StoredTranscript& transcript = m_library.transcripts().at(index.row());
    if (role == IdRole)
        return transcript.id;
    if (role == Qt::ToolTipRole && index.column() == 0)
        return transcript.recordingPath;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0:
        return transcript.recordingName();
    case 1:
        return QLocale().toString(transcript.createdAt, QLocale::ShortFormat);
    case 2:
        return LibraryViewModel::timeText(transcript.duration);
    case 3:
        return transcript.engine;
    default: {
        const auto language = transcriptionLanguageFromRawValue(transcript.language);
        return language ? displayName(*language) : transcript.language;
    }
    }
}

int LibraryTableModel::rowOf(qint64 id) const {
    for (int row = 0; row < rowCount(); ++row) {
        if (data(index(row, 0), IdRole).toLongLong() == id)
            return row;
    }
    return -1;
}

} // namespace vocalith
