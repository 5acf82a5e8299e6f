// SPDX-License-Identifier: GPL-3.0-or-later
// Each photograph of a batch corrected against the mask its own lens profile
// gives: lumivane-cli --lens-profile, and the mask folder's fallback for
// photographs that no flat field of the folder matches.
#pragma once

#include "BatchRunner.h"
#include "LensProfile.h"

#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace lumivane {

// Profile masks as rendered, shared by the photographs of a batch: a run of
// photographs taken with one lens at one setting renders its mask once.
// Safe to use from several threads.
class ProfileMasks {
public:
    static constexpr std::size_t kKept = 2;
    std::shared_ptr<const Bitmap24> Get(const LensProfile& profile, int width, int height);
    int Renders() const;

private:
    using Key = std::tuple<const lfLens*, double, double, double, double, int, int>;
    mutable std::mutex mutex_;
    std::vector<std::pair<Key, std::shared_ptr<const Bitmap24>>> kept_; // most recently used last
    int renders_ = 0;
};

// The name a photograph's result gives its mask: "lens profile (Canon EF
// 24-105mm f/4L IS USM, 50 mm, F8)".
std::string ProfileMaskName(const LensProfile& profile);
// Whether a result's mask name is a profile's (ProfileMaskName's form).
bool IsProfileMaskName(const std::string& maskName);

// The choice for one photograph: its profile's mask, always corrected with
// the exact method, or no mask and "No lens profile for <camera> / <lens>".
// `lensOverride`, when not empty, names the lens instead of the EXIF.
BatchMaskChoice ChooseProfileMask(const std::string& photo, const std::string& lensOverride,
                                  const std::shared_ptr<ProfileMasks>& masks);

// The batch's chooser: ChooseProfileMask for every photograph.
BatchMaskChooser MakeProfileMaskChooser(const std::string& lensOverride);

} // namespace lumivane
