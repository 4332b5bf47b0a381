#pragma once
// The zip component's message numbers and their texts. A text may carry the placeholder
// "%1" where an argument goes (11003, 11004, 11038); the text of 10801 is followed by its
// extra text.
#include <optional>
#include <string>

namespace zip {

// Numbers named after what they report.
enum ZipMessage : int {
    zmEngineCallFailed = 10101,
    zmNoArchive = 10102,
    zmOutOfMemory = 10103,
    zmDirSeekFailed = 10201,
    zmDirReadFailed = 10202,
    zmDirOffsetWarning = 10203,
    zmTrailingBytesWarning = 10204,
    zmZip64RecordDamaged = 10205,
    zmNothingToAdd = 10301,
    zmNoPassword = 10302,
    zmSpanWithUpdate = 10303,
    zmSpanNotSupported = 10304,
    zmTooManySpecs = 10305,
    zmEngineLoaded = 10601,
    zmNoExecEntry = 10602,
    zmNoVersionEntry = 10603,
    zmEngineNotLoaded = 10604,
    zmSFXTextsTooLong = 10801,
    zmNoStub = 10802,
    zmNotZipName = 10803,
    zmCannotOpenArchive = 11001,
    zmInvalidDrive = 11003,
    zmDriveUnusable = 11004,
    zmEndSeekFailed = 11008,
    zmEndReadFailed = 11011,
    zmHeaderShort = 11013,
    zmHeaderSignature = 11015,
    zmNameShort = 11017,
    zmCommentShort = 11022,
    zmWriteHeaderFailed = 11029,
    zmWriteEndFailed = 11030,
    zmNoEndRecord = 11036,
    zmNoEndRecordDisk1 = 11037,
    zmNoEndRecordDiskN = 11038,
    zmSpanOntoExe = 11041,
    zmCopyEntryFailed = 11042,
    zmSkipEndFailed = 11043,
    zmCopyCommentFailed = 11044,
    zmNoEndRecordSpanned = 11045,
};

// The stored text of a message number; nullopt when the table has none.
std::optional<std::string> StoredZipText(int number);

// The stored text, or for a number without one the line "ZipMessages table is probably not
// bound to executable", a line feed, "Missing String ID is: " and the number.
std::string ZipMessageText(int number);

}  // namespace zip
