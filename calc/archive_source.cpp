#include "archive_source.hpp"

#include <cstdlib>

#include "qx.h"

namespace calc {

ArchiveSource DefaultArchiveSource() { return ArchiveSource{ReadArchivUTC, GetTimeLastArchiv}; }

ArchiveSource& archive_source() {
    static ArchiveSource source = DefaultArchiveSource();
    return source;
}

ArchiveColumn::ArchiveColumn(const VelmoSystem* sys, const Tags* tags, int32_t tag, double start, double end) {
    const ArchiveSource& source = archive_source();
    if (source.read_archiv_utc == nullptr) return;
    int32_t rows = 0;
    const int32_t r = source.read_archiv_utc(start, end, sys, tags, 1, &tag, &rows, &values_);
    // A failed read or one without a table counts as no rows.
    if (r >= 0 && values_ != nullptr && rows > 0) rows_ = rows;
}

ArchiveColumn::~ArchiveColumn() { std::free(values_); }

}  // namespace calc
