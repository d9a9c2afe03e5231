// The machine-wide INI lock: semaphore 1 of a SysV set keyed by /tmp/ini.sema,
// taken and given with SEM_UNDO so that a process that dies holding it does
// not block the others.  Semaphore 0 marks an initialised set.
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "fixed_path.hpp"
#include "qx/ini.h"

namespace {

constexpr int kReadyMarker = 1234;
constexpr int kMarkerSem = 0;
constexpr int kInitWaitSteps = 100;    // x 10 ms: how long a creator may take to initialise
constexpr useconds_t kInitWaitStepUs = 10000;

std::atomic<int> g_sema_id{-1};
std::once_flag g_sema_once;

union SemArg {
    int val;
    semid_ds* buf;
    unsigned short* array;
};

int set_ready(int id) {
    // Marker and lock in one call, so nobody sees the marker before the lock.
    unsigned short values[2] = {kReadyMarker, 1};
    SemArg arg{};
    arg.array = values;
    return semctl(id, 0, SETALL, arg) == -1 ? -errno : id;
}

// Another process created the set; it initialises it right after creation.
// Only if it died in between does the set stay unmarked: then mark it here.
int wait_ready(int id) {
    for (int step = 0; step < kInitWaitSteps; ++step) {
        const int marker = semctl(id, kMarkerSem, GETVAL);
        if (marker == -1) return -errno;
        if (marker == kReadyMarker) return id;
        usleep(kInitWaitStepUs);
    }
    return set_ready(id);
}

}  // namespace

extern "C" {

int SEMA_Create(const char* keyFile) {
    if (keyFile == nullptr || *keyFile == '\0') return -EINVAL;
    const int fd = open(keyFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    else if (errno != EEXIST) return -errno;

    const key_t key = ftok(keyFile, 'Q');
    if (key == -1) return -errno;

    // Only the creator initialises, so a second process cannot reset a lock
    // that the first one already holds.
    int id = semget(key, 2, IPC_CREAT | IPC_EXCL | 0666);
    if (id >= 0) {
        id = set_ready(id);
    } else if (errno == EEXIST) {
        id = semget(key, 2, 0666);
        id = id == -1 ? -errno : wait_ready(id);
    } else {
        id = -errno;
    }
    g_sema_id.store(id);
    return id;
}

void SEMA_pv(int operation, int semaphore) {
    const int id = g_sema_id.load();
    if (id < 0) return;
    sembuf op{};
    op.sem_num = static_cast<unsigned short>(semaphore);
    op.sem_op = static_cast<short>(operation);
    op.sem_flg = SEM_UNDO;
    while (semop(id, &op, 1) == -1 && errno == EINTR) {
    }
}

void lockIniFile(int* /*lock*/, int flag) {
    std::call_once(g_sema_once, [] { SEMA_Create(qx::fixed_path("/tmp/ini.sema").c_str()); });
    if (flag == 1) SEMA_pv(-1, 1);
    else if (flag == 0) SEMA_pv(+1, 1);
}

}  // extern "C"
