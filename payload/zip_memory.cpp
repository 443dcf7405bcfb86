#include "payload/zip_memory.h"

#include <cstring>
#include <new>

namespace {

struct Stream {
    const MemoryFile* file;
    uint64_t position;
};

voidpf ZCALLBACK Open(voidpf opaque, const void*, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return new (std::nothrow) Stream{static_cast<const MemoryFile*>(opaque), 0};
}

uLong ZCALLBACK Read(voidpf, voidpf stream, void* buf, uLong size)
{
    auto& s = *static_cast<Stream*>(stream);
    if (s.position >= s.file->size) return 0;
    uint64_t left = s.file->size - s.position;
    uLong part = left < size ? static_cast<uLong>(left) : size;
    std::memcpy(buf, s.file->data + s.position, part);
    s.position += part;
    return part;
}

uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->position; }

// Like a file: positions beyond the end are allowed, reads there give nothing.
long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto& s = *static_cast<Stream*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: s.position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: s.position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END: s.position = s.file->size + offset; return 0;
    default: return -1;
    }
}

int ZCALLBACK Close(voidpf, voidpf stream)
{
    delete static_cast<Stream*>(stream);
    return 0;
}

int ZCALLBACK Error(voidpf, voidpf) { return 0; }

}  // namespace

void FillMemoryFileFunctions(zlib_filefunc64_def* out, const MemoryFile* file)
{
    out->zopen64_file = Open;
    out->zread_file = Read;
    out->zwrite_file = Write;
    out->ztell64_file = Tell;
    out->zseek64_file = Seek;
    out->zclose_file = Close;
    out->zerror_file = Error;
    out->opaque = const_cast<MemoryFile*>(file);
}
