#include "SpeakerVoices.h"

#include "transcription/AudioConverter.h"
#include "transcription/SoundFile.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace vocalith {

namespace {

// libsndfile writing into memory: a clip goes into a request, never onto the disk.
struct MemoryFile {
    QByteArray bytes;
    sf_count_t at = 0;
};

sf_count_t memoryLength(void* file) {
    return static_cast<MemoryFile*>(file)->bytes.size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* data) {
    auto* file = static_cast<MemoryFile*>(data);
    const sf_count_t base = whence == SEEK_CUR   ? file->at
                            : whence == SEEK_END ? file->bytes.size()
                                                 : 0;
    file->at = std::max<sf_count_t>(0, base + offset);
    return file->at;
}

sf_count_t memoryRead(void* target, sf_count_t count, void* data) {
    auto* file = static_cast<MemoryFile*>(data);
    const sf_count_t read = std::clamp<sf_count_t>(file->bytes.size() - file->at, 0, count);
    std::copy_n(file->bytes.constData() + file->at, read, static_cast<char*>(target));
    file->at += read;
    return read;
}

sf_count_t memoryWrite(const void* source, sf_count_t count, void* data) {
    auto* file = static_cast<MemoryFile*>(data);
    if (file->at + count > file->bytes.size())
        file->bytes.resize(file->at + count);
    std::copy_n(static_cast<const char*>(source), count, file->bytes.data() + file->at);
    file->at += count;
    return count;
}

sf_count_t memoryTell(void* file) {
    return static_cast<MemoryFile*>(file)->at;
}

QByteArray waveBytes(const short* samples, sf_count_t count) {
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile file;
    SF_INFO info{};
    info.samplerate = AudioConverter::sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile sound(sf_open_virtual(&io, SFM_WRITE, &info, &file));
    if (!sound || sf_write_short(sound.get(), samples, count) != count)
        return {};
    sound.reset(); // writes the header's sizes
    return file.bytes;
}

} // namespace

void SpeakerVoices::name(QList<TranscriptSegment>& segments, bool labelsRestart) {
    ++m_part;
    const auto known = [this](const QString& name) {
        return std::find_if(m_speakers.cbegin(), m_speakers.cend(),
                            [&](const Speaker& speaker) { return speaker.name == name; }) -
               m_speakers.cbegin();
    };
    for (TranscriptSegment& segment : segments) {
        if (segment.speaker.isEmpty())
            continue;
        qsizetype index = labelsRestart ? known(segment.speaker) : m_speakers.size();
        if (index == m_speakers.size()) {
            const QString key = labelsRestart
                                    ? QString::number(m_part) + QLatin1Char('/') + segment.speaker
                                    : segment.speaker;
            index = m_labels.value(key, m_speakers.size());
            if (index == m_speakers.size()) {
                QString name;
                for (qsizetype number = index + 1; name.isEmpty() || known(name) < index; ++number)
                    name = QStringLiteral("Speaker ") + QString::number(number);
                m_speakers.append({name, 0.0, 0.0, {}});
                m_labels.insert(key, index);
            }
        }
        segment.speaker = m_speakers[index].name;
    }
}

void SpeakerVoices::knowNames(const QList<TranscriptSegment>& segments) {
    for (const TranscriptSegment& segment : segments) {
        if (!segment.speaker.isEmpty() &&
            std::none_of(m_speakers.cbegin(), m_speakers.cend(),
                         [&](const Speaker& speaker) { return speaker.name == segment.speaker; }))
            m_speakers.append({segment.speaker, 0.0, 0.0, {}});
    }
}

void SpeakerVoices::listen(const QString& audioPath, const QList<TranscriptSegment>& segments) {
    struct Clip {
        qsizetype speaker;
        double start;
        double end;
    };
    QList<Clip> clips;
    for (qsizetype first = 0; first < segments.size();) {
        const QString& name = segments[first].speaker;
        qsizetype last = first;
        while (last + 1 < segments.size() && segments[last + 1].speaker == name)
            ++last;
        const auto speaker = std::find_if(m_speakers.begin(), m_speakers.end(),
                                          [&](const Speaker& s) { return s.name == name; });
        if (!name.isEmpty() && speaker != m_speakers.end()) {
            // The turn, less any moment someone else is heard in it.
            double start = segments[first].startTime;
            double end = segments[last].endTime;
            for (const TranscriptSegment& other : segments) {
                if (other.speaker == name || other.startTime >= end || other.endTime <= start)
                    continue;
                if (other.startTime <= start)
                    start = other.endTime;
                else
                    end = other.startTime;
            }
            for (qsizetype i = first; i <= last; ++i)
                speaker->seconds += segments[i].endTime - segments[i].startTime;
            const double length = end - start;
            if (length >= shortestClip && length > speaker->longestTurn) {
                speaker->longestTurn = length;
                // From the middle of the turn, away from where the labels change.
                const double clipLength = std::min(length, longestClip);
                const double from = std::max(0.0, start + (length - clipLength) / 2);
                const qsizetype index = speaker - m_speakers.begin();
                clips.erase(std::remove_if(clips.begin(), clips.end(),
                                           [&](const Clip& c) { return c.speaker == index; }),
                            clips.end());
                clips.append({index, from, from + clipLength});
            }
        }
        first = last + 1;
    }
    if (clips.isEmpty())
        return;

    // One pass over the part, keeping only the stretch the clips come from.
    constexpr double rate = AudioConverter::sampleRate;
    qint64 low = std::numeric_limits<qint64>::max();
    qint64 high = 0;
    for (const Clip& clip : clips) {
        low = std::min(low, qint64(clip.start * rate));
        high = std::max(high, qint64(clip.end * rate));
    }
    std::vector<short> kept;
    qint64 position = 0;
    AudioConverter::decodeMono(
        audioPath, AudioConverter::sampleRate,
        [&](const AudioConverter::MonoStream&, std::span<const short> block) {
            const qint64 from = std::clamp(low - position, qint64(0), qint64(block.size()));
            const qint64 to = std::clamp(high - position, qint64(0), qint64(block.size()));
            kept.insert(kept.end(), block.begin() + from, block.begin() + to);
            position += qint64(block.size());
            // Past the last clip nothing more is needed: a text ends the decoding.
            return position >= high ? std::optional<QString>(QStringLiteral("enough"))
                                    : std::nullopt;
        });
    for (const Clip& clip : clips) {
        const qint64 from = qint64(clip.start * rate) - low;
        const qint64 to = std::min(qint64(clip.end * rate) - low, qint64(kept.size()));
        // A part shorter than its segments say leaves no clip worth sending.
        if (double(to - from) >= shortestClip * rate)
            m_speakers[clip.speaker].clip = waveBytes(kept.data() + from, to - from);
    }
}

QList<SpeakerVoices::Reference> SpeakerVoices::references() const {
    QList<const Speaker*> heard;
    for (const Speaker& speaker : m_speakers) {
        if (!speaker.clip.isEmpty())
            heard.append(&speaker);
    }
    std::stable_sort(heard.begin(), heard.end(),
                     [](const Speaker* a, const Speaker* b) { return a->seconds > b->seconds; });
    QList<Reference> references;
    for (const Speaker* speaker : heard.first(std::min(heard.size(), mostReferences)))
        references.append({speaker->name, "data:audio/wav;base64," + speaker->clip.toBase64()});
    return references;
}

} // namespace vocalith
