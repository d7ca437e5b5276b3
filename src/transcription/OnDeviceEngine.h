#pragma once

#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"

#include <QString>

namespace vocalith {

// The on-device recogniser as the transcription controller sees it.
class OnDeviceEngine {
public:
    virtual ~OnDeviceEngine() = default;

    // Returns at once; every event arrives later from the engine's own thread.
    // A new call cancels the recognition of the job before it.
    virtual void transcribe(const QString& audioFilePath, TranscriptionLanguage language,
                            TranscriptionEventHandler onEvent) = 0;
    // Ends the running job within half a second; it reports nothing more that matters.
    virtual void cancel() = 0;
};

} // namespace vocalith
