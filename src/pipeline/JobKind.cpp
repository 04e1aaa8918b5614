#include "JobKind.h"

#include "OutputEncoders.h"
#include "ProcessEncoders.h"
#include "id3.h"

#include <array>
#include <cstring>
#include <fstream>

namespace {

bool IsFlacFile(const std::string& path)
{
    char magic[4] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(magic, sizeof magic) && std::memcmp(magic, "fLaC", 4) == 0;
}

const TSourceKind Mp3Files{"an MP3 file", IsMp3File};
const TSourceKind FlacFiles{"a FLAC file", IsFlacFile};

const std::array<TFileJob, 8> FileJobs = {{
    {jkWavToMp3, "mp3", false, "Encoding WAV to MP3", "Encoding", "Encoding(", Mp3ResampleFile, nullptr, true, MakeMp3Encoder},
    {jkMp3ToWav, "wav", false, "Decoding MP3 to WAV", "Decoding", "Decoding(", nullptr, &Mp3Files, false, MakeMp3Decoder},
    {jkRecordToMp3, "mp3", true, "Encoding WAV to MP3", "Encoding WAV to MP3", "Encoding(", nullptr, nullptr, false, MakeMp3Encoder},
    {jkWavToOgg, "ogg", false, "Encoding WAV to OGG", "Encoding", "Encoding(", OggResampleFile, nullptr, true, MakeOggEncoder},
    {jkWavToWma, "wma", false, "Encoding WAV to WMA", "Encoding", "Encoding(", nullptr, nullptr, false, MakeWmaEncoder},
    {jkWavToFlac, "flac", false, "Encoding WAV to FLAC", "Encoding", "Encoding(", nullptr, nullptr, true, MakeFlacEncoder},
    {jkWavToOpus, "opus", false, "Encoding WAV to OPUS", "Encoding", "Encoding(", nullptr, nullptr, true, MakeOpusEncoder},
    {jkFlacToWav, "wav", false, "Decoding FLAC to WAV", "Decoding", "Decoding(", nullptr, &FlacFiles, false, MakeFlacDecoder},
}};

}  // namespace

const TFileJob* FileJobOf(TJobKind kind)
{
    for (const TFileJob& job : FileJobs)
        if (job.Kind == kind)
            return &job;
    return nullptr;
}
