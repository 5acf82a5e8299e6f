// SPDX-License-Identifier: GPL-3.0-or-later
// Which photographs a lumivane-cli run corrects and where each one's output
// goes, decided before any photograph is read: folders walked with
// --recursive, --name templates, and the refusals that protect the inputs
// (an output on an input, two photographs on one output, a name that leaves
// the output folder).
#pragma once

#include "CliOptions.h"

#include <cstddef>
#include <string>
#include <vector>

namespace lumivane::cli {

// One photograph of the run.
struct InputPhoto {
    std::string path;
    // Its folder relative to the --recursive folder it was found in; empty
    // for a photograph named on the command line.
    std::string dir;
};

// Whether the name ends in .jpg, .jpeg, .jpe, .bmp, .tif or .tiff (any case):
// the names a --recursive walk collects.
bool HasPhotographSuffix(const std::string& name);

// The photographs of the command line in their order, each folder replaced
// by the photographs under it (sorted by path) when `recursive` (without it
// a folder stays in the list and is refused as a photograph). The walk
// follows no symbolic link to a folder and takes a linked file only when it
// lies inside the tree; it leaves out the output folder `outDir` when it
// lies in the tree. Raises UsageError for a folder that cannot be walked.
std::vector<InputPhoto> CollectPhotos(const std::vector<std::string>& args, bool recursive,
                                       const std::string& outDir);

// The name a --name template gives photograph `n` (1-based): {stem} is the
// photograph's file name without its suffix, {ext} the output's suffix (jpg
// or bmp), {dir} its folder relative to the --recursive root (empty
// otherwise; a template "{dir}/{stem}.{ext}" then yields "x.jpg"), {n} its
// place. Raises UsageError for any other {field} and for a name that would
// leave the output folder (absolute, or climbing out with "..").
std::string RenderName(const std::string& pattern, const InputPhoto& photo, std::size_t n, bool bmp);

// The output path of each photograph: `outDir` joined with the rendered
// --name, or without one the name "Save Images" gives, in the photograph's
// `dir` below `outDir`. Raises UsageError when an output would land on a
// photograph of the run (itself or another), and, when existing outputs are
// replaced or skipped rather than given clash names, when two photographs
// would share one output; and when the --report file would land on a
// photograph or an output of the run.
std::vector<std::string> PlanOutputs(const std::vector<InputPhoto>& photos, const CliOptions& options);

} // namespace lumivane::cli
