// The steps of the whole-archive round trip, shared by the window's log buttons and by
// pelfry-cli's export and rebuild: one entry out (extracted and converted), one log line back
// in (rebuilt when edited, then added).
#pragma once

#include "app/Convert.h"
#include "archive/DirFileU.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelfry {

// Writes entry `index` of `archive` to folder + its name (a "\" in the name makes a
// subfolder); raises FileCreateError or FileWriteError naming that file when it cannot be
// made or written whole (see TDirFile::WriteEntry). Returns the path written.
std::string ExtractEntryOrFail(TDirFile& archive, const std::string& folder, int32_t index);

// The export of one entry in two steps, for work spread over threads (see MakeConvertedFiles):
// MakeExportedFiles makes the converted files of entry `index` (read by ReadEntry, not kept),
// writing nothing and changing nothing; ExportEntry takes what `made` gives, or raises what it
// raised before anything of the entry is written, then extracts the entry into `folder`
// (ending in a separator) and writes those files beside it: through the folder the entry went
// into, never by its path again, and stamped with the entry file's time. The extracted game
// file stays as the reference for the rebuild; without `keepGameFile` (extract and convert) it
// is removed once converted.
std::vector<MadeFile> MakeExportedFiles(const TDirFile& archive, const std::string& folder,
                                        int32_t index, PictureFormat format);
void ExportEntry(TDirFile& archive, const std::string& folder, int32_t index,
                 const std::function<std::vector<MadeFile>()>& made, bool keepGameFile = true);

// The log of an archive exported into `folder`: folder + the name part of the archive's file
// name + ".txt" (just ".txt" for an archive without a file).
std::string LogFileName(const std::string& folder, const std::string& archiveFileName);

// Raises Error "Entry name cannot be written to the log: %s" for the first name that holds
// CR, LF or NUL: the log has one name per line, and such a name would come back as other
// names, or none.
void CheckLogNames(const std::vector<std::string>& names);

// The files that extracting the entry `name` writes, relative to the folder: the entry's own
// file and, when it is converted as well (`converted`: the picture format), the picture and
// the description its conversion adds beside it (X.IMG.bmp; X.SPR.bmp and X.SPR.spd).
std::vector<std::string> FilesOfEntry(const std::string& name,
                                      std::optional<PictureFormat> converted);

// Refuses, before anything is written, to extract the entries `indexes` of `archive` into
// `folder` when two of them would write one file there: Error "Entries %s and %s would be
// written to the same file"; or when one would write the log `logName` (a name in `folder`;
// empty when there is no log): "Entry %s would be written over the log". Each entry counts
// with the files of FilesOfEntry, and names are judged as the folder judges them: "\" and "/"
// alike, and letter case alike where the folder, which must exist, takes them for one file
// (NameKey, FolderNameCase). An index given twice is one entry.
void CheckDistinctFiles(const TDirFile& archive, const std::vector<int32_t>& indexes,
                        const std::string& folder, std::optional<PictureFormat> converted,
                        const std::string& logName = {});

// Takes the log line `line` (an entry name) back into `archive` from `folder`, in two steps as
// ExportEntry: an image or a sprite (its extension told in any case) is first rebuilt from its
// edited files when they changed (always with `recreate`), then the file folder + line is added
// under the name `line`. PrepareRebuildEntry works the back conversion out and writes it ahead
// under no name (PrepareConvertBack; nothing for other lines and for lines RebuildEntry
// refuses); RebuildEntry does the rest with what `prepared` gives, and returns whether the game
// file was rebuilt. Raises "Unsafe entry name: %s" for a line that names no file or would lead
// outside `folder` (empty, absolute, a drive prefix, or a ".." component). The game files are
// written without following a link below `folder` (ConvertBack); the edited files are only
// read.
BackConversion PrepareRebuildEntry(const std::string& folder, const std::string& line,
                                   bool recreate, const ConvertOptions& options);
bool RebuildEntry(TDirFile& archive, const std::string& folder, const std::string& line,
                  const ConvertOptions& options, const std::function<BackConversion()>& prepared);

// Refuses line `number` (from 1) of the log `log` when it names no entry an archive can hold:
// "Unsafe entry name: %s" (see IsUnsafeEntryName: an empty line among them) or "Entry name too
// long (more than 30 bytes): %s", the line as the error's place ("GFX.DIR.txt, line 7").
void CheckLogLine(const std::string& log, size_t number, const std::string& line);

// The game file that the rebuild of `line` may rebuild (folder + line for an image or a
// sprite); empty for other lines.
std::string RebuildTarget(const std::string& folder, const std::string& line);

} // namespace pelfry
