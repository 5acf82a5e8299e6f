// SPDX-License-Identifier: GPL-3.0-or-later
// File-name rules of the workflow: output names derived from the source by
// replacing its last three characters, the file type taken from the last
// three characters, the batch output names with their tick-count fallbacks and
// the shortened mask label.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {

// The kinds of file a save writes.
enum class OutputFormat { Jpeg, Bmp, Tiff };

// "jpg", "bmp" or "tif": the extension a saved file gets.
const char* OutputExtension(OutputFormat format);

// The format the quality slider's position says: BMP at kBmpQuality, else JPEG.
inline OutputFormat FormatOfQuality(bool bmp)
{
    return bmp ? OutputFormat::Bmp : OutputFormat::Jpeg;
}

// The part after the last '/', or the whole text when there is none.
std::string FileNamePart(const std::string& path);

// Replaces the last three characters of `name` by `ext`. Only those three
// characters are looked at: "IMG_1.TIF" -> "IMG_1.jpg", "IMG_1.jpeg" ->
// "IMG_1.jjpg". A name shorter than three characters is replaced whole.
std::string ReplaceLast3(const std::string& name, const std::string& ext);

// Output name proposed for a photograph: its file-name part with the last
// three characters replaced by "bmp" (bmp) or "jpg"; a name ending in
// ".jpeg", ".jpe" or ".tiff" gets its whole extension replaced instead.
std::string OutNameFor(const std::string& currentFile, OutputFormat format);
inline std::string OutNameFor(const std::string& currentFile, bool bmp)
{
    return OutNameFor(currentFile, FormatOfQuality(bmp));
}

// The last three characters upper-cased ("JPG", "BMP", "TIF" are the types
// that get decoded); a shorter name is upper-cased whole.
std::string UpperSuffix3(const std::string& path);

// The extension the writer puts on the path it was given: a JPEG always
// ends in "jpg" and a TIFF in "tif"; a BMP ends in "bmp" unless the image
// was cropped, in which case the path is used exactly as given.
std::string FinalOutputPath(const std::string& outPath, OutputFormat format, bool cropped);
inline std::string FinalOutputPath(const std::string& outPath, bool bmp, bool cropped)
{
    return FinalOutputPath(outPath, FormatOfQuality(bmp), cropped);
}

// The file "Save Image" writes for the path confirmed in the save dialog:
// the writer's extension replaces the last three characters of the
// file-name part only, never reaching across a folder separator; a
// file-name part under four characters gets "." and the extension appended
// instead (".b" -> ".b.jpg"). A cropped BMP is written under the path as
// given, as FinalOutputPath does.
std::string SaveDialogOutputPath(const std::string& confirmed, OutputFormat format, bool cropped);
inline std::string SaveDialogOutputPath(const std::string& confirmed, bool bmp, bool cropped)
{
    return SaveDialogOutputPath(confirmed, FormatOfQuality(bmp), cropped);
}

// Whether the name confirmed in the save dialog asks for a TIFF: its
// file-name part ends in ".tif" or ".tiff", in any case (the dialog's
// "TIFF Image (*.tif)" entry proposes such names).
bool NamesTiff(const std::string& confirmed);

// The question asked before such a file replaces an existing one, naming
// it whole: "<path> already exists.\nDo you want to replace it?"
std::string ReplaceQuestion(const std::string& path);

// The names a batch tries in turn for one photograph, by attempt:
//   0   folder + "/" + outName with the extension for the output type;
//   1   folder + "/" + outName without its last four characters + "." +
//       startTick + the last four characters of outName;
//   n   (n >= 2) the same with "-n" after the tick: IMG_7.123456-2.jpg.
// Each then gets the writer's extension (FinalOutputPath). The batch writes
// to the first name that is free and never replaces a file.
std::string BatchCandidatePath(const std::string& folder, const std::string& outName, OutputFormat format,
                               std::uint32_t startTick, int attempt, bool cropped = false);
inline std::string BatchCandidatePath(const std::string& folder, const std::string& outName, bool bmp,
                                      std::uint32_t startTick, int attempt, bool cropped = false)
{
    return BatchCandidatePath(folder, outName, FormatOfQuality(bmp), startTick, attempt, cropped);
}

// Mask file name (UTF-8) as shown beside the thumbnail: whole up to 14
// characters, otherwise "..." followed by the last 14 characters. Characters
// are code points, never cut in two.
std::string ShortenedMaskLabel(const std::string& fileName);

// The batch's progress line for the photograph just written, the n-th of
// total: "Processing IMG_7.jpg (3 of 12) – Esc stops".
std::string BatchProgressText(const std::string& name, int n, int total);

// The status line at the end of a batch that ran to its end:
// "11 of 12 photographs saved to /home/me/out".
std::string BatchSavedText(int written, int total, const std::string& folder);
// What follows that line when some photographs were corrected with their
// lens profile: " (lens profile: a.jpg, b.jpg)", the first three named and
// the others counted (" (lens profile: a.jpg, b.jpg, c.jpg and 2 more)");
// nothing when there are none.
std::string LensProfileClause(const std::vector<std::string>& names);

// Milliseconds since the system started, cut to 32 bits: the number a
// batch's clash names carry.
std::uint32_t SystemTickCount();

} // namespace lumivane
