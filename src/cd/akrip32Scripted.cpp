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
    if (FailReadAtSector >= lba && FailReadAtSector < lba + count)
        return false;
    if (lba < 0 || lba + count > Toc.LeadOutLba)
        return false;
    for (int32_t s = 0; s < count; ++s)
        for (int i = 0; i < CDSectorSize; ++i)
            *out++ = SampleByte(lba + s, i);
    return true;
}
