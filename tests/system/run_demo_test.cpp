// ./run.sh, the command that starts the demo system: it runs, shows values
// and archive rows, and leaves neither a process nor its sandbox behind,
// whether it ends by itself or by Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "process.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kRunScript = fs::path(QX_TEST_SOURCE_DIR).parent_path() / "run.sh";
// The programs of this build, so the script does not build its own.
const std::string kBinDir = std::string("QX_BIN_DIR=") + QX_BINARY_DIR;

std::string Sandbox(const std::string& out) {
    std::smatch match;
    return std::regex_search(out, match, std::regex("== sandbox (\\S+)")) ? match[1].str() : std::string();
}

std::vector<pid_t> ProgramPids(const std::string& out) {
    std::vector<pid_t> pids;
    const std::regex line("(qx_datasrv|qx_calc|qx_feeder) pid (\\d+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
        pids.push_back(static_cast<pid_t>(std::stol((*it)[2].str())));
    return pids;
}

bool Gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

void ExpectNothingLeft(const std::string& out) {
    const std::string sandbox = Sandbox(out);
    ASSERT_FALSE(sandbox.empty()) << out;
    EXPECT_FALSE(fs::exists(sandbox)) << "sandbox " << sandbox << " left behind";
    const std::vector<pid_t> pids = ProgramPids(out);
    EXPECT_EQ(pids.size(), 3u) << out;
    for (const pid_t pid : pids) EXPECT_TRUE(qx_test::WaitUntil([&] { return Gone(pid); }, 5s)) << "pid " << pid << " still runs";
}

TEST(RunDemoTest, RunsForAGivenTimeShowsChangingValuesAndArchiveRows) {
    qx_test::Process run(kRunScript, {"--seconds", "15", "--every", "3"}, {kBinDir});
    const auto status = run.WaitFor(90s);
    ASSERT_TRUE(status.has_value()) << "run.sh did not end:\n" << run.Stdout();
    const std::string out = run.Stdout();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "status " << *status << "\nstdout:\n" << out << "\nstderr:\n" << run.Stderr();
    EXPECT_NE(out.find("values changed and archive rows arrived"), std::string::npos) << out;
    // The table of tags and a CSV archive row of the demo plant.
    EXPECT_NE(out.find("Kessel Vorlauf"), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex("\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d0,[-0-9.]+,00000000,")))
        << "no archive row of the supply temperature with its status:\n" << out;
    ExpectNothingLeft(out);
}

TEST(RunDemoTest, InterruptStopsEveryProgramAndRemovesTheSandbox) {
    qx_test::Process run(kRunScript, {"--every", "1"}, {kBinDir});
    ASSERT_TRUE(run.WaitForStdout("Kessel Vorlauf", 60s)) << run.Stdout() << run.Stderr();
    run.Signal(SIGINT);
    const auto status = run.WaitFor(20s);
    ASSERT_TRUE(status.has_value()) << "run.sh did not end on SIGINT";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 130) << "status " << *status;
    EXPECT_NE(run.Stdout().find("run.sh: stopped"), std::string::npos);
    ExpectNothingLeft(run.Stdout());
}

}  // namespace
