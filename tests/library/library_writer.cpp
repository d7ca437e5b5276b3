#include "library/TranscriptLibrary.h"

#include <QCoreApplication>

#include <cstdio>

using namespace vocalith;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TranscriptLibrary library(app.arguments().value(1));
    for (int n = 0;; ++n) {
        StoredTranscript transcript{.recordingPath = QStringLiteral("/talks/%1.mp3").arg(n)};
        for (int w = 0; w < 400; ++w)
            transcript.segments.append({.text = QStringLiteral("word%1").arg(w % 37),
                                        .startTime = w * 0.4,
                                        .endTime = w * 0.4 + 0.3});
        const std::optional<qint64> id = library.store(transcript);
        if (!id)
            return 1;
        std::printf("%lld\n", *id);
        std::fflush(stdout);
    }
}
