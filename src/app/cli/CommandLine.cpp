#include "app/cli/CommandLine.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>

namespace vandrel::app {

namespace {

const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");
const QString kScan = QStringLiteral("scan");
const QString kTimeout = QStringLiteral("timeout");
const QString kFormat = QStringLiteral("format");

// Options QGuiApplication, QApplication and the X11 platform take from a command line.
constexpr std::array<const char*, 24> kToolkitOptions = {"platform",      "platformpluginpath",
                                                         "platformtheme", "plugin",
                                                         "qmljsdebugger", "qwindowgeometry",
                                                         "qwindowicon",   "qwindowtitle",
                                                         "reverse",       "session",
                                                         "display",       "name",
                                                         "title",         "geometry",
                                                         "visual",        "ncols",
                                                         "cmap",          "im",
                                                         "inputstyle",    "nograb",
                                                         "dograb",        "sync",
                                                         "style",         "stylesheet"};

bool IsToolkitOption(const QString& name) {
    return std::any_of(kToolkitOptions.begin(), kToolkitOptions.end(),
                       [&](const char* option) { return name == QLatin1String(option); });
}

// The one parser of every mode, so that --help lists everything the program takes.
void AddOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Finds the small networked devices on the computer's networks (UDP port 33300), lists\n"
        "them and opens telnet sessions to them. Without options it opens its window."));
    parser.addOptions({
        {{QStringLiteral("h"), kHelp}, QStringLiteral("Shows these options and exits.")},
        {{QStringLiteral("v"), kVersion}, QStringLiteral("Shows the program's version and exits.")},
        {kScan,
         QStringLiteral("Searches like the window's Search (every network interface), without "
                        "the window and without a display, and prints the devices that answered, "
                        "in the order they answered.")},
        {kTimeout, QStringLiteral("With --scan: how long to wait for replies (default 2)."),
         QStringLiteral("seconds")},
        {kFormat, QStringLiteral("With --scan: table (default), csv or json."),
         QStringLiteral("format")},
    });
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    AddOptions(parser);
    const bool parsed = parser.parse(arguments);
    CommandLine line;
    line.Help = parser.isSet(kHelp);
    line.Version = parser.isSet(kVersion);
    line.Scan = parser.isSet(kScan);
    QStringList unknown = parser.unknownOptionNames();
    unknown.removeIf(IsToolkitOption);
    if (!parsed && !unknown.isEmpty()) {
        line.Error = "unknown option '" + unknown.first().toStdString() + "'";
    } else if (!parsed) {
        line.Error = parser.errorText().toStdString();
        line.ToolkitOptions = !parser.unknownOptionNames().isEmpty();
    } else if (!parser.positionalArguments().isEmpty()) {
        line.Error =
            "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'";
    } else if (!line.Scan && (parser.isSet(kTimeout) || parser.isSet(kFormat))) {
        line.Error = "--timeout and --format belong to --scan";
    } else if (const QString value = parser.value(kTimeout);
               parser.isSet(kTimeout) &&
               !ParseScanTimeout(value.toStdString(), line.Options.Timeout)) {
        line.Error = "bad value '" + value.toStdString() + "' for --timeout";
    } else if (const QString format = parser.value(kFormat);
               parser.isSet(kFormat) &&
               !ParseScanFormat(format.toStdString(), line.Options.Format)) {
        line.Error = "bad value '" + format.toStdString() + "' for --format";
    }
    return line;
}

std::string CommandLineHelp() {
    QCommandLineParser parser;
    AddOptions(parser);
    // Without an application object the parser does not know the program's name.
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("vandrel"));
    return text.toStdString() +
           "\n"
           "Formats of --scan:\n"
           "  table  aligned columns for a terminal; control characters and the backslash\n"
           "         are shown as \\xNN\n"
           "  csv    the table as CSV with a header row, as File > Export Table: a cell\n"
           "         starting with =, +, -, @, TAB or CR gets a leading apostrophe, control\n"
           "         characters but TAB and LF and the backslash are shown as \\xNN\n"
           "  json   {\"devices\": [{\"Device\": ..., \"S/N\": ..., \"IP\": ..., \"Mac\": ...,\n"
           "         \"Status\": ...}, ...]}, control characters as \\u00NN\n"
           "Exit status of --scan: 0 when at least one device answered, 1 when none did, 2 on\n"
           "an error (for example port 33300 in use, or no network to search); the error text\n"
           "goes to standard error.\n";
}

}  // namespace vandrel::app
