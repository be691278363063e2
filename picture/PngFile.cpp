// PNG files through libpng: reading every colour type into the indexed Bitmap, and writing
// 8-bit palette pictures.
//
// libpng reports errors by a long jump to the setjmp of the function that called it. The
// functions that hold a setjmp below therefore keep no object with a destructor of their own
// (everything lives in their callers and is passed in), and the callbacks libpng runs never
// let a C++ exception pass through it.
#include "Picture.h"
#include "Thumbnail.h"

#include "base/Errors.h"
#include "base/Text.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

namespace pelfry {

namespace {

// The checks of this unit and the numbers their messages show as "line N" (see CheckSite).
constexpr CheckSite PngTooLarge{"PngFile.cpp", 252};
constexpr CheckSite PngEmpty{"PngFile.cpp", 254};
constexpr CheckSite RgbaPngSize{"PngFile.cpp", 256};

constexpr uint32_t kMaxDimension = 65535;
// The most bytes deflate can make of one byte of compressed data (258-byte matches coded in
// two bits). Image data beyond file size x this cannot be in the file.
constexpr uint64_t kMaxInflation = 1032;

[[noreturn]] void Invalid(const std::string& fileName, const std::string& reason) {
    throw Error(Format("Invalid picture file %s", fileName.c_str()), reason);
}

// What libpng said when it stopped reading, kept for the error's reason. A plain buffer: the
// handler runs inside libpng, where nothing may throw.
struct PngComplaint {
    char text[160] = "";
};

void StopOnError(png_structp png, png_const_charp message) {
    if (auto* complaint = static_cast<PngComplaint*>(png_get_error_ptr(png)))
        std::snprintf(complaint->text, sizeof complaint->text, "%s", message);
    png_longjmp(png, 1);
}
void IgnoreWarning(png_structp, png_const_charp) {}

struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t at;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
    auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
    if (count > in->size - in->at) png_error(png, "unexpected end of file");
    std::memcpy(out, in->data + in->at, count);
    in->at += count;
}

class ReadHandle {
public:
    ReadHandle() {
        png_ =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, &complaint_, StopOnError, IgnoreWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (png_ == nullptr || info_ == nullptr) throw std::bad_alloc();
    }
    ~ReadHandle() { png_destroy_read_struct(&png_, &info_, nullptr); }
    // Why libpng refused the file: "the PNG data is damaged: IDAT: CRC error".
    std::string Reason() const {
        return std::string("the PNG data is damaged: ") + complaint_.text;
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    PngComplaint complaint_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// What the header says, and the layout libpng delivers rows in after our transformations:
// palette pictures one index per byte, all others red, green, blue, alpha.
struct Layout {
    uint32_t width = 0, height = 0;
    uint32_t storedBits = 0; // bits per pixel in the file
    bool palette = false;
    bool alpha = false;
    bool interlaced = false;
    Palette256 colours{};
};

bool ReadHeader(png_structp png, png_infop info, MemoryInput* in, Layout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, in, ReadFromMemory);
    // Our own size check below gives the same message as for bitmaps.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(png, 8000000);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, type = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &type, &interlace, nullptr, nullptr);
    layout->width = width;
    layout->height = height;
    layout->storedBits = static_cast<uint32_t>(depth) * png_get_channels(png, info);
    layout->palette = type == PNG_COLOR_TYPE_PALETTE;
    layout->interlaced = interlace != PNG_INTERLACE_NONE;
    if (layout->palette) {
        // The stored indices, one a byte; a transparency chunk is no concern of the indices,
        // and indices beyond the palette are kept (they show black), as in bitmaps.
        if (depth < 8) png_set_packing(png);
        png_set_check_for_invalid_index(png, 0);
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) != 0)
            for (int i = 0; i < count && i < 256; ++i)
                layout->colours[static_cast<size_t>(i)] =
                    RGB{entries[i].red, entries[i].green, entries[i].blue};
    } else {
        layout->alpha = (type & PNG_COLOR_MASK_ALPHA) != 0;
        if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
            png_set_tRNS_to_alpha(png); // the one transparent colour becomes alpha 0
            layout->alpha = true;
        }
        if (depth == 16) png_set_strip_16(png); // the high byte of each channel
        if ((type & PNG_COLOR_MASK_COLOR) == 0) {
            if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
            png_set_gray_to_rgb(png);
        }
        if (!layout->alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    return rowBytes == static_cast<size_t>(width) * (layout->palette ? 1 : 4);
}

// Reads every row into `rows` (the picture's rows, or true-colour rows), then the end of the
// file, whose checks catch truncated and corrupted image data.
bool ReadImage(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

// The same one row at a time for pictures that are not interlaced; `take` numbers each row's
// colours while it is still in the one row buffer.
template <typename Take>
bool ReadRowByRow(png_structp png, png_bytep row, uint32_t height, Take& take) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (uint32_t y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        take(y, row);
    }
    png_read_end(png, nullptr);
    return true;
}

} // namespace

Picture DecodePng(const uint8_t* data, size_t size, const std::string& fileName) {
    ReadHandle handle;
    MemoryInput in{data, data != nullptr ? size : 0, 0};
    Layout layout;
    if (!ReadHeader(handle.png(), handle.info(), &in, &layout)) Invalid(fileName, handle.Reason());
    if (layout.width > kMaxDimension || layout.height > kMaxDimension) PictureTooLarge(fileName);
    // Never allocate for more image data than the file could inflate to.
    const uint64_t storedRow = 1 + (uint64_t{layout.width} * layout.storedBits + 7) / 8;
    if (storedRow * layout.height > uint64_t{in.size} * kMaxInflation)
        Invalid(fileName, Format("%u x %u pixels are more than %s bytes of PNG data can hold",
                                 layout.width, layout.height, FormatThousands(in.size).c_str()));

    Picture picture{Bitmap(static_cast<int>(layout.width), static_cast<int>(layout.height)),
                    layout.palette};
    Bitmap& image = picture.Image;
    std::vector<png_bytep> rows;
    if (layout.palette) {
        image.SetPalette(layout.colours);
        rows.resize(layout.height);
        for (uint32_t y = 0; y < layout.height; ++y)
            rows[y] = image.Row(static_cast<int>(y));
        if (!ReadImage(handle.png(), rows.data())) Invalid(fileName, handle.Reason());
        return picture;
    }

    ColourNumbering numbering(layout.alpha);
    auto take = [&](uint32_t y, const uint8_t* rgba) {
        uint8_t* out = image.Row(static_cast<int>(y));
        for (uint32_t x = 0; x < layout.width; ++x, rgba += 4)
            out[x] = numbering.Index(rgba[0], rgba[1], rgba[2], rgba[3]);
    };
    const size_t rowBytes = size_t{layout.width} * 4;
    // Adam7 passes fill every row several times: those pictures are read whole.
    std::vector<uint8_t> buffer(rowBytes * (layout.interlaced ? layout.height : 1));
    if (layout.interlaced) {
        rows.resize(layout.height);
        for (uint32_t y = 0; y < layout.height; ++y)
            rows[y] = buffer.data() + rowBytes * y;
        if (!ReadImage(handle.png(), rows.data())) Invalid(fileName, handle.Reason());
        for (uint32_t y = 0; y < layout.height; ++y)
            take(y, rows[y]);
    } else if (!ReadRowByRow(handle.png(), buffer.data(), layout.height, take)) {
        Invalid(fileName, handle.Reason());
    }
    image.SetPalette(numbering.Palette());
    return picture;
}

// ---- Writing -------------------------------------------------------------------------------

namespace {

void WriteToVector(png_structp png, png_bytep bytes, size_t count) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        out->insert(out->end(), bytes, bytes + count);
    } catch (...) {
        stored = false;
    }
    if (!stored) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

class WriteHandle {
public:
    WriteHandle() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, StopOnError, IgnoreWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (png_ == nullptr || info_ == nullptr) throw std::bad_alloc();
    }
    ~WriteHandle() { png_destroy_write_struct(&png_, &info_); }
    WriteHandle(const WriteHandle&) = delete;
    WriteHandle& operator=(const WriteHandle&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

void WriteHeader(png_structp png, png_infop info, int width, int height, int type,
                 std::vector<uint8_t>* out) {
    png_set_write_fn(png, out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
}

bool WritePalettePng(png_structp png, png_infop info, const Bitmap* bitmap,
                     std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    WriteHeader(png, info, bitmap->Width(), bitmap->Height(), PNG_COLOR_TYPE_PALETTE, out);
    png_color entries[256];
    for (size_t i = 0; i < 256; ++i)
        entries[i] =
            png_color{bitmap->Palette()[i].r, bitmap->Palette()[i].g, bitmap->Palette()[i].b};
    png_set_PLTE(png, info, entries, 256);
    // Filters rarely help indices; unfiltered rows compress as well and keep writing fast.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (int y = 0; y < bitmap->Height(); ++y)
        png_write_row(png, bitmap->Row(y));
    png_write_end(png, info);
    return true;
}

bool WriteRgbaPng(png_structp png, png_infop info, const RgbaPicture* picture,
                  std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    WriteHeader(png, info, picture->Width, picture->Height, PNG_COLOR_TYPE_RGB_ALPHA, out);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(picture->Width) * 4;
    for (int y = 0; y < picture->Height; ++y)
        png_write_row(png, picture->Pixels.data() + stride * static_cast<size_t>(y));
    png_write_end(png, info);
    return true;
}

} // namespace

std::vector<uint8_t> EncodeRgbaPng(const RgbaPicture& picture) {
    PELFRY_CHECK(picture.Width > 0 && picture.Height > 0 && picture.Width <= 65535 &&
                     picture.Height <= 65535 &&
                     picture.Pixels.size() == size_t{4} * static_cast<size_t>(picture.Width) *
                                                  static_cast<size_t>(picture.Height),
                 RgbaPngSize, "A PNG picture needs 1 to 65,535 pixels each way", "");
    WriteHandle handle;
    std::vector<uint8_t> out;
    if (!WriteRgbaPng(handle.png(), handle.info(), &picture, &out)) throw std::bad_alloc();
    return out;
}

std::vector<uint8_t> EncodePng(const Bitmap& bitmap) {
    PELFRY_CHECK(bitmap.Width() <= 65535 && bitmap.Height() <= 65535, PngTooLarge,
                 "Bitmap too large for a PNG file", "");
    PELFRY_CHECK(bitmap.Width() > 0 && bitmap.Height() > 0, PngEmpty,
                 "A PNG picture needs at least one pixel", "");
    WriteHandle handle;
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height()) / 4 +
                1024);
    // Only a lack of memory can stop libpng here: every value handed to it is valid.
    if (!WritePalettePng(handle.png(), handle.info(), &bitmap, &out)) throw std::bad_alloc();
    return out;
}

} // namespace pelfry
