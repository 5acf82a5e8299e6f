// SPDX-License-Identifier: GPL-3.0-or-later
// The write faults every writer is put through: "no space left" and an I/O
// error at each step of the one file writer, and a short write followed by
// a failing one, injected through its fault hook.
#pragma once

#include "FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace lumivane::test_support {

struct WriteFault {
    FileStep step;
    int error;
    bool shortWriteFirst; // the first write call writes only a few bytes, a later one fails

    std::string describe() const
    {
        static const char* const kSteps[] = {"open", "read", "create", "write", "sync", "rename"};
        return std::string(kSteps[int(step)]) + ", " + std::strerror(error) +
               (shortWriteFirst ? " after a short write" : "");
    }
};

inline constexpr WriteFault kWriteFaults[] = {
    {FileStep::Create, ENOSPC, false}, {FileStep::Create, EIO, false}, {FileStep::Write, ENOSPC, false},
    {FileStep::Write, EIO, false},     {FileStep::Write, ENOSPC, true}, {FileStep::Write, EIO, true},
    {FileStep::Sync, ENOSPC, false},   {FileStep::Sync, EIO, false},   {FileStep::Rename, ENOSPC, false},
    {FileStep::Rename, EIO, false},
};

// Installs `fault` for the files `hits` accepts while the object lives.
template <typename Hits>
class InjectedFault {
public:
    InjectedFault(const WriteFault& fault, Hits hits)
        : hook_([fault, hits, writes = std::make_shared<int>(0)](FileStep step, const std::string& target,
                                                                 std::size_t& bytes) {
              if (step != fault.step || !hits(target))
                  return 0;
              // The hook may be copied before each call: the count is shared.
              if (fault.shortWriteFirst && ++*writes == 1) {
                  bytes = std::min<std::size_t>(bytes, 5);
                  return 0;
              }
              return fault.error;
          })
    {
    }

private:
    ScopedFileFault hook_;
};

} // namespace lumivane::test_support
