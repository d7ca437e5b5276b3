#include "SegmentPacking.h"

#include <QDataStream>
#include <QIODevice>

namespace vocalith {

namespace {

constexpr quint8 formatVersion = 1;

enum Shape : quint8 {
    plain = 0,     // no words
    withWords = 1, // its own text and times, then its words
    oneWord = 2,   // exactly its one word: written once
};

void writeWord(QDataStream& out, const QString& text, double start, double end, double confidence) {
    out << text.toUtf8() << start << end << confidence;
}

TranscriptWord readWord(QDataStream& in) {
    QByteArray text;
    TranscriptWord word;
    in >> text >> word.startTime >> word.endTime >> word.confidence;
    word.text = QString::fromUtf8(text);
    return word;
}

bool isItsOneWord(const TranscriptSegment& segment) {
    if (segment.words.size() != 1)
        return false;
    const TranscriptWord& word = segment.words.constFirst();
    return word.text == segment.text && word.startTime == segment.startTime &&
           word.endTime == segment.endTime && word.confidence == segment.confidence;
}

} // namespace

QByteArray SegmentPacking::pack(const QList<TranscriptSegment>& segments) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << formatVersion << quint32(segments.size());
    for (const TranscriptSegment& segment : segments) {
        if (isItsOneWord(segment)) {
            out << quint8(oneWord);
            writeWord(out, segment.text, segment.startTime, segment.endTime, segment.confidence);
            continue;
        }
        out << quint8(segment.words.isEmpty() ? plain : withWords);
        writeWord(out, segment.text, segment.startTime, segment.endTime, segment.confidence);
        if (segment.words.isEmpty())
            continue;
        out << quint32(segment.words.size());
        for (const TranscriptWord& word : segment.words)
            writeWord(out, word.text, word.startTime, word.endTime, word.confidence);
    }
    return bytes;
}

QList<TranscriptSegment> SegmentPacking::unpack(const QByteArray& bytes) {
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    quint8 version = 0;
    quint32 count = 0;
    in >> version >> count;
    if (version != formatVersion || in.status() != QDataStream::Ok)
        return {};
    QList<TranscriptSegment> segments;
    // Bounded by the bytes, so a damaged count cannot ask for gigabytes.
    segments.reserve(qMin<qsizetype>(count, bytes.size() / 8));
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        quint8 shape = plain;
        in >> shape;
        const TranscriptWord head = readWord(in);
        TranscriptSegment segment{.text = head.text,
                                  .startTime = head.startTime,
                                  .endTime = head.endTime,
                                  .confidence = head.confidence};
        if (shape == oneWord) {
            segment.words = {head};
        } else if (shape == withWords) {
            quint32 words = 0;
            in >> words;
            for (quint32 w = 0; w < words && in.status() == QDataStream::Ok; ++w)
                segment.words.append(readWord(in));
        }
        segments.append(segment);
    }
    if (in.status() != QDataStream::Ok)
        return {};
    return segments;
}

} // namespace vocalith
