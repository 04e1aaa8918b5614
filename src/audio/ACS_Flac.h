#pragma once
// FLAC through libFLAC, in the process: an output that encodes 8- or 16-bit PCM (1 to 8
// channels) with the encoder's own verify and the audio's MD5 in STREAMINFO, and an input that
// decodes a FLAC file to PCM, checking that MD5 at the end.

#include "ACS_Classes.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <exception>
#include <string>
#include <vector>

class TFlacOut : public TACSFileOut {
public:
    static constexpr int32_t BufferSize = 65536;

    TFlacOut();
    ~TFlacOut() override;

    int32_t Level = 5;  // compression, 0 (fastest) .. 8 (smallest)

    bool OutputStep(bool abort) override;
    void CloseOutput() override;

protected:
    void OpenOutput() override;

private:
    static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                                uint32_t samples, uint32_t frame, void* self);
    static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* self);
    static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self);
    // Raises what went wrong inside the encoder: a write's own error, or the encoder's state.
    [[noreturn]] void Fail(const char* what);
    void DeleteEncoder();

    FLAC__StreamEncoder* m_encoder = nullptr;
    bool m_endOfStream = false;
    int32_t m_channels = 0;
    int32_t m_bits = 0;
    std::vector<uint8_t> m_buffer;
    std::vector<FLAC__int32> m_samples;
    std::exception_ptr m_writeError;  // raised by the output stream inside a callback
};

class TFlacIn : public TACSInput {
public:
    TFlacIn();
    ~TFlacIn() override;

    std::string FileName;

    // Read from the file's STREAMINFO (opening it when closed).
    int32_t GetSampleBits() override;
    int32_t GetChannelCount() override;
    int32_t GetSamplingRate() override;
    int32_t ReadAudio(void* buffer, int32_t bufferSize) override;
    void OpenInput() override;
    void CloseInput() override;

private:
    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* self);
    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* self);
    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self);
    // Opens the file and reads its metadata; raises when it is no FLAC file Sonvale decodes.
    void Open();
    void Close();
    [[noreturn]] void Fail(const std::string& why);

    FLAC__StreamDecoder* m_decoder = nullptr;
    int32_t m_bits = 0, m_channels = 0, m_rate = 0;
    uint64_t m_totalSamples = 0;
    bool m_ended = false;
    std::string m_error;         // a decoding error the error callback reported
    std::vector<uint8_t> m_pcm;  // decoded, not yet delivered
    std::size_t m_pcmAt = 0;
};

// A CD's cue sheet as a FLAC file keeps it (a CUESHEET metadata block): each track's number, its
// INDEX 00 (-1: none) and INDEX 01 in samples from the file's start (multiples of 588), its ISRC
// and pre-emphasis; the catalogue number; the lead-out in samples.
struct TFlacCueTrack {
    int Number = 0;
    int64_t Index0 = -1, Index1 = 0;
    std::string Isrc;
    bool PreEmphasis = false;
};
struct TFlacCueSheet {
    std::string Catalog;
    std::vector<TFlacCueTrack> Tracks;
    int64_t LeadOut = 0;
};
// Adds the sheet to the FLAC file at path (rewritten in place, as metaflac does). False, and why,
// when the sheet is not a CD's or the file cannot be rewritten.
bool AddFlacCueSheet(const std::string& path, const TFlacCueSheet& sheet, std::string& error);

