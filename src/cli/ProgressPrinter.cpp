#include "ProgressPrinter.h"

#include "core/TextTrimming.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace vocalith {

namespace {

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

ProgressPrinter::ProgressPrinter(std::FILE* stream)
    : m_stream(stream)
    , m_terminal(isatty(fileno(stream)) == 1) {
}

void ProgressPrinter::show(double fraction, const QString& status, const QString& timeLeft) {
    if (status.isEmpty())
        return;
    const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100.0 + 1e-6);
    if (!m_terminal) {
        if (status == m_lastStatus)
            return;
        m_lastStatus = status;
        std::fprintf(m_stream, "%3d%% %s\n", percent, qPrintable(printableText(status)));
        std::fflush(m_stream);
        return;
    }
    constexpr int barWidth = 20;
    const int filled = percent * barWidth / 100;
    QString line = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                   QString(barWidth - filled, QLatin1Char(' ')) + QStringLiteral("] ") +
                   QStringLiteral("%1% ").arg(percent, 3) + printableText(status);
    if (!timeLeft.isEmpty())
        line += QStringLiteral(" (") + timeLeft + QLatin1Char(')');
    line.truncate(terminalColumns(m_stream) - 1);
    // Back to the line's start, then clear what a longer line left behind.
    std::fprintf(m_stream, "\r%s\033[K", qPrintable(line));
    std::fflush(m_stream);
    m_lineOpen = true;
}

void ProgressPrinter::finish() {
    if (m_lineOpen)
        std::fputc('\n', m_stream);
    m_lineOpen = false;
    m_lastStatus.clear();
}

} // namespace vocalith
