// Where the time formulas read the interval archive from: the archive store
// of the library unless a test puts a table of its own in its place.
#pragma once

#include <cstdint>

#include "qx/records.h"

namespace calc {

struct ArchiveSource {
    // As ReadArchivUTC: rows from start to end (UTC days) for n tags into a
    // table the caller frees with free().
    int32_t (*read_archiv_utc)(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                               const int32_t* tagNrs, int32_t* rows, double** values);
    // UTC time of the newest interval archive written (NaN when unknown).
    double (*time_last_archiv)();
};

// The source in use; tests assign their own and restore the default.
ArchiveSource& archive_source();
ArchiveSource DefaultArchiveSource();

// The interval values of one tag from start to end (UTC days), one per slot
// from the slot of start; the table is released with the object.
class ArchiveColumn {
public:
    ArchiveColumn(const VelmoSystem* sys, const Tags* tags, int32_t tag, double start, double end);
    ~ArchiveColumn();
    ArchiveColumn(const ArchiveColumn&) = delete;
    ArchiveColumn& operator=(const ArchiveColumn&) = delete;

    int32_t rows() const { return rows_; }
    double operator[](int32_t row) const { return values_[row]; }

private:
    double* values_ = nullptr;
    int32_t rows_ = 0;
};

}  // namespace calc
