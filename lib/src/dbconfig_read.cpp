// Readers of the tag-database configuration file: system parameters,
// user-field descriptions and values, tags with their sum entries.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "attach_state.hpp"
#include "dbconfig_fields.hpp"
#include "dbconfig_lines.hpp"
#include "qx/attach.h"
#include "qx/dbconfig.h"
#include "qx/util.h"

namespace qx::dbconfig {

namespace {

bool key_is(const char* key, const char* name) { return ::strcasecmp(key, name) == 0; }

// Text of `size` bytes: text, padded with blanks to size - 1, then NUL.
template <std::size_t N>
void set_padded(char (&field)[N], std::string_view text) {
    std::memset(field, ' ', N - 1);
    field[N - 1] = '\0';
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

void set_system_defaults(VelmoSystem& sys) {
    std::memset(&sys, 0, sizeof sys);
    sys.takt = 5;
    sys.inter = 180;
    sys.abr_zeit = 86400;
    sys.refresh = 5;
    sys.n_tag = QX_N_TAG;
    sys.n_roh = QX_N_ROH;
    sys.roh_skal = 1.0;
    sys.n_fkt = 3;
    sys.k_anz = 1000;
    set_padded(sys.bezeichnung, "KWZ GmbH 2013 RA-Vuvuvizi");
    copy_text(sys.dir_archiv, sizeof sys.dir_archiv, "/home/kwz/QX_ARCHIV", sizeof sys.dir_archiv - 1);
    set_padded(sys.TagDefaultBez, "** Undef **");
}

// The decimal keys of "[Init]".
constexpr std::pair<const char*, int32_t VelmoSystem::*> kInitNumbers[] = {
    {"Takt", &VelmoSystem::takt},           {"Inter", &VelmoSystem::inter},
    {"TimeArchiv", &VelmoSystem::time_archiv}, {"StoerTakt", &VelmoSystem::stoer_takt},
    {"StoerInter", &VelmoSystem::stoer_inter}, {"Refresh", &VelmoSystem::refresh},
    {"K_Anz", &VelmoSystem::k_anz},         {"TagDefaultFkt", &VelmoSystem::TagDefaultFkt},
};

void apply_init_key(VelmoSystem& sys, Info* info, const char* key, const char* value) {
    if (key_is(key, "Bezeichnung")) {
        copy_text(sys.bezeichnung, sizeof sys.bezeichnung, value, 39);
    } else if (key_is(key, "Dir_Archiv")) {
        copy_text(sys.dir_archiv, sizeof sys.dir_archiv, value, 63);
        StrTrim2(sys.dir_archiv, sizeof sys.dir_archiv);
    } else if (key_is(key, "Path_Archiv")) {
        if (info == nullptr) return;
        copy_text(info->PathArchiv, sizeof info->PathArchiv, value, sizeof info->PathArchiv - 1);
        StrTrim2(info->PathArchiv, sizeof info->PathArchiv);
    } else if (key_is(key, "TagDefaultBez")) {
        copy_text(sys.TagDefaultBez, sizeof sys.TagDefaultBez, value, 24);
    } else if (key_is(key, "N_Tag")) {
        sys.n_tag = QX_N_TAG;  // the table sizes are fixed, whatever the file says
    } else if (key_is(key, "N_Roh")) {
        sys.n_roh = QX_N_ROH;
    } else {
        for (const auto& [name, member] : kInitNumbers) {
            if (key_is(key, name)) {
                sys.*member = read_long32(value);
                return;
            }
        }
    }
}

int32_t flag_value(const char* word) {
    return key_is(word, "TRUE") || key_is(word, "JA") || key_is(word, "UNIQUE") ? 1 : 0;
}

int32_t type_of_word(const char* word) {
    for (int32_t type = UF_TEXT; type <= UF_DOUBLE; ++type)
        if (key_is(word, type_word(type).data())) return type;
    return 0;
}

void add_user_field(Info& info, const char* value) {
    constexpr int kSlots = 20;
    constexpr int kSlotSize = 128;
    char pieces[kSlots][kSlotSize];
    if (CsvSplitLine(&pieces[0][0], kSlots, kSlotSize, value, ',') != 7) return;  // exactly six pieces
    const int32_t type = type_of_word(pieces[2]);
    const int32_t length = type == UF_TEXT ? read_long32(pieces[3]) : type_size(type);
    if (pieces[1][0] == '\0' || type == 0 || length <= 0 || info.UserFieldCount >= QX_USERFIELD_MAX) return;
    // A length that would make the segment size overflow is refused like any
    // other unusable field line.
    if (int64_t{info.UserFieldRecLen} + length > QX_USERFIELD_RECLEN_MAX) return;

    UserFieldDSC& field = info.UserFieldDsc[info.UserFieldCount];
    copy_text(field.FieldName, sizeof field.FieldName, pieces[1], sizeof field.FieldName - 1);
    field.FieldType = type;
    field.FieldLength = length;
    field.FieldOffset = info.UserFieldRecLen;
    field.UniqueFlag = flag_value(pieces[4]);
    field.EditFlag = flag_value(pieces[5]);
    copy_text(field.FormatString, sizeof field.FormatString, pieces[6], sizeof field.FormatString - 1);
    info.UserFieldRecLen += length;
    ++info.UserFieldCount;
}

// ---- [TagDef] keys ------------------------------------------------------------

enum class TagKey : uint8_t { TagNr, Bez, Fkt, TagAdd, Status, Ist, Dba, Dbe, Anz, Summe, Mittel,
                              Arch, Nach, Zeiger, HByte, Hint, Hdouble, Text, HLog };

struct TagKeyDef {
    TagKey key;
    uint8_t index;
};

// A key name of at most 8 characters packed into one integer, so that the
// lookup of the 45 keys of a tag block costs a few integer compares.
constexpr uint64_t pack(std::string_view name) {
    uint64_t packed = 0;
    for (char c : name) packed = packed << 8 | static_cast<uint8_t>(c);
    return packed;
}

struct BaseKey {
    uint64_t packed;  // lower case name
    TagKey key;
    uint8_t count;    // indexed keys "name[0]".."name[count-1]"; 0 = not indexed
};

constexpr BaseKey kTagKeys[] = {
    {pack("hdouble"), TagKey::Hdouble, 10}, {pack("hint"), TagKey::Hint, 10}, {pack("zeiger"), TagKey::Zeiger, 5},
    {pack("arch"), TagKey::Arch, 4},        {pack("hbyte"), TagKey::HByte, 2}, {pack("tagnr"), TagKey::TagNr, 0},
    {pack("bez"), TagKey::Bez, 0},          {pack("fkt"), TagKey::Fkt, 0},     {pack("tagadd"), TagKey::TagAdd, 0},
    {pack("status"), TagKey::Status, 0},    {pack("ist"), TagKey::Ist, 0},     {pack("dba"), TagKey::Dba, 0},
    {pack("dbe"), TagKey::Dbe, 0},          {pack("anz"), TagKey::Anz, 0},     {pack("summe"), TagKey::Summe, 0},
    {pack("mittel"), TagKey::Mittel, 0},    {pack("nach"), TagKey::Nach, 0},   {pack("text"), TagKey::Text, 0},
    {pack("hlog"), TagKey::HLog, 0},
};

// The key of a tag block, compared without regard to case; false for any
// other key ("Hint[10]", "Hint[ 1]", "Fkt[0]" ...).
bool find_tag_key(const char* key, TagKeyDef& def) {
    std::size_t name_length = 0;
    uint64_t packed = 0;
    for (; key[name_length] != '\0' && key[name_length] != '['; ++name_length) {
        if (name_length == 8) return false;  // longer than any key
        char c = key[name_length];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        packed = packed << 8 | static_cast<uint8_t>(c);
    }
    for (const BaseKey& base : kTagKeys) {
        if (base.packed != packed) continue;
        const char* rest = key + name_length;
        if (base.count == 0) {
            def = {base.key, 0};
            return rest[0] == '\0';
        }
        const int digit = rest[0] == '[' ? rest[1] - '0' : -1;
        if (digit < 0 || digit >= base.count || rest[2] != ']' || rest[3] != '\0') return false;
        def = {base.key, static_cast<uint8_t>(digit)};
        return true;
    }
    return false;
}

bool tag_number_valid(int32_t tag) { return tag >= 0 && tag <= QX_N_TAG; }

void set_unconfigured(Tags& tag, int32_t number, const VelmoSystem& sys) {
    std::memset(&tag, 0xFF, sizeof tag);
    // "%-12.12s %5ld " of the default name and the number, with its NUL.
    char bez[20];
    std::memset(bez, ' ', sizeof bez);
    std::memcpy(bez, sys.TagDefaultBez, strnlen(sys.TagDefaultBez, 12));
    int32_t rest = number;
    for (int pos = 17; pos >= 13; --pos) {
        bez[pos] = static_cast<char>('0' + rest % 10);
        rest /= 10;
        if (rest == 0) break;
    }
    bez[19] = '\0';
    std::memcpy(tag.Bez, bez, sizeof bez);
    std::memset(tag.Arch, 0, sizeof tag.Arch);
    tag.Fkt = sys.TagDefaultFkt;
    if (tag.Fkt == 3) tag.Hint[0] = number <= QX_N_ROH ? number : 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void read_hlog(uint8_t (&hlog)[64], const char* value) {
    std::memset(hlog, 0, sizeof hlog);
    const std::size_t n = strnlen(value, 2 * sizeof hlog);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        // Each pair is read as hexadecimal; its digits end at the first non-digit.
        const int high = hex_digit(value[i]);
        const int low = high < 0 ? -1 : hex_digit(value[i + 1]);
        hlog[i / 2] = static_cast<uint8_t>(high < 0 ? 0 : low < 0 ? high : high * 16 + low);
    }
}

void read_sum_entry(int32_t sum_tag, const char* value) {
    const int32_t add_tag = read_long32(value);
    const char* comma = std::strchr(value, ',');
    const double factor = comma != nullptr ? read_double(comma + 1) : 1.0;
    if (SumAddEntry(sum_tag, add_tag, factor) != -5) return;
    // The pair exists: "#QNAN" removes it, any other factor replaces the old.
    TagAdd* entries = nullptr;
    const int32_t count = SumGetAnzEntries(sum_tag, &entries);
    for (int32_t k = 0; k < count; ++k) {
        if (entries[k].AddTag != add_tag) continue;
        if (IsNan(factor)) SumDelEntry(sum_tag, k);
        else SumSetEntry(sum_tag, k, add_tag, factor);
        return;
    }
}

void apply_tag_key(Tags& tag, int32_t number, const TagKeyDef& def, const char* value, std::size_t length) {
    const uint8_t i = def.index;
    switch (def.key) {
        case TagKey::TagNr: break;
        case TagKey::Bez:
            std::memset(tag.Bez, ' ', sizeof tag.Bez);
            std::memcpy(tag.Bez, value, strnlen(value, sizeof tag.Bez - 1));
            break;
        case TagKey::Fkt: tag.Fkt = read_long32(value); break;
        case TagKey::TagAdd: read_sum_entry(number, value); break;
        case TagKey::Status: tag.Status = static_cast<uint32_t>(read_long32(value)); break;
        case TagKey::Ist: tag.Ist = read_double(value, length); break;
        case TagKey::Dba: tag.Dba = read_double(value, length); break;
        case TagKey::Dbe: tag.Dbe = read_double(value, length); break;
        case TagKey::Anz: tag.Anz = read_double(value, length); break;
        case TagKey::Summe: tag.Summe = read_double(value, length); break;
        case TagKey::Mittel: tag.Mittel = read_double(value, length); break;
        case TagKey::Arch: tag.Arch[i] = static_cast<uint8_t>(read_long32(value)); break;
        case TagKey::Nach: tag.Nach = read_long32(value); break;
        case TagKey::Zeiger: tag.Zeiger[i] = read_long32(value); break;
        case TagKey::HByte: tag.HByte[i] = static_cast<uint8_t>(read_long32(value)); break;
        case TagKey::Hint: tag.Hint[i] = read_long32(value); break;
        case TagKey::Hdouble: tag.Hdouble[i] = read_double(value, length); break;
        case TagKey::Text: copy_text(tag.Text, sizeof tag.Text, value, sizeof tag.Text - 1); break;
        case TagKey::HLog: read_hlog(tag.HLog, value); break;
    }
}

// ---- User-field values ----------------------------------------------------------

int32_t read_text_value(const char* value, const UserFieldDSC& field, int32_t rec_len, unsigned char* area) {
    const int32_t tag = read_long32(value);
    const char* comma = std::strchr(value, ',');
    if (comma == nullptr || tag < 1 || tag > QX_N_TAG) return 0;
    unsigned char* dest = area + static_cast<std::size_t>(tag) * static_cast<std::size_t>(rec_len) +
                          static_cast<std::size_t>(field.FieldOffset);
    const std::size_t length = static_cast<std::size_t>(field.FieldLength);
    const char* text = comma + 1;  // further commas belong to the text
    std::memset(dest, 0, length);
    std::memcpy(dest, text, strnlen(text, length - 1));
    return 1;
}

int32_t read_number_value(const char* value, const UserFieldDSC& field, int32_t rec_len, unsigned char* area) {
    constexpr int kSlots = 4;
    constexpr int kSlotSize = 128;
    char pieces[kSlots][kSlotSize];
    if (CsvSplitLine(&pieces[0][0], kSlots, kSlotSize, value, ',') < 3) return 0;  // tag and value
    const int32_t tag = read_long32(pieces[1]);
    if (tag < 1 || tag > QX_N_TAG) return 0;
    unsigned char* dest = area + static_cast<std::size_t>(tag) * static_cast<std::size_t>(rec_len) +
                          static_cast<std::size_t>(field.FieldOffset);
    switch (field.FieldType) {
        case UF_INT: {
            const auto v = static_cast<int16_t>(read_long32(pieces[2]));
            std::memcpy(dest, &v, sizeof v);
            break;
        }
        case UF_LONG: {
            const int32_t v = read_long32(pieces[2]);
            std::memcpy(dest, &v, sizeof v);
            break;
        }
        case UF_FLOAT: {
            const double d = read_double(pieces[2]);
            float v;
            if (IsNan(d)) {
                std::memset(&v, 0xFF, sizeof v);  // the all-bits-set "no value"
            } else {
                v = static_cast<float>(d);
            }
            std::memcpy(dest, &v, sizeof v);
            break;
        }
        case UF_DOUBLE: {
            const double v = read_double(pieces[2]);
            std::memcpy(dest, &v, sizeof v);
            break;
        }
        default: return 0;
    }
    return 1;
}

}  // namespace

}  // namespace qx::dbconfig

using namespace qx::dbconfig;

extern "C" {

int QX_ReadSysInfo(const char* path, VelmoSystem* system, Info* info) {
    if (system == nullptr) return -2;
    set_system_defaults(*system);
    const bool read = for_each_line_in_section(path, "[Init]", QX_CONFIG_INIT_LINE_MAX, [&](char* line, std::size_t length) {
        char* key = nullptr;
        char* value = nullptr;
        if (split_key_value(line, length, true, key, value)) apply_init_key(*system, info, key, value);
    });
    return read ? 0 : -1;
}

int QX_ReadUserFieldDSC(const char* path, Info* info) {
    if (info == nullptr) return -2;
    std::memset(info->UserFieldDsc, 0, sizeof info->UserFieldDsc);
    info->UserFieldCount = 0;
    info->UserFieldRecLen = 0;
    const bool read = for_each_line_in_section(path, "[UserFields]", QX_CONFIG_LINE_MAX, [&](char* line, std::size_t length) {
        char* key = nullptr;
        char* value = nullptr;
        if (split_key_value(line, length, true, key, value) && key_is(key, "Field")) add_user_field(*info, value);
    });
    return read ? info->UserFieldCount : -1;
}

int QX_ReadTagInfo(const char* path) {
    const qx::AttachState& st = qx::attach_state();
    if (st.system == nullptr || st.tags == nullptr || st.info == nullptr) return -2;
    for (int32_t j = 0; j <= QX_N_TAG; ++j) set_unconfigured(st.tags[j], j, *st.system);
    // A fresh tag table has no sum entries.
    if (st.tag_add != nullptr) std::memset(st.tag_add, 0, sizeof(TagAdd) * QX_TAGADD_MAX);
    st.info->TagAddMax = st.tag_add != nullptr ? QX_TAGADD_MAX : 0;
    st.info->TagAddCount = 0;

    int32_t current = 0;
    const bool read = for_each_line_in_section(path, "[TagDef]", QX_CONFIG_LINE_MAX, [&](char* line, std::size_t length) {
        // Bez and Text keep their leading blanks, so the value is trimmed
        // only once the key is known.
        char* key = nullptr;
        char* value = nullptr;
        std::size_t value_length = 0;
        TagKeyDef def{};
        if (!split_key_value(line, length, false, key, value, &value_length) || !find_tag_key(key, def)) return;
        if (def.key != TagKey::Bez && def.key != TagKey::Text) trim_text(value, value_length);
        if (def.key == TagKey::TagNr) {
            current = read_long32(value);
            return;
        }
        if (tag_number_valid(current)) apply_tag_key(st.tags[current], current, def, value, value_length);
    });
    return read ? 0 : -1;
}

int QX_ReadUserFieldVal(const char* path, const char* section, int recLen, const UserFieldDSC* field,
                        unsigned char* userFields) {
    if (section == nullptr || field == nullptr || userFields == nullptr || !field_fits(*field, recLen)) return -2;
    const UserFieldDSC dsc = *field;  // the description may lie in the area it describes
    int32_t stored = 0;
    const bool read = for_each_line_in_section(path, section, QX_CONFIG_LINE_MAX, [&](char* line, std::size_t length) {
        char* key = nullptr;
        char* value = nullptr;
        if (!split_key_value(line, length, true, key, value) || !key_is(key, "Val")) return;
        stored += dsc.FieldType == UF_TEXT ? read_text_value(value, dsc, recLen, userFields)
                                           : read_number_value(value, dsc, recLen, userFields);
    });
    return read ? stored : -1;
}

int QX_ReadUserFieldValues(const char* path) {
    const qx::AttachState& st = qx::attach_state();
    if (st.info == nullptr || st.user_fields == nullptr) return 0;
    const int32_t count = std::clamp<int32_t>(st.info->UserFieldCount, 0, QX_USERFIELD_MAX);
    const int32_t rec_len = st.info->UserFieldRecLen;
    if (count == 0 || rec_len <= 0 || rec_len > QX_USERFIELD_RECLEN_MAX) return 0;

    // Every record starts as "no value": zero, FLOAT and DOUBLE all bits set.
    std::vector<unsigned char> empty(static_cast<std::size_t>(rec_len), 0);
    for (int32_t f = 0; f < count; ++f) {
        const UserFieldDSC& field = st.info->UserFieldDsc[f];
        if ((field.FieldType == UF_FLOAT || field.FieldType == UF_DOUBLE) && field_fits(field, rec_len))
            std::memset(empty.data() + field.FieldOffset, 0xFF, static_cast<std::size_t>(field.FieldLength));
    }
    for (int32_t j = 0; j <= QX_N_TAG; ++j)
        std::memcpy(st.user_fields + static_cast<std::size_t>(j) * empty.size(), empty.data(), empty.size());

    int stored = 0;
    std::string header;
    for (int32_t f = 0; f < count; ++f) {
        const UserFieldDSC& field = st.info->UserFieldDsc[f];
        const std::string_view name(field.FieldName, strnlen(field.FieldName, sizeof field.FieldName));
        header.assign("[Field=").append(name).append("]");
        ux_print_moni("%s\n", header.c_str());
        const int rc = QX_ReadUserFieldVal(path, header.c_str(), rec_len, &field, st.user_fields);
        if (rc == -1) return -1;
        if (rc > 0) stored += rc;
    }
    return stored;
}

int QX_LoadConfig(const char* path, VelmoSystem* system, Tags* tags, Info* info, TagAdd* tagAdd,
                  unsigned char* userFields, size_t userFieldsSize) {
    if (system == nullptr || tags == nullptr || info == nullptr || tagAdd == nullptr) return -2;
    std::memset(info, 0, sizeof *info);
    info->TimeLastArchiv = info->TimeLastDetail = info->TimeLastTag = info->TimeLastTrend = GetNan();

    const int rc = QX_ReadSysInfo(path, system, info);
    QX_ReadUserFieldDSC(path, info);
    const std::size_t needed = std::size_t{QX_TAG_RECORDS} * static_cast<std::size_t>(info->UserFieldRecLen);
    const bool fields_fit = needed == 0 || (userFields != nullptr && userFieldsSize >= needed);

    const qx::AttachState& st = qx::attach_state();
    QX_SetAttachState(system, tags, st.roh, info, tagAdd, st.tags_internal, fields_fit ? userFields : nullptr);
    QX_ReadTagInfo(path);
    if (fields_fit) QX_ReadUserFieldValues(path);
    if (rc < 0) return -1;
    return fields_fit ? 0 : -3;
}

}  // extern "C"
