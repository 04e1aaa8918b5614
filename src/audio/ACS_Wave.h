#pragma once
// WAV files in the audio pipe. TWaveIn reads PCM, IMA ADPCM, Microsoft ADPCM and MPEG Layer-3
// in a WAV wrapper (decoded whole through TWaveConverter) and delivers PCM: 16-bit for the coded
// kinds, as stored for PCM. TWaveOut writes what its input delivers as a PCM WAV file with the
// canonical 44-byte header, or as IMA ADPCM; it can append to an existing file of the same format.

#include "ACS_Classes.h"
#include "ACS_WaveFormat.h"

#include <memory>
#include <vector>

class TWaveIn : public TACSFileIn {
public:
    static constexpr int32_t BufferSize = 16384;

    TWaveIn();
    ~TWaveIn() override;

    int32_t ReadAudio(void* buffer, int32_t bufferSize) override;
    TWavType WavType() const { return m_format.Kind; }
    // After the file was opened: the audio bytes its header declares and how many of them the
    // file lacks (a copy cut short). A header that declares no length (0, or the 0xFFFFFFFF a
    // stream writer leaves) lacks nothing.
    int64_t DeclaredBytes() const { return m_format.DataSize; }
    int64_t MissingBytes() const { return m_missing; }

protected:
    void OpenSource() override;
    void CloseSource() override;
    void SeekSample(int32_t sample) override;

private:
    // Refills the window; false at the end of data.
    bool Refill();
    bool RefillPcm();
    bool RefillAdpcm();
    // Reads one block (missing bytes at the end read as zeros); false at the end of the stream.
    bool ReadBlock();
    // Raises when a read delivered fewer bytes than asked before the end of the data the file
    // held when it was opened: the file was cut short (or failed) while it was read. A file that
    // was short from the start delivers what it has.
    void CheckNotCut(std::size_t got, std::size_t asked);
    bool LoadThroughConverter(std::unique_ptr<TFileStream> file);

    TWavFormat m_format;
    int64_t m_dataEnd = 0;           // where the audio data ended in the file when it was opened
    int64_t m_missing = 0;           // declared audio bytes the file does not hold
    std::vector<uint8_t> m_window;   // decoded bytes waiting to be handed out
    std::vector<uint8_t> m_block;    // one ADPCM block as read
    std::unique_ptr<TFileStream> m_file;
    std::unique_ptr<TMemoryStream> m_image;  // MPEG Layer-3: the decoded PCM WAV image
};

class TWaveOut : public TACSFileOut {
public:
    static constexpr int32_t BufferSize = 16384;

    TWaveOut();
    ~TWaveOut() override;

    TWavType WavType() const { return m_wavType; }
    // wtPCM or wtDVIADPCM, while not running; other values are ignored.
    void SetWavType(TWavType type);
    uint16_t BlockSize() const { return m_blockSize; }
    // Non-zero multiples of 4, while not running; used for ADPCM only.
    void SetBlockSize(uint16_t size);

    bool OutputStep(bool abort) override;
    void CloseOutput() override;

protected:
    void OpenOutput() override;

private:
    void OpenForAppend();
    void WriteImaHeader(int32_t channels, int32_t rate);
    bool ImaStep();

    TWavType m_wavType = wtPCM;
    uint16_t m_blockSize = 512;
    bool m_endSeen = false;
    bool m_appending = false;
    std::vector<uint8_t> m_buffer;
    // IMA ADPCM writing
    int32_t m_channels = 0;
    std::vector<TImaChannel> m_ima;
    std::vector<uint8_t> m_pending;  // input bytes not yet coded
    int64_t m_samplesWritten = 0;    // per channel, this run
    TWavFormat m_existing;           // the file appended to
};
