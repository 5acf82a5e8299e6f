// SPDX-License-Identifier: GPL-3.0-or-later
// The program's artwork, packed into the controls library as Qt resources.
#pragma once

namespace lumivane {

// Registers the artwork with Qt's resource system. The resources sit in a
// static library, so the linker keeps them only when this is called; call it
// once at start-up before loading any of the paths below (repeat calls are
// harmless).
void InitLumivaneResources();

// Resource paths. Button pictures are opaque RGB whose transparent colour is
// the bottom-left pixel's (magenta, white for the centre dot); the window
// icons carry a real alpha channel.
namespace artwork {
inline constexpr char kGearGrey[] = ":/lumivane/gear_grey.png";                 // 21 x 19
inline constexpr char kGearGold[] = ":/lumivane/gear_gold.png";                 // 21 x 19
inline constexpr char kRotateLeftGrey[] = ":/lumivane/rotate_left_grey.png";    // 16 x 16
inline constexpr char kRotateLeftGreen[] = ":/lumivane/rotate_left_green.png";  // 16 x 16
inline constexpr char kRotateRightGrey[] = ":/lumivane/rotate_right_grey.png";  // 16 x 16
inline constexpr char kRotateRightGreen[] = ":/lumivane/rotate_right_green.png";// 16 x 16
inline constexpr char kPreviousGrey[] = ":/lumivane/previous_grey.png";         // 16 x 16
inline constexpr char kPreviousGreen[] = ":/lumivane/previous_green.png";       // 16 x 16
inline constexpr char kPreviousDisabled[] = ":/lumivane/previous_disabled.png"; // 16 x 16
inline constexpr char kNextGrey[] = ":/lumivane/next_grey.png";                 // 16 x 16
inline constexpr char kNextGreen[] = ":/lumivane/next_green.png";               // 16 x 16
inline constexpr char kNextDisabled[] = ":/lumivane/next_disabled.png";         // 16 x 16
inline constexpr char kInfoGrey[] = ":/lumivane/info_grey.png";                 // 16 x 16
inline constexpr char kInfoBlue[] = ":/lumivane/info_blue.png";                 // 16 x 16
inline constexpr char kCentreDot[] = ":/lumivane/centre_dot.png";               // 20 x 21, white key
inline constexpr char kFreeMaskGlyph[] = ":/lumivane/free_mask_glyph.png";      // 36 x 18: normal | disabled
inline constexpr char kIcon16[] = ":/lumivane/icon16.png";
inline constexpr char kIcon32[] = ":/lumivane/icon32.png";
inline constexpr char kIcon48[] = ":/lumivane/icon48.png";
} // namespace artwork

} // namespace lumivane
