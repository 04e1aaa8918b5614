#include "JobKind.h"

#include "OutputEncoders.h"
#include "ProcessEncoders.h"

#include <array>

namespace {

const std::array<TFileJob, 5> FileJobs = {{
    {jkWavToMp3, "mp3", false, "Encoding WAV to MP3", "Encoding", "Encoding(", Mp3ResampleFile, false, MakeMp3Encoder},
    {jkMp3ToWav, "wav", false, "Decoding MP3 to WAV", "Decoding", "Decoding(", nullptr, true, MakeMp3Decoder},
    {jkRecordToMp3, "mp3", true, "Encoding WAV to MP3", "Encoding WAV to MP3", "Encoding(", nullptr, false, MakeMp3Encoder},
    {jkWavToOgg, "ogg", false, "Encoding WAV to OGG", "Encoding", "Encoding(", OggResampleFile, false, MakeOggEncoder},
    {jkWavToWma, "wma", false, "Encoding WAV to WMA", "Encoding", "Encoding(", nullptr, false, MakeWmaEncoder},
}};

}  // namespace

const TFileJob* FileJobOf(TJobKind kind)
{
    for (const TFileJob& job : FileJobs)
        if (job.Kind == kind)
            return &job;
    return nullptr;
}
