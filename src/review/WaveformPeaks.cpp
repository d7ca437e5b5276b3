#include "WaveformPeaks.h"

#include "transcription/AudioConverter.h"

#include <algorithm>

namespace vocalith {

WaveformPeaks::Peak WaveformPeaks::at(double seconds) const {
    const auto index = qsizetype(seconds * perSecond);
    return index >= 0 && index < peaks.size() ? peaks[index] : Peak{};
}

std::variant<WaveformPeaks, QString>
WaveformPeaks::compute(const QString& path, const std::function<void(double)>& progress,
                       const std::atomic<bool>* stop) {
    WaveformPeaks result;
    qint64 sampleRate = 0;
    qint64 inPeak = 0;
    qint64 seen = 0;
    int low = 0;
    int high = 0;
    double lastReported = -1.0;
    const auto take = [&](const AudioConverter::MonoStream& stream,
                          std::span<const short> samples) -> std::optional<QString> {
        if (sampleRate == 0) {
            sampleRate = std::max(1, stream.sampleRate);
            if (stream.duration > 0)
                result.peaks.reserve(qsizetype(stream.duration * perSecond) + 1);
        }
        // A peak ends at the first sample past its own 20 ms, so rates that 50 does not
        // divide (11,025 Hz) never drift from the segments drawn on them.
        qint64 sample = seen;
        for (const short value : samples) {
            low = std::min<int>(low, value);
            high = std::max<int>(high, value);
            ++inPeak;
            if (++sample * perSecond >= (qint64(result.peaks.size()) + 1) * sampleRate) {
                result.peaks.append({qint8(low >> 8), qint8(high >> 8)});
                inPeak = low = high = 0;
            }
        }
        seen += qint64(samples.size());
        if (progress && stream.duration > 0) {
            const double done = std::min(1.0, double(seen) / stream.sampleRate / stream.duration);
            if (done - lastReported >= 0.01) {
                progress(done);
                lastReported = done;
            }
        }
        return std::nullopt;
    };
    // The file's own rate: nothing is resampled, only mixed down.
    if (std::optional<QString> error = AudioConverter::decodeMono(path, 0, take, stop))
        return *error;
    if (inPeak > 0)
        result.peaks.append({qint8(low >> 8), qint8(high >> 8)});
    result.peaks.squeeze();
    return result;
}

} // namespace vocalith
