#pragma once
// The run log: one file per run, one line per report ("date time text" CRLF).
// It is kept only when the run failed; a passed run deletes it.

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"

namespace firmora::app {

class RunLog {
public:
    RunLog(platform::Clock& clock, platform::Paths& paths);

    // "<caption>(<date> <time>).log" with every "/" made "_" and every ":" made ";".
    static std::string FileName(const std::string& caption, const platform::LocalDateTime& when);
    // The folder the log of a project goes into (created by Open).
    std::filesystem::path FolderFor(int projectIndex);

    // Creates the log file, replacing an existing one. A file that cannot be
    // created leaves the log not open, and lines are then dropped.
    bool Open(const std::string& caption, int projectIndex);
    bool IsOpen() const { return file_.is_open(); }
    // Appends text and CRLF; nothing when not open; write errors are ignored.
    void WriteLine(const std::string& text);
    void Close();
    // After a passed run: removes the log (for project 28 its whole folder)
    // unless the marker file "autotest" lies in the system root.
    void DeleteAfterSuccess();

    const std::filesystem::path& path() const { return path_; }

private:
    platform::Clock& clock_;
    platform::Paths& paths_;
    std::ofstream file_;
    std::filesystem::path path_;
    int projectIndex_ = -1;
};

// "date time text": the local date and time as the log writes them, then the text.
std::string LogLineText(const platform::LocalDateTime& when, const std::string& text);

}  // namespace firmora::app
