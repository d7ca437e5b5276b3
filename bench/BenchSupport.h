#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <chrono>

namespace vocalith::bench {

// Peak resident memory of this process so far, in bytes.
inline qint64 peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// Wall time of a command run to its end, in seconds; negative when it failed.
inline double timeCommand(const QString& program, const QStringList& arguments,
                          QByteArray* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = std::chrono::steady_clock::now();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1.0;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (output)
        *output = process.readAllStandardOutput();
    return elapsed.count();
}

} // namespace vocalith::bench
