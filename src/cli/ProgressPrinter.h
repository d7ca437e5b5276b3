#pragma once

#include <QString>

#include <cstdio>

namespace vocalith {

// Job progress on standard error: one redrawn line with a bar on a terminal, plain
// lines (one per status) when the output goes to a file or a pipe.
class ProgressPrinter final {
public:
    explicit ProgressPrinter(std::FILE* stream = stderr);

    void show(double fraction, const QString& status, const QString& timeLeft = {});
    // Ends the job's line, so what follows starts on a fresh one.
    void finish();

private:
    std::FILE* m_stream;
    bool m_terminal;
    bool m_lineOpen = false;
    QString m_lastStatus;
};

} // namespace vocalith
