#include "RecordForm.h"

#include "Global.h"
#include "FileSystem.h"
#include "OutputFormats.h"
#include "ProgramFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char* const SoundFilter = "Sound file(*.wav)|*.wav|All files(*.*)|*.*";

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The open and save dialogs: their titles, the program's folder (installed: the music folder),
// ".wav" for a name typed without an extension.
Dialogs::FileDialogSetup SoundDialog(const char* title)
{
    return {QString::fromUtf8(title), QString::fromStdString(DialogStartFolder()), QStringLiteral("wav")};
}

// The name chosen in a save dialog: "take1" is saved as "take1.wav" (a name with an extension of
// its own keeps it, and is checked as before).
std::string SaveName(const QString& chosen)
{
    std::string path = chosen.toStdString();
    if (FileNameOf(path).find('.') == std::string::npos)
        path += ".wav";
    return path;
}

}  // namespace

std::string FormatDuration(int64_t ms)
{
    const int64_t hours = ms / 3600000;
    const int64_t minutes = ms / 60000;
    if (hours != 0 || minutes != 0) {
        std::string text;
        if (hours != 0)
            text += std::to_string(hours) + "Hour";
        if (minutes % 60 != 0)
            text += std::to_string(minutes % 60) + " Min";
        if ((ms / 1000) % 60 != 0)
            text += std::to_string((ms / 1000) % 60) + " Sec";
        return text;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.3g", static_cast<double>(ms) / 1000.0);
    return std::string(number) + " Sec";
}

TRecorder::TRecorder(Dialogs& dialogs, std::unique_ptr<TWaveAudio> device)
    : TempFile(ProgramFolder() + "MyTemp.wav")
    , NewFileName(ProgramFolder() + "MyNoName.wav")
    , m_dialogs(dialogs)
    , m_device(std::move(device))
{
    SaveMp3 = Options.RecordOptions.SaveMp3;
    Timer1.setInterval(500);
    TimerRecord.setInterval(100);
    QObject::connect(&Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    QObject::connect(&TimerRecord, &QTimer::timeout, [this] { TimerRecordTimer(); });
    m_stopWait.setSingleShot(true);
    QObject::connect(&m_stopWait, &QTimer::timeout, [this] { FinishStop(); });
}

TRecorder::~TRecorder() = default;

void TRecorder::Changed()
{
    if (OnChanged)
        OnChanged();
}

void TRecorder::Buttons(std::initializer_list<TButton> buttons)
{
    Enabled = buttons;
}

// --- the player --------------------------------------------------------------------------------

void TRecorder::Play()
{
    if (Slider == 400)
        Slider = 0;
    if (!Timer1.isActive()) {
        PlayPositionMs = m_device->LengthMs() * Slider / 400;
        m_device->SetStartPosition(PlayPositionMs);
    }
    State = "Playing...";
    Buttons({btPause, btStop, btNext, btPrev});
    Timer1.start();
    Changed();
    m_device->Play();
}

void TRecorder::Pause()
{
    // The playback estimate holds while paused and goes on with the sound.
    if (State == "Playing...") {
        if (Timer1.isActive())
            Timer1.stop();
        else
            Timer1.start();
    }
    m_device->Pause();
}

void TRecorder::Stop()
{
    if (m_stopWait.isActive())
        return;
    Slider = 0;
    Timer1.stop();
    if (TimerRecord.isActive() && LastMilliseconds > 100) {
        // The recording goes on to the next whole second of the display, then ends.
        m_stopWait.start(1000 - LastMilliseconds);
        Changed();
        return;
    }
    FinishStop();
}

void TRecorder::FinishStop()
{
    m_stopWait.stop();
    if (TimerRecord.isActive()) {
        TimerRecordTimer();
        TimerRecord.stop();
    }
    Buttons({btPlay, btNext, btPrev, btRecord});
    State = "-----------";
    if (m_device->Mode() == TWaveAudio::mpRecording) {
        m_device->Stop();
        std::string error;
        const bool saved = m_device->Save(error);
        Slider = 400;
        LengthText = FormatDuration(m_device->LengthMs());
        State = "Record over!";
        if (!saved)
            m_dialogs.MessageBox(QStringLiteral("Error while saving sound file!"), Dialogs::Icon::Error);
    } else {
        m_device->Stop();
    }
    Changed();
}

void TRecorder::Next()
{
    Slider = 400;
    Buttons({btPlay, btPrev, btRecord});
    Changed();
    m_device->Next();
}

void TRecorder::Previous()
{
    Slider = 0;
    Buttons({btPlay, btNext, btRecord});
    Changed();
    m_device->Previous();
}

void TRecorder::Record()
{
    m_recordBaseLength = m_device->LengthMs();
    m_recordFrom = m_recordBaseLength;  // a new recording goes on at its end
    if (Exists(TempFile)) {
        m_recordFrom = m_device->LengthMs() * Slider / 400;  // 64-bit: long files too
        m_device->SetStartPosition(m_recordFrom);
    }
    m_recordStart = Now();
    TimerRecord.start();
    m_device->Record();
    Buttons({btStop});
    State = "Recording...";
    Modified = true;
    Changed();
}

void TRecorder::Timer1Timer()
{
    PlayPositionMs += 500;
    const int64_t length = m_device->LengthMs();
    PositionText = FormatDuration(std::min(PlayPositionMs, length));
    if (PlayPositionMs < length) {
        Slider = static_cast<int>(PlayPositionMs * 400 / length);
    } else {
        Slider = 400;
        Timer1.stop();
        Buttons({btPlay, btPrev, btRecord});
        State = "-----------";
    }
    Changed();
}

void TRecorder::TimerRecordTimer()
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Now() - m_recordStart).count();
    const int64_t ms = std::max<int64_t>(elapsed, 0);
    LastMilliseconds = static_cast<int>(ms % 1000);
    // The recording grows the file at the position it was started at.
    PositionText = FormatDuration(m_recordFrom + ms);
    LengthText = FormatDuration(m_recordBaseLength + ms);
    RecordTime = TwoDigits(static_cast<int>(ms / 3600000)) + ":" + TwoDigits(static_cast<int>(ms / 60000 % 60)) + ":" +
                 TwoDigits(static_cast<int>(ms / 1000 % 60)) + "." + std::to_string(LastMilliseconds / 100);
    Changed();
}

void TRecorder::SliderChanged(int value)
{
    Slider = value;
    if (m_device->IsOpen() && m_device->LengthMs() > 0)
        PositionText = FormatDuration(m_device->LengthMs() * value / 400);
    Changed();
}

// --- files -------------------------------------------------------------------------------------

bool TRecorder::CopyFile(const std::string& from, const std::string& to)
{
    // Through a new file renamed over the old one: a copy that fails leaves the old file whole.
    std::ifstream in(from, std::ios::binary);
    const std::string temp = to + ".part";
    bool ok = static_cast<bool>(in);
    if (ok) {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (in.peek() != std::ifstream::traits_type::eof())
            out << in.rdbuf();
        out.flush();
        ok = static_cast<bool>(out) && !in.bad();
    }
    if (!ok || std::rename(temp.c_str(), to.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(temp.c_str());
        m_dialogs.MessageBox(QString::fromStdString("Cannot copy " + from + " to " + to + ": " + why), Dialogs::Icon::Error);
        return false;
    }
    return true;
}

void TRecorder::DeviceOpen(const std::string& path, bool& ok)
{
    std::string error;
    ok = m_device->Open(path, error);
}

void TRecorder::LoadWorkingCopy(const std::string& path)
{
    CurrentFile = path;
    m_device->Close();
    bool ok = CopyFile(path, TempFile);
    if (ok)
        DeviceOpen(TempFile, ok);
    if (!ok) {
        // A file the device cannot use: said, and the recorder back to no file.
        m_dialogs.MessageBox(QStringLiteral("Error while initializing MCI device!"), Dialogs::Icon::Error);
        CurrentFile.clear();
        Caption = "Record";
        Enabled.clear();
        std::remove(TempFile.c_str());
        Changed();
        return;
    }
    Buttons({btPlay, btNext, btRecord});
    LengthText = FormatDuration(m_device->LengthMs());
    Caption = "Record(" + CurrentFile + ")";
    Changed();
}

void TRecorder::New()
{
    if (!SaveWork(true))
        return;
    std::string rate;
    int bits = 16, channels = 2;
    if (!AskNewFile || !AskNewFile(rate, bits, channels))
        return;
    CurrentFile = NewFileName;
    m_device->Close();
    bool ok = false;
    int rateValue = 0;
    std::istringstream(rate) >> rateValue;
    if (rateValue > 0) {
        TPcmFormat format{channels, bits, rateValue};
        const std::vector<uint8_t> header = PcmWavHeader(format, 0);
        std::ofstream file(NewFileName, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        file.close();
        if (file)
            DeviceOpen(NewFileName, ok);
    }
    if (ok)
        Buttons({btRecord});
    else
        m_dialogs.MessageBox(QStringLiteral("Error while initializing MCI device!"), Dialogs::Icon::Error);
    RecordTime = "00:00:00.0";
    LengthText = "0.00 Sec";
    PositionText = "0.00 Sec";
    Caption = "Record(NoName)";
    Slider = 0;
    Mp3Done = false;
    Changed();
}

void TRecorder::Open()
{
    if (!SaveWork(true))
        return;
    while (true) {
        const QStringList files =
            m_dialogs.OpenFiles(QString::fromLatin1(SoundFilter), false, SoundDialog("Please select a sound file to open"));
        if (files.isEmpty())
            return;
        const std::string path = files.front().toStdString();
        if (path == CurrentFile)
            return;
        if (Exists(path)) {
            CurrentFile = path;
            Caption = "Record(" + path + ")";
            Slider = 0;
            Mp3Done = false;
            LoadWorkingCopy(path);
            return;
        }
        m_dialogs.MessageBox(QString::fromStdString(path) + QStringLiteral("\nCould not be found\uFF01\nPlease check the filename correct or not"),
                             Dialogs::Icon::Warning);
    }
}

bool TRecorder::SaveWork(bool prompt)
{
    if (CurrentFile.empty())
        return true;
    if (Enabled.count(btStop)) {
        Stop();
        if (m_stopWait.isActive())
            FinishStop();  // saving cannot wait for the display's second
    }
    if (!Modified) {
        if (CurrentFile != NewFileName || prompt)
            return true;
    } else if (prompt) {
        const std::string name = CurrentFile == NewFileName ? "NoName" : CurrentFile;
        const auto answer = m_dialogs.AskYesNoCancel(QString::fromStdString(name + " has been modified,Save it?"),
                                                     Dialogs::Icon::Information, Dialogs::Answer::Yes);
        if (answer == Dialogs::Answer::Cancel)
            return false;
        if (answer == Dialogs::Answer::No) {
            Modified = false;
            return true;
        }
    }
    if (CurrentFile != NewFileName) {
        if (!CopyFile(TempFile, CurrentFile))
            return false;
        ExportMp3();
        Modified = false;
        return true;
    }
    const QString chosen = m_dialogs.SaveFile(QString::fromLatin1(SoundFilter), QString(), SoundDialog("Save the sound file as"));
    if (chosen.isEmpty())
        return false;
    const std::string path = SaveName(chosen);
    if (Lower(path.size() >= 4 ? path.substr(path.size() - 4) : path) != ".wav") {
        m_dialogs.MessageBox(QStringLiteral("The save file should be WAV!"), Dialogs::Icon::Information);
        return false;
    }
    if (Exists(path)) {
        if (m_dialogs.AskYesNo(QString::fromStdString(path) + QStringLiteral(" has existed,overite it?"), Dialogs::Icon::Information,
                               Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
            return false;
        if (std::remove(path.c_str()) != 0) {
            m_dialogs.MessageBox(QStringLiteral("Error when deleting file, please check if the file is being uesd."),
                                 Dialogs::Icon::Error);
            return false;
        }
    }
    m_device->Close();
    std::remove(TempFile.c_str());
    if (std::rename(NewFileName.c_str(), path.c_str()) != 0) {
        m_dialogs.MessageBox(QStringLiteral("Error when saving WAV file,please check if the file is being uesd."),
                             Dialogs::Icon::Error);
        return false;
    }
    LoadWorkingCopy(path);
    ExportMp3();
    Modified = false;
    return true;
}

void TRecorder::SaveAs()
{
    const QString chosen = m_dialogs.SaveFile(QString::fromLatin1(SoundFilter), QString(), SoundDialog("Save the sound file as"));
    if (chosen.isEmpty())
        return;
    const std::string path = SaveName(chosen);
    if (Lower(path.size() >= 4 ? path.substr(path.size() - 4) : path) != ".wav") {
        m_dialogs.MessageBox(QStringLiteral("The save file should be WAV!"), Dialogs::Icon::Information);
        return;
    }
    if (Exists(path) && m_dialogs.AskYesNo(QString::fromStdString(path) + QStringLiteral(" has existed,overite it?"), Dialogs::Icon::Information,
                                           Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
        return;
    m_device->Close();
    if (CurrentFile != NewFileName) {
        if (!CopyFile(CurrentFile, path))  // the file as last saved; the working copy is not used
            return;
    } else if (std::rename(NewFileName.c_str(), path.c_str()) != 0) {
        m_dialogs.MessageBox(QStringLiteral("Error when saving WAV file,please check if the file is being uesd."),
                             Dialogs::Icon::Error);
        return;
    }
    LoadWorkingCopy(path);
    ExportMp3();
}

void TRecorder::Undo()
{
    if (!UndoEnabled())
        return;
    if (m_dialogs.AskYesNo(QStringLiteral("Discard the modification since last save file."), Dialogs::Icon::Information,
                           Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
        return;
    m_device->Close();
    bool ok = CopyFile(CurrentFile, TempFile);
    if (ok)
        DeviceOpen(TempFile, ok);
    if (!ok) {
        m_dialogs.MessageBox(QStringLiteral("Error while initializing MCI device!"), Dialogs::Icon::Error);
        return;
    }
    Buttons({btPlay, btNext, btRecord});
    LengthText = FormatDuration(m_device->LengthMs());
    PositionText = FormatDuration(m_device->LengthMs());
    Changed();
}

void TRecorder::ExportMp3()
{
    if (!SaveMp3 || CurrentFile.empty())
        return;
    if (!DriveOpen || !DriveOpen()) {
        m_dialogs.MessageBox(QStringLiteral("Please access CD devices rightly above all!"), Dialogs::Icon::Information);
        if (OnCloseRequest)
            OnCloseRequest();
        return;
    }
    const std::string mp3 = WithExtension(CurrentFile, ".mp3");
    if (!Mp3Done && Exists(mp3)) {
        if (m_dialogs.AskYesNo(QString::fromStdString(mp3 + " has existed,overite it?"), Dialogs::Icon::Information,
                               Dialogs::Answer::Yes) != Dialogs::Answer::Yes)
            return;
        if (IsFileLocked(mp3)) {
            m_dialogs.MessageBox(QString::fromStdString(mp3 + " maybe be used!"), Dialogs::Icon::Error);
            return;
        }
    }
    Mp3Done = true;
    Options.CommonOptions.OutputFormat = FormatOfKey("mp3")->Stored;
    if (RunMp3Job)
        RunMp3Job(CurrentFile);
}

bool TRecorder::Close()
{
    Options.RecordOptions.SaveMp3 = SaveMp3;
    Timer1.stop();
    // Cancel keeps the window and the recording: nothing is thrown away unasked.
    if (!SaveWork(true))
        return false;
    m_device->Close();
    std::remove(TempFile.c_str());
    return true;
}
