// QXInit and QX_SaveConfig: the client side of the data server's command
// queue.
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "attach_protocol.hpp"
#include "attach_state.hpp"
#include "qx/attach.h"
#include "qx/msq.h"
#include "qx/util.h"

namespace {

constexpr const char* kNoCommandQueue = "icp_module :: MSG Sendqueue geht nicht auf";
constexpr const char* kNoAnswerQueue = "icp_module :: MSG Receivequeue geht nicht auf";
constexpr const char* kNotSent = "icp_module :: MSG Fehler bei Kommandosenden";
constexpr const char* kNoAnswer = "icp_module :: MSG Zeiger nicht angekommen !!!";
constexpr const char* kInstanceName = "ra_vuvuvizi";

// The answer queue of this process while QXInit waits on it; a terminating
// signal during the wait removes it, so no queue outlives the program.
volatile sig_atomic_t g_waiting_answer_queue = -1;

extern "C" void remove_answer_queue_and_end(int signal_number) {
    const int id = g_waiting_answer_queue;
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    // SA_RESETHAND restored the default action: the signal, blocked while the
    // handler runs, ends the process as soon as the handler returns.
    raise(signal_number);
}

// Installs the handler above for the terminating signals the program leaves
// at their default action, and puts the old actions back afterwards.
class WaitSignalGuard {
public:
    explicit WaitSignalGuard(int queue_id) {
        g_waiting_answer_queue = queue_id;
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            struct sigaction old {};
            if (sigaction(kSignals[i], nullptr, &old) != 0) continue;
            if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = remove_answer_queue_and_end;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            if (sigaction(kSignals[i], &action, &old_[i]) == 0) installed_[i] = true;
        }
    }
    ~WaitSignalGuard() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (installed_[i]) sigaction(kSignals[i], &old_[i], nullptr);
        g_waiting_answer_queue = -1;
    }
    WaitSignalGuard(const WaitSignalGuard&) = delete;
    WaitSignalGuard& operator=(const WaitSignalGuard&) = delete;

private:
    static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
    std::array<struct sigaction, 3> old_{};
    std::array<bool, 3> installed_{};
};

// This process's answer queue; removed when QXInit is done with it, on
// success and failure alike.
class AnswerQueue {
public:
    AnswerQueue() = default;
    ~AnswerQueue() { remove(); }
    AnswerQueue(const AnswerQueue&) = delete;
    AnswerQueue& operator=(const AnswerQueue&) = delete;

    // The key belongs to this process id.  A queue found under it was left
    // by an earlier process with the same id that was killed while it
    // waited; its stale contents would be taken for our answer.
    bool create(int32_t key) {
        id_ = msgget(static_cast<key_t>(key), IPC_CREAT | IPC_EXCL | 0666);
        if (id_ < 0 && errno == EEXIST) {
            const int stale = msgget(static_cast<key_t>(key), 0666);
            if (stale >= 0) msgctl(stale, IPC_RMID, nullptr);
            id_ = msgget(static_cast<key_t>(key), IPC_CREAT | 0666);
        }
        return id_ >= 0;
    }
    int id() const { return id_; }
    void remove() {
        if (id_ >= 0) msgctl(id_, IPC_RMID, nullptr);
        id_ = -1;
    }

private:
    int id_ = -1;
};

// One attached segment; detached again unless QXInit keeps it.
class Segment {
public:
    Segment() = default;
    ~Segment() {
        if (address_ != nullptr) shmdt(address_);
    }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    bool attach(int32_t key, int32_t size) {
        const int id = shmget(static_cast<key_t>(key), static_cast<std::size_t>(size), IPC_CREAT | 0666);
        if (id < 0) return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) return false;
        address_ = static_cast<unsigned char*>(address);
        return true;
    }
    template <typename T>
    T* at(int32_t offset) const {
        return reinterpret_cast<T*>(address_ + offset);
    }
    void keep() { address_ = nullptr; }

private:
    unsigned char* address_ = nullptr;
};

void report(const char* text) {
    std::perror(text);
}

int send_command(int queue, const QX_CommandMsg& message, int flags) {
    int sent;
    do {
        sent = msgsnd(queue, &message, QX_CMD_TEXT_SIZE, flags);
    } while (sent != 0 && errno == EINTR);
    return sent;
}

// Waits without limit: a signal the program handles does not end the wait.
ssize_t receive_answer(int queue, QX_AttachAnswer& answer) {
    ssize_t got;
    do {
        got = msgrcv(queue, &answer, QX_ATTACH_ANSWER_SIZE, 0, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

unsigned long address_of(const void* pointer) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer));
}

void print_attached(const qx::AttachState& s) {
    ux_print_moni("AnzField %d\n", s.info->UserFieldCount);
    ux_print_moni("MSys = %lX\n", address_of(s.system));
    ux_print_moni("MTag = %lX\n", address_of(s.tags));
    ux_print_moni("MRoh = %lX\n", address_of(s.roh));
    ux_print_moni("MInfo = %lX\n", address_of(s.info));
    ux_print_moni("MTagAdd = %lX\n", address_of(s.tag_add));
    ux_print_moni("MTagInt = %lX\n", address_of(s.tags_internal));
    ux_print_moni("MUserField = %lX\n", address_of(s.user_fields));
    ux_print_moni("----\n%-40.40s\n------\n", s.system->bezeichnung);
    // dir_archiv need not be terminated within its 64 bytes.
    const char* dir = s.system->dir_archiv;
    const int length = static_cast<int>(strnlen(dir, sizeof s.system->dir_archiv));
    const bool has_slash = length > 0 && dir[length - 1] == '/';
    ux_print_moni("DBFILE:: %.*s%s\n", length, dir, has_slash ? "" : "/");
}

int attach(VelmoSystem** system, Rohwerte** roh, Tags** tags) {
    openMsg(&rMsq);  // a failed open sends log messages to standard output

    if (system != nullptr) *system = nullptr;
    if (roh != nullptr) *roh = nullptr;
    if (tags != nullptr) *tags = nullptr;
    ux_print_moni("QXInit nach Zeiger Zuweisungen\n");

    const int command_queue = msgget(static_cast<key_t>(QX_KEY_CMD_QUEUE), 0);
    if (command_queue < 0) {
        report(kNoCommandQueue);
        return -5;
    }
    const int32_t answer_key = qx::answer_queue_key(getpid());
    AnswerQueue answer_queue;
    if (!answer_queue.create(answer_key)) {
        report(kNoAnswerQueue);
        return -4;
    }

    QX_AttachAnswer answer{};
    {
        WaitSignalGuard on_signal(answer_queue.id());
        if (send_command(command_queue, qx::make_attach_request(answer_key), 0) != 0) {
            report(kNotSent);
            return -3;
        }
        const ssize_t got = receive_answer(answer_queue.id(), answer);
        if (got < 0) {
            report(kNoAnswer);
            return -2;
        }
        // Offsets from an answer of another length or layout would point
        // outside the segments.
        if (got != QX_ATTACH_ANSWER_SIZE || !qx::answer_layout_fits(answer)) {
            errno = EBADMSG;
            report(kNoAnswer);
            return -2;
        }
    }
    ux_print_moni("Size %d Size1 %d Offsets: SYS %d  TAG %d ROH %d INFO %d TAGADD %d TAGINT %d USERFIELD %d\n",
                  answer.sizeSegment1, answer.sizeSegment2, answer.offSystem, answer.offTags, answer.offRoh,
                  answer.offInfo, answer.offTagAdd, answer.offTagsInternal, answer.offUserFields);

    Segment segment1, segment2;
    if (!segment1.attach(answer.keySegment1, answer.sizeSegment1)) return -1;
    if (!segment2.attach(answer.keySegment2, answer.sizeSegment2)) return -1;
    Info* info = segment1.at<Info>(answer.offInfo);
    // The user-field functions index records by UserFieldRecLen.
    if (!qx::user_fields_fit(answer, info->UserFieldRecLen)) return -1;

    qx::AttachState& state = qx::attach_state();
    state = qx::AttachState{segment1.at<VelmoSystem>(answer.offSystem),
                            segment1.at<Tags>(answer.offTags),
                            segment1.at<Rohwerte>(answer.offRoh),
                            info,
                            segment2.at<TagAdd>(answer.offTagAdd),
                            segment2.at<TagsInternal>(answer.offTagsInternal),
                            segment2.at<unsigned char>(answer.offUserFields)};
    segment1.keep();
    segment2.keep();
    if (system != nullptr) *system = state.system;
    if (roh != nullptr) *roh = state.roh;
    if (tags != nullptr) *tags = state.tags;
    print_attached(state);

    answer_queue.remove();

    info->Stop = 0;
    std::memset(info->VelmoName, 0, sizeof info->VelmoName);
    std::memcpy(info->VelmoName, kInstanceName, std::strlen(kInstanceName));
    return 1;
}

}  // namespace

extern "C" {

int QXInit(int /*argc*/, char** /*argv*/, int /*bufferLength*/, char* /*buffer*/, VelmoSystem** system,
           Rohwerte** roh, Tags** tags) {
    ux_print_moni("QXInit entry %p %p %p \n", static_cast<void*>(system), static_cast<void*>(roh),
                  static_cast<void*>(tags));
    const int result = attach(system, roh, tags);
    if (result < 0) ux_print_moni("QXInit-ERROR: %d\n", result);
    return result;
}

int QX_SaveConfig(void) {
    const int command_queue = msgget(static_cast<key_t>(QX_KEY_CMD_QUEUE), IPC_CREAT | 0666);
    if (command_queue < 0) {
        report(kNoCommandQueue);
        return -5;
    }
    QX_CommandMsg message{};
    message.mtype = QX_CMD_SAVECONFIG;
    // Without waiting: a full queue (no data server reading it) must not
    // hang the program that asks.
    if (send_command(command_queue, message, IPC_NOWAIT) != 0) {
        report(kNotSent);
        return -3;
    }
    return -1;  // the callers know a sent request by this result
}

}  // extern "C"
