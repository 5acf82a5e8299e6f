// SPDX-License-Identifier: GPL-3.0-or-later
// Tag tables of the TIFF/EXIF directory walk (main and GPS) and the record
// type shared by table rows and decoded tags alike.
#pragma once

#include "ByteReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {

class TImageInfo;

// A formatter turns an entry's display text into the text that is kept. It
// gets the reader that decodes the entry, so maker-note formatters can add
// further values to its tag list (AddMakerValue); the EXIF and GPS
// formatters ignore it.
using TagFormatter = std::string (*)(const std::string& text, TImageInfo& reader);

// One record type for a tag-table row and for a decoded tag (EXIF, GPS,
// maker note or IPTC).
struct TTagEntry {
    int32_t origin = 0;         // 0: table row or directory entry; 1: added by the maker-note decoder
    uint16_t valueType = 0;     // TIFF type code of the value
    uint16_t recordNumber = 0;  // IPTC record number (2 or 8) in IPTC rows, else 0
    uint16_t tagNumber = 0;     // 0 marks the unknown-tag row and entries kept out of the list
    std::string key;            // look-up name, e.g. "ExposureTime"
    std::string label;          // display label
    std::string valueNames;     // "0:Auto,1:Manual" style value list, or empty
    std::string text;           // display text of the value
    Bytes rawBytes;             // the value's bytes as stored
    int32_t valuePos = 0;       // 1-based position of the value bytes in the reader's buffer
    std::string formatText;     // format applied to the value, or empty
    int32_t byteCount = 0;      // bytes in rawBytes (IPTC rows: the largest length allowed)
    TagFormatter formatter = nullptr;  // replaces the default clean-up of text
};

// A table row as constant data. Tables are kept as constexpr arrays of these
// and turned into TTagEntry records (with their labels filled) once.
struct TTagRow {
    uint16_t tagNumber;
    const char* key;
    const char* label;       // "" when derived from the key
    const char* valueNames;  // "" when none
    const char* formatText;  // "" when none
    TagFormatter formatter;  // nullptr when none
};

// The main table has 250 tag rows followed by the unknown-tag row; the GPS
// table has 31 rows.
inline constexpr int kMainTagRowCount = 250;
inline constexpr int kMainTableSize = kMainTagRowCount + 1;
inline constexpr int kGpsTableSize = 31;

// The key split into words: a blank before each capital A..Z whose preceding
// character is not a capital ("ExposureTime" -> "Exposure Time",
// "ISOSpeedRatings" -> "ISOSpeed Ratings", "T4Options" -> "T4 Options").
std::string SplitCamelCase(const std::string& key);

// A row as a record; when fillLabel is set an empty label becomes
// SplitCamelCase(key).
TTagEntry TableEntry(const TTagRow& row, bool fillLabel);

// All rows of a constant table as records, labels filled.
std::vector<TTagEntry> BuildTagTable(const TTagRow* rows, int rowCount);

// The two tables with their labels filled (built once per process, then
// read-only). MainTagTable().back() is the unknown-tag row.
const std::vector<TTagEntry>& MainTagTable();
const std::vector<TTagEntry>& GpsTagTable();
const TTagEntry& UnknownTagRow();

// Table look-up of the directory walk: the last row whose tag number equals
// tag among the 250 tag rows (main) or all 31 rows (GPS); the unknown-tag row
// when there is none.
const TTagEntry& FindMainTagRow(int tag);
const TTagEntry& FindGpsTagRow(int tag);

// Key comparison of all look-ups: ASCII letters compared ignoring case.
bool SameKey(const std::string& a, const std::string& b);

// The first row of table whose key equals key ignoring case, or nullptr.
const TTagEntry* FindRowByKey(const std::vector<TTagEntry>& table, const std::string& key);

}  // namespace lumivane
