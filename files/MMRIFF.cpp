#include "files/MMRIFF.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {
constexpr int32_t kMaxBuffer = 1 << 26;
}

TRiffFile::~TRiffFile() {
    Close();
}

bool TRiffFile::Open(const std::string& path, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        LastErrno_ = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        LastErrno_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL; // a folder, a device, a pipe
        ::close(fd);
        return false;
    }
    LastErrno_ = 0;
    Fd_ = fd;
    Stream_ = false;
    Failed_ = false;
    Pos_ = 0;
    BufStart_ = 0;
    BufLen_ = 0;
    FileLen_ = st.st_size;
    return true;
}

bool TRiffFile::OpenStream(int fd) {
    Close();
    if (fd < 0) return false;
    LastErrno_ = 0;
    Fd_ = fd;
    Stream_ = true;
    Failed_ = false;
    Pos_ = 0;
    BufStart_ = 0;
    BufLen_ = 0;
    FileLen_ = 0;
    return true;
}

bool TRiffFile::Close() {
    if (Fd_ < 0) return true;
    const bool flushed = Flush();
    const bool closed = ::close(Fd_) == 0;
    Fd_ = -1;
    BufLen_ = 0;
    return flushed && closed;
}

bool TRiffFile::SetBuffer(int32_t bytes) {
    if (bytes < 0 || bytes > kMaxBuffer) return false;
    if (!Flush()) return false;
    if (bytes == 0) {
        Buf_.reset();
        BufCap_ = 0;
        return true;
    }
    std::unique_ptr<uint8_t[]> b(new (std::nothrow) uint8_t[size_t(bytes)]);
    if (!b) return false;
    Buf_ = std::move(b);
    BufCap_ = bytes;
    return true;
}

bool TRiffFile::WriteRaw(int64_t at, const uint8_t* p, size_t n) {
    if (WriteLimit >= 0 && at + int64_t(n) > WriteLimit && at + int64_t(n) > FileLen_) {
        // As a full disk does: what fits is written, then the write fails.
        const int64_t room = std::max<int64_t>(std::max(WriteLimit, FileLen_) - at, 0);
        const size_t fits = size_t(std::min<int64_t>(room, int64_t(n)));
        if (fits > 0 && (Stream_ ? ::write(Fd_, p, fits) : ::pwrite(Fd_, p, fits, off_t(at))) ==
                            ssize_t(fits))
            FileLen_ = std::max(FileLen_, at + int64_t(fits));
        errno = ENOSPC;
        LastErrno_ = ENOSPC;
        Failed_ = true;
        return false;
    }
    if (Stream_ && at != FileLen_) {
        LastErrno_ = ESPIPE; // a stream cannot go back
        Failed_ = true;
        return false;
    }
    while (n > 0) {
        const ssize_t w = Stream_ ? ::write(Fd_, p, n) : ::pwrite(Fd_, p, n, off_t(at));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            LastErrno_ = w < 0 ? errno : ENOSPC;
            Failed_ = true;
            return false;
        }
        p += w;
        at += w;
        n -= size_t(w);
        if (at > FileLen_) FileLen_ = at;
    }
    return true;
}

bool TRiffFile::WriteDirect(int64_t at, const void* data, size_t n) {
    if (Fd_ < 0 || at < 0) return false;
    return WriteRaw(at, static_cast<const uint8_t*>(data), n);
}

bool TRiffFile::Flush() {
    if (Fd_ < 0 || Failed_) return false;
    if (BufLen_ == 0) return true;
    const bool ok = WriteRaw(BufStart_, Buf_.get(), size_t(BufLen_));
    // Bytes that could not be written are dropped: keeping them would only fail again.
    BufLen_ = 0;
    return ok;
}

int32_t TRiffFile::Write(const void* data, int32_t n) {
    if (Fd_ < 0 || n < 0 || (n > 0 && !data)) return -1;
    const auto* p = static_cast<const uint8_t*>(data);
    if (BufCap_ == 0) {
        if (!WriteRaw(Pos_, p, size_t(n))) return -1;
        Pos_ += n;
        return n;
    }
    // The buffer holds one contiguous run that ends at the current position.
    if (BufLen_ > 0 && BufStart_ + BufLen_ != Pos_ && !Flush()) return -1;
    if (BufLen_ == 0) BufStart_ = Pos_;
    int32_t left = n;
    while (left > 0) {
        const int32_t take = std::min(left, BufCap_ - BufLen_);
        std::memcpy(Buf_.get() + BufLen_, p, size_t(take));
        BufLen_ += take;
        p += take;
        left -= take;
        Pos_ += take;
        if (BufLen_ == BufCap_) {
            if (!Flush()) return -1;
            BufStart_ = Pos_;
        }
    }
    return n;
}

int32_t TRiffFile::Read(void* data, int32_t n) {
    if (Fd_ < 0 || n < 0 || Stream_) return -1;
    if (!Flush()) return -1;
    auto* p = static_cast<uint8_t*>(data);
    int32_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(Fd_, p + got, size_t(n - got), off_t(Pos_));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += int32_t(r);
        Pos_ += r;
    }
    return got;
}

int64_t TRiffFile::Seek(int64_t offset) {
    if (Fd_ < 0 || offset < 0) return -1;
    Pos_ = offset;
    return Pos_;
}

int64_t TRiffFile::Size() {
    const int64_t buffered = BufLen_ > 0 ? BufStart_ + BufLen_ : 0;
    return std::max(FileLen_, buffered);
}

bool TRiffFile::CreateChunk(MMCKINFO& ck) {
    uint8_t h[12];
    auto put = [&](int at, uint32_t v) { PutU32(h + at, v); };
    put(0, ck.ckid);
    put(4, ck.cksize);
    int32_t n = 8;
    if (ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) {
        put(8, ck.fccType);
        n = 12;
    }
    const int64_t start = Pos_;
    if (Write(h, n) != n) return false;
    // The form/list type counts as contents of the chunk.
    ck.dwDataOffset = uint32_t(start + 8);
    return true;
}

bool TRiffFile::Ascend(MMCKINFO& ck) {
    if (Fd_ < 0) return false;
    if (ck.dwFlags & MMIO_DIRTY) {
        const int64_t size = Pos_ - int64_t(ck.dwDataOffset);
        if (size < 0 || size > int64_t(UINT32_MAX)) return false;
        ck.cksize = uint32_t(size);
        const int64_t end = Pos_;
        uint8_t s[4];
        for (int i = 0; i < 4; ++i)
            s[i] = uint8_t(ck.cksize >> (8 * i));
        if (Seek(int64_t(ck.dwDataOffset) - 4) < 0 || Write(s, 4) != 4) return false;
        Seek(end);
        if (size & 1) {
            const uint8_t pad = 0;
            if (Write(&pad, 1) != 1) return false;
        }
        ck.dwFlags &= ~MMIO_DIRTY;
        return true;
    }
    return Seek(int64_t(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1)) >= 0;
}

bool TRiffFile::Truncate(int64_t length) {
    if (Fd_ < 0 || Stream_ || (BufLen_ > 0 && !Flush())) return false;
    if (::ftruncate(Fd_, off_t(length)) != 0) return false;
    FileLen_ = length;
    return true;
}

} // namespace zelvox
