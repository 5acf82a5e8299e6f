// SPDX-License-Identifier: GPL-3.0-or-later
#include "OutputPlan.h"

#include "Naming.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace lumivane::cli {

namespace fs = std::filesystem;

namespace {

std::string lowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

// The file name without its last suffix ("IMG_1.JPG" -> "IMG_1"); a name
// whose only dot leads it keeps it whole (".hidden").
std::string stemOf(const std::string& path)
{
    const std::string name = FileNamePart(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Whether `inner` lies inside the folder `root` (both absolute, normal).
bool liesInside(const fs::path& inner, const fs::path& root)
{
    const auto [rootEnd, innerAt] = std::mismatch(root.begin(), root.end(), inner.begin(), inner.end());
    return rootEnd == root.end();
}

// Walks one folder given with --recursive; the photographs it holds, sorted
// by path so that every run lists them alike.
std::vector<InputPhoto> walkFolder(const std::string& rootArg, const fs::path& outDir)
{
    std::error_code ec;
    const fs::path root = fs::canonical(rootArg, ec);
    if (ec)
        throw UsageError("cannot walk the folder " + rootArg + ": " + ec.message());
    std::vector<InputPhoto> found;
    // Links to folders are not followed (the iterator's default), so the
    // walk never leaves the tree that way and never loops.
    fs::recursive_directory_iterator it(rootArg, fs::directory_options::none, ec);
    if (ec)
        throw UsageError("cannot walk the folder " + rootArg + ": " + ec.message());
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            throw UsageError("cannot walk the folder " + rootArg + ": " + ec.message());
        const fs::directory_entry& entry = *it;
        std::error_code sameError;
        if (entry.is_directory(sameError) && !entry.is_symlink(sameError) &&
            fs::equivalent(entry.path(), outDir, sameError)) {
            // The output folder inside the tree: a second run must not
            // correct the corrected files.
            it.disable_recursion_pending();
            continue;
        }
        if (!HasPhotographSuffix(entry.path().filename().string()))
            continue;
        std::error_code typeError;
        if (entry.is_symlink(typeError)) {
            // A linked file counts only when what it names lies in the tree.
            const fs::path target = fs::canonical(entry.path(), typeError);
            if (typeError || !liesInside(target, root) || !fs::is_regular_file(target, typeError))
                continue;
        } else if (!entry.is_regular_file(typeError)) {
            continue;
        }
        InputPhoto photo;
        photo.path = entry.path().string();
        const fs::path relative = entry.path().parent_path().lexically_relative(rootArg);
        photo.dir = relative == "." ? std::string() : relative.string();
        found.push_back(std::move(photo));
    }
    std::sort(found.begin(), found.end(), [](const InputPhoto& a, const InputPhoto& b) { return a.path < b.path; });
    return found;
}

// The absolute, normal form of a path whose last parts may not exist yet,
// links resolved where they exist.
fs::path resolved(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path).lexically_normal() : p;
}

} // namespace

bool HasPhotographSuffix(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    static const std::set<std::string> suffixes = {"jpg", "jpeg", "jpe", "bmp", "tif", "tiff"};
    return suffixes.count(lowerCase(name.substr(dot + 1))) > 0;
}

std::vector<InputPhoto> CollectPhotos(const std::vector<std::string>& args, bool recursive, const std::string& outDir)
{
    std::vector<InputPhoto> photos;
    for (const std::string& arg : args) {
        std::error_code ec;
        // Without --recursive a folder stays in the list, to be refused
        // by the batch like any other file that is no photograph.
        if (!recursive || !fs::is_directory(arg, ec)) {
            photos.push_back({arg, std::string()});
            continue;
        }
        std::vector<InputPhoto> found = walkFolder(arg, outDir);
        photos.insert(photos.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return photos;
}

std::string RenderName(const std::string& pattern, const InputPhoto& photo, std::size_t n, bool bmp)
{
    std::string name;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') {
            name += pattern[i];
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        const std::string field = close == std::string::npos ? pattern.substr(i) : pattern.substr(i, close - i + 1);
        if (field == "{stem}")
            name += stemOf(photo.path);
        else if (field == "{ext}")
            name += bmp ? "bmp" : "jpg";
        else if (field == "{dir}") {
            name += photo.dir;
            // No folder: "{dir}/x" is "x", not "/x".
            if (photo.dir.empty() && i + field.size() < pattern.size() && pattern[i + field.size()] == '/')
                i += 1;
        }
        else if (field == "{n}")
            name += std::to_string(n);
        else
            throw UsageError("--name knows {stem}, {ext}, {dir} and {n}, not " + field);
        i += field.size() - 1;
    }
    const fs::path relative = fs::path(name).lexically_normal();
    const std::string normal = relative.string();
    if (name.empty() || relative.is_absolute() || normal == "." || normal.rfind("..", 0) == 0 ||
        relative.filename().empty())
        throw UsageError("--name " + pattern + " gives '" + name + "', which is no file name inside the output folder");
    return normal;
}

std::vector<std::string> PlanOutputs(const std::vector<InputPhoto>& photos, const CliOptions& options)
{
    const bool bmp = options.quality == 101;
    const bool cropped = HasCrop(options.crop);
    std::vector<std::string> outputs;
    outputs.reserve(photos.size());
    for (std::size_t i = 0; i < photos.size(); ++i) {
        const InputPhoto& photo = photos[i];
        if (options.nameTemplate) {
            outputs.push_back(options.outDir + "/" + RenderName(*options.nameTemplate, photo, i + 1, bmp));
        } else {
            const std::string folder = photo.dir.empty() ? options.outDir : options.outDir + "/" + photo.dir;
            outputs.push_back(BatchCandidatePath(folder, OutNameFor(photo.path, bmp), bmp, 0, 0, cropped));
        }
    }

    // Outputs on inputs, compared as resolved paths (a second run into the
    // photographs' own folder would otherwise correct the corrected files,
    // or with --overwrite replace the originals).
    std::map<fs::path, std::size_t> inputs;
    for (std::size_t i = 0; i < photos.size(); ++i)
        inputs.emplace(resolved(photos[i].path), i);
    std::map<fs::path, std::size_t> claimed;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const fs::path out = resolved(outputs[i]);
        const auto input = inputs.find(out);
        if (input != inputs.end())
            throw UsageError(input->second == i
                                 ? photos[i].path + " would be written over itself; choose another --out or --name"
                                 : "the output of " + photos[i].path + " would be written over the photograph " +
                                       photos[input->second].path + "; choose another --out or --name");
        const auto [other, fresh] = claimed.emplace(out, i);
        if (!fresh && options.existing != ExistingOutputs::ClashName)
            throw UsageError(photos[other->second].path + " and " + photos[i].path + " would both be written as " +
                             outputs[i] + "; use --recursive or a --name with {dir} or {n}");
    }
    // The report file is written from the start: it must not take the
    // place of a photograph or of an output.
    if (!options.reportFile.empty()) {
        const fs::path report = resolved(options.reportFile);
        const auto input = inputs.find(report);
        if (input != inputs.end())
            throw UsageError("the report " + options.reportFile + " would be written over the photograph " +
                             photos[input->second].path + "; choose another --report");
        const auto output = claimed.find(report);
        if (output != claimed.end())
            throw UsageError("the report " + options.reportFile + " would be written where the output of " +
                             photos[output->second].path + " goes; choose another --report");
    }
    return outputs;
}

} // namespace lumivane::cli
