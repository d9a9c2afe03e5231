// A tag database in process memory, attached with QX_SetAttachState, for
// tests of the access functions that need no data server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qx.h"

namespace qx_test {

struct FieldSpec {
    std::string name;
    int type;
    int length;
    std::string format;
};

class LocalDatabase {
public:
    // Records as a freshly built database holds them: doubles NaN, statuses
    // and references all ones; user fields zero, FLOAT and DOUBLE without value.
    explicit LocalDatabase(const std::vector<FieldSpec>& fields = {});
    ~LocalDatabase();
    LocalDatabase(const LocalDatabase&) = delete;
    LocalDatabase& operator=(const LocalDatabase&) = delete;

    VelmoSystem& system() { return *system_; }
    Tags* tags() { return tags_.data(); }
    Rohwerte* roh() { return roh_.data(); }
    Info& info() { return *info_; }
    TagsInternal* tags_internal() { return tags_internal_.data(); }
    unsigned char* user_fields() { return user_fields_.data(); }
    // The bytes of field f of tag t.
    unsigned char* value(int tag, int field);

private:
    std::unique_ptr<VelmoSystem> system_;
    std::vector<Tags> tags_;
    std::vector<Rohwerte> roh_;
    std::unique_ptr<Info> info_;
    std::vector<TagAdd> tag_add_;
    std::vector<TagsInternal> tags_internal_;
    std::vector<unsigned char> user_fields_;
};

}  // namespace qx_test
