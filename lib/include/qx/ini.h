/*
 * INI files under the system-wide lock.
 *
 * The profile functions read and rewrite INI files by name; no handle or open
 * file survives a call.  Every access of every program on the machine is
 * serialised by one SysV semaphore keyed by /tmp/ini.sema, and every write
 * goes through the temporary file /home/kwz/log/temp.ini, which then replaces
 * the INI file in one rename.  Failures of a write are noted in
 * /home/kwz/log/w32ini.log.
 *
 * Reading rules: a line ends at its first '#', blanks (not TABs) around the
 * line and around its first '=' are removed, section and key names compare
 * without regard to case, only the first block of a section is read, and a
 * key matches an entry that starts with it followed by '=' or a blank.
 *
 * Not reentrant across threads of one process: a program that calls these
 * functions from several threads serialises the calls itself.
 */
#ifndef QX_INI_H
#define QX_INI_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes of the buffers behind the profile functions. */
#define QX_INI_LINE_SIZE 8192       /* one line: up to 8190 characters and its LF */
#define QX_INI_SECTION_SIZE 32000   /* section content seen by GetPrivateProfileString */
#define QX_INI_NAME_SIZE 210        /* section or key name after escaping, with its NUL */
#define QX_INI_PATTERN_SIZE 200     /* formed regular expression, with its NUL */
#define QX_INI_MIN_FILE_SIZE 10     /* a rewritten file shorter than this is refused */

/* The names of the sections, each followed by a zero byte, into a buffer that
 * is first cleared over its whole size.  Names that don't fit are skipped.
 * Returns the bytes stored; 0 when the file name is missing or empty or the
 * file can't be read. */
int GetPrivateProfileSectionNames(char* lpszReturnBuffer, int nSize, const char* lpFileName);

/* The normalised entries of the first block of a section, each followed by a
 * zero byte.  Returns the bytes stored (0 when absent, empty or unreadable). */
int GetPrivateProfileSection(const char* lpAppName, char* lpReturnedString, int nSize,
                             const char* lpFileName);

/* The value of a key, or the default, truncated to nSize - 1 characters.
 * Returns the length of the string left in the buffer. */
int GetPrivateProfileString(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                            char* lpReturnedString, int nSize, const char* lpFileName);

/* The value of a key read as a decimal int (atoi rules; out-of-range values
 * are clamped), or the default. */
int GetPrivateProfileInt(const char* lpAppName, const char* lpKeyName, int nDefault,
                         const char* lpFileName);

/* Sets a key; a null value deletes the key, a null key deletes the section.
 * Returns 1 when the file was replaced by its new content, 0 otherwise (the
 * file then stays as it was).  A file that does not exist is not created. */
int WritePrivateProfileString(const char* lpAppName, const char* lpKeyName, const char* lpString,
                              const char* lpFileName);

/* Replaces every block of a section by the given lines (zero-terminated,
 * ended by an empty string), appended at the end of the file; null content
 * only removes the section.  Creates the file when it does not exist.
 * Returns 1 when the file was replaced, 0 otherwise. */
int WritePrivateProfileSection(const char* lpAppName, const char* lpString, const char* lpFileName);

/* Normalises one line in place: CR/LF to zero bytes, cut at the first '#',
 * blanks trimmed around the line and around its first '='. */
void FormIniString(char* line);
/* Every CR and LF within the first length bytes becomes a zero byte. */
void NoCrLf(char* string, int length);
/* The string ends at its first '#'. */
void NoComment(char* string);
/* Removes leading and trailing blanks (spaces only, not TABs) in place. */
void StrTrim1(char* string);
/* Copies at most length bytes of source (stopping at its NUL) to destination
 * with a backslash before every '$', and terminates it.  The destination must
 * hold 2 * length + 1 bytes. */
void maskiereRegExpr(const char* source, int length, char* destination);

/* flag 1 takes the INI lock, flag 0 releases it; the lock word is not used.
 * The lock is not recursive. */
void lockIniFile(int* lock, int flag);
/* Creates (or finds) the INI semaphore set keyed by the given file and makes
 * it the process's INI lock.  Returns its identifier or the negated errno. */
int SEMA_Create(const char* keyFile);
/* semop with SEM_UNDO on the INI set: operation -1 takes, +1 gives.  Does
 * nothing when the set could not be created. */
void SEMA_pv(int operation, int semaphore);

#ifdef __cplusplus
}
#endif

#endif /* QX_INI_H */
