// firmora-gui: the main window on the desktop over the package this program
// carries; with --simulate the virtual modem stands in for a real one.

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include <atomic>
#include <iostream>
#include <memory>
#include <string>

#include "app/flash_application.h"
#include "cli/arguments.h"
#include "cli/embedded_target.h"
#include "cli/run_command.h"
#include "cli/stop_on_interrupt.h"
#include "core/line_log.h"
#include "package/options_json.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"
#include "ui/unattended.h"
#include "ui/window_fonts.h"

namespace {

constexpr const char* kProgram = "firmora-gui";
constexpr const char* kUsage =
    "usage: firmora-gui [--simulate[=SCENARIO] | --diag PORT --at PORT [--app PORT] [--fastboot PATH]]\n"
    "                   [--backup-root DIR] [--time-scale X] [--unattended [--screenshot FILE]]\n"
    "  --simulate[=SCENARIO]  the virtual modem instead of a real one, in real time\n"
    "  --time-scale X         every pause and wait X times as fast (X > 1 is faster)\n"
    "  --unattended           press Next once the modem is Ready, close the window when the run\n"
    "                         has ended and print its result page; exit 0 after PASS\n"
    "  --screenshot FILE      with --unattended: a PNG of the window as the run ends\n";

// The desktop's own options, taken out of the arguments; the rest are
// firmora run's target options.
struct GuiOptions {
    bool unattended = false;
    std::string screenshot;
};

std::string TakeGuiOptions(firmora::cli::CommandArgs& args, GuiOptions& gui) {
    firmora::cli::CommandArgs rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--unattended") {
            gui.unattended = true;
        } else if (firmora::cli::IsOption(args[i], "--screenshot")) {
            if (!firmora::cli::TakeValue(args, i, "--screenshot", gui.screenshot)) {
                return "option --screenshot needs a file";
            }
        } else {
            rest.push_back(args[i]);
        }
    }
    if (!gui.screenshot.empty() && !gui.unattended) return "--screenshot goes with --unattended";
    args = std::move(rest);
    return {};
}

// The port scans' trace lines go nowhere yet: the window has no trace view.
class NoTrace final : public firmora::core::LineLog {
public:
    void Log(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    using namespace firmora;
    cli::CommandArgs args(argv + 1, argv + argc);
    GuiOptions gui;
    cli::RunOptions options;
    std::string problem = TakeGuiOptions(args, gui);
    if (problem.empty()) problem = cli::ParseRunArguments(args, options);
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
    // The virtual modem's update is there to be watched: its pauses take real time.
    if (options.scenario && !options.timeScale) options.timeScale = 1.0;
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
    std::unique_ptr<ui::Unattended> unattended;
    if (gui.unattended) {
        unattended = std::make_unique<ui::Unattended>(
            window, application, ui::Unattended::Settings{.picture = QString::fromStdString(gui.screenshot)},
            std::cout, std::cerr);
    }
    // Ctrl-C in the terminal that started the window is Stop: the window
    // closes without asking, and the application stops the run and waits
    // for it to wind down through its closing steps before the program ends.
    std::atomic<bool> interrupted = false;
    const cli::StopOnInterrupt stop([&qt, &interrupted] {
        interrupted = true;
        // exit, not quit: quit would close the window, and the window asks
        // before it closes during a run.
        QMetaObject::invokeMethod(&qt, [] { QCoreApplication::exit(cli::kExitStopped); }, Qt::QueuedConnection);
    });
    qt.exec();
    if (interrupted) {
        window.PutAway();
        std::cerr << kProgram << ": stopped\n";
        return cli::kExitStopped;
    }
    if (unattended) return unattended->Passed() ? cli::kExitOk : cli::kExitFailure;
    return application.Ending() && !application.EndMessage().empty() ? cli::kExitFailure : cli::kExitOk;
}
