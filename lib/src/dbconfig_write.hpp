// The two writers of the configuration file share one renderer.
#pragma once

#include "qx/records.h"

namespace qx::dbconfig {

// The data server's writer and the library's: banner, separator before
// "[TagDef]", "TagAdd" lines for function 212 and monitor lines differ.
enum class WriterKind { DataServer, Library };

// What a writer writes.  info, tag_add and user_fields may be null.
struct ConfigSource {
    const VelmoSystem* system;
    const Tags* tags;  // QX_TAG_RECORDS records
    const Info* info;
    TagAdd* tag_add;   // QX_TAGADD_MAX entries
    const unsigned char* user_fields;
};

// Renders the whole file to fd; false when a write failed.
bool render_config(int fd, WriterKind kind, const ConfigSource& src);

// Renders to path through a temporary file and rename: 0, or -1 with the
// old file left as it was.
int save_config(const char* path, WriterKind kind, const ConfigSource& src);

}  // namespace qx::dbconfig
