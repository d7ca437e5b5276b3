#pragma once

#include "core/FileDialogs.h"
#include "library/StoredTranscript.h"

#include <QString>
#include <QStringList>

namespace vocalith {

// The formats a transcript is saved in, in the order the save dialog lists them:
// plain text, SRT, WebVTT and JSON.
class TranscriptFormats final {
public:
    enum Index { txt = 0, srt = 1, vtt = 2, json = 3 };

    // "Plain Text (.txt)", ...
    static QStringList titles();
    static QString extension(int index);
    // The index of an extension such as "srt", or -1.
    static int indexOf(const QString& extension);
    // The chosen format; an extension the user typed wins over the choice.
    static int forPath(const QString& path, int index);
    static bool isSubtitles(int index) { return index == srt || index == vtt; }
    // The chosen path with its last extension replaced when it is not the format's.
    static QString pathWithExtension(const QString& path, int index);
    // What a save dialog's choice comes to: the format, subtitles in broadcast lines or
    // not, and the path with the format's extension.
    struct Target {
        int format = txt;
        bool broadcast = false;
        QString path;
    };
    static Target target(const SaveDialogChoice& choice);

    // The transcript in a format; subtitles in broadcast lines when asked, laid out for
    // the transcript's language; SRT cues with their speaker's name first when asked.
    static QString render(const StoredTranscript& transcript, int index, bool broadcastLines,
                          bool speakerNames = false);
    // Cues already laid out, as the format writes them (plain text: the texts joined).
    static QString renderCues(const QList<TranscriptSegment>& cues, int index);
};

} // namespace vocalith
