// SPDX-License-Identifier: GPL-3.0-or-later
#include "StartArguments.h"

namespace lumivane {

namespace {

StartArguments usageError(std::string message)
{
    StartArguments result;
    result.action = StartArguments::Action::UsageError;
    result.error = std::move(message);
    return result;
}

StartArguments only(StartArguments::Action action)
{
    StartArguments result;
    result.action = action;
    return result;
}

} // namespace

const char* StartUsage()
{
    return "Usage: lumivane [--mask FILE] [PHOTO...]\n"
           "Removes lens vignetting from JPEG, BMP and TIFF photographs with a flat-field mask.\n"
           "The photographs open as with \"Load Image(s)\", FILE as with \"Load Mask\".\n"
           "\n"
           "  --mask FILE   the mask to use instead of the stored default mask\n"
           "  --help        print this text and exit\n"
           "  --version     print the version and exit\n"
           "  --            every later argument is a photograph, even one starting with '-'\n"
           "\n"
           "lumivane-cli corrects photographs without a window (see lumivane-cli --help).\n";
}

StartArguments ParseStartArguments(const std::vector<std::string>& args)
{
    StartArguments result;
    bool onlyPhotos = false;
    bool maskGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty())
            return usageError("an empty argument names no file");
        if (onlyPhotos || arg.size() < 2 || arg[0] != '-') {
            // Photographs and "-" alike: the open handles a name it cannot
            // read as it handles one chosen in its dialog.
            result.photos.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPhotos = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
            return only(StartArguments::Action::Help);
        if (arg == "--version")
            return only(StartArguments::Action::Version);
        std::string mask;
        if (arg == "--mask") {
            if (i + 1 >= args.size())
                return usageError("--mask needs a file name");
            mask = args[++i];
        } else if (arg.rfind("--mask=", 0) == 0) {
            mask = arg.substr(7);
        } else {
            return usageError("unknown option '" + arg + "'");
        }
        if (mask.empty())
            return usageError("--mask needs a file name");
        if (maskGiven)
            return usageError("--mask given twice");
        maskGiven = true;
        result.mask = mask;
    }
    return result;
}

} // namespace lumivane
