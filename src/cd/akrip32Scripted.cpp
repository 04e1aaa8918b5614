#include "akrip32.h"
#include "akrip32Drives.h"

TScriptedDrive::TScriptedDrive(TDiscToc toc, std::string vendor, std::string product)
    : Toc(std::move(toc))
    , m_vendor(std::move(vendor))
    , m_product(std::move(product))
{
}

std::shared_ptr<TScriptedDrive> TScriptedDrive::Empty(std::string vendor, std::string product)
{
    auto drive = std::make_shared<TScriptedDrive>(TDiscToc{}, std::move(vendor), std::move(product));
    drive->TocUnreadable = true;
    return drive;
}

TDiscToc TScriptedDrive::AudioToc(const std::vector<int32_t>& trackSectors)
{
    TDiscToc toc;
    int32_t lba = 0;
    for (const int32_t sectors : trackSectors) {
        toc.Tracks.push_back({lba, true});
        lba += sectors;
    }
    toc.LeadOutLba = lba;
    return toc;
}

TDiscToc TScriptedDrive::EnhancedToc(const std::vector<int32_t>& audioSectors, int32_t dataSectors)
{
    TDiscToc toc = AudioToc(audioSectors);
    const int32_t dataStart = toc.LeadOutLba + SessionGapSectors;
    toc.Tracks.push_back({dataStart, false, 2});
    toc.LeadOutLba = dataStart + dataSectors;
    return toc;
}

bool TScriptedDrive::HoldsAudio(int32_t lba) const
{
    const std::size_t n = Toc.Tracks.size();
    for (std::size_t i = 0; i < n; ++i) {
        const TDiscToc::Track& t = Toc.Tracks[i];
        int32_t end = Toc.LeadOutLba;
        if (i + 1 < n)
            end = Toc.Tracks[i + 1].Lba - (Toc.Tracks[i + 1].Session > t.Session ? SessionGapSectors : 0);
        if (t.Lba <= lba && lba < end)
            return t.Audio;
    }
    return false;
}

bool TScriptedDrive::Open()
{
    if (RefuseHandle)
        return false;
    ++OpenCount;
    return true;
}

void TScriptedDrive::Close()
{
    --OpenCount;
}

bool TScriptedDrive::SetParameter(int32_t which, uint32_t value)
{
    return !RefuseAddressMode && TDriveBackend::SetParameter(which, value);
}

bool TScriptedDrive::ReadToc(TDiscToc& toc)
{
    if (TocUnreadable)
        return false;
    toc = Toc;
    return true;
}

bool TScriptedDrive::ReadAudio(int32_t lba, int32_t count, uint8_t* out)
{
    ++Reads;
    if (OnRead)
        OnRead(lba);
    if (Gone || (FailReadAtSector >= lba && FailReadAtSector < lba + count))
        return false;
    if (lba < 0 || lba + count > Toc.LeadOutLba)
        return false;
    for (int32_t s = lba; s < lba + count; ++s)
        if (!HoldsAudio(s))
            return false;
    for (int32_t s = 0; s < count; ++s)
        for (int i = 0; i < CDSectorSize; ++i)
            *out++ = SampleByte(lba + s, i);
    return true;
}

bool TScriptedDrive::ReadQPosition(int32_t lba, int& track, int& index)
{
    ++QReads;
    if (QPregaps.size() != Toc.Tracks.size() || lba < 0 || lba >= Toc.LeadOutLba ||
        (QOtherEvery > 0 && lba % QOtherEvery == QOtherEvery - 1))
        return false;
    // The last track whose pregap has begun by lba.
    for (std::size_t i = Toc.Tracks.size(); i-- > 0;) {
        if (lba >= QPregaps[i] || i == 0) {
            track = Toc.FirstTrack + static_cast<int>(i);
            index = lba < Toc.Tracks[i].Lba ? 0 : 1;
            return true;
        }
    }
    return false;
}
