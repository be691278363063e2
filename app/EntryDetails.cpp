#include "app/EntryDetails.h"

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "sprite/SprFileU.h"

namespace pelfry {

namespace {

// "1 frame", "8 frames".
std::string Counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DescribeImage(Stream& data, const std::string& size) {
    TImgFile image;
    // The header tells all there is to say, without the pixels.
    if (!image.LoadHeader(&data).Accepted) return "not a valid image, " + size;
    return "Image, " + std::to_string(image.Width) + " x " + std::to_string(image.Height) + ", " +
           Counted(image.ColourCount(), "colour", "colours") + ", " +
           (image.Compressed() ? "compressed" : "uncompressed") + ", " + size;
}

std::string DescribeSprite(Stream& data, const std::string& size) {
    TSprFile sprite;
    if (!sprite.LoadFromStream(&data).Accepted) return "not a valid sprite, " + size;
    std::string text = "Sprite, " + std::to_string(sprite.Width) + " x " +
                       std::to_string(sprite.Height) + ", " +
                       Counted(sprite.FrameCount(), "frame", "frames") + " at " +
                       Counted(sprite.FrameRate, "frame", "frames") + " per second, ";
    if (sprite.Flags & 2) text += "ping-pong, ";
    return text + (sprite.SlotCount() > 0 ? "compressed, " : "uncompressed, ") + size;
}

} // namespace

std::string DescribeEntry(std::string_view name, Stream& data, std::string_view groupSeparator) {
    const int64_t length = data.Size();
    const uint64_t count = length > 0 ? static_cast<uint64_t>(length) : 0;
    const std::string size =
        FormatThousands(count, groupSeparator) + (count == 1 ? " byte" : " bytes");
    const std::string kind = FileKind(name);
    data.Seek(0, SeekOrigin::Begin);
    try {
        if (kind == ".IMG") return DescribeImage(data, size);
        if (kind == ".SPR") return DescribeSprite(data, size);
    } catch (const Error&) {
        // Inconsistencies inside a file whose header passed: no readable image or sprite either.
        return std::string("not a valid ") + (kind == ".IMG" ? "image" : "sprite") + ", " + size;
    }
    return size;
}

} // namespace pelfry
