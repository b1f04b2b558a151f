#pragma once

// nilo: the public interface of the nilo_X86 library.
//
// A program names a source or a sink by URL and gets an opaque handle:
//   ConnectURL     opens it (nonzero direction flag: source, zero: sink)
//   GetData        pulls bytes from a source in pieces of the caller's size
//   WriteData      pushes bytes into a sink
//   GetLog         the protocol text logged since the previous call
//   DisconnectNILO closes it
// Failures to open raise an exception derived from std::exception.

#if defined(_WIN32)
// The DLL's build defines nilo_X86_EXPORTS; programs import the functions.
#if defined(nilo_X86_EXPORTS)
#define NILO_API __declspec(dllexport)
#else
#define NILO_API __declspec(dllimport)
#endif
#else
#define NILO_API __attribute__((visibility("default")))
#endif

enum NILOState {
    NILO_NONE = 0,        // no transfer step yet
    NILO_DATA = 1,        // bytes may have been delivered; more may follow
    NILO_REDIRECTED = 2,  // an HTTP source followed a redirect; more follows
    NILO_MULTIPART = 3,   // multipart stream: each part is preceded by its length (4 bytes, little-endian)
    NILO_END = 4,         // the source has ended and everything was delivered
    NILO_ERROR = 5,       // bad handle, wrong direction, or the transfer failed
};

// Directions inside the library; ConnectURL takes a plain flag instead.
enum : int {
    BR_PROTOCOL_IN = 1,   // a source, read with GetData
    BR_PROTOCOL_OUT = 2,  // a sink, written with WriteData
};

NILO_API void* ConnectURL(const char* url, int direction, const char* user, const char* password);
NILO_API void DisconnectNILO(const void* handle);
// size: in, the room at destination; out, the bytes delivered.
NILO_API NILOState GetData(const void* handle, char* destination, unsigned& size);
// The text stays valid until the next GetLog or DisconnectNILO of the handle.
// At most 64 KiB are kept between two calls; later entries are dropped.
NILO_API const char* GetLog(const void* handle);
NILO_API NILOState WriteData(const void* handle, char* bytes, unsigned count);
