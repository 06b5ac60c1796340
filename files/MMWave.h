#pragma once
// The wave object: one WAV file, attached by name (read for its layout) or created for
// writing, with the bookkeeping the WAV sink needs. It writes through the buffered RIFF
// service, so the header sizes and the trailing "fact" chunk are filled in at finalising.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/MMFormat.h"
#include "files/MMObserver.h"
#include "files/MMRIFF.h"

namespace zelvox {

struct OutputTarget;

class EMMWaveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// The record of one attached file.
struct WaveIOInfo {
    uint32_t Flags = 0;                // 0 created by CreateWaveFile, 1 opened by name for reading
    std::unique_ptr<TRiffFile> Handle; // none while the file is not open
    MMCKINFO RiffChunk;
    MMCKINFO DataChunk;
    uint32_t FileSize = 0;    // bytes, when last finalised or opened
    int32_t DataBytes = 0;    // bytes of sample data (the largest write end reached)
    int32_t DataOffset = 0;   // file offset of the first sample byte
    int32_t TotalSamples = 0; // frames; the value of the "fact" chunk
    int32_t StartSample = 0, EndSample = 0;
    int32_t BytesLeft = 0;
    int32_t Position = 0; // frames
    std::string FileName;
    std::vector<std::string> DisplayList, InfoList; // "DISP" and "LIST" "INFO" texts
    WAVEFORMATEX Format;
};

// Reads the layout of an existing file: a RIFF "WAVE" file with a "fmt " chunk. Returns
// nullptr when the file cannot be read or is not such a file. Every size in the file is
// treated as untrusted. The file is closed again afterwards.
std::unique_ptr<WaveIOInfo> ReadWaveLayout(const std::string& path);

// Full path of a name ("" stays "", "-" for standard output stays "-"); the form the wave
// keeps in FileName.
std::string ExpandFileName(const std::string& name);

// The most sample bytes a wave file takes: its sizes are 32-bit numbers, and the record
// counts bytes in signed 32 bits, so 2 GiB less a margin for the header (at 44,100 Hz,
// 16-bit mono, 6 hours 45 minutes).
constexpr int64_t kMaxWavDataBytes = INT32_MAX - 4096;
// That limit as a time in words, "6 hours 45 minutes" (under a minute: "N seconds").
std::string WavLimitText(int64_t maxDataBytes, const WAVEFORMATEX& format);

class TMMWave {
public:
    TMMWave() = default;
    ~TMMWave(); // finalises an attached file
    TMMWave(const TMMWave&) = delete;
    TMMWave& operator=(const TMMWave&) = delete;

    const std::string& FileName() const { return FileName_; }
    // Attaches an existing WAV file, names a new one, or (empty) finalises and releases.
    // An existing file that is not a WAVE file: "Invalid wave file...", nothing changes.
    void SetFileName(const std::string& name);
    bool FileMustExist() const { return FileMustExist_; }
    void SetFileMustExist(bool v) { FileMustExist_ = v; }
    int32_t IOBufferSize() const { return IOBufferSize_; }
    void SetIOBufferSize(int32_t bytes); // at least 8192
    TMMTimeFormats TimeFormat = TMMTimeFormats::tfSample;

    // A regular file (or a new name) is made afresh (a link's file, not the link); a device,
    // a pipe or "-" (standard output) is written as a stream: the header goes first with the
    // sizes StreamDataBytes announces, as nothing can be rewritten afterwards.
    void CreateWaveFile(const std::string& name, PWaveFormatEx format);
    // For a stream: the sample bytes that will be written, when known in advance; the header
    // then carries the exact sizes and the stream ends with the "fact" chunk, byte for byte
    // the file the same recording makes. -1: not known; the header carries the largest sizes
    // (0xFFFFFFFF), as stream writers do, and no chunk follows the samples.
    int64_t StreamDataBytes = -1;
    // For a named pipe: wait for a reader to open it (a command line), or fail at once (a window).
    bool WaitForReader = false;
    // Sample bytes beyond this are refused (WriteData returns -1); tests lower it.
    int64_t MaxDataBytes = kMaxWavDataBytes;
    // True when `count` more sample bytes would pass MaxDataBytes.
    bool AtSizeLimit(int32_t count) const;
    bool IsStream() const { return IsOpen() && Info_->Handle->IsStream(); }
    int32_t WriteData(const uint8_t* data, int32_t count); // bytes written, or <= 0
    void CloseWaveFile();
    void ReopenWaveFile();

    // Holding a whole file in memory (source role); while held, writing is refused.
    void SetMemoryImage(std::vector<uint8_t> bytes) {
        MemoryImage_ = std::move(bytes);
        HasMemory_ = true;
    }
    void FreeMemoryImage() {
        MemoryImage_.clear();
        HasMemory_ = false;
    }
    bool HasMemoryImage() const { return HasMemory_; }

    PWaveFormatEx GetWaveFormat() const { return Info_ ? &Info_->Format : nullptr; }
    const WaveIOInfo* Info() const { return Info_.get(); }
    bool IsOpen() const { return Info_ && Info_->Handle; }
    int32_t DataSize() const; // TotalSamples in TimeFormat units
    uint32_t FileSize() const { return Info_ ? Info_->FileSize : 0; }
    int32_t SampleRate() const { return Info_ ? int32_t(Info_->Format.nSamplesPerSec) : 11025; }
    int32_t Position() const { return Position_; } // frames
    // Source role: "Error seeking file position" outside the range.
    void SetPosition(int32_t frames);

    TMMObservable& Observable() { return Observable_; }

    // Tests only: the RIFF service of the next created or reopened file fails every write
    // that would grow the file past this many bytes (-1 = no limit).
    int64_t WriteLimitForTesting = -1;

private:
    void Attach(std::unique_ptr<WaveIOInfo> info);
    void CreateWaveStream(const std::string& full, const OutputTarget& target, PWaveFormatEx format);
    void Release();
    void Changed() { Observable_.NotifyObservers(0); }
    void CheckNotMemory() const;

    std::unique_ptr<WaveIOInfo> Info_;
    std::string FileName_;
    bool FileMustExist_ = true;
    int32_t IOBufferSize_ = 32768;
    int32_t RangeStart_ = 0, RangeEnd_ = 0, Position_ = 0, BytesLeft_ = 0;
    std::vector<uint8_t> MemoryImage_;
    bool HasMemory_ = false;
    TMMObservable Observable_;
};

} // namespace zelvox
