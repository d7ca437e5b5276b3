#include "SubtitleChecker.h"

#include "core/TranscriptRendering.h"

#include <QRegularExpression>

#include <cmath>

namespace vocalith::SubtitleChecker {

namespace {

// "00:01:02,345" or "01:02.345" (WebVTT may leave out the hours).
std::optional<double> parseTime(const QString& text) {
    static const QRegularExpression time(
        QStringLiteral("^(?:(\\d+):)?(\\d{1,2}):(\\d{2})[,.](\\d{3})$"));
    const QRegularExpressionMatch match = time.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60 +
           match.captured(3).toDouble() + match.captured(4).toDouble() / 1000;
}

qsizetype characters(const Cue& cue) {
    qsizetype count = 0;
    for (const QString& line : cue.lines)
        count += graphemeCount(line);
    return count;
}

double charactersPerSecond(const Cue& cue) {
    const double duration = cue.end - cue.start;
    return duration > 0 ? double(characters(cue)) / duration : 0.0;
}

QString seconds(double value) {
    return QString::number(value, 'f', 3);
}

// Times as the file wrote them: parsed milliseconds would otherwise print one lower.
QString timestamp(double seconds) {
    return srtTimestamp(seconds + 0.0004);
}

QString number(double value) {
    return QString::number(value, 'g', 4);
}

} // namespace

std::optional<QList<Cue>> parse(const QString& text, QString& error) {
    static const QRegularExpression blankLines(QStringLiteral("\\n\\s*\\n"));
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QString normalised = text;
    normalised.remove(QLatin1Char('\r'));
    if (normalised.startsWith(QChar(0xFEFF)))
        normalised.remove(0, 1);
    const bool vtt = normalised.startsWith(QLatin1String("WEBVTT"));
    QList<Cue> cues;
    const QStringList blocks = normalised.split(blankLines, Qt::SkipEmptyParts);
    for (qsizetype b = vtt ? 1 : 0; b < blocks.size(); ++b) {
        QStringList lines = blocks[b].trimmed().split(QLatin1Char('\n'));
        const qsizetype timeLine =
            std::find_if(lines.cbegin(), lines.cend(),
                         [](const QString& line) { return line.contains(QLatin1String("-->")); }) -
            lines.cbegin();
        if (timeLine >= lines.size() || timeLine > 1)
            continue; // a WebVTT note or style block, or stray text
        const QString times = lines[timeLine];
        const std::optional<double> start = parseTime(times.section(QLatin1String("-->"), 0, 0));
        const std::optional<double> end = parseTime(
            times.section(QLatin1String("-->"), 1).trimmed().section(QLatin1Char(' '), 0, 0));
        if (!start || !end)
            continue;
        Cue cue;
        cue.number = vtt || timeLine == 0 ? int(cues.size() + 1) : lines[0].trimmed().toInt();
        cue.start = *start;
        cue.end = *end;
        for (QString line : lines.mid(timeLine + 1)) {
            if (vtt)
                line = line.remove(tags)
                           .replace(QLatin1String("&lt;"), QLatin1String("<"))
                           .replace(QLatin1String("&gt;"), QLatin1String(">"))
                           .replace(QLatin1String("&amp;"), QLatin1String("&"));
            cue.lines.append(line);
        }
        cues.append(cue);
    }
    if (cues.isEmpty()) {
        error = QStringLiteral("No subtitles found: not an SRT or WebVTT file.");
        return std::nullopt;
    }
    return cues;
}

QStringList problems(const QList<Cue>& cues, const SubtitleRules& rules) {
    QStringList found;
    for (qsizetype i = 0; i < cues.size(); ++i) {
        const Cue& cue = cues[i];
        const QString where =
            QString::number(cue.number) + QLatin1Char(' ') + timestamp(cue.start) + ": ";
        const auto report = [&](const QString& problem) { found.append(where + problem); };
        if (cue.number != i + 1)
            report(QStringLiteral("numbered %1 (expected %2)").arg(cue.number).arg(i + 1));
        if (cue.end < cue.start)
            report(QStringLiteral("ends before it starts"));
        if (i > 0 && cue.start < cues[i - 1].start)
            report(QStringLiteral("starts before the subtitle before it"));
        else if (i > 0 && cue.start < cues[i - 1].end)
            report(QStringLiteral("overlaps the subtitle before it by %1 s")
                       .arg(seconds(cues[i - 1].end - cue.start)));
        else if (i > 0 && cue.start - cues[i - 1].end < rules.minGap - 1e-9)
            report(QStringLiteral("follows the subtitle before it after %1 s (at least %2)")
                       .arg(seconds(cue.start - cues[i - 1].end), number(rules.minGap)));
        const bool empty =
            std::all_of(cue.lines.cbegin(), cue.lines.cend(),
                        [](const QString& line) { return line.trimmed().isEmpty(); });
        if (empty) {
            report(QStringLiteral("has no text"));
            continue;
        }
        if (cue.lines.size() > rules.maxLines)
            report(QStringLiteral("has %1 lines (at most %2)")
                       .arg(cue.lines.size())
                       .arg(rules.maxLines));
        for (qsizetype l = 0; l < cue.lines.size(); ++l) {
            const qsizetype length = graphemeCount(cue.lines[l]);
            if (length > rules.maxChars)
                report(QStringLiteral("line %1 has %2 characters (at most %3)")
                           .arg(l + 1)
                           .arg(length)
                           .arg(rules.maxChars));
        }
        const double duration = cue.end - cue.start;
        if (duration >= 0 && duration < rules.minDuration - 1e-9)
            report(QStringLiteral("shows for %1 s (at least %2)")
                       .arg(seconds(duration), number(rules.minDuration)));
        if (duration > rules.maxDuration + 1e-9)
            report(QStringLiteral("shows for %1 s (at most %2)")
                       .arg(seconds(duration), number(rules.maxDuration)));
        if (charactersPerSecond(cue) > rules.maxCharsPerSecond + 1e-9)
            report(QStringLiteral("reads at %1 characters a second (at most %2)")
                       // Rounded up, so a speed over the limit never reads as the limit.
                       .arg(QString::number(std::ceil(charactersPerSecond(cue) * 10) / 10, 'f', 1),
                            number(rules.maxCharsPerSecond)));
    }
    return found;
}

qsizetype tooFast(const QList<Cue>& cues, const SubtitleRules& rules) {
    return std::count_if(cues.cbegin(), cues.cend(), [&](const Cue& cue) {
        return charactersPerSecond(cue) > rules.maxCharsPerSecond + 1e-9;
    });
}

QString savedNotice(const QString& savedText, const SubtitleRules& rules) {
    QString error;
    const std::optional<QList<Cue>> cues = parse(savedText, error);
    const qsizetype fast = cues ? tooFast(*cues, rules) : 0;
    const QString limit = QString::number(rules.maxCharsPerSecond, 'g', 4);
    if (fast == 0)
        return QStringLiteral("Saved; every subtitle reads at ") + limit +
               QStringLiteral(" characters a second or less");
    return QStringLiteral("Saved; ") + QString::number(fast) +
           (fast == 1 ? QStringLiteral(" subtitle reads") : QStringLiteral(" subtitles read")) +
           QStringLiteral(" faster than ") + limit + QStringLiteral(" characters a second");
}

} // namespace vocalith::SubtitleChecker
