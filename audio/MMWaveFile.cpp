#include "audio/MMWaveFile.h"

#include <cerrno>
#include <filesystem>

namespace zelvox {

namespace {

bool FilesystemFreeSpace(const std::string& path, uint64_t& freeBytes) {
    std::error_code ec;
    const auto info = std::filesystem::space(path, ec);
    if (ec) return false;
    freeBytes = info.available;
    return true;
}

} // namespace

TMMCustomWaveFile::TMMCustomWaveFile() : Wave_(std::make_unique<TMMWave>()) {
    FreeSpace = FilesystemFreeSpace;
    WaveObserver_.OnChange = [this](TMMObserver*, intptr_t) { WaveChanged(); };
    Wave_->Observable().AddObserver(&WaveObserver_);
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
    try {
        TMMCustomWaveFile::Closed();
    } catch (...) {
        // A destructor cannot report; the wave below still finalises its file.
    }
    Wave_->Observable().RemoveObserver(&WaveObserver_);
    Wave_.reset();
    LeaveChain();
}

void TMMCustomWaveFile::WaveChanged() {
    if (OnChange) OnChange(this);
    struct Finally {
        TMMCustomWaveFile* self;
        ~Finally() {
            if (self->OnChanged) self->OnChanged(self);
        }
    } changed{this};
    if (Wave_->FileMustExist() || Wave_->GetWaveFormat()) SetWaveFormat(Wave_->GetWaveFormat());
}

void TMMCustomWaveFile::SetWaveFormat(PWaveFormatEx Format) {
    TMMDSPComponent::SetWaveFormat(Format);
    const WAVEFORMATEX* f = GetWaveFormat();
    SilenceValue_ = (f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
}

void TMMCustomWaveFile::Opened() {
    TMMDSPComponent::Opened();
    if (FileOpened_) return;
    if (Input()) {
        SetWaveFormat(Input()->GetWaveFormat());
        if (GetWaveFormat() && !Wave_->FileName().empty()) {
            WriteProblem_.clear();
            if (OverwriteExisting_ || Wave_->DataSize() == 0)
                Wave_->CreateWaveFile(Wave_->FileName(), GetWaveFormat());
            else
                Wave_->ReopenWaveFile();
            FileOpened_ = true;
        }
    } else if (Wave_->DataSize() > 0) {
        Wave_->ReopenWaveFile();
        SavedPosition_ = Wave_->Position();
        FileOpened_ = true;
    }
    if (FileOpened_ && OnOpen) OnOpen(this);
}

void TMMCustomWaveFile::Closed() {
    if (FileOpened_) {
        Stopped();
        if (Input() && !Wave_->FileName().empty() && GetWaveFormat() && Wave_->DataSize() == 0) {
            // A file that got no samples still gets two silent ones (for 16-bit mono).
            static const uint8_t zeros[4] = {0, 0, 0, 0};
            Wave_->WriteData(zeros, 4);
        }
        Wave_->CloseWaveFile();
        FileOpened_ = false;
        if (OnClose) OnClose(this);
    }
    TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::Started() {
    TMMDSPComponent::Started();
    if (FileOpened_ && !FileStarted_) {
        FileStarted_ = true;
        if (!Input()) Wave_->SetPosition(SavedPosition_);
    }
}

void TMMCustomWaveFile::Stopped() {
    if (FileOpened_ && FileStarted_) FileStarted_ = false;
    TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
    const uint32_t bytes = lpWaveHdr->dwBytesRecorded;
    if (FileStarted_ && Enabled_ && Input() && !Wave_->FileName().empty() && bytes > 0) {
        uint64_t freeBytes = 0;
        const uint64_t needed = uint64_t(Wave_->IOBufferSize()) + bytes + 10240;
        if (Wave_->AtSizeLimit(int32_t(bytes))) {
            // Not the disk: the file's 32-bit sizes. It keeps what fits, finalised.
            const WAVEFORMATEX* f = Wave_->GetWaveFormat();
            StopForProblem("a WAV file holds at most " +
                           (f ? WavLimitText(Wave_->MaxDataBytes, *f) : std::string("2 GiB")) +
                           " of sound");
        } else if (!Wave_->IsStream() && // a device or a pipe has no free space to ask about
                   (!FreeSpace || !FreeSpace(Wave_->FileName(), freeBytes) || freeBytes < needed)) {
            StopForProblem("Disk full"); // the file keeps what was written so far
        } else {
            errno = 0;
            if (Wave_->WriteData(lpWaveHdr->lpData, int32_t(bytes)) <= 0) {
                const int e = errno;
                StopForProblem(e == 0 || e == ENOSPC || e == EDQUOT
                                   ? std::string("Disk full")
                                   : "I/O error " + std::to_string(e));
            }
        }
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::StopForProblem(const std::string& problem) {
    Closed(); // finalises the file; the music plays on
    WriteProblem_ = problem;
    if (OnWriteProblem) OnWriteProblem(this);
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    // The program's sink is never asked for data; as a pass-through it hands the request on.
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
}

} // namespace zelvox
