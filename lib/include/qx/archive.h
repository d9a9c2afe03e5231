/*
 * The archive store: day files of interval values and hour files of detail
 * values (each with a status twin) in the archive directory, the queue
 * writers that hand a step to the data server, the direct writers the data
 * server uses, and the readers by time range.
 *
 * File layout: a 544-byte header, a data area of fixed-size slots, then an
 * index of 12-byte entries sorted by tag number.  Both records below are
 * binary formats checked at compile time.
 */
#ifndef QX_ARCHIVE_H
#define QX_ARCHIVE_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Kinds, extensions, limits ------------------------------------------ */

#define QX_ARCHIV_VALUES        1  /* interval values, ".DATA"        */
#define QX_ARCHIV_STATUS        2  /* interval status, ".DATA.ST"     */
#define QX_DETAIL_VALUES        3  /* detail values, ".DETAIL"        */
#define QX_DETAIL_STATUS        4  /* detail status, ".DETAIL.ST"     */

#define QX_EXT_ARCHIV           ".DATA"
#define QX_EXT_ARCHIV_STATUS    ".DATA.ST"
#define QX_EXT_DETAIL           ".DETAIL"
#define QX_EXT_DETAIL_STATUS    ".DETAIL.ST"
#define QX_EXT_EXTEND_NEW       ".DATA.NEW"  /* file being built by an extension */
#define QX_EXT_EXTEND_OLD       ".OLD"       /* appended to the replaced file    */

#define QX_ARCHIV_HEADER_SIZE   544
#define QX_ARCHIV_INDEX_ENTRY   12
/* A file of this size or less holds not even the header and one entry. */
#define QX_ARCHIV_MIN_FILE      555
#define QX_ARCHIV_MAGIC         0xBEEFBEEFu
#define QX_ARCHIV_LITTLE_ENDIAN 0xAFFEAFFEu
#define QX_ARCHIV_BIG_ENDIAN    0xBEEFBEEFu

/* Archive-write queue: key, and the largest record the data server takes
 * (24 + 12 x 4096 bytes: 4096 values or 6144 status words). */
#define QX_ARCHIV_MSG_KEY       ((int32_t)0xAFFE0004)
#define QX_ARCHIV_MSG_HEAD      24
#define QX_ARCHIV_MSG_MAX       49176

/* ---- On-disk records ------------------------------------------------------ */

typedef struct ArchivHeader {
    uint8_t  Reserved0[8];
    int32_t  NTags;          /* number of index entries                      */
    int32_t  Inter;          /* slot length in seconds at creation           */
    int32_t  NInter;         /* slots per tag                                */
    int32_t  Fixed1;         /* always 1                                     */
    uint32_t IndexOffset;    /* 544 + NTags x NInter x slot width            */
    int32_t  Fixed3;         /* always 3                                     */
    uint8_t  TimeZone[172];  /* the default zone's rule (KWZ_TimeZone bytes) */
    uint8_t  Reserved204[4];
    uint32_t ByteOrder;      /* 0xAFFEAFFE little-endian, 0xBEEFBEEF big     */
    uint32_t Magic;          /* 0xBEEFBEEF                                   */
    uint8_t  Reserved216[328];
} ArchivHeader;

typedef struct ArchivIndexEntry {
    uint32_t TagNr;          /* tag number                                   */
    uint32_t Offset;         /* file offset of the tag's first slot          */
    int16_t  TypeCode;       /* the file kind, 1 to 4                        */
    int16_t  ValueLen;       /* slot width                                   */
} ArchivIndexEntry;

/* Head of an archive-write message; tag numbers (int32[N]) follow, then the
 * values (double[N], types 1 and 3) or status words (uint32[N], 2 and 4). */
typedef struct ArchivMsgHead {
    int64_t mtype;           /* the file kind                                */
    double  Time;            /* time of the step, UTC days                   */
    int64_t N;               /* number of tags (low 32 bits count)           */
} ArchivMsgHead;

/* Handle of one archive file; starts zero-filled (closed). */
typedef struct QXDB {
    int32_t  fd;             /* > 0 while a file is open                     */
    char     Path[512];
    char     Ext[20];
    uint32_t FileSize;       /* as a writer last found it                    */
    int32_t  Period;         /* 86400 or 3600                                */
    int32_t  Inter;          /* slot length a new file would get             */
    int32_t  NInter;         /* slots per tag a new file would get           */
    ArchivHeader* Header;    /* copy of the header while open                */
    uint32_t HeaderOffset;
    uint32_t HeaderSize;
    ArchivIndexEntry* Index; /* copy of the index while open                 */
    uint32_t IndexOffset;
    uint32_t IndexSize;
} QXDB;

/* ---- Files: naming, opening, creating, extending -------------------------- */

int   MakeReadArchivName2(QXDB* db, int kind, const char* ext, const VelmoSystem* sys, double time);
short getTypeCodeLen(short typeCode);
int   QXDBOpen2(QXDB* db);
void  QXDBClose2(QXDB* db, int writeBack);
void* MapViewOfFile2(int fd, uint32_t offset, uint32_t size);
int   UnmapViewOfFile2(int fd, uint32_t offset, void* buffer, uint32_t size, int writeBack);
int   QXDBCreateSortTime(QXDB* db, short kind, int nTags, const int32_t* tagNrs);
int   QXDBExtendSortTime(QXDB* db, const VelmoSystem* sys, short kind, int nTags, const int32_t* tagNrs,
                         double time);
int   QXDBCreateSortTags(QXDB* db, short typeCode, int nTags, const int32_t* tagNrs);
int   QXDBExtendSortTags(QXDB* db, short typeCode, int nTags, const int32_t* tagNrs);
/* qsort/bsearch comparisons of the first 32-bit word of both operands. */
int   DBCompareLong2(const void* left, const void* right);
int   DBCompareTagList2(const void* left, const void* right);
int   CompareVelmoTagList2(const void* left, const void* right);

/* ---- Writing --------------------------------------------------------------- */

/* Queue writers: one step to the archive-write queue. */
int WriteArchiv(int n, const VelmoSystem* sys, const int32_t* tagNrs, const double* values, double time);
int WriteArchivStatus(int n, const VelmoSystem* sys, const int32_t* tagNrs, const uint32_t* status, double time);
int WriteDetail(int n, const VelmoSystem* sys, const int32_t* tagNrs, const double* values, double time);
int WriteDetailStatus(int n, const VelmoSystem* sys, const int32_t* tagNrs, const uint32_t* status, double time);

/* Direct writers: name, extend and write one step into its file. */
int WriteArchivQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                   const double* values);
int WriteArchivStatusQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                         const uint32_t* status);
int WriteDetailQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                   const double* values);
int WriteDetailStatusQX2(QXDB* db, double time, int n, const VelmoSystem* sys, const int32_t* tagNrs,
                         const uint32_t* status);

/* Slot writers of the time-major and the tag-major layout. */
int WriteArchivSortTime(QXDB* db, double time, int kind, int n, const int32_t* tagNrs, const double* values,
                        const uint32_t* status);
int WriteArchivSortTags(QXDB* db, int mode, int n, const int32_t* tagNrs, const double* values, double time);

/* ---- Reading ----------------------------------------------------------------- */

/* Each read releases a table the caller passes (free) and stores a new one
 * (malloc); the caller frees the last one. */
int32_t ReadArchivUTC(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                      const int32_t* tagNrs, int32_t* rows, double** values);
int32_t ReadArchiv(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                   const int32_t* tagNrs, int32_t* rows, double** values);
int32_t ReadArchivStatusUTC(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                            const int32_t* tagNrs, int32_t* rows, uint32_t** status);
int32_t ReadArchivStatus(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                         const int32_t* tagNrs, int32_t* rows, uint32_t** status);
int32_t ReadDetailUTC(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                      const int32_t* tagNrs, int32_t* rows, double** values);
int32_t ReadDetail(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                   const int32_t* tagNrs, int32_t* rows, double** values);
int32_t ReadDetailStatusUTC(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                            const int32_t* tagNrs, int32_t* rows, uint32_t** status);
int32_t ReadDetailStatus(double start, double end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                         const int32_t* tagNrs, int32_t* rows, uint32_t** status);
int32_t ReadArchivSortTime(QXDB* db, int kind, double start, double end, const VelmoSystem* sys,
                           const Tags* tags, int32_t n, const int32_t* tagNrs, int32_t* rows, double** values,
                           uint32_t** status);
int32_t ReadArchivSortTags(QXDB* db, double start, double end, const VelmoSystem* sys, const Tags* tags,
                           int32_t n, const int32_t* tagNrs, int32_t* rows, double** values);
/* The minute trend of the last hour from the shared memory: 60 rows. */
int32_t ReadTrendUTC(double* start, double* end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                     const int32_t* tagNrs, int32_t* rows, double** values);
int32_t ReadTrend(double* start, double* end, const VelmoSystem* sys, const Tags* tags, int32_t n,
                  const int32_t* tagNrs, int32_t* rows, double** values);

/* ---- Layout checks ------------------------------------------------------------- */

QX_STATIC_ASSERT(sizeof(ArchivHeader) == 544, "ArchivHeader size");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Reserved0) == 0, "ArchivHeader.Reserved0");
QX_STATIC_ASSERT(offsetof(ArchivHeader, NTags) == 8, "ArchivHeader.NTags");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Inter) == 12, "ArchivHeader.Inter");
QX_STATIC_ASSERT(offsetof(ArchivHeader, NInter) == 16, "ArchivHeader.NInter");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Fixed1) == 20, "ArchivHeader.Fixed1");
QX_STATIC_ASSERT(offsetof(ArchivHeader, IndexOffset) == 24, "ArchivHeader.IndexOffset");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Fixed3) == 28, "ArchivHeader.Fixed3");
QX_STATIC_ASSERT(offsetof(ArchivHeader, TimeZone) == 32, "ArchivHeader.TimeZone");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Reserved204) == 204, "ArchivHeader.Reserved204");
QX_STATIC_ASSERT(offsetof(ArchivHeader, ByteOrder) == 208, "ArchivHeader.ByteOrder");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Magic) == 212, "ArchivHeader.Magic");
QX_STATIC_ASSERT(offsetof(ArchivHeader, Reserved216) == 216, "ArchivHeader.Reserved216");
QX_STATIC_ASSERT(sizeof(ArchivIndexEntry) == 12, "ArchivIndexEntry size");
QX_STATIC_ASSERT(offsetof(ArchivIndexEntry, TagNr) == 0, "ArchivIndexEntry.TagNr");
QX_STATIC_ASSERT(offsetof(ArchivIndexEntry, Offset) == 4, "ArchivIndexEntry.Offset");
QX_STATIC_ASSERT(offsetof(ArchivIndexEntry, TypeCode) == 8, "ArchivIndexEntry.TypeCode");
QX_STATIC_ASSERT(offsetof(ArchivIndexEntry, ValueLen) == 10, "ArchivIndexEntry.ValueLen");
QX_STATIC_ASSERT(sizeof(ArchivMsgHead) == 24, "ArchivMsgHead size");
QX_STATIC_ASSERT(offsetof(ArchivMsgHead, Time) == 8, "ArchivMsgHead.Time");
QX_STATIC_ASSERT(offsetof(ArchivMsgHead, N) == 16, "ArchivMsgHead.N");

#ifdef __cplusplus
}
#endif

#endif /* QX_ARCHIVE_H */
