#include "app/Thumbnail.h"

#include "app/Convert.h"

#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "image/ImgFileU.h"
#include "picture/Thumbnail.h"
#include "platform/FileStream.h"
#include "platform/FileUtil.h"
#include "sprite/SprFileU.h"

#include <cstring>

namespace pelfry {

namespace {

// The kind of a game file: by its first bytes, which file managers type it by, else by name.
std::string KindOf(const std::string& path, FileStream& file) {
    uint8_t start[4] = {};
    if (file.Read(start, 4) == 4 && start[3] == 0x1A) {
        for (const char* kind : {"IMG", "SPR", "DIR"})
            if (std::memcmp(start, kind, 3) == 0) return std::string(".") + kind;
    }
    return FileKind(path);
}

// The picture of the image or sprite (`kind`) `name` read from `data`, with the readers'
// errors (a picture too large to draw among them: a file manager hands over any file), and "%s has
// no picture to show" for one without pixels.
Bitmap PictureOf(const std::string& name, const std::string& kind, Stream& data) {
    Bitmap picture;
    if (kind == ".IMG") {
        picture = ReadImageFile(name, data).MakeBitmap();
    } else {
        const TSprFile sprite = ReadSpriteFile(name, data);
        if (!sprite.Frames.empty()) picture = sprite.MakeFrameBitmap(0);
    }
    if (picture.Width() == 0 || picture.Height() == 0)
        throw Error(name + " has no picture to show");
    return picture;
}

Bitmap FirstPictureEntry(const std::string& path) {
    // The records only: the entries stay on disk until one is read.
    std::unique_ptr<TDirFile> archive = TDirFile::Create(path, false);
    for (uint32_t i = 0; i < archive->Count(); ++i) {
        const std::string kind = FileKind(archive->Files()[i].Name);
        if (kind != ".IMG" && kind != ".SPR") continue;
        try {
            std::unique_ptr<TSetMemoryStream> data = archive->EntryStream(static_cast<int32_t>(i));
            return PictureOf(archive->Files()[i].Name, kind, *data);
        } catch (const FileSystemError&) {
            throw; // the archive itself cannot be read any more
        } catch (const Error&) {
            // A damaged entry shows nothing; the next picture may.
        }
    }
    throw Error(path + " has no picture to show");
}

} // namespace

Bitmap ThumbnailPicture(const std::string& path) {
    FileStream file(path, FileStream::Mode::OpenRead);
    const std::string kind = KindOf(path, file);
    if (kind == ".DIR") return FirstPictureEntry(path);
    if (kind != ".IMG" && kind != ".SPR")
        throw Error("Cannot make a thumbnail of " + path + ": not a .DIR, .IMG or .SPR file");
    file.Seek(0, SeekOrigin::Begin);
    return PictureOf(path, kind, file);
}

std::vector<uint8_t> MakeThumbnail(const std::string& path, int size) {
    return EncodeRgbaPng(ScaleDown(ThumbnailPicture(path), size));
}

} // namespace pelfry
