// SPDX-License-Identifier: GPL-3.0-or-later
// The quality slider's positions: 1..100 write JPEG at that quality, the
// position after them writes BMP. defaults.ini stores the position as is.
#pragma once

namespace lumivane {

inline constexpr int kBestJpegQuality = 100;
// The slider's last position: BMP instead of a JPEG quality.
inline constexpr int kBmpQuality = kBestJpegQuality + 1;

constexpr bool IsBmpQuality(int position)
{
    return position == kBmpQuality;
}

} // namespace lumivane
