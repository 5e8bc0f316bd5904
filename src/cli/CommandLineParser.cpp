// The command line's words: subcommands, options, help and validation, all from
// CLI11, so the options behave as in other tools (-h, -V, --, --opt=value,
// short options) and the help cannot drift from what is parsed.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include <CLI.hpp>

#include "CommandLine.h"

namespace updatetool::cli {

namespace {

constexpr const char* kProgram = "updatetool-cli";

#ifdef _WIN32
constexpr const char* kPortHelp = "COM port (default COM1); repeat it for several";
constexpr const char* kPortFooter = R"--(PORT is the port as Windows names it: COM3, COM12, \\.\NAME (see
`updatetool-cli ports`). A pattern such as COM* names every COM port present.
usb:VID:PID[:SERIAL] names the USB serial adapter with that vendor and
product id (hexadecimal, as `ports` shows them) and, when given, serial number.
Environment: UPDATETOOL_COM1..UPDATETOOL_COM4 send one of the first four ports
elsewhere (for example UPDATETOOL_COM1=COM12).)--";
constexpr const char* kPathExample = "C:\\images\\app.img";
#else
constexpr const char* kPortHelp = "Serial port (default COM1); repeat it for several";
constexpr const char* kPortFooter = R"--(PORT is COM1..COM4 (default COM1) or a device path containing '/', such as
/dev/ttyUSB0 or /dev/serial/by-id/usb-...; a quoted glob ('/dev/ttyUSB*')
names every device it matches. usb:VID:PID[:SERIAL] names the USB serial
adapter with that vendor and product id (hexadecimal, as `updatetool-cli
ports` shows them) and, when given, serial number.
Environment: UPDATETOOL_COM1..UPDATETOOL_COM4 name the device behind each
COM port (for example UPDATETOOL_COM1=/dev/ttyUSB0); unset, COM1..COM4 are
/dev/ttyS0..3.)--";
constexpr const char* kPathExample = "images/app.img";
#endif

// The transfer commands' footer: what is alike on every system, with the
// platform's own words (port names, signals, a reason) between.
constexpr const char* kSeveralPorts = R"--(
Several ports (--port more than once, or a pattern that matches several): the
job runs on every port at once, each with its own line, and ends with a table
of port, result, bytes and seconds on standard output; the exit status is 0
only when every port succeeded, else the highest of them. receive writes one
file per port, the port's name before OUTPUT's extension (received.img ->
)--";
constexpr const char* kTraceWords = R"--(--trace FILE writes every byte on the line to FILE with its direction and a
millisecond time stamp, one line per XMODEM packet (block, length, check,
answer), what a USB adapter granted when asked for low latency, and why a port
or file could not be used; with several ports one file per port, named as
receive names OUTPUT.
)--";
constexpr const char* kSilentBoxWords = R"--(When a box has not answered the call for 10 s, two lines say what the line
showed (nothing at all, bytes that are no prompt, or a prompt and then silence)
and what to check; the call goes on until the box answers, or until
--give-up-after SECONDS have passed since the job started: then the job ends
with status 3.
)--";

#ifdef _WIN32
constexpr const char* kOutputNaming = R"--(received-COM3.img). No output may be another output or the image: such a
command line is refused (status 64) before any file is written.
)--";
constexpr const char* kCancelWords = R"--(Progress goes to standard error: a live line on a console, cut to its width,
otherwise one line per phase. Ctrl-C, Ctrl-Break and closing the console window
cancel the job, every job with several ports (a box in the middle of a transfer
is sent CAN CAN, an unfinished OUTPUT is removed), and then end the program as
Ctrl-C ends it, so a batch file sees it. A second one ends the program at once.
)--";
constexpr const char* kReasonExample = R"--(A file or port that cannot be used is named with the system's reason before
the result line: "updatetool-cli: COM3: Access is denied (is another program
using the port?)".
)--";
#else
constexpr const char* kOutputNaming = R"--(received-ttyUSB0.img; a by-id name gives its last part); ports whose names end
alike are numbered (-usb-box-1, -usb-box-2). No output may be another output
or the image: such a command line is refused (status 64) before any file is
written.
)--";
constexpr const char* kCancelWords = R"--(Progress goes to standard error: a live line on a terminal, cut to its width,
otherwise one line per phase. Ctrl-C, SIGTERM and SIGHUP cancel the job, every
job with several ports (a box in the middle of a transfer is sent CAN CAN, an
unfinished OUTPUT is removed), and then end the program by that signal, so the
shell reports 128+N (130 for Ctrl-C) and a loop of commands stops. On Windows
Ctrl-C, Ctrl-Break and closing the console window do the same and the program
ends as Ctrl-C ends it. A second one ends the program at once.
)--";
constexpr const char* kReasonExample = R"--(A file or port that cannot be used is named with the system's reason before
the result line: "updatetool-cli: /dev/ttyUSB0: Permission denied (is your user
in the dialout group?)".
)--";
#endif

// Alike on every system, after the platform's words above.
constexpr const char* kTransferExitStatus = R"--(
Exit status of the transfer commands:
  0  success (receive: every announced byte arrived)
  1  cancelled (a shell sees 128+N instead: the program ends by the signal)
  2  image file I/O error (an OUTPUT that could not be made or written; the
     box is told "Abort")
  3  serial port I/O error (no such port, no permission, port busy, line
     lost, or no answer within --give-up-after)
  4  file is invalid ("Could not open file." for an IMAGE that cannot be
     opened, a bad application header, "Selected wrong Image type." when the
     magic is none of the three)
  5  receive ended short: the box announced more than arrived (OUTPUT is left
     as it was)
  6  file transfer fail (the box refused the update or cancelled it)
  7  data update fail (the box did not report "Done")
 64  usage error)--";

constexpr const char* kChannelsFooter = R"--(
Saving first copies IMAGE as it was to IMAGE.bak (replacing an older one);
--no-backup leaves that out. When the copy fails nothing is written.
The exports write OUTPUT beside itself and put it in place only when it is
complete: one that fails (a full disk) leaves no partial file and says "Could
not write" with the reason. An OUTPUT that is IMAGE itself (or a link to it) is
refused before anything is written. resave and apply-order lock IMAGE while
they run; one that another program (the editor, another command) is editing is
left alone.
Exit status: 2 a file cannot be written or is being edited by another program;
4 IMAGE cannot be opened or is not a whole channel image (or, for REFERENCE,
neither a channel image nor a channel CSV file; a REFERENCE that cannot be
opened is 2); 64 usage error (an OUTPUT that is IMAGE).)--";

constexpr const char* kMainFooter = R"--(
Run `updatetool-cli COMMAND --help` for a command's options and exit statuses.
Exit status: 0 success, 64 usage error; other values as each command says.)--";

// A subcommand: a one-line description for the list of commands, and what
// its own help says below its options.
CLI::App* addCommand(CLI::App& parent, const char* name, const char* description, const std::string& details)
{
    CLI::App* command = parent.add_subcommand(name, description);
    command->footer(details);
    return command;
}

CLI::App* addCommand(CLI::App& parent, const char* name, const char* description, const std::string& details,
                     Invocation& invocation, Invocation::Command which)
{
    CLI::App* command = addCommand(parent, name, description, details);
    command->callback([&invocation, which] { invocation.command = which; });
    return command;
}

// The transfer commands' shared options.
void addTransferOptions(CLI::App& command, TransferOptions& options, double& giveUpSeconds)
{
    command.add_option("-p,--port", options.ports, kPortHelp)->type_name("PORT")->allow_extra_args(false);
    command.add_option("-t,--trace", options.tracePath, "Write every byte on the line to FILE")
        ->type_name("FILE");
    command
        .add_option("--give-up-after", giveUpSeconds, "Stop calling a silent box after SECONDS (exit 3)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, 604800.0).description(""));
    command.footer(command.get_footer() + "\n" + kPortFooter + kSeveralPorts + kOutputNaming + kTraceWords
                   + kCancelWords + kSilentBoxWords + kReasonExample + kTransferExitStatus);
}

void addChannelsCommands(CLI::App& app, Invocation& invocation, bool& noBackupGiven)
{
    CLI::App* channels = addCommand(app, "channels", "Work on channel image files (no box needed)",
                                    kChannelsFooter);
    channels->require_subcommand(1);
    ChannelsOptions& options = invocation.channels;
    auto sub = [&](const char* name, const char* description, const char* details,
                   const char* firstOperand = "IMAGE") {
        CLI::App* command = addCommand(*channels, name, description, std::string(details) + kChannelsFooter);
        command->callback([&invocation, name] {
            invocation.command = Invocation::Command::Channels;
            invocation.channels.subcommand = name;
        });
        command->add_option(firstOperand, options.image, "The channel image file")->required();
        return command;
    };
    auto noBackup = [&](CLI::App* command) {
        command->add_flag("--no-backup", noBackupGiven, "Do not keep IMAGE as it was in IMAGE.bak");
    };

    sub("info", "Count satellites, transponders, channels, favourites",
        "Prints the counts: satellites (with names), transponders, stream records, TV\n"
        "and radio channels, favourites.\n");

    sub("export-text", "Write the text listing to OUTPUT", "Writes the text listing to OUTPUT as given.\n")
        ->add_option("OUTPUT", options.output, "The listing file")
        ->required();

    sub("export-csv", "Write the TV and radio lists to OUTPUT as CSV",
        "Writes the TV and radio lists to OUTPUT as CSV (RFC 4180, UTF-8, a header\n"
        "row: list, number, name, satellite, frequency, polarity, symbol rate, video\n"
        "PID, audio PID, PCR PID, Ch. ID, scrambled, locked, favourites).\n")
        ->add_option("OUTPUT", options.output, "The CSV file")
        ->required();

    CLI::App* order = sub("apply-order", "Reorder the lists to follow another image or CSV",
                          "Reorders IMAGE's TV and radio lists to follow REFERENCE (another channel\n"
                          "image, or a CSV file written by export-csv): channels match by name and Ch.\n"
                          "ID, else by name; unmatched ones keep their order after the matched. Saves\n"
                          "IMAGE and prints matched, unmatched and ignored counts per list.\n");
    noBackup(order);
    order->add_option("REFERENCE", options.reference, "The image or CSV file whose order to follow")->required();

    CLI::App* resave = sub("resave", "Save IMAGE back with its check words recomputed",
                           "Loads IMAGE and saves it back with its check words recomputed; nothing is\n"
                           "edited. The file is replaced only once the new content is complete.\n");
    noBackup(resave);

    CLI::App* import = sub("import-transponders", "Add a satellite's transponders from a scan table",
                           "Adds the transponders of FILE (a dvbv5 scan file such as\n"
                           "/usr/share/dvb/dvb-s/Hotbird-13.0E, or a satellites.xml) to satellite N (its\n"
                           "number in channels info) or NAME, as the transponder dialog's New would, and\n"
                           "saves IMAGE. POSITION picks a satellites.xml <sat> (tenths of a degree, west\n"
                           "negative: --sat 130, --sat=-300); without it the only one, else the one at\n"
                           "the position the satellite's name ends in (\"13.0E\"). Frequencies round to\n"
                           "MHz and symbol rates to kbaud. Skipped: circular polarisation, DVB-S2 (unless\n"
                           "--include-dvbs2), out of range, already there; entries past a full satellite\n"
                           "(128) or table (3072) are left out. Prints the counts. Exit 4 when FILE is\n"
                           "neither format or is malformed (with the line); IMAGE is then left\n"
                           "unchanged.\n");
    noBackup(import);
    import->add_option("--satellite", options.satellite, "The satellite: its number or its name")
        ->type_name("N|NAME")
        ->required();
    import->add_option("FILE", options.tableFile, "The dvbv5 scan file or satellites.xml")->required();
    import->add_option("--sat", options.position, "The satellites.xml <sat> at this position")
        ->type_name("POSITION")
        ->check(CLI::Range(-1800, 1800).description(""));
    import->add_flag("--include-dvbs2", options.includeDvbs2, "Take DVB-S2 entries as well");

    CLI::App* exportTable = sub("export-transponders", "Write transponders as a scan table",
                                "Writes one satellite's (or every satellite's) transponders for other\n"
                                "receivers and dvbv5-scan: kHz, symbols per second, DVB-S, FEC auto. The\n"
                                "format defaults to satellites-xml when OUTPUT ends in .xml, else dvbv5.\n");
    exportTable->add_option("OUTPUT", options.output, "The table file to write")->required();
    exportTable->add_option("--satellite", options.satellite, "Only this satellite: its number or its name")
        ->type_name("N|NAME");
    exportTable->add_option("--format", options.format, "dvbv5 or satellites-xml")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"dvbv5", "satellites-xml"}).description(""));

    sub("diff", "List what changed from image A to image B",
        "Lists what changed from image A to image B: satellites renamed, transponders\n"
        "removed, added and changed, channels removed, added, renamed, re-tuned, moved\n"
        "(only the fewest moves that explain the new order) and with other flags\n"
        "(scrambled, locked, favourites). Exit 0 when equal, 1 when they differ, 2 on\n"
        "any trouble (a usage error included), as diff.\n",
        "A")
        ->add_option("B", options.second, "The image to compare with")
        ->required();
}

// The first word that stands where a command (or a channels subcommand) belongs
// and is none, or "".
std::string unknownCommand(CLI::App& app, const std::vector<std::string>& args)
{
    CLI::App* level = &app;
    for (const std::string& word : args) {
        if (word.starts_with("-"))
            return {};
        if (level->get_subcommands({}).empty())
            return {};
        try {
            level = level->get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {
            return word;
        }
    }
    return {};
}

std::string usageLine()
{
    return std::string("Usage: ") + kProgram +
           " [-h] [-V] COMMAND [OPTIONS] ...\n"
           "Commands: send, receive, erase, ports, channels, samples.\n"
           "Try '" + kProgram + " --help' for more.\n";
}

} // namespace

int usageError(const std::string& command, const std::string& why)
{
    std::fprintf(stderr, "%s %s: %s (try %s --help)\n", kProgram, command.c_str(), why.c_str(), kProgram);
    return kExitUsage;
}

Invocation parseCommandLine(const std::vector<std::string>& args)
{
    Invocation invocation;
    if (args.empty()) {
        // A bare name is a question, not a request for several pages of help.
        invocation.err = usageLine();
        invocation.exitStatus = kExitUsage;
        return invocation;
    }

    CLI::App app("Program Update Tool on the command line: updates a satellite set-top box over a\n"
                 "serial line and edits channel image files.",
                 kProgram);
    app.set_version_flag("-V,--version", std::string(kProgram) + " " + UPDATETOOL_VERSION);
    app.require_subcommand(1);
    app.footer(kMainFooter);
    app.get_formatter()->column_width(30);

    TransferOptions& transfer = invocation.transfer;
    double giveUpSeconds = 0;

    CLI::App* send =
        addCommand(app, "send", "Send an image to the box",
                   "Sends an application (\"VORN\"), channel (\"QVCH\") or boot (\"QVBT\") image; the\n"
                   "file's magic decides its type. Reset the box when asked. The box is told to\n"
                   "restart afterwards unless --no-restart is given.\n",
                   invocation, Invocation::Command::Send);
    bool noRestart = false;
    send->add_flag("--no-restart", noRestart, "Do not tell the box to restart afterwards");
    addTransferOptions(*send, transfer, giveUpSeconds);
    send->add_option("IMAGE", transfer.file, std::string("The image file, such as ") + kPathExample)->required();

    CLI::App* receive =
        addCommand(app, "receive", "Take the data the box uploads into OUTPUT",
                   "Plays the box's monitor and takes the data the box uploads; OUTPUT gets the\n"
                   "16-byte company signature followed by the announced bytes. The data goes to\n"
                   "a temporary file beside OUTPUT, which replaces OUTPUT only once every\n"
                   "announced byte is on the disk: a failed, short or cancelled receive leaves\n"
                   "an existing OUTPUT as it was and no partial file. Packets the box sends past\n"
                   "the size it announced are dropped, and the result line and the trace say\n"
                   "how many bytes that was.\n",
                   invocation, Invocation::Command::Receive);
    addTransferOptions(*receive, transfer, giveUpSeconds);
    receive->add_option("OUTPUT", transfer.file, "The file to write")->required();

    CLI::App* erase = addCommand(app, "erase", "Erase the box's application area",
                                 "Erases the box's application area.\n", invocation, Invocation::Command::Erase);
    addTransferOptions(*erase, transfer, giveUpSeconds);

    addCommand(app, "ports", "List the serial ports present",
               "Lists every serial port present, one a line: the device, then where the\n"
               "system knows them the USB ids as --port usb:VID:PID[:SERIAL] takes them, the\n"
               "product in quotes, the driver and the /dev/serial/by-id name. On Windows the\n"
               "COM ports with their friendly names.\n",
               invocation, Invocation::Command::Ports);

    bool noBackup = false;
    addChannelsCommands(app, invocation, noBackup);

    CLI::App* samples =
        addCommand(app, "samples", "Write the sample images into DIR",
                   "Writes the sample images (app.img, channels.img, channels-full.img,\n"
                   "channels-received.img, boot.img) into DIR. A file of one of those names\n"
                   "already in DIR is never replaced unless --force is given: the command names\n"
                   "it, writes nothing and exits 2.\n",
                   invocation, Invocation::Command::Samples);
    samples->add_flag("--force", invocation.samples.replace, "Replace sample files already in DIR");
    samples->add_option("DIR", invocation.samples.folder, "The folder to write into")->required();

    // "help" and "help COMMAND" are the older spellings of --help.
    if (args.front() == "help") {
        std::vector<std::string> asOption(args.begin() + 1, args.end());
        asOption.push_back("--help");
        return parseCommandLine(asOption);
    }
    // CLI11 would only say that a command is missing.
    if (const std::string unknown = unknownCommand(app, args); !unknown.empty()) {
        invocation.err = std::string(kProgram) + ": unknown command '" + unknown + "' (try " + kProgram + " --help)\n";
        invocation.exitStatus = kExitUsage;
        return invocation;
    }
    // CLI11 takes the words last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        invocation.out = app.help();
        invocation.exitStatus = 0;
        return invocation;
    } catch (const CLI::CallForAllHelp&) {
        invocation.out = app.help("", CLI::AppFormatMode::All);
        invocation.exitStatus = 0;
        return invocation;
    } catch (const CLI::CallForVersion& version) {
        invocation.out = std::string(version.what()) + "\n";
        invocation.exitStatus = 0;
        return invocation;
    } catch (const CLI::ParseError& error) {
        invocation.err = std::string(kProgram) + ": " + error.what() + " (try " + kProgram + " --help)\n";
        // diff says 2 for any trouble, as diff(1) does.
        const CLI::App* diff = app.get_subcommand("channels")->get_subcommand("diff");
        invocation.exitStatus = diff->count() > 0 ? 2 : kExitUsage;
        return invocation;
    }
    transfer.giveUpAfterMs = static_cast<std::uint32_t>(std::lround(giveUpSeconds * 1000.0));
    transfer.autoRestart = !noRestart;
    invocation.channels.backup = !noBackup;
    return invocation;
}

} // namespace updatetool::cli
