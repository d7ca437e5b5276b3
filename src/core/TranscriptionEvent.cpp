#include "TranscriptionEvent.h"

namespace vocalith {

TranscriptionEvent TranscriptionEvent::progress(double fraction, const QString& message) {
    return {Progress{fraction, message}};
}

TranscriptionEvent TranscriptionEvent::success(const QList<TranscriptSegment>& segments) {
    return {Success{segments}};
}

TranscriptionEvent TranscriptionEvent::failure(const EngineError& error) {
    return {Failure{error}};
}

} // namespace vocalith
