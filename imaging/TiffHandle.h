// SPDX-License-Identifier: GPL-3.0-or-later
// Owns a libtiff handle: every way out of a reader or writer closes it.
#pragma once

#include <tiffio.h>

namespace lumivane {

class TiffHandle {
public:
    explicit TiffHandle(TIFF* tif) : tif_(tif) {}
    ~TiffHandle() { close(); }
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    TIFF* get() const { return tif_; }
    void close()
    {
        if (tif_)
            TIFFClose(tif_);
        tif_ = nullptr;
    }

private:
    TIFF* tif_;
};

} // namespace lumivane
