// Archive files: naming, the open handle with its header and index copies,
// creation and extension of time-major and tag-major files.
#include "archive_file.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "qx/calendar.h"
#include "qx/msq.h"
#include "qx/timezone.h"
#include "qx/util.h"

namespace qx::archive {
namespace {

void vlog(ePMSeverity severity, const char* format, va_list args) {
    char text[8192];
    vsnprintf(text, sizeof text, format, args);
    writeMsg(&rMsq, severity, 0, "%s", text);
}

int compare_first_word(const void* left, const void* right) {
    // Compared, not subtracted: a difference of two int32 can overflow.
    int32_t a, b;
    std::memcpy(&a, left, sizeof a);
    std::memcpy(&b, right, sizeof b);
    return (a > b) - (a < b);
}

// Sorted, repeat-free copy of a tag list.
bool sorted_unique(const int32_t* tags, int n, std::vector<int32_t>& out) {
    try {
        out.assign(tags, tags + n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return true;
}

enum class Layout { TimeMajor, TagMajor };

void close_fd(QXDB& db) {
    if (db.fd > 0) close(db.fd);
    db.fd = -1;
}

void release_views(QXDB& db) {
    std::free(db.Header);
    std::free(db.Index);
    db.Header = nullptr;
    db.Index = nullptr;
}

// Why a file's header or index can't be used, or null when they can.  Every
// size and offset used later is checked here, so readers and writers never
// allocate by or seek to an unchecked field.
const char* header_defect(const QXDB& db, const ArchivHeader& h, uint64_t file_size) {
    if (h.NTags < 1) return "NTags < 1";
    if (h.Inter <= 0) return "Inter <= 0";
    if (h.NInter <= 0) return "NInter <= 0";
    if (db.Period > 0) {
        const int32_t expected = db.Period / h.Inter + (db.Period % h.Inter ? 1 : 0);
        if (h.NInter != expected) return "Inter passt nicht zu NInter";
    }
    if (h.IndexOffset < kHeaderSize) return "IndexOffset im Kopf";
    if (uint64_t{h.IndexOffset} + uint64_t(h.NTags) * QX_ARCHIV_INDEX_ENTRY > file_size)
        return "Index hinter dem Dateiende";
    return nullptr;
}

const char* index_defect(const ArchivHeader& h, std::span<const ArchivIndexEntry> index) {
    const int16_t type = index[0].TypeCode;
    const int16_t width = getTypeCodeLen(type);
    if (type < 1 || type > 4 || index[0].ValueLen != width) return "Typ/Laenge ungueltig";
    if (uint64_t{h.IndexOffset} != kHeaderSize + uint64_t(h.NTags) * uint64_t(h.NInter) * uint64_t(width))
        return "IndexOffset passt nicht zu NTags/NInter";
    for (size_t j = 0; j < index.size(); ++j) {
        const ArchivIndexEntry& e = index[j];
        if (e.TypeCode != type || e.ValueLen != width) return "Typ/Laenge ungleich";
        if (j > 0 && int32_t(index[j - 1].TagNr) >= int32_t(e.TagNr)) return "Index nicht sortiert";
        if (e.Offset < kHeaderSize || uint64_t{e.Offset} + uint64_t(width) > h.IndexOffset)
            return "Offset ausserhalb der Daten";
    }
    return nullptr;
}

// Sequential write of the whole buffer; returns the bytes written.
size_t write_all(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t w = write(fd, p + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += size_t(w);
    }
    return done;
}

void fill_header(const QXDB& db, int32_t ntags, uint32_t index_offset, ArchivHeader& h) {
    std::memset(&h, 0, sizeof h);
    h.NTags = ntags;
    h.Inter = db.Inter;
    h.NInter = db.NInter;
    h.Fixed1 = 1;
    h.IndexOffset = index_offset;
    h.Fixed3 = 3;
    KWZ_TimeZoneRecord zone{};  // stays zero without a zone table
    GetTimeZoneInformation(&zone);
    static_assert(sizeof zone == sizeof h.TimeZone);
    std::memcpy(h.TimeZone, &zone, sizeof h.TimeZone);
    h.ByteOrder = htons(0x1234) == 0x1234 ? QX_ARCHIV_BIG_ENDIAN : QX_ARCHIV_LITTLE_ENDIAN;
    h.Magic = QX_ARCHIV_MAGIC;
}

int create_file(QXDB* db, short type, int n, const int32_t* tags, Layout layout) {
    if (n <= 0) return 0;
    std::vector<int32_t> list;
    if (!sorted_unique(tags, n, list)) return -2;
    const short width = getTypeCodeLen(type);
    const uint64_t block = uint64_t(db->NInter > 0 ? db->NInter : 0) * uint64_t(width);
    const uint64_t index_offset = kHeaderSize + list.size() * block;
    if (width <= 0 || block == 0 ||
        index_offset + list.size() * QX_ARCHIV_INDEX_ENTRY > UINT32_MAX) {
        ux_print_moni("QXDBCreate: %s: Typ %d, Inter %d, NInter %d ungueltig", db->Path, type, db->Inter,
                      db->NInter);
        return -8;
    }
    std::vector<ArchivIndexEntry> index;
    try {
        index.resize(list.size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (size_t j = 0; j < list.size(); ++j) {
        index[j].TagNr = uint32_t(list[j]);
        index[j].Offset = uint32_t(kHeaderSize + j * (layout == Layout::TimeMajor ? uint64_t(width) : block));
        index[j].TypeCode = type;
        index[j].ValueLen = width;
    }
    ArchivHeader header;
    fill_header(*db, int32_t(list.size()), uint32_t(index_offset), header);

    const int fd = open(db->Path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (layout == Layout::TimeMajor)
            log_error("QXDBCreateSortTime: open() File: %s, errno=%d(%s)", db->Path, errno, strerror(errno));
        return -3;
    }
    ux_print_moni("QXDBCreateSortTime: open() gutgegangen");
    int result = 0;
    if (write_all(fd, &header, sizeof header) < sizeof header) {
        ux_print_moni("QXDBCreate: write(7): errno=%d(%s)", errno, strerror(errno));
        result = -7;
    }
    // The empty pattern, one tag's block at a time.
    void* fill = std::malloc(size_t(block));
    if (fill == nullptr) {
        ux_print_moni("QXDBCreateSortTime: FEHLER DataWriteBuf malloc");
        result = -6;
    } else {
        std::memset(fill, 0xFF, size_t(block));
        for (size_t j = 0; j < list.size(); ++j) {
            errno = 0;
            const size_t w = write_all(fd, fill, size_t(block));
            if (w < block) {
                ux_print_moni("QXDBCreate: write(6): errno=%d(%s)", errno, strerror(errno));
                result = -6;
            }
            if (w == 0) break;
        }
        std::free(fill);
    }
    if (result == 0) {
        const size_t bytes = index.size() * sizeof(ArchivIndexEntry);
        if (write_all(fd, index.data(), bytes) < bytes) {
            ux_print_moni("QXDBCreate: write(5): errno=%d(%s)", errno, strerror(errno));
            result = -5;
        }
    }
    if (layout == Layout::TimeMajor) fsync(fd);
    close(fd);
    db->fd = -1;
    return result;
}

bool file_exists(const QXDB& db) {
    struct stat st;
    return stat_archive_file(db, st);
}

}  // namespace

bool stat_archive_file(const QXDB& db, struct stat& st) {
    // The open descriptor answers without walking the path on every step; a
    // file removed under it has no link left and counts as missing.
    if (db.fd > 0 && fstat(db.fd, &st) == 0) return st.st_nlink > 0;
    return stat(db.Path, &st) == 0;
}

// ---- internal helpers -----------------------------------------------------

void log_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(PMS_ERROR, format, args);
    va_end(args);
}
void log_info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(PMS_INFO, format, args);
    va_end(args);
}
void log_warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(PMS_WARNING, format, args);
    va_end(args);
}

bool geometry(const QXDB& db, Geometry& g) {
    if (db.Header == nullptr || db.Index == nullptr) return false;
    const ArchivHeader& h = *db.Header;
    g.ntags = h.NTags;
    g.inter = h.Inter;
    g.ninter = h.NInter;
    g.width = uint32_t(db.Index[0].ValueLen);
    g.index_offset = h.IndexOffset;
    g.row_bytes = uint64_t(g.ntags) * g.width;
    return true;
}

std::span<const ArchivIndexEntry> index_entries(const QXDB& db) {
    if (db.Header == nullptr || db.Index == nullptr) return {};
    return {db.Index, size_t(db.Header->NTags)};
}

const ArchivIndexEntry* find_entry(const QXDB& db, int32_t tag) {
    const auto index = index_entries(db);
    if (index.empty()) return nullptr;
    return static_cast<const ArchivIndexEntry*>(
        std::bsearch(&tag, index.data(), index.size(), sizeof(ArchivIndexEntry), DBCompareTagList2));
}

namespace {

// The data server writes steps of one tag list into the same open file again
// and again.  The list that last matched a handle's row layout is kept, so the
// next step is recognised by one contiguous comparison instead of a walk over
// the index.  An entry is tied to the handle's index copy and forgotten when
// the handle closes.
struct RowLayoutMemo {
    const QXDB* db = nullptr;
    const ArchivIndexEntry* index = nullptr;
    std::vector<int32_t> tags;
};
constexpr size_t kRowLayoutMemos = 4;  // one per archive kind

std::array<RowLayoutMemo, kRowLayoutMemos>& row_layout_memos() {
    thread_local std::array<RowLayoutMemo, kRowLayoutMemos> memos;
    return memos;
}

RowLayoutMemo* row_layout_memo(const QXDB& db) {
    for (RowLayoutMemo& memo : row_layout_memos())
        if (memo.db == &db && memo.index == db.Index) return &memo;
    return nullptr;
}

void remember_row_layout(const QXDB& db, const int32_t* tags, int n) {
    auto& memos = row_layout_memos();
    RowLayoutMemo* slot = nullptr;
    for (RowLayoutMemo& memo : memos)
        if (memo.db == &db || (slot == nullptr && memo.db == nullptr)) slot = &memo;
    thread_local size_t next = 0;
    if (slot == nullptr) slot = &memos[next++ % memos.size()];
    slot->db = &db;
    slot->index = db.Index;
    slot->tags.assign(tags, tags + n);  // same length as last time: no allocation
}

void forget_row_layout(const QXDB& db) {
    for (RowLayoutMemo& memo : row_layout_memos())
        if (memo.db == &db) memo = RowLayoutMemo{};
}

}  // namespace

bool matches_row_layout(const QXDB& db, const Geometry& g, const int32_t* tags, int n) {
    const auto index = index_entries(db);
    if (n != g.ntags || index.size() != size_t(n)) return false;
    if (const RowLayoutMemo* memo = row_layout_memo(db);
        memo != nullptr && memo->tags.size() == size_t(n) && std::memcmp(memo->tags.data(), tags, 4 * size_t(n)) == 0)
        return true;
    // Differences are gathered branch-free and looked at once per block.
    // Offsets fit 32 bits: files never reach 4 GiB.
    const ArchivIndexEntry* entry = index.data();
    uint32_t diff = 0;
    uint32_t expected = kHeaderSize;
    for (size_t j = 0; j < index.size(); ++j, expected += g.width) {
        diff |= (entry[j].TagNr ^ uint32_t(tags[j])) | (entry[j].Offset ^ expected);
        if ((j & 255) == 255 && diff != 0) return false;
    }
    if (diff != 0) return false;
    try {
        remember_row_layout(db, tags, n);
    } catch (const std::bad_alloc&) {
        forget_row_layout(db);  // only the shortcut is lost
    }
    return true;
}

int64_t time_major_column(const ArchivIndexEntry& entry, const Geometry& g) {
    const uint64_t column = uint64_t(entry.Offset) - kHeaderSize;
    if (entry.Offset < kHeaderSize || column + g.width > g.row_bytes) return -1;
    return int64_t(column);
}

int32_t seconds_in_period(double time, bool hour_file) {
    time_velmo tv{};
    JulToTime(time, &tv);
    return hour_file ? tv.min * 60 + tv.sec : tv.hour * 3600 + tv.min * 60 + tv.sec;
}

int64_t read_at(int fd, void* buffer, size_t size, uint64_t offset) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t r = pread(fd, p + done, size - done, off_t(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done ? int64_t(done) : -1;
        if (r == 0) break;
        done += size_t(r);
    }
    return int64_t(done);
}

int64_t write_at(int fd, const void* buffer, size_t size, uint64_t offset) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t w = pwrite(fd, p + done, size - done, off_t(offset + done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return done ? int64_t(done) : -1;
        if (w == 0) break;
        done += size_t(w);
    }
    return int64_t(done);
}

}  // namespace qx::archive

using namespace qx::archive;

extern "C" {

int DBCompareLong2(const void* left, const void* right) { return compare_first_word(left, right); }
int DBCompareTagList2(const void* left, const void* right) { return compare_first_word(left, right); }
int CompareVelmoTagList2(const void* left, const void* right) { return compare_first_word(left, right); }

short getTypeCodeLen(short typeCode) {
    switch (typeCode) {
    case 1:
    case 3: return 8;
    case 2:
    case 4: return 4;
    case 5: return 24;
    default: return 0;
    }
}

int MakeReadArchivName2(QXDB* db, int kind, const char* ext, const VelmoSystem* sys, double time) {
    if (!kind_valid(kind) || db == nullptr || sys == nullptr) return -13;
    time_velmo tv{};
    JulToTime(time, &tv);
    const bool hour_file = is_detail(kind);
    db->Period = hour_file ? 3600 : 86400;
    db->Inter = hour_file ? sys->stoer_takt : sys->inter;
    // A slot length of 0 or less names a file that can't be created.
    db->NInter = db->Inter > 0 ? db->Period / db->Inter + (db->Period % db->Inter ? 1 : 0) : 0;
    std::memset(db->Path, 0, sizeof db->Path);
    std::memset(db->Ext, 0, sizeof db->Ext);
    if (ext == nullptr) ext = "";
    std::strncpy(db->Ext, ext, sizeof db->Ext - 1);
    const int dir_len = int(strnlen(sys->dir_archiv, sizeof sys->dir_archiv));
    if (hour_file)
        std::snprintf(db->Path, sizeof db->Path, "%.*s/%4.4d%2.2d%2.2d%2.2d%s", dir_len, sys->dir_archiv, tv.year,
                      tv.month, tv.day, tv.hour, ext);
    else
        std::snprintf(db->Path, sizeof db->Path, "%.*s/%4.4d%2.2d%2.2d%s", dir_len, sys->dir_archiv, tv.year,
                      tv.month, tv.day, ext);
    return 0;
}

void* MapViewOfFile2(int fd, uint32_t offset, uint32_t size) {
    void* buffer = std::malloc(size ? size : 1);
    if (buffer == nullptr) return nullptr;
    if (lseek(fd, off_t(offset), SEEK_SET) != off_t(offset)) {
        std::printf("MapViewOfFile(): lseek(): errno=%d(%s)\n", errno, strerror(errno));
        std::free(buffer);
        return nullptr;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < size) {
        const ssize_t r = read(fd, p + done, size - done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            std::printf("MapViewOfFile(): read(): errno=%d(%s)\n", errno, strerror(errno));
            std::free(buffer);
            return nullptr;
        }
        if (r == 0) {  // the file ends before the view
            std::free(buffer);
            return nullptr;
        }
        done += uint32_t(r);
    }
    return buffer;
}

int UnmapViewOfFile2(int fd, uint32_t offset, void* buffer, uint32_t size, int writeBack) {
    int result = 1;
    if (writeBack && buffer != nullptr) {
        if (lseek(fd, off_t(offset), SEEK_SET) != off_t(offset)) {
            std::printf("UnmapViewOfFile(): lseek(): errno=%d(%s)\n", errno, strerror(errno));
            result = 0;
        } else if (write_all(fd, buffer, size) < size) {
            result = 0;
        }
    }
    std::free(buffer);
    return result;
}

int QXDBOpen2(QXDB* db) {
    forget_row_layout(*db);
    if (db->fd <= 0) {
        db->fd = open(db->Path, O_RDWR | O_CLOEXEC);
        // A reader may lack write access; it can still read the file.
        if (db->fd < 0 && (errno == EACCES || errno == EROFS)) db->fd = open(db->Path, O_RDONLY | O_CLOEXEC);
    }
    if (db->fd <= 0) {
        db->fd = -1;
        return 0;
    }
    release_views(*db);
    db->Header = static_cast<ArchivHeader*>(MapViewOfFile2(db->fd, 0, kHeaderSize));
    db->HeaderOffset = 0;
    db->HeaderSize = kHeaderSize;
    if (db->Header == nullptr) {
        close_fd(*db);
        return -9;
    }
    struct stat st;
    const uint64_t file_size = fstat(db->fd, &st) == 0 ? uint64_t(st.st_size) : 0;
    const char* defect = header_defect(*db, *db->Header, file_size);
    if (defect == nullptr) {
        db->IndexOffset = db->Header->IndexOffset;
        db->IndexSize = uint32_t(db->Header->NTags) * QX_ARCHIV_INDEX_ENTRY;
        db->Index = static_cast<ArchivIndexEntry*>(MapViewOfFile2(db->fd, db->IndexOffset, db->IndexSize));
        if (db->Index == nullptr)
            defect = "Index nicht lesbar";
        else
            defect = index_defect(*db->Header, {db->Index, size_t(db->Header->NTags)});
    }
    if (defect != nullptr) {
        // A corrupt or cut file: keep no views, so every caller skips it.
        ux_print_moni("QXDBOpen2(): %s: Datei fehlerhaft: %s", db->Path, defect);
        release_views(*db);
        close_fd(*db);
        return -9;
    }
    return 0;
}

void QXDBClose2(QXDB* db, int writeBack) {
    forget_row_layout(*db);
    UnmapViewOfFile2(db->fd, db->HeaderOffset, db->Header, db->HeaderSize, writeBack);
    UnmapViewOfFile2(db->fd, db->IndexOffset, db->Index, db->IndexSize, writeBack);
    db->Header = nullptr;
    db->Index = nullptr;
    if (db->fd > 0) {
        fsync(db->fd);
        close(db->fd);
    }
    db->fd = -1;
}

int QXDBCreateSortTime(QXDB* db, short kind, int nTags, const int32_t* tagNrs) {
    return create_file(db, kind, nTags, tagNrs, Layout::TimeMajor);
}

int QXDBCreateSortTags(QXDB* db, short typeCode, int nTags, const int32_t* tagNrs) {
    return create_file(db, typeCode, nTags, tagNrs, Layout::TagMajor);
}

int QXDBExtendSortTime(QXDB* db, const VelmoSystem* sys, short kind, int nTags, const int32_t* tagNrs,
                       double time) {
    bool whole_row = false;
    return qx::archive::extend_sort_time(db, sys, kind, nTags, tagNrs, time, &whole_row);
}

}  // extern "C"

int qx::archive::extend_sort_time(QXDB* db, const VelmoSystem* sys, short kind, int nTags, const int32_t* tagNrs,
                                  double time, bool* whole_row) {
    if (!file_exists(*db)) {
        QXDBClose2(db, 0);
        const int result = QXDBCreateSortTime(db, kind, nTags, tagNrs);
        if (result < 0) log_error("ERROR: QXDBExtend: QXDBCreate: nRet=%d", result);
        return result;
    }
    if (db->fd <= 0) {
        const int opened = QXDBOpen2(db);
        log_info("QXDBExtendSortTime() A: QXDBOpen2 called: %d", opened);
    }
    Geometry old;
    if (!geometry(*db, old)) {
        // A corrupt file is neither extended nor replaced.
        QXDBClose2(db, 0);
        return -9;
    }
    bool any_new = false;
    if (matches_row_layout(*db, old, tagNrs, nTags)) {
        *whole_row = true;
        return 0;
    }
    EntryFinder finder(*db);
    for (int i = 0; i < nTags && !any_new; ++i) any_new = finder.find(tagNrs[i]) == nullptr;
    if (!any_new) return 0;

    std::vector<int32_t> old_tags;
    std::vector<int32_t> merged;
    try {
        old_tags.reserve(size_t(old.ntags));
        for (const ArchivIndexEntry& e : index_entries(*db)) old_tags.push_back(int32_t(e.TagNr));
    } catch (const std::bad_alloc&) {
        log_info("QXDBExtendSortTime() B: Tags: malloc nicht funktioniert");
        return -1;
    }
    try {
        merged = old_tags;
        merged.insert(merged.end(), tagNrs, tagNrs + nTags);
    } catch (const std::bad_alloc&) {
        log_info("QXDBExtendSortTime() B: TagsNeu: malloc nicht funktioniert");
        return -2;
    }
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());

    QXDB fresh{};
    MakeReadArchivName2(&fresh, kind, QX_EXT_EXTEND_NEW, sys, time);
    const int created = QXDBCreateSortTime(&fresh, kind, int(merged.size()), merged.data());
    if (created < 0) {
        log_error("ERROR: QXDBExtend: QXDBCreate: nRet=%d", created);
        return created;
    }
    log_error("QXDBExtendSortTime(): NMiss Header->NInter %d", old.ninter);

    // Old rows go into the new file by their times, so a changed slot length
    // still places each old value at its own time.
    const bool status = is_status(kind);
    std::vector<uint8_t> row(size_t(old.row_bytes));
    std::vector<double> values(status ? 0 : size_t(old.ntags));
    std::vector<uint32_t> words(status ? size_t(old.ntags) : 0);
    time_velmo tv{};
    JulToTime(time, &tv);
    tv.hour = tv.min = tv.sec = 0;
    double row_time = TimeToJul(tv);
    for (int32_t k = 0; k < old.ninter; ++k) {
        const uint64_t pos = kHeaderSize + uint64_t(k) * old.row_bytes;
        errno = 0;
        const int64_t got = read_at(db->fd, row.data(), row.size(), pos);
        if (got < 0 && errno == EINVAL)
            log_error("QXDBExtendSortTime(): lseek(%d): err=%d(%s)", int(pos), errno, strerror(errno));
        else if (got != int64_t(row.size()))
            log_error("QXDBExtendSortTime(): pos: %d read(%d) = %d: err=%d", int(pos), int(row.size()), int(got),
                      errno);
        if (status)
            std::memcpy(words.data(), row.data(), row.size());
        else
            std::memcpy(values.data(), row.data(), row.size());
        WriteArchivSortTime(&fresh, row_time, kind, old.ntags, old_tags.data(), values.data(), words.data());
        row_time += old.inter / 86400.0;
    }
    QXDBClose2(db, 0);
    QXDBClose2(&fresh, 0);
    const std::string old_path = std::string(db->Path) + QX_EXT_EXTEND_OLD;
    if (rename(db->Path, old_path.c_str()) != 0)
        log_error("QXDBExtendSortTime(): rename(1): err=%d(%s)", errno, strerror(errno));
    else if (rename(fresh.Path, db->Path) != 0)
        log_error("QXDBExtendSortTime(): rename(2): %s, err=%d(%s)", fresh.Path, errno, strerror(errno));
    return created;
}

extern "C" {

int QXDBExtendSortTags(QXDB* db, short typeCode, int nTags, const int32_t* tagNrs) {
    if (!file_exists(*db)) {
        QXDBClose2(db, 0);
        const int result = QXDBCreateSortTags(db, typeCode, nTags, tagNrs);
        if (result < 0) ux_print_moni("ERROR: QXDBExtend: QXDBCreate: nRet=%d", result);
        return result;
    }
    if (db->fd <= 0) QXDBOpen2(db);
    Geometry old;
    if (!geometry(*db, old)) {
        QXDBClose2(db, 0);
        return -9;
    }
    std::vector<int32_t> given;
    if (!sorted_unique(tagNrs, nTags > 0 ? nTags : 0, given)) return -2;
    std::vector<ArchivIndexEntry> index(index_entries(*db).begin(), index_entries(*db).end());
    const uint64_t block = uint64_t(old.ninter) * old.width;
    uint64_t end = old.index_offset;
    size_t added = 0;
    for (int32_t tag : given) {
        if (find_entry(*db, tag) != nullptr) continue;
        ArchivIndexEntry e{uint32_t(tag), uint32_t(end), typeCode, int16_t(old.width)};
        index.push_back(e);
        end += block;
        ++added;
    }
    if (added == 0) return 0;
    if (end + index.size() * sizeof(ArchivIndexEntry) > UINT32_MAX) {
        ux_print_moni("QXDBExtend: %s: Datei zu gross", db->Path);
        QXDBClose2(db, 0);
        return -8;
    }
    std::sort(index.begin(), index.end(), [](const ArchivIndexEntry& a, const ArchivIndexEntry& b) {
        return int32_t(a.TagNr) < int32_t(b.TagNr);
    });
    bool blocks_ok = true;
    std::vector<uint8_t> fill(size_t(block), 0xFF);
    for (size_t i = 0; i < added; ++i)
        blocks_ok = blocks_ok &&
                    write_at(db->fd, fill.data(), fill.size(), old.index_offset + i * block) == int64_t(block);
    const size_t index_bytes = index.size() * sizeof(ArchivIndexEntry);
    if (!blocks_ok) {
        ux_print_moni("QXDBExtend: write(2)");
    } else if (write_at(db->fd, index.data(), index_bytes, end) == int64_t(index_bytes)) {
        ArchivHeader header = *db->Header;
        header.NTags = int32_t(index.size());
        header.IndexOffset = uint32_t(end);
        if (lseek(db->fd, 0, SEEK_SET) != 0)
            ux_print_moni("QXDBExtend: lseek(3)");
        else
            write_all(db->fd, &header, sizeof header);
    }
    QXDBClose2(db, 0);
    return 0;
}

}  // extern "C"
