#include "SubtitleChecker.h"

#include "core/TranscriptRendering.h"
#include "subtitles/SubtitleDocument.h"

#include <QRegularExpression>

#include <cmath>

namespace vocalith::SubtitleChecker {

namespace {

// Tags and override codes style the text; a viewer does not read them.
QString withoutMarkup(QString line, bool webVtt) {
    static const QRegularExpression overrides(QStringLiteral("\\{\\\\[^}]*\\}"));
    static const QRegularExpression srtTags(QStringLiteral("</?(?:[bisu]|font)(?:\\s[^>]*)?>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression vttTags(QStringLiteral("<[^>]*>"));
    line.remove(overrides);
    if (!webVtt)
        return line.remove(srtTags);
    return line.remove(vttTags)
        .replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&nbsp;"), QString(QChar(0xA0)))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

qsizetype characters(const Cue& cue) {
    qsizetype count = 0;
    for (const QString& line : cue.lines)
        count += graphemeCount(line);
    return count;
}

double charactersPerSecond(const Cue& cue) {
    const double duration = double(cue.end - cue.start) / 1000.0;
    return duration > 0 ? double(characters(cue)) / duration : 0.0;
}

QString seconds(qint64 milliseconds) {
    return QString::number(double(milliseconds) / 1000.0, 'f', 3);
}

QString number(double value) {
    return QString::number(value, 'g', 4);
}

} // namespace

std::optional<QList<Cue>> parse(const QString& text, QString& error) {
    const SubtitleDocument document = SubtitleDocument::read(text);
    QList<Cue> cues;
    bool readable = false;
    for (const SubtitleDocument::Block& block : document.blocks()) {
        if (block.kind == SubtitleDocument::Kind::Kept)
            continue;
        // An unreadable block keeps its place, so the numbers after it are checked as written.
        Cue cue;
        cue.number = int(cues.size() + 1);
        cue.line = block.line;
        if (block.kind == SubtitleDocument::Kind::Unreadable) {
            cue.unreadable = block.raw;
            cues.append(cue);
            continue;
        }
        if (!document.isWebVtt() && !block.identifier.isEmpty())
            cue.number = block.identifier.trimmed().toInt();
        cue.start = block.start;
        cue.end = block.end;
        for (const QString& line : block.lines)
            cue.lines.append(withoutMarkup(line, document.isWebVtt()));
        cues.append(cue);
        readable = true;
    }
    if (!readable) {
        error = QStringLiteral("No subtitles found: not an SRT or WebVTT file.");
        return std::nullopt;
    }
    return cues;
}

QStringList problems(const QList<Cue>& cues, const SubtitleRules& rules) {
    QStringList found;
    const Cue* previous = nullptr;
    // Each number follows the cue before's; a block between them that cannot be read
    // may have held one number or none, so a gap is reported once.
    int expected = 1;
    int unread = 0;
    for (qsizetype i = 0; i < cues.size(); ++i) {
        const Cue& cue = cues[i];
        if (!cue.unreadable.isEmpty()) {
            ++unread;
            QString content = cue.unreadable.split(QLatin1Char('\n')).join(QLatin1String(" | "));
            content.remove(QLatin1Char('\r'));
            if (content.size() > 80)
                content = content.left(77) + QStringLiteral("...");
            found.append(QStringLiteral("%1 (line %2): cannot be read: %3")
                             .arg(QString::number(i + 1), QString::number(cue.line), content));
            continue;
        }
        const QString where = QString::number(cue.number) + QLatin1Char(' ') +
                              srtTimestamp(double(cue.start) / 1000.0) + ": ";
        const auto report = [&](const QString& problem) { found.append(where + problem); };
        if (cue.number < expected || cue.number > expected + unread)
            report(QStringLiteral("numbered %1 (expected %2)").arg(cue.number).arg(expected));
        expected = cue.number + 1;
        unread = 0;
        if (cue.end < cue.start)
            report(QStringLiteral("ends before it starts"));
        if (previous && cue.start < previous->start)
            report(QStringLiteral("starts before the subtitle before it"));
        else if (previous && cue.start < previous->end)
            report(QStringLiteral("overlaps the subtitle before it by %1 s")
                       .arg(seconds(previous->end - cue.start)));
        else if (previous && (cue.start - previous->end) / 1000.0 < rules.minGap - 1e-9)
            report(QStringLiteral("follows the subtitle before it after %1 s (at least %2)")
                       .arg(seconds(cue.start - previous->end), number(rules.minGap)));
        previous = &cue;
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
        const double duration = double(cue.end - cue.start) / 1000.0;
        if (duration >= 0 && duration < rules.minDuration - 1e-9)
            report(QStringLiteral("shows for %1 s (at least %2)")
                       .arg(seconds(cue.end - cue.start), number(rules.minDuration)));
        if (duration > rules.maxDuration + 1e-9)
            report(QStringLiteral("shows for %1 s (at most %2)")
                       .arg(seconds(cue.end - cue.start), number(rules.maxDuration)));
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
