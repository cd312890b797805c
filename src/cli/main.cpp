// The firmora command: a subcommand name followed by that command's arguments.

#include <array>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/config_check_command.h"
#include "cli/device_data_commands.h"
#include "cli/flash_plan_command.h"
#include "cli/package_command.h"
#include "cli/ports_command.h"
#include "cli/run_command.h"

namespace firmora::cli {
namespace {

const std::array<const Command*, 7> kCommands = {
    &kRunCommand,
    &kPortsCommand,
    &kConfigCheckCommand,
    &kFlashPlanCommand,
    &kBackupCommand,
    &kRestoreCommand,
    &kPackageCommand,
};

const Command* FindCommand(std::string_view name) {
    for (const Command* command : kCommands) {
        if (command->name == name) return command;
    }
    return nullptr;
}

void PrintUsage(std::ostream& out) {
    out << "usage: firmora <command> [arguments]\n\ncommands:\n";
    for (const Command* command : kCommands) {
        out << "  " << command->name << ' ' << command->arguments << "\n      "
            << command->summary << '\n';
    }
    out << "  help [command]\n      show this list, or how a command is called\n";
}

int Help(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintUsage(out);
        return kExitOk;
    }
    const Command* command = FindCommand(args.front());
    if (command == nullptr || args.size() > 1) {
        err << "firmora help: expected one command name, got: " << args.front()
            << (args.size() > 1 ? " ..." : "") << "\n\n";
        PrintUsage(err);
        return kExitUsage;
    }
    return command->run({"--help"}, out, err);
}

int Main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    const CommandArgs args(argv + 2, argv + argc);
    if (name == "help" || name == "--help" || name == "-h") return Help(args, std::cout, std::cerr);
    if (const Command* command = FindCommand(name)) return command->run(args, std::cout, std::cerr);
    std::cerr << "firmora: unknown command: " << name << "\n\n";
    PrintUsage(std::cerr);
    return kExitUsage;
}

}  // namespace
}  // namespace firmora::cli

int main(int argc, char** argv) {
    try {
        return firmora::cli::Main(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "firmora: " << e.what() << '\n';
        return firmora::cli::kExitFailure;
    }
}
