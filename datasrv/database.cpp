// Building the tag database: the two shared-memory segments, filled from the
// configuration file, and the SIGUSR1 handler that stops the server loop.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "attach_protocol.hpp"
#include "shm_data.hpp"

volatile sig_atomic_t DoWork = 1;

namespace {

// Private records the configuration is read into before the segments exist.
VelmoSystem g_private_system{};
Info g_private_info{};

datasrv::Database g_database;

// The signal handler may only call async-signal-safe functions, so its
// monitor line is formatted when the handler is installed.
char g_sigusr1_line[64];
size_t g_sigusr1_line_length = 0;

// Gets a segment of at least size bytes and attaches it; null when the
// system refuses.  A segment left from an earlier run that is smaller than
// needed (the user fields grew) is removed and made anew: with the old one
// no program could attach, since every attach asks for the new size.
unsigned char* AttachSegment(int32_t key, size_t size) {
    int id = shmget(static_cast<key_t>(key), size, IPC_CREAT | 0666);
    if (id < 0 && errno == EINVAL) {
        const int old = shmget(static_cast<key_t>(key), 0, 0);
        shmid_ds ds{};
        if (old >= 0 && shmctl(old, IPC_STAT, &ds) == 0 && ds.shm_segsz < size) {
            ux_print_moni("SHM: Segment %X zu klein (%zu statt %zu Bytes), wird neu angelegt\n",
                          static_cast<unsigned>(key), static_cast<size_t>(ds.shm_segsz), size);
            shmctl(old, IPC_RMID, nullptr);
            id = shmget(static_cast<key_t>(key), size, IPC_CREAT | 0666);
        }
    }
    if (id < 0) return nullptr;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) return nullptr;
    return static_cast<unsigned char*>(address);
}

template <typename Record>
Record* RecordAt(unsigned char* segment, int32_t offset) {
    return reinterpret_cast<Record*>(segment + offset);
}

void InstallSigUsr1() {
    const int n = std::snprintf(g_sigusr1_line, sizeof g_sigusr1_line, "qx_datasrv: sigUsr1(): %d\n",
                                static_cast<int>(getpid()));
    g_sigusr1_line_length = n > 0 ? std::min(static_cast<size_t>(n), sizeof g_sigusr1_line - 1) : 0;
    struct sigaction action {};
    action.sa_handler = sigUsr1;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the idle wait is cut short so the loop ends at once.
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace

extern "C" void sigUsr1(int /*signal_number*/) {
    const int saved = errno;
    if (g_sigusr1_line_length > 0) {
        [[maybe_unused]] const ssize_t ignored = write(STDOUT_FILENO, g_sigusr1_line, g_sigusr1_line_length);
    }
    DoWork = 0;
    errno = saved;
}

void Qx_Init(const char* /*name*/, const char* path) {
    InstallSigUsr1();

    std::memset(&g_private_info, 0, sizeof g_private_info);
    g_private_info.TimeLastArchiv = g_private_info.TimeLastDetail = GetNan();
    g_private_info.TimeLastTag = g_private_info.TimeLastTrend = GetNan();

    QX_ReadSysInfo(path, &g_private_system, &g_private_info);
    QX_ReadUserFieldDSC(path, &g_private_info);
    const int32_t rec_len = g_private_info.UserFieldRecLen;
    const size_t user_fields_size = size_t{QX_TAG_RECORDS} * static_cast<size_t>(rec_len);
    ux_print_moni(" USERFIELDSIZE %d:\n", static_cast<int>(user_fields_size));

    datasrv::Database db;
    const QX_AttachAnswer layout = qx::make_attach_answer(rec_len);
    db.answer.mtype = QX_CMD_ATTACH;
    if (unsigned char* seg1 = AttachSegment(QX_KEY_SEGMENT1, QX_SEG1_SIZE)) {
        std::memset(seg1, 0xFF, QX_SEG1_SIZE);
        db.answer.keySegment1 = layout.keySegment1;
        db.answer.sizeSegment1 = layout.sizeSegment1;
        db.answer.offSystem = layout.offSystem;
        db.answer.offTags = layout.offTags;
        db.answer.offRoh = layout.offRoh;
        db.answer.offInfo = layout.offInfo;
        db.system = RecordAt<VelmoSystem>(seg1, layout.offSystem);
        db.tags = RecordAt<Tags>(seg1, layout.offTags);
        db.roh = RecordAt<Rohwerte>(seg1, layout.offRoh);
        db.info = RecordAt<Info>(seg1, layout.offInfo);
        ux_print_moni("SHM Size %d Offsets: SYS %d  TAG %d ROH %d INFO %d \n", layout.sizeSegment1, layout.offSystem,
                      layout.offTags, layout.offRoh, layout.offInfo);
    }
    const size_t seg2_size = QX_SEG2_FIXED_SIZE + user_fields_size;
    if (unsigned char* seg2 = AttachSegment(QX_KEY_SEGMENT2, seg2_size)) {
        std::memset(seg2, 0, seg2_size);
        db.answer.keySegment2 = layout.keySegment2;
        db.answer.sizeSegment2 = layout.sizeSegment2;
        db.answer.offTagAdd = layout.offTagAdd;
        db.answer.offTagsInternal = layout.offTagsInternal;
        db.answer.offUserFields = layout.offUserFields;
        db.tag_add = RecordAt<TagAdd>(seg2, layout.offTagAdd);
        db.tags_internal = RecordAt<TagsInternal>(seg2, layout.offTagsInternal);
        db.user_fields = seg2 + layout.offUserFields;
        ux_print_moni("SHM1 Size %d Offsets: TAGADD %d TAGINT %d USERFIELD %d\n", layout.sizeSegment2,
                      layout.offTagAdd, layout.offTagsInternal, layout.offUserFields);
    }
    g_database = db;

    // The library's functions work on the segments inside the data server too.
    QX_SetAttachState(db.system, db.tags, db.roh, db.info, db.tag_add, db.tags_internal, db.user_fields);
    if (db.system != nullptr) std::memcpy(db.system, &g_private_system, sizeof g_private_system);
    if (db.info != nullptr) std::memcpy(db.info, &g_private_info, sizeof g_private_info);

    QX_ReadTagInfo(path);
    QX_ReadUserFieldValues(path);
}

namespace datasrv {

const Database& database() { return g_database; }

const VelmoSystem* archive_system() {
    return g_database.system != nullptr ? g_database.system : &g_private_system;
}

}  // namespace datasrv
