#include "Picture.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "platform/FileUtil.h"

#include <cstring>

namespace pelfry {

namespace {

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

} // namespace

Picture DecodePicture(const uint8_t* data, size_t size, const std::string& fileName) {
    // The contents decide, not the name: editors asked to keep a name sometimes keep their
    // own format behind it.
    if (data != nullptr && size >= sizeof PngSignature &&
        std::memcmp(data, PngSignature, sizeof PngSignature) == 0)
        return DecodePng(data, size, fileName);
    if ((data == nullptr || size < 2 || data[0] != 'B' || data[1] != 'M') &&
        FileKind(fileName) == ".PNG")
        throw Error(Format("Invalid picture file %s", fileName.c_str()),
                    "neither a PNG picture nor a bitmap: it starts with neither signature");
    return DecodeBmp(data, size, fileName);
}

Picture LoadPictureFile(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    return DecodePicture(bytes.data(), bytes.size(), path);
}

const char* PictureSuffix(PictureFormat format) {
    return format == PictureFormat::Png ? ".png" : ".bmp";
}

std::vector<uint8_t> EncodePicture(const Bitmap& bitmap, const std::string& path,
                                   PictureFormat format) {
    if (format == PictureFormat::Bmp) return EncodeBitmap(bitmap);
    if (bitmap.Width() == 0 || bitmap.Height() == 0)
        throw Error(
            Format("%s cannot be written: a PNG picture needs at least one pixel", path.c_str()));
    return EncodePng(bitmap);
}

void SavePictureFile(const Bitmap& bitmap, const std::string& path, PictureFormat format) {
    WriteFileReplacing(path, EncodePicture(bitmap, path, format));
}

uint64_t ColouredBackgroundPixels(const Picture& picture) {
    if (!picture.Indexed || picture.Image.Palette()[0] == RGB{}) return 0;
    uint64_t count = 0;
    for (uint8_t p : picture.Image.Pixels())
        count += p == 0;
    return count;
}

uint8_t ColourNumbering::Lookup(uint32_t key, RGB colour) {
    if (auto it = indices_.find(key); it != indices_.end()) return it->second;
    if (next_ > 255) return 255;
    const uint8_t index = static_cast<uint8_t>(next_++);
    indices_.emplace(key, index);
    palette_[index] = colour;
    return index;
}

void PictureTooLarge(const std::string& fileName) {
    throw Error(Format("%s is wider or taller than 65,535 pixels", fileName.c_str()));
}

} // namespace pelfry
