// SPDX-License-Identifier: GPL-3.0-or-later
// IPTC records of a JPEG's APP13 section: parsing, look-up and editing in
// memory.
#include "IptcReader.h"
#include "ValueFormat.h"

#include "ExifReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace lumivane {

namespace {

// One dataset the reader knows by name. `maxLength` is the largest length the
// IPTC standard allows for the dataset; entries copied from a row carry it in
// `byteCount`.
struct IptcDataset {
    std::uint16_t recordNumber;
    std::uint16_t datasetNumber;
    const char* key;
    const char* label;
    std::int32_t maxLength;
};

// Searched in order; the first row with the wanted record and dataset number
// (or key) wins. Record 2 is the application record, record 8 the subfile.
constexpr std::array<IptcDataset, 49> kDatasets{{
    {2, 0, "SKIP", "Record Version", 64},
    {2, 3, "ObjectType", "Object Type Ref", 67},
    {2, 4, "ObjectAttr", "Object Attribute Ref", 67},
    {2, 5, "ObjectName", "Object name", 64},
    {2, 7, "EditStatus", "Edit Status", 64},
    {2, 8, "EditorialUpdate", "Editorial Update", 2},
    {2, 10, "Urgency", "Urgency", 1},
    {2, 12, "SubRef", "Subject Reference", 236},
    {2, 15, "Category", "Category", 3},
    {2, 20, "SuppCategory", "Supplemental category", 32},
    {2, 22, "FixtureID", "Fixture ID", 32},
    {2, 25, "Keywords", "Keywords", 64},
    {2, 26, "ContentLocCode", "Content Location Code", 3},
    {2, 27, "ContentLocName", "Content Location Name", 64},
    {2, 30, "ReleaseDate", "Release Date", 8},
    {2, 35, "ReleaseTime", "Release Time", 11},
    {2, 37, "ExpireDate", "Expiration Date", 8},
    {2, 38, "ExpireTime", "Expiration Time", 11},
    {2, 40, "SpecialInstru", "Special Instructions", 256},
    {2, 42, "ActionAdvised", "Action Advised", 2},
    {2, 45, "RefService", "Reference Service", 10},
    {2, 47, "RefDate", "Reference Date", 8},
    {2, 50, "RefNumber", "Reference Number", 8},
    {2, 55, "DateCreated", "Date created", 8},
    {2, 60, "TimeCreated", "Time created", 11},
    {2, 62, "DigitizeDate", "Digital Creation Date", 8},
    {2, 63, "DigitizeTime", "Digital Creation Time", 11},
    {2, 65, "OriginatingProgram", "Originating Program", 32},
    {2, 70, "ProgramVersion", "Program version", 10},
    {2, 75, "ObjectCycle", "Object Cycle", 1},
    {2, 80, "ByLine", "ByLine", 32},
    {2, 85, "ByLineTitle", "ByLine Title", 32},
    {2, 90, "City", "City", 32},
    {2, 92, "SubLocation", "Sublocation", 32},
    {2, 95, "State", "Province/State", 32},
    {2, 100, "LocationCode", "Country/Primary Location Code", 3},
    {2, 101, "LocationName", "Country/Primary Location Name", 64},
    {2, 103, "TransmissionRef", "Original Transmission Reference", 32},
    {2, 105, "ImageHeadline", "Image headline", 256},
    {2, 110, "ImageCredit", "Image credit", 32},
    {2, 115, "Source", "Source", 32},
    {2, 116, "Copyright", "Copyright Notice", 128},
    {2, 118, "Contact", "Contact", 128},
    {2, 120, "ImageCaption", "Image caption", 2000},
    {2, 122, "ImageCaptionWriter", "Image caption writer", 32},
    {2, 130, "ImageType", "Image type", 2},
    {2, 131, "Orientation", "Image Orientation", 1},
    {2, 135, "LangID", "Language ID", 3},
    {8, 10, "Subfile", "Subfile", 2},
}};

// Keywords and supplemental categories may occur several times; their
// occurrences are merged into one comma list.
constexpr std::uint16_t kSuppCategoryDataset = 20;
constexpr std::uint16_t kKeywordsDataset = 25;
constexpr std::int32_t kCustomMaxLength = 64;
constexpr int kCapacityStep = 25;
constexpr std::string_view kPhotoshopSignature = "Photoshop 3.0";
constexpr unsigned char kRecordMarker = 0x1C;

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return SameKey(a, b);
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}


const IptcDataset* DatasetByKey(const std::string& key) {
    for (const IptcDataset& row : kDatasets) {
        if (SameTextIgnoringCase(row.key, key)) return &row;
    }
    return nullptr;
}

const IptcDataset* DatasetByNumber(int recordNumber, int datasetNumber) {
    for (const IptcDataset& row : kDatasets) {
        if (row.recordNumber == recordNumber && row.datasetNumber == datasetNumber) {
            return &row;
        }
    }
    return nullptr;
}

TTagEntry EntryFromRow(const IptcDataset& row) {
    TTagEntry entry{};
    entry.recordNumber = row.recordNumber;
    entry.tagNumber = row.datasetNumber;
    entry.key = row.key;
    entry.label = row.label;
    entry.byteCount = row.maxLength;
    return entry;
}

bool NeedsQuotes(const std::string& item) {
    if (item.empty()) return false;
    return std::any_of(item.begin(), item.end(), [](char c) {
        return IsBlank(c) || c == ',' || c == '"';
    });
}

}  // namespace

namespace iptc {

std::vector<std::string> ReadCommaText(const std::string& text) {
    std::vector<std::string> items;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && text[i] == ' ') ++i;
        if (i >= n) break;
        std::string item;
        if (text[i] == '"') {
            // Quoted item: runs to the closing quote; a doubled quote stands
            // for one quote character. An unterminated quote takes the rest.
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
            // Anything between the closing quote and the next comma belongs
            // to no item.
            while (i < n && text[i] != ',') ++i;
        } else {
            std::size_t comma = text.find(',', i);
            if (comma == std::string::npos) comma = n;
            item = Trim(text.substr(i, comma - i));
            i = comma;
        }
        if (i < n && text[i] == ',') ++i;
        items.push_back(std::move(item));
    }
    return items;
}

std::string WriteCommaText(const std::vector<std::string>& items) {
    std::string result;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) result += ',';
        const std::string& item = items[i];
        if (!NeedsQuotes(item)) {
            result += item;
            continue;
        }
        result += '"';
        for (char c : item) {
            if (c == '"') result += '"';
            result += c;
        }
        result += '"';
    }
    return result;
}

std::string CommaMerge(const std::string& existing, const std::string& added) {
    std::vector<std::string> list = ReadCommaText(existing);
    for (const std::string& raw : ReadCommaText(added)) {
        std::string item = Trim(std::string(raw));
        // An empty item names nothing; keeping it would only write "" items.
        if (item.empty()) continue;
        const bool present = std::any_of(list.begin(), list.end(), [&](const std::string& have) {
            return SameTextIgnoringCase(have, item);
        });
        if (!present) list.push_back(std::move(item));
    }
    return WriteCommaText(list);
}

}  // namespace iptc

TIptcRecords::TIptcRecords(TImageMetadata* owner) : owner(owner) {}

TIptcRecords::~TIptcRecords() = default;

int TIptcRecords::RecordIndex(const std::string& key) const {
    for (int i = 0; i < count; ++i) {
        if (SameTextIgnoringCase(records[static_cast<std::size_t>(i)].key, key)) return i;
    }
    return -1;
}

void TIptcRecords::DeleteRecord(const std::string& key) {
    const int index = RecordIndex(key);
    if (index < 0) return;
    auto first = records.begin() + index;
    std::move(first + 1, records.begin() + count, first);
    --count;
    records[static_cast<std::size_t>(count)] = TTagEntry{};
}

int TIptcRecords::SetRecordText(const std::string& key, const std::string& text) {
    const int index = RecordIndex(key);
    if (index >= 0) {
        if (!text.empty()) records[static_cast<std::size_t>(index)].text = text;
        return index;
    }
    const IptcDataset* row = DatasetByKey(key);
    if (row == nullptr) return -1;
    TTagEntry entry = EntryFromRow(*row);
    entry.text = text;
    return AppendRecord(entry);
}

int TIptcRecords::MergeRecordText(const std::string& key, const std::string& text) {
    const int index = RecordIndex(key);
    if (index < 0) return SetRecordText(key, iptc::CommaMerge(std::string(), text));
    if (!text.empty()) {
        TTagEntry& entry = records[static_cast<std::size_t>(index)];
        entry.text = iptc::CommaMerge(entry.text, text);
    }
    return index;
}

int TIptcRecords::PutRecordText(const std::string& key, const std::string& text) {
    const IptcDataset* row = DatasetByKey(key);
    if (row == nullptr) return -1;
    if (row->datasetNumber == kSuppCategoryDataset || row->datasetNumber == kKeywordsDataset) {
        return MergeRecordText(key, text);
    }
    return SetRecordText(key, text);
}

std::string TIptcRecords::RecordText(const std::string& key,
                                     const std::string& defaultText) const {
    const int index = RecordIndex(key);
    return index >= 0 ? records[static_cast<std::size_t>(index)].text : defaultText;
}

bool TIptcRecords::ReadIptcFile(const std::string& fileName) {
    ClearRecords();
    if (owner == nullptr) return false;
    // When this object is the owner's own IPTC reader, the owner's fresh read
    // would free it. Take it out of the owner's hands for the read and put it
    // back afterwards, so that callers holding this object keep a live one.
    const bool ownedByOwner = owner->iptc.get() == this;
    if (ownedByOwner) static_cast<void>(owner->iptc.release());
    try {
        owner->ReadMetadata(fileName);
    } catch (...) {
        if (ownedByOwner) owner->iptc.reset(this);
        throw;
    }
    if (owner->iptcSection != nullptr) ParseIptc(owner->iptcSection->bytes);
    if (ownedByOwner) owner->iptc.reset(this);
    return count > 0;
}

void TIptcRecords::ParseIptc(const std::string& sectionBytes) {
    ClearRecords();
    const auto& s = sectionBytes;
    const auto length = static_cast<std::int64_t>(s.size());
    // 1-based access into the section, as the record layout is described.
    auto at = [&s](std::int64_t position) {
        return static_cast<unsigned char>(s[static_cast<std::size_t>(position - 1)]);
    };

    const std::size_t found = s.find(kPhotoshopSignature);
    const std::int64_t signaturePos = found == std::string::npos ? 0 : static_cast<std::int64_t>(found) + 1;
    std::int64_t i = signaturePos + static_cast<std::int64_t>(kPhotoshopSignature.size());
    // The first record starts at a marker byte followed by record number 2 or 8.
    while (i < length && !(at(i) == kRecordMarker && (at(i + 1) == 2 || at(i + 1) == 8))) ++i;

    std::int64_t pos = i + 1;
    while (pos < length - 2) {
        int position = static_cast<int>(pos);
        TTagEntry entry = ReadNextRecord(s, position);
        pos = position;
        if (entry.tagNumber == kSuppCategoryDataset || entry.tagNumber == kKeywordsDataset) {
            MergeRecordText(entry.key, entry.text);
        } else {
            AppendRecord(entry);
        }
    }
}

TTagEntry TIptcRecords::ReadNextRecord(const std::string& s, int& pos) const {
    // The caller keeps pos + 3 inside s: the four header bytes are always there.
    TTagEntry entry{};
    const std::size_t at = static_cast<std::size_t>(pos) - 1;
    if (pos < 1 || at + 4 > s.size()) {
        pos = static_cast<int>(s.size()) + 1;
        return entry;
    }
    const int recordNumber = static_cast<unsigned char>(s[at]);
    const int datasetNumber = static_cast<unsigned char>(s[at + 1]);
    const int dataLength = static_cast<unsigned char>(s[at + 2]) * 256 + static_cast<unsigned char>(s[at + 3]);
    pos += 4;

    if (recordNumber == 2 || recordNumber == 8) {
        const std::size_t dataStart = static_cast<std::size_t>(pos) - 1;
        // A record whose data would pass the end keeps what is there.
        std::string data = dataStart < s.size() ? s.substr(dataStart, static_cast<std::size_t>(dataLength)) : std::string();
        const IptcDataset* row = DatasetByNumber(recordNumber, datasetNumber);
        if (row != nullptr && std::string_view(row->key) != "SKIP") {
            entry = EntryFromRow(*row);
        } else {
            entry.key = "Custom_" + std::to_string(datasetNumber);
            entry.label = entry.key;
            entry.tagNumber = static_cast<std::uint16_t>(datasetNumber);
            entry.recordNumber = static_cast<std::uint16_t>(recordNumber);
            entry.byteCount = kCustomMaxLength;
        }
        entry.text = std::move(data);
    }
    // Skip the data and the next record's marker byte.
    pos += dataLength + 1;
    return entry;
}

void TIptcRecords::ClearRecords() {
    count = 0;
    std::fill(records.begin(), records.end(), TTagEntry{});
}

bool TIptcRecords::HasRecords() const {
    return count > 0;
}

int TIptcRecords::AppendRecord(const TTagEntry& entry) {
    if (entry.tagNumber != 0) {
        if (count >= capacity - 1) {
            capacity += kCapacityStep;
            records.resize(static_cast<std::size_t>(capacity));
        }
        records[static_cast<std::size_t>(count)] = entry;
        ++count;
    }
    return count - 1;
}

const TTagEntry& TIptcRecords::Record(int index) const {
    if (index < 0 || index >= count) throw std::out_of_range("IPTC record index " + std::to_string(index) + " out of range");
    return records[static_cast<std::size_t>(index)];
}

int TIptcRecords::Count() const {
    return count;
}

void TIptcRecords::SetCount(int newCount) {
    count = std::clamp(newCount, 0, capacity);
}

}  // namespace lumivane
