// User fields: typed per-tag values packed, unaligned, in segment 2.  Values
// are reached only by byte copies, and only inside their tag's record.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "attach_state.hpp"
#include "qx/userfield.h"
#include "qx/util.h"

namespace {

struct FieldValue {
    const UserFieldDSC* description;
    unsigned char* bytes;  // FieldLength bytes
};

int field_count(const Info& info) {
    return std::clamp(info.UserFieldCount, 0, QX_USERFIELD_MAX);
}

const UserFieldDSC* description_of(int field) {
    const Info* info = qx::attach_state().info;
    if (info == nullptr || field < 0 || field >= field_count(*info)) return nullptr;
    return &info->UserFieldDsc[field];
}

// Bytes a value of the type occupies; 0 for an unknown type.
int value_size(int type) {
    switch (type) {
        case UF_INT: return sizeof(int16_t);
        case UF_LONG: return sizeof(int32_t);
        case UF_FLOAT: return sizeof(float);
        case UF_DOUBLE: return sizeof(double);
        case UF_TEXT: return 1;  // at least the terminating NUL
        default: return 0;
    }
}

// The value of a field for a tag, when the tag, the field and the field's
// place inside the record are all valid.
std::optional<FieldValue> locate(int tag, int field) {
    const qx::AttachState& state = qx::attach_state();
    const UserFieldDSC* description = description_of(field);
    if (description == nullptr || state.user_fields == nullptr) return std::nullopt;
    if (static_cast<unsigned>(tag) - 1u >= static_cast<unsigned>(QX_N_TAG)) return std::nullopt;
    const int64_t record_length = state.info->UserFieldRecLen;
    const int64_t offset = description->FieldOffset;
    const int64_t length = description->FieldLength;
    if (offset < 0 || length < 1 || offset + length > record_length) return std::nullopt;
    const int needed = value_size(description->FieldType);
    if (needed != 0 && length < needed) return std::nullopt;
    return FieldValue{description, state.user_fields + tag * record_length + offset};
}

template <typename T>
T load(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <typename T>
void store(unsigned char* bytes, T value) {
    std::memcpy(bytes, &value, sizeof value);
}

// No value: every bit set, as the data server fills FLOAT and DOUBLE fields.
void store_missing(unsigned char* bytes, int size) {
    std::memset(bytes, 0xFF, static_cast<size_t>(size));
}

template <typename T>
int get_typed(int tag, int field, int type, T* value) {
    if (value == nullptr) return -1;
    const auto located = locate(tag, field);
    if (!located) return -1;
    if (located->description->FieldType != type) return -2;
    *value = load<T>(located->bytes);
    return 0;
}

template <typename T>
int set_typed(int tag, int field, int type, T value) {
    const auto located = locate(tag, field);
    if (!located) return -1;
    if (located->description->FieldType != type) return -2;
    store(located->bytes, value);
    return 0;
}

// ---- Formats ----------------------------------------------------------------

// The argument a format's conversion takes.
enum class Argument { none, text, int_value, long_value, long_long_value, double_value, long_double_value, refused };

// Reads the format's conversions.  A format fits when it has at most one
// conversion and that one takes no '*' width or precision and no positional
// argument, so exactly the one value passed is read.
Argument argument_of(const std::string& format) {
    Argument found = Argument::none;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        if (found != Argument::none) return Argument::refused;
        size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0'", format[j]) != nullptr) ++j;
        while (j < format.size() && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '.')) ++j;
        std::string length;
        while (j < format.size() && std::strchr("hlLqjzt", format[j]) != nullptr) length += format[j++];
        if (j >= format.size()) return Argument::refused;
        const char conversion = format[j];
        if (std::strchr("diouxXc", conversion) != nullptr) {
            if (length.empty() || length == "h" || length == "hh") found = Argument::int_value;
            else if (length == "l") found = Argument::long_value;
            else if (length == "ll") found = Argument::long_long_value;
            else return Argument::refused;
        } else if (std::strchr("eEfFgGaA", conversion) != nullptr) {
            if (length.empty() || length == "l") found = Argument::double_value;
            else if (length == "L") found = Argument::long_double_value;
            else return Argument::refused;
        } else if (conversion == 's' && length.empty()) {
            found = Argument::text;
        } else {
            return Argument::refused;  // %n, %p, '*', '$', wide or unknown conversions
        }
        i = j;
    }
    return found;
}

bool is_integer(Argument a) {
    return a == Argument::int_value || a == Argument::long_value || a == Argument::long_long_value;
}

bool is_floating(Argument a) {
    return a == Argument::double_value || a == Argument::long_double_value;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// The format was checked by argument_of; each call passes the one argument
// type its conversion takes.
int format_integer(char* buffer, size_t size, const std::string& format, Argument a, int64_t value) {
    switch (a) {
        case Argument::long_value: return std::snprintf(buffer, size, format.c_str(), static_cast<long>(value));
        case Argument::long_long_value:
            return std::snprintf(buffer, size, format.c_str(), static_cast<long long>(value));
        default: return std::snprintf(buffer, size, format.c_str(), static_cast<int>(value));
    }
}

int format_floating(char* buffer, size_t size, const std::string& format, Argument a, double value) {
    if (a == Argument::long_double_value)
        return std::snprintf(buffer, size, format.c_str(), static_cast<long double>(value));
    return std::snprintf(buffer, size, format.c_str(), value);
}

int format_text(char* buffer, size_t size, const std::string& format, const std::string& text) {
    return std::snprintf(buffer, size, format.c_str(), text.c_str());
}

int format_plain(char* buffer, size_t size, const std::string& format) {
    return std::snprintf(buffer, size, format.c_str(), 0);  // no conversion: the argument is not read
}
#pragma GCC diagnostic pop

// Formats a value with the given format, or with "%g" for a FLOAT or DOUBLE
// that has no value.  -1 when the format does not fit the field's type.
int format_value(const FieldValue& field, const char* format_text_in, char* buffer, int size) {
    const size_t capacity = static_cast<size_t>(size);
    const std::string format(format_text_in, strnlen(format_text_in, sizeof field.description->FormatString));
    const int type = field.description->FieldType;

    if (type == UF_FLOAT || type == UF_DOUBLE) {
        const double value = type == UF_FLOAT ? static_cast<double>(load<float>(field.bytes)) : load<double>(field.bytes);
        if (IsNan(value)) return std::snprintf(buffer, capacity, "%g", value);
        const Argument a = argument_of(format);
        if (a == Argument::none) return format_plain(buffer, capacity, format);
        return is_floating(a) ? format_floating(buffer, capacity, format, a, value) : -1;
    }
    const Argument a = argument_of(format);
    if (a == Argument::refused) return -1;
    if (type == UF_TEXT) {
        // The stored text need not be terminated within its field.
        const char* text = reinterpret_cast<const char*>(field.bytes);
        const std::string value(text, strnlen(text, static_cast<size_t>(field.description->FieldLength)));
        if (a == Argument::none) return format_plain(buffer, capacity, format);
        return a == Argument::text ? format_text(buffer, capacity, format, value) : -1;
    }
    int64_t value;
    if (type == UF_INT) value = load<int16_t>(field.bytes);
    else if (type == UF_LONG) value = load<int32_t>(field.bytes);
    else return -1;
    if (a == Argument::none) return format_plain(buffer, capacity, format);
    return is_integer(a) ? format_integer(buffer, capacity, format, a, value) : -1;
}

const char* default_format(int type) {
    switch (type) {
        case UF_TEXT: return "%s";
        case UF_INT: return "%d";
        case UF_LONG: return "%ld";
        default: return "%g";
    }
}

int get_text(int tag, int field, char* buffer, int size, bool use_default_format) {
    if (buffer == nullptr || size <= 0) return -1;
    std::memset(buffer, 0, static_cast<size_t>(size));
    const auto located = locate(tag, field);
    if (!located) return -1;
    const UserFieldDSC& d = *located->description;
    if (value_size(d.FieldType) == 0) return -1;
    const char* format = use_default_format ? default_format(d.FieldType) : d.FormatString;
    const int length = format_value(*located, format, buffer, size);
    if (length < 0) std::memset(buffer, 0, static_cast<size_t>(size));
    return length < 0 ? -1 : length;
}

}  // namespace

extern "C" {

int GetUserfieldCount(void) {
    const Info* info = qx::attach_state().info;
    return info != nullptr ? field_count(*info) : 0;
}

int GetUserfieldInfo(int field, UserFieldDSC* destination) {
    const UserFieldDSC* description = description_of(field);
    if (description == nullptr || destination == nullptr) return -1;
    std::memcpy(destination, description, sizeof(UserFieldDSC));
    return 0;
}

int GetUserfieldNbr(const char* name) {
    const Info* info = qx::attach_state().info;
    if (info == nullptr || name == nullptr) return -1;
    const size_t wanted = std::strlen(name);
    for (int field = 0; field < field_count(*info); ++field) {
        const char* candidate = info->UserFieldDsc[field].FieldName;
        const size_t length = strnlen(candidate, sizeof info->UserFieldDsc[field].FieldName);
        if (length == wanted && strncasecmp(candidate, name, length) == 0) return field;
    }
    return -1;
}

int GetUserfieldText(int tag, int field, char* buffer, int size) {
    return get_text(tag, field, buffer, size, false);
}

int GetUserfieldTextDefault(int tag, int field, char* buffer, int size) {
    return get_text(tag, field, buffer, size, true);
}

int SetUserfieldText(int tag, int field, const char* text) {
    if (text == nullptr) return -1;
    const auto located = locate(tag, field);
    if (!located) return -1;
    unsigned char* bytes = located->bytes;
    const int length = located->description->FieldLength;
    switch (located->description->FieldType) {
        case UF_TEXT:
            std::memset(bytes, 0, static_cast<size_t>(length));
            std::memcpy(bytes, text, strnlen(text, static_cast<size_t>(length) - 1));
            return 0;
        case UF_INT:  // atoi and atol, without their undefined overflow
            store(bytes, static_cast<int16_t>(std::strtol(text, nullptr, 10)));
            return 0;
        case UF_LONG:
            store(bytes, static_cast<int32_t>(std::strtol(text, nullptr, 10)));
            return 0;
        case UF_FLOAT: {
            const double value = atofnan(text);
            if (IsNan(value)) store_missing(bytes, sizeof(float));
            else store(bytes, static_cast<float>(value));
            return 0;
        }
        case UF_DOUBLE:
            store(bytes, atofnan(text));
            return 0;
        default: return -1;
    }
}

int GetUserfieldInt(int tag, int field, int16_t* value) { return get_typed(tag, field, UF_INT, value); }
int GetUserfieldLong(int tag, int field, int32_t* value) { return get_typed(tag, field, UF_LONG, value); }
int GetUserfieldFloat(int tag, int field, float* value) { return get_typed(tag, field, UF_FLOAT, value); }
int GetUserfieldDouble(int tag, int field, double* value) { return get_typed(tag, field, UF_DOUBLE, value); }

int SetUserfieldInt(int tag, int field, int value) {
    return set_typed(tag, field, UF_INT, static_cast<int16_t>(value));
}
int SetUserfieldLong(int tag, int field, int32_t value) { return set_typed(tag, field, UF_LONG, value); }
int SetUserfieldFloat(int tag, int field, float value) { return set_typed(tag, field, UF_FLOAT, value); }
int SetUserfieldDouble(int tag, int field, double value) { return set_typed(tag, field, UF_DOUBLE, value); }

}  // extern "C"
