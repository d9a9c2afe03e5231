// A whole tag database in process memory, for tools, tests and benchmarks
// that load or write a configuration file without a data server.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "qx/attach.h"
#include "qx/dbconfig.h"
#include "qx/records.h"

namespace qx::dbconfig {

struct Database {
    VelmoSystem system{};
    std::vector<Tags> tags = std::vector<Tags>(QX_TAG_RECORDS);
    std::unique_ptr<Info> info = std::make_unique<Info>();
    std::vector<TagAdd> tag_add = std::vector<TagAdd>(QX_TAGADD_MAX);
    std::vector<unsigned char> user_fields;

    // Loads the file and points the attach state at this database, growing
    // the user-field area to what the file defines.  QX_LoadConfig's result.
    int load(const char* path) {
        int rc = QX_LoadConfig(path, &system, tags.data(), info.get(), tag_add.data(), user_fields.data(),
                               user_fields.size());
        if (rc == -3) {
            user_fields.assign(std::size_t{QX_TAG_RECORDS} * static_cast<std::size_t>(info->UserFieldRecLen), 0);
            rc = QX_LoadConfig(path, &system, tags.data(), info.get(), tag_add.data(), user_fields.data(),
                               user_fields.size());
        }
        return rc;
    }

    // Points the attach state at this database (after changing it by hand).
    void attach() {
        QX_SetAttachState(&system, tags.data(), nullptr, info.get(), tag_add.data(), nullptr,
                          user_fields.empty() ? nullptr : user_fields.data());
    }

    // The user-field record of tag t.
    unsigned char* user_record(int t) {
        return user_fields.data() + static_cast<std::size_t>(t) * static_cast<std::size_t>(info->UserFieldRecLen);
    }
};

}  // namespace qx::dbconfig
