// Minizip file functions that read through a buffer in front of other file
// functions (minizip's Win32 ones). Minizip reads a directory record field by
// field and entry data 16 KB at a time; without a buffer each of those reads is
// one ReadFile, which costs a round trip into the system on every call.
#pragma once
#include "ioapi.h"

// `out` reads through `inner`, which must outlive every archive opened with
// `out`. Each opened archive has a buffer of its own, so archives opened on
// different threads do not share state. Reading only.
void FillBufferedFileFunctions(zlib_filefunc64_def* out, const zlib_filefunc64_def* inner);
