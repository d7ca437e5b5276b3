#include "TranscriptFormats.h"

#include "core/TranscriptRendering.h"
#include "library/TranscriptJson.h"
#include "subtitles/BroadcastLayout.h"

#include <QDir>
#include <QFileInfo>

#include <array>

namespace vocalith {

namespace {

struct Format {
    const char* title;
    const char* extension;
    QString (*render)(const QList<TranscriptSegment>&);
    QString (*renderCues)(const QList<TranscriptSegment>&);
};
constexpr std::array<Format, 4> formats{{
    {"Plain Text (.txt)", "txt", plainTextRendering, plainTextRendering},
    {"Subtitles (.srt)", "srt", srtRendering, srtFromCues},
    {"WebVTT Subtitles (.vtt)", "vtt", vttRendering, vttFromCues},
    {"JSON (.json)", "json", nullptr, nullptr},
}};

const Format& format(int index) {
    return formats[index > 0 && size_t(index) < formats.size() ? size_t(index) : 0];
}

} // namespace

QStringList TranscriptFormats::titles() {
    QStringList titles;
    for (const Format& format : formats)
        titles.append(QString::fromLatin1(format.title));
    return titles;
}

QString TranscriptFormats::extension(int index) {
    return QString::fromLatin1(format(index).extension);
}

int TranscriptFormats::indexOf(const QString& extension) {
    for (size_t i = 0; i < formats.size(); ++i) {
        if (extension == QLatin1String(formats[i].extension))
            return int(i);
    }
    return -1;
}

int TranscriptFormats::forPath(const QString& path, int index) {
    const int typed = indexOf(QFileInfo(path).suffix().toLower());
    // A typed ".txt" is no choice of its own: any name may end in it.
    if (typed > txt)
        return typed;
    return index > 0 && size_t(index) < formats.size() ? index : txt;
}

QString TranscriptFormats::pathWithExtension(const QString& path, int index) {
    const QString wanted = extension(index);
    const QFileInfo info(path);
    if (info.suffix().toLower() == wanted)
        return path;
    QString name = info.fileName();
    if (!info.suffix().isEmpty())
        name.chop(info.suffix().size() + 1);
    return QDir(info.path()).filePath(name + QLatin1Char('.') + wanted);
}

TranscriptFormats::Target TranscriptFormats::target(const SaveDialogChoice& choice) {
    const int format = forPath(choice.path, choice.formatIndex);
    return {format, choice.layoutIndex == 1 && isSubtitles(format),
            pathWithExtension(choice.path, format)};
}

QString TranscriptFormats::render(const StoredTranscript& transcript, int index,
                                  bool broadcastLines, bool speakerNames) {
    if (index == json)
        return QString::fromUtf8(TranscriptJson::document(transcript));
    if (broadcastLines && isSubtitles(index)) {
        const QString language = transcript.language.section(QLatin1Char('-'), 0, 0);
        return renderCues(
            BroadcastLayout::layout(transcript.segments,
                                    language.isEmpty() || language == QLatin1String("auto")
                                        ? QStringLiteral("en")
                                        : language),
            index);
    }
    if (speakerNames && index == srt)
        return srtFromCues(withSpeakerNames(groupIntoCues(transcript.segments)));
    return format(index).render(transcript.segments);
}

QString TranscriptFormats::renderCues(const QList<TranscriptSegment>& cues, int index) {
    return index == json ? QString() : format(index).renderCues(cues);
}

} // namespace vocalith
