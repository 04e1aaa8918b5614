#include "Tagging.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

TagLib::String U(const std::string& s)
{
    return TagLib::String(s, TagLib::String::UTF8);
}

// The fields as TagLib's common property names; set only where they hold something.
TagLib::PropertyMap Properties(const TTrackTags& t, bool id3)
{
    TagLib::PropertyMap map;
    const auto put = [&map](const char* key, const std::string& value) {
        if (!value.empty())
            map.replace(key, TagLib::StringList(U(value)));
    };
    put("TITLE", t.Title);
    put("ARTIST", t.Artist);
    put("ALBUM", t.Album);
    put("DATE", t.Year);
    put("GENRE", t.Genre);
    put("COMMENT", t.Comment);
    put("ISRC", t.Isrc);
    if (t.Track > 0) {
        // ID3v2 keeps "3/12" in one frame; Vorbis comments have a field for each.
        if (id3 && t.TrackTotal > 0) {
            put("TRACKNUMBER", std::to_string(t.Track) + "/" + std::to_string(t.TrackTotal));
        } else {
            put("TRACKNUMBER", std::to_string(t.Track));
            if (t.TrackTotal > 0)
                put("TRACKTOTAL", std::to_string(t.TrackTotal));
        }
    }
    put("REPLAYGAIN_TRACK_GAIN", t.TrackGain);
    put("REPLAYGAIN_TRACK_PEAK", t.TrackPeak);
    put("REPLAYGAIN_ALBUM_GAIN", t.AlbumGain);
    put("REPLAYGAIN_ALBUM_PEAK", t.AlbumPeak);
    return map;
}

TagLib::ByteVector Bytes(const TCoverArt& cover)
{
    return TagLib::ByteVector(cover.Bytes.data(), static_cast<unsigned int>(cover.Bytes.size()));
}

// A FLAC picture block (the form Ogg files keep base64-encoded in METADATA_BLOCK_PICTURE).
TagLib::FLAC::Picture* FrontCover(const TCoverArt& cover)
{
    auto* picture = new TagLib::FLAC::Picture;
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(cover.Mime);
    picture->setData(Bytes(cover));
    return picture;
}

void TagXiph(TagLib::Ogg::XiphComment& xiph, const TTrackTags& t)
{
    xiph.setProperties(Properties(t, false));
    if (t.Cover) {
        xiph.removeAllPictures();
        xiph.addPicture(FrontCover(*t.Cover));
    }
}

std::string Refused(const std::string& path)
{
    return "Could not write the tags of " + path + ": the file cannot be read or written as expected.";
}

}  // namespace

std::string WriteTags(const std::string& path, TTagFamily family, const TTrackTags& tags)
{
    switch (family) {
    case TTagFamily::None:
        return {};
    case TTagFamily::Id3v2: {
        TagLib::MPEG::File file(path.c_str(), false);
        if (!file.isValid())
            return Refused(path);
        TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(true);
        id3->setProperties(Properties(tags, true));
        if (tags.Cover) {
            id3->removeFrames("APIC");
            auto* apic = new TagLib::ID3v2::AttachedPictureFrame;
            apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
            apic->setMimeType(tags.Cover->Mime);
            apic->setPicture(Bytes(*tags.Cover));
            apic->setTextEncoding(TagLib::String::UTF8);
            id3->addFrame(apic);
        }
        // Only the ID3v2 tag is written: the ID3v1 block at the end is left byte for byte.
        if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                       TagLib::File::DoNotDuplicate))
            return Refused(path);
        return {};
    }
    case TTagFamily::FlacXiph: {
        TagLib::FLAC::File file(path.c_str(), false);
        if (!file.isValid())
            return Refused(path);
        file.xiphComment(true)->setProperties(Properties(tags, false));
        if (tags.Cover) {
            file.removePictures();
            file.addPicture(FrontCover(*tags.Cover));
        }
        return file.save() ? std::string() : Refused(path);
    }
    case TTagFamily::OggVorbis: {
        TagLib::Ogg::Vorbis::File file(path.c_str(), false);
        if (!file.isValid() || !file.tag())
            return Refused(path);
        TagXiph(*file.tag(), tags);
        return file.save() ? std::string() : Refused(path);
    }
    case TTagFamily::OggOpus: {
        TagLib::Ogg::Opus::File file(path.c_str(), false);
        if (!file.isValid() || !file.tag())
            return Refused(path);
        TagXiph(*file.tag(), tags);
        return file.save() ? std::string() : Refused(path);
    }
    }
    return {};
}

std::string EditId3v2(const std::string& path, const TId3Edit& edit)
{
    if (edit.Empty())
        return {};
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid())
        return Refused(path);
    if (!file.hasID3v2Tag())
        return {};
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(false);
    TagLib::PropertyMap map = id3->properties();
    const auto put = [&map](const char* key, const std::optional<std::string>& value) {
        if (!value)
            return;
        if (value->empty())
            map.erase(key);
        else
            map.replace(key, TagLib::StringList(U(*value)));
    };
    put("TITLE", edit.Title);
    put("ARTIST", edit.Artist);
    put("ALBUM", edit.Album);
    put("DATE", edit.Year);
    put("COMMENT", edit.Comment);
    put("GENRE", edit.Genre);
    if (edit.Track) {
        // "3/12" keeps its total.
        const std::string was = map.contains("TRACKNUMBER") ? map["TRACKNUMBER"].toString().to8Bit(true) : std::string();
        const std::size_t slash = was.find('/');
        const std::string total = slash == std::string::npos ? std::string() : was.substr(slash);
        put("TRACKNUMBER", *edit.Track == 0 ? std::string() : std::to_string(*edit.Track) + total);
    }
    id3->setProperties(map);
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate))
        return Refused(path);
    return {};
}

std::optional<TCoverArt> FindCoverArt(const std::string& folder, std::string* problem)
{
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const char* ext : {".jpg", ".png"}) {
        for (const char* name : {"cover", "folder", "front"}) {
            const std::string path = dir + name + ext;
            std::ifstream in(path, std::ios::binary);
            if (!in)
                continue;
            TCoverArt cover;
            cover.Path = path;
            cover.Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            const auto starts = [&](const char* magic, std::size_t n) {
                return cover.Bytes.size() >= n && std::memcmp(cover.Bytes.data(), magic, n) == 0;
            };
            if (starts("\xFF\xD8\xFF", 3))
                cover.Mime = "image/jpeg";
            else if (starts("\x89PNG\r\n\x1A\n", 8))
                cover.Mime = "image/png";
            if (in.bad() || cover.Mime.empty()) {
                // Skipped, and said; another of the names may still be a picture.
                if (problem && problem->empty())
                    *problem = "The cover " + path + " is not a JPEG or PNG image: it is not embedded.";
                continue;
            }
            return cover;
        }
    }
    return std::nullopt;
}
