#include "files/PatternFileFormat.h"

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ByteOrder.h"
#include "files/OutputTarget.h"

namespace zelvox {

namespace {

constexpr auto PutI = PutI32;
constexpr auto GetI = GetI32;
constexpr auto PutF = PutF32;
constexpr auto GetF = GetF32;

// The program's message for a failed file operation, then the file and the system's reason:
// "File access denied: /home/me/song.zvx (Permission denied)".
[[noreturn]] void ThrowErrno(int e, const std::string& path, const char* cause = nullptr) {
    std::string detail = ": ";
    detail += path;
    detail += " (";
    detail += cause ? cause : std::strerror(e);
    detail += ")";
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        throw EInOutError("File not found" + detail, e);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        throw EInOutError("File access denied" + detail, e);
    case ENOSPC:
    case EDQUOT:
        throw EInOutError("Disk full" + detail, e);
    default:
        throw EInOutError("I/O error " + std::to_string(e) + detail, e);
    }
}

} // namespace

void EncodeStepRecord(const StepRecord& s, uint8_t* o) {
    PutI(o + 0, s.BassNote);
    PutI(o + 4, s.TwinTNote);
    PutI(o + 8, s.NoiseNote);
    PutF(o + 12, s.TwinTFreq);
    PutI(o + 16, s.TwinTDecay);
    PutI(o + 20, s.NoiseDecay);
    PutI(o + 24, s.TwinTVolume);
    PutI(o + 28, s.NoiseVolume);
    PutI(o + 32, s.TwinTEnvMod);
    PutI(o + 36, s.BassAmpSwitch);
    o[40] = s.TwinTPlay;
    std::memcpy(o + 41, s.Pad41, 3);
    PutF(o + 44, s.BassFreq);
    PutI(o + 48, s.Reserved1);
    PutF(o + 52, s.Reserved2);
    PutI(o + 56, s.BassCutoff);
    PutI(o + 60, s.BassResonance);
    PutI(o + 64, s.NoiseColour);
    PutI(o + 68, s.BassAttack);
    PutI(o + 72, s.BassDecay);
    PutI(o + 76, s.BassEnvMod);
    PutI(o + 80, s.NoiseEnvMod);
    PutI(o + 84, s.BassVolume);
    PutI(o + 88, s.BassWaveform);
    o[92] = s.BassPlay;
    o[93] = s.BassSlide;
    o[94] = s.NoisePlay;
    o[95] = s.Pad95;
    PutI(o + 96, s.BassLength);
}

void DecodeStepRecord(const uint8_t* i, StepRecord& s) {
    s.BassNote = GetI(i + 0);
    s.TwinTNote = GetI(i + 4);
    s.NoiseNote = GetI(i + 8);
    s.TwinTFreq = GetF(i + 12);
    s.TwinTDecay = GetI(i + 16);
    s.NoiseDecay = GetI(i + 20);
    s.TwinTVolume = GetI(i + 24);
    s.NoiseVolume = GetI(i + 28);
    s.TwinTEnvMod = GetI(i + 32);
    s.BassAmpSwitch = GetI(i + 36);
    s.TwinTPlay = i[40];
    std::memcpy(s.Pad41, i + 41, 3);
    s.BassFreq = GetF(i + 44);
    s.Reserved1 = GetI(i + 48);
    s.Reserved2 = GetF(i + 52);
    s.BassCutoff = GetI(i + 56);
    s.BassResonance = GetI(i + 60);
    s.NoiseColour = GetI(i + 64);
    s.BassAttack = GetI(i + 68);
    s.BassDecay = GetI(i + 72);
    s.BassEnvMod = GetI(i + 76);
    s.NoiseEnvMod = GetI(i + 80);
    s.BassVolume = GetI(i + 84);
    s.BassWaveform = GetI(i + 88);
    s.BassPlay = i[92];
    s.BassSlide = i[93];
    s.NoisePlay = i[94];
    s.Pad95 = i[95];
    s.BassLength = GetI(i + 96);
}

int32_t& FileKnobField(PatternFileRecord& r, FileKnob k) {
    switch (k) {
    case FileKnob::Delay:
        return r.Delay;
    case FileKnob::Depth:
        return r.Depth;
    case FileKnob::Volume:
        return r.Volume;
    case FileKnob::BassAttackContour:
        return r.BassAttackContour;
    case FileKnob::BassDecayContour:
        return r.BassDecayContour;
    case FileKnob::TwinTDecayContour:
        return r.TwinTDecayContour;
    case FileKnob::NoiseDecayContour:
        return r.NoiseDecayContour;
    case FileKnob::Tempo:
        return r.Tempo;
    default:
        return r.Steps;
    }
}

int32_t FileKnobField(const PatternFileRecord& r, FileKnob k) {
    return FileKnobField(const_cast<PatternFileRecord&>(r), k);
}

std::vector<uint8_t> EncodePatternFile(const PatternFileRecord& r) {
    std::vector<uint8_t> b(kPatternFileSize, 0);
    EncodePatternFile(r, b.data());
    return b;
}

void EncodePatternFile(const PatternFileRecord& r, uint8_t* out) {
    std::fill(out, out + kPatternFileSize, uint8_t{0});
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s)
            EncodeStepRecord(r.Store.Step(p, s), out + 1600 * p + 100 * (s - 1));
    uint8_t* k = out + kPatternFileKnobs;
    for (int i = 0; i < kFileKnobCount; ++i)
        PutI(k + 4 * i, FileKnobField(r, FileKnob(i)));
    for (int p = 1; p <= 16; ++p) {
        uint8_t* e = out + kPatternFilePhrases + 8 * p;
        PutI(e, r.Phrases[size_t(p)].Pattern);
        PutI(e + 4, r.Phrases[size_t(p)].Count);
    }
}

void DecodePatternFile(const uint8_t* in, PatternFileRecord& r) {
    r = PatternFileRecord{};
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s)
            DecodeStepRecord(in + 1600 * p + 100 * (s - 1), r.Store.Step(p, s));
    const uint8_t* k = in + kPatternFileKnobs;
    for (int i = 0; i < kFileKnobCount; ++i)
        FileKnobField(r, FileKnob(i)) = GetI(k + 4 * i);
    for (int p = 1; p <= 16; ++p) {
        const uint8_t* e = in + kPatternFilePhrases + 8 * p;
        r.Phrases[size_t(p)].Pattern = GetI(e);
        r.Phrases[size_t(p)].Count = GetI(e + 4);
    }
}

std::vector<uint8_t> ReadPatternFileBytes(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowErrno(errno, path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        ThrowErrno(EISDIR, path);
    }
    std::vector<uint8_t> b(kPatternFileSize);
    size_t got = 0;
    while (got < b.size()) {
        const ssize_t r = ::read(fd, b.data() + got, b.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            const int e = errno;
            ::close(fd);
            ThrowErrno(e, path);
        }
        if (r == 0) break;
        got += size_t(r);
    }
    ::close(fd);
    if (got < b.size())
        throw EInOutError("Read beyond end of file: " + path + " (" + std::to_string(got) +
                              " bytes, a pattern file has " + std::to_string(kPatternFileSize) + ")",
                          0);
    return b;
}

int (*PatternFileRenameForTesting)(const char* from, const char* to) = nullptr;

void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
    namespace fs = std::filesystem;
    // Replace the file a link points to, not the link; a device or a pipe is written to,
    // never replaced.
    OutputTarget where;
    std::string why;
    if (fs::path(path).filename().empty()) ThrowErrno(EISDIR, path);
    if (!ResolveOutputTarget(path, false, where, why))
        ThrowErrno(why == "is a folder" ? EISDIR : EINVAL, path, why.c_str());
    if (where.IsStream()) {
        int err = 0;
        const int fd = OpenOutputStream(where, false, err);
        if (fd < 0) ThrowErrno(err, path, err == ENXIO ? "nothing reads from the pipe" : nullptr);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                const int e = w < 0 ? errno : ENOSPC;
                ::close(fd);
                ThrowErrno(e, path);
            }
            done += size_t(w);
        }
        if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno, path);
        return;
    }
    const fs::path target = fs::path(where.Path);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) ThrowErrno(EISDIR, path);
        // A write-protected file stays protected, as if it had been opened for writing.
        if (::access(target.c_str(), W_OK) != 0) ThrowErrno(errno, path);
    }
    const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();

    std::random_device rd;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
        // Built by appending: GCC 12 at -O3 misreports "." + std::string&& as an overlapping
        // memcpy (-Wrestrict).
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp";
        name += std::to_string(rd() % 1000000);
        tmp = (dir / name).string();
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            const int e = errno;
            // A folder that exists but takes no new files (/proc, /sys) answers "no such file":
            // that is a refusal, not a missing file.
            struct stat d;
            if (e == ENOENT && ::stat(dir.c_str(), &d) == 0 && S_ISDIR(d.st_mode))
                ThrowErrno(EACCES, path, "this folder does not take new files");
            ThrowErrno(e, path);
        }
    }
    if (fd < 0) ThrowErrno(EEXIST, path);
    auto fail = [&](int e) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        ThrowErrno(e, path);
    };
    if (exists) (void)::fchmod(fd, old.st_mode & 07777);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) fail(w < 0 ? errno : ENOSPC);
        done += size_t(w);
    }
    if (::fsync(fd) != 0) fail(errno);
    const int c = ::close(fd);
    fd = -1;
    if (c != 0) fail(errno);
    const int renamed = PatternFileRenameForTesting
                            ? PatternFileRenameForTesting(tmp.c_str(), target.c_str())
                            : ::rename(tmp.c_str(), target.c_str());
    if (renamed != 0) fail(errno);
    // Make the rename itself durable.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace zelvox
