// A read buffer between minizip and its file functions.
#include "payload/zip_read_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {

// Large enough that entry data arrives in few reads, small enough that the
// refill after each jump between directory and entry data stays cheap.
constexpr uLong kBufferBytes = 64 * 1024;

struct BufferedStream {
    const zlib_filefunc64_def* inner;
    voidpf stream;
    ZPOS64_T position;       // where the next read starts
    ZPOS64_T innerPosition;  // where the inner stream stands
    ZPOS64_T bufferStart;
    uLong bufferLength;
    bool failed;
    unsigned char buffer[kBufferBytes];
};

bool MoveInner(BufferedStream& s)
{
    if (s.innerPosition == s.position) return true;
    if (s.inner->zseek64_file(s.inner->opaque, s.stream, s.position, ZLIB_FILEFUNC_SEEK_SET) != 0) {
        s.failed = true;
        return false;
    }
    s.innerPosition = s.position;
    return true;
}

uLong ReadInner(BufferedStream& s, void* to, uLong size)
{
    if (!MoveInner(s)) return 0;
    uLong got = s.inner->zread_file(s.inner->opaque, s.stream, to, size);
    s.innerPosition += got;
    return got;
}

voidpf ZCALLBACK Open(voidpf opaque, const void* filename, int mode)
{
    auto* inner = static_cast<const zlib_filefunc64_def*>(opaque);
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    auto* s = static_cast<BufferedStream*>(std::malloc(sizeof(BufferedStream)));
    if (!s) return nullptr;
    s->stream = inner->zopen64_file(inner->opaque, filename, mode);
    if (!s->stream) {
        std::free(s);
        return nullptr;
    }
    s->inner = inner;
    s->position = s->innerPosition = s->bufferStart = 0;
    s->bufferLength = 0;
    s->failed = false;
    return s;
}

uLong ZCALLBACK Read(voidpf, voidpf stream, void* buf, uLong size)
{
    auto& s = *static_cast<BufferedStream*>(stream);
    auto* to = static_cast<unsigned char*>(buf);
    uLong done = 0;
    while (done < size) {
        if (s.position >= s.bufferStart && s.position < s.bufferStart + s.bufferLength) {
            uLong at = static_cast<uLong>(s.position - s.bufferStart);
            uLong part = s.bufferLength - at < size - done ? s.bufferLength - at : size - done;
            std::memcpy(to + done, s.buffer + at, part);
            done += part;
            s.position += part;
            continue;
        }
        s.bufferStart = s.position;
        s.bufferLength = ReadInner(s, s.buffer, kBufferBytes);
        if (s.bufferLength == 0) break;
    }
    return done;
}

uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) { return static_cast<BufferedStream*>(stream)->position; }

long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto& s = *static_cast<BufferedStream*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        s.position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        s.position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        // Only the inner stream knows where the file ends.
        if (s.inner->zseek64_file(s.inner->opaque, s.stream, offset, ZLIB_FILEFUNC_SEEK_END) != 0) return -1;
        s.innerPosition = s.inner->ztell64_file(s.inner->opaque, s.stream);
        if (s.innerPosition == static_cast<ZPOS64_T>(-1)) {
            s.failed = true;
            return -1;
        }
        s.position = s.innerPosition;
        return 0;
    default:
        return -1;
    }
}

int ZCALLBACK Close(voidpf, voidpf stream)
{
    auto* s = static_cast<BufferedStream*>(stream);
    int result = s->inner->zclose_file(s->inner->opaque, s->stream);
    std::free(s);
    return result;
}

int ZCALLBACK Error(voidpf, voidpf stream)
{
    auto& s = *static_cast<BufferedStream*>(stream);
    return s.failed ? 1 : s.inner->zerror_file(s.inner->opaque, s.stream);
}

}  // namespace

void FillBufferedFileFunctions(zlib_filefunc64_def* out, const zlib_filefunc64_def* inner)
{
    out->zopen64_file = Open;
    out->zread_file = Read;
    out->zwrite_file = Write;
    out->ztell64_file = Tell;
    out->zseek64_file = Seek;
    out->zclose_file = Close;
    out->zerror_file = Error;
    out->opaque = const_cast<zlib_filefunc64_def*>(inner);
}
