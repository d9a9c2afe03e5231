// The time-zone table from /home/kwz/MS_TZInfo.ini.  Loaded once per process
// on first use; a missing file is tried again on every call.
#include "qx/timezone.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "fixed_path.hpp"
#include "julian.hpp"
#include "qx/ini.h"
#include "qx/msq.h"
#include "qx/util.h"

int32_t TZ_AnzTz = 0;
int32_t TZ_DefaultId = 0;
TZ_ZoneEntry* TZ_TZInfo = nullptr;

namespace {

// A table has a few hundred zones at most; a count beyond this is a broken
// file, not a reason to allocate gigabytes.
constexpr int32_t kMaxZones = 10000;

std::unique_ptr<TZ_ZoneEntry[]> zone_table;
int32_t zone_table_size = 0;  // entries actually allocated

bool starts_with(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// Walks a list of zero-terminated entries that ends with an empty one.
template <typename Visit>
void for_each_entry(const char* entries, Visit visit) {
    if (entries == nullptr) return;
    for (const char* entry = entries; *entry != '\0'; entry += std::strlen(entry) + 1) visit(entry);
}

void log_info(const char* format, long value) {
    writeMsg(&rMsq, PMS_INFO, 0, format, value);
}

// Replaces the table by count cleared zones.  Even an empty table is
// allocated, so that it counts as loaded.
void allocate_table(int32_t count) {
    zone_table.reset();
    TZ_TZInfo = nullptr;
    zone_table_size = 0;
    if (count > kMaxZones) {
        ux_print_moni("KWZTimeZone AnzTz=%ld is more than %ld zones; table not loaded\n", static_cast<long>(count),
                      static_cast<long>(kMaxZones));
        return;
    }
    const int32_t size = std::max<int32_t>(count, 0);
    try {
        zone_table = std::make_unique<TZ_ZoneEntry[]>(static_cast<size_t>(std::max<int32_t>(size, 1)));
    } catch (const std::bad_alloc&) {
        return;
    }
    zone_table_size = size;
    TZ_TZInfo = zone_table.get();
}

// Appends a name text; the field keeps at most QX_TZ_NAME_SIZE - 1
// characters, a longer text is cut.
void append_name(char (&field)[QX_TZ_NAME_SIZE], const char* text) {
    const size_t used = strnlen(field, QX_TZ_NAME_SIZE - 1);
    const size_t room = QX_TZ_NAME_SIZE - 1 - used;
    const size_t length = strnlen(text, room);
    std::memcpy(field + used, text, length);
    field[used + length] = '\0';
}

struct NameKey {
    const char* key;
    char (TZ_ZoneEntry::*field)[QX_TZ_NAME_SIZE];
};
constexpr NameKey kNameKeys[] = {
    {"Display=", &TZ_ZoneEntry::Display}, {"Dlt=", &TZ_ZoneEntry::Dlt}, {"Std=", &TZ_ZoneEntry::Std}};

struct IntKey {
    const char* key;
    int32_t TZ_ZoneEntry::*field;
};
constexpr IntKey kEntryIntKeys[] = {{"Index=", &TZ_ZoneEntry::Index}, {"DstOffset=", &TZ_ZoneEntry::DstOffset}};

struct BiasKey {
    const char* key;
    int32_t KWZ_TimeZoneRecord::*field;
};
constexpr BiasKey kBiasKeys[] = {{"MS_TZI_Bias=", &KWZ_TimeZoneRecord::Bias},
                                 {"MS_TZI_StandardBias=", &KWZ_TimeZoneRecord::StandardBias},
                                 {"MS_TZI_DaylightBias=", &KWZ_TimeZoneRecord::DaylightBias}};

struct DateKey {
    const char* prefix;
    KWZ_ZoneDate KWZ_TimeZoneRecord::*date;
};
constexpr DateKey kDateKeys[] = {{"MS_TZI_StandardDate_", &KWZ_TimeZoneRecord::StandardDate},
                                 {"MS_TZI_DaylightDate_", &KWZ_TimeZoneRecord::DaylightDate}};

struct DatePartKey {
    const char* key;
    uint16_t KWZ_ZoneDate::*field;
};
constexpr DatePartKey kDatePartKeys[] = {
    {"wYear=", &KWZ_ZoneDate::wYear},     {"wMonth=", &KWZ_ZoneDate::wMonth},
    {"wDayOfWeek=", &KWZ_ZoneDate::wDayOfWeek}, {"wDay=", &KWZ_ZoneDate::wDay},
    {"wHour=", &KWZ_ZoneDate::wHour},     {"wMinute=", &KWZ_ZoneDate::wMinute},
    {"wSecond=", &KWZ_ZoneDate::wSecond}, {"wMilliseconds=", &KWZ_ZoneDate::wMilliseconds}};

void apply_zone_entry(TZ_ZoneEntry& zone, const char* entry) {
    using qx::cal::text_to_int;
    for (const NameKey& k : kNameKeys)
        if (starts_with(entry, k.key)) return append_name(zone.*k.field, entry + std::strlen(k.key));
    for (const IntKey& k : kEntryIntKeys)
        if (starts_with(entry, k.key)) {
            zone.*k.field = text_to_int(entry + std::strlen(k.key));
            return;
        }
    for (const BiasKey& k : kBiasKeys)
        if (starts_with(entry, k.key)) {
            zone.TimeZone.*k.field = text_to_int(entry + std::strlen(k.key));
            return;
        }
    for (const DateKey& d : kDateKeys) {
        if (!starts_with(entry, d.prefix)) continue;
        const char* part = entry + std::strlen(d.prefix);
        for (const DatePartKey& k : kDatePartKeys)
            if (starts_with(part, k.key)) {
                // 16-bit fields: the number is taken modulo 65536, as a store
                // of the int into the field does.
                (zone.TimeZone.*d.date).*k.field =
                    static_cast<uint16_t>(text_to_int(part + std::strlen(k.key)));
                return;
            }
    }
}

}  // namespace

extern "C" {

void TZReadKonfiCommon(const char* entries) {
    for_each_entry(entries, [](const char* entry) {
        if (starts_with(entry, "AnzTz=")) TZ_AnzTz = qx::cal::text_to_int(entry + 6);
        else if (starts_with(entry, "DeafultID=")) TZ_DefaultId = qx::cal::text_to_int(entry + 10);
    });
    log_info("DefaultId: =%ld", TZ_DefaultId);
    log_info("AnzTZ: =%ld", TZ_AnzTz);
}

void TZReadKonfiTZ_ID(const char* section, const char* entries) {
    if (section == nullptr || strnlen(section, 6) < 6 || TZ_TZInfo == nullptr) return;
    const int id = qx::cal::text_to_int(section + 6);
    if (id < 0 || id >= TZ_AnzTz || id >= zone_table_size) return;
    TZ_ZoneEntry& zone = TZ_TZInfo[id];
    for_each_entry(entries, [&zone](const char* entry) { apply_zone_entry(zone, entry); });
}

int TZ_ReadKonfi(const char* file) {
    struct stat st {};
    const int rc = file != nullptr ? stat(file, &st) : -1;
    if (rc != 0) {
        ux_print_moni("KWZTimeZone could not open file %s \n", file != nullptr ? file : "(null)");
        return rc;
    }
    // The lists the INI reader fills fit in the file's size; two spare zero
    // bytes keep every list terminated whatever it holds.
    const int size = static_cast<int>(std::min<off_t>(std::max<off_t>(st.st_size, 0), INT_MAX - 2));
    std::vector<char> names, entries;
    try {
        names.assign(static_cast<size_t>(size) + 2, '\0');
        entries.assign(static_cast<size_t>(size) + 2, '\0');
    } catch (const std::bad_alloc&) {
        return 0;
    }
    GetPrivateProfileSectionNames(names.data(), size, file);
    for_each_entry(names.data(), [&](const char* section) {
        GetPrivateProfileSection(section, entries.data(), size, file);
        if (starts_with(section, "Common")) {
            TZReadKonfiCommon(entries.data());
            allocate_table(TZ_AnzTz);
        } else if (starts_with(section, "TZ_ID=")) {
            TZReadKonfiTZ_ID(section, entries.data());
        }
    });
    return 0;
}

int KWZInitTimezone(void) {
    return TZ_ReadKonfi(qx::fixed_path(QX_TZ_FILE).c_str());
}

int GetTimeZoneInformation(KWZ_TimeZoneRecord* zone) {
    if (TZ_TZInfo == nullptr) {
        writeMsg(&rMsq, PMS_INFO, 0, "KWZInitTimeZoneInfo Start");
        KWZInitTimezone();
        writeMsg(&rMsq, PMS_INFO, 0, "KWZInitTimeZoneInfo Ende");
    }
    log_info("GetTimeZoneInfo DefaultId: =%ld", TZ_DefaultId);
    log_info("GetTimeZoneInfo TZ_AnzTz: =%ld", TZ_AnzTz);
    if (TZ_DefaultId < 0 || TZ_DefaultId >= TZ_AnzTz || TZ_DefaultId >= zone_table_size || TZ_TZInfo == nullptr)
        return -1;
    if (zone != nullptr) {
        *zone = TZ_TZInfo[TZ_DefaultId].TimeZone;
        log_info("GetTimeZoneInfo Bias: =%ld", zone->Bias);
    }
    return -1;
}

}  // extern "C"
