// SPDX-License-Identifier: GPL-3.0-or-later
// Unit IptcReader: the IPTC records of a JPEG's APP13 (Photoshop) section.
#pragma once

#include <string>
#include <vector>

namespace lumivane {

class TImageMetadata;
struct TTagEntry;

// The IPTC records of one file, kept as a list of tag entries keyed by
// dataset name. Read only: nothing is ever written back to a file.
class TIptcRecords {
public:
    explicit TIptcRecords(TImageMetadata* owner);
    virtual ~TIptcRecords();

    TIptcRecords(const TIptcRecords&) = delete;
    TIptcRecords& operator=(const TIptcRecords&) = delete;

    // Keys compare ignoring letter case throughout.
    virtual int RecordIndex(const std::string& key) const;
    virtual void DeleteRecord(const std::string& key);
    virtual int SetRecordText(const std::string& key, const std::string& text);
    virtual int MergeRecordText(const std::string& key, const std::string& text);
    virtual int PutRecordText(const std::string& key, const std::string& text);
    virtual std::string RecordText(const std::string& key,
                                   const std::string& defaultText) const;
    virtual bool ReadIptcFile(const std::string& fileName);

    // Reads the records of an APP13 section (its bytes as stored after the
    // marker) into the list, replacing what was there.
    void ParseIptc(const std::string& sectionBytes);
    void ClearRecords();
    bool HasRecords() const;
    int AppendRecord(const TTagEntry& entry);

    const TTagEntry& Record(int index) const;
    int Count() const;
    void SetCount(int newCount);

private:
    TTagEntry ReadNextRecord(const std::string& sectionBytes, int& pos) const;

    int capacity = 0;
    TImageMetadata* owner;
    int count = 0;
    std::vector<TTagEntry> records;
};

// Comma text: items holding blanks, commas or quotes are enclosed in double
// quotes (inner quotes doubled); reading follows the same rules.
namespace iptc {
std::vector<std::string> ReadCommaText(const std::string& text);
std::string WriteCommaText(const std::vector<std::string>& items);
// Adds each item of `added` (blanks trimmed) to the list `existing` unless it
// is already there ignoring letter case.
std::string CommaMerge(const std::string& existing, const std::string& added);
}  // namespace iptc

}  // namespace lumivane
