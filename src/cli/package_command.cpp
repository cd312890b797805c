#include "cli/package_command.h"

#include <iomanip>
#include <ostream>

#include "cli/arguments.h"
#include "platform/posix/zip_resource_bundle.h"

namespace firmora::cli {
namespace {

constexpr const char* kUsage = "usage: firmora package [--list] [--file PRODUCT]\n";

}  // namespace

int RunPackage(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    std::filesystem::path file = platform::RunningProgramFile();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kExitOk;
        }
        if (arg == "--list") continue;  // the only thing the command does so far
        if (IsOption(arg, "--file") && TakeValue(args, i, "--file", value)) {
            file = value;
            continue;
        }
        err << "firmora package: " << (IsOption(arg, "--file") ? "option --file needs a file" : "unknown option: " + arg)
            << '\n'
            << kUsage;
        return kExitUsage;
    }

    std::string error;
    const std::unique_ptr<platform::ResourceBundle> bundle = platform::OpenZipBundle(file, error);
    if (bundle == nullptr) {
        err << "firmora package: " << error << '\n';
        return kExitFailure;
    }
    const std::vector<platform::BundleEntry> entries = bundle->Entries();
    uint64_t total = 0;
    for (const platform::BundleEntry& entry : entries) total += entry.size;
    out << "Package carried by " << file.string() << ": " << entries.size() << " entries, " << total << " bytes\n";
    for (const platform::BundleEntry& entry : entries) {
        out << "  " << std::left << std::setw(36) << (entry.type + "/" + entry.name) << ' ' << std::right
            << std::setw(12) << entry.size << '\n';
    }
    return kExitOk;
}

const Command kPackageCommand = {"package", "[--list] [--file PRODUCT]",
                                 "list the package a product executable carries (this program by default)",
                                 RunPackage};

}  // namespace firmora::cli
