// SPDX-License-Identifier: GPL-3.0-or-later
#include "BmpCodec.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"
#include "Picture.h"

#include <gtest/gtest.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

struct Files {
    ScratchDir dir;
    std::string bmp = dir.file("photo.BmP");
    std::string jpg = dir.file("photo.jpg");
    std::string jpeg = dir.file("photo.JPEG");
    std::string badBmp = dir.file("bad.bmp");
    Files()
    {
        WriteBmpFile(patternBitmap(5, 4), bmp);
        writeBytes(jpg, EncodeJpeg(gradientBitmap(30, 20), 90));
        writeBytes(jpeg, EncodeJpeg(gradientBitmap(12, 8), 90));
        writeBytes(badBmp, {'B', 'M', 0, 0});
    }
};

} // namespace

TEST(Picture, ExtensionPicksTheReaderIgnoringCase)
{
    Files f;
    TPicture picture;
    picture.LoadFromFile(f.bmp);
    EXPECT_TRUE(picture.HoldsBitmap());
    EXPECT_EQ(picture.Bitmap(), patternBitmap(5, 4));
    picture.LoadFromFile(f.jpg);
    EXPECT_TRUE(picture.HoldsJpeg());
    EXPECT_EQ(picture.Width(), 30); // the header's size, nothing decoded
    EXPECT_EQ(picture.Height(), 20);
    picture.LoadFromFile(f.jpeg);
    EXPECT_TRUE(picture.HoldsJpeg());
    EXPECT_EQ(picture.Width(), 12);
    ASSERT_NE(picture.Jpeg(), nullptr);
    picture.Jpeg()->Smoothing = false;
    EXPECT_LE(maxDifference(picture.Jpeg()->Decode(), gradientBitmap(12, 8)), 16); // small picture: chroma subsampling shows
}

TEST(Picture, UnknownExtensionRaisesWithTheExtension)
{
    TPicture picture;
    struct Case { const char* path; const char* message; };
    for (const Case c : {Case{"/tmp/x.png", "Unknown picture file extension (.png)"},
                         Case{"/tmp/x.TIF", "Unknown picture file extension (.TIF)"},
                         Case{"/tmp/dir.bmp/noext", "Unknown picture file extension (.)"}}) {
        try {
            picture.LoadFromFile(c.path);
            FAIL() << c.path;
        } catch (const InvalidGraphic& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(Picture, FailedReadKeepsThePreviousGraphic)
{
    Files f;
    TPicture picture;
    picture.LoadFromFile(f.bmp);
    EXPECT_THROW(picture.LoadFromFile(f.badBmp), BmpError);
    EXPECT_THROW(picture.LoadFromFile(f.dir.file("missing.jpg")), std::runtime_error);
    EXPECT_THROW(picture.LoadFromFile(f.dir.file("other.gif")), InvalidGraphic);
    ASSERT_TRUE(picture.HoldsBitmap());
    EXPECT_EQ(picture.Bitmap(), patternBitmap(5, 4));
}

TEST(Picture, LoadWithSpareExchangesStorageAndKeepsThePictureOnFailure)
{
    Files f;
    const std::string other = f.dir.file("other.bmp");
    WriteBmpFile(gradientBitmap(5, 4), other);
    TPicture picture;
    Bitmap24 spare;
    picture.LoadFromFile(f.bmp, spare);
    ASSERT_TRUE(picture.HoldsBitmap());
    EXPECT_EQ(*picture.HeldBitmap(), patternBitmap(5, 4));
    const std::uint8_t* first = picture.HeldBitmap()->data();
    picture.LoadFromFile(other, spare);
    EXPECT_EQ(*picture.HeldBitmap(), gradientBitmap(5, 4));
    EXPECT_EQ(spare.data(), first); // the spare holds the storage given back
    const std::uint8_t* second = picture.HeldBitmap()->data();
    picture.LoadFromFile(f.bmp, spare);
    EXPECT_EQ(picture.HeldBitmap()->data(), first); // two blocks take turns
    EXPECT_EQ(*picture.HeldBitmap(), patternBitmap(5, 4));
    EXPECT_EQ(spare.data(), second);

    EXPECT_THROW(picture.LoadFromFile(f.badBmp, spare), BmpError);
    EXPECT_EQ(*picture.HeldBitmap(), patternBitmap(5, 4));
    // Other extensions follow the plain rules: a JPEG object, or an error.
    picture.LoadFromFile(f.jpg, spare);
    EXPECT_TRUE(picture.HoldsJpeg());
    EXPECT_EQ(picture.HeldBitmap(), nullptr);
    EXPECT_THROW(picture.LoadFromFile(f.dir.file("photo.png"), spare), InvalidGraphic);
}

TEST(Picture, BitmapAccessorDiscardsJpegOrNothing)
{
    Files f;
    TPicture picture;
    EXPECT_TRUE(picture.HoldsNothing());
    EXPECT_TRUE(picture.Bitmap().empty());
    EXPECT_TRUE(picture.HoldsBitmap());

    picture.LoadFromFile(f.jpg);
    Bitmap24& bitmap = picture.Bitmap();
    EXPECT_FALSE(picture.HoldsJpeg());
    EXPECT_EQ(bitmap.width(), 0);
    EXPECT_EQ(picture.Width(), 0);
}

TEST(Picture, ClearEmptiesAndAssignCopies)
{
    TPicture picture;
    const Bitmap24 image = patternBitmap(3, 3);
    picture.AssignBitmap(image);
    EXPECT_EQ(picture.Bitmap(), image);
    picture.Bitmap().setPixel(0, 0, kBlack);
    EXPECT_EQ(image, patternBitmap(3, 3)); // a copy, not a reference
    picture.Clear();
    EXPECT_TRUE(picture.HoldsNothing());
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(picture.Height(), 0);
}

TEST(ImageHolder, AutoSizeFollowsPicture_EmptyingKeepsSize)
{
    Files f;
    TImageHolder holder;
    holder.Width = 100;
    holder.Height = 50;
    holder.LoadFromFile(f.bmp);
    EXPECT_EQ(holder.Width, 100); // AutoSize off: the control keeps its size

    holder.AutoSize = true;
    holder.LoadFromFile(f.jpg);
    EXPECT_EQ(holder.Width, 30);
    EXPECT_EQ(holder.Height, 20);
    holder.Picture.AssignBitmap(patternBitmap(7, 9));
    EXPECT_EQ(holder.Width, 7);
    EXPECT_EQ(holder.Height, 9);
    holder.Picture.Clear();
    EXPECT_EQ(holder.Width, 7);
    EXPECT_EQ(holder.Height, 9);
    holder.Picture.AssignBitmap(Bitmap24(0, 5)); // not both positive: no change
    EXPECT_EQ(holder.Width, 7);
    EXPECT_EQ(holder.Height, 9);
    EXPECT_THROW(holder.LoadFromFile(f.badBmp), BmpError);
    EXPECT_EQ(holder.Width, 7);
}

TEST(ImageHolder, CanvasOnEmptyPictureIsWhiteBitmapOfControlSize)
{
    TImageHolder holder;
    holder.Width = 4;
    holder.Height = 3;
    Bitmap24& canvas = holder.CanvasBitmap();
    EXPECT_EQ(canvas, Bitmap24(4, 3));
    canvas.setPixel(1, 1, kBlack);
    EXPECT_EQ(holder.Picture.Bitmap().pixel(1, 1), kBlack); // drawing reaches the picture
}

TEST(ImageHolder, CanvasOnJpegRaises)
{
    Files f;
    TImageHolder holder;
    holder.LoadFromFile(f.jpg);
    try {
        holder.CanvasBitmap();
        FAIL() << "no error";
    } catch (const InvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Can only modify an image if it contains a bitmap");
    }
    EXPECT_TRUE(holder.Picture.HoldsJpeg());
}

TEST(ImageHolder, PictureAssignedFromAnotherPictureNotifiesItsOwnHolder)
{
    TPicture other;
    other.AssignBitmap(patternBitmap(11, 2));
    TImageHolder holder;
    holder.AutoSize = true;
    holder.Picture = other;
    EXPECT_EQ(holder.Width, 11);
    EXPECT_EQ(holder.Height, 2);
}
