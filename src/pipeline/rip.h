#pragma once
// The rip-and-convert job: a list of items (checked tracks of the disc, or files) carried one at
// a time through extraction, resampling to 44100 Hz, encoding or decoding, and tagging:
//
//   jkRipTracks   extract (normalise) -> WAV | MP3 run + ID3v1 tag | Ogg stage | WMA run
//   jkWavToMp3    [resample into "MyMP3ReTemp.wav"] -> MP3 run
//   jkMp3ToWav    decode run              jkRecordToMp3   MP3 run beside the source
//   jkWavToOgg    [resample into "MyReTemp.wav"] -> Ogg stage
//   jkWavToWma    WMA run
//
// Every encoding stage runs one TEncoder (Encoder.h): the format's (or the conversion's), and
// the resampler before it. The job advances only on the reports that reach its message target on
// the UI thread (WM_EXTRACTERROR, WM_PROCESSINFO, WM_ENCODEREND); nothing waits in a loop. It tells a view what
// to show (TRipDisplay) and when it is over; the job window is one such view, the command line
// another, a test a third. No widgets: the job runs with QCoreApplication alone.
//
// With one encoder (settings.Encoders 1) the stages alternate: extract a track, encode it,
// extract the next. With several the encoders run side by side, each its own run (lame and
// WM8EUTIL processes, in-process outputs): a rip's drive reads the next track while earlier
// ones encode (one extraction at a time, never two reads of the drive), and a conversion works
// on as many files at once. Each item's outcome, messages and files are the same either way.
//
// A report that arrives while the job shows a message box waits until the box is answered, so
// that the job never handles two reports at once.
//
// Lives on the UI thread. Its extraction thread and its encoders post their reports to it.

#include "ACS_Wave.h"
#include "Dialogs.h"
#include "Encoder.h"
#include "JobDisplay.h"
#include "JobItems.h"
#include "JobSettings.h"
#include "JobTagger.h"
#include "JobMessages.h"
#include "Messages.h"
#include "MusicBrainz.h"
#include "Mp3EncodeThread.h"
#include "WMAEncodeThread.h"
#include "SecureRipRecord.h"
#include "Tagging.h"
#include "akrip32.h"
#include "akrip32Drives.h"

#include <QTimer>

#include <chrono>
#include <deque>
#include <map>
#include <set>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TCDRipThread;
struct TOutputFormat;

// What the job window shows.
struct TRipDisplay {
    std::string Caption;                 // "Extracting(01/03): Intro"
    std::string Stage = "Extracting";    // GroupBox1
    std::string Elapsed, Estimated;      // Label1, Label2: MM:SS
    int Bar = 0;                         // FlatGauge1, 0..100
    bool PercentShown = false;           // the bar's percentage text
    bool InitializingShown = false;      // Label3 "Initializing..." over the bar
    // Several encoders at once: a second line says what they work on ("Encoding 3 tracks: 04,
    // 05, 06"), and the bar and the times are the whole job's.
    bool EncodingShown = false;
    std::string Encoding;
};

class TRipView {
public:
    virtual ~TRipView() = default;
    // Something shown has changed.
    virtual void DisplayChanged(const TRipDisplay& display) = 0;
    // The job is over (finished, or ended by Stop): the window closes.
    virtual void CloseJob() = 0;
    // A remark that needs no answer and stops nothing (a cover that is no picture): a status
    // line, or a line on standard error.
    virtual void Notice(const std::string& text) { static_cast<void>(text); }
};

// The caption of item number n of count: prefix + "07/12): " + text.
std::string JobCaption(const std::string& prefix, int n, int count, const std::string& text);

// What became of one item: the file it was to make and "done", "failed", "skipped" (the user kept
// an existing file, or the item's file exists and is kept) or "not done" (the job ended first).
struct TItemOutcome {
    std::string Item;    // the item as handed to the job (or "00Hidden track", which a secure rip adds)
    std::string Output;
    std::string Result = "not done";
};

class TRipJob {
public:
    // items: for jkRipTracks "NNtitle" per checked track (two digits of its position, then its
    // title); for the file jobs full paths. The encoders are the program's one MP3 and one WMA
    // run, used by one job at a time.
    // settings: what the job runs with, from start to end (by default the options as they are
    // when it is made).
    TRipJob(TRipView& view, Dialogs& dialogs, TMp3EncodeProcess& mp3Encoder, TWMAEncodeProcess& wmaEncoder,
            TJobKind kind, HCDROM cdHandle, std::vector<std::string> items,
            TJobSettings settings = TJobSettings::FromOptions());
    // Ends whatever still runs (as Stop would, without showing anything).
    ~TRipJob();
    TRipJob(const TRipJob&) = delete;
    TRipJob& operator=(const TRipJob&) = delete;

    // Starts the first stage of the first item. Raises when that stage cannot start (a source
    // that cannot be read, an encoder process that cannot be made): the job is then over.
    void Start();
    // The Stop button: ends the job early and closes.
    void btStopClick();
    // The window is closing for any reason: ends the job if it still runs.
    void FormClose();

    const TRipDisplay& Display() const { return m_display; }
    // A secure rip's record once the job is over: each track's result and verdict, the log's
    // path (no tracks for any other job).
    const TRipLog& SecureRecord() const { return m_record.Log(); }
    HWND Handle() const { return m_target.Handle(); }
    // Each item's outcome, in the items' order (filled from Start on).
    const std::vector<TItemOutcome>& Outcomes() const { return m_outcomes; }
    bool Finished() const { return !Items.has_value(); }

    // The job's state, as the design names it.
    std::optional<std::vector<std::string>> Items;  // absent after FinishJob
    const TJobKind JobKind;
    const HCDROM CDHandle;
    int TrackIndex = 0;     // jkRipTracks: the track being extracted, or next
    int EncodeIndex = 0;    // the item in the encoding stage; the items finished so far (side by
                            // side: the items whose last stage is over)

    // The (first) encoder of the job's items (null for a rip to WAV), and the resampler of a
    // conversion that brings sources below 44100 Hz up to it (else null). Made with the job.
    TEncoder* Encoder() const { return m_slots.empty() ? nullptr : m_slots.front().Encoder.get(); }
    TEncoder* Resampler() const { return m_slots.empty() ? nullptr : m_slots.front().Resampler.get(); }
    // Whether the job runs several encoders at once.
    bool SideBySide() const { return m_slots.size() > 1; }
    // A secure rip of the whole disc into one file (WAV or FLAC) with its cue sheet.
    bool ImageRip() const
    {
        return JobKind == jkRipTracks && m_settings.Secure.SecureMode && m_settings.Secure.Image;
    }

private:
    // One of the job's encoders, and the item it works on.
    struct TEncodeSlot {
        std::unique_ptr<TMp3EncodeProcess> Mp3;  // every slot but the first: runs of its own
        std::unique_ptr<TWMAEncodeProcess> Wma;
        std::unique_ptr<TEncoder> Encoder;
        // A rip to several formats: the encoder of each further format (by its stored number).
        std::map<int32_t, std::unique_ptr<TEncoder>> Others;
        std::unique_ptr<TEncoder> Resampler;     // a conversion's that resamples, else null
        std::string ResampleFile;                // the resampler's output, in the output folder
        TEncoder* Running = nullptr;             // the stage under way, until its end is handled
        int Item = -1;                           // the item it works on; -1: free
        bool Resampled = false;                  // that item's source was resampled first
        std::unique_ptr<TMessageTarget> Target;  // side by side: where its reports come
    };
    struct TDeferred {
        int Slot;
        TMessage Message;
    };

    // A report, from the extraction thread or the job itself (slot -1) or from a slot's encoder.
    void Handle(TMessage& message, int slot);
    void Dispatch(TMessage& message, int slot);
    // Runs work with the reports that come meanwhile (while a message box is open) kept for
    // after it, then those.
    void Guarded(const std::function<void()>& work);
    void ProcessInfo(std::unique_ptr<TProcessInfo> r);
    // "Waiting for AccurateRip and CTDB…": the databases the record asks.
    std::string WaitingForDatabases() const;
    void ExtractError(LPARAM error);
    void Extracted(std::unique_ptr<TProcessInfo> r);
    // The end of an encoding stage (an encoder's, or the job's own skip): the item's outcome,
    // what the user is told, then the next item.
    // skipped: for the job's own end of a skipped item, that item's index + 1.
    void EncoderEnded(const TEncoderEnded& end, WPARAM skipped);
    void Resampled(TEncodeSlot& slot);
    // Side by side: a slot's encoder's progress; the whole job as shown.
    void SlotProgress(const TEncodeSlot& slot, const TProcessInfo& r);
    void ShowSideBySide();
    // Side by side: item index has had its last stage; what comes next (more encodes, the end).
    void ItemOver(int index);
    void AfterItem();
    // Side by side: free encoders take the extracted tracks waiting, or the next files.
    void StartReady();
    void StartFileItems();
    HWND Sink(const TEncodeSlot& slot) const;

    // The stages.
    void StartJob();
    // A secure rip from the first track: the audio hidden before it as item 0.
    void AddHiddenTrack();
    // An image rip's one item: the whole disc into "<artist> - <album>.<ext>" in the album's
    // folder (with each track's title kept for the log).
    void MakeImageItem();
    void StartExtraction(const TJobItem& item);
    void StartNextExtraction(bool setStage);
    // Starts the track TrackIndex, after tracks whose files the user keeps (each skipped as a
    // failed extraction is); the job's end when none is left.
    void StartTrack(bool setStage);
    // Whether the track at index may write its files: each that exists was asked about, and is
    // free. A file this track writes is never one the user did not agree to lose.
    bool MayRipTrack(int index);
    // Whether the job may write path for item index: nothing is there, or the user agreed to
    // lose the file that is (the window asks; the command line answers as told). A folder, a
    // FIFO or a link there is never replaced. False: the item's outcome is set.
    bool MayReplace(const std::string& path, int index);
    // A file job's item index: whether its output may be written; if not, the item is skipped.
    bool MayConvert(int index);
    // Renames a whole file part to its name path; false (said, the part removed, the item
    // failed) when it cannot be.
    bool Publish(const std::string& part, const std::string& path, int index);
    // Whether a rip's WAVs are files the user keeps (WAV output, Keep WAV), not only the
    // encoder's input; and the file the encoder reads for item.
    bool WavIsOutput() const;
    const std::string& EncoderInput(const TJobItem& item) const;
    // The format the rip writes.
    const TOutputFormat& Format() const;
    // After a stage's output could not be written: when the folder itself takes no more files
    // (full, read-only, gone), the user is told once with the system's reason and the job ends.
    // False otherwise.
    // isFolder: path is a folder that could not be made.
    bool StopForFolderProblem(const std::string& path, int error, bool isFolder = false);
    // After an item's last stage (finished items so far): the next item, or the job's end.
    void NextItem(int finished);
    void StartFileItem(int index, bool first, TEncodeSlot& slot);
    void StartEncoding(TEncodeSlot& slot, TEncoder& encoder, const std::string& input, const std::string& output);
    // Whether the WAV source in m_probe is below 44100 Hz; raises when it cannot be read.
    bool NeedsResampling();
    // Reports the end of item index's encoding stage as skipped, as after a failed extraction.
    void Skip(int index);
    // False (and the user told, item index skipped) when writing output would overwrite input.
    bool MayWrite(const std::string& input, const std::string& output, int index);

    // Each item's file finished (its outcome "done"), for the tags.
    std::vector<bool> DoneItems() const;
    // A rip to several formats: each track's item in every further format after its own, each
    // reading the first one's WAV (m_items, Items and the outcomes grow alike).
    void AddFormats();
    // The encoder of item index's format in slot.
    TEncoder& EncoderFor(TEncodeSlot& slot, int index);
    // Item index's group: the item whose extraction it reads (itself for one that reads).
    int ReaderOf(int index) const;
    // The items of further formats that read item reader's track, once it was read (side by side).
    void SharesRead(int reader);
    // An item of a further format whose track was read: encoded (or skipped as its track was).
    void StartShared(int index);
    // Item index's encoding is over: when its group's last, the WAV they read goes (or is kept).
    void GroupItemOver(int index, bool failed);
    // The cover fetch is over: said, and when a picture came, in the finished tracks' tags.
    void CoverFetched(const TCoverFetched& fetched);
    // The read offset of a secure rip (m_offset), from the drive's model.
    void ChooseOffset();
    // Nothing more is read: the items under way are finished side by side, or the job ends now.
    void EndEarly();
    // A path of the album's as the log names it: from the album's folder.
    std::string AlbumRelative(const std::string& path) const;
    // The format of the job's items: the rip's, or the conversion's output.
    const TOutputFormat& ItemFormat() const;
    // Records what became of item index.
    void SetOutcome(int index, const char* result);
    // Secure mode: each extracted track's result into the record; the verdicts and the log when
    // the job ends.
    void RecordTrack(int32_t status);
    void WriteRipLog();
    void FinishJob();
    // Removes what a stage cut short by the job's end wrote: it is not a whole file.
    void RemovePartialOutputs();
    // Ends the extraction under way and removes its part of a WAV.
    void StopExtraction();
    void Close();

    void SetCaption(const std::string& prefix, int n, const std::string& text);
    void Show();
    void Error(const std::string& text);

    int Count() const { return Items ? static_cast<int>(Items->size()) : 0; }
    const std::string& Item(int i) const { return (*Items)[static_cast<std::size_t>(i)]; }
    // The output folder with a trailing "/".
    std::string Folder() const;

    const TJobSettings m_settings;
    TReadOffset m_offset;  // a secure rip's, chosen when it starts
    bool m_driveGone = false;  // the drive vanished mid-rip: the job ended early
    TRipView& m_view;
    Dialogs& m_dialogs;
    std::unique_ptr<TCDRipThread> RipThread;
    bool m_extracting = false;   // RipThread runs and has not reported its end
    std::vector<TEncodeSlot> m_slots;  // the job's encoders; none for a rip to WAV
    std::deque<int> m_ready;        // side by side: extracted tracks waiting for an encoder
    int m_nextFile = 0;             // side by side: the next file to convert
    bool m_handling = false;        // a report (or the start) is being handled
    std::deque<TDeferred> m_deferred;  // reports that came meanwhile
    TWaveIn m_probe;                // reads a conversion's source's header
    std::unique_ptr<TJobTagger> m_tagger;  // the files' tags, the cover and the album's gain
    std::vector<std::string> m_titles;  // an image rip: each track's title, [position - 1]
    std::unique_ptr<TCoverFetch> m_coverFetch;  // the release's cover on its way
    bool m_closeWaits = false;      // the job is over and waits for the cover
    std::string m_albumFolder;   // a rip's: the folder that holds all its tracks (and the log, the
                                 // cue sheet, the cover), with its trailing "/"
    std::vector<int> m_wholeWavs;  // items whose WAV, only the encoder's input, is whole and unencoded
    std::map<int, int> m_groupLeft;     // several formats: a reading item's group, items yet to end
    std::map<int, bool> m_groupFailed;  // ... and whether one of them failed
    // Items whose own file is kept (there before, the user kept it) whose track is read all the
    // same for further formats whose files are missing (a rip cut short and run again).
    std::set<int> m_readOnly;
    std::map<int, std::string> m_readResult;  // a reading item's extraction: "done", "failed", "skipped"
    // The WAV of item index, whole and not encoded: kept under its name (when keep, and the name is
    // free) or removed.
    void KeepOrRemoveWav(int index, bool keep);
    struct TFolderError {
        std::string Folder;      // the folder that could not be made
        int Error = 0;
    } m_folderError;             // ... for the track being extracted
    bool m_folderFailed = false; // the output folder refused a file: the job ended for it
    bool m_draining = false;     // ... side by side: it ends when the items under way are over
    TSecureRipRecord m_record;  // a secure rip's results, AccurateRip lookup and log
    bool m_stopPressed = false;
    bool m_logPending = false;  // the job is over, the log waits for the database's answer
    bool m_waiting = false;     // ... and the window says so
    bool m_waitStopped = false; // Stop or the close box ended that wait
    TRipDisplay m_display;
    TJobDisplay m_show{m_view, m_display};  // tells the view what m_display holds, and the progress
    std::vector<TJobItem> m_items;   // from Start: each item with its files named (JobItems)
    std::vector<TItemOutcome> m_outcomes;
    bool m_stopping = false;   // Stop is ending the job
    bool m_closed = false;
    QTimer m_wait;             // Stop's 300 ms for the Ogg file to settle, without blocking
    std::function<void()> m_afterWait;
    TMessageTarget m_target;
};
