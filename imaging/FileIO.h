// Whole-file reading and all-or-nothing file writing.
// Every writer of the program goes through WriteFileAtomically, so a failed
// save never leaves a half-written image under the name the user chose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivane {

// Raised for any input or output error; the message names the file.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the whole file. Raises FileError naming the path when the file cannot
// be opened or read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

// Writes `size` bytes to a temporary file beside `path` (path + ".part"),
// flushes it to disk and renames it over `path`. On any error the temporary
// file is removed, `path` is left as it was, and FileError naming the path
// is raised.
void WriteFileAtomically(const std::string& path, const void* data, std::size_t size);

inline void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    WriteFileAtomically(path, bytes.data(), bytes.size());
}

} // namespace lumivane
