// A stand-in for the data server's attach handshake: creates the two
// segments with a default database, then answers attach requests on the
// command queue until it receives command 9999.  Prints "ready" once the
// command queue exists.
//
//   attach_responder [--field NAME,TYPE,LENGTH,FORMAT]... [--answer-size N]
//
// TYPE is TEXT, INT, LONG, FLOAT or DOUBLE; --answer-size sends attach
// answers of N body bytes instead of 56 (to exercise the client's checks).
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "attach_protocol.hpp"
#include "qx.h"

namespace {

struct Options {
    std::vector<UserFieldDSC> fields;
    int answer_size = QX_ATTACH_ANSWER_SIZE;
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "attach_responder: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

[[noreturn]] void usage(const std::string& what) {
    std::fprintf(stderr, "attach_responder: %s\nusage: attach_responder [--field NAME,TYPE,LENGTH,FORMAT]... "
                         "[--answer-size N]\n", what.c_str());
    std::exit(2);
}

int type_code(const std::string& name) {
    const char* names[] = {"TEXT", "INT", "LONG", "FLOAT", "DOUBLE"};
    for (int i = 0; i < 5; ++i)
        if (name == names[i]) return i + 1;
    usage("unknown field type " + name);
}

UserFieldDSC parse_field(const std::string& text, int offset) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        if (comma == std::string::npos) usage("field needs NAME,TYPE,LENGTH,FORMAT: " + text);
        parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    parts.push_back(text.substr(start));
    UserFieldDSC field{};
    std::snprintf(field.FieldName, sizeof field.FieldName, "%s", parts[0].c_str());
    field.FieldType = type_code(parts[1]);
    field.FieldLength = std::atoi(parts[2].c_str());
    if (field.FieldLength <= 0) usage("bad field length in " + text);
    field.FieldOffset = offset;
    field.EditFlag = 1;
    std::snprintf(field.FormatString, sizeof field.FormatString, "%s", parts[3].c_str());
    return field;
}

Options parse(int argc, char** argv) {
    Options options;
    int offset = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) usage("missing value after " + arg);
        if (arg == "--field") {
            options.fields.push_back(parse_field(argv[++i], offset));
            offset += options.fields.back().FieldLength;
        } else if (arg == "--answer-size") {
            options.answer_size = std::atoi(argv[++i]);
            if (options.answer_size < 0 || options.answer_size > 1024) usage("bad answer size");
        } else {
            usage("unknown option " + arg);
        }
    }
    if (options.fields.size() > QX_USERFIELD_MAX) usage("too many fields");
    return options;
}

// A segment of exactly this size; an older one of another size is replaced.
unsigned char* create_segment(int32_t key, size_t size) {
    const int old = shmget(key, 0, 0666);
    shmid_ds ds{};
    if (old >= 0 && shmctl(old, IPC_STAT, &ds) == 0 && ds.shm_segsz != size) shmctl(old, IPC_RMID, nullptr);
    const int id = shmget(key, size, IPC_CREAT | 0666);
    if (id < 0) fail("shmget");
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) fail("shmat");
    return static_cast<unsigned char*>(address);
}

void padded(char* field, size_t capacity, const char* text, size_t width) {
    std::memset(field, 0, capacity);
    std::snprintf(field, capacity, "%-*s", static_cast<int>(width), text);
}

// A database as the data server builds it before reading a configuration.
int32_t build_database(const Options& options) {
    int32_t rec_len = 0;
    for (const UserFieldDSC& f : options.fields) rec_len += f.FieldLength;

    unsigned char* seg1 = create_segment(QX_KEY_SEGMENT1, QX_SEG1_SIZE);
    std::memset(seg1, 0xFF, QX_SEG1_SIZE);
    // Only what the attach and the access functions look at; the data
    // server itself sets every default from its configuration reader.
    VelmoSystem system{};
    system.n_tag = QX_N_TAG;
    system.n_roh = QX_N_ROH;
    system.takt = 5;
    system.inter = 180;
    padded(system.bezeichnung, sizeof system.bezeichnung, "KWZ GmbH 2013 RA-Vuvuvizi", 39);
    std::snprintf(system.dir_archiv, sizeof system.dir_archiv, "/home/kwz/QX_ARCHIV");
    padded(system.TagDefaultBez, sizeof system.TagDefaultBez, "** Undef **", 24);
    std::memcpy(seg1 + QX_SEG1_OFF_SYSTEM, &system, sizeof system);

    Info info{};
    info.TagAddMax = QX_TAGADD_MAX;
    info.TimeLastArchiv = info.TimeLastDetail = info.TimeLastTag = info.TimeLastTrend = GetNan();
    info.UserFieldCount = static_cast<int32_t>(options.fields.size());
    info.UserFieldRecLen = rec_len;
    for (size_t i = 0; i < options.fields.size(); ++i) info.UserFieldDsc[i] = options.fields[i];
    std::memcpy(seg1 + QX_SEG1_OFF_INFO, &info, sizeof info);

    const size_t seg2_size = QX_SEG2_FIXED_SIZE + size_t{QX_TAG_RECORDS} * static_cast<size_t>(rec_len);
    unsigned char* seg2 = create_segment(QX_KEY_SEGMENT2, seg2_size);
    std::memset(seg2, 0, seg2_size);
    for (int tag = 0; tag < QX_TAG_RECORDS; ++tag)
        for (const UserFieldDSC& f : options.fields)
            if (f.FieldType == UF_FLOAT || f.FieldType == UF_DOUBLE)
                std::memset(seg2 + QX_SEG2_OFF_USERFIELDS + tag * rec_len + f.FieldOffset, 0xFF,
                            static_cast<size_t>(f.FieldLength));
    return rec_len;
}

void answer(const QX_CommandMsg& request, int32_t rec_len, int answer_size) {
    const int32_t key = qx::parse_answer_key(request.text);
    const int queue = msgget(key, IPC_CREAT | 0666);
    if (queue < 0) {
        std::perror("SHM_DATA: msgget Sender fehler");
        return;
    }
    struct {
        QX_AttachAnswer answer;
        char more[1024];
    } message{};
    message.answer = qx::make_attach_answer(rec_len);
    if (msgsnd(queue, &message, static_cast<size_t>(answer_size), 0) != 0) std::perror("SHM_DATA: msgsend fehler");
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const int32_t rec_len = build_database(options);
    const int commands = msgget(QX_KEY_CMD_QUEUE, IPC_CREAT | 0666);
    if (commands < 0) fail("msgget of the command queue");
    std::printf("ready\n");
    std::fflush(stdout);

    for (;;) {
        QX_CommandMsg request{};
        if (msgrcv(commands, &request, QX_CMD_TEXT_SIZE, 0, 0) < 0) {
            if (errno == EINTR) continue;
            fail("msgrcv of the command queue");
        }
        switch (request.mtype) {
            case QX_CMD_ATTACH: answer(request, rec_len, options.answer_size); break;
            case QX_CMD_SAVECONFIG: break;
            case QX_CMD_STOP: msgctl(commands, IPC_RMID, nullptr); return 0;
            default: std::fprintf(stderr, "SHM_DATA: Unbekanntes Kommando\n"); break;
        }
    }
}
