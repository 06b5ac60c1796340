#include "files/MMWave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/ByteOrder.h"
#include "files/OutputTarget.h"

namespace zelvox {

namespace fs = std::filesystem;

namespace {

// The "fmt " chunk's bytes: 18 for PCM (cbSize included, 0), 18 + cbSize otherwise.
std::vector<uint8_t> FormatBytes(const WAVEFORMATEX& f) {
    std::vector<uint8_t> b(WaveFormatSize(f), 0);
    PutU16(&b[0], f.wFormatTag);
    PutU16(&b[2], f.nChannels);
    PutU32(&b[4], f.nSamplesPerSec);
    PutU32(&b[8], f.nAvgBytesPerSec);
    PutU16(&b[12], f.nBlockAlign);
    PutU16(&b[14], f.wBitsPerSample);
    PutU16(&b[16], f.wFormatTag == WAVE_FORMAT_PCM ? 0 : f.cbSize);
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        std::copy_n(f.Extra.begin(), std::min<size_t>(f.Extra.size(), f.cbSize), b.begin() + 18);
    return b;
}

bool WellFormedName(const std::string& full) {
    if (full.empty() || full.size() > 4096 || full.find('\0') != std::string::npos) return false;
    const fs::path p(full);
    const std::string leaf = p.filename().string();
    return !leaf.empty() && leaf != "." && leaf != "..";
}

// Data beyond this would overflow the record's 32-bit byte counts: a recording stops there
// and is finalised as a valid file.
constexpr int64_t kMaxDataBytes = INT32_MAX - 4096;

} // namespace

std::string WavLimitText(int64_t maxDataBytes, const WAVEFORMATEX& format) {
    const int64_t perSecond = format.nAvgBytesPerSec > 0 ? format.nAvgBytesPerSec : 88200;
    const int64_t seconds = maxDataBytes / perSecond;
    if (seconds < 60) return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    const int64_t h = seconds / 3600, m = seconds / 60 % 60;
    std::string t = std::to_string(h) + (h == 1 ? " hour " : " hours ");
    return t + std::to_string(m) + (m == 1 ? " minute" : " minutes");
}

std::string ExpandFileName(const std::string& name) {
    if (name.empty()) return {};
    if (name == "-") return name;
    std::error_code ec;
    const fs::path abs = fs::absolute(fs::path(name), ec);
    if (ec) return name;
    return abs.lexically_normal().string();
}

std::unique_ptr<WaveIOInfo> ReadWaveLayout(const std::string& path) {
    TRiffFile f;
    if (!f.Open(path, TRiffFile::Mode::Read)) return nullptr;
    const int64_t fileSize = f.Size();
    uint8_t h[12];
    if (f.Read(h, 12) != 12 || GetU32(h) != FOURCC_RIFF || GetU32(h + 8) != FOURCC_WAVE)
        return nullptr;
    auto info = std::make_unique<WaveIOInfo>();
    info->Flags = 1;
    info->RiffChunk = {FOURCC_RIFF, GetU32(h + 4), FOURCC_WAVE, 8, 0};
    const int64_t riffEnd = std::min<int64_t>(8 + int64_t(info->RiffChunk.cksize), fileSize);

    bool haveFmt = false, haveData = false, haveFact = false;
    int64_t dataOffset = -1, afterData = -1;
    uint32_t factSamples = 0;
    int64_t pos = 12;
    while (pos + 8 <= fileSize) {
        uint8_t ck[8];
        if (f.Seek(pos) < 0 || f.Read(ck, 8) != 8) break;
        const uint32_t id = GetU32(ck);
        const int64_t content = pos + 8;
        const int64_t declared = GetU32(ck + 4);
        if (content + declared > riffEnd && haveFmt && haveData) break;
        if (haveData && afterData < 0) afterData = pos; // the header that follows "data"
        const int64_t size = std::min(declared, fileSize - content); // cut to the file
        if (id == FOURCC_fmt && !haveFmt && size >= 16) {
            std::vector<uint8_t> b(size_t(std::min<int64_t>(size, 18 + 0xFFFF)));
            if (f.Read(b.data(), int32_t(b.size())) != int32_t(b.size())) return nullptr;
            WAVEFORMATEX& w = info->Format;
            w.wFormatTag = GetU16(&b[0]);
            w.nChannels = GetU16(&b[2]);
            w.nSamplesPerSec = GetU32(&b[4]);
            w.nAvgBytesPerSec = GetU32(&b[8]);
            w.nBlockAlign = GetU16(&b[12]);
            w.wBitsPerSample = GetU16(&b[14]);
            if (w.wFormatTag == WAVE_FORMAT_PCM) {
                w.cbSize = 0;
                w.nBlockAlign = uint16_t(uint16_t(uint32_t(w.nChannels) * w.wBitsPerSample) / 8);
                w.nAvgBytesPerSec = uint32_t(w.nBlockAlign) * w.nSamplesPerSec;
            } else {
                const size_t declaredExtra = b.size() >= 18 ? GetU16(&b[16]) : 0;
                const size_t extra = std::min(declaredExtra, b.size() >= 18 ? b.size() - 18 : 0);
                w.Extra.assign(b.begin() + 18, b.begin() + 18 + ptrdiff_t(extra));
                w.cbSize = uint16_t(extra);
            }
            haveFmt = true;
        } else if (id == FOURCC_data && !haveData) {
            dataOffset = content;
            info->DataChunk = {FOURCC_data, uint32_t(size), 0, uint32_t(content), 0};
            haveData = true;
        } else if (id == FOURCC_fact && !haveFact && size >= 4) {
            uint8_t v[4];
            if (f.Read(v, 4) == 4) {
                factSamples = GetU32(v);
                haveFact = true;
            }
        }
        // "LIST" "INFO" and "DISP" texts are not kept: nothing here shows them.
        pos = content + size + (size & 1);
    }
    if (!haveFmt) return nullptr;

    const WAVEFORMATEX& w = info->Format;
    int64_t dataLen = 0;
    if (haveData) dataLen = (afterData >= 0 ? afterData : fileSize) - dataOffset;
    dataLen = std::clamp<int64_t>(dataLen, 0, kMaxDataBytes);
    if (w.nBlockAlign > 0) dataLen -= dataLen % w.nBlockAlign;
    info->DataOffset = int32_t(std::min<int64_t>(haveData ? dataOffset : fileSize, INT32_MAX));
    info->DataBytes = int32_t(dataLen);
    info->TotalSamples = wioBytesToSamples(w, int32_t(dataLen));
    (void)factSamples; // the data length decides; a differing "fact" value is replaced
    info->StartSample = 0;
    info->EndSample = info->TotalSamples;
    info->BytesLeft = int32_t(dataLen);
    info->Position = 0;
    info->FileSize = uint32_t(std::min<int64_t>(fileSize, UINT32_MAX));
    info->FileName = path;
    return info;
}

// ---------------------------------------------------------------- TMMWave

TMMWave::~TMMWave() {
    CloseWaveFile();
    Info_.reset();
}

void TMMWave::CheckNotMemory() const {
    if (HasMemory_) throw EMMWaveError("Can't write to MemoryWave");
}

void TMMWave::Attach(std::unique_ptr<WaveIOInfo> info) {
    CloseWaveFile(); // the previous file is finalised before it is forgotten
    Info_ = std::move(info);
    RangeStart_ = Info_ ? Info_->StartSample : 0;
    RangeEnd_ = Info_ ? Info_->EndSample : 0;
    Position_ = Info_ ? Info_->Position : 0;
    BytesLeft_ = Info_ ? Info_->BytesLeft : 0;
}

void TMMWave::Release() {
    Attach(nullptr);
    FileName_.clear();
    Changed();
}

void TMMWave::SetFileName(const std::string& name) {
    const std::string full = ExpandFileName(name);
    if (!full.empty()) CheckNotMemory();
    if (!full.empty() && full == FileName_) {
        std::error_code ec;
        const auto size = fs::file_size(full, ec);
        if (!ec && size == FileSize()) return;
    }
    if (full.empty()) {
        Release();
        return;
    }
    std::error_code ec;
    const bool exists = fs::exists(fs::symlink_status(full, ec)) && !ec;
    OutputTarget target;
    std::string why;
    if (full == "-" || (exists && ResolveOutputTarget(full, false, target, why) &&
                        target.IsStream())) {
        // A device or a pipe takes a recording as it comes; reading it first would take (or
        // wait for) someone else's bytes.
        Attach(nullptr);
        FileName_ = full;
        Changed();
        return;
    }
    if (exists) {
        auto info = ReadWaveLayout(full);
        if (!info) throw EMMWaveError("Invalid wave file...");
        Attach(std::move(info));
        FileName_ = full;
        Changed();
        return;
    }
    if (FileMustExist_) throw EMMWaveError("Error reading wave file");
    Attach(nullptr);
    FileName_ = full;
    Changed();
}

void TMMWave::SetIOBufferSize(int32_t bytes) {
    bytes = std::max(bytes, 8192);
    if (bytes == IOBufferSize_) return;
    IOBufferSize_ = bytes;
    if (IsOpen() && !Info_->Handle->SetBuffer(bytes))
        throw EMMWaveError("Unable to setup file IO buffer");
}

void TMMWave::CreateWaveFile(const std::string& name, PWaveFormatEx format) {
    CheckNotMemory();
    if (name.empty() || !format) return;
    const std::string full = ExpandFileName(name);
    OutputTarget target;
    std::string why;
    if (!ResolveOutputTarget(full, true, target, why))
        throw EMMWaveError("Unable to create wave file: " + full + " (" +
                           (why == "is a folder" ? std::strerror(EISDIR) : why) + ")");
    if (target.IsStream()) {
        CreateWaveStream(full, target, format);
        return;
    }
    // A link stays a link: the file it names is made afresh.
    const std::string& file = target.Path;
    const bool wellFormed = WellFormedName(full);
    std::error_code ec;
    if (wellFormed && fs::exists(fs::symlink_status(file, ec))) fs::remove(file, ec);

    auto info = std::make_unique<WaveIOInfo>();
    info->Flags = 0;
    info->Format = *CopyWaveFormat(format);
    info->FileName = full;
    bool ok = wellFormed;
    if (ok) {
        info->Handle = std::make_unique<TRiffFile>();
        TRiffFile& h = *info->Handle;
        h.WriteLimit = WriteLimitForTesting;
        ok = h.Open(file, TRiffFile::Mode::Create) && h.SetBuffer(8192);
        info->RiffChunk = {FOURCC_RIFF, 0, FOURCC_WAVE, 0, MMIO_DIRTY};
        ok = ok && h.CreateChunk(info->RiffChunk);
        const std::vector<uint8_t> fmt = FormatBytes(info->Format);
        MMCKINFO fmtChunk{FOURCC_fmt, uint32_t(fmt.size()), 0, 0, MMIO_DIRTY};
        ok = ok && h.CreateChunk(fmtChunk) &&
             h.Write(fmt.data(), int32_t(fmt.size())) == int32_t(fmt.size()) && h.Ascend(fmtChunk);
        info->DataChunk = {FOURCC_data, 0, 0, 0, MMIO_DIRTY};
        ok = ok && h.CreateChunk(info->DataChunk);
        // The header must be on disk before anyone relies on it.
        ok = ok && h.Flush();
        info->DataOffset = int32_t(info->DataChunk.dwDataOffset);
    }
    if (!ok) {
        // The program's message, then the file and the system's reason:
        // "Unable to create wave file: /srv/music/take.wav (Permission denied)".
        int why = info->Handle ? info->Handle->LastErrno() : 0;
        if (why == 0 && wellFormed) why = EIO;
        else if (why == 0 && full.size() > 4096) why = ENAMETOOLONG;
        else if (why == 0 && full.find('\0') != std::string::npos) why = EINVAL;
        else if (why == 0) why = EISDIR; // the name ends in a folder: "/", "." or ".."
        if (info->Handle) info->Handle->Close();
        if (wellFormed) fs::remove(file, ec);
        throw EMMWaveError("Unable to create wave file: " + full + " (" + std::strerror(why) + ")");
    }
    info->TotalSamples = 0;
    info->EndSample = 0;
    Attach(std::move(info));
    FileName_ = full;
    Changed();
    if (!Info_->Handle->SetBuffer(IOBufferSize_))
        throw EMMWaveError("Unable to setup file IO buffer");
}

void TMMWave::CreateWaveStream(const std::string& full, const OutputTarget& target,
                               PWaveFormatEx format) {
    auto info = std::make_unique<WaveIOInfo>();
    info->Flags = 0;
    info->Format = *CopyWaveFormat(format);
    info->FileName = full;
    int err = 0;
    const int fd = OpenOutputStream(target, WaitForReader, err);
    if (fd < 0)
        throw EMMWaveError("Unable to create wave file: " + full + " (" + StreamOpenError(err) +
                           ")");
    info->Handle = std::make_unique<TRiffFile>();
    TRiffFile& h = *info->Handle;
    h.OpenStream(fd);
    h.WriteLimit = WriteLimitForTesting;
    const std::vector<uint8_t> fmt = FormatBytes(info->Format);
    // The sizes cannot be written afterwards: the exact ones when the length is known (the
    // sizes the finalised file has: "fmt ", "data", the pad byte and "fact" included), else
    // the largest.
    const bool known = StreamDataBytes >= 0 && StreamDataBytes <= MaxDataBytes;
    const int64_t data = known ? StreamDataBytes : 0;
    const uint32_t riffSize =
        known ? uint32_t(4 + 8 + int64_t(fmt.size()) + 8 + data + (data & 1) + 12) : UINT32_MAX;
    info->RiffChunk = {FOURCC_RIFF, riffSize, FOURCC_WAVE, 0, 0};
    MMCKINFO fmtChunk{FOURCC_fmt, uint32_t(fmt.size()), 0, 0, 0};
    info->DataChunk = {FOURCC_data, known ? uint32_t(data) : UINT32_MAX, 0, 0, 0};
    const bool ok = h.SetBuffer(8192) && h.CreateChunk(info->RiffChunk) &&
                    h.CreateChunk(fmtChunk) &&
                    h.Write(fmt.data(), int32_t(fmt.size())) == int32_t(fmt.size()) &&
                    h.CreateChunk(info->DataChunk) && h.Flush();
    if (!ok) {
        const int why = h.LastErrno() != 0 ? h.LastErrno() : EIO;
        h.Close();
        throw EMMWaveError("Unable to create wave file: " + full + " (" + std::strerror(why) +
                           ")");
    }
    info->DataOffset = int32_t(info->DataChunk.dwDataOffset);
    info->TotalSamples = 0;
    info->EndSample = 0;
    Attach(std::move(info));
    FileName_ = full;
    Changed();
    if (!Info_->Handle->SetBuffer(IOBufferSize_))
        throw EMMWaveError("Unable to setup file IO buffer");
}

bool TMMWave::AtSizeLimit(int32_t count) const {
    if (!Info_ || !Info_->Handle) return false;
    return Info_->Handle->Tell() - Info_->DataOffset + count > std::min(MaxDataBytes, kMaxDataBytes);
}

int32_t TMMWave::WriteData(const uint8_t* data, int32_t count) {
    CheckNotMemory();
    if (!Info_ || !Info_->Handle || count <= 0 || !data) return -1;
    TRiffFile& h = *Info_->Handle;
    if (AtSizeLimit(count)) return -1;
    const int32_t r = h.Write(data, count);
    if (r <= 0) return r;
    Info_->DataChunk.dwFlags |= MMIO_DIRTY;
    const int32_t written = int32_t(h.Tell() - Info_->DataOffset);
    Info_->Position = wioBytesToSamples(Info_->Format, written);
    Info_->DataBytes = std::max(Info_->DataBytes, written);
    Info_->TotalSamples = std::max(Info_->TotalSamples, Info_->Position);
    Position_ = Info_->Position;
    return r;
}

namespace {

// The disk refused a write: finalise the file around the sample bytes that did reach the
// disk, so that it stays a valid WAV file. The size fields lie inside the file already, and
// overwriting bytes needs no free space; the "fact" chunk is added only if the disk takes it.
void FinaliseAfterWriteFailure(WaveIOInfo& I, TRiffFile& h) {
    h.DiscardBuffer();
    const int64_t onDisk = h.DiskLength() - I.DataOffset;
    int64_t data = std::clamp<int64_t>(onDisk, 0, I.DataBytes);
    if (I.Format.nBlockAlign > 0) data -= data % I.Format.nBlockAlign;
    const int32_t samples = wioBytesToSamples(I.Format, int32_t(data));
    uint8_t v[4];
    PutU32(v, uint32_t(data));
    h.WriteDirect(int64_t(I.DataOffset) - 4, v, 4);
    uint8_t tail[13] = {0};
    const size_t pad = size_t(data & 1);
    PutU32(tail + pad, FOURCC_fact);
    PutU32(tail + pad + 4, 4);
    PutU32(tail + pad + 8, uint32_t(samples));
    int64_t end = int64_t(I.DataOffset) + data;
    if (h.WriteDirect(end, tail, 12 + pad)) end += int64_t(12 + pad);
    h.Truncate(end); // drops anything half-written beyond
    PutU32(v, uint32_t(end - 8));
    h.WriteDirect(4, v, 4);
    I.DataBytes = int32_t(data);
    I.TotalSamples = samples;
    I.FileSize = uint32_t(end);
    I.EndSample = samples;
}

} // namespace

void TMMWave::CloseWaveFile() {
    if (!Info_ || !Info_->Handle) return;
    WaveIOInfo& I = *Info_;
    TRiffFile& h = *I.Handle;
    if (h.IsStream()) {
        // Nothing can be rewritten: a stream whose header announced this length ends as the
        // file does; one that got fewer bytes (or announced none) just ends.
        if (!h.Failed() && StreamDataBytes == I.DataBytes && StreamDataBytes <= MaxDataBytes) {
            const uint8_t pad = 0;
            if (I.DataBytes & 1) h.Write(&pad, 1);
            MMCKINFO fact{FOURCC_fact, 4, 0, 0, 0};
            uint8_t v[4];
            PutU32(v, uint32_t(I.TotalSamples));
            if (h.CreateChunk(fact)) h.Write(v, 4);
        }
        I.FileSize = uint32_t(std::min<int64_t>(h.Tell(), UINT32_MAX));
        I.EndSample = I.TotalSamples;
    } else if ((I.DataChunk.dwFlags & MMIO_DIRTY) && h.Flush()) {
        if (I.Flags != 0) {
            // A reopened file: both sizes are written anew from what the data now is.
            I.DataChunk.cksize = 0;
            I.DataChunk.dwFlags |= MMIO_DIRTY;
            h.Seek(int64_t(I.DataOffset) + I.DataBytes);
            I.RiffChunk.cksize = 0;
            I.RiffChunk.dwFlags |= MMIO_DIRTY;
        }
        bool ok = h.Ascend(I.DataChunk);
        MMCKINFO fact{FOURCC_fact, 4, 0, 0, 0};
        uint8_t v[4];
        PutU32(v, uint32_t(I.TotalSamples));
        ok = ok && h.CreateChunk(fact) && h.Write(v, 4) == 4;
        // No "DISP" or "LIST" "INFO" chunks: the program never sets display or info text.
        I.RiffChunk.dwFlags |= MMIO_DIRTY;
        ok = ok && h.Ascend(I.RiffChunk);
        const int64_t end = h.Tell();
        // A reopened file that got shorter must not keep its old tail.
        if (ok && I.Flags != 0 && h.Size() > end) h.Truncate(end);
        I.FileSize = uint32_t(std::min<int64_t>(end, UINT32_MAX));
        I.EndSample = I.TotalSamples;
        ok = ok && h.Flush();
        if (!ok) FinaliseAfterWriteFailure(I, h);
    } else if ((I.DataChunk.dwFlags & MMIO_DIRTY) && h.Failed()) {
        FinaliseAfterWriteFailure(I, h);
    }
    h.Close();
    I.Handle.reset();
    I.BytesLeft = 0;
    I.Position = 0;
    BytesLeft_ = 0;
    Position_ = 0;
    RangeEnd_ = I.EndSample;
}

void TMMWave::ReopenWaveFile() {
    if (!Info_ || FileName_.empty()) throw EMMWaveError("Unable to open wave file");
    if (Info_->Handle) return;
    auto h = std::make_unique<TRiffFile>();
    h->WriteLimit = WriteLimitForTesting;
    if (!h->Open(FileName_, TRiffFile::Mode::ReadWrite))
        throw EMMWaveError("Unable to open wave file");
    if (!h->SetBuffer(IOBufferSize_)) throw EMMWaveError("Unable to setup file IO buffer");
    h->Seek(int64_t(Info_->DataOffset) + wioSamplesToBytes(Info_->Format, Info_->Position));
    Info_->Flags = 1; // not opened by creating: finalising rewrites both sizes
    Info_->Handle = std::move(h);
}

int32_t TMMWave::DataSize() const {
    if (!Info_) return 0;
    switch (TimeFormat) {
    case TMMTimeFormats::tfByte:
        return wioSamplesToBytes(Info_->Format, Info_->TotalSamples);
    case TMMTimeFormats::tfMillisecond:
        return wioSamplesToTime(Info_->Format, Info_->TotalSamples);
    case TMMTimeFormats::tfSample:
        break;
    }
    return Info_->TotalSamples;
}

void TMMWave::SetPosition(int32_t frames) {
    if (frames < RangeStart_ || frames > RangeEnd_)
        throw EMMWaveError("Error seeking file position");
    Position_ = frames;
    if (Info_) Info_->Position = frames;
}

} // namespace zelvox
