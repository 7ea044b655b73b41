// larksim: the command line over a winsim machine.
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>

#include "larksim.h"

namespace {

struct Command {
    int (*run)(const larksim::Args&);
    const char* usage;
    bool needsMachine;
};

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"init",
         {larksim::Init, "init                      create the machine at WINSIM_ROOT", false}},
        {"install-driver",
         {larksim::InstallDriver, "install-driver <folder>   install a driver package", true}},
        {"add-printer",
         {larksim::AddPrinter,
          "add-printer <name> --port <port> [--driver <driver>]   add a printer", true}},
        {"set",
         {larksim::Set,
          "set [<setting> [<value>]]  machine settings (no setting: all of them, with their"
          " meaning; an empty value unsets)",
          true}},
        {"show",
         {larksim::Show, "show <printer>            printer data and default devmode", true}},
        {"usb",
         {larksim::Usb,
          "usb add <base> <number> [--path P] | script <port> <id>... [--fail-from N]"
          " [--jobs J,...] | unplug <port> | plug <port> | list",
          true}},
        {"monitor",
         {larksim::Monitor,
          "monitor <printer> [--wait <s> | --detach] [--log]   run the status monitor, show its"
          " polls as they come (--log: the raw debug log)",
          true}},
        {"box", {larksim::Box, "box [list] | box close <id|all>   message boxes", true}},
        {"caps", {larksim::Caps, "caps <printer> [DC_name|index]   device capabilities", true}},
        {"print",
         {larksim::Print,
          "print <printer> [--landscape] [--paper <id>] [--job-ms <ms>] [--wait <s> | --detach]"
          " [--log] [--service]   print one document (--service: as a service, whose monitor"
          " shows no box)",
          true}},
        {"jobs", {larksim::Jobs, "jobs [<printer>] [--hex]  raw jobs the spooler received", true}},
        {"properties",
         {larksim::Properties,
          "properties <printer> [--device | --direct | --printers-folder] [--refuse-page]"
          " [--answer <text> | --sample | --cancel]... [--browser | --show] [--user <action>]..."
          " [--landscape] [--paper <id>] [--in <file>] [--out <file>]   Printing Preferences",
          true}},
        {"dialog",
         {larksim::Dialog,
          "dialog answer <text> | sample | none | null | fail [hresult] | user <action> |"
          " list | clear   script the settings dialog",
          true}},
        {"report",
         {larksim::Report,
          "report [--out <file.html>]   everything the machine recorded, as one HTML file", true}},
    };
    return commands;
}

// What `help <command>` adds to the usage line: each option with its
// default, and an example to paste.
const char* Details(const std::string& command) {
    static const std::map<std::string, const char*> details = {
        {"init", "example: WINSIM_ROOT=/tmp/machine larksim init\n"},
        {"install-driver", "example: larksim install-driver build/debug/package\n"},
        {"add-printer",
         "  --port <port>      the printer's port, needed (USB001: the first USB interface)\n"
         "  --driver <name>    default \"Lark Photo Printer\"\n"
         "example: larksim add-printer \"Lark Photo\" --port USB001\n"},
        {"set",
         "  no setting: every setting with its value and meaning; an empty value unsets\n"
         "example: larksim set sleep_scale 0.01\n"},
        {"show", "example: larksim show \"Lark Photo\"\n"},
        {"usb",
         "  add <base|-> <number|-> [--path P] [--unplugged]   a USB printing interface (port\n"
         "                     <base><number> as %s%03d: USB 1 is USB001; - leaves it out)\n"
         "  script <port> <id>...   device IDs answered poll by poll, the last one repeating;\n"
         "                     each monitor run starts again at the first\n"
         "    --fail-from N    from poll N on the request fails, as from an unplugged printer\n"
         "                     (default 0: never)\n"
         "    --jobs J,...     the queue's job count as each poll is answered, the last one\n"
         "                     repeating (default: the queue as the road leaves it)\n"
         "  unplug <port>, plug <port>   the printer unplugged, plugged in again\n"
         "  list               the interfaces and their scripts\n"
         "the S field: its value after \";S:\" starts with the version (03); its digits 17-18\n"
         "(positions 19-20 counted from the ';') are the status byte in hex: 00 ready,\n"
         "04 printing, 08 front cover open, 09 out of paper, 0E paper jam; with version 03\n"
         "digit 19 is the count of supply records of 8 hex digits that follow (81020000:\n"
         "present, kind 1, level 2, which is low).\n"
         "ready device IDs:\n"
         "  ready      MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:0304000000000000000000;\n"
         "  jam        MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:03040000000000000E0000;\n"
         "  paper out  MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:0304000000000000090000;\n"
         "  door open  MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:0304000000000000080000;\n"
         "  low ink    MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:030400000000000000181020000;\n"
         "  garbage    MFG:Lark;S:zz;   (and a text without \";S:\": no port status is set)\n"
         "  unplugged  any ID with --fail-from 1, or usb unplug USB001 before the monitor starts\n"
         "example: larksim usb script USB001 \"MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;"
         "S:03040000000000000E0000;\" --fail-from 3\n"},
        {"monitor",
         "  --wait <s>         end the monitor after this long, and say so (default 60)\n"
         "  --detach           start it and leave it running\n"
         "  --log              the debug log's own lines too\n"
         "  polls: the device ID requests the monitor made, from the machine's records\n"
         "example: larksim monitor \"Lark Photo\" --wait 30\n"},
        {"box", "example: larksim box close all\n"},
        {"caps", "  no capability: every index\nexample: larksim caps \"Lark Photo\" DC_PAPERS\n"},
        {"print",
         "  --landscape        the application's devmode in landscape (default portrait)\n"
         "  --paper <id>       the application's dmPaperSize (default: the printer's)\n"
         "  --job-ms <ms>      how long the job stays in the queue (default 2000)\n"
         "  --wait <s>         end the monitor after this long, and say so (default 60)\n"
         "  --detach           leave the monitor running\n"
         "  --log              the monitor's debug log lines too\n"
         "example: larksim print \"Lark Photo\" --landscape --paper 257 --job-ms 100\n"},
        {"jobs",
         "  --hex              the bytes as hex\nexample: larksim jobs \"Lark Photo\" --hex\n"},
        {"properties",
         "  (no road option)   as an application: DocumentPropertiesW with DM_IN_PROMPT\n"
         "  --direct, --device, --printers-folder   the other roads\n"
         "  --answer <text>, --sample, --cancel   this command's scripted showings, in order\n"
         "                     (default: what `dialog` queued; with none the user cancels)\n"
         "  --browser, --show  the page itself in Chromium (default: dialog_mode, scripted)\n"
         "  --user <action>    this command's user actions in the browser, in order\n"
         "  --refuse-page      the sheet refuses the driver's page\n"
         "  --landscape, --paper <id>, --in <file>   the application's devmode\n"
         "  --out <file>       keep the devmode the application got\n"
         "  the settings string: key 1000 the paper code, key 9900 the paper size (dmPaperSize)\n"
         "example: larksim properties \"Lark Photo\" --sample --answer \"1000=1;9900=257;\"\n"},
        {"dialog",
         "  queues an outcome or user action for the next command that shows the dialog\n"
         "example: larksim dialog answer \"1000=1;9900=257;\"\n"},
        {"report",
         "  --out <file>       default: report.html in the machine root\n"
         "example: larksim report --out /tmp/report.html\n"},
    };
    auto it = details.find(command);
    return it != details.end() ? it->second : "";
}

void PrintCommandHelp(const std::string& name, const Command& command) {
    std::printf("usage: larksim %s\n%s", command.usage, Details(name));
}

// Help that was asked for goes to stdout; after a usage error, to stderr.
void PrintHelp(FILE* to) {
    std::fprintf(to, "usage: larksim [--root <folder>] <command> ...\ncommands:\n");
    for (const auto& [name, command] : Commands()) std::fprintf(to, "  %s\n", command.usage);
}

}  // namespace

int main(int argc, char** argv) {
    larksim::Args args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--root") return larksim::Usage("--root needs a folder");
    if (args.size() >= 2 && args[0] == "--root") {
        winsim::SetMachineRoot(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        PrintHelp(stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "help") {
        if (args.size() == 1) {
            PrintHelp(stdout);
            return 0;
        }
        auto asked = Commands().find(args[1]);
        if (asked == Commands().end() || args.size() > 2) {
            PrintHelp(stderr);
            return larksim::Usage("help takes one command name");
        }
        PrintCommandHelp(asked->first, asked->second);
        return 0;
    }
    auto it = Commands().find(args[0]);
    if (it == Commands().end()) {
        PrintHelp(stderr);
        return larksim::Usage("unknown command '" + args[0] + "'");
    }
    if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
        PrintCommandHelp(it->first, it->second);
        return 0;
    }
    std::string root = winsim::MachineRoot();
    if (root.empty()) return larksim::Usage("no machine root: set WINSIM_ROOT or pass --root");
    if (it->second.needsMachine && !winsim::MachineExists(root)) {
        return larksim::Fail("no machine at " + root + " (run 'larksim init' first)");
    }
    args.erase(args.begin());
    // Input larksim could not take (a file that does not read, a database
    // that does not answer) ends the command with why, never with a crash.
    try {
        return it->second.run(args);
    } catch (const std::exception& error) {
        return larksim::Fail(args.empty() ? std::string(error.what())
                                          : it->first + ": " + error.what());
    }
}
