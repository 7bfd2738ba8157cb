// Every message the suite prints, in one place, each exactly as it stands
// on its line: with its final period where it has one ("data read error"
// has none). Nothing appends to a message. The lines around them are made
// by error.h: a message alone, "<subject> : <message>" for a fault of a
// file (or another subject), "<subject> : <message> (warning)." for a
// warning.
#pragma once

namespace pv::msg {

// ---------------------------------------------------------------------------
// The front ends' own faults, alone on their line.
inline constexpr char kUsagePvsplit[] = "usage : pvsplit image.bin TIFF_format";
inline constexpr char kUsagePvquant[] = "usage : pvquant TIFF_float {base step} BPS TIFF_int";
inline constexpr char kUsagePvexpand[] = "usage : pvexpand TIFF_int base step TIFF_float";
inline constexpr char kUsagePvstack[] =
    "usage : pvstack image.tif image.bin\n        pvstack image/ nameFile image.bin";
inline constexpr char kUsagePvheader[] = "usage : pvheader image.bin header [dx dy dz]";
inline constexpr char kFileNotFound[] = "file not found.";  // the reader's too, after "<path> : "
inline constexpr char kFileNotOpen[] = "file not open.";
inline constexpr char kBadBitsPerSampleBPS[] = "bad bit per sample (BPS).";
inline constexpr char kBadValueStep[] = "bad value step.";
inline constexpr char kMemoryAllocation[] = "memory allocation error.";

// The raw volume, alone on their line.
inline constexpr char kBadImageSize[] = "bad image size.";
inline constexpr char kDataReadError[] = "data read error";
inline constexpr char kBadFileNameFormat[] = "bad file name format.";

// ---------------------------------------------------------------------------
// After "<path> : ", the TIFF reader's faults. A fault of a later page of a
// file names the page: "<path> page <k> : <message>", k counted from 1
// (page 1's faults name the path alone).
inline constexpr char kPage[] = "page";
inline constexpr char kBadMagicNumber[] = "bad magic number.";
inline constexpr char kNoImageFileDirectory[] = "no image file directory.";
// A chain of directories that comes back to one seen before (or whose
// directories would take more bytes than the file has).
inline constexpr char kDirectoryLoop[] = "image file directory loop.";
inline constexpr char kUnexpectedEndOfFile[] = "unexpected end of file.";
inline constexpr char kUnknownSampleFormat[] = "unknown sample format.";
inline constexpr char kBadBitsPerSample[] = "bad bits per sample.";
inline constexpr char kMissingImageSize[] = "missing image size.";
inline constexpr char kTooLargeImageSize[] = "too large image size.";
inline constexpr char kUnknownCompression[] = "unknown image compression method.";
inline constexpr char kBadPhotometric[] = "bad photometric interpretation.";
inline constexpr char kUnknownFillOrder[] = "unknown fill order.";
inline constexpr char kBadSamplesPerPixel[] = "bad samples per pixel.";
inline constexpr char kBadRowsPerStrip[] = "bad rows per strip.";
inline constexpr char kBadPlanarConfiguration[] = "bad planar configuration.";
inline constexpr char kUnknownPredictor[] = "unknown differencing predictor.";
inline constexpr char kUnapplicablePredictor[] = "unapplicable differencing predictor.";
inline constexpr char kMissingDescription[] = "missing image description.";
inline constexpr char kNoMemoryForDescription[] = "no allocatable memory for image description.";
inline constexpr char kMissingStripOffset[] = "missing strip offset.";
inline constexpr char kMissingStripBytesCount[] = "missing strip bytes count.";
inline constexpr char kBadNumberOfStripOffset[] = "bad number of strip offset.";
inline constexpr char kBadNumberOfStripBytesCount[] = "bad number of strip bytes count.";
inline constexpr char kNoMemoryForStripOffset[] = "no allocatable memory for strip offset.";
inline constexpr char kNoMemoryForStripBytesCount[] = "no allocatable memory for strip bytes count.";
inline constexpr char kMissingTileOffset[] = "missing tile offset.";
inline constexpr char kMissingTileBytesCount[] = "missing tile bytes count.";
inline constexpr char kBadNumberOfTileOffset[] = "bad number of tile offset.";
inline constexpr char kBadNumberOfTileBytesCount[] = "bad number of tile bytes count.";
inline constexpr char kNoMemoryForTileOffset[] = "no allocatable memory for tile offset.";
inline constexpr char kNoMemoryForTileBytesCount[] = "no allocatable memory for tile bytes count.";
inline constexpr char kNoMemoryForCell[] = "no allocatable memory for cell.";
inline constexpr char kTooFewCodes[] = "too few codes.";
// "MPB" in the reader's lines stands for PackBits.
inline constexpr char kPackBitsTooFewCodes[] = "MPB too few codes.";
inline constexpr char kLZWTooFewCodes[] = "LZW too few codes.";
inline constexpr char kLZWUnexpectedEnd[] = "LZW unexpected end of code.";
inline constexpr char kLZWBadCodeAfterClear[] = "LZW bad code after clear code.";
inline constexpr char kLZWMissingClearCode[] = "LZW missing clear code.";
inline constexpr char kLZWBadCode[] = "LZW bad code.";
// A Deflate stream that is damaged, or cut short by its byte count.
inline constexpr char kDeflateBadData[] = "Deflate bad or short data.";
// A Deflate stream that ends before the rows are complete.
inline constexpr char kDeflateTooFewData[] = "Deflate too few data.";

// The TIFF reader's warnings, at the end of a strip or tile.
inline constexpr char kTooManyCodes[] = "too many codes";
inline constexpr char kPackBitsTooManyData[] = "MPB too many data";
inline constexpr char kPackBitsTooManyCode[] = "MPB too many code";
inline constexpr char kLZWTooManyData[] = "LZW too many data";
inline constexpr char kLZWTooManyCode[] = "LZW too many code";
inline constexpr char kLZWMissingEndOfCode[] = "LZW missing end of code";
inline constexpr char kDeflateTooManyData[] = "Deflate too many data";
inline constexpr char kDeflateTooManyCode[] = "Deflate too many code";

// pvquant's warning on an integer input.
inline constexpr char kNonFloatPixels[] = "containing non-float pixel values";

// ---------------------------------------------------------------------------
// After "<path> : ", the TIFF writers' faults.
inline constexpr char kFileNotStored[] = "file not stored.";
inline constexpr char kNoAllocatableMemory[] = "no allocatable memory.";

// ---------------------------------------------------------------------------
// After "<subject> : ", the slice list's faults and the slice export's
// warnings.
inline constexpr char kNameFileNotOpen[] = "name file not open.";
inline constexpr char kTooLongLine[] = "too long line.";
inline constexpr char kTooLongName[] = "too long name.";
inline constexpr char kNoImageFileName[] = "no image file name.";
inline constexpr char kNoMemoryForPaths[] = "no memory for paths.";
inline constexpr char kNoMemoryForPath[] = "no memory for path.";
inline constexpr char kDirectoryNotOpen[] = "directory not open.";
inline constexpr char kUnknownSortingOption[] = "unknown sorting option.";
inline constexpr char kConvertingByDescription[] = "converting PV by TIFF image description tag";
inline constexpr char kIntegerAsIs[] = "using integer PV as is floating-point PV";

// The progress line on a terminal (common/progress.h), forms of the slices
// done, all the slices and the slices a second: pvstack's first pass, which
// opens every slice for its size, and the work over the slices.
inline constexpr char kProgressChecked[] = "%zu of %zu slices checked, %.1f slices/s";
inline constexpr char kProgressDone[] = "%zu of %zu slices, %.1f slices/s";

// After "<volume> : ", a raw volume that cannot be written.
inline constexpr char kDataWriteError[] = "data write error.";

// ---------------------------------------------------------------------------
// After "<path> : ", pvheader's faults. Two are forms that tell what they
// found: a body of the wrong length (its size, the size the header asks for
// and the volume's shape) and a .hdr name that GDAL would not find (the two
// names that work).
inline constexpr char kUnknownExtension[] = "unknown extension, use .nhdr, .mhd or .hdr.";
inline constexpr char kBadSpacing[] = "spacing is not a positive number.";
inline constexpr char kNotRegularFile[] = "not a regular file.";
inline constexpr char kWouldOverwriteVolume[] = "would overwrite the volume.";
inline constexpr char kNameWithLineBreak[] = "name holds a line break, which a header cannot carry.";
inline constexpr char kNameWithPattern[] =
    "name holds %, which a MetaImage header takes for a file pattern.";
inline constexpr char kWrongBodyLength[] = "body is %s bytes, not the %s of a %s volume.";
inline constexpr char kEnviNameNotFound[] = "not found by GDAL beside the volume; name it %s or %s.";

}  // namespace pv::msg
