// Fuzzes the configuration-file readers with arbitrary file content, then
// renders what was loaded with both writers.  Every run loads into the same
// records, so a load must reset all state it reads into.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "attach_state.hpp"
#include "dbconfig_database.hpp"
#include "dbconfig_write.hpp"
#include "qx.h"

namespace {

// Beyond this the user-field area is refused (-3), which is a path worth
// reaching too; a real file never needs more.
constexpr std::size_t kUserFieldAreaMax = 16u << 20;

struct State {
    qx::dbconfig::Database db;
    int file_fd = -1;
    std::string file_path;
    int null_fd = -1;
};

State& state() {
    static State s = [] {
        State init;
        // The loader prints a monitor line per user field; libFuzzer reports on stderr.
        std::fflush(stdout);
        const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (quiet < 0 || dup2(quiet, 1) < 0) std::abort();
        close(quiet);
        init.file_fd = memfd_create("qx-dbconfig-fuzz", MFD_CLOEXEC);
        if (init.file_fd < 0) std::abort();
        init.file_path = "/proc/self/fd/" + std::to_string(init.file_fd);
        init.null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        return init;
    }();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    State& s = state();
    if (ftruncate(s.file_fd, 0) != 0 || pwrite(s.file_fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    qx::dbconfig::Database& db = s.db;
    int rc = QX_LoadConfig(s.file_path.c_str(), &db.system, db.tags.data(), db.info.get(), db.tag_add.data(),
                           db.user_fields.data(), db.user_fields.size());
    const std::size_t needed = std::size_t{QX_TAG_RECORDS} * static_cast<std::size_t>(db.info->UserFieldRecLen);
    if (rc == -3 && needed <= kUserFieldAreaMax) rc = db.load(s.file_path.c_str());
    if (rc != 0 && rc != -3) std::abort();  // the file is always readable here

    // Invariants of a loaded database.
    if (db.system.n_tag != QX_N_TAG || db.system.n_roh != QX_N_ROH) std::abort();
    if (db.info->UserFieldCount < 0 || db.info->UserFieldCount > QX_USERFIELD_MAX) std::abort();
    if (db.info->TagAddCount < 0 || db.info->TagAddCount > QX_TAGADD_MAX) std::abort();
    for (int i = 1; i < db.info->TagAddCount; ++i) {
        if (CompareVelmoTagAdd(&db.tag_add[i - 1], &db.tag_add[i]) >= 0) std::abort();  // sorted, unique
    }

    const qx::AttachState& st = qx::attach_state();
    for (auto kind : {qx::dbconfig::WriterKind::DataServer, qx::dbconfig::WriterKind::Library}) {
        const qx::dbconfig::ConfigSource src{&db.system, db.tags.data(), db.info.get(), db.tag_add.data(),
                                             st.user_fields};
        if (!qx::dbconfig::render_config(s.null_fd, kind, src)) std::abort();
    }
    return 0;
}
