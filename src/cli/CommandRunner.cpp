#include "CommandRunner.h"

#include "core/TextFiles.h"
#include "core/TextTrimming.h"
#include "core/WorkFiles.h"
#include "library/TranscriptJson.h"
#include "library/TranscriptLibrary.h"
#include "live/LiveTranscription.h"
#include "live/MicrophoneCapture.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "queue/FolderWatcher.h"
#include "queue/TranscriptionQueue.h"
#include "subtitles/SubtitleChecker.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/LibraryWriter.h"
#include "transcription/TranscriptFormats.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace vocalith {

namespace {

void printError(const QString& message) {
    std::fprintf(stderr, "vocalith: %s\n", qPrintable(printableText(message)));
}

// A field of a line printed: a newline or tab in it would split the line or its columns.
QString onOneLine(const QString& text) {
    QString printable = printableText(text);
    for (QChar& c : printable) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QChar::ReplacementCharacter;
    }
    return printable;
}

// Ends the process at once after the work files are gone: the job did not stop in time.
[[noreturn]] void exitNow(int status) {
    WorkFiles::removeAll();
    std::fputs("\nvocalith: stopped\n", stderr);
    std::_Exit(status);
}

std::optional<TranscriptionLanguage> languageNamed(const QString& name) {
    for (const TranscriptionLanguage language : allTranscriptionLanguages()) {
        if (name.compare(rawValue(language), Qt::CaseInsensitive) == 0 ||
            name.compare(languageCode(language).value_or(QString()), Qt::CaseInsensitive) == 0)
            return language;
    }
    return std::nullopt;
}

std::optional<CustomProvider> providerNamed(const ProviderStore& store, const QString& name) {
    for (const CustomProvider& provider : store.providers()) {
        if (provider.name.compare(name, Qt::CaseInsensitive) == 0)
            return provider;
    }
    return std::nullopt;
}

// "[0:01:02]" for 62 s.
QString utteranceTime(double seconds) {
    const auto whole = qint64(seconds);
    return QStringLiteral("[%1:%2:%3]")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

bool namesFolder(const QString& path) {
    return path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir();
}

// Why a file cannot be written at path (a folder when it ends in "/" or is one).
std::optional<QString> unwritable(const QString& path) {
    const QFileInfo info(path);
    const QString folder = namesFolder(path) ? path : info.absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("No such folder: ") + folder;
    if (!QFileInfo(folder).isWritable())
        return QStringLiteral("Cannot write in ") + folder;
    if (info.exists() && !info.isDir() && !info.isWritable())
        return QStringLiteral("Cannot write ") + path;
    return std::nullopt;
}

// Copies the recording beside target, then renames it into place: a file already
// there is replaced whole or not at all.
std::optional<QString> keepRecording(const QString& recording, const QString& target) {
    QFile source(recording);
    QSaveFile kept(target);
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    if (!kept.open(QIODevice::WriteOnly))
        return kept.errorString();
    for (QByteArray block; !(block = source.read(1 << 20)).isEmpty();)
        kept.write(block);
    if (source.error() != QFileDevice::NoError) {
        kept.cancelWriting();
        return source.errorString();
    }
    if (!kept.commit())
        return kept.errorString();
    return std::nullopt;
}

QString unknownProvider(const QString& name) {
    return QStringLiteral("No provider is named \"") + name +
           QStringLiteral("\"; \"vocalith providers\" lists them.");
}

// --engine and --language as the controllers take them; absent, with the error
// printed, when either names nothing known.
std::optional<std::pair<TranscriptionEngine, TranscriptionLanguage>>
engineAndLanguage(const CommandLine& line, const ProviderStore& store) {
    TranscriptionEngine engine = TranscriptionEngine::onDevice();
    if (line.engine != engine.id()) {
        const std::optional<CustomProvider> provider = providerNamed(store, line.engine);
        if (!provider) {
            printError(unknownProvider(line.engine));
            return std::nullopt;
        }
        engine = TranscriptionEngine::custom(*provider);
    }
    const std::optional<TranscriptionLanguage> language = languageNamed(line.language);
    if (!language) {
        printError(QStringLiteral("Unknown language \"") + line.language +
                   QStringLiteral("\"; use a code such as en-US or en, or auto."));
        return std::nullopt;
    }
    return std::pair{engine, *language};
}

} // namespace

CommandRunner::CommandRunner(KeyStore& keys, QObject* parent)
    : QObject(parent)
    , m_keys(keys)
    , m_interrupts(exitNow) {
    connect(&m_interrupts, &InterruptWatcher::interrupted, this, [this] { m_interrupted = true; });
}

int CommandRunner::main(const QStringList& arguments) {
    const auto parsed = CommandLine::parse(arguments);
    if (const auto* error = std::get_if<CommandLine::UsageError>(&parsed)) {
        printError(error->message + QStringLiteral("\nTry \"vocalith --help\"."));
        return usage;
    }
    const CommandLine& line = std::get<CommandLine>(parsed);
    if (line.command == CommandLine::Command::help) {
        std::fputs(qPrintable(CommandLine::helpText()), stdout);
        return succeeded;
    }
    if (line.command == CommandLine::Command::version) {
        std::fputs(qPrintable(CommandLine::versionText()), stdout);
        return succeeded;
    }
    CommandRunner runner(KeychainHelper::shared());
    return runner.run(line);
}

int CommandRunner::run(const CommandLine& line) {
    m_quiet = line.quiet;
    switch (line.command) {
    case CommandLine::Command::providers: {
        ProviderStore store(m_keys);
        return listProviders(store);
    }
    case CommandLine::Command::transcribe:
        return transcribe(line);
    case CommandLine::Command::translate:
        return translate(line);
    case CommandLine::Command::check:
        return check(line);
    case CommandLine::Command::listen:
        return listen(line);
    case CommandLine::Command::devices:
        return listDevices();
    case CommandLine::Command::search:
        return search(line);
    case CommandLine::Command::library:
        return listLibrary(line);
    case CommandLine::Command::exportTranscript:
        return exportTranscript(line);
    case CommandLine::Command::watch:
        return watch(line);
    default:
        return usage;
    }
}

int CommandRunner::listProviders(ProviderStore& store) {
    for (const CustomProvider& provider : store.providers())
        std::printf("%s\t%s\t%s\n", qPrintable(provider.name), qPrintable(provider.baseURL),
                    qPrintable(provider.model));
    return succeeded;
}

void CommandRunner::waitFor(const std::function<bool()>& done,
                            const std::function<void()>& cancel) {
    if (m_interrupted)
        return cancel();
    QEventLoop loop;
    connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, cancel);
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || m_interrupted)
            loop.quit();
    });
    poll.start(20);
    if (!done())
        loop.exec();
}

bool CommandRunner::save(const CommandLine& line, int formatIndex,
                         const std::function<void()>& beginSave) {
    const bool toStandardOutput = line.output == QLatin1String("-");
    QTemporaryDir spool;
    m_dialogs.setTarget(toStandardOutput ? spool.path() : line.output.value_or(QString()),
                        formatIndex, line.broadcastLines ? 1 : 0, line.speakerNames);
    beginSave();
    waitFor([this] { return !m_dialogs.isAnswering(); }, [] {});
    if (!toStandardOutput)
        return true;
    const QStringList written = QDir(spool.path()).entryList(QDir::Files);
    QFile file(spool.filePath(written.value(0)));
    if (written.size() != 1 || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
               size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

std::optional<QString> CommandRunner::checkOutputs(const CommandLine& line, const Job& job) const {
    if (line.output == QLatin1String("-"))
        return std::nullopt;
    const QString output = line.output.value_or(QString());
    const bool intoFolder =
        !output.isEmpty() && (output.endsWith(QLatin1Char('/')) || QFileInfo(output).isDir());
    QHash<QString, QString> inputFor; // output path -> the input that writes it
    for (const QString& file : line.files) {
        QString target = output;
        if (output.isEmpty())
            target = QFileInfo(file).absoluteDir().filePath(job.proposedName(file));
        else if (intoFolder)
            target = QDir(output).filePath(job.proposedName(file));
        target = QDir::cleanPath(QFileInfo(target).absoluteFilePath());
        const QFileInfo folder(QFileInfo(target).absolutePath());
        if (!folder.isDir())
            return QStringLiteral("No such folder: ") + (intoFolder ? output : folder.filePath());
        if (!folder.isWritable())
            return QStringLiteral("Cannot write in ") + folder.filePath();
        if (const auto other = inputFor.constFind(target); other != inputFor.cend())
            return *other + QStringLiteral(" and ") + file +
                   QStringLiteral(" would both be written to ") + target +
                   (intoFolder || output.isEmpty() ? QStringLiteral(".")
                                                   : QStringLiteral("; give --output a folder."));
        inputFor.insert(target, file);
    }
    return std::nullopt;
}

int CommandRunner::runEach(const CommandLine& line, const Job& job) {
    if (const std::optional<QString> problem = checkOutputs(line, job)) {
        printError(*problem);
        return usage;
    }
    int status = succeeded;
    for (const QString& file : line.files) {
        if (m_interrupted) // never start a job, and pay for a request, after Ctrl+C
            return m_interrupts.exitStatus();
        job.start(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
        waitFor([&] { return !job.isRunning(); }, job.cancel);
        m_progress.finish();
        if (m_interrupted)
            return m_interrupts.exitStatus();
        if (const std::optional<QString> error = job.error()) {
            reportFailure(file, *error);
            status = failed;
            continue;
        }
        if (!job.hasResult()) {
            reportFailure(file, QStringLiteral("The result is empty; nothing was written."));
            status = failed;
            continue;
        }
        if (!save(line, job.formatIndex, job.beginSave) || job.error()) {
            reportFailure(file, job.error().value_or(QStringLiteral("Failed to save.")));
            status = failed;
        } else if (const std::optional<QString> notice = job.notice(); notice && !m_quiet) {
            std::fprintf(stderr, "%s\n", qPrintable(*notice)); // what a broadcast layout gave
        }
    }
    return status;
}

void CommandRunner::reportFailure(const QString& file, const QString& message) {
    m_progress.finish();
    printError(file + QStringLiteral(": ") + message);
}

int CommandRunner::transcribe(const CommandLine& line) {
    TranscriptionViewModel vm(
        {std::make_unique<ProviderStore>(m_keys), std::make_unique<TranscriptionService>(),
         std::make_unique<ExternalTranscriptionService>(), &m_keys, &m_dialogs});
    const auto choice = engineAndLanguage(line, vm.providerStore());
    if (!choice)
        return usage;
    const auto& [engine, language] = *choice;
    std::optional<CustomProvider> provider = engine.provider();
    if (line.speakers && !provider) {
        printError(QStringLiteral("The on-device engine does not identify speakers."));
        return usage;
    }
    if (line.speakers) // for this run, whatever the provider's setting
        provider->identifySpeakers = true;
    vm.setSelectedEngine(provider ? TranscriptionEngine::custom(*provider) : engine);
    vm.setSelectedLanguage(language);
    const int formatIndex = TranscriptFormats::indexOf(line.format);
    const std::shared_ptr<TranscriptLibrary> library = libraryFor(line);
    bool kept = true;
    bool keptThisJob = false;

    const auto showProgress = [&] {
        if (!m_quiet && vm.isTranscribing())
            m_progress.show(vm.progress(), vm.statusMessage(), vm.timeLeft());
    };
    for (auto signal :
         {&TranscriptionViewModel::progressChanged, &TranscriptionViewModel::statusMessageChanged,
          &TranscriptionViewModel::timeLeftChanged})
        connect(&vm, signal, this, showProgress);

    // Kept once the job succeeded, before its file is written: a transcript the
    // library holds is never lost to a failed save.
    const auto finished = [&] {
        if (vm.isTranscribing())
            return false;
        if (library && !keptThisJob && !vm.segments().isEmpty() && !vm.errorMessage())
            kept = keepInLibrary(library, vm.transcriptForLibrary()) && kept;
        keptThisJob = true;
        return true;
    };
    const int status = runEach(
        line, {[&](const QUrl& file) {
                   keptThisJob = false;
                   vm.loadFile(file);
                   vm.startTranscription();
               },
               [&] { return !finished(); }, [&] { vm.cancelTranscription(); },
               [&] { return vm.errorMessage(); }, [&] { return vm.noticeMessage(); },
               [&] { return !trimmedWhiteSpaceAndLineBreaks(vm.transcribedText()).isEmpty(); },
               [&] { vm.saveTranscription(); },
               [&](const QString& file) {
                   return TranscriptionViewModel::proposedFileName(file, formatIndex);
               },
               formatIndex});
    return status == succeeded && !kept ? failed : status;
}

int CommandRunner::check(const CommandLine& line) {
    SubtitleRules rules;
    rules.maxCharsPerSecond = line.maxCharsPerSecond;
    rules.maxChars = line.maxChars;
    int status = succeeded;
    for (const QString& file : line.files) {
        QFile input(file);
        const QByteArray bytes = input.open(QIODevice::ReadOnly) ? input.readAll() : QByteArray();
        QString error = input.error() != QFileDevice::NoError
                            ? input.errorString()
                            : QStringLiteral("Not a UTF-8 text file.");
        const std::optional<QList<SubtitleChecker::Cue>> cues =
            input.error() == QFileDevice::NoError && QUtf8StringView(bytes).isValidUtf8()
                ? SubtitleChecker::parse(QString::fromUtf8(bytes), error)
                : std::nullopt;
        if (!cues) {
            printError(file + QStringLiteral(": ") + error);
            status = usage;
            continue;
        }
        const QString prefix = line.files.size() > 1 ? file + QStringLiteral(": ") : QString();
        const QStringList problems = SubtitleChecker::problems(*cues, rules);
        for (const QString& problem : problems)
            std::printf("%s\n", qPrintable(printableText(prefix + problem)));
        if (!problems.isEmpty() && status == succeeded)
            status = failed;
    }
    return status;
}

int CommandRunner::translate(const CommandLine& line) {
    ProviderStore store(m_keys);
    const std::optional<CustomProvider> provider = providerNamed(store, line.provider);
    if (!provider) {
        printError(unknownProvider(line.provider));
        return usage;
    }
    const QStringList& languages = TranslationViewModel::targetLanguages();
    const auto target = std::find_if(languages.cbegin(), languages.cend(), [&](const QString& l) {
        return l.compare(line.targetLanguage, Qt::CaseInsensitive) == 0;
    });
    if (target == languages.cend()) {
        printError(QStringLiteral("Unknown target language \"") + line.targetLanguage +
                   QStringLiteral("\"; choose one of: ") + languages.join(QStringLiteral(", ")));
        return usage;
    }

    QString instructions = line.context;
    if (line.contextFile) {
        QFile file(*line.contextFile);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (file.error() != QFileDevice::NoError || !QUtf8StringView(bytes).isValidUtf8()) {
            printError(QStringLiteral("Cannot read the context file ") + *line.contextFile +
                       QLatin1Char('.'));
            return usage;
        }
        instructions = QString::fromUtf8(bytes);
    }

    TranslationViewModel vm(m_keys, m_dialogs);
    vm.setProviderStore(&store);
    vm.setInstructions(instructions);
    vm.setSelectedProvider(provider);
    vm.setTargetLanguage(*target);
    const auto showProgress = [&] {
        if (!m_quiet && vm.isTranslating())
            m_progress.show(vm.progress(), vm.statusMessage());
    };
    connect(&vm, &TranslationViewModel::progressChanged, this, showProgress);
    connect(&vm, &TranslationViewModel::statusMessageChanged, this, showProgress);

    return runEach(line,
                   {[&](const QUrl& file) {
                        vm.clearInput();
                        vm.loadFile(file);
                        if (!vm.errorMessage())
                            vm.startTranslation();
                    },
                    [&] { return vm.isTranslating(); }, [&] { vm.cancelTranslation(); },
                    [&] { return vm.errorMessage(); }, [&] { return vm.noticeMessage(); },
                    [&] { return !trimmedWhiteSpaceAndLineBreaks(vm.outputText()).isEmpty(); },
                    [&] { vm.saveTranslation(); },
                    [](const QString& file) {
                        return TranslationViewModel::proposedFileName(
                            file, TranslationService::detectFormat(file));
                    },
                    0});
}

int CommandRunner::listDevices() {
    const QList<QAudioDevice> devices = MicrophoneCapture::inputs();
    if (devices.isEmpty()) {
        printError(QStringLiteral("No microphone was found."));
        return failed;
    }
    for (const QAudioDevice& device : devices)
        std::printf("%s\t%s%s\n", qPrintable(printableText(device.description())),
                    qPrintable(printableText(QString::fromUtf8(device.id()))),
                    device.isDefault() ? "\tdefault" : "");
    return succeeded;
}

int CommandRunner::listen(const CommandLine& line) {
    TranscriptionViewModel vm(
        {std::make_unique<ProviderStore>(m_keys), std::make_unique<TranscriptionService>(),
         std::make_unique<ExternalTranscriptionService>(), &m_keys, &m_dialogs});
    TranscriptionEngine engine = TranscriptionEngine::onDevice();
    QString key;
    if (line.engine != engine.id()) {
        const std::optional<CustomProvider> provider =
            providerNamed(vm.providerStore(), line.engine);
        if (!provider) {
            printError(unknownProvider(line.engine));
            return usage;
        }
        engine = TranscriptionEngine::custom(*provider);
        const std::optional<QString> found = vm.providerKey(*provider);
        if (!found) {
            printError(vm.errorMessage().value_or(QString()));
            return failed;
        }
        key = *found;
    }
    const std::optional<TranscriptionLanguage> language = languageNamed(line.language);
    if (!language) {
        printError(QStringLiteral("Unknown language \"") + line.language +
                   QStringLiteral("\"; use a code such as en-US or en, or auto."));
        return usage;
    }
    CommandLine target = line;
    if (!target.output)
        target.output = QDir::currentPath();
    for (const std::optional<QString>& path : {target.output, line.keepAudio}) {
        if (!path || *path == QLatin1String("-"))
            continue;
        if (const std::optional<QString> problem = unwritable(*path)) {
            printError(*problem);
            return usage;
        }
    }
    const std::optional<QAudioDevice> device = MicrophoneCapture::inputNamed(line.device);
    if (!device) {
        printError(line.device.isEmpty()
                       ? QStringLiteral("No microphone was found.")
                       : QStringLiteral("No microphone is named \"") + line.device +
                             QStringLiteral("\"; \"vocalith devices\" lists them."));
        return line.device.isEmpty() ? failed : usage;
    }

    // Ctrl+C ends the recording, which takes a moment; what it holds is finished after.
    m_interrupts.setGracePeriod(15'000);
    LiveTranscription live;
    const bool showPartial = !m_quiet && isatty(fileno(stderr));
    const auto clearPartial = [&] {
        if (showPartial)
            std::fputs("\r\033[K", stderr);
    };
    // With the transcript on standard output, the running lines go with the progress.
    const bool transcriptToStandardOutput = line.output == QLatin1String("-");
    std::FILE* const lines = transcriptToStandardOutput ? stderr : stdout;
    connect(&live, &LiveTranscription::utteranceRecognized, this,
            [&](const QList<TranscriptSegment>& words) {
                if (transcriptToStandardOutput && m_quiet)
                    return;
                QStringList texts;
                for (const TranscriptSegment& word : words)
                    texts.append(word.text);
                clearPartial();
                std::fprintf(lines, "%s %s\n", qPrintable(utteranceTime(words.first().startTime)),
                             qPrintable(printableText(texts.join(QLatin1Char(' ')))));
                std::fflush(lines);
            });
    connect(&live, &LiveTranscription::partialTextChanged, this, [&] {
        clearPartial();
        if (showPartial)
            std::fputs(qPrintable(printableText(live.partialText())), stderr);
    });
    if (!live.start(*device, engine, *language, key)) {
        printError(live.errorMessage());
        return failed;
    }
    if (!m_quiet)
        std::fprintf(stderr, "Listening to %s; Ctrl+C ends.\n",
                     qPrintable(printableText(device->description())));
    waitFor(
        [&] { return !live.isRecording() || (line.duration && live.elapsed() >= *line.duration); },
        [&] { live.stop(); });
    live.stop();
    // Ctrl+C ends a recording as planned: what was recorded is still transcribed, written
    // and kept, however long that takes. Only a second one ends the program at once.
    m_interrupts.liftDeadline();
    disconnect(&m_interrupts, &InterruptWatcher::interrupted, this, nullptr);
    m_interrupted = false;
    const bool stoppedByUser = m_interrupts.exitStatus() != 0;
    if (!stoppedByUser) // the duration ended it: the first Ctrl+C is the one that ends all
        connect(&m_interrupts, &InterruptWatcher::interrupted, this,
                [this] { exitNow(m_interrupts.exitStatus()); });
    QEventLoop loop;
    connect(&live, &LiveTranscription::finished, &loop, &QEventLoop::quit);
    if (live.isFinishing()) {
        if (!m_quiet) {
            const int behind = int(std::ceil(live.secondsBehind()));
            clearPartial();
            std::fprintf(stderr, "Finishing: transcribing %s; Ctrl+C %sends at once.\n",
                         qPrintable(behind > 0 ? QStringLiteral("the last %1 s heard").arg(behind)
                                               : QStringLiteral("the last words heard")),
                         stoppedByUser ? "again " : "");
        }
        loop.exec();
    }
    clearPartial();

    int status = succeeded;
    if (!live.errorMessage().isEmpty()) {
        printError(live.errorMessage());
        status = failed;
    }
    vm.finishRecording(live.recordingPath(), live.segments(), {});
    const int formatIndex = TranscriptFormats::indexOf(line.format);
    StoredTranscript transcript = vm.transcriptForLibrary();
    if (live.segments().isEmpty()) {
        printError(QStringLiteral("No speech was recognised; no transcript was written."));
        status = failed;
    } else if (!save(target, formatIndex, [&] { vm.saveTranscription(); }) || vm.errorMessage()) {
        printError(vm.errorMessage().value_or(QStringLiteral("Failed to save.")));
        status = failed;
    }
    if (line.keepAudio) {
        // A folder keeps it under its own name, as --output does the transcript.
        const QString kept =
            namesFolder(*line.keepAudio)
                ? QDir(*line.keepAudio).filePath(QFileInfo(live.recordingPath()).fileName())
                : *line.keepAudio;
        // Kept where it was recorded: nothing to copy, only to leave in place.
        const QString canonical = QFileInfo(kept).canonicalFilePath();
        if (!canonical.isEmpty() &&
            canonical == QFileInfo(live.recordingPath()).canonicalFilePath())
            vm.keepRecording();
        else if (const std::optional<QString> error = keepRecording(live.recordingPath(), kept)) {
            printError(QStringLiteral("The recording could not be kept as ") + kept +
                       QStringLiteral(": ") + *error);
            status = failed;
        } else {
            transcript.recordingPath = QFileInfo(kept).absoluteFilePath();
        }
    }
    // The library points at the recording kept beside the transcript, if any.
    if (const auto library = libraryFor(line);
        library && !transcript.segments.isEmpty() && !keepInLibrary(library, transcript))
        status = failed;
    // What failed may be mended from the recording: it stays in the cache, and says where.
    if (status != succeeded && QFileInfo::exists(live.recordingPath())) {
        vm.keepRecording();
        printError(QStringLiteral("The recording is kept as ") + live.recordingPath() +
                   QLatin1Char('.'));
    }
    return status;
}

std::shared_ptr<TranscriptLibrary> CommandRunner::libraryFor(const CommandLine& line) {
    const bool reading = line.command == CommandLine::Command::search ||
                         line.command == CommandLine::Command::library ||
                         line.command == CommandLine::Command::exportTranscript;
    if (!reading && (!line.keepInLibrary || !TranscriptLibrary::isEnabled()))
        return nullptr;
    auto library = std::make_shared<TranscriptLibrary>();
    if (!library->notice().isEmpty())
        printError(library->notice());
    return reading || !library->isReadOnly() ? library : nullptr;
}

bool CommandRunner::keepInLibrary(const std::shared_ptr<TranscriptLibrary>& library,
                                  const StoredTranscript& transcript) {
    LibraryWriter writer(library);
    std::optional<QString> error;
    connect(&writer, &LibraryWriter::failed, this,
            [&](const QString& message) { error = message; });
    writer.store(transcript);
    // Finished even after Ctrl+C: it takes milliseconds, and a transcript is worth it.
    QEventLoop loop;
    connect(&writer, &LibraryWriter::idle, &loop, &QEventLoop::quit);
    if (writer.isBusy())
        loop.exec();
    if (error)
        printError(*error);
    return !error;
}

int CommandRunner::search(const CommandLine& line) {
    const auto library = libraryFor(line);
    const QList<SearchHit> hits = library->search(line.files.join(QLatin1Char(' ')), line.limit);
    if (hits.isEmpty() && !library->lastError().isEmpty()) {
        printError(library->lastError());
        return failed;
    }
    if (line.json) {
        QJsonArray array;
        for (const SearchHit& hit : hits) {
            QJsonArray marks;
            for (const auto& [start, length] : hit.marks)
                marks.append(QJsonArray{start, length});
            array.append(QJsonObject{{QStringLiteral("id"), hit.transcriptId},
                                     {QStringLiteral("recording"), hit.recordingPath},
                                     {QStringLiteral("speaker"), hit.speaker},
                                     {QStringLiteral("time"), hit.time},
                                     {QStringLiteral("context"), hit.context},
                                     {QStringLiteral("marks"), marks}});
        }
        std::fputs(QJsonDocument(array).toJson().constData(), stdout);
    }
    for (const SearchHit& hit : hits) {
        if (line.json)
            break;
        const QString speaker =
            hit.speaker.isEmpty() ? QString() : onOneLine(hit.speaker) + QStringLiteral(": ");
        std::printf("%s %s %s%s\n", qPrintable(onOneLine(QFileInfo(hit.recordingPath).fileName())),
                    qPrintable(utteranceTime(hit.time)), qPrintable(speaker),
                    qPrintable(onOneLine(hit.context)));
    }
    return hits.isEmpty() ? failed : succeeded;
}

int CommandRunner::listLibrary(const CommandLine& line) {
    const auto library = libraryFor(line);
    const QList<StoredTranscript> transcripts = library->transcripts();
    if (transcripts.isEmpty() && !library->lastError().isEmpty()) {
        printError(library->lastError());
        return failed;
    }
    QJsonArray array;
    for (const StoredTranscript& transcript : transcripts) {
        const QString created = transcript.createdAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        if (line.json) {
            array.append(
                QJsonObject{{QStringLiteral("id"), transcript.id},
                            {QStringLiteral("recording"), transcript.recordingPath},
                            {QStringLiteral("created"), transcript.createdAt.toString(Qt::ISODate)},
                            {QStringLiteral("duration"), transcript.duration},
                            {QStringLiteral("engine"), transcript.engine},
                            {QStringLiteral("model"), transcript.model},
                            {QStringLiteral("language"), transcript.language},
                            {QStringLiteral("edited"), transcript.editedAt.isValid()}});
            continue;
        }
        std::printf("%lld\t%s\t%s\t%s\t%s\t%s\n", transcript.id, qPrintable(created),
                    qPrintable(utteranceTime(transcript.duration).mid(1).chopped(1)),
                    qPrintable(onOneLine(transcript.engine)), qPrintable(transcript.language),
                    qPrintable(onOneLine(transcript.recordingPath)));
    }
    if (line.json)
        std::fputs(QJsonDocument(array).toJson().constData(), stdout);
    return succeeded;
}

int CommandRunner::exportTranscript(const CommandLine& line) {
    const auto library = libraryFor(line);
    const std::optional<StoredTranscript> transcript =
        library->transcript(line.files.constFirst().toLongLong());
    if (!transcript) {
        printError(library->lastError());
        return failed;
    }
    const int format = TranscriptFormats::indexOf(line.format);
    const QString content =
        TranscriptFormats::render(*transcript, format, line.broadcastLines, line.speakerNames);
    if (!line.output || line.output == QLatin1String("-")) {
        const QByteArray bytes = content.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return std::fflush(stdout) == 0 ? succeeded : failed;
    }
    // A folder takes it under the recording's name, as transcribe names its outputs.
    const QString target = namesFolder(*line.output)
                               ? QDir(*line.output)
                                     .filePath(TranscriptionViewModel::proposedFileName(
                                         transcript->recordingPath, format))
                               : *line.output;
    if (const std::optional<QString> problem = unwritable(target)) {
        printError(*problem);
        return usage;
    }
    if (const std::optional<QString> failure = TextFiles::save(target, content)) {
        printError(*failure);
        return failed;
    }
    return succeeded;
}

int CommandRunner::watch(const CommandLine& line) {
    const std::optional<QString> problem =
        line.output ? unwritable(*line.output + QLatin1Char('/')) : std::nullopt;
    if (problem) {
        printError(*problem);
        return usage;
    }
    ProviderStore store(m_keys);
    const auto choice = engineAndLanguage(line, store);
    if (!choice)
        return usage;
    TranscriptionQueue queue({std::make_unique<TranscriptionService>(),
                              [] { return std::make_unique<ExternalTranscriptionService>(); },
                              &m_keys, libraryFor(line)});
    FolderWatcher watcher;
    int status = succeeded;
    QEventLoop loop;
    connect(&queue, &TranscriptionQueue::libraryFailed, this, &printError);
    connect(&watcher, &FolderWatcher::fileReady, this, [&](const QString& path) {
        queue.add({path});
        queue.start(choice->first, choice->second);
    });
    connect(&watcher, &FolderWatcher::stopped, &loop, [&](const QString& message) {
        printError(message);
        status = failed;
        loop.quit();
    });
    const int format = TranscriptFormats::indexOf(line.format);
    QSet<quint64> reported; // a duration read late changes a finished file once more
    connect(&queue, &TranscriptionQueue::itemChanged, this, [&](int index) {
        const QueueItem item = queue.items().value(index);
        if (!item.isFinished() || reported.contains(item.id))
            return;
        reported.insert(item.id);
        if (item.state == QueueItem::State::failed) {
            reportFailure(item.path, item.error);
        } else if (item.state == QueueItem::State::done) {
            const QString target =
                QDir(line.output.value_or(QFileInfo(item.path).absolutePath()))
                    .filePath(TranscriptionViewModel::proposedFileName(item.path, format));
            const StoredTranscript transcript{.recordingPath = item.path,
                                              .language = QLocale().name(),
                                              .duration = item.duration,
                                              .segments = item.segments};
            if (const std::optional<QString> failure = TextFiles::save(
                    target, TranscriptFormats::render(transcript, format, line.broadcastLines)))
                reportFailure(item.path, *failure);
            else
                std::printf("%s\t%s\n", qPrintable(printableText(item.path)),
                            qPrintable(printableText(target)));
            std::fflush(stdout);
        }
        // Done with: a folder watched for weeks must not hold every file in memory.
        QMetaObject::invokeMethod(
            this,
            [&queue, &reported, id = item.id] {
                queue.remove(id);
                reported.remove(id);
            },
            Qt::QueuedConnection);
    });
    if (!watcher.watch(line.files.constFirst(), line.existing))
        return failed;
    if (!m_quiet)
        std::fprintf(stderr, "Watching %s; Ctrl+C ends.\n", qPrintable(watcher.folder()));
    connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, &QEventLoop::quit);
    if (!m_interrupted)
        loop.exec();
    // Ctrl+C is how watching ends: no deadline turns a slow shutdown into a failure, and
    // a second one still ends at once.
    m_interrupts.liftDeadline();
    queue.cancelAll();
    // Ctrl+C is how watching is meant to end.
    return status;
}

} // namespace vocalith
