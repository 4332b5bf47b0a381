#include "zip/ZipMessages.h"

#include <algorithm>
#include <iterator>

namespace zip {
namespace {

struct MessageText {
    int number;
    const char* text;
};

// Sorted by number.
constexpr MessageText kTexts[] = {
    {zmEngineCallFailed, "The zip engine failed while adding files to the archive."},
    {zmNoArchive, "No zip archive is named, or the named archive does not exist."},
    {zmOutOfMemory, "Not enough memory to read the archive's directory."},
    {zmDirSeekFailed, "The archive's directory could not be read: a position in the file could not be reached."},
    {zmDirReadFailed, "The archive's directory could not be read."},
    {zmDirOffsetWarning,
     "Warning: the archive's directory is not where its end record says; the archive may have been changed or carries "
     "a prefix."},
    {zmTrailingBytesWarning, "Warning: the archive file holds extra bytes after its end record."},
    {zmZip64RecordDamaged, "The archive's 64-bit end record or a 64-bit extra field is missing or damaged."},
    {zmNothingToAdd, "There are no files to add to the archive."},
    {zmNoPassword, "Encryption was requested without a password."},
    {zmSpanWithUpdate, "A multi-disk archive cannot be written together with the update or freshen option."},
    {zmSpanNotSupported, "Writing multi-disk archives is not supported."},
    {zmTooManySpecs, "Too many file specifications for this version of the zip engine."},
    {zmEngineLoaded, "The zip engine was loaded."},
    {zmNoExecEntry, "The zip engine library lacks the function ZipEngineExec."},
    {zmNoVersionEntry, "The zip engine library lacks the function GetZipEngineVersion."},
    {zmEngineNotLoaded, "The zip engine library could not be loaded."},
    {zmSFXTextsTooLong,
     "The self-extractor's caption, default folder and command line are too long together (at most 249 characters)."},
    {zmNoStub, "The self-extractor program SFXStub.bin was not found."},
    {zmNotZipName, "Only an archive whose name ends in .zip can be made self-extracting."},
    {zmCannotOpenArchive, "The archive file could not be opened."},
    {zmInvalidDrive, "Invalid drive: %1"},
    {zmDriveUnusable, "The drive %1 is not present or cannot be used."},
    {zmEndSeekFailed, "The end of the archive could not be reached."},
    {zmEndReadFailed, "The end of the archive could not be read."},
    {zmHeaderShort, "The archive's directory is cut short: a file header is incomplete."},
    {zmHeaderSignature, "The archive's directory is damaged: a file header has a wrong signature."},
    {zmNameShort, "The archive's directory is cut short: a file name is incomplete."},
    {zmCommentShort, "The archive's directory is cut short: a file comment is incomplete."},
    {zmWriteHeaderFailed, "A file header could not be written to the self-extracting archive."},
    {zmWriteEndFailed, "The end record could not be written to the self-extracting archive."},
    {zmNoEndRecord, "This file is not a zip archive: it has no end record."},
    {zmNoEndRecordDisk1, "No end record on the first disk of this multi-disk archive; insert the last disk."},
    {zmNoEndRecordDiskN, "No end record on disk %1 of this multi-disk archive; insert the last disk."},
    {zmSpanOntoExe, "A multi-disk archive cannot be written under a name ending in .exe."},
    {zmCopyEntryFailed, "A directory entry could not be copied to the self-extracting archive."},
    {zmSkipEndFailed, "The archive's end record could not be skipped."},
    {zmCopyCommentFailed, "The archive comment could not be copied to the self-extracting archive."},
    {zmNoEndRecordSpanned, "No end record on this disk of a multi-disk archive; insert the last disk."},
};

static_assert(std::is_sorted(std::begin(kTexts), std::end(kTexts),
                             [](const MessageText& a, const MessageText& b) { return a.number < b.number; }),
              "message table must be sorted");

}  // namespace

std::optional<std::string> StoredZipText(int number) {
    auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), number,
                               [](const MessageText& m, int n) { return m.number < n; });
    if (it == std::end(kTexts) || it->number != number) return std::nullopt;
    return std::string(it->text);
}

std::string ZipMessageText(int number) {
    if (auto text = StoredZipText(number)) return *text;
    return "ZipMessages table is probably not bound to executable\nMissing String ID is: " + std::to_string(number);
}

}  // namespace zip
