#include "app/run_log.h"

#include <algorithm>
#include <system_error>

#include "package/project_table.h"

namespace firmora::app {
namespace {

// Two products keep their logs in a program folder of their own instead of
// the system root.
std::filesystem::path ProductFolder(int projectIndex) {
    if (projectIndex == package::kProjectDO78_21) {
        return std::filesystem::path("Program Files") / "Koriant KQ001TR Update Tool";
    }
    if (projectIndex == package::kProjectDI79_21) {
        return std::filesystem::path("Program Files") / "Koriant KQ004TR Update Tool";
    }
    return {};
}

}  // namespace

std::string LogLineText(const platform::LocalDateTime& when, const std::string& text) {
    return platform::ShortDateText(when) + " " + platform::LongTimeText(when) + " " + text;
}

RunLog::RunLog(platform::Clock& clock, platform::Paths& paths) : clock_(clock), paths_(paths) {}

std::string RunLog::FileName(const std::string& caption, const platform::LocalDateTime& when) {
    std::string name =
        caption + "(" + platform::ShortDateText(when) + " " + platform::LongTimeText(when) + ").log";
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), ':', ';');
    return name;
}

std::filesystem::path RunLog::FolderFor(int projectIndex) {
    const std::filesystem::path root = paths_.SystemRoot();
    if (root.empty()) return {};
    const std::filesystem::path product = ProductFolder(projectIndex);
    return product.empty() ? root : root / product;
}

bool RunLog::Open(const std::string& caption, int projectIndex) {
    Close();
    // Forget the previous run's log first: whatever happens below, a later
    // success must only ever delete this run's own log.
    path_.clear();
    projectIndex_ = projectIndex;
    const std::filesystem::path folder = FolderFor(projectIndex);
    if (folder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    path_ = folder / FileName(caption, clock_.Now());
    file_.open(path_, std::ios::binary | std::ios::out | std::ios::trunc);
    return file_.is_open();
}

void RunLog::WriteLine(const std::string& text) {
    if (!file_.is_open()) return;
    file_ << text << "\r\n";
    file_.flush();
    file_.clear();  // a failed write is ignored; later lines still try
}

void RunLog::Close() {
    if (file_.is_open()) file_.close();
    file_.clear();
}

void RunLog::DeleteAfterSuccess() {
    Close();
    if (path_.empty()) return;
    const std::filesystem::path root = paths_.SystemRoot();
    std::error_code ec;
    if (!root.empty() && std::filesystem::exists(root / "autotest", ec)) return;
    if (projectIndex_ == package::kProjectDI79_21) {
        std::filesystem::remove_all(path_.parent_path(), ec);
    } else {
        std::filesystem::remove(path_, ec);
    }
    path_.clear();
}

}  // namespace firmora::app
