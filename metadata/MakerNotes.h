// Unit MakerNotes: decoder of the private "maker note" directory (EXIF tag
// 0x927C) that cameras store inside their EXIF block.
#pragma once

#include <string>

namespace lumivane {

class TImageInfo;

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

// Formatters of the maker tables, exposed so they can be checked on their own.
namespace makernote {

// "MODE1" style colour mode texts of Nikon notes.
std::string ColourModeText(const std::string& text);
// Four rationals "a, b, c, d" of a lens description as "a-b(mm)  Fc-Fd".
std::string LensRangeText(const std::string& text);

}  // namespace makernote

}  // namespace lumivane
