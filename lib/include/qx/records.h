/*
 * The shared records of the tag database and the layout of the two
 * shared-memory segments that hold them.
 *
 * Every program maps the same bytes, so each record below is a binary
 * format: little-endian, natural alignment of the 64-bit ABI, doubles in
 * IEEE 754 binary64.  The size and the offset of every field are checked at
 * compile time at the end of this file.
 */
#ifndef QX_RECORDS_H
#define QX_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Sizes of the data model ------------------------------------------ */

#define QX_N_TAG            4096   /* highest tag number; tags are 1..4096       */
#define QX_N_ROH            4096   /* highest raw-value number                    */
#define QX_TAG_RECORDS      (QX_N_TAG + 1)   /* element 0 is never a valid reference */
#define QX_ROH_RECORDS      (QX_N_ROH + 1)
#define QX_TAGADD_MAX       8194   /* capacity of the TagAdd table                */
#define QX_USERFIELD_MAX    64     /* user fields that can be defined             */
#define QX_TREND_SLOTS      60     /* one trend slot per minute of the hour        */

/* ---- IPC keys ---------------------------------------------------------- */

#define QX_KEY_LOG_QUEUE     ((int32_t)0xAFFE0001)  /* log queue, read by the supervisor   */
#define QX_KEY_CMD_QUEUE     ((int32_t)0xAFFE0002)  /* command queue of the data server     */
#define QX_KEY_SEGMENT1      ((int32_t)0xAFFE0002)  /* segment 1: system, tags, raw, Info   */
#define QX_KEY_SEGMENT2      ((int32_t)0xAFFE0003)  /* segment 2: TagAdd, trend, user fields */
#define QX_KEY_ARCHIVE_QUEUE ((int32_t)0xAFFE0004)  /* archive-write queue of the data server */
#define QX_KEY_ANSWER_BASE   0xBEEF0000u            /* + process id: a client's answer queue  */

/* ---- Status bits of tags and raw values -------------------------------- */

#define ST_IRREGULAR  0x00000001u
#define ST_BYPASS     0x00000004u
#define ST_ALARM_LL   0x00000040u
#define ST_ALARM_L    0x00000080u
#define ST_ALARM_H    0x00000100u
#define ST_ALARM_HH   0x00000200u
#define ST_START      0x00004000u
#define ST_DIVZERO    0x00010000u
#define ST_NOARCHIVE  0x00020000u
#define ST_CONFIG     0x00040000u
#define ST_NOINPUT    0x00100000u
#define ST_GATE_OFF   0x00200000u
#define ST_OFF        0x01000000u
#define ST_EXPIRED    0x02000000u
#define ST_SUBST      0x04000000u
#define ST_NOTREADY   0x40000000u
#define ST_FEEDBACK   0x80000000u
/* Bits 0, 1, 3, 15, 16, 17, 18, 22 and 25: a fault for the substitute-value check. */
#define ST_FAULT_MASK 0x0247800Bu
#define ST_NONE       0xFFFFFFFFu   /* "no status" */

/* Fixed HLog bytes shared by all functions. */
#define HLOG_IN_SERVICE    62  /* 0 = switched off: Hdouble[9] replaces the value      */
#define HLOG_KEEP_ON_FAULT 61  /* 0 = a faulty status replaces the value by Hdouble[8]  */
#define HLOG_INPUT_ENABLED 40  /* input enabled for functions 7, 8 and 9               */

/* Archive selection bytes of Tags.Arch. */
#define ARCH_INTERVAL      0   /* interval archive of Mittel                  */
#define ARCH_DETAIL        1   /* detail archive of Ist                       */
#define ARCH_INTERVAL_IST  2   /* interval archive of Ist instead of Mittel   */
#define ARCH_DAILY         3   /* daily values                                */
#define ARCH_WITH_STATUS   254 /* on, and the status is archived as well      */

/* User-field types. */
#define UF_TEXT   1
#define UF_INT    2   /* int16    */
#define UF_LONG   3   /* int32    */
#define UF_FLOAT  4   /* binary32 */
#define UF_DOUBLE 5   /* binary64 */

/* ---- Records ------------------------------------------------------------ */

/* System parameters; the first record of segment 1. */
typedef struct VelmoSystem {
    int32_t takt;            /* cycle period of the core, seconds            */
    int32_t inter;           /* archive interval, seconds                    */
    int32_t abr_zeit;        /* accounting period, seconds                   */
    int32_t refresh;         /* refresh period, seconds                      */
    int32_t n_tag;           /* highest tag number (always 4096)             */
    int32_t n_roh;           /* highest raw-value number (always 4096)       */
    double  roh_skal;        /* default full scale of raw inputs (function 4) */
    int32_t n_fkt;
    int32_t anzahl;          /* cycle counter                                */
    int32_t n_stoer;
    int32_t stoer_takt;      /* detail period, seconds; 0 = no detail archive */
    int32_t stoer_inter;
    int32_t time_archiv;
    int32_t k_anz;
    int32_t time_stored;
    double  zeit_kern;       /* UTC time (days) of the core's latest pass     */
    double  zeit_archiv;
    char    bezeichnung[40]; /* title of the installation                    */
    char    dir_archiv[64];  /* archive directory                            */
    char    TagDefaultBez[25]; /* name prefix of unconfigured tags           */
    int32_t TagDefaultFkt;   /* function of unconfigured tags                */
} VelmoSystem;

/* One computed measuring point. */
typedef struct Tags {
    char     Bez[32];        /* name, blank padded                            */
    int32_t  Fkt;            /* function number; 0 = not in use               */
    uint32_t Status;         /* status bits; 0 = good                         */
    double   Ist;            /* current value                                 */
    double   Dba;            /* range start                                   */
    double   Dbe;            /* range end                                     */
    double   Anz;            /* values summed since the last interval         */
    double   Summe;          /* sum since the last interval                   */
    double   Mittel;         /* mean of the last completed interval           */
    uint8_t  Arch[4];        /* archive selection, see ARCH_*                 */
    int32_t  Nach;
    int32_t  Zeiger[5];      /* input tags; 0 or negative = none              */
    uint8_t  HByte[2];       /* per-function byte parameters or state         */
    int32_t  Hint[10];       /* per-function integers; Hint[0] raw number     */
    double   Hdouble[10];    /* per-function doubles; [8], [9] substitutes    */
    char     Text[64];       /* text of the tag                               */
    uint8_t  HLog[64];       /* per-function flags, non-zero = set            */
} Tags;

/* One raw value as written by a link program. */
typedef struct Rohwerte {
    double   Ist;            /* value as delivered                            */
    uint32_t Status;         /* status delivered with the value               */
    uint32_t WriteTime;      /* epoch seconds of the last write               */
    uint32_t ValidUntil;     /* epoch seconds of expiry; 0xFFFFFFFF = never   */
    char     Info[16];       /* short text (a unit), NUL padded               */
} Rohwerte;

#define QX_VALID_FOREVER 0xFFFFFFFFu

/* Addend of a sum tag; the used entries are sorted by SumTag, then AddTag. */
typedef struct TagAdd {
    double  Factor;
    int32_t AddTag;
    int32_t SumTag;
} TagAdd;

/* Per-tag trend store. */
typedef struct TagsInternal {
    double Trend[QX_TREND_SLOTS]; /* Ist at minute m of the current hour     */
    double Aux[2];                /* UTC time and value of the newest interval value */
} TagsInternal;

/* Description of one user field. */
typedef struct UserFieldDSC {
    char    FieldName[64];
    int32_t FieldType;       /* UF_TEXT .. UF_DOUBLE                          */
    int32_t FieldLength;     /* byte length of the value                      */
    int32_t FieldOffset;     /* offset inside a tag's user-field record       */
    int32_t UniqueFlag;
    int32_t EditFlag;
    char    FormatString[32];
} UserFieldDSC;

/* Information block of the database. */
typedef struct Info {
    int32_t      Reserved0;
    int32_t      Stop;             /* non-zero ends the main loop of every program */
    char         VelmoName[200];   /* instance name                               */
    char         Reserved1[1020];
    int32_t      TagAddMax;        /* capacity of the TagAdd table                */
    int32_t      TagAddCount;      /* used TagAdd entries                         */
    double       TimeLastArchiv;   /* UTC time of the newest interval archive     */
    double       TimeLastDetail;   /* UTC time of the newest detail archive       */
    double       TimeLastTag;
    double       TimeLastTrend;
    char         Reserved2[20736];
    int32_t      UserFieldCount;   /* user fields defined, 0..64                  */
    int32_t      UserFieldRecLen;  /* bytes of one tag's user-field record        */
    UserFieldDSC UserFieldDsc[QX_USERFIELD_MAX];
    char         PathArchiv[16385];
} Info;

/* ---- Segment layout ----------------------------------------------------- */

#define QX_SEG1_SIZE           1717624
#define QX_SEG1_OFF_SYSTEM     0
#define QX_SEG1_OFF_TAGS       216
#define QX_SEG1_OFF_ROH        1507912
#define QX_SEG1_OFF_INFO       1671792

#define QX_SEG2_OFF_TAGADD     0
#define QX_SEG2_OFF_TAGINT     131104
#define QX_SEG2_OFF_USERFIELDS 2163216
/* Segment 2 is QX_SEG2_FIXED_SIZE + QX_TAG_RECORDS * UserFieldRecLen bytes. */
#define QX_SEG2_FIXED_SIZE     2163216

/* ---- Layout checks ------------------------------------------------------ */

#define QX_CHECK_FIELD(rec, field, off) \
    QX_STATIC_ASSERT(offsetof(rec, field) == (off), #rec "." #field " must lie at offset " #off)
#define QX_CHECK_SIZE(rec, size) \
    QX_STATIC_ASSERT(sizeof(rec) == (size), "sizeof(" #rec ") must be " #size)

QX_CHECK_SIZE(VelmoSystem, 216);
QX_CHECK_FIELD(VelmoSystem, takt, 0);
QX_CHECK_FIELD(VelmoSystem, inter, 4);
QX_CHECK_FIELD(VelmoSystem, abr_zeit, 8);
QX_CHECK_FIELD(VelmoSystem, refresh, 12);
QX_CHECK_FIELD(VelmoSystem, n_tag, 16);
QX_CHECK_FIELD(VelmoSystem, n_roh, 20);
QX_CHECK_FIELD(VelmoSystem, roh_skal, 24);
QX_CHECK_FIELD(VelmoSystem, n_fkt, 32);
QX_CHECK_FIELD(VelmoSystem, anzahl, 36);
QX_CHECK_FIELD(VelmoSystem, n_stoer, 40);
QX_CHECK_FIELD(VelmoSystem, stoer_takt, 44);
QX_CHECK_FIELD(VelmoSystem, stoer_inter, 48);
QX_CHECK_FIELD(VelmoSystem, time_archiv, 52);
QX_CHECK_FIELD(VelmoSystem, k_anz, 56);
QX_CHECK_FIELD(VelmoSystem, time_stored, 60);
QX_CHECK_FIELD(VelmoSystem, zeit_kern, 64);
QX_CHECK_FIELD(VelmoSystem, zeit_archiv, 72);
QX_CHECK_FIELD(VelmoSystem, bezeichnung, 80);
QX_CHECK_FIELD(VelmoSystem, dir_archiv, 120);
QX_CHECK_FIELD(VelmoSystem, TagDefaultBez, 184);
QX_CHECK_FIELD(VelmoSystem, TagDefaultFkt, 212);

QX_CHECK_SIZE(Tags, 368);
QX_CHECK_FIELD(Tags, Bez, 0);
QX_CHECK_FIELD(Tags, Fkt, 32);
QX_CHECK_FIELD(Tags, Status, 36);
QX_CHECK_FIELD(Tags, Ist, 40);
QX_CHECK_FIELD(Tags, Dba, 48);
QX_CHECK_FIELD(Tags, Dbe, 56);
QX_CHECK_FIELD(Tags, Anz, 64);
QX_CHECK_FIELD(Tags, Summe, 72);
QX_CHECK_FIELD(Tags, Mittel, 80);
QX_CHECK_FIELD(Tags, Arch, 88);
QX_CHECK_FIELD(Tags, Nach, 92);
QX_CHECK_FIELD(Tags, Zeiger, 96);
QX_CHECK_FIELD(Tags, HByte, 116);
QX_CHECK_FIELD(Tags, Hint, 120);
QX_CHECK_FIELD(Tags, Hdouble, 160);
QX_CHECK_FIELD(Tags, Text, 240);
QX_CHECK_FIELD(Tags, HLog, 304);

QX_CHECK_SIZE(Rohwerte, 40);
QX_CHECK_FIELD(Rohwerte, Ist, 0);
QX_CHECK_FIELD(Rohwerte, Status, 8);
QX_CHECK_FIELD(Rohwerte, WriteTime, 12);
QX_CHECK_FIELD(Rohwerte, ValidUntil, 16);
QX_CHECK_FIELD(Rohwerte, Info, 20);

QX_CHECK_SIZE(TagAdd, 16);
QX_CHECK_FIELD(TagAdd, Factor, 0);
QX_CHECK_FIELD(TagAdd, AddTag, 8);
QX_CHECK_FIELD(TagAdd, SumTag, 12);

QX_CHECK_SIZE(TagsInternal, 496);
QX_CHECK_FIELD(TagsInternal, Trend, 0);
QX_CHECK_FIELD(TagsInternal, Aux, 480);

QX_CHECK_SIZE(UserFieldDSC, 116);
QX_CHECK_FIELD(UserFieldDSC, FieldName, 0);
QX_CHECK_FIELD(UserFieldDSC, FieldType, 64);
QX_CHECK_FIELD(UserFieldDSC, FieldLength, 68);
QX_CHECK_FIELD(UserFieldDSC, FieldOffset, 72);
QX_CHECK_FIELD(UserFieldDSC, UniqueFlag, 76);
QX_CHECK_FIELD(UserFieldDSC, EditFlag, 80);
QX_CHECK_FIELD(UserFieldDSC, FormatString, 84);

QX_CHECK_SIZE(Info, 45832);
QX_CHECK_FIELD(Info, Reserved0, 0);
QX_CHECK_FIELD(Info, Stop, 4);
QX_CHECK_FIELD(Info, VelmoName, 8);
QX_CHECK_FIELD(Info, Reserved1, 208);
QX_CHECK_FIELD(Info, TagAddMax, 1228);
QX_CHECK_FIELD(Info, TagAddCount, 1232);
QX_CHECK_FIELD(Info, TimeLastArchiv, 1240);
QX_CHECK_FIELD(Info, TimeLastDetail, 1248);
QX_CHECK_FIELD(Info, TimeLastTag, 1256);
QX_CHECK_FIELD(Info, TimeLastTrend, 1264);
QX_CHECK_FIELD(Info, Reserved2, 1272);
QX_CHECK_FIELD(Info, UserFieldCount, 22008);
QX_CHECK_FIELD(Info, UserFieldRecLen, 22012);
QX_CHECK_FIELD(Info, UserFieldDsc, 22016);
QX_CHECK_FIELD(Info, PathArchiv, 29440);

/* The segment layout follows from the record sizes. */
QX_STATIC_ASSERT(QX_SEG1_OFF_TAGS == QX_SEG1_OFF_SYSTEM + sizeof(VelmoSystem), "tags follow the system record");
QX_STATIC_ASSERT(QX_SEG1_OFF_ROH == QX_SEG1_OFF_TAGS + QX_TAG_RECORDS * sizeof(Tags), "raw values follow the tags");
QX_STATIC_ASSERT(QX_SEG1_OFF_INFO == QX_SEG1_OFF_ROH + QX_ROH_RECORDS * sizeof(Rohwerte), "Info follows the raw values");
QX_STATIC_ASSERT(QX_SEG1_SIZE == QX_SEG1_OFF_INFO + sizeof(Info), "segment 1 ends with Info");
QX_STATIC_ASSERT(QX_SEG2_OFF_TAGINT == QX_SEG2_OFF_TAGADD + QX_TAGADD_MAX * sizeof(TagAdd), "trend store follows TagAdd");
QX_STATIC_ASSERT(QX_SEG2_OFF_USERFIELDS == QX_SEG2_OFF_TAGINT + QX_TAG_RECORDS * sizeof(TagsInternal), "user fields follow the trend store");

#ifdef __cplusplus
}
#endif

#endif /* QX_RECORDS_H */
