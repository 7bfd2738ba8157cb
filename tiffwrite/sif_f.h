// Floating-point TIFF writers and the globals they share with their callers.
//
// StoreImageFile_Float(path, nx, ny, rows, description) writes rows of
// doubles as 32-bit IEEE samples. `rows` holds ny pointers to rows of nx
// doubles, top row first. The description is null (none), the address of
// SIF_F_desc (the writer formats the image's minimum and maximum into it with
// SIF_F_form) or any other text (stored unchanged). On return SIF_F_min and
// SIF_F_max hold the extremes of the image just written.
//
// Three writers share this interface, each in its own namespace so that one
// test can link all of them; a program picks one:
//   sif_f_fast       - one uncompressed strip, written front to back ("-" is
//                      standard output)
//   sif_f_full_lzw   - strips of about 8 KiB, LZW-compressed
//   sif_f_full_nolzw - strips of about 8 KiB, uncompressed
#pragma once

namespace pv {

extern char SIF_F_form[2048];
extern char SIF_F_desc[2048];
extern double SIF_F_min;
extern double SIF_F_max;

namespace sif_f_fast {
void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description);
}
namespace sif_f_full_lzw {
void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description);
}
namespace sif_f_full_nolzw {
void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description);
}

}  // namespace pv
