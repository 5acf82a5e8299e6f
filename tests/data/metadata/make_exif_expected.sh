#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes exif_expected.tsv: the values an independent reader (ExifTool, Debian
# package libimage-exiftool-perl, version 12.57 when the table was made) finds
# in every camera JPEG of the sample corpus. -n gives plain numbers
# (ExposureTime 0.0125 rather than 1/80), "-" marks a tag the file lacks.
# Run once from any folder: sh tests/data/metadata/make_exif_expected.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
samples=${1:-"$here/../samples/exif"}
out="$here/exif_expected.tsv"
{
  printf 'file\tMake\tModel\tExposureTime\tFNumber\tISO\tFocalLength\tDateTime\tXResolution\tYResolution\tExifImageWidth\tExifImageHeight\n'
  cd "$samples"
  exiftool -n -T -FileName -IFD0:Make -IFD0:Model -ExifIFD:ExposureTime -ExifIFD:FNumber \
    -ExifIFD:ISO -ExifIFD:FocalLength -IFD0:ModifyDate -IFD0:XResolution -IFD0:YResolution \
    -ExifIFD:ExifImageWidth -ExifIFD:ExifImageHeight *.jpg
} > "$out"
echo "wrote $out"
