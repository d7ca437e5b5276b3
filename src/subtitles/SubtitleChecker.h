#pragma once

#include "subtitles/BroadcastLayout.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vocalith {

// Checks SRT and WebVTT files against SubtitleRules, as subtitle editors' quality checks
// do: one line per problem, naming the subtitle's number and start time.
namespace SubtitleChecker {

struct Cue {
    int number = 0;   // as written in an SRT file; the position in a WebVTT file
    qint64 start = 0; // milliseconds
    qint64 end = 0;
    QStringList lines; // without markup: what a viewer reads
    int line = 0;      // where the block starts in the file, from 1
    // A block that holds no subtitle a player could show, as it is written; empty for a cue.
    QString unreadable;
};

// The cues of an SRT or WebVTT text, in file order with the blocks that cannot be read;
// absent, with the reason, when it holds no cue.
std::optional<QList<Cue>> parse(const QString& text, QString& error);

// "12 00:01:02,345: line 1 has 51 characters (at most 42)", in file order; a block that
// cannot be read is named by its position and line, with what it holds.
QStringList problems(const QList<Cue>& cues, const SubtitleRules& rules = {});

// Subtitles read faster than the rules allow.
qsizetype tooFast(const QList<Cue>& cues, const SubtitleRules& rules = {});

// What the window says after subtitles were saved laid out to the rules, e.g. "Saved; 3
// subtitles read faster than 17 characters a second".
QString savedNotice(const QString& savedText, const SubtitleRules& rules = {});

} // namespace SubtitleChecker

} // namespace vocalith
