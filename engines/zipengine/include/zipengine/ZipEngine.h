/* The call record handed to the zip engine's entry point ZipEngineExec, for both record
 * versions, and the engine's entry points. Plain C: the engine and the component both
 * include it.
 *
 * Flags are 32-bit: -1 on, 0 off (the recurse flag alone is 16-bit: 0xFFFF on). Addresses
 * are pointer-wide. On a 32-bit build the records are byte-for-byte the engine's fixed
 * layout (offsets noted beside each field, 216 and 16520 bytes, a 104-byte FileSpecEntry);
 * on a 64-bit build the addresses widen to 8 bytes and natural alignment places the rest.
 * Both layouts are checked at compile time below. Texts are zero-terminated single-byte
 * strings owned by the caller for the duration of the call. */
#ifndef TALLOMIR_ZIPENGINE_ZIPENGINE_H
#define TALLOMIR_ZIPENGINE_ZIPENGINE_H

#include <stddef.h>
#include <stdint.h>

#include "zipengine/ZipCallback.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZIPENGINE_FLAG_ON (-1)
#define ZIPENGINE_FLAG_OFF 0
#define ZIPENGINE_RECURSE_ON 0xFFFF
/* The value of the record-version field; always this, whatever the engine's version. */
#define ZIPENGINE_RECORD_VERSION 158
/* The constant that closes the fixed part of the record. */
#define ZIPENGINE_RECORD_TAG 7
/* Engines reporting this version or higher take EngineCallRecord (216 bytes on 32-bit);
 * older ones take EngineCallRecordOld (16520 bytes on 32-bit). */
#define ZIPENGINE_FILESPEC_ARRAY_VERSION 151
/* File patterns an old-style record can carry. */
#define ZIPENGINE_OLD_MAX_SPECS 4097
/* Characters of the password that reach the engine; the buffer holds one more for the zero. */
#define ZIPENGINE_PASSWORD_MAX 80

/* The part common to both record versions (128 bytes on 32-bit). */
typedef struct EngineCallHead {
    void* ownerWindow;           /*   0: owner of the engine's dialogs; 0 when unattended */
    void* caller;                /*   4: the component; handed back in every callback */
    int32_t recordVersion;       /*   8: ZIPENGINE_RECORD_VERSION */
    EngineCallbackFunc callback; /*  12: the component's EngineCallback */
    int32_t trace;               /*  16: flag */
    char* password;              /*  20: 81-byte buffer, at most 80 characters + zero */
    int32_t reserved24;          /*  24 */
    int32_t encrypt;             /*  28: flag */
    int32_t hiddenFiles;         /*  32: flag: include hidden and system files */
    int32_t reserved36;          /*  36 */
    int32_t reserved40;          /*  40 */
    int32_t noDirEntries;        /*  44: flag: store no folder entries of their own */
    int32_t reserved48;          /*  48 */
    int32_t verbose;             /*  52: flag */
    int32_t alwaysOn56;          /*  56: always ZIPENGINE_FLAG_ON */
    int32_t compLevel;           /*  60: compression level */
    int32_t reserved64;          /*  64 */
    int32_t reserved68;          /*  68 */
    int32_t dropDirNames;        /*  72: flag: store names without their folders */
    uint16_t recurse;            /*  76: 16-bit flag: ZIPENGINE_RECURSE_ON or 0 */
    uint16_t reserved78;         /*  78 */
    int32_t alwaysOn80;          /*  80: always ZIPENGINE_FLAG_ON */
    int32_t forceDos;            /*  84: flag: force 8.3 names */
    int32_t move;                /*  88: flag: delete source files once added */
    int32_t reserved92;          /*  92 */
    int32_t update;              /*  96: flag */
    int32_t freshen;             /* 100: flag */
    int32_t reserved104;         /* 104 */
    int32_t zipTime;             /* 108: flag: archive gets the time of its newest entry */
    int32_t reserved112[2];      /* 112 */
    int32_t specCount;           /* 120: number of file patterns */
    char* archiveName;           /* 124: the archive the engine writes */
} EngineCallHead;

/* One file pattern of the new-style record (104 bytes on 32-bit, zero-filled). */
typedef struct FileSpecEntry {
    char* spec;            /*   0: the file pattern, as text */
    uint8_t reserved[100]; /*   4 */
} FileSpecEntry;

/* The record for engines of version ZIPENGINE_FILESPEC_ARRAY_VERSION and later. */
typedef struct EngineCallRecord {
    EngineCallHead head;      /*   0 */
    char* tempDir;            /* 128: folder for temporary files, or 0 */
    int32_t reserved132;      /* 132 */
    int32_t reserved136;      /* 136 */
    FileSpecEntry* fileSpecs; /* 140: head.specCount entries */
    int32_t reserved144[17];  /* 144 */
    int32_t tag;              /* 212: ZIPENGINE_RECORD_TAG */
} EngineCallRecord;

/* The record for older engines. */
typedef struct EngineCallRecordOld {
    EngineCallHead head;                  /*   0 */
    int32_t tag;                          /* 128: ZIPENGINE_RECORD_TAG */
    char* specs[ZIPENGINE_OLD_MAX_SPECS]; /* 132: head.specCount texts, the rest 0 */
} EngineCallRecordOld;

/* Entry points, looked up by name in the loaded engine library. ZipEngineExec receives an
 * EngineCallRecord or, for engines older than ZIPENGINE_FILESPEC_ARRAY_VERSION, an
 * EngineCallRecordOld (passed through the same pointer); it returns the number of files
 * processed (0 or less: nothing done). */
typedef int32_t(ZIPENGINE_CALL* ZipEngineExecFunc)(EngineCallRecord* record);
typedef int32_t(ZIPENGINE_CALL* GetZipEngineVersionFunc)(void);

#define ZIPENGINE_EXEC_NAME "ZipEngineExec"
#define ZIPENGINE_VERSION_NAME "GetZipEngineVersion"

/* Export marker for the engine library's own definitions of the entry points. */
#if defined(_WIN32)
#define ZIPENGINE_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define ZIPENGINE_EXPORT __attribute__((visibility("default")))
#else
#define ZIPENGINE_EXPORT
#endif

#ifdef __cplusplus
}
#endif

/* Layout checks: the 32-bit layout is the engine's fixed one; the 64-bit one is what both
 * sides of a 64-bit build agree on. */
#if UINTPTR_MAX == 0xFFFFFFFFu
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, caller) == 4, "caller at 4");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, recordVersion) == 8, "record version at 8");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, callback) == 12, "callback at 12");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, trace) == 16, "trace at 16");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, password) == 20, "password at 20");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, encrypt) == 28, "encrypt at 28");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, hiddenFiles) == 32, "hidden files at 32");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, noDirEntries) == 44, "no folder entries at 44");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, verbose) == 52, "verbose at 52");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, alwaysOn56) == 56, "constant flag at 56");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, compLevel) == 60, "level at 60");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, dropDirNames) == 72, "drop folder names at 72");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, recurse) == 76, "recurse at 76");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, reserved78) == 78, "reserved at 78");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, alwaysOn80) == 80, "constant flag at 80");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, forceDos) == 84, "force 8.3 at 84");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, move) == 88, "move at 88");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, update) == 96, "update at 96");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, freshen) == 100, "freshen at 100");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, zipTime) == 108, "archive time at 108");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, reserved112) == 112, "reserved at 112");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, specCount) == 120, "spec count at 120");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, archiveName) == 124, "archive name at 124");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallHead) == 128, "common part is 128 bytes");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, tempDir) == 128, "temp dir at 128");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, reserved132) == 132, "reserved at 132");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, fileSpecs) == 140, "file specs at 140");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, reserved144) == 144, "reserved at 144");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, tag) == 212, "tag at 212");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallRecord) == 216, "new-style record is 216 bytes");
ZIPENGINE_STATIC_ASSERT(offsetof(FileSpecEntry, reserved) == 4, "spec entry rest at 4");
ZIPENGINE_STATIC_ASSERT(sizeof(FileSpecEntry) == 104, "spec entry is 104 bytes");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecordOld, tag) == 128, "old tag at 128");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecordOld, specs) == 132, "old specs at 132");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallRecordOld) == 16520, "old-style record is 16520 bytes");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, caller) == 8, "caller at 8");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, recordVersion) == 16, "record version at 16");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, callback) == 24, "callback at 24");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, password) == 40, "password at 40");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, recurse) == 100, "recurse at 100");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, specCount) == 144, "spec count at 144");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallHead, archiveName) == 152, "archive name at 152");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallHead) == 160, "common part is 160 bytes");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, tempDir) == 160, "temp dir at 160");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, fileSpecs) == 176, "file specs at 176");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecord, tag) == 252, "tag at 252");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallRecord) == 256, "new-style record is 256 bytes");
ZIPENGINE_STATIC_ASSERT(sizeof(FileSpecEntry) == 112, "spec entry is 112 bytes");
ZIPENGINE_STATIC_ASSERT(offsetof(EngineCallRecordOld, specs) == 168, "old specs at 168");
ZIPENGINE_STATIC_ASSERT(sizeof(EngineCallRecordOld) == 168 + 8 * ZIPENGINE_OLD_MAX_SPECS, "old-style record size");
#endif

#endif /* TALLOMIR_ZIPENGINE_ZIPENGINE_H */
