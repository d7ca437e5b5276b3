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
    int number = 0; // as written in an SRT file; the position in a WebVTT file
    double start = 0.0;
    double end = 0.0;
    QStringList lines;
};

// The cues of an SRT or WebVTT text; absent, with the reason, when it holds none.
std::optional<QList<Cue>> parse(const QString& text, QString& error);

// "12 00:01:02,345: line 1 has 51 characters (at most 42)", in file order.
QStringList problems(const QList<Cue>& cues, const SubtitleRules& rules = {});

// Subtitles read faster than the rules allow.
qsizetype tooFast(const QList<Cue>& cues, const SubtitleRules& rules = {});

// What the window says after subtitles were saved laid out to the rules, e.g. "Saved; 3
// subtitles read faster than 17 characters a second".
QString savedNotice(const QString& savedText, const SubtitleRules& rules = {});

} // namespace SubtitleChecker

} // namespace vocalith
