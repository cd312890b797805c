// firmora-gui: the main window on the desktop over the package this program
// carries; with --simulate the virtual modem stands in for a real one.

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include <iostream>
#include <memory>
#include <string>

#include "app/flash_application.h"
#include "cli/embedded_target.h"
#include "cli/run_command.h"
#include "core/line_log.h"
#include "package/options_json.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"
#include "ui/window_fonts.h"

namespace {

constexpr const char* kProgram = "firmora-gui";
constexpr const char* kUsage =
    "usage: firmora-gui [--simulate[=SCENARIO] | --diag PORT --at PORT [--app PORT] [--fastboot PATH]]\n"
    "                   [--backup-root DIR] [--time-scale X]\n";

// The port scans' trace lines go nowhere yet: the window has no trace view.
class NoTrace final : public firmora::core::LineLog {
public:
    void Log(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    using namespace firmora;
    const cli::CommandArgs args(argv + 1, argv + argc);
    cli::RunOptions options;
    std::string problem = cli::ParseRunArguments(args, options);
    if (problem.empty() && (options.config || options.all || options.reupdate || options.waitSeconds)) {
        problem = "--config, --all, --reupdate and --wait belong to firmora run";
    }
    if (!problem.empty()) {
        std::cerr << kProgram << ": " << problem << '\n' << kUsage;
        return cli::kExitUsage;
    }
    if (options.help) {
        std::cout << kUsage;
        return cli::kExitOk;
    }
    // After the arguments: --help and a wrong option need no display.
    QApplication qt(argc, argv);
    if (!ui::UseWindowFonts()) {
        std::cerr << kProgram << ": no Japanese font is installed: Japanese texts will show as boxes "
                     "(install fonts-noto-cjk)\n";
    }

    int exitCode = cli::kExitFailure;
    const std::unique_ptr<cli::EmbeddedTarget> embedded = cli::EmbeddedTarget::Open(options, problem, exitCode);
    if (!embedded) {
        std::cerr << kProgram << ": " << problem << '\n';
        return exitCode;
    }
    const std::optional<preserve::ProductNvTables> tables =
        cli::LoadTables(embedded->files(), embedded->paths(), std::cerr, kProgram);
    if (!tables) return cli::kExitFailure;
    const std::filesystem::path backupRoot = cli::PrepareBackupRoot(options, std::cerr, kProgram);
    if (backupRoot.empty()) return cli::kExitFailure;

    ui::QtDialogs dialogs(qt);
    NoTrace trace;
    app::FlashApplication application(embedded->Services(dialogs, *tables, trace),
                                      app::ApplicationSettings{.backupRoot = backupRoot});
    if (!application.Create() || !application.HasForm()) {
        // The box that said why has been shown already.
        if (!application.EndMessage().empty()) {
            std::cerr << kProgram << ": " << package::EscapeVisible(application.EndMessage()) << '\n';
        }
        application.Destroy();
        return cli::kExitFailure;
    }
    ui::MainWindow window(application, &dialogs);
    window.show();
    qt.exec();
    return application.Ending() && !application.EndMessage().empty() ? cli::kExitFailure : cli::kExitOk;
}
