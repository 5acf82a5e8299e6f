// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProfileMaskChooser.h"

#include <algorithm>
#include <thread>

namespace lumivane {

std::shared_ptr<const Bitmap24> ProfileMasks::Get(const LensProfile& profile, int width, int height)
{
    const Key key{profile.lens, profile.cropFactor, profile.focalLength, profile.fNumber, profile.distance, width,
                  height};
    // Rendering holds the lock: two workers asking for one mask wait for one
    // render, and rendering already uses every core.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found =
        std::find_if(kept_.begin(), kept_.end(), [&key](const auto& entry) { return entry.first == key; });
    if (found != kept_.end()) {
        std::rotate(found, found + 1, kept_.end());
        return kept_.back().second;
    }
    const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
    auto mask = std::make_shared<const Bitmap24>(RenderProfileMask(profile, width, height, threads));
    ++renders_;
    if (kept_.size() >= kKept)
        kept_.erase(kept_.begin());
    kept_.emplace_back(key, mask);
    return mask;
}

int ProfileMasks::Renders() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return renders_;
}

namespace {
const std::string kProfileMaskPrefix = "lens profile (";
}

std::string ProfileMaskName(const LensProfile& profile)
{
    return kProfileMaskPrefix + DescribeProfile(profile) + ")";
}

bool IsProfileMaskName(const std::string& maskName)
{
    return maskName.rfind(kProfileMaskPrefix, 0) == 0;
}

BatchMaskChoice ChooseProfileMask(const std::string& photo, const std::string& lensOverride,
                                  const std::shared_ptr<ProfileMasks>& masks)
{
    BatchMaskChoice choice;
    const LensFacts facts = ReadLensFacts(photo);
    ProfileLookup lookup;
    try {
        lookup = LensDatabase::Instance().Find(facts, lensOverride);
    } catch (const LensDatabaseError& e) {
        choice.reason = e.what();
        return choice;
    }
    if (!lookup.profile) {
        choice.reason = lookup.reason;
        return choice;
    }
    const LensProfile profile = *lookup.profile;
    choice.name = ProfileMaskName(profile);
    choice.method = CorrectionMethod::Exact;
    // Rendered in linear light and encoded with the sRGB curve.
    choice.profile = MaskProfile{true, std::nullopt};
    choice.maskForSize = [profile, masks](int width, int height) { return masks->Get(profile, width, height); };
    return choice;
}

BatchMaskChooser MakeProfileMaskChooser(const std::string& lensOverride)
{
    auto masks = std::make_shared<ProfileMasks>();
    return [lensOverride, masks](const std::string& photo) { return ChooseProfileMask(photo, lensOverride, masks); };
}

} // namespace lumivane
