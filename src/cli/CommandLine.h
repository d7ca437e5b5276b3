#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace vocalith {

// What the command line asks for, read from the arguments alone.
struct CommandLine {
    enum class Command {
        help,
        version,
        providers,
        transcribe,
        translate,
        check,
        listen,
        devices,
        search,
        library,
        exportTranscript,
        watch
    };

    Command command = Command::help;
    QStringList files;
    QString engine = QStringLiteral("on-device"); // or a provider's name
    QString language = QStringLiteral("auto");
    QString format = QStringLiteral("txt");
    bool broadcastLines = false;     // --lines broadcast
    bool speakers = false;           // transcribe: ask the provider who spoke (--speakers)
    bool speakerNames = false;       // SRT cues begin with "Name: " (--speaker-names)
    double maxCharsPerSecond = 17.0; // check
    int maxChars = 42;
    std::optional<QString> output; // a file, a directory, or "-" for standard output
    QString provider;
    QString targetLanguage;
    QString context;                    // instructions for the translation model
    std::optional<QString> contextFile; // or a file that holds them
    bool quiet = false;
    QString device;                   // listen: a microphone's name, the default when empty
    std::optional<QString> keepAudio; // listen: where to copy the recording
    std::optional<double> duration;   // listen: seconds to record
    bool keepInLibrary = true;        // transcribe, listen: unless --no-library
    int limit = 20;                   // search: most hits printed
    bool json = false;                // search, library: JSON instead of lines
    bool existing = false;            // watch: also the files there already

    struct UsageError {
        QString message;
    };

    // True when the arguments name a command rather than files for the window.
    static bool isCommand(const QStringList& arguments);
    // arguments[0] is the program.
    static std::variant<CommandLine, UsageError> parse(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
};

} // namespace vocalith
