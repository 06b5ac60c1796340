#include "program/StemFiles.h"

#include <cerrno>
#include <random>
#include <stdexcept>

#include "base/ByteOrder.h"

namespace zelvox {

namespace fs = std::filesystem;

fs::path PartPathFor(const fs::path& target) {
    std::random_device rd;
    // Built by appending: GCC 12 at -O3 misreports "." + std::string&& as an overlapping
    // memcpy (-Wrestrict).
    std::string partName = ".";
    partName += target.filename().string();
    partName += ".part";
    partName += std::to_string(rd() % 1000000);
    return target.parent_path() / partName;
}

StemFiles::StemFiles(const std::string& dir, PWaveFormatEx format, int64_t knownBytes,
                     const std::string& extension)
    : Dir_(fs::absolute(dir)), Named_(dir), Ext_(extension) {
    std::error_code ec;
    const fs::file_status st = fs::status(Dir_, ec);
    if (ec && st.type() != fs::file_type::not_found)
        throw std::runtime_error(dir + ": cannot reach the stems folder (" + ec.message() + ")");
    if (fs::exists(st)) {
        if (!fs::is_directory(st)) throw std::runtime_error(dir + ": is not a folder");
    } else {
        // One level only: a mistyped parent is an error, not a tree of new folders.
        if (!fs::create_directory(Dir_, ec) || ec)
            throw std::runtime_error(dir + ": cannot make the stems folder (" +
                                     (ec ? ec.message() : std::string("unknown error")) + ")");
        MadeDir_ = true;
    }
    try {
        for (int s = 0; s < Count; ++s) {
            OutputTarget where;
            std::string why;
            if (!ResolveOutputTarget(PathOf(Stem(s)).string(), false, where, why)) Fail(Stem(s), why);
            TMMWave& wave = Waves_[size_t(s)];
            wave.WaitForReader = true;
            wave.StreamDataBytes = knownBytes;
            Targets_[size_t(s)] = where.Path;
            if (!where.IsStream()) Parts_[size_t(s)] = PartPathFor(fs::path(where.Path));
            try {
                wave.CreateWaveFile(where.IsStream() ? where.Path : Parts_[size_t(s)].string(),
                                    format);
            } catch (const std::exception& e) {
                Fail(Stem(s), e.what());
            }
        }
    } catch (...) {
        Discard();
        throw;
    }
}

StemFiles::~StemFiles() {
    if (!Committed_) Discard();
}

void StemFiles::Discard() {
    std::error_code ec;
    for (int s = 0; s < Count; ++s) {
        try {
            Waves_[size_t(s)].CloseWaveFile();
        } catch (...) {
        }
        if (!Parts_[size_t(s)].empty()) fs::remove(Parts_[size_t(s)], ec);
    }
    if (MadeDir_) fs::remove(Dir_, ec); // only if empty: removes nothing of anyone else's
}

void StemFiles::Fail(Stem stem, const std::string& why) const {
    throw std::runtime_error((Named_ / (kBaseNames[stem] + Ext_)).string() + ": " + why);
}

void StemFiles::Append(Stem stem, const int16_t* samples, uint32_t frames) {
    if (frames == 0) return;
    Scratch_.resize(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i)
        PutU16(Scratch_.data() + 2 * size_t(i), uint16_t(samples[i]));
    errno = 0;
    const int32_t n = int32_t(Scratch_.size());
    if (Waves_[stem].WriteData(Scratch_.data(), n) != n) {
        const int e = errno;
        // The sink's wording for the same failures of the mix file.
        if (e == 0) Fail(stem, "longer than a WAV file can hold (2 GiB of samples)");
        if (e == ENOSPC || e == EDQUOT) Fail(stem, "Disk full");
        Fail(stem, "I/O error " + std::to_string(e));
    }
    Bytes_[stem] += n;
}

void StemFiles::Finish() {
    for (int s = 0; s < Count; ++s) {
        TMMWave& w = Waves_[size_t(s)];
        w.CloseWaveFile();
        // Finalising does not fail loudly (the program's recordings end quietly on a full
        // disk): a file that did not get all its bytes shows in its sizes.
        const WaveIOInfo* info = w.Info();
        const int64_t data = Bytes_[size_t(s)];
        if (IsStream(Stem(s))) {
            if (!info || info->DataBytes != data) Fail(Stem(s), "the device or pipe refused bytes");
            continue;
        }
        const int64_t expected = int64_t(info ? info->DataOffset : 0) + data + (data & 1) + 12;
        std::error_code ec;
        const auto onDisk = fs::file_size(Parts_[size_t(s)], ec);
        if (!info || info->DataBytes != data || ec || int64_t(onDisk) != expected)
            Fail(Stem(s), "Disk full");
    }
}

void StemFiles::Commit() {
    for (int s = 0; s < Count; ++s) {
        if (IsStream(Stem(s))) continue;
        std::error_code ec;
        fs::rename(Parts_[size_t(s)], Targets_[size_t(s)], ec);
        if (ec) Fail(Stem(s), ec.message()); // the destructor removes the rest
        Parts_[size_t(s)].clear();
    }
    Committed_ = true;
}

} // namespace zelvox
