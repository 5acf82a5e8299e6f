// SPDX-License-Identifier: GPL-3.0-or-later
// Unit MakerNotes: decoder of the private "maker note" directory (EXIF tag
// 0x927C) that cameras store inside their EXIF block.
#pragma once

#include <string>
#include <vector>

namespace lumivane {

class TImageInfo;
struct TTagEntry;

// The maker tables, one per kind of maker note.
enum class MakerKind {
    NikonFirst,   // old Nikon notes starting with "Nikon"
    NikonLater,   // second and third Nikon kinds
    Olympus,
    CasioFirst,
    CasioQvc,     // Casio notes starting with "QVC"
    Fujifilm,
    Canon,
    Seiko,
    Sanyo,
    Minolta,
};

// The rows of one maker table (tag number, key, label = key, value list,
// formatter), in their fixed order.
const std::vector<TTagEntry>& MakerTable(MakerKind kind);

// Recognises the camera maker from the reader's make text, picks that maker's
// tag table and directory geometry and lets the reader walk the maker-note
// directory. Created for one maker note and discarded right after Decode.
class TMakerNoteDecoder {
public:
    TMakerNoteDecoder(bool fromTiff, TImageInfo& reader);

    // Decodes reader.makerNoteBytes (found at reader.makerNotePos) into the
    // reader's tag list. Never raises: faults end up in the owner's status.
    void Decode();

private:
    bool fromTiff;
    TImageInfo& reader;
};

// Formatters of the maker tables (TagFormatter signature), exposed so they
// can be checked on their own.
namespace makernote {

// Nikon colour mode: "MODE1" style texts named, anything else kept.
std::string ColourModeText(const std::string& text, TImageInfo& reader);
// Four rationals "a, b, c, d" of a lens description as "a-b(mm)  Fc-Fd".
std::string LensRangeText(const std::string& text, TImageInfo& reader);
// Canon camera settings, shot information and custom functions: each breaks
// the list of numbers into named values added to the reader's tag list
// (AddMakerValue) and returns the text unchanged.
std::string CanonCameraSettingsText(const std::string& text, TImageInfo& reader);
std::string CanonShotInfoText(const std::string& text, TImageInfo& reader);
std::string CanonCustomFunctionsText(const std::string& text, TImageInfo& reader);

}  // namespace makernote

}  // namespace lumivane
