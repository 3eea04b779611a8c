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
const QString kRun = QStringLiteral("run");
const QString kHost = QStringLiteral("host");
const QString kHosts = QStringLiteral("hosts");
const QString kVars = QStringLiteral("vars");
const QString kParallel = QStringLiteral("parallel");
const QString kLogDir = QStringLiteral("log-dir");
const QString kReport = QStringLiteral("report");

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

// The options that belong to --run alone.
const std::array<const QString*, 6> kRunOnly = {&kHost,     &kHosts,  &kVars,
                                                &kParallel, &kLogDir, &kReport};

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
        {kTimeout,
         QStringLiteral("With --scan: how long to wait for replies (default 2). With --run: the "
                        "limit of one device's whole session, from the connect to the script's "
                        "end (default 300); the discovery wait of --run --scan stays at 2."),
         QStringLiteral("seconds")},
        {kFormat, QStringLiteral("With --scan: table (default), csv or json."),
         QStringLiteral("format")},
        {kRun,
         QStringLiteral("Runs the session script on every device that --host, --hosts or --scan "
                        "names, without the window and without a display."),
         QStringLiteral("script")},
        {kHost,
         QStringLiteral("With --run: a device, as an IPv4 address or a host name, with :PORT "
                        "when its telnet port is not 23; may be given more than once."),
         QStringLiteral("address")},
        {kHosts,
         QStringLiteral("With --run: a file of devices, one address a line as for --host; "
                        "blank lines and text after # are ignored."),
         QStringLiteral("file")},
        {kVars,
         QStringLiteral("With --run: a CSV table of variables; each device takes the row whose "
                        "S/N, Mac or IP column (the first the table has) matches it."),
         QStringLiteral("file")},
        {kParallel,
         QStringLiteral("With --run: how many devices run at the same time, 1 to 256 "
                        "(default 8)."),
         QStringLiteral("n")},
        {kLogDir,
         QStringLiteral("With --run: writes each device's session log into this folder "
                        "(created when missing), logging from the session's start; without it "
                        "no logs are written."),
         QStringLiteral("dir")},
        {kReport,
         QStringLiteral("With --run: writes the outcome of every device into this file, as CSV "
                        "when its name ends in .csv, else as JSON."),
         QStringLiteral("file")},
    });
}

// The options of --run, once the line parsed; an empty text when they are usable.
std::string ReadRunOptions(const QCommandLineParser& parser, RunOptions& run) {
    const int sources = (parser.isSet(kHost) ? 1 : 0) + (parser.isSet(kHosts) ? 1 : 0) +
                        (parser.isSet(kScan) ? 1 : 0);
    if (sources != 1) {
        return sources == 0 ? "--run needs the devices: --host, --hosts or --scan"
                            : "--host, --hosts and --scan cannot be combined";
    }
    if (parser.isSet(kFormat)) {
        return "--format belongs to --scan alone";
    }
    run.Script = parser.value(kRun).toStdString();
    for (const QString& host : parser.values(kHost)) {
        run.Hosts.push_back(host.toStdString());
    }
    run.HostsFile = parser.value(kHosts).toStdString();
    run.Scan = parser.isSet(kScan);
    run.VariablesFile = parser.value(kVars).toStdString();
    run.LogDir = parser.value(kLogDir).toStdString();
    run.Report = parser.value(kReport).toStdString();
    for (const QString& name : {kRun, kHosts, kVars, kLogDir, kReport}) {
        if (parser.isSet(name) && parser.value(name).isEmpty()) {
            return "--" + name.toStdString() + " needs a value";
        }
    }
    if (const QString value = parser.value(kParallel);
        parser.isSet(kParallel) && !ParseParallel(value.toStdString(), run.Parallel)) {
        return "bad value '" + value.toStdString() + "' for --parallel";
    }
    if (const QString value = parser.value(kTimeout);
        parser.isSet(kTimeout) && !ParseScanTimeout(value.toStdString(), run.SessionTimeout)) {
        return "bad value '" + value.toStdString() + "' for --timeout";
    }
    return {};
}

bool AnyRunOption(const QCommandLineParser& parser) {
    return std::any_of(kRunOnly.begin(), kRunOnly.end(),
                       [&](const QString* name) { return parser.isSet(*name); });
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
    line.Run = parser.isSet(kRun);
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
    } else if (line.Run) {
        line.Error = ReadRunOptions(parser, line.RunSettings);
    } else if (AnyRunOption(parser)) {
        line.Error = "--host, --hosts, --vars, --parallel, --log-dir and --report belong to --run";
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
           "goes to standard error.\n"
           "\n"
           "--run connects to N devices at a time (a scan takes those whose Status allows\n"
           "Connect), runs the script in each session, prints one line per device as it\n"
           "finishes and a summary. Exit status of --run: 0 when every device passed, 1 when\n"
           "any failed (or Ctrl+C stopped the run: the sessions are closed, devices not\n"
           "started are reported as not run), 2 on an error before any device ran (a script\n"
           "with a syntax error, a variable nothing gives, an unreadable file, a log folder\n"
           "that cannot be written, no devices).\n";
}

}  // namespace vandrel::app
