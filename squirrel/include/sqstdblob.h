#pragma once
// Blob library: growable binary buffers with a read/write position, exposed to scripts as the
// class `blob`, plus the byte-order helpers castf2i, casti2f, swap2, swap4 and swapfloat.
#include <squirrel.h>

// Registers the library into the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_bloblib(HSQUIRRELVM v);
// Payload of the blob at idx (fails when the value is not a blob).
SQUIRREL_API SQRESULT sqstd_getblob(HSQUIRRELVM v, SQInteger idx, SQUserPointer* ptr);
// Payload size in bytes of the blob at idx, or -1 when the value is not a blob.
SQUIRREL_API SQInteger sqstd_getblobsize(HSQUIRRELVM v, SQInteger idx);
// Pushes a new blob of `size` zero bytes and returns its payload (null, nothing pushed and the error set on
// failure). Runs no script: the class the library registered is instantiated directly.
SQUIRREL_API SQUserPointer sqstd_createblob(HSQUIRRELVM v, SQInteger size);
