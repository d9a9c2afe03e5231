// The data server's test database in a sandbox: the configuration file of
// tests/data/datasrv with its archive directory inside the sandbox, and the
// UTC day numbers the tests write archive steps for.
#pragma once

#include <filesystem>
#include <string>

#include "qx.h"
#include "sandbox.hpp"

namespace datasrv_test {

// Writes the configuration file where the data server looks for it and
// returns the (created) archive directory it names.
inline std::filesystem::path WriteConfiguration(const qx_test::Sandbox& sandbox) {
    const std::filesystem::path archive = sandbox.root() / "archiv";
    std::filesystem::create_directories(archive);
    std::string config = qx_test::ReadFile(qx_test::DataFile("datasrv/ra_vuvuvizi.ini"));
    const std::string marker = "@DIR_ARCHIV@";
    config.replace(config.find(marker), marker.size(), archive.string());
    qx_test::WriteFile(sandbox.path(QX_CONFIG_FILE), config);
    return archive;
}

inline double Utc(int year, int month, int day, int hour, int min, int sec) {
    return TimeToJul(time_velmo{year, month, day, hour, min, sec});
}

}  // namespace datasrv_test
