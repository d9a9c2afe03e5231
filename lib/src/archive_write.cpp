// Writing archive files: the slot writers of both layouts and the direct
// writers the data server calls with the contents of one queue message.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "archive_file.hpp"
#include "qx/util.h"

using namespace qx::archive;

namespace {

// The row buffer stays with the thread: the data server writes a step per
// message and should not allocate for each one.
std::vector<uint8_t>& row_buffer(size_t size) {
    thread_local std::vector<uint8_t> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer;
}

// Common start of both slot writers: the file must exist, be larger than a
// header and one entry, and open with its views.  False means write nothing.
bool prepare_file(QXDB* db, bool log_to_queue) {
    struct stat st;
    if (!stat_archive_file(*db, st)) {
        if (log_to_queue)
            log_error("ERROR: WriteArchivIntern: Archiv-Datei nicht gefunden: %s", db->Path);
        else
            ux_print_moni("ERROR: WriteArchivIntern: Archiv-Datei nicht gefunden: %s", db->Path);
        return false;
    }
    db->FileSize = uint32_t(st.st_size);
    if (st.st_size <= QX_ARCHIV_MIN_FILE) return false;
    if (db->fd <= 0) QXDBOpen2(db);
    return db->Header != nullptr && db->Index != nullptr;
}

void write_row(const QXDB& db, const void* row, uint64_t bytes, uint64_t pos) {
    errno = 0;
    const int64_t put = write_at(db.fd, row, size_t(bytes), pos);
    if (put < 0 && errno == EINVAL)
        log_error("WriteArchivInter(): lseek(2): err=%d(%s)", errno, strerror(errno));
    else if (put != int64_t(bytes))
        log_info("WriteArchivInter(): write(): err=%d(%s)", errno, strerror(errno));
}

int direct_write(QXDB* db, int kind, const char* fail_text, double time, int n, const VelmoSystem* sys,
                 const int32_t* tags, const double* values, const uint32_t* status) {
    char previous[sizeof db->Path];
    std::memcpy(previous, db->Path, sizeof previous);
    MakeReadArchivName2(db, kind, extension_of(kind), sys, time);
    // The step goes to the file of its own time.
    if (db->fd > 0 && std::strncmp(previous, db->Path, sizeof previous) != 0) QXDBClose2(db, 0);
    bool whole_row = false;
    const int extended = extend_sort_time(db, sys, short(kind), n, tags, time, &whole_row);
    if (extended < 0) ux_print_moni(fail_text, extended);
    return write_sort_time(db, time, kind, n, tags, values, status, whole_row);
}

}  // namespace

int qx::archive::write_sort_time(QXDB* db, double time, int kind, int n, const int32_t* tagNrs,
                                 const double* values, const uint32_t* status, bool whole_row) {
    if (n <= 0) return 0;
    if (!kind_valid(kind)) return 0;
    if (!prepare_file(db, true)) return 0;
    Geometry g;
    geometry(*db, g);
    const uint32_t width = uint32_t(getTypeCodeLen(short(kind)));
    if (g.width != width) {
        // A file of another kind under this name: writing would shift slots.
        ux_print_moni("WriteArchivInter(): %s: Slotbreite %u statt %u", db->Path, g.width, width);
        return 0;
    }
    const int64_t row = seconds_in_period(time, is_detail(kind)) / g.inter;
    if (row >= g.ninter) return 0;
    const uint64_t pos = kHeaderSize + uint64_t(row) * g.row_bytes;
    if (whole_row || matches_row_layout(*db, g, tagNrs, n)) {
        // The step covers every slot of the row: nothing of the old row stays.
        const void* row = is_status(kind) ? static_cast<const void*>(status) : static_cast<const void*>(values);
        write_row(*db, row, g.row_bytes, pos);
        return 0;
    }
    uint8_t* data = nullptr;
    try {
        data = row_buffer(size_t(g.row_bytes)).data();
    } catch (const std::bad_alloc&) {
        log_error("ERROR: WriteArchivIntern: Index == NULL");
        return -4;
    }
    // Reading the row first keeps the slots of tags this step doesn't carry;
    // what can't be read is taken as empty.
    errno = 0;
    const int64_t got = read_at(db->fd, data, size_t(g.row_bytes), pos);
    if (got != int64_t(g.row_bytes)) {
        if (got < 0 && errno == EINVAL)
            log_error("WriteArchivInter(): lseek(2) read old val: err=%d(%s)", errno, strerror(errno));
        else
            log_info("WriteArchivInter(): read() old val: err=%d(%s)", errno, strerror(errno));
        const size_t kept = got > 0 ? size_t(got) : 0;
        std::memset(data + kept, 0xFF, size_t(g.row_bytes) - kept);
    }
    EntryFinder finder(*db);
    for (int i = 0; i < n; ++i) {
        const ArchivIndexEntry* entry = finder.find(tagNrs[i]);
        const int64_t column = entry ? time_major_column(*entry, g) : -1;
        if (column < 0) continue;
        if (is_status(kind))
            std::memcpy(data + column, status + i, sizeof(uint32_t));
        else
            std::memcpy(data + column, values + i, sizeof(double));
    }
    write_row(*db, data, g.row_bytes, pos);
    return 0;
}

extern "C" {

int WriteArchivSortTime(QXDB* db, double time, int kind, int n, const int32_t* tagNrs, const double* values,
                        const uint32_t* status) {
    return write_sort_time(db, time, kind, n, tagNrs, values, status, false);
}

int WriteArchivSortTags(QXDB* db, int mode, int n, const int32_t* tagNrs, const double* values, double time) {
    if (n <= 0) return 0;
    const int extended = QXDBExtendSortTags(db, 1, n, tagNrs);
    if (extended < 0) ux_print_moni("ERROR: TestArchivDatei: nErr=%d", extended);
    if (!prepare_file(db, false)) return 0;
    Geometry g;
    geometry(*db, g);
    if (g.width != sizeof(double)) return 0;
    const int64_t slot = seconds_in_period(time, false) / g.inter;
    if (slot >= g.ninter) return 0;
    const uint64_t block = uint64_t(g.ninter) * g.width;
    for (int i = 0; i < n; ++i) {
        const ArchivIndexEntry* entry = find_entry(*db, tagNrs[i]);
        if (entry == nullptr || uint64_t(entry->Offset) + block > g.index_offset) continue;
        const uint64_t pos = entry->Offset + uint64_t(entry->ValueLen) * uint64_t(slot);
        double value = values[i];
        if (mode == 1) {
            if (std::isnan(value)) continue;
            double old = 0;
            errno = 0;
            const int64_t got = read_at(db->fd, &old, sizeof old, pos);
            if (got < 0 && errno == EINVAL)
                ux_print_moni("WriteArchivInter(): lseek(1): err=%d(%s)", errno, strerror(errno));
            else if (got != int64_t(sizeof old))
                ux_print_moni("WriteArchivInter(): read(): err=%d(%s)", errno, strerror(errno));
            if (std::isnan(old)) old = 0;
            value += old;
        }
        errno = 0;
        const int64_t put = write_at(db->fd, &value, sizeof value, pos);
        if (put < 0 && errno == EINVAL)
            ux_print_moni("WriteArchivInter(): lseek(2): err=%d(%s)", errno, strerror(errno));
        else if (put != int64_t(sizeof value))
            ux_print_moni("WriteArchivInter(): write(): err=%d(%s)", errno, strerror(errno));
    }
    return 0;
}

int WriteArchivQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                   const double* values) {
    return direct_write(db, 1, "ERROR: TestArchivDatei: nErr=%d", time, n, sys, tagNrs, values, nullptr);
}

int WriteArchivStatusQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                         const uint32_t* status) {
    return direct_write(db, 2, "ERROR: TestArchivDatei: nErr=%d", time, n, sys, tagNrs, nullptr, status);
}

int WriteDetailQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                   const double* values) {
    return direct_write(db, 3, "ERROR: TestDetailDatei: nErr=%d", time, n, sys, tagNrs, values, nullptr);
}

int WriteDetailStatusQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                         const uint32_t* status) {
    return direct_write(db, 4, "ERROR: TestDetailDatei: nErr=%d", time, n, sys, tagNrs, nullptr, status);
}

}  // extern "C"
