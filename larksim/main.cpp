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
          " [--jobs J,...] | unplug <port> | list",
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
          " [--log]   print one document",
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
        std::printf("usage: larksim %s\n", asked->second.usage);
        return 0;
    }
    auto it = Commands().find(args[0]);
    if (it == Commands().end()) {
        PrintHelp(stderr);
        return larksim::Usage("unknown command '" + args[0] + "'");
    }
    if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::printf("usage: larksim %s\n", it->second.usage);
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
