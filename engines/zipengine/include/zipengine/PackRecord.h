/* The call record of the simplest use of the engine: pack every file below the current folder
 * (the pattern "*", folders followed) into one archive at the best compression. The
 * release scripts' packer and the benchmarks use it. */
#ifndef TALLOMIR_ZIPENGINE_PACKRECORD_H
#define TALLOMIR_ZIPENGINE_PACKRECORD_H

#include <string.h>

#include "zipengine/ZipEngine.h"

/* Fills `record` and its one `entry` for `archive`; `spec` must hold "*". With
 * `folderEntries` 0, folders get no entries of their own. The texts stay the caller's. */
static inline void ZipEngineFillPackRecord(EngineCallRecord* record, FileSpecEntry* entry, char* spec, char* archive,
                                           int folderEntries) {
    memset(entry, 0, sizeof *entry);
    entry->spec = spec;
    memset(record, 0, sizeof *record);
    record->head.recordVersion = ZIPENGINE_RECORD_VERSION;
    record->head.noDirEntries = folderEntries ? ZIPENGINE_FLAG_OFF : ZIPENGINE_FLAG_ON;
    record->head.alwaysOn56 = ZIPENGINE_FLAG_ON;
    record->head.alwaysOn80 = ZIPENGINE_FLAG_ON;
    record->head.compLevel = 9;
    record->head.recurse = ZIPENGINE_RECURSE_ON;
    record->head.specCount = 1;
    record->head.archiveName = archive;
    record->fileSpecs = entry;
    record->tag = ZIPENGINE_RECORD_TAG;
}

#endif
