#include "CommandLine.h"

#include <QCommandLineParser>

namespace vocalith {

namespace {

const QStringList commands{QStringLiteral("transcribe"), QStringLiteral("translate"),
                           QStringLiteral("check"),      QStringLiteral("providers"),
                           QStringLiteral("listen"),     QStringLiteral("devices"),
                           QStringLiteral("search"),     QStringLiteral("library"),
                           QStringLiteral("export"),     QStringLiteral("watch")};
const QStringList formats{QStringLiteral("txt"), QStringLiteral("srt"), QStringLiteral("vtt"),
                          QStringLiteral("json")};

} // namespace

bool CommandLine::isCommand(const QStringList& arguments) {
    if (arguments.size() < 2)
        return false;
    // Files from the desktop never start with "--"; a mistyped option is a usage error,
    // not a file to open in the window.
    const QString& first = arguments[1];
    return commands.contains(first) || first.startsWith(QLatin1String("--")) ||
           first == QLatin1String("-h");
}

QString CommandLine::versionText() {
    return QStringLiteral("vocalith " VOCALITH_VERSION "\n");
}

QString CommandLine::helpText() {
    // Laid out for help2man, which makes the manual page from it.
    return QStringLiteral(
        "Usage: vocalith [FILE...]\n"
        "  or:  vocalith transcribe FILE... [--engine ENGINE] [--language CODE] [--format FORMAT] "
        "[--lines LAYOUT] [--speakers] [--speaker-names] [--output PATH]\n"
        "  or:  vocalith translate FILE... --provider NAME --to LANGUAGE [--context TEXT] "
        "[--lines LAYOUT] [--output PATH]\n"
        "  or:  vocalith check FILE... [--max-cps N] [--max-chars N]\n"
        "  or:  vocalith providers\n"
        "  or:  vocalith listen [--device NAME] [--engine ENGINE] [--language CODE] "
        "[--format FORMAT] "
        "[--output PATH] [--keep-audio PATH] [--duration SECONDS]\n"
        "  or:  vocalith devices\n"
        "  or:  vocalith search WORDS... [--limit N] [--json]\n"
        "  or:  vocalith library [--json]\n"
        "  or:  vocalith export ID [--format FORMAT] [--lines LAYOUT] [--output PATH]\n"
        "  or:  vocalith watch FOLDER [--engine ENGINE] [--language CODE] [--format FORMAT] "
        "[--output FOLDER] [--existing]\n"
        "Transcribe speech in audio and video files, and translate text and subtitles.\n"
        "\n"
        "Without a command, opens the window with the files loaded: media on the\n"
        "Transcribe tab, .txt and .srt files on the Translate tab.\n"
        "\n"
        "Commands:\n"
        "  transcribe     write a transcript of each file next to it, with the same name\n"
        "  translate      write each .txt or .srt file translated next to it, as\n"
        "                 NAME_translated.txt or NAME_translated.srt\n"
        "  check          check .srt and .vtt files against broadcast numbers: line length and\n"
        "                 count, duration, reading speed, gaps, overlaps, order, text, numbering\n"
        "  providers      list the providers: name, base URL and model (never keys)\n"
        "  listen         transcribe a microphone as it is spoken, on the device or by\n"
        "                 --engine's provider in parts cut at pauses: each finished\n"
        "                 utterance on standard output as \"[0:01:02] text\" (on standard\n"
        "                 error with --output -); Ctrl+C or --duration ends the recording,\n"
        "                 and what it holds is transcribed, however long that takes, and\n"
        "                 written in --format to --output, or to the current folder;\n"
        "                 a further Ctrl+C ends at once\n"
        "  devices        list the microphones: name and id, the default first\n"
        "  search         find words in every transcript kept in the library: one hit a\n"
        "                 line, \"NAME [0:12:03] words around the match\"; \"a phrase\" in\n"
        "                 quotes, a prefix with *; best matches first\n"
        "  library        list the transcripts kept in the library, newest first: id, date,\n"
        "                 duration, engine, language and recording\n"
        "  export         write a transcript of the library again, by its id, to --output\n"
        "                 or to standard output\n"
        "  watch          transcribe each audio or video file that appears in FOLDER once\n"
        "                 it has stopped growing, writing its transcript beside it (or in\n"
        "                 --output's folder), one line a file, until Ctrl+C\n"
        "\n"
        "Options:\n"
        "  --engine ENGINE      on-device (the default) or the name of a provider\n"
        "  --language CODE      recognition language, such as en-US, or auto (default)\n"
        "  --format FORMAT      transcript format: txt (default), srt, vtt or json\n"
        "  --lines LAYOUT       subtitle lines: as-recognised (default), or broadcast: at most\n"
        "                       2 lines of 42 characters, 0.833 to 7 s, 17 characters a second;\n"
        "                       a translated .srt keeps its cues, each broken into such lines\n"
        "  --speakers           transcribe: ask the provider who spoke, for this run, whatever\n"
        "                       its setting; each segment then names its speaker\n"
        "  --speaker-names      transcribe, export: SRT subtitles begin with the speaker's name\n"
        "  --provider NAME      the provider that translates\n"
        "  --to LANGUAGE        target language, such as French or \"Chinese (Simplified)\"\n"
        "  --context TEXT       instructions for the translation: names, terms, tone\n"
        "  --context-file FILE  the same instructions, read from a UTF-8 file\n"
        "  --max-cps N          check: most characters a second (default 17)\n"
        "  --max-chars N        check: most characters a line (default 42)\n"
        "  --device NAME        listen: the microphone, by name or id (default: the system's)\n"
        "  --keep-audio PATH    listen: also keep the recording, as FLAC: a file, or a\n"
        "                       directory to keep it in under its own name\n"
        "  --duration SECONDS   listen: stop after this long\n"
        "  --no-library         transcribe, listen: do not keep the transcript in the library\n"
        "  --limit N            search: print at most N hits (default 20)\n"
        "  --json               search, library: print JSON instead of lines\n"
        "  --existing           watch: also transcribe the files there already\n"
        "  -o, --output PATH    the file to write, a directory for every output, or - for\n"
        "                       standard output (one input only)\n"
        "  -q, --quiet          print nothing but errors\n"
        "  -h, --help           display this help and exit\n"
        "  --version            output version information and exit\n"
        "\n"
        "Progress goes to standard error. Ctrl+C or SIGTERM stops the running job and\n"
        "leaves no partial output; a second one, or a job still running 3 seconds\n"
        "later, ends the program at once, its work files removed.\n"
        "\n"
        "Exit status:\n"
        "  0  every job succeeded\n"
        "  1  a job failed or gave nothing to write; its message is on standard error,\n"
        "     and the other files are done; search found nothing\n"
        "  2  the command line was wrong, or the outputs cannot be written: a missing\n"
        "     folder, or two inputs whose outputs would be the same file\n"
        "  130, 143  stopped by Ctrl+C or SIGTERM\n"
        "\n"
        "Examples:\n"
        "  vocalith transcribe interview.mp3 --format srt\n"
        "  vocalith transcribe *.mp3 --engine Groq --language es-ES --output transcripts/\n"
        "  vocalith translate talk.srt --provider OpenAI --to German\n"
        "  vocalith listen --format srt --output lecture.srt --keep-audio lecture.flac\n"
        "  vocalith search '\"interest rates\"' infla*\n"
        "  vocalith export 12 --format json --output interview.json\n");
}

std::variant<CommandLine, CommandLine::UsageError>
CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption engine(QStringLiteral("engine"), {}, QStringLiteral("engine"));
    const QCommandLineOption language(QStringLiteral("language"), {}, QStringLiteral("code"));
    const QCommandLineOption format(QStringLiteral("format"), {}, QStringLiteral("format"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("path"));
    const QCommandLineOption provider(QStringLiteral("provider"), {}, QStringLiteral("name"));
    const QCommandLineOption to(QStringLiteral("to"), {}, QStringLiteral("language"));
    const QCommandLineOption lines(QStringLiteral("lines"), {}, QStringLiteral("layout"));
    const QCommandLineOption maxCps(QStringLiteral("max-cps"), {}, QStringLiteral("n"));
    const QCommandLineOption maxChars(QStringLiteral("max-chars"), {}, QStringLiteral("n"));
    const QCommandLineOption context(QStringLiteral("context"), {}, QStringLiteral("text"));
    const QCommandLineOption contextFile(QStringLiteral("context-file"), {},
                                         QStringLiteral("file"));
    const QCommandLineOption device(QStringLiteral("device"), {}, QStringLiteral("name"));
    const QCommandLineOption keepAudio(QStringLiteral("keep-audio"), {}, QStringLiteral("file"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("seconds"));
    const QCommandLineOption noLibrary(QStringLiteral("no-library"), {});
    const QCommandLineOption speakers(QStringLiteral("speakers"), {});
    const QCommandLineOption speakerNames(QStringLiteral("speaker-names"), {});
    const QCommandLineOption limit(QStringLiteral("limit"), {}, QStringLiteral("n"));
    const QCommandLineOption json(QStringLiteral("json"), {});
    const QCommandLineOption existing(QStringLiteral("existing"), {});
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, {});
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version(QStringLiteral("version"), {});
    parser.addOptions({engine,    language,    format, lines,    output, provider,  to,
                       context,   contextFile, maxCps, maxChars, device, keepAudio, duration,
                       noLibrary, limit,       json,   existing, quiet,  help,      version});
    parser.addOptions({speakers, speakerNames});
    if (!parser.parse(arguments))
        return UsageError{parser.errorText()};

    CommandLine line;
    if (parser.isSet(help))
        return line;
    if (parser.isSet(version)) {
        line.command = Command::version;
        return line;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError{QStringLiteral("No command given.")};
    const QString name = positional.takeFirst();
    line.files = positional;
    line.quiet = parser.isSet(quiet);
    if (parser.isSet(output))
        line.output = parser.value(output);

    // Options of one command given to another are mistakes, not to be ignored.
    const auto onlyFor = [&](const QStringList& allowed) -> std::optional<QString> {
        for (const QCommandLineOption& option :
             {engine, language, format, lines, provider, to, output, context, contextFile, maxCps,
              maxChars, device, keepAudio, duration, noLibrary, limit, json, existing}) {
            if (parser.isSet(option) && !allowed.contains(option.names().constLast()))
                return QStringLiteral("--") + option.names().constLast() +
                       QStringLiteral(" does not apply to ") + name + QLatin1Char('.');
        }
        return std::nullopt;
    };
    std::optional<QString> misplaced;
    // What transcribe and listen share.
    const auto readTranscriptOptions = [&] {
        line.engine = parser.isSet(engine) ? parser.value(engine) : line.engine;
        line.language = parser.isSet(language) ? parser.value(language) : line.language;
        line.format = parser.isSet(format) ? parser.value(format).toLower() : line.format;
        if (!misplaced && !formats.contains(line.format))
            misplaced = QStringLiteral("--format must be txt, srt, vtt or json.");
        line.keepInLibrary = !parser.isSet(noLibrary);
        line.speakerNames = parser.isSet(speakerNames);
    };
    if (name == QLatin1String("providers") || name == QLatin1String("devices")) {
        line.command = name == QLatin1String("devices") ? Command::devices : Command::providers;
        misplaced = onlyFor({});
        if (!misplaced && !line.files.isEmpty())
            misplaced = name + QStringLiteral(" takes no files.");
    } else if (name == QLatin1String("listen")) {
        line.command = Command::listen;
        misplaced =
            onlyFor({QStringLiteral("device"), QStringLiteral("engine"), QStringLiteral("language"),
                     QStringLiteral("format"), QStringLiteral("lines"), QStringLiteral("output"),
                     QStringLiteral("keep-audio"), QStringLiteral("duration"),
                     QStringLiteral("no-library")});
        line.device = parser.value(device);
        readTranscriptOptions();
        if (parser.isSet(keepAudio))
            line.keepAudio = parser.value(keepAudio);
        bool ok = true;
        if (parser.isSet(duration))
            line.duration = parser.value(duration).toDouble(&ok);
        if (!misplaced && (!ok || line.duration.value_or(1.0) <= 0.0))
            misplaced = QStringLiteral("--duration takes a positive number of seconds.");
        if (!misplaced && !line.files.isEmpty())
            misplaced = QStringLiteral("listen takes no files; it hears a microphone.");
    } else if (name == QLatin1String("transcribe")) {
        line.command = Command::transcribe;
        misplaced = onlyFor({QStringLiteral("engine"), QStringLiteral("language"),
                             QStringLiteral("format"), QStringLiteral("lines"),
                             QStringLiteral("output"), QStringLiteral("no-library"),
                             QStringLiteral("speakers"), QStringLiteral("speaker-names")});
        readTranscriptOptions();
        line.speakers = parser.isSet(speakers);
    } else if (name == QLatin1String("watch")) {
        line.command = Command::watch;
        misplaced =
            onlyFor({QStringLiteral("engine"), QStringLiteral("language"), QStringLiteral("format"),
                     QStringLiteral("lines"), QStringLiteral("output"),
                     QStringLiteral("no-library"), QStringLiteral("existing")});
        readTranscriptOptions();
        line.existing = parser.isSet(existing);
        if (!misplaced && line.files.size() != 1)
            misplaced = QStringLiteral("watch takes one folder.");
        if (!misplaced && line.output == QLatin1String("-"))
            misplaced = QStringLiteral("watch writes files: give --output a folder.");
    } else if (name == QLatin1String("search")) {
        line.command = Command::search;
        misplaced = onlyFor({QStringLiteral("limit"), QStringLiteral("json")});
        line.json = parser.isSet(json);
        bool ok = true;
        if (parser.isSet(limit))
            line.limit = parser.value(limit).toInt(&ok);
        if (!misplaced && (!ok || line.limit <= 0))
            misplaced = QStringLiteral("--limit takes a positive number.");
        if (!misplaced && line.files.isEmpty())
            misplaced = QStringLiteral("search needs the words to find.");
    } else if (name == QLatin1String("library")) {
        line.command = Command::library;
        misplaced = onlyFor({QStringLiteral("json")});
        line.json = parser.isSet(json);
        if (!misplaced && !line.files.isEmpty())
            misplaced = QStringLiteral("library takes no files.");
    } else if (name == QLatin1String("export")) {
        line.command = Command::exportTranscript;
        misplaced = onlyFor({QStringLiteral("format"), QStringLiteral("lines"),
                             QStringLiteral("output"), QStringLiteral("speaker-names")});
        readTranscriptOptions();
        bool ok = line.files.size() == 1;
        if (ok)
            line.files.constFirst().toLongLong(&ok);
        if (!misplaced && !ok)
            misplaced = QStringLiteral("export takes one transcript id; \"vocalith library\" "
                                       "lists them.");
    } else if (name == QLatin1String("translate")) {
        line.command = Command::translate;
        misplaced = onlyFor({QStringLiteral("provider"), QStringLiteral("to"),
                             QStringLiteral("output"), QStringLiteral("context"),
                             QStringLiteral("context-file"), QStringLiteral("lines")});
        line.provider = parser.value(provider);
        line.targetLanguage = parser.value(to);
        line.context = parser.value(context);
        if (parser.isSet(contextFile))
            line.contextFile = parser.value(contextFile);
        if (!misplaced && parser.isSet(context) && parser.isSet(contextFile))
            misplaced = QStringLiteral("Give --context or --context-file, not both.");
        if (!misplaced && (line.provider.isEmpty() || line.targetLanguage.isEmpty()))
            misplaced = QStringLiteral("translate needs --provider and --to.");
    } else if (name == QLatin1String("check")) {
        line.command = Command::check;
        misplaced = onlyFor({QStringLiteral("max-cps"), QStringLiteral("max-chars")});
        bool ok = true;
        if (parser.isSet(maxCps))
            line.maxCharsPerSecond = parser.value(maxCps).toDouble(&ok);
        if (ok && parser.isSet(maxChars))
            line.maxChars = parser.value(maxChars).toInt(&ok);
        if (!misplaced && (!ok || line.maxCharsPerSecond <= 0 || line.maxChars <= 0))
            misplaced = QStringLiteral("--max-cps and --max-chars take a positive number.");
    } else {
        return UsageError{QStringLiteral("Unknown command: ") + name};
    }
    const QString layout = parser.value(lines);
    if (!misplaced && parser.isSet(lines) && layout != QLatin1String("as-recognised") &&
        layout != QLatin1String("broadcast"))
        misplaced = QStringLiteral("--lines must be as-recognised or broadcast.");
    line.broadcastLines = layout == QLatin1String("broadcast");
    if (misplaced)
        return UsageError{*misplaced};
    const bool takesFiles = line.command == Command::transcribe ||
                            line.command == Command::translate || line.command == Command::check;
    if (takesFiles && line.files.isEmpty())
        return UsageError{QStringLiteral("No files given.")};
    if (line.output == QLatin1String("-") && line.files.size() > 1)
        return UsageError{QStringLiteral("--output - takes one input only.")};
    return line;
}

} // namespace vocalith
