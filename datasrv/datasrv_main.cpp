// qx_datasrv: builds the tag database from the configuration file, writes the
// file back so it reflects what was loaded, and serves the command and
// archive-write queues until it is stopped.
#include <cstdlib>
#include <string>

#include "fixed_path.hpp"
#include "shm_data.hpp"

namespace {

// Queues of an earlier run, whose messages must not reach this one.
constexpr int32_t kStaleQueues[] = {QX_KEY_CMD_QUEUE, QX_KEY_ARCHIVE_QUEUE, static_cast<int32_t>(QX_KEY_ANSWER_BASE)};

void RemoveStaleQueues() {
    for (const int32_t key : kStaleQueues) {
        sMsq queue{-1, key};
        if (openMsg(&queue) == 0) closeMsg(&queue);
    }
}

void PrintRecordSizes() {
    ux_print_moni("VelmoSystem : %d\n", static_cast<int>(sizeof(VelmoSystem)));
    ux_print_moni("Rohwerte : %d\n", static_cast<int>(sizeof(Rohwerte)));
    ux_print_moni("Tags : %d\n", static_cast<int>(sizeof(Tags)));
    ux_print_moni("TagAdd : %d\n", static_cast<int>(sizeof(TagAdd)));
    ux_print_moni("TagsInternal : %d\n", static_cast<int>(sizeof(TagsInternal)));
    ux_print_moni("UserFieldDSC : %d\n", static_cast<int>(sizeof(UserFieldDSC)));
    ux_print_moni("Info : %d\n", static_cast<int>(sizeof(Info)));
}

}  // namespace

int KWZServiceMain(int /*argc*/, char** /*argv*/, char** /*envp*/) {
    RemoveStaleQueues();
    PrintRecordSizes();
    rMsq.msqKey = QX_KEY_LOG_QUEUE;
    openMsg(&rMsq);

    const std::string config = qx::fixed_path(QX_CONFIG_FILE);
    Qx_Init(QX_CONFIG_NAME, config.c_str());
    const datasrv::Database& db = datasrv::database();
    QX_SaveConfig2(QX_CONFIG_NAME, config.c_str(), db.system, db.tags, db.info);

    const int status = shm_dataServer();
    // The common main ends with 0; a server that had to give up ends with
    // the error number instead.
    if (status != 0) std::exit(status);
    return 0;
}
