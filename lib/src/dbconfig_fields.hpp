// User-field descriptions as the configuration file knows them: the type
// words and the check that a description fits its record before any value is
// read or written through it.
#pragma once

#include <cstdint>
#include <string_view>

#include "qx/records.h"

namespace qx::dbconfig {

// "TEXT" .. "DOUBLE" for types 1..5, empty for anything else.
inline std::string_view type_word(int32_t type) {
    switch (type) {
        case UF_TEXT: return "TEXT";
        case UF_INT: return "INT";
        case UF_LONG: return "LONG";
        case UF_FLOAT: return "FLOAT";
        case UF_DOUBLE: return "DOUBLE";
        default: return {};
    }
}

// Bytes a value of the type needs (TEXT: at least its NUL).
inline int32_t type_size(int32_t type) {
    switch (type) {
        case UF_TEXT: return 1;
        case UF_INT: return 2;
        case UF_LONG: return 4;
        case UF_FLOAT: return 4;
        case UF_DOUBLE: return 8;
        default: return 0;
    }
}

// True when the description's value lies inside a record of rec_len bytes
// and is large enough for its type.
inline bool field_fits(const UserFieldDSC& field, int32_t rec_len) {
    const int32_t need = type_size(field.FieldType);
    return need > 0 && field.FieldLength >= need && field.FieldOffset >= 0 &&
           int64_t{field.FieldOffset} + field.FieldLength <= rec_len;
}

}  // namespace qx::dbconfig
