/*
 * The configuration file of the tag database (/home/kwz/ra_vuvuvizi.ini):
 * its line preparation, the readers that fill the records from it, the two
 * writers that write the records back, and the sum entries (addends of sum
 * tags) kept in the TagAdd table.
 *
 * Paths are used as given: a caller that means the system's fixed file maps
 * QX_CONFIG_FILE with QX_FixedPath first.
 *
 * Readers and sum-entry operations that take no record arguments work on the
 * attach state (QXInit, or QX_SetAttachState for records a tool provides).
 *
 * Loading order, as the data server does it:
 *   1. QX_ReadSysInfo      into a private VelmoSystem and Info
 *   2. QX_ReadUserFieldDSC into the private Info (gives UserFieldRecLen)
 *   3. (the caller creates the segments, copies the private records into
 *      them and points the attach state at them)
 *   4. QX_ReadTagInfo      tags and sum entries, through the attach state
 *   5. QX_ReadUserFieldValues  user-field values, through the attach state
 * QX_LoadConfig runs all of it on memory the caller provides.
 */
#ifndef QX_DBCONFIG_H
#define QX_DBCONFIG_H

#include <stddef.h>
#include <stdint.h>

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QX_CONFIG_FILE "/home/kwz/ra_vuvuvizi.ini"   /* a fixed path: map it */
#define QX_CONFIG_NAME "ra_vuvuvizi"

/* Longest line the readers take, in characters ("[Init]" and elsewhere).
 * The rest of a longer line is skipped, never read as a line of its own. */
#define QX_CONFIG_LINE_MAX       511
#define QX_CONFIG_INIT_LINE_MAX  16385

/* Function numbers of sum tags. */
#define QX_FKT_SUM      210
#define QX_FKT_SUM_ALT  212

/* Largest user-field record: the size of segment 2 must stay a positive int32. */
#define QX_USERFIELD_RECLEN_MAX ((INT32_MAX - QX_SEG2_FIXED_SIZE) / QX_TAG_RECORDS)

/* ---- Line preparation ----------------------------------------------------- */

/* In place, within length bytes: tabs become blanks, trailing CR/LF and then
 * trailing blanks are removed, leading blanks removed by moving the text to
 * the front, the rest of the length filled with NUL. */
void StrTrim2(char* text, int length);
/* Cuts the line at its last "#" (not counting the line's final character)
 * unless the text there begins with "#QNAN", then StrTrim2. */
void StrTrim2Comment(char* text, int length);
/* Splits line at separator into slots of slotSize bytes (dest holds
 * slots * slotSize bytes and is cleared first).  Piece k (from 1) goes to
 * slot k when k < slots, trimmed and cut to slotSize - 1 characters; slot 0
 * stays empty.  A separator in the first position belongs to the first piece.
 * Result: number of pieces + 1; -1 when the line holds no separator; -2 for
 * bad arguments. */
int CsvSplitLine(char* dest, int slots, int slotSize, const char* line, char separator);

/* ---- Readers ---------------------------------------------------------------- */

/* Sets the defaults of the system record, then reads "[Init]" into it and
 * "Path_Archiv" into info (info may be null).  0, or -1 when the file cannot
 * be read (the defaults stay); -2 when system is null. */
int QX_ReadSysInfo(const char* path, VelmoSystem* system, Info* info);

/* Clears the user-field descriptions of info and reads "[UserFields]".
 * Result: the number of fields defined, -1 when the file cannot be read
 * (no fields), -2 when info is null. */
int QX_ReadUserFieldDSC(const char* path, Info* info);

/* Gives every tag of the attached tag table its unconfigured state, empties
 * the attached TagAdd table, then reads "[TagDef]" (tags and sum entries).
 * 0; -1 when the file cannot be read (the unconfigured state stays); -2 when
 * no system, tag table or Info is attached. */
int QX_ReadTagInfo(const char* path);

/* Reads the "Val" lines of one field-value section ("[Field=<name>]") into
 * the user-field records starting at userFields (QX_TAG_RECORDS records of
 * recLen bytes).  Result: the number of values stored; -1 when the file
 * cannot be read; -2 for a description that does not fit the record. */
int QX_ReadUserFieldVal(const char* path, const char* section, int recLen,
                        const UserFieldDSC* field, unsigned char* userFields);

/* Fills every attached user-field record with "no value" (zero, FLOAT and
 * DOUBLE all bits set) and reads the value section of every field.  Result:
 * the number of values stored; 0 when no field is defined or no user-field
 * area is attached; -1 when the file cannot be read. */
int QX_ReadUserFieldValues(const char* path);

/* Loads a whole file into records the caller provides and points the attach
 * state at them (raw values and trend store pointers are kept as they are):
 * tags holds QX_TAG_RECORDS records, tagAdd QX_TAGADD_MAX entries, userFields
 * userFieldsSize bytes (may be null when the file defines no user field).
 * Info starts cleared with its four time stamps NaN.  Result: 0; -1 when the
 * file cannot be read (defaults and unconfigured tags are set all the same);
 * -2 for a null record; -3 when the user-field area is smaller than
 * QX_TAG_RECORDS * info->UserFieldRecLen (everything else is loaded; the user
 * fields are then not attached). */
int QX_LoadConfig(const char* path, VelmoSystem* system, Tags* tags, Info* info,
                  TagAdd* tagAdd, unsigned char* userFields, size_t userFieldsSize);

/* ---- Writers ------------------------------------------------------------------ */

/* Writes the whole database to path.  The new content goes to a temporary
 * file in the same directory that replaces the old file only once it is
 * completely on disk, so a failed write leaves the old file as it was.
 * Sum entries and user-field values are taken from the attach state.
 * Result: 0 written; -1 the file could not be written; -2 no system record
 * or tag table.  The name is not used. */
int QX_SaveConfig2(const char* name, const char* path, VelmoSystem* system, Tags* tags, Info* info);

/* The library's writer: as QX_SaveConfig2 with its own banner and separator,
 * "TagAdd" lines for functions 210 and 212, Info through the attach state,
 * and the attached system record and tag table when given none. */
int VelmoSaveConfig(const char* name, const char* path, VelmoSystem* system, Tags* tags);

/* ---- Sum entries (attached TagAdd table) ------------------------------------ */

/* Number of entries of sum tag tag (function 210 or 212); *entries points to
 * the first of them (null when there is none).  -4 tag out of range, -1 not a
 * sum tag (or nothing attached). */
int32_t SumGetAnzEntries(int32_t tag, TagAdd** entries);
/* SumTag of a minus SumTag of b (qsort/bsearch order of the TagAdd table by sum tag). */
int32_t CompareVelmoTagAddS1(const void* a, const void* b);
/* Orders by SumTag, then AddTag. */
int32_t CompareVelmoTagAdd(const void* a, const void* b);
/* Inserts an addend at its sorted place.  Result: the entry's position among
 * the sum tag's entries; -4 a tag out of range, -1 the sum tag's function is
 * not 210, -3 table full, -5 the pair exists already. */
int32_t SumAddEntry(int32_t sumTag, int32_t addTag, double factor);
/* Removes entry index of the sum tag: 0; the SumGetAnzEntries error; -2 no
 * such entry. */
int32_t SumDelEntry(int32_t sumTag, int32_t index);
/* Reads entry index of the sum tag (a null output is not written): 0, or the
 * errors of SumDelEntry. */
int32_t SumGetEntry(int32_t sumTag, int32_t index, int32_t* addTag, double* factor);
/* Overwrites entry index of the sum tag.  A new addend must be in range (-4)
 * and not yet among the tag's entries (-5); the entry then moves to its sorted
 * place.  0, or the errors of SumDelEntry. */
int32_t SumSetEntry(int32_t sumTag, int32_t index, int32_t addTag, double factor);

#ifdef __cplusplus
}
#endif

#endif /* QX_DBCONFIG_H */
