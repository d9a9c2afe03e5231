/*
 * The program frame: the common main that hands over to the program's own
 * KWZServiceMain, run control, module information, the event file, the
 * cycle and archive locks and two memory functions.
 */
#ifndef QX_FRAME_H
#define QX_FRAME_H

#include <stddef.h>
#include <stdint.h>

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Supplied by each program; called by the common main (libqxmain.a) with
 * main's arguments.  Its result is not passed on: main returns 0. */
int KWZServiceMain(int argc, char** argv, char** envp);

/* ---- Run control ---------------------------------------------------------- */

/* Main loops run while this is not 0 and GetStopVelmo() returns 0.  1 at start. */
extern int32_t ServiceActive;

/* Stop of Info when attached, -1 when not (so an unattached loop ends). */
int32_t GetStopVelmo(void);
/* VelmoName of Info when attached, null when not. */
char* GetVelmoName(void);
/* Writes "/home/kwz" (10 bytes with the NUL) into the buffer; 0. */
int GetVelmo98WorkingDir(char* directory);
/* Writes "ra_vuvuvizi" (12 bytes) and "/home/kwz" (10 bytes); 0. */
int GetVelmo98WorkingDirEx(char* name, char* directory);

/* ---- Module information and monitor files --------------------------------- */

#define QX_MODUL_NAME_MAX 78    /* characters of the module name kept        */
#define QX_MODUL_DESC_MAX 254   /* characters of the module description kept */

/* Stores the module name and description (cut to 78 and 254 characters); 0. */
int SetModulInfo(const char* name, const char* description);
/* Kept for the programs that call it; has no effect here.  0. */
int SetMoniFileNames(const char* file1, const char* file2);

/* ---- Event file ------------------------------------------------------------ */

/* Severity in the top two bits of an event number, the number in the low 14. */
#define QX_EVENT_ERROR       0xC0000000u
#define QX_EVENT_WARNING     0x80000000u
#define QX_EVENT_INFORMATION 0x40000000u
#define QX_EVENT_NUMBER_MASK 0x3FFFu

/* Returns 1; nothing to register. */
int VelmoRegisterEventSource(void);
/* Appends one line to /home/kwz/<GetVelmoName()>.log (nothing before an
 * attach); 0. */
int VelmoWriteEvent(uint32_t eventNumber, const char* text);

/* ---- Locks ----------------------------------------------------------------- */

/* The cycle lock marks work on the shared records; it locks nothing.  1. */
int32_t GetAndWaitTaktMutex(void);
void ReleaseTaktMutex(int32_t handle);

/* The archive lock: a process-local recursive mutex, usable with or without
 * CreateMutex.  CreateMutex returns 0 (the attribute object's result). */
int CreateMutex(void);
/* Locks, waiting as long as needed; 1. */
int32_t GetAndWaitArchivMutex(void);
/* Unlocks and sets *handle to -1. */
void ReleaseArchivMutex(int32_t* handle);

/* ---- Memory ---------------------------------------------------------------- */

/* size bytes, or null when none are left; release with FreeLib98Mem or free. */
void* AllocLib98Mem(size_t size);
/* Frees *memory when not null and sets it to null; 0. */
int FreeLib98Mem(void** memory);

#ifdef __cplusplus
}
#endif

#endif /* QX_FRAME_H */
