#pragma once
// A small buffered RIFF file service: sequential buffered writing with chunk descriptors whose
// sizes are written when the chunk is left, and plain reads for walking an existing file's
// chunks. All numbers in the file are little-endian, written byte by byte.

#include <cstdint>
#include <memory>
#include <string>

namespace zelvox {

constexpr uint32_t mmioFOURCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr uint32_t FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr uint32_t FOURCC_WAVE = mmioFOURCC('W', 'A', 'V', 'E');
constexpr uint32_t FOURCC_fmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr uint32_t FOURCC_data = mmioFOURCC('d', 'a', 't', 'a');
constexpr uint32_t FOURCC_fact = mmioFOURCC('f', 'a', 'c', 't');
constexpr uint32_t FOURCC_INFO = mmioFOURCC('I', 'N', 'F', 'O');
constexpr uint32_t FOURCC_DISP = mmioFOURCC('D', 'I', 'S', 'P');

constexpr uint32_t MMIO_DIRTY = 0x10000000; // the chunk's size is written when it is left

// The platform's chunk descriptor.
struct MMCKINFO {
    uint32_t ckid = 0;         // chunk id
    uint32_t cksize = 0;       // size of the contents
    uint32_t fccType = 0;      // form type of a "RIFF" or list type of a "LIST" chunk
    uint32_t dwDataOffset = 0; // file offset of the contents
    uint32_t dwFlags = 0;      // MMIO_DIRTY
};

class TRiffFile {
public:
    enum class Mode { Read, ReadWrite, Create };

    TRiffFile() = default;
    ~TRiffFile(); // closes (and flushes) an open file
    TRiffFile(const TRiffFile&) = delete;
    TRiffFile& operator=(const TRiffFile&) = delete;

    // Create truncates or makes the file; ReadWrite and Read need it to exist.
    bool Open(const std::string& path, Mode mode);
    // Flushes and closes; false when the flush or the close failed (the file is closed anyway).
    bool Close();
    bool IsOpen() const { return Fd_ >= 0; }
    // Takes an open descriptor of a device, a pipe or standard output, written in order only:
    // a write anywhere but at the end fails (ESPIPE), nothing is read, cut or rewritten.
    bool OpenStream(int fd);
    bool IsStream() const { return Stream_; }

    // The write buffer: writes are collected and written in pieces of this many bytes.
    bool SetBuffer(int32_t bytes);
    bool Flush();

    // Returns n, or -1 when the bytes could not be taken (a failed flush of a full buffer).
    int32_t Write(const void* data, int32_t n);
    // Returns the bytes read (0 at the end), or -1.
    int32_t Read(void* data, int32_t n);
    // Absolute positioning; returns the new offset or -1.
    int64_t Seek(int64_t offset);
    int64_t Tell() const { return Pos_; }
    int64_t Size(); // current length of the file, buffered bytes included

    // Writes a chunk header at the current position: id, size (and the form/list type for
    // "RIFF"/"LIST"). dwDataOffset := the offset of the contents.
    bool CreateChunk(MMCKINFO& ck);
    // Leaves a chunk: for a dirty chunk the size (current position - dwDataOffset) is written
    // into its header and, for an odd size, one zero pad byte after it; then the position is
    // the end of the chunk.
    bool Ascend(MMCKINFO& ck);

    // Cuts the file to `length` bytes (after flushing).
    bool Truncate(int64_t length);

    // After a failed write: the file stays usable for repairs. Failed() stays true, Flush()
    // fails from then on, DiskLength() tells how much really reached the disk, and
    // WriteDirect writes unbuffered (overwriting bytes already on disk needs no free space).
    bool Failed() const { return Failed_; }
    // The system's reason (an errno value) for the last Open or write that failed; 0 if none.
    int LastErrno() const { return LastErrno_; }
    int64_t DiskLength() const { return FileLen_; }
    void DiscardBuffer() { BufLen_ = 0; }
    bool WriteDirect(int64_t at, const void* data, size_t n);

    // Tests only: every write that would make the file longer than this many bytes fails
    // as on a full disk (-1 = no limit).
    int64_t WriteLimit = -1;

private:
    bool WriteRaw(int64_t at, const uint8_t* p, size_t n);
    int Fd_ = -1;
    bool Stream_ = false;
    int64_t Pos_ = 0; // current file offset
    std::unique_ptr<uint8_t[]> Buf_;
    int32_t BufCap_ = 0;
    int64_t BufStart_ = 0; // file offset of Buf_[0]
    int32_t BufLen_ = 0;   // bytes waiting in Buf_
    int64_t FileLen_ = 0;  // length on disk
    bool Failed_ = false;  // a write failed
    int LastErrno_ = 0;
};

} // namespace zelvox
