// SPDX-License-Identifier: GPL-3.0-or-later
#include "FuzzTargets.h"

#include "ExifReader.h"
#include "IptcReader.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace lumivane::fuzz {

namespace {

// One scratch file per process and extension, rewritten for every input.
std::string ScratchPath(const char* extension)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    return (dir / ("lumivane_fuzz_" + std::to_string(::getpid()) + extension)).string();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// What the EXIF window and the tests ask of a reader after a read.
void QueryTags(const TImageMetadata& metadata)
{
    if (!metadata.exif)
        return;
    const TImageInfo& info = *metadata.exif;
    static const char* const kKeys[] = {"Make",       "Model",        "ExposureTime",
                                        "FNumber",    "FocalLength",  "DateTime",
                                        "Macro mode", "FocalLengthin35mmFilm", "GPSLatitude"};
    for (const char* key : kKeys) {
        static_cast<void>(info.TagText(key));
        static_cast<void>(info.TagNumber(key));
        static_cast<void>(info.TagInteger(key));
        static_cast<void>(info.TagByKey(key));
    }
}

void ExerciseRecords(TIptcRecords& records)
{
    static_cast<void>(records.RecordText("Keywords", "none"));
    static_cast<void>(records.PutRecordText("Keywords", "sun, \"sea, beach\""));
    static_cast<void>(records.PutRecordText("City", "Paris"));
    static_cast<void>(records.MergeRecordText("SuppCategory", "a,b"));
    records.DeleteRecord("ImageCaption");
    for (int i = 0; i < records.Count(); ++i)
        static_cast<void>(records.Record(i).text.size());
}

}  // namespace

void RunJpeg(const uint8_t* data, std::size_t size)
{
    const std::string path = ScratchPath(".jpg");
    WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    TImageMetadata metadata;
    metadata.ReadMetadata(path);
    QueryTags(metadata);
    if (metadata.iptc) {
        // The owner's own reader reads the file again through its owner.
        TIptcRecords* records = metadata.iptc.get();
        records->ReadIptcFile(path);
        ExerciseRecords(*records);
    }
    std::filesystem::remove(path);
}

void RunTiff(const uint8_t* data, std::size_t size)
{
    const std::string path = ScratchPath(".tif");
    WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
    TImageMetadata metadata;
    metadata.ReadMetadata(path);
    QueryTags(metadata);
    std::filesystem::remove(path);
}

void RunIptc(const uint8_t* data, std::size_t size)
{
    const std::string section(reinterpret_cast<const char*>(data), size);
    {
        TIptcRecords records(nullptr);
        records.ParseIptc(section);
        ExerciseRecords(records);
    }

    // The same bytes as the payload of an APP13 section of a JPEG file.
    const std::size_t payload = section.size() < 65533 ? section.size() : 65533;
    const std::size_t length = payload + 2;
    std::string file = "\xFF\xD8\xFF\xED";
    file += char(length >> 8);
    file += char(length & 0xFF);
    file.append(section, 0, payload);
    file += "\xFF\xD9";
    const std::string path = ScratchPath(".jpg");
    WriteFile(path, file);
    TImageMetadata metadata;
    TIptcRecords records(&metadata);
    records.ReadIptcFile(path);
    ExerciseRecords(records);
    std::filesystem::remove(path);
}

}  // namespace lumivane::fuzz
