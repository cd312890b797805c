#include "platform/posix/posix_processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/last_error.h"
#include "test_folder.h"

extern char** environ;

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits (in real time, up to a limit that only a hang reaches) until `done` holds.
template <typename Condition>
bool WaitUntil(Condition done) {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A zombie keeps its /proc entry until its parent reaps it.
bool ProcessEntryExists(pid_t pid) { return fs::exists("/proc/" + std::to_string(pid)); }

// A program of ours started with arguments (the seam never passes any).
pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

class PosixProcessesTest : public ::testing::Test {
protected:
    fs::path WriteScript(const std::string& name, const std::string& body) {
        const fs::path script = folder_.path() / name;
        std::ofstream(script) << "#!/bin/sh\n" << body;
        fs::permissions(script, fs::perms::owner_all);
        return script;
    }

    testing::TestFolder folder_{"processes-test"};
    PosixProcesses processes_{folder_.path()};
};

TEST_F(PosixProcessesTest, StartsAProgramDetachedInItsFolderWithoutArgumentsOrOurDescriptors) {
    int ours[2];
    ASSERT_EQ(::pipe(ours), 0);  // inheritable, as a serial port opened without O_CLOEXEC would be
    const fs::path program = WriteScript(
        "probe.sh",
        "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
        "{ echo \"args=$#\"; pwd; echo \"$streams\";\n"
        "  [ -e /proc/$$/fd/" + std::to_string(ours[1]) + " ] && echo inherited;\n"
        "  [ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && echo own-session; } > report.tmp\n"
        "n=0; while [ ! -e go ] && [ $n -lt 2000 ]; do sleep 0.01; n=$((n+1)); done\n"
        "echo $$ > pid.tmp; mv pid.tmp pid; mv report.tmp report\n");

    ASSERT_TRUE(processes_.StartHidden(program));
    // Returned while the program still waits for us.
    EXPECT_FALSE(fs::exists(folder_.path() / "report"));
    std::ofstream(folder_.path() / "go").close();
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder_.path() / "report"); }));
    ::close(ours[0]);
    ::close(ours[1]);

    EXPECT_EQ(ReadText(folder_.path() / "report"), "args=0\n" + folder_.path().string() +
                                                        "\n/dev/null\n/dev/null\n/dev/null\nown-session\n");
    // Once it has ended it is reaped: no zombie is left behind.
    const pid_t pid = std::stoi(ReadText(folder_.path() / "pid"));
    EXPECT_TRUE(WaitUntil([&] { return !ProcessEntryExists(pid); })) << "process " << pid << " left as a zombie";
}

TEST_F(PosixProcessesTest, StartFailsWithTheReasonForAMissingOrNonExecutableProgram) {
    EXPECT_FALSE(processes_.StartHidden(folder_.path() / "Swivlet.exe"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOENT));

    const fs::path plain = folder_.path() / "Rebootle.exe";
    std::ofstream(plain) << "not a program";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(processes_.StartHidden(plain));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EACCES));
}

TEST_F(PosixProcessesTest, ListsProcessesByExecutableFileNameAndTerminatesThem) {
    const fs::path copy = folder_.path() / "Swivlet.exe";
    fs::copy_file("/bin/sleep", copy);
    const pid_t pid = Spawn({copy.string(), "60"});
    ASSERT_GT(pid, 0);
    // A program whose file was replaced while it ran keeps its name.
    fs::remove(copy);

    const auto named = [&](uint32_t id, const std::string& name) {
        const std::vector<ProcessInfo> list = processes_.List();
        return std::any_of(list.begin(), list.end(),
                           [&](const ProcessInfo& p) { return p.id == id && p.executableName == name; });
    };
    EXPECT_TRUE(WaitUntil([&] { return named(static_cast<uint32_t>(pid), "Swivlet.exe"); }));
    EXPECT_TRUE(named(static_cast<uint32_t>(::getpid()),
                      fs::read_symlink("/proc/self/exe").filename().string()));
    // Each process names its parent: ours started this one.
    EXPECT_EQ(processes_.OwnId(), static_cast<uint32_t>(::getpid()));
    const std::vector<ProcessInfo> list = processes_.List();
    const auto child = std::find_if(list.begin(), list.end(),
                                    [&](const ProcessInfo& p) { return p.id == static_cast<uint32_t>(pid); });
    ASSERT_NE(child, list.end());
    EXPECT_EQ(child->parentId, processes_.OwnId());

    EXPECT_TRUE(processes_.Terminate(static_cast<uint32_t>(pid)));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_FALSE(processes_.Terminate(static_cast<uint32_t>(pid)));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ESRCH));
}

TEST_F(PosixProcessesTest, TerminateRefusesIdentifiersThatWouldSignalAGroupOrEveryone) {
    // kill(2) reads 0 as our own process group and -1 as every process.
    for (uint32_t id : {0u, 0xFFFFFFFFu, 0x80000000u}) {
        SetLastError(0);
        EXPECT_FALSE(processes_.Terminate(id)) << id;
        EXPECT_EQ(LastError(), static_cast<uint32_t>(ESRCH)) << id;
    }
}

TEST_F(PosixProcessesTest, ANamedLockIsHeldUntilReleasedAndTellsLaterCreatorsSo) {
    bool existed = true;
    auto first = processes_.CreateNamedLock("Mutex_KX_0_Modem", existed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(existed);

    auto second = processes_.CreateNamedLock("Mutex_KX_0_Modem", existed);
    ASSERT_NE(second, nullptr);  // still an object, as a named mutex opened again is
    EXPECT_TRUE(existed);
    auto other = processes_.CreateNamedLock("VARUZIRoded_Ivedo", existed);
    EXPECT_FALSE(existed);

    first.reset();
    second.reset();
    auto third = processes_.CreateNamedLock("Mutex_KX_0_Modem", existed);
    ASSERT_NE(third, nullptr);
    EXPECT_FALSE(existed);
}

TEST_F(PosixProcessesTest, ANamedLockHeldByAnotherProcessIsSeenAndFreedWhenItEnds) {
    const fs::path file = processes_.LockFileFor("upgrade tool");
    const pid_t holder = Spawn({"/usr/bin/flock", "--exclusive", "--no-fork", file.string(), "/bin/sleep", "60"});
    ASSERT_GT(holder, 0);
    bool existed = false;
    EXPECT_TRUE(WaitUntil([&] {
        auto lock = processes_.CreateNamedLock("upgrade tool", existed);
        return lock && existed;
    }));

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    auto lock = processes_.CreateNamedLock("upgrade tool", existed);
    ASSERT_NE(lock, nullptr);
    EXPECT_FALSE(existed);
}

TEST_F(PosixProcessesTest, LockNamesStayInsideTheLockFolder) {
    EXPECT_EQ(processes_.LockFileFor("../../etc/x"), folder_.path() / ".._.._etc_x.lock");
    EXPECT_EQ(processes_.LockFileFor("Global\\A b"), folder_.path() / "Global_A_b.lock");

    bool existed = false;
    PosixProcesses noFolder{fs::path()};
    EXPECT_EQ(noFolder.CreateNamedLock("x", existed), nullptr);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOENT));
}

}  // namespace
}  // namespace firmora::platform
