// GIF files through giflib's sequential writer: the screen, the loop, then each frame with its
// graphics control block and its rows, one at a time.
#include "Gif.h"

#include "base/Errors.h"

#include <gif_lib.h>

#include <algorithm>
#include <new>

namespace pelfry {

namespace {

// The checks of this unit and the numbers their messages show as "line N" (see CheckSite).
constexpr CheckSite GifEmpty{"GifFile.cpp", 30};
constexpr CheckSite GifTooLarge{"GifFile.cpp", 31};
constexpr CheckSite GifFrameSize{"GifFile.cpp", 32};
constexpr CheckSite GifRefused{"GifFile.cpp", 33};

int WriteToVector(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    try {
        out->insert(out->end(), bytes, bytes + count);
    } catch (...) {
        return 0; // giflib reports a failed write, which Check turns into bad_alloc
    }
    return count;
}

// The number of colours a GIF colour table holds to reach index `highest`: a power of two,
// at least 2.
int TableSize(uint8_t highest) {
    int size = 2;
    while (size <= highest)
        size *= 2;
    return size;
}

} // namespace

struct GifWriter::Handle {
    GifFileType* gif = nullptr;
    std::vector<uint8_t> out;

    ~Handle() {
        if (gif != nullptr) EGifCloseFile(gif, nullptr);
    }
    // giflib answers GIF_ERROR with the reason in gif->Error (or `code` for a closed file).
    void Check(int result, int code = 0) const {
        if (result != GIF_ERROR) return;
        if (gif != nullptr) code = gif->Error;
        // Writing into memory fails only when memory does.
        if (code == E_GIF_ERR_NOT_ENOUGH_MEM || code == E_GIF_ERR_WRITE_FAILED)
            throw std::bad_alloc();
        const char* text = GifErrorString(code);
        Fail(GifRefused, "The GIF writer failed", text != nullptr ? text : "");
    }
};

GifWriter::GifWriter(int width, int height, const Palette256& palette, uint8_t highest,
                     bool animated)
    : handle_(std::make_unique<Handle>()), width_(width), height_(height), animated_(animated) {
    PELFRY_CHECK(width > 0 && height > 0, GifEmpty, "A GIF picture needs at least one pixel", "");
    PELFRY_CHECK(width <= 65535 && height <= 65535, GifTooLarge, "Picture too large for a GIF file",
                 "");
    int error = 0;
    handle_->gif = EGifOpen(&handle_->out, WriteToVector, &error);
    if (handle_->gif == nullptr) handle_->Check(GIF_ERROR, error);
    GifFileType* gif = handle_->gif;

    std::vector<GifColorType> colours(static_cast<size_t>(TableSize(highest)));
    for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = GifColorType{palette[i].r, palette[i].g, palette[i].b};
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    if (map == nullptr) throw std::bad_alloc();
    // The transparency and the loop are GIF89 features, which giflib's sequential writer
    // must be told of before it writes the signature.
    EGifSetGifVersion(gif, true);
    const int put = EGifPutScreenDesc(gif, width, height, map->BitsPerPixel, 0, map);
    GifFreeMapObject(map);
    handle_->Check(put);
    if (animated) {
        // NETSCAPE2.0: repeat for ever (a count of 0).
        static const uint8_t loop[] = {1, 0, 0};
        handle_->Check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE));
        handle_->Check(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"));
        handle_->Check(EGifPutExtensionBlock(gif, sizeof loop, loop));
        handle_->Check(EGifPutExtensionTrailer(gif));
    }
    row_.resize(static_cast<size_t>(width));
}

GifWriter::~GifWriter() = default;

void GifWriter::AddFrame(const Bitmap& frame, int delay) {
    PELFRY_CHECK(frame.Width() == width_ && frame.Height() == height_, GifFrameSize,
                 "A frame of a GIF animation differs in size from the picture", "");
    GifFileType* gif = handle_->gif;
    GraphicsControlBlock control{};
    // Cleared to the background before the next frame: its transparent pixels show nothing
    // of this one.
    control.DisposalMode = DISPOSE_BACKGROUND;
    control.DelayTime = animated_ ? delay : 0;
    control.TransparentColor = 0;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    handle_->Check(
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension));
    handle_->Check(EGifPutImageDesc(gif, 0, 0, width_, height_, false, nullptr));
    for (int y = 0; y < height_; ++y) {
        std::copy_n(frame.Row(y), row_.size(), row_.begin());
        handle_->Check(EGifPutLine(gif, row_.data(), width_));
    }
}

std::vector<uint8_t> GifWriter::Finish() {
    int error = 0;
    GifFileType* gif = handle_->gif;
    handle_->gif = nullptr; // closed, and freed, whatever the result
    handle_->Check(EGifCloseFile(gif, &error), error);
    return std::move(handle_->out);
}

std::vector<uint8_t> EncodeGif(const Bitmap& bitmap) {
    GifWriter writer(bitmap.Width(), bitmap.Height(), bitmap.Palette(), HighestIndex(bitmap),
                     false);
    writer.AddFrame(bitmap);
    return writer.Finish();
}

void NoGifPixels(const std::string& name) {
    throw Error(Format("%s has no pixels to show in a GIF", name.c_str()));
}

uint8_t HighestIndex(const Bitmap& bitmap) {
    const std::vector<uint8_t>& pixels = bitmap.Pixels();
    return pixels.empty() ? 0 : *std::max_element(pixels.begin(), pixels.end());
}

} // namespace pelfry
