// The program frame: run control, module information, event file, locks and
// memory functions.  (The common main is exercised by the attach probe.)
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "attach_fixture.hpp"
#include "frame.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

TEST(FrameTest, RunControlFollowsTheAttach) {
    QX_ClearAttachState();
    EXPECT_EQ(ServiceActive, 1);
    EXPECT_EQ(GetStopVelmo(), -1) << "an unattached loop stops at once";
    EXPECT_EQ(GetVelmoName(), nullptr);

    qx_test::LocalDatabase db;
    std::strcpy(db.info().VelmoName, "ra_vuvuvizi");
    EXPECT_EQ(GetStopVelmo(), 0);
    db.info().Stop = 2;
    EXPECT_EQ(GetStopVelmo(), 2);
    EXPECT_EQ(GetVelmoName(), db.info().VelmoName);

    char name[32] = "x";
    char dir[32] = "y";
    EXPECT_EQ(GetVelmo98WorkingDir(dir), 0);
    EXPECT_STREQ(dir, "/home/kwz");
    EXPECT_EQ(GetVelmo98WorkingDirEx(name, dir), 0);
    EXPECT_STREQ(name, "ra_vuvuvizi");
    EXPECT_STREQ(dir, "/home/kwz");
}

TEST(FrameTest, ModuleInformationIsCut) {
    const std::string long_name(100, 'n');
    const std::string long_text(300, 'd');
    EXPECT_EQ(SetModulInfo(long_name.c_str(), long_text.c_str()), 0);
    EXPECT_EQ(qx::module_name(), std::string(78, 'n'));
    EXPECT_EQ(qx::module_description(), std::string(254, 'd'));
    EXPECT_EQ(SetModulInfo("qx_calc", "V 1.0\nRechenkern"), 0);
    EXPECT_EQ(qx::module_name(), "qx_calc");
    EXPECT_EQ(qx::module_description(), "V 1.0\nRechenkern");
    EXPECT_EQ(SetModulInfo(nullptr, nullptr), 0);
    EXPECT_EQ(qx::module_name(), "");
    EXPECT_EQ(SetMoniFileNames("a", "b"), 0);
    EXPECT_EQ(VelmoRegisterEventSource(), 1);
}

TEST(FrameTest, EventLinesCarrySeverityAndNumber) {
    qx_test::Sandbox sandbox;
    const auto file = sandbox.path("/home/kwz/ra_vuvuvizi.log");

    QX_ClearAttachState();
    EXPECT_EQ(VelmoWriteEvent(0x61000001u, "vor dem Attach"), 0);
    EXPECT_FALSE(std::filesystem::exists(file)) << "no instance name, no event file";

    qx_test::LocalDatabase db;
    std::strcpy(db.info().VelmoName, "ra_vuvuvizi");
    const struct {
        uint32_t event;
        const char* severity;
        int number;
        const char* text;
    } cases[] = {
        {0xE100000Au, "error       ", 10, "Neustart fehlgeschlagen!"},
        {0x61000001u, "information ", 1, "Neustart erfolgreich"},
        {0xA1000004u, "warning     ", 4, "VelmoKern"},
        {0x0000C005u, "---         ", 5, ""},
    };
    std::string expected;
    for (const auto& c : cases) {
        EXPECT_EQ(VelmoWriteEvent(c.event, c.text), 0);
        expected += std::string(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d )") + "\t" + c.severity + "\t---\t" +
                    std::to_string(c.number) + "\t---\t" + c.text + "\n";
    }
    const std::string content = qx_test::ReadFile(file);
    EXPECT_TRUE(std::regex_match(content, std::regex(expected))) << content;

    // A file that cannot be opened is skipped.
    std::filesystem::remove_all(sandbox.path("/home/kwz"));
    EXPECT_EQ(VelmoWriteEvent(0x61000001u, "weg"), 0);
}

TEST(FrameTest, LocksAndMemory) {
    EXPECT_EQ(GetAndWaitTaktMutex(), 1);
    ReleaseTaktMutex(1);

    // The archive lock is recursive, and released for other threads after as
    // many releases as locks (before and after CreateMutex alike).
    for (int round = 0; round < 2; ++round) {
        int32_t handle = GetAndWaitArchivMutex();
        EXPECT_EQ(handle, 1);
        EXPECT_EQ(GetAndWaitArchivMutex(), 1);
        ReleaseArchivMutex(&handle);
        EXPECT_EQ(handle, -1);
        ReleaseArchivMutex(&handle);
        int32_t other = 0;
        std::thread([&other] {
            other = GetAndWaitArchivMutex();
            ReleaseArchivMutex(&other);
        }).join();
        EXPECT_EQ(other, -1);
        EXPECT_EQ(CreateMutex(), 0);
    }

    void* memory = AllocLib98Mem(64);
    ASSERT_NE(memory, nullptr);
    std::memset(memory, 1, 64);
    EXPECT_EQ(FreeLib98Mem(&memory), 0);
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(FreeLib98Mem(&memory), 0) << "null pointer: nothing to free";
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(FreeLib98Mem(nullptr), 0);
}

}  // namespace
