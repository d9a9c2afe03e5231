// qx_inspect: looks into a running system.  Attaches to the data server and
// prints the tags, the raw values, a range of the interval archive as CSV or
// the waiting log messages, or asks every program to stop.
//
//   qx_inspect tags [NR...]        configured tags (Fkt != 0), or the given ones
//   qx_inspect raw [NR...]         raw values written so far, or the given ones
//   qx_inspect archive [--status] [--detail] [--verbose] (--last SECONDS | --from TIME --to TIME) NR...
//                                  archive rows as CSV (UTC times)
//   qx_inspect log                 takes the waiting messages off the log queue
//   qx_inspect stop                sets Stop and sends the data server its stop command
//
// TIME is "now", "now-SECONDS" or a UTC time "YYYY-MM-DD HH:MM[:SS]" (a 'T'
// may replace the blank).
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "attach_state.hpp"
#include "qx.h"

namespace {

constexpr double kUnixEpochJul = 25569.0;  // 1970-01-01 as a Jul day

void Usage() {
    std::fputs(
        "usage: qx_inspect tags [NR...]\n"
        "       qx_inspect raw [NR...]\n"
        "       qx_inspect archive [--status] [--detail] [--verbose] (--last SECONDS | --from TIME --to TIME) NR...\n"
        "       qx_inspect log\n"
        "       qx_inspect stop\n"
        "TIME: now, now-SECONDS, or UTC \"YYYY-MM-DD HH:MM[:SS]\"\n",
        stderr);
}

struct Database {
    VelmoSystem* sys = nullptr;
    Rohwerte* roh = nullptr;
    Tags* tags = nullptr;
};

// A whole decimal number in [low, high], or nothing.
std::optional<long> ParseNumber(std::string_view text, long low, long high) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<std::vector<int32_t>> ParseNumbers(char** first, char** last, long high) {
    std::vector<int32_t> numbers;
    for (char** arg = first; arg != last; ++arg) {
        const auto number = ParseNumber(*arg, 1, high);
        if (!number) {
            std::fprintf(stderr, "qx_inspect: \"%s\" is not a number between 1 and %ld\n", *arg, high);
            return std::nullopt;
        }
        numbers.push_back(static_cast<int32_t>(*number));
    }
    return numbers;
}

// Fixed-width text of a record field: up to the first NUL, trailing blanks
// dropped, anything unprintable shown as '?'.
std::string FieldText(const char* field, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && field[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string Number(double value) {
    if (std::isnan(value)) return "#QNAN";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// The UTC time of epoch seconds in a strftime format.
std::string Utc(int64_t epoch, const char* format) {
    const time_t t = static_cast<time_t>(epoch);
    tm utc{};
    gmtime_r(&t, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, format, &utc);
    return buffer;
}

std::string UtcDateTime(int64_t epoch) { return Utc(epoch, "%Y-%m-%d %H:%M:%S"); }

int ShowTags(const Database& db, const std::vector<int32_t>& wanted) {
    std::printf("%5s  %-31s %4s %14s %10s %14s\n", "Nr", "Bez", "Fkt", "Ist", "Status", "Mittel");
    const auto show = [&](int nr) {
        const Tags& t = db.tags[nr];
        std::printf("%5d  %-31s %4d %14s   %08" PRIX32 " %14s\n", nr, FieldText(t.Bez, sizeof t.Bez).c_str(), t.Fkt,
                    Number(t.Ist).c_str(), t.Status, Number(t.Mittel).c_str());
    };
    if (!wanted.empty()) {
        for (const int32_t nr : wanted) show(nr);
        return 0;
    }
    for (int nr = 1; nr <= QX_N_TAG; ++nr)
        if (db.tags[nr].Fkt != 0) show(nr);
    return 0;
}

int ShowRaw(const Database& db, const std::vector<int32_t>& wanted) {
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    std::printf("%5s %14s %10s %10s %12s  %s\n", "Nr", "Ist", "Status", "WriteTime", "ValidUntil", "Info");
    const auto show = [&](int nr) {
        const Rohwerte& r = db.roh[nr];
        const bool written = r.WriteTime != 0 && r.WriteTime != 0xFFFFFFFFu;
        std::string valid = "never";
        if (r.ValidUntil != QX_VALID_FOREVER)
            valid = r.ValidUntil >= now ? "+" + std::to_string(r.ValidUntil - now) + " s" : "expired";
        std::printf("%5d %14s   %08" PRIX32 " %10s %12s  %s\n", nr, Number(r.Ist).c_str(), r.Status,
                    written ? Utc(r.WriteTime, "%H:%M:%S").c_str() : "-", valid.c_str(),
                    FieldText(r.Info, sizeof r.Info).c_str());
    };
    if (!wanted.empty()) {
        for (const int32_t nr : wanted) show(nr);
        return 0;
    }
    for (int nr = 1; nr <= QX_N_ROH; ++nr) {
        const uint32_t written = db.roh[nr].WriteTime;
        if (written != 0 && written != 0xFFFFFFFFu) show(nr);
    }
    return 0;
}

double JulOfEpoch(int64_t epoch) {
    const time_t t = static_cast<time_t>(epoch);
    tm utc{};
    gmtime_r(&t, &utc);
    return TimeToJul(time_velmo{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec});
}

int64_t EpochOfJul(double jul) { return std::llround((jul - kUnixEpochJul) * 86400.0); }

// "now", "now-SECONDS" or "YYYY-MM-DD[ T]HH:MM[:SS]" (UTC) as epoch seconds.
std::optional<int64_t> ParseTime(std::string_view text) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (text == "now") return now;
    if (text.substr(0, 4) == "now-") {
        const auto back = ParseNumber(text.substr(4), 0, 100L * 366 * 86400);
        if (!back) return std::nullopt;
        return now - *back;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const std::string s(text);
    const int got = std::sscanf(s.c_str(), "%4d-%2d-%2d%*1[ T]%2d:%2d%n:%2d%n", &year, &month, &day, &hour, &minute,
                                &used, &second, &used);
    if (got < 5 || static_cast<size_t>(used) != s.size()) return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return static_cast<int64_t>(timegm(&utc));
}

// The library reports on the monitor output (standard output).  While it
// attaches or reads, that output goes elsewhere, so tables and CSV stay clean.
class MonitorRedirect {
public:
    enum Target { kDiscard, kStderr };
    explicit MonitorRedirect(Target target) {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int fd = target == kStderr ? STDERR_FILENO : open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && fd >= 0) dup2(fd, STDOUT_FILENO);
        if (target == kDiscard && fd >= 0) close(fd);
    }
    ~MonitorRedirect() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    MonitorRedirect(const MonitorRedirect&) = delete;
    MonitorRedirect& operator=(const MonitorRedirect&) = delete;

private:
    int saved_ = -1;
};

// The attach's own report lines are of no use here; a failure is reported
// with its code.
std::optional<Database> Attach(int argc, char** argv) {
    Database db;
    int attached = 0;
    {
        MonitorRedirect silenced(MonitorRedirect::kDiscard);
        attached = QXInit(argc, argv, 0, nullptr, &db.sys, &db.roh, &db.tags);
    }
    if (attached < 1) {
        std::fprintf(stderr, "qx_inspect: no data server to attach to (QXInit %d)\n", attached);
        return std::nullopt;
    }
    return db;
}

struct ArchiveRequest {
    bool status = false;
    bool detail = false;
    bool verbose = false;
    int64_t from = 0;
    int64_t to = 0;
    std::vector<int32_t> tags;
};

std::optional<ArchiveRequest> ParseArchiveRequest(int argc, char** argv) {
    ArchiveRequest request;
    std::optional<int64_t> from, to, last;
    int i = 0;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--status") {
            request.status = true;
        } else if (arg == "--detail") {
            request.detail = true;
        } else if (arg == "--verbose") {
            request.verbose = true;
        } else if (arg == "--last" && has_value) {
            last = ParseNumber(argv[++i], 1, 100L * 366 * 86400);
            if (!last) {
                std::fprintf(stderr, "qx_inspect: --last wants a number of seconds, not \"%s\"\n", argv[i]);
                return std::nullopt;
            }
        } else if ((arg == "--from" || arg == "--to") && has_value) {
            const auto time = ParseTime(argv[++i]);
            if (!time) {
                std::fprintf(stderr, "qx_inspect: \"%s\" is not a time\n", argv[i]);
                return std::nullopt;
            }
            (arg == "--from" ? from : to) = time;
        } else if (arg.substr(0, 2) == "--") {
            std::fprintf(stderr, "qx_inspect: unknown or incomplete option \"%s\"\n", argv[i]);
            return std::nullopt;
        } else {
            break;
        }
    }
    if (last) {
        request.to = static_cast<int64_t>(std::time(nullptr));
        request.from = request.to - *last;
    } else if (from && to) {
        request.from = *from;
        request.to = *to;
    } else {
        std::fputs("qx_inspect: archive needs --last SECONDS or --from TIME --to TIME\n", stderr);
        return std::nullopt;
    }
    auto tags = ParseNumbers(argv + i, argv + argc, QX_N_TAG);
    if (!tags) return std::nullopt;
    if (tags->empty()) {
        std::fputs("qx_inspect: archive needs at least one tag number\n", stderr);
        return std::nullopt;
    }
    request.tags = std::move(*tags);
    return request;
}

// One CSV line per slot time that holds at least one element: the UTC time,
// then per tag its value (empty when there is none) and, with --status, its
// status word in hexadecimal (empty when none was archived).
int ShowArchive(const Database& db, const ArchiveRequest& request) {
    const int interval = request.detail ? db.sys->stoer_takt : db.sys->inter;
    if (interval <= 0) {
        std::fprintf(stderr, "qx_inspect: the %s archive is switched off (period %d)\n",
                     request.detail ? "detail" : "interval", interval);
        return 1;
    }
    const double start = JulOfEpoch(request.from);
    const double end = JulOfEpoch(request.to);
    const int32_t n = static_cast<int32_t>(request.tags.size());
    int32_t value_rows = 0, status_rows = 0;
    double* values = nullptr;
    uint32_t* status = nullptr;
    {
        // Which files were opened or missing: on standard error with --verbose.
        MonitorRedirect report(request.verbose ? MonitorRedirect::kStderr : MonitorRedirect::kDiscard);
        const auto read_values = request.detail ? ReadDetailUTC : ReadArchivUTC;
        const auto read_status = request.detail ? ReadDetailStatusUTC : ReadArchivStatusUTC;
        read_values(start, end, db.sys, db.tags, n, request.tags.data(), &value_rows, &values);
        if (request.status) read_status(start, end, db.sys, db.tags, n, request.tags.data(), &status_rows, &status);
    }

    std::printf("time_utc");
    for (const int32_t tag : request.tags) {
        std::printf(",%d", tag);
        if (request.status) std::printf(",%d.status", tag);
    }
    std::printf("\n");

    const int64_t first = EpochOfJul(TrimTime(interval, start));
    const int32_t rows = value_rows > status_rows ? value_rows : status_rows;
    for (int32_t r = 0; r < rows; ++r) {
        std::string line = UtcDateTime(first + int64_t{r} * interval);
        bool any = false;
        for (int32_t k = 0; k < n; ++k) {
            line += ',';
            if (r < value_rows) {
                const double v = values[size_t(r) * size_t(n) + size_t(k)];
                if (!std::isnan(v)) {
                    char cell[32];
                    std::snprintf(cell, sizeof cell, "%.15g", v);
                    line += cell;
                    any = true;
                }
            }
            if (!request.status) continue;
            line += ',';
            if (r < status_rows) {
                const uint32_t s = status[size_t(r) * size_t(n) + size_t(k)];
                if (s != 0xFFFFFFFFu) {
                    char cell[16];
                    std::snprintf(cell, sizeof cell, "%08" PRIX32, s);
                    line += cell;
                    any = true;
                }
            }
        }
        if (any) std::printf("%s\n", line.c_str());
    }
    std::free(values);
    std::free(status);
    return 0;
}

int ShowLog() {
    sMsq queue{-1, QX_KEY_LOG_QUEUE};
    if (openMsg(&queue) != 0) {
        std::fputs("qx_inspect: no log queue\n", stderr);
        return 1;
    }
    for (;;) {
        QX_LogMsg message{};
        int32_t length = QX_LOG_RECORD_LEN;
        if (rcvMsg(&queue, &message, &length) <= 0) break;
        size_t length_of_text = strnlen(message.text, sizeof message.text);
        while (length_of_text > 0 && (message.text[length_of_text - 1] == '\n' || message.text[length_of_text - 1] == '\r'))
            --length_of_text;
        const std::string text = FieldText(message.text, length_of_text);
        std::printf("%s pid %d sev %d code %d: %s\n", UtcDateTime(message.time).c_str(), message.pid,
                    message.severity, message.code, text.c_str());
    }
    return 0;
}

// Stop ends the core and the other polling programs; the data server ends on
// its own command.
int RequestStop() {
    Info* info = qx::attach_state().info;
    if (info != nullptr) info->Stop = 1;
    sMsq command{-1, QX_KEY_CMD_QUEUE};
    if (openMsg(&command) != 0) return 1;
    QX_CommandMsg message{};
    message.mtype = QX_CMD_STOP;
    int32_t length = QX_CMD_TEXT_SIZE + 4;
    return sndMsg(&command, &message, &length) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    const std::string_view command = argv[1];
    char** rest = argv + 2;
    const int rest_count = argc - 2;

    if (command == "log") return ShowLog();

    std::optional<std::vector<int32_t>> numbers;
    std::optional<ArchiveRequest> archive;
    if (command == "tags") numbers = ParseNumbers(rest, rest + rest_count, QX_N_TAG);
    else if (command == "raw") numbers = ParseNumbers(rest, rest + rest_count, QX_N_ROH);
    else if (command == "archive") archive = ParseArchiveRequest(rest_count, rest);
    else if (command != "stop") {
        Usage();
        return 2;
    }
    if (command != "stop" && !numbers && !archive) return 2;

    const auto db = Attach(argc, argv);
    if (!db) return 1;
    if (command == "tags") return ShowTags(*db, *numbers);
    if (command == "raw") return ShowRaw(*db, *numbers);
    if (command == "archive") return ShowArchive(*db, *archive);
    return RequestStop();
}
