#pragma once

#include "cli/CommandDialogs.h"
#include "cli/CommandLine.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressPrinter.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>

namespace vocalith {

class KeyStore;
class ProviderStore;
class TranscriptLibrary;
struct StoredTranscript;

// Runs a command line's jobs one file after another through the window's own
// controllers, engines, provider store and keyring, and gives the exit status.
class CommandRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CommandRunner)

public:
    // After Ctrl+C or SIGTERM: 128 and the signal's number, as shells report it.
    enum ExitStatus { succeeded = 0, failed = 1, usage = 2 };

    explicit CommandRunner(KeyStore& keys, QObject* parent = nullptr);

    int run(const CommandLine& line);
    // From the program's arguments to its exit status, usage errors included.
    static int main(const QStringList& arguments);

private:
    // One controller's job, as the file loop drives it.
    struct Job {
        std::function<void(const QUrl& file)> start;
        std::function<bool()> isRunning;
        std::function<void()> cancel;
        std::function<std::optional<QString>()> error;
        std::function<std::optional<QString>()> notice;
        std::function<bool()> hasResult; // something to write
        std::function<void()> beginSave;
        // The name the controller proposes for an input's output.
        std::function<QString(const QString& file)> proposedName;
        int formatIndex = 0;
    };
    // Why the outputs cannot be written, before any job is paid for: a missing or
    // read-only folder, or two inputs whose outputs would be one file.
    std::optional<QString> checkOutputs(const CommandLine& line, const Job& job) const;
    // Every file in turn; a failure is reported and the next file goes on.
    int runEach(const CommandLine& line, const Job& job);
    int listProviders(ProviderStore& store);
    int transcribe(const CommandLine& line);
    int translate(const CommandLine& line);
    // Prints each subtitle file's problems; exit 1 when there are any, 2 for a file
    // that is not a subtitle file.
    int check(const CommandLine& line);
    // Records from a microphone until Ctrl+C or the duration, printing each utterance.
    int listen(const CommandLine& line);
    int listDevices();
    int search(const CommandLine& line);
    int listLibrary(const CommandLine& line);
    int exportTranscript(const CommandLine& line);
    // Transcribes each new file of a folder until Ctrl+C or the folder goes.
    int watch(const CommandLine& line);
    // The library the command keeps transcripts in, its notice printed; none with
    // --no-library, when the user turned it off, or when it is open read-only.
    std::shared_ptr<TranscriptLibrary> libraryFor(const CommandLine& line);
    // Keeps a finished transcript in the library; false, with the error printed, when
    // it could not be written.
    bool keepInLibrary(const std::shared_ptr<TranscriptLibrary>& library,
                       const StoredTranscript& transcript);
    // Runs the event loop until done() holds, or the user interrupts and cancel() ran.
    void waitFor(const std::function<bool()>& done, const std::function<void()>& cancel);
    // Saves through the controller's save dialog, then copies to standard output for "-".
    bool save(const CommandLine& line, int formatIndex, const std::function<void()>& beginSave);
    void reportFailure(const QString& file, const QString& message);

    KeyStore& m_keys;
    CommandDialogs m_dialogs;
    ProgressPrinter m_progress;
    bool m_quiet = false;
    // Watches for Ctrl+C from start to end, so none falls between two jobs.
    InterruptWatcher m_interrupts;
    bool m_interrupted = false;
};

} // namespace vocalith
