// SPDX-License-Identifier: GPL-3.0-or-later
// Maker-note decoder: per-maker tag tables and directory geometry, the walk of
// the maker-note directory and the formatters of the maker tables.
#include "MakerNotes.h"

#include "ExifReader.h"
#include "ValueFormat.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace lumivane {

namespace {

// One row of a maker table as constant data. The label of a maker row is its
// key: a row labelled "Skip" (any case) makes the walk pass over the entry.
struct MakerRow {
    uint16_t tagNumber;
    const char* key;
    const char* valueNames;
    TagFormatter formatter;
};

constexpr MakerRow kNikonFirstKind[] = {
    {0x0002, "FamilyID", "", nullptr},
    // The missing comma between 6 and 10 is part of the stored list: 6 names
    // "SXGA Fine10:2 Mpixel Basic" and 10 names nothing.
    {0x0003, "Quality",
     "1:Vga Basic,2:Vga Normal,3:Vga Fine,4:SXGA Basic,5:SXGA Normal,6:SXGA Fine10:2 Mpixel "
     "Basic,11:2 Mpixel Normal,12:2 Mpixel Fine",
     nullptr},
    {0x0004, "ColorMode", "1:Color,2:Monochrome", nullptr},
    {0x0005, "ImageAdjustment", "0:Normal,1:Bright+,2:Bright-,3:Contrast+,4:Contrast-", nullptr},
    {0x0006, "ISOSpeed", "0:ISO80,2:ISO160,4:ISO320,5:ISO100", nullptr},
    {0x0007, "WhiteBalance",
     "0:Auto,1:Preset,2:Daylight,3:Incandescense,4:Fluorescence,5:Cloudy,6:SpeedLight", nullptr},
    {0x0008, "Focus", "", nullptr},
    {0x0009, "Skip", "", nullptr},
    {0x000A, "DigitalZoom", "", nullptr},
    {0x000B, "Converter", "0:Not used,1:Used", nullptr},
    {0x0F00, "Skip", "", nullptr},
};

constexpr MakerRow kNikonLaterKinds[] = {
    {0x0001, "FamilyID", "", nullptr},
    {0x0002, "ISOSpeed", "", nullptr},
    {0x0003, "ColorMode", "", nullptr},
    {0x0004, "Quality", "", nullptr},
    {0x0005, "WhiteBalance", "", nullptr},
    {0x0006, "ImageSharpening", "", nullptr},
    {0x0007, "FocusMode", "", nullptr},
    {0x0008, "FlashSetting", "", nullptr},
    {0x0009, "AutoFlashMode", "", nullptr},
    {0x000A, "Skip", "", nullptr},
    {0x000B, "WhiteBiasValue", "", nullptr},
    {0x000F, "DigitalZoom", "", nullptr},
    {0x0010, "Skip", "", nullptr},
    {0x0011, "Skip", "", nullptr},
    {0x0080, "ImageAdjustment", "", nullptr},
    {0x0081, "ImageAdjustment", "", nullptr},
    {0x0082, "Adapter", "", nullptr},
    {0x0084, "LensInformation", "", makernote::LensRangeText},
    {0x0085, "ManualFocusDistance", "", nullptr},
    {0x0086, "DigitalZoom", "", nullptr},
    {0x0088, "FocusArea", "", nullptr},
    {0x0089, "Mode", "", nullptr},
    {0x008D, "ColorMode", "", makernote::ColourModeText},
    {0x008F, "SceneMode", "", nullptr},
    {0x0092, "HueAdjustment", "", nullptr},
    {0x0094, "Saturation", "", nullptr},
    {0x0095, "NoiseReduction", "", nullptr},
    {0x0F00, "Skip", "", nullptr},
};

constexpr MakerRow kOlympus[] = {
    {0x0200, "SpecialMode", "", nullptr},
    {0x0201, "JpegQual", "1:SQ,2:HQ,3:SHQ,4:Raw", nullptr},
    // Stored with "=" and a trailing ";": only 1 ever finds a name ("Macro;").
    {0x0202, "Macro", "0=Normal,1:Macro;", nullptr},
    {0x0203, "Skip", "", nullptr},
    {0x0204, "DigiZoom", "", nullptr},
    {0x0205, "Skip", "", nullptr},
    {0x0206, "Skip", "", nullptr},
    {0x0207, "Firmware", "", nullptr},
    {0x0208, "PictInfo", "", nullptr},
    {0x0209, "CameraID", "", nullptr},
    {0x0F00, "Skip", "", nullptr},
    {0x1004, "FlashMode", "", nullptr},
    {0x1006, "Bracket", "", nullptr},
    {0x100B, "FocusMode", "", nullptr},
    {0x100C, "FocusDistance", "", nullptr},
    {0x100D, "Zoom", "", nullptr},
    {0x100E, "MacroFocus", "", nullptr},
    {0x100F, "Sharpness", "", nullptr},
    {0x1011, "ColorMatrix", "", nullptr},
    {0x1012, "BlackLevel", "", nullptr},
    {0x1015, "WhiteBalance", "", nullptr},
    {0x1017, "RedBias", "", nullptr},
    {0x1018, "BlueBias", "", nullptr},
    {0x101A, "SerialNumber", "", nullptr},
    {0x1023, "FlashBias", "", nullptr},
    {0x1029, "Contrast", "", nullptr},
    {0x102A, "SharpnessFactor", "", nullptr},
    {0x102B, "ColorControl", "", nullptr},
    {0x102C, "ValidBits", "", nullptr},
    {0x102D, "Coring", "", nullptr},
    {0x102E, "FinalWidth", "", nullptr},
    {0x102F, "FinalHeight", "", nullptr},
    {0x1034, "CompressionRatio", "", nullptr},
};

constexpr MakerRow kCasioFirstKind[] = {
    {0x0001, "RecordingMode", "1:Single Shutter,2:Panorama,3:Night Scene,4:Portrait,5:Landscape",
     nullptr},
    {0x0002, "Quality", "1:Economy,2:Normal,3:Fine", nullptr},
    {0x0003, "FocusingMode", "2:Macro,3:Auto Focus,4:Manual Focus,5:Infinity", nullptr},
    {0x0004, "FlashMode", "1:Auto,2:On,3:Off,4:Red Eye Reduction", nullptr},
    {0x0005, "FlashIntensity", "11:Weak,13:Normal,15:Strong", nullptr},
    {0x0006, "ObjectDistance", "", nullptr},
    {0x0007, "WhiteBalance", "1:Auto,2:Tungsten,3:Daylight,4:Fluorescent,5:Shade,129:Manual",
     nullptr},
    {0x0008, "Skip", "", nullptr},
    {0x0009, "Skip", "", nullptr},
    {0x000A, "DigitalZoom", "65536:Off,65537:2X Digital Zoom", nullptr},
    {0x000B, "Sharpness", "0:Normal,1:Soft,2:Hard", nullptr},
    {0x000C, "Contrast", "0:Normal,1:Low,2:High", nullptr},
    {0x000D, "Saturation", "0:Normal,1:Low,2:High", nullptr},
    {0x000E, "Skip", "", nullptr},
    {0x000F, "Skip", "", nullptr},
    {0x0010, "Skip", "", nullptr},
    {0x0011, "Skip", "", nullptr},
    {0x0012, "Skip", "", nullptr},
    {0x0013, "Skip", "", nullptr},
    {0x0014, "CCDSensitivity", "64:Normal,125:+1.0,250:+2.0,244:+3.0,80:Normal,100:High", nullptr},
    {0x0015, "Skip", "", nullptr},
    {0x0016, "Skip", "", nullptr},
    {0x0017, "Skip", "", nullptr},
    {0x0018, "Skip", "", nullptr},
    {0x0019, "Skip", "", nullptr},
    {0x001A, "Skip", "", nullptr},
};

constexpr MakerRow kCasioQvcKind[] = {
    {0x0002, "ThumbnailDimensions", "", nullptr},
    {0x0003, "ThumbnailSize", "", nullptr},
    {0x0004, "ThumbnailOffset", "", nullptr},
    {0x0008, "Quality", "1:Fine,2:Super Fine", nullptr},
    {0x0009, "ImageSize",
     "0:640 x 480,4:1600 x 1200,5:2048 x 1536,20:2288 x 1712,21:2592 x 1944,22:2304 x "
     "1728,36:3008 x 2008",
     nullptr},
    {0x000D, "FocusMode", "0:Normal,1:Macro", nullptr},
    {0x0014, "IsoSensitivity", "3:50,4:64,6:100,9:200", nullptr},
    {0x0019, "WhiteBalance", "0:Auto,1:Daylight,2:Shade,3:Tungsten,4:Fluorescent,5:Manual",
     nullptr},
    {0x001D, "FocalLength", "", nullptr},
    {0x001F, "Saturation", "0:-1,1:Normal,2:+1", nullptr},
    {0x0020, "Contrast", "0:-1,1:Normal,2:+1", nullptr},
    {0x0021, "Sharpness", "0:-1,1:Normal,2:+1", nullptr},
    {0x0E00, "PIM", "", nullptr},
    {0x2000, "Skip", "", nullptr},
    {0x2001, "Skip", "", nullptr},
    {0x2002, "Skip", "", nullptr},
    {0x2003, "Skip", "", nullptr},
    {0x2011, "WhiteBalanceBias", "", nullptr},
    // 0x2013 stands before 0x2012 in the stored table.
    {0x2013, "Skip", "", nullptr},
    {0x2012, "WhiteBalance", "0:Manual,1:Auto,4:Flash,12:Flash", nullptr},
    {0x2021, "Skip", "", nullptr},
    {0x2022, "ObjectDistance", "", nullptr},
    {0x2023, "Skip", "", nullptr},
    {0x2031, "Skip", "", nullptr},
    {0x2032, "Skip", "", nullptr},
    {0x2033, "Skip", "", nullptr},
    {0x2034, "FlashDistance", "", nullptr},
    {0x3000, "RecordMode", "2:Normal", nullptr},
    {0x3001, "SelfTimer", "0:Off,1:On", nullptr},
    {0x3002, "Quality", "1:Economy,2:Normal,3:Fine", nullptr},
    {0x3003, "FocusMode", "1:Fixed,3:Auto Focus,6:Multi-Area Auto Focus", nullptr},
    {0x3005, "Skip", "", nullptr},
    {0x3006, "TimeZone", "", nullptr},
    {0x3007, "BestshotMode", "0:Off,1:On", nullptr},
    {0x3011, "Skip", "", nullptr},
    {0x3012, "Skip", "", nullptr},
    {0x3013, "Skip", "", nullptr},
    {0x3014, "CCDSensitivity", "", nullptr},
    {0x3015, "ColorMode", "0:Off,1:On", nullptr},
    {0x3016, "Enhancement", "0:Off,1:On", nullptr},
    {0x3017, "Filter", "0:Off,1:On", nullptr},
    {0x3018, "Skip", "", nullptr},
    {0x3019, "Skip", "", nullptr},
    {0x301A, "Skip", "", nullptr},
    {0x301B, "Skip", "", nullptr},
};

constexpr MakerRow kFujifilm[] = {
    {0x0000, "Version", "", nullptr},
    {0x1000, "Quality", "", nullptr},
    {0x1001, "Sharpness", "1:Soft,2:Soft,3:Normal,4:Hard,5:Hard", nullptr},
    {0x1002, "WhiteBalance",
     "0:Auto,256:Daylight,512:Cloudy,768:DaylightColor-fluorescence,769:DaywhiteColor-"
     "fluorescence,770:White-fluorescence,1024:Incandenscense,3840:Custom white balance.",
     nullptr},
    {0x1003, "Color", "0:Normal,256:High,512:Low", nullptr},
    {0x1004, "Tone", "0:Normal,256:High,512:Low", nullptr},
    {0x1010, "FlashMode", "0:Auto,1:On,2:Off,3:Red-eye reduction", nullptr},
    {0x1011, "FlashStrength", "", nullptr},
    {0x1020, "Macro", "0:Off,1:On", nullptr},
    {0x1021, "Focusmode", "0:Auto Focus,1:Manual Focus", nullptr},
    {0x1030, "SlowSync", "0:Off,1:On", nullptr},
    {0x1031, "PictureMode",
     "0:Auto,1:Portrait scene,2:Landscape scene,4:Sports scene,5:Night scene,6:Program "
     "AE,256:Aperture prior AE,512:Shutter prior AE,768:Manual exposure",
     nullptr},
    {0x1032, "Skip", "", nullptr},
    {0x1100, "ContTake/Bracket", "0:Off,1:On", nullptr},
    {0x1200, "Skip", "", nullptr},
    {0x1300, "BlurWarning", "0:No blur warning,1:Blur warning", nullptr},
    {0x1301, "FocusWarning", "0:Auto Focus good,1:Out of focus", nullptr},
    {0x1302, "AEWarning", "0:AE good,1:Over exposure", nullptr},
};

constexpr MakerRow kCanon[] = {
    {0x0000, "Skip", "", nullptr},
    {0x0001, "ExposureInfo1", "", makernote::CanonCameraSettingsText},
    {0x0002, "Skip", "", nullptr},
    {0x0003, "Skip", "", nullptr},
    {0x0004, "ExposureInfo2", "", makernote::CanonShotInfoText},
    {0x0006, "ImageType", "", nullptr},
    {0x0007, "FirmwareVersion", "", nullptr},
    {0x0008, "ImageNumber", "", nullptr},
    {0x0009, "OwnerName", "", nullptr},
    {0x000A, "Skip", "", nullptr},
    {0x000B, "Skip", "", nullptr},
    {0x000C, "CameraSerialNumber", "", nullptr},
    {0x000D, "Skip", "", nullptr},
    {0x000E, "Skip", "", nullptr},
    {0x000F, "CustomFunctions", "", makernote::CanonCustomFunctionsText},
    {0x0010, "Skip", "", nullptr},
};

constexpr MakerRow kSeiko[] = {
    {0x0200, "Special Mode", "", nullptr},
    {0x0201, "JpegQuality", "", nullptr},
    {0x0202, "Macro", "", nullptr},
    {0x0203, "Skip", "", nullptr},
    {0x0204, "DigiZoom", "", nullptr},
    {0x0209, "CameraID", "", nullptr},
    {0x020A, "Comments", "", nullptr},
    {0x020B, "Width", "", nullptr},
    {0x020C, "Height", "", nullptr},
    {0x020D, "SoftRelease", "", nullptr},
    {0x0300, "??", "", nullptr},
    {0x0F00, "skip", "", nullptr},
};

constexpr MakerRow kSanyo[] = {
    {0x0200, "Special Mode", "", nullptr},
    {0x0201, "JpegQuality", "", nullptr},
    {0x0202, "Macro", "", nullptr},
    {0x0203, "Skip", "", nullptr},
    {0x0204, "DigiZoom", "", nullptr},
    {0x0F00, "DataDump", "", nullptr},
};

constexpr MakerRow kMinolta[] = {
    {0x0000, "ModelID", "", nullptr},
    {0x0E00, "PIMdata", "", nullptr},
};

static_assert(std::size(kNikonFirstKind) == 11);
static_assert(std::size(kNikonLaterKinds) == 28);
static_assert(std::size(kOlympus) == 33);
static_assert(std::size(kCasioFirstKind) == 26);
static_assert(std::size(kCasioQvcKind) == 45);
static_assert(std::size(kFujifilm) == 18);
static_assert(std::size(kCanon) == 16);
static_assert(std::size(kSeiko) == 12);
static_assert(std::size(kSanyo) == 6);
static_assert(std::size(kMinolta) == 2);

template <std::size_t N>
std::vector<TTagEntry> BuildMakerTable(const MakerRow (&rows)[N])
{
    std::vector<TTagEntry> table;
    table.reserve(N);
    for (const MakerRow& row : rows) {
        TTagEntry entry;
        entry.tagNumber = row.tagNumber;
        entry.key = row.key;
        entry.label = row.key;
        entry.valueNames = row.valueNames;
        entry.formatter = row.formatter;
        table.push_back(std::move(entry));
    }
    return table;
}

struct MakerTables {
    std::array<std::vector<TTagEntry>, 10> byKind;
};

const MakerTables& Tables()
{
    static const MakerTables tables{{
        BuildMakerTable(kNikonFirstKind),
        BuildMakerTable(kNikonLaterKinds),
        BuildMakerTable(kOlympus),
        BuildMakerTable(kCasioFirstKind),
        BuildMakerTable(kCasioQvcKind),
        BuildMakerTable(kFujifilm),
        BuildMakerTable(kCanon),
        BuildMakerTable(kSeiko),
        BuildMakerTable(kSanyo),
        BuildMakerTable(kMinolta),
    }};
    return tables;
}


std::string UpperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A named value at a fixed 0-based place of a Canon list of numbers.
struct CanonField {
    int index;
    const char* name;
    const char* valueNames;  // "" when the item is kept as it stands
};

// The negative settings are listed as their unsigned 16-bit values, as SHORT
// values are never sign-extended (65535 is -1).
constexpr CanonField kCanonCameraSettings[] = {
    {1, "Macro mode", "1:Macro,2:Normal"},
    {2, "Self Timer", ""},
    {3, "Compression Rate", "0:SuperFine,1:Fine,2:Normal,3:Basic,5:SuperFine"},
    {4, "Flash Mode",
     "0:Not fired,1:Auto,2:On,3:Red-eye,4:Slow sync,5:Auto+red-eye,6:On+red eye,16:External "
     "flash"},
    {5, "Drive Mode", "0:Single,1:Continuous"},
    {7, "Focus Mode", "0:One-Shot,1:AI Servo,2:AI Focus,3:MF,4:Single,5:Continuous,6:MF"},
    {10, "Image Size", "0:Large,1:Medium,2:Small,4:5MPixel,5:2 MPixel,6:1.5 MPixel"},
    {11, "Easy Shoot",
     "0:Full Auto,1:Manual,2:Landscape,3:Fast Shutter,4:Slow Shutter,5:Night,6:B&W,7:Sepia,8:"
     "Portrait,9:Sports,10:Macro/Close-Up,11:Pan Focus"},
    {13, "Contrast", "65535:Low,0:Normal,1:High"},
    {14, "Saturation", "65535:Low,0:Normal,1:High"},
    {15, "Sharpness", "65535:Low,0:Normal,1:High"},
    {16, "CCD ISO", "0:Not used,15:auto,16:50,17:100,18:200,19:400"},
    {17, "Metering Mode", "65535:Low,0:Normal,1:High"},
    {19, "AF Point", "65535:Low,0:Normal,1:High"},
    {20, "Exposure Mode", "65535:Low,0:Normal,1:High"},
    {24, "Long focal", ""},
    {25, "Short focal", ""},
    {26, "Focal Units", ""},
    {29, "Flash Details", ""},
    {32, "Focus Mode", "65535:Low,0:Normal,1:High"},
};

constexpr CanonField kCanonShotInfo[] = {
    {7, "White balance", "0:Auto,1:Sunny,2:Cloudy,3:Tungsten,4:Flourescent,5:Flash,6:Custom"},
    {9, "Sequence Number", ""},
    {11, "OpticalZoom Step", ""},
    {14, "AF point", ""},
    {15, "Flash bias",
     "65472:-2 EV,65484:-1.67 EV,65488:-1.50 EV,65492:-1.33 EV,65504:-1 EV,65516:-0.67 "
     "EV,65520:-0.50 EV,65524:-0.33 EV,0:0 EV,12:0.33 EV,16:0.50 EV,20:0.67 EV,32:1 EV,44:1.33 "
     "EV,48:1.50 EV,52:1.67 EV,64:2 EV"},
    {19, "Distance", ""},
};

// Canon custom functions 1..15: name and the names of its settings. Lists
// with a blank after the colon give names that keep that blank.
struct CanonFunction {
    const char* name;
    const char* valueNames;
};

constexpr CanonFunction kCanonCustomFunctions[] = {
    {"Noise Reduction", "0: Off,1: On"},
    {"Shutter AE Lock Button", "0:AF/AE lock,1:AE lock/AF,2:AF/AF lock,3:AE+release/AE+AF"},
    {"Mirror Lockup", "0:Disable,1:Enable"},
    {"Exposure Level", "0:1/2 stop,1:1/3 stop"},
    {"AF Assist", "0:On (auto),1:Off"},
    {"AV Shutter Speed", "0:Automatic,1: 1/200 (fixed)"},
    {"AEB Sequence",
     "0:0, -, + / Enabled1: 0, -, + / Disabled,2: -, 0, + / Enabled,3: -, 0, + / Disabled"},
    {"Shutter Sync", "0:1st-curtain sync,1: 2nd-curtain sync"},
    {"Lens AF Button", "0:AF stop,1:Operate AF,2:Lock AE and start timer"},
    {"Fill Flash Reduction", "0:Enable,1:Disable"},
    {"Menu Return", "0:Top,1:Previous (volatile),2:Previous"},
    {"Set Button", "0:Not assigned,1:Change quality,2:Change ISO speed,3:Select parameters"},
    {"Sensor Cleaning", "0:Disable,1:Enable"},
    {"Superimposed Display", "0: On,1: Off"},
    {"Shutter Release w/o CF Card", "0:Enable,1:Disable"},
};

static_assert(std::size(kCanonCustomFunctions) == 15);

template <std::size_t N>
void AddCanonFields(const std::string& text, const CanonField (&fields)[N], TImageInfo& reader)
{
    const std::vector<std::string> items = Split(text, ",");
    for (const CanonField& field : fields) {
        // A list shorter than the field's place has nothing to say about it.
        if (field.index < 0 || static_cast<std::size_t>(field.index) >= items.size())
            continue;
        const std::string& item = items[static_cast<std::size_t>(field.index)];
        std::string value;
        if (field.valueNames[0] != '\0') {
            // An item the list does not name gives an empty name, which
            // adds nothing.
            value = ValueName(field.valueNames, item);
        } else {
            value = item;
        }
        if (!Trim(value).empty())
            reader.AddMakerValue(field.name, value);
    }
}

bool IsCanonFormatter(TagFormatter formatter)
{
    return formatter == makernote::CanonCameraSettingsText
        || formatter == makernote::CanonShotInfoText
        || formatter == makernote::CanonCustomFunctionsText;
}

// The value bytes as quoted text, as the maker walk shows ASCII and
// UNDEFINED values.
std::string Quoted(const Bytes& raw) { return "\"" + raw + "\""; }

}  // namespace

namespace makernote {

std::string ColourModeText(const std::string& text, TImageInfo&)
{
    // The text is the quoted ASCII value: characters 2..6 are its first five.
    const std::string mode = text.size() > 1 ? text.substr(1, 5) : std::string();
    if (mode == "MODE1")
        return "Mode1 (sRGB)";
    if (mode == "MODE2")
        return "Mode 2 (Adobe RGB)";
    if (mode == "MODE3")
        return "Mode 3 (sRGB): higher saturation";
    return mode;
}

std::string LensRangeText(const std::string& text, TImageInfo&)
{
    const std::vector<std::string> parts = Split(text, ", ");
    double values[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < 4 && i < parts.size(); ++i)
        values[i] = FractionValue(parts[i]);
    return FormatNumbers("%0.1f-%0.1f(mm)  F%0.1f-F%0.1f",
                         {values[0], values[1], values[2], values[3]});
}

std::string CanonCameraSettingsText(const std::string& text, TImageInfo& reader)
{
    AddCanonFields(text, kCanonCameraSettings, reader);
    return text;
}

std::string CanonShotInfoText(const std::string& text, TImageInfo& reader)
{
    AddCanonFields(text, kCanonShotInfo, reader);
    return text;
}

std::string CanonCustomFunctionsText(const std::string& text, TImageInfo& reader)
{
    const std::vector<std::string> items = Split(text, ",");
    // Every item but the last one is looked at (the count of commas).
    for (std::size_t i = 0; i + 1 < items.size(); ++i) {
        try {
            const int64_t v = ParseWholeNumber(items[i]);
            const int64_t function = v / 256;
            const int64_t setting = v % 256;
            if (function < 1 || function > 15)
                continue;
            const CanonFunction& row = kCanonCustomFunctions[function - 1];
            const std::string name = ValueName(row.valueNames, std::to_string(setting));
            if (!Trim(name).empty())
                reader.AddMakerValue(row.name, name);
        } catch (const MetadataError&) {
            // An item that is not a number is skipped: one unreadable item
            // does not stop the others.
        }
    }
    return text;
}

}  // namespace makernote

namespace {

// The byte order the note's directory is read in. A note normally shares the
// order of its EXIF block, but some cameras write theirs in the other order
// (a little-endian Canon note inside big-endian EXIF). Read in the wrong
// order, a small entry count turns into one whose entries could not fit in
// the note; only then, and only when the other order gives a count that
// fits, is the other order taken.
bool NoteByteOrder(const Bytes& note, int64_t directory, bool exifBigEndian)
{
    const ByteReader reader(note, exifBigEndian);
    if (!reader.Contains(directory, 2))
        return exifBigEndian;  // the walk itself reports the missing count
    const auto fits = [&](int64_t entryCount) {
        // The count and the 12-byte entries, from the directory's position on.
        return 2 + 12 * entryCount <= reader.Size() - directory + 1;
    };
    const uint16_t count = reader.Read16(directory);
    const uint16_t swapped = uint16_t(count << 8 | count >> 8);
    return !fits(count) && fits(swapped) ? !exifBigEndian : exifBigEndian;
}

}  // namespace

void TImageInfo::WalkMakerDirectory(const Bytes& note, const TTagEntry* table, int tableCount,
                                    int A, int B, int C)
{
    // 16- and 32-bit reads index the note while it is walked, in the note's
    // own byte order; the EXIF bytes and order come back in every case,
    // faults included.
    Bytes exifBuffer = std::move(buffer);
    buffer = note;
    struct Restore {
        TImageInfo& reader;
        Bytes& savedBuffer;
        bool savedOrder;
        ~Restore()
        {
            reader.buffer = std::move(savedBuffer);
            reader.bigEndian = savedOrder;
        }
    } restore{*this, exifBuffer, bigEndian};

    // Values that lie outside the note are taken from the owner's EXIF
    // bytes; without an owner those are the bytes this reader held.
    const Bytes& exifBytes = (owner != nullptr && owner->exifSection != nullptr)
        ? owner->exifSection->bytes
        : exifBuffer;

    // The first fault of the file's maker note names it in the status; an
    // entry that cannot be read is left out and the walk goes on with the
    // next one, since the entries that follow are often sound.
    const auto report = [this](const std::string& message) {
        if (!makerNoteError.empty())
            return;
        makerNoteError = "Error Detected = " + message;
        SetStatus(makerNoteError);
    };

    try {
        const int64_t directory = int64_t(C) + 1;
        const int64_t delta = directory - B + 1;
        bigEndian = NoteByteOrder(buffer, directory, bigEndian);
        const ByteReader noteReader(buffer, bigEndian);
        const ByteReader exifReader(exifBytes, bigEndian);
        const int entryCount = noteReader.Read16(directory);
        for (int i = 0; i < entryCount; ++i) {
            // An entry the note does not hold ends the walk: none after it
            // can be there either.
            const int64_t p = directory + 2 + 12 * int64_t(i);
            const int tag = noteReader.Read16(p);
            const int type = noteReader.Read16(p + 2);
            const int32_t count = noteReader.Read32(p + 4);
            // A negative count (top bit set) describes no bytes at all.
            const int64_t byteCount = count > 0 ? int64_t(count) * TiffTypeSize(type) : 0;
            int64_t offset = 0;
            int64_t valuePos = p + 8;
            if (byteCount > 4) {
                offset = noteReader.Read32(p + 8);
                valuePos = delta + offset;
            }

            // The value is read from the note when all its bytes lie in it
            // (one ending on the note's last byte included), else at A +
            // offset of the EXIF bytes.
            const bool inNote = noteReader.Contains(valuePos, byteCount);
            const ByteReader& source = inNote ? noteReader : exifReader;
            const int64_t sourcePos = inNote ? valuePos : int64_t(A) + offset;
            if (!source.Contains(sourcePos, byteCount)) {
                report("Maker note value outside the EXIF data");
                continue;
            }
            // Counted against the reader's budget before copying: crafted
            // notes whose entries all span the whole data end here.
            ChargeValueBytes(byteCount);

            try {
                const Bytes raw = source.Copy(sourcePos, byteCount);
                AppendMakerEntry(raw, tag, type, table, tableCount);
            } catch (const std::exception& error) {
                report(error.what());
            }
        }
    } catch (const std::exception& error) {
        // The maker note's first fault is reported to the caller, which
        // keeps what was read before it.
        report(error.what());
    }
}

void TImageInfo::AppendMakerEntry(const Bytes& raw, int tag, int type, const TTagEntry* table,
                                  int tableCount)
{
    const TTagEntry* row = nullptr;
    for (int r = 0; r < tableCount; ++r) {
        if (table[r].tagNumber == tag) {
            row = &table[r];
            break;
        }
    }
    const std::string name = row != nullptr ? row->label : std::string("Unknown");
    if (UpperAscii(name) == "SKIP")
        return;

    std::string text;
    if (type == int(TiffType::Ascii)) {
        text = Quoted(raw.substr(0, raw.find('\0')));
    } else if (type == int(TiffType::Undefined)) {
        text = Quoted(raw);
    } else {
        try {
            text = FormatValue(raw, type, row != nullptr ? row->valueNames : std::string(),
                               row != nullptr ? row->formatText : std::string(), bigEndian);
        } catch (const MetadataError&) {
            // A value its type cannot be read as is shown as its raw bytes.
            text = Quoted(raw);
        }
    }

    const bool formatted = row != nullptr && row->formatter != nullptr;
    const std::string shown = formatted ? row->formatter(text, *this) : CleanText(text);
    if (row == nullptr)
        return;
    try {
        TTagEntry entry = *row;
        entry.origin = 1;
        // The Canon formatters store their parts as separate values; their
        // own entry keeps the list itself.
        entry.text = IsCanonFormatter(row->formatter) ? text : shown;
        entry.rawBytes = raw;
        entry.byteCount = int32_t(raw.size());
        entry.valueType = uint16_t(type);
        AppendTag(entry);
    } catch (const MetadataError&) {
        // A value beyond the tag limit cannot be stored: it is left out.
    }
}

TMakerNoteDecoder::TMakerNoteDecoder(bool fromTiff, TImageInfo& reader)
    : fromTiff(fromTiff), reader(reader)
{
}

namespace {

// The model's first character after its first blank (its first character
// when it has no blank); 0 for an empty model.
char ModelSeriesLetter(const std::string& model)
{
    const std::size_t blank = model.find(' ');
    const std::size_t at = blank == std::string::npos ? 0 : blank + 1;
    return at < model.size() ? model[at] : '\0';
}

bool StartsWith(const Bytes& bytes, const char* prefix)
{
    return bytes.rfind(prefix, 0) == 0;
}

}  // namespace

void TMakerNoteDecoder::Decode()
{
    const std::string maker = UpperAscii(reader.make.substr(0, 5));
    const Bytes& note = reader.makerNoteBytes;
    const int position = reader.makerNotePos;
    const MakerTables& tables = Tables();

    auto walk = [&](MakerKind kind, int A, int B, int C) {
        const std::vector<TTagEntry>& table = tables.byKind[std::size_t(kind)];
        reader.WalkMakerDirectory(note, table.data(), int(table.size()), A, B, C);
    };

    if (maker == "NIKON") {
        // Newer EXIF versions (and NEF files of the D series without one)
        // carry the third kind: its own TIFF header at byte 10 of the note.
        const bool thirdKind = reader.exifVersion > "0210"
            || (reader.exifVersion.empty() && ModelSeriesLetter(reader.model) == 'D' && fromTiff);
        if (thirdKind)
            walk(MakerKind::NikonLater, 0, 9, 18);
        else if (StartsWith(note, "Nikon"))
            walk(MakerKind::NikonFirst, 0, position, 8);
        else
            walk(MakerKind::NikonLater, 0, position - 8, 0);
    } else if (maker == "OLYMP") {
        walk(MakerKind::Olympus, 9, position, 8);
    } else if (maker == "CASIO") {
        if (StartsWith(note, "QVC"))
            walk(MakerKind::CasioQvc, 0, position - 2, 6);
        else
            walk(MakerKind::CasioFirst, 0, position - 8, 0);
    } else if (maker == "FUJIF") {
        // Fujifilm notes are little-endian whatever the EXIF block declares.
        struct RestoreOrder {
            TImageInfo& reader;
            bool saved;
            ~RestoreOrder() { reader.bigEndian = saved; }
        } restore{reader, reader.bigEndian};
        reader.bigEndian = false;
        walk(MakerKind::Fujifilm, 0, 13, 12);
    } else if (maker == "CANON") {
        walk(MakerKind::Canon, 0, position - 8, 0);
    } else if (maker == "SEIKO") {
        walk(MakerKind::Seiko, 0, position, 8);
    } else if (maker == "SANYO") {
        walk(MakerKind::Sanyo, 0, position, 8);
    } else if (maker == "MINOL") {
        walk(MakerKind::Minolta, 0, position - 8, 0);
    }
}

const std::vector<TTagEntry>& MakerTable(MakerKind kind)
{
    return Tables().byKind[std::size_t(kind)];
}

}  // namespace lumivane
