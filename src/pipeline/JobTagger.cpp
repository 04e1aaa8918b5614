#include "JobTagger.h"

#include "CueSheet.h"
#include "FileSystem.h"
#include "GlobalTables.h"
#include "OutputFormats.h"
#include "id3.h"
#include "ripthread.h"

TJobTagger::TJobTagger(const TJobSettings& settings, TJobKind kind, TTagFamily family, Dialogs& dialogs,
                       std::function<void(const std::string&)> error)
    : m_settings(settings)
    , m_kind(kind)
    , m_family(family)
    , m_dialogs(dialogs)
    , m_error(std::move(error))
{
}

void TJobTagger::Begin(std::size_t items)
{
    m_loudness.assign(items, nullptr);
}

void TJobTagger::BeginRip(int trackTotal, TDiscText discText, std::optional<TCoverArt> cover)
{
    m_trackTotal = trackTotal;
    m_discText = std::move(discText);
    m_cover = std::move(cover);
}

void TJobTagger::SetLoudness(int index, std::shared_ptr<const TLoudness> loudness)
{
    if (index >= 0 && static_cast<std::size_t>(index) < m_loudness.size())
        m_loudness[static_cast<std::size_t>(index)] = std::move(loudness);
}

TTagFamily TJobTagger::FamilyOf(const TJobItem& item) const
{
    return item.Format >= 0 ? FormatOfStored(item.Format).Tags : m_family;
}

bool TJobTagger::Tagged(TTagFamily family) const
{
    // MP3 files get tags on a rip with tags on, as they always did; the other formats always.
    return family != TTagFamily::None && (family != TTagFamily::Id3v2 || (m_kind == jkRipTracks && m_settings.UseID3));
}

TTrackTags TJobTagger::TagsOf(const TJobItem& item, int index) const
{
    TTrackTags tags;
    if (m_kind != jkRipTracks) {
        tags.Title = WithExtension(FileNameOf(item.Source), "");  // a converted file: its name
        return tags;
    }
    const TCDInfo& info = m_settings.Disc;
    const bool image = item.Track == TCDRipThread::WholeDisc;  // an image: the album's tags alone
    tags.Title = image ? info.Album : item.Title;
    tags.Artist = info.Artist;
    tags.Album = info.Album;
    tags.Year = info.Year;
    if (info.Genre >= 1 && info.Genre <= static_cast<int32_t>(GenreNames.size()))
        tags.Genre = GenreNames[static_cast<std::size_t>(info.Genre - 1)].Name;
    tags.Comment = info.Comment;
    tags.Cover = m_cover ? &*m_cover : nullptr;
    if (image)
        return tags;
    tags.Track = item.Track;
    tags.TrackTotal = m_trackTotal;
    if (item.Track >= 1 && static_cast<std::size_t>(item.Track) <= m_discText.TrackIsrc.size())
        tags.Isrc = m_discText.TrackIsrc[static_cast<std::size_t>(item.Track - 1)];
    const auto i = static_cast<std::size_t>(index);
    if (const TLoudness* loudness = i < m_loudness.size() ? m_loudness[i].get() : nullptr) {
        tags.TrackGain = ReplayGainText(loudness->Lufs());
        tags.TrackPeak = ReplayPeakText(loudness->Peak());
    }
    return tags;
}

void TJobTagger::TagItem(const TJobItem& item, int index, const std::string& path, const TRipLog* image)
{
    // A FLAC image carries its cue sheet, as the sheet beside it says.
    const TTagFamily family = FamilyOf(item);
    if (image && family == TTagFamily::FlacXiph)
        if (std::string error; !AddFlacCueSheet(path, FlacCueSheetOf(*image), error))
            m_error("Cannot add the cue sheet to " + item.Output + ": " + error + ".");
    if (!Tagged(family))
        return;
    if (family == TTagFamily::Id3v2)
        TagId3v1(item, path);
    const std::string error = WriteTags(path, family, TagsOf(item, index));
    if (!error.empty())
        m_error(error);
}

void TJobTagger::TagAlbumGain(const std::vector<TJobItem>& items, const std::vector<bool>& done)
{
    // The album's figures join each finished track's once the last track is done.
    if (m_kind != jkRipTracks)
        return;
    std::vector<std::size_t> tagged;
    std::vector<const TLoudness*> tracks;
    for (std::size_t i = 0; i < items.size() && i < done.size() && i < m_loudness.size(); ++i) {
        // The album is its tracks: audio hidden before the first is none of them (and a track's
        // further formats are the same track).
        if (done[i] && m_loudness[i] && items[i].Track != 0 && Tagged(FamilyOf(items[i]))) {
            tagged.push_back(i);
            if (items[i].Shares < 0)
                tracks.push_back(m_loudness[i].get());
        }
    }
    if (tracks.empty())
        return;
    m_albumGain = ReplayGainText(TLoudness::AlbumLufs(tracks));
    m_albumPeak = ReplayPeakText(TLoudness::AlbumPeak(tracks));
    for (const std::size_t i : tagged) {
        TTrackTags tags = TagsOf(items[i], static_cast<int>(i));
        tags.AlbumGain = m_albumGain;
        tags.AlbumPeak = m_albumPeak;
        const std::string error = WriteTags(items[i].Output, FamilyOf(items[i]), tags);
        if (!error.empty()) {
            m_error(error);
            return;
        }
    }
}

void TJobTagger::CoverArrived(TCoverArt cover, const std::vector<TJobItem>& items, const std::vector<bool>& done)
{
    m_cover = std::move(cover);
    // The tracks tagged before it came get it now.
    for (std::size_t i = 0; i < items.size() && i < done.size(); ++i) {
        if (!done[i] || !Tagged(FamilyOf(items[i])))
            continue;
        TTrackTags tags = TagsOf(items[i], static_cast<int>(i));
        tags.AlbumGain = m_albumGain;
        tags.AlbumPeak = m_albumPeak;
        if (const std::string error = WriteTags(items[i].Output, FamilyOf(items[i]), tags); !error.empty()) {
            m_error(error);
            break;
        }
    }
}

void TJobTagger::TagId3v1(const TJobItem& item, const std::string& path)
{
    const TCDInfo& info = m_settings.Disc;
    Tid3tag tag;
    tag.SetTitle(item.Title);
    tag.SetArtist(info.Artist);
    tag.SetAlbum(info.Album);
    tag.SetYear(info.Year);
    tag.Genre = GenreToID3(static_cast<uint8_t>(info.Genre));  // -1 (none chosen) is 255
    tag.SetComment(info.Comment);
    tag.SetTrack(static_cast<uint8_t>(item.Track));
    const uint16_t result = tag.SaveToFile(path);
    if (result > 255)
        m_dialogs.MessageBox(QStringLiteral("Error #%1! Could not save Tag!").arg(result), Dialogs::Icon::None);
}
