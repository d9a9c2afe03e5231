// Reading archive files by time range into a table of one row per slot time
// and one column per requested tag, and reading the minute trend.
//
// The slot times of one file are the same for every requested tag, so a
// file's slot list is worked out once and its rows are read in contiguous
// blocks, instead of one seek and read per element.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "archive_file.hpp"
#include "attach_state.hpp"
#include "qx/calendar.h"
#include "qx/util.h"

using namespace qx::archive;

namespace {

constexpr uint64_t kChunkBytes = 1u << 20;  // rows read per block, at most

// One slot time: the table row it fills and the file slot it comes from.
struct Sample {
    int64_t row;
    int32_t slot;
};

enum class Open { Ok, Missing, TooSmall, Unusable };

class RangeRead {
public:
    RangeRead(int kind, int interval, double start, int32_t n, const int32_t* tags, uint8_t* table,
              int64_t capacity)
        : interval_(interval), start_(start), n_(n), tags_(tags), table_(table),
          capacity_(capacity), width_(uint32_t(getTypeCodeLen(short(kind)))) {}

    int64_t highest() const { return highest_; }

    // The table row of a slot time: whole seconds elapsed since the start,
    // divided by the interval.  Seconds are rounded as broken-down times are,
    // and a fraction that rounds up to a whole day counts as that day.
    int64_t row_of(double time) const {
        const double elapsed = time - start_;
        const double days = std::floor(elapsed);
        const double seconds = (elapsed - days) * 86400.0;
        int64_t whole = int64_t(seconds);
        if (seconds - double(whole) > 0.5) ++whole;
        return (int64_t(days) * 86400 + whole) / interval_;
    }

    // Stores the samples of one open file (time-major or tag-major).
    void gather(QXDB& db, const std::vector<Sample>& samples, bool tag_major);

private:
    bool element_empty(const uint8_t* p) const {
        if (width_ == sizeof(double)) {
            double v;
            std::memcpy(&v, p, sizeof v);
            return v != v;
        }
        uint32_t s;
        std::memcpy(&s, p, sizeof s);
        return s == ST_NONE;
    }
    void note_row(int64_t row) {
        if (row <= highest_) return;
        const uint8_t* p = table_ + size_t(row) * size_t(n_) * width_;
        for (int32_t k = 0; k < n_; ++k)
            if (!element_empty(p + size_t(k) * width_)) {
                highest_ = row;
                return;
            }
    }
    void report_read_error(int64_t got) {
        if (got < 0 && errno == EINVAL)
            ux_print_moni("ReadArchivUTC(): lseek(2): err=%d(%s)", errno, strerror(errno));
        else
            ux_print_moni("ReadArchivUTC(): read(): err=%d(%s)", errno, strerror(errno));
    }
    void gather_time_major(QXDB& db, const Geometry& g, const std::vector<Sample>& samples);
    void gather_tag_major(QXDB& db, const Geometry& g, const std::vector<Sample>& samples);

    int interval_;
    double start_;
    int32_t n_;
    const int32_t* tags_;
    uint8_t* table_;
    int64_t capacity_;
    uint32_t width_;
    int64_t highest_ = -1;
    std::vector<int64_t> columns_;
    std::vector<uint8_t> chunk_;
};

void RangeRead::gather(QXDB& db, const std::vector<Sample>& samples, bool tag_major) {
    Geometry g;
    if (samples.empty() || !geometry(db, g)) return;
    if (g.width != width_) {
        ux_print_moni("ReadArchivUTC(): %s: Slotbreite %u statt %u", db.Path, g.width, width_);
        return;
    }
    if (tag_major)
        gather_tag_major(db, g, samples);
    else
        gather_time_major(db, g, samples);
}

void RangeRead::gather_time_major(QXDB& db, const Geometry& g, const std::vector<Sample>& samples) {
    columns_.assign(size_t(n_), -1);
    bool identity = g.ntags == n_;
    EntryFinder finder(db);
    for (int32_t k = 0; k < n_; ++k) {
        const ArchivIndexEntry* entry = finder.find(tags_[k]);
        if (entry != nullptr) columns_[size_t(k)] = time_major_column(*entry, g);
        identity = identity && columns_[size_t(k)] == int64_t(k) * int64_t(width_);
    }
    const size_t table_row = size_t(n_) * width_;
    const uint64_t rows_per_chunk = std::max<uint64_t>(1, kChunkBytes / g.row_bytes);
    size_t i = 0;
    while (i < samples.size()) {
        // A run of samples whose slots follow each other (and rows too).
        size_t end = i + 1;
        while (end < samples.size() && samples[end].slot >= samples[i].slot &&
               uint64_t(samples[end].slot - samples[i].slot) < rows_per_chunk)
            ++end;
        if (identity) {
            // The request is the file's own column order: rows go straight
            // into the table, run by run.
            size_t j = i;
            while (j < end) {
                size_t m = j + 1;
                while (m < end && samples[m].slot == samples[m - 1].slot + 1 && samples[m].row == samples[m - 1].row + 1)
                    ++m;
                const int64_t row0 = samples[j].row;
                const int64_t count = int64_t(m - j);
                if (row0 >= 0 && row0 + count <= capacity_) {
                    errno = 0;
                    const int64_t want = count * int64_t(g.row_bytes);
                    const int64_t got = read_at(db.fd, table_ + size_t(row0) * table_row, size_t(want),
                                                kHeaderSize + uint64_t(samples[j].slot) * g.row_bytes);
                    if (got != want) {
                        report_read_error(got);
                        if (got > 0) std::memset(table_ + size_t(row0) * table_row + got, 0xFF, size_t(want - got));
                    }
                    for (int64_t r = row0 + count - 1; r >= row0 && r > highest_; --r) note_row(r);
                }
                j = m;
            }
            i = end;
            continue;
        }
        const int32_t first = samples[i].slot;
        const uint64_t span = uint64_t(samples[end - 1].slot - first + 1) * g.row_bytes;
        if (chunk_.size() < span) chunk_.resize(size_t(span));
        std::memset(chunk_.data(), 0xFF, size_t(span));
        errno = 0;
        const int64_t got = read_at(db.fd, chunk_.data(), size_t(span), kHeaderSize + uint64_t(first) * g.row_bytes);
        if (got != int64_t(span)) report_read_error(got);
        for (size_t s = i; s < end; ++s) {
            const int64_t row = samples[s].row;
            if (row < 0 || row >= capacity_) continue;
            const uint8_t* src = chunk_.data() + uint64_t(samples[s].slot - first) * g.row_bytes;
            uint8_t* dst = table_ + size_t(row) * table_row;
            for (int32_t k = 0; k < n_; ++k)
                if (columns_[size_t(k)] >= 0)
                    std::memcpy(dst + size_t(k) * width_, src + columns_[size_t(k)], width_);
            note_row(row);
        }
        i = end;
    }
}

void RangeRead::gather_tag_major(QXDB& db, const Geometry& g, const std::vector<Sample>& samples) {
    const uint64_t block = uint64_t(g.ninter) * g.width;
    const size_t table_row = size_t(n_) * width_;
    for (int32_t k = 0; k < n_; ++k) {
        const ArchivIndexEntry* entry = find_entry(db, tags_[k]);
        if (entry == nullptr || uint64_t(entry->Offset) + block > g.index_offset) continue;
        for (const Sample& s : samples) {
            if (s.row < 0 || s.row >= capacity_) continue;
            uint8_t* dst = table_ + size_t(s.row) * table_row + size_t(k) * width_;
            errno = 0;
            const int64_t got = read_at(db.fd, dst, width_, entry->Offset + uint64_t(s.slot) * width_);
            if (got != int64_t(width_)) report_read_error(got);
        }
    }
    for (const Sample& s : samples)
        if (s.row >= 0 && s.row < capacity_) note_row(s.row);
}

// A reader wrote nothing, so it closes without the fsync of QXDBClose2
// (which would wait for the disk on every file read).
void close_read_only(QXDB& db) {
    std::free(db.Header);
    std::free(db.Index);
    db.Header = nullptr;
    db.Index = nullptr;
    if (db.fd > 0) close(db.fd);
    db.fd = -1;
}

Open open_file(QXDB& db, bool first, bool tag_major) {
    struct stat st;
    if (stat(db.Path, &st) != 0) {
        ux_print_moni(first ? "Archiv: %s nicht vorhanden" : "Archiv(B): %s nicht vorhanden", db.Path);
        return Open::Missing;
    }
    if (st.st_size <= QX_ARCHIV_MIN_FILE) {
        ux_print_moni(first ? "ReadArchivUTC(): Datei zu klein: %s" : "ReadArchivUTC(B): Datei zu klein: %s",
                      db.Path);
        return Open::TooSmall;
    }
    QXDBOpen2(&db);
    if (tag_major)
        ux_print_moni("Archiv: %s", db.Path);
    else
        ux_print_moni(first ? "ReadArchivSortTime(A): Datei geoeffnet: %s" : "ReadArchivSortTime(): Datei geoeffnet: %s",
                      db.Path);
    if (db.Header == nullptr || db.Index == nullptr || db.Header->Inter == 0) {
        close_read_only(db);
        ux_print_moni(first ? "ArchivDateiname: %s Header->Inter == 0" : "ArchivDateiname(B): %s Header->Inter == 0",
                      db.Path);
        return Open::Unusable;
    }
    return Open::Ok;
}

bool same_date(const time_velmo& a, const time_velmo& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

// kind 1..4 for time-major files; kind 0 reads the tag-major file the caller
// named (values, as kind 1).
int32_t read_range(QXDB* db, int kind, double start, double end, const VelmoSystem* sys, int32_t n,
                   const int32_t* tags, int32_t* rows, double** values, uint32_t** status) {
    const bool tag_major = kind == 0;
    const int file_kind = tag_major ? 1 : kind;
    if (!kind_valid(file_kind)) return -12;
    if (rows == nullptr || (is_status(file_kind) ? status == nullptr : values == nullptr)) return -12;
    const int interval = is_detail(file_kind) ? sys->stoer_takt : sys->inter;
    const uint32_t width = uint32_t(getTypeCodeLen(short(file_kind)));

    start = TrimTime(interval > 0 ? interval : 1, start);
    const double end_rounded = TrimTime(interval > 0 ? interval : 1, end) + interval / 172800.0;
    const double span = interval > 0 ? std::ceil((end_rounded - start) * 86400.0 / interval) + 2 : 0;
    const int64_t capacity = span > 0 ? int64_t(span) : 0;
    *rows = int32_t(std::min<int64_t>(capacity, INT32_MAX));
    if (values != nullptr && *values != nullptr) {
        std::free(*values);
        *values = nullptr;
    }
    if (status != nullptr && *status != nullptr) {
        std::free(*status);
        *status = nullptr;
    }
    // Without tags, or with a slot length of 0 configured, there is nothing
    // to read (and nothing to divide by).
    if (n < 1 || interval <= 0) {
        *rows = 0;
        return 0;
    }
    const uint64_t bytes = uint64_t(capacity) * uint64_t(n) * width;
    if (capacity > INT32_MAX || bytes / width / uint64_t(n) != uint64_t(capacity)) {
        *rows = 0;
        return -1;
    }
    auto* table = static_cast<uint8_t*>(std::malloc(bytes ? size_t(bytes) : 1));
    if (table == nullptr) {
        *rows = 0;
        return -1;
    }
    std::memset(table, 0xFF, size_t(bytes));
    if (is_status(file_kind))
        *status = reinterpret_cast<uint32_t*>(table);
    else
        *values = reinterpret_cast<double*>(table);

    RangeRead reader(file_kind, interval, start, n, tags, table, capacity);
    const bool detail = is_detail(file_kind);
    const char* ext = extension_of(file_kind);
    const double step = interval / 86400.0;
    const int64_t first_day = int64_t(std::floor(start));
    const int64_t last_day = int64_t(std::floor(end_rounded));
    std::vector<Sample> samples;
    bool stop = false;
    for (int64_t day = first_day; day <= last_day && !stop; ++day) {
        const double d = double(day);
        double t = day == first_day ? start - d : 0.0;
        const double limit = day < last_day ? 1.0 : end_rounded - d;
        time_velmo day_date{};
        JulToTime(d, &day_date);
        // The caller's handle when it gives one (a tag-major read needs its
        // name), else one of our own.
        QXDB local{};
        QXDB& file = db != nullptr ? *db : local;
        bool first = true;
        bool usable = false;
        samples.clear();
        while (t < limit) {
            const double when = d + t;
            if (!tag_major && (detail || first)) {
                char previous[sizeof file.Path];
                std::memcpy(previous, file.Path, sizeof previous);
                MakeReadArchivName2(&file, file_kind, ext, sys, detail ? when : d);
                if (first || std::strncmp(previous, file.Path, sizeof previous) != 0) {
                    if (!first) {
                        reader.gather(file, samples, false);
                        samples.clear();
                        close_read_only(file);
                    }
                    const Open state = open_file(file, first, false);
                    if (state == Open::TooSmall) {
                        stop = first;  // a too-small first file ends the whole read
                        break;         // a later hour file ends this day
                    }
                    usable = state == Open::Ok;
                    first = false;
                }
            } else if (first) {
                const Open state = open_file(file, true, true);
                if (state == Open::TooSmall) {
                    stop = true;
                    break;
                }
                usable = state == Open::Ok;
                first = false;
            }
            if (usable) {
                time_velmo tv{};
                JulToTime(when, &tv);
                // A time that rounds up into the next day is that day's
                // first slot, not this file's.
                if (!detail && !same_date(tv, day_date)) break;
                const int32_t seconds = detail ? tv.min * 60 + tv.sec : tv.hour * 3600 + tv.min * 60 + tv.sec;
                const int32_t slot = seconds / file.Header->Inter;
                if (slot >= file.Header->NInter) break;
                samples.push_back({reader.row_of(when), slot});
            } else if (!detail) {
                break;  // a skipped day file has nothing more for this day
            }
            t += step;
        }
        reader.gather(file, samples, tag_major);
        close_read_only(file);  // a caller's tag-major handle keeps its name
    }
    const int64_t count = reader.highest() + 1;
    *rows = int32_t(count);
    return 0;
}

int32_t read_kind(int kind, bool local, double start, double end, const VelmoSystem* sys, int32_t n,
                  const int32_t* tags, int32_t* rows, double** values, uint32_t** status) {
    if (local) {
        start = LocalTimeToUTC(KWZ_TimeZone, 0, start);
        end = LocalTimeToUTC(KWZ_TimeZone, 0, end);
    }
    QXDB db{};
    return read_range(&db, kind, start, end, sys, n, tags, rows, values, status);
}

int32_t read_trend(double now, double* start, double* end, int32_t n, const int32_t* tags, int32_t* rows,
                   double** values) {
    *rows = QX_TREND_SLOTS;
    if (*values != nullptr) {
        std::free(*values);
        *values = nullptr;
    }
    const size_t count = size_t(QX_TREND_SLOTS) * size_t(n > 0 ? n : 0);
    auto* table = static_cast<double*>(std::malloc(count ? count * sizeof(double) : 1));
    if (table == nullptr) return 0;
    std::memset(table, 0xFF, count * sizeof(double));
    *values = table;
    time_velmo tv{};
    JulToTime(now, &tv);
    tv.sec = 0;
    *end = TimeToJul(tv) + 60 / 86400.0;
    *start = *end - 1 / 24.0;
    JulToTime(*end, &tv);
    int slot = tv.min;
    const TagsInternal* trend = qx::attach_state().tags_internal;
    for (int j = 0; j < QX_TREND_SLOTS; ++j) {
        for (int32_t k = 0; k < n; ++k)
            if (trend != nullptr && tags[k] >= 0 && tags[k] <= QX_N_TAG)
                table[size_t(j) * size_t(n) + size_t(k)] = trend[tags[k]].Trend[slot];
        slot = (slot + 1) % QX_TREND_SLOTS;
    }
    return 0;
}

}  // namespace

extern "C" {

int32_t ReadArchivSortTime(QXDB* db, int kind, double start, double end, const VelmoSystem* sys, const Tags*,
                           int32_t n, const int32_t* tagNrs, int32_t* rows, double** values, uint32_t** status) {
    if (!kind_valid(kind)) return -12;
    return read_range(db, kind, start, end, sys, n, tagNrs, rows, values, status);
}

int32_t ReadArchivSortTags(QXDB* db, double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                           const int32_t* tagNrs, int32_t* rows, double** values) {
    return read_range(db, 0, start, end, sys, n, tagNrs, rows, values, nullptr);
}

int32_t ReadArchivUTC(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                      const int32_t* tagNrs, int32_t* rows, double** values) {
    return read_kind(1, false, start, end, sys, n, tagNrs, rows, values, nullptr);
}
int32_t ReadArchiv(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n, const int32_t* tagNrs,
                   int32_t* rows, double** values) {
    return read_kind(1, true, start, end, sys, n, tagNrs, rows, values, nullptr);
}
int32_t ReadArchivStatusUTC(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                            const int32_t* tagNrs, int32_t* rows, uint32_t** status) {
    return read_kind(2, false, start, end, sys, n, tagNrs, rows, nullptr, status);
}
int32_t ReadArchivStatus(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                         const int32_t* tagNrs, int32_t* rows, uint32_t** status) {
    return read_kind(2, true, start, end, sys, n, tagNrs, rows, nullptr, status);
}
int32_t ReadDetailUTC(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                      const int32_t* tagNrs, int32_t* rows, double** values) {
    return read_kind(3, false, start, end, sys, n, tagNrs, rows, values, nullptr);
}
int32_t ReadDetail(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n, const int32_t* tagNrs,
                   int32_t* rows, double** values) {
    return read_kind(3, true, start, end, sys, n, tagNrs, rows, values, nullptr);
}
int32_t ReadDetailStatusUTC(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                            const int32_t* tagNrs, int32_t* rows, uint32_t** status) {
    return read_kind(4, false, start, end, sys, n, tagNrs, rows, nullptr, status);
}
int32_t ReadDetailStatus(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                         const int32_t* tagNrs, int32_t* rows, uint32_t** status) {
    return read_kind(4, true, start, end, sys, n, tagNrs, rows, nullptr, status);
}

int32_t ReadTrendUTC(double* start, double* end, const VelmoSystem*, const Tags*, int32_t n, const int32_t* tagNrs,
                     int32_t* rows, double** values) {
    return read_trend(NowUTC(), start, end, n, tagNrs, rows, values);
}
int32_t ReadTrend(double* start, double* end, const VelmoSystem*, const Tags*, int32_t n, const int32_t* tagNrs,
                  int32_t* rows, double** values) {
    return read_trend(Now(), start, end, n, tagNrs, rows, values);
}

}  // extern "C"
