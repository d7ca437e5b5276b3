#pragma once

#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"
#include "providers/CustomProvider.h"
#include "transcription/UploadPreparation.h"

#include <QString>

namespace vocalith {

// Transcription by upload to a user's provider, as the controller sees it.
class ProviderEngine {
public:
    virtual ~ProviderEngine() = default;

    // Returns once the request is on its way or an early failure was reported;
    // early events come on the calling thread, later ones from the network.
    virtual void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                            const QString& apiKey, TranscriptionLanguage language,
                            TranscriptionEventHandler onEvent) = 0;
    // Ends the running job, which reports one failure saying it was cancelled.
    virtual void cancel() = 0;

    // A job whose request failed after its recording was prepared is kept: its parts
    // on disk and the text of the parts before the failed one.
    virtual bool hasKeptJob() const { return false; }
    // Continues the kept job from the part that failed; false when there is none.
    virtual bool resume(TranscriptionEventHandler) { return false; }
    // Forgets the kept job and removes its files.
    virtual void discardKeptJob() {}
    // Keeps parts of a recording that failed elsewhere (a live one), with the words of the
    // rest, as a failed job: resume() sends the parts and puts their words in place. The
    // parts' files are the engine's from now on.
    virtual void keepParts(const QList<UploadPreparation::Part>& parts,
                           const QList<TranscriptSegment>& segments, const CustomProvider& provider,
                           const QString& apiKey, TranscriptionLanguage language) = 0;
};

} // namespace vocalith
