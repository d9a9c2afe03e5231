// Internal helpers of the archive store shared by the file, write and read
// code: slot widths, file geometry taken from a validated open handle, index
// lookup and the logging channel.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "qx/archive.h"

namespace qx::archive {

inline constexpr uint32_t kHeaderSize = QX_ARCHIV_HEADER_SIZE;

inline bool kind_valid(int kind) { return kind >= 1 && kind <= 4; }
// Day files for kinds 1 and 2, hour files for 3 and 4.
inline bool is_detail(int kind) { return kind == 3 || kind == 4; }
inline bool is_status(int kind) { return kind == 2 || kind == 4; }
inline const char* extension_of(int kind) {
    switch (kind) {
    case 1: return QX_EXT_ARCHIV;
    case 2: return QX_EXT_ARCHIV_STATUS;
    case 3: return QX_EXT_DETAIL;
    default: return QX_EXT_DETAIL_STATUS;
    }
}

// The numbers of an open file that positions depend on, read from its
// validated header and index copies.
struct Geometry {
    int32_t ntags = 0;
    int32_t inter = 0;        // header Inter: slot length of the existing file
    int32_t ninter = 0;
    uint32_t width = 0;       // slot width of every entry
    uint32_t index_offset = 0;
    uint64_t row_bytes = 0;   // ntags x width: one time-major row
};

// Geometry of an open handle, or false when it has no header or index view
// (QXDBOpen2 keeps views only for files that passed its checks).
bool geometry(const QXDB& db, Geometry& out);

// The index entries of an open handle (empty without an index view).
std::span<const ArchivIndexEntry> index_entries(const QXDB& db);

// Index entry of a tag number, or null when the file doesn't hold it.
const ArchivIndexEntry* find_entry(const QXDB& db, int32_t tag);

// True when the tag list is exactly the file's index, in order, and the
// entries lie side by side as in a time-major row: a step of such a list
// replaces whole rows.
bool matches_row_layout(const QXDB& db, const Geometry& g, const int32_t* tags, int n);

// The state of the file a handle names: through its descriptor while open,
// else by path.  False when there is no such file (or it was removed).
bool stat_archive_file(const QXDB& db, struct stat& st);

// QXDBExtendSortTime that also tells whether the file's rows are exactly the
// given tag list (*whole_row), so the slot writer need not check it again.
int extend_sort_time(QXDB* db, const VelmoSystem* sys, short kind, int nTags, const int32_t* tagNrs, double time,
                     bool* whole_row);

// WriteArchivSortTime for a caller that has already found the tag list to be
// the file's whole row (whole_row), or does not know (false).
int write_sort_time(QXDB* db, double time, int kind, int n, const int32_t* tagNrs, const double* values,
                    const uint32_t* status, bool whole_row);

// The same lookup for tag lists that mostly follow the index order: the
// entry after the previous hit is tried first, then the index is bisected.
class EntryFinder {
public:
    explicit EntryFinder(const QXDB& db) : db_(db), index_(index_entries(db)) {}
    const ArchivIndexEntry* find(int32_t tag) {
        if (next_ < index_.size() && int32_t(index_[next_].TagNr) == tag) return &index_[next_++];
        const ArchivIndexEntry* e = find_entry(db_, tag);
        if (e != nullptr) next_ = size_t(e - index_.data()) + 1;
        return e;
    }

private:
    const QXDB& db_;
    std::span<const ArchivIndexEntry> index_;
    size_t next_ = 0;
};

// Byte offset of an entry's slot inside a time-major row, or -1 when the
// entry does not point into the first row (a corrupt index).
int64_t time_major_column(const ArchivIndexEntry& entry, const Geometry& g);

// Seconds that a time lies after the start of its file's period (day or
// hour), from its broken-down time (so rounded to the nearest second).
int32_t seconds_in_period(double time, bool hour_file);

// Reads or writes exactly size bytes at offset; returns the bytes done, or -1
// with errno set on an error.
int64_t read_at(int fd, void* buffer, size_t size, uint64_t offset);
int64_t write_at(int fd, const void* buffer, size_t size, uint64_t offset);

// Log queue message with code 0 (through writeMsg and this program's rMsq).
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qx::archive
