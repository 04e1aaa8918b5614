#pragma once
// The tags of a job's files: what each item's say (the disc's fields and the track's, or a
// converted file's name), the album's ReplayGain once a rip's last track is done, the ID3v1 block
// of an MP3, a FLAC image's cue sheet, and the front cover, also into the files finished before
// it came. The job says what is done; this decides what each file holds. Lives on the UI thread,
// owned by the job.

#include "Dialogs.h"
#include "JobItems.h"
#include "JobKind.h"
#include "JobSettings.h"
#include "Loudness.h"
#include "RipLog.h"
#include "Tagging.h"
#include "akrip32Drives.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TJobTagger {
public:
    // format: the format of the job's files; error: tells the user of a tag that was not written.
    TJobTagger(const TJobSettings& settings, TJobKind kind, TTagFamily family, Dialogs& dialogs,
               std::function<void(const std::string&)> error);

    // A job of items files begins: nothing known of them yet.
    void Begin(std::size_t items);
    // A rip: the disc's track count and CD-TEXT (ISRCs), and the cover found in the album's folder.
    void BeginRip(int trackTotal, TDiscText discText, std::optional<TCoverArt> cover);
    bool HasCover() const { return m_cover.has_value(); }
    // Item index's loudness, measured as it was read (ReplayGain).
    void SetLoudness(int index, std::shared_ptr<const TLoudness> loudness);

    // The tag family of item's file (a further format's, or the job's), and whether files of it
    // get tags at all.
    TTagFamily FamilyOf(const TJobItem& item) const;
    bool Tagged(TTagFamily family) const;
    // What item index's file says.
    TTrackTags TagsOf(const TJobItem& item, int index) const;
    // Tags item index's finished file at path. image: a FLAC image's record, whose cue sheet the
    // file carries too (null otherwise).
    void TagItem(const TJobItem& item, int index, const std::string& path, const TRipLog* image);
    // After a rip's last track: the album's ReplayGain into every finished track's tags (done[i]:
    // item i's file is finished).
    void TagAlbumGain(const std::vector<TJobItem>& items, const std::vector<bool>& done);
    // The cover arrived once files were finished: it goes into theirs (with the album's gain).
    void CoverArrived(TCoverArt cover, const std::vector<TJobItem>& items, const std::vector<bool>& done);

private:
    void TagId3v1(const TJobItem& item, const std::string& path);

    const TJobSettings& m_settings;
    const TJobKind m_kind;
    const TTagFamily m_family;
    Dialogs& m_dialogs;
    std::function<void(const std::string&)> m_error;
    std::optional<TCoverArt> m_cover;  // a rip's front cover
    std::vector<std::shared_ptr<const TLoudness>> m_loudness;  // each item's, with ReplayGain
    int m_trackTotal = 0;              // the disc's tracks
    TDiscText m_discText;              // its CD-TEXT and ISRCs
    std::string m_albumGain, m_albumPeak;  // once the last track is done, with ReplayGain
};
