// System tests of the computing core: the real qx_datasrv in a sandbox,
// building the tag database from a fixture configuration file (its
// "@DIR_ARCHIV@" replaced by a fresh archive directory), this process
// attached to it, and qx_calc started and stopped against it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "attach_state.hpp"
#include "process.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace qx_test {

class CalcServerTest : public ::testing::Test {
protected:
    // Starts the data server on tests/data/<config> and attaches.
    void StartServer(const std::string& config_fixture) {
        using namespace std::chrono_literals;
        ASSERT_NO_FATAL_FAILURE(EnterPrivateIpcNamespace());
        const std::filesystem::path archive = sandbox_.root() / "archiv";
        std::filesystem::create_directories(archive);
        std::string config = ReadFile(DataFile(config_fixture));
        const std::string marker = "@DIR_ARCHIV@";
        if (const size_t at = config.find(marker); at != std::string::npos)
            config.replace(at, marker.size(), archive.string());
        WriteFile(sandbox_.path(QX_CONFIG_FILE), config);

        server_ = std::make_unique<Process>(Binary("datasrv/qx_datasrv"));
        ASSERT_TRUE(server_->WaitForStdout("SHM_DATA: Server bereit", 20s))
            << "stdout:\n" << server_->Stdout() << "\nstderr:\n" << server_->Stderr();
        ASSERT_EQ(QXInit(0, nullptr, 0, nullptr, &sys_, &roh_, &tags_), 1);
    }

    void StartCore() { core_ = std::make_unique<Process>(Binary("calc/qx_calc")); }

    // Stop ends the core's loop; it must leave on its own.
    void TearDown() override {
        using namespace std::chrono_literals;
        if (core_ != nullptr && sys_ != nullptr) {
            qx::attach_state().info->Stop = 1;
            EXPECT_TRUE(core_->WaitFor(10s).has_value()) << "qx_calc did not end on Stop";
        }
    }

    static std::filesystem::path Binary(const char* relative) {
        return std::filesystem::path(QX_BINARY_DIR) / relative;
    }

    Sandbox sandbox_;
    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> core_;  // ends before the server and the sandbox
    VelmoSystem* sys_ = nullptr;
    Rohwerte* roh_ = nullptr;
    Tags* tags_ = nullptr;
};

}  // namespace qx_test
