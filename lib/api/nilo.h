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
//
// Threads. The functions may be called from any number of threads at once.
// Calls on different handles are independent: a call that waits (GetData
// waits up to about 500 ms for a quiet source; ConnectURL, and a GetData that
// follows a redirect, up to about 10 s per address for a host that does not
// answer) holds up no other handle. Calls on the same handle run one at a
// time, in the order they get to it; a thread that shares a handle with
// another gets a share of its bytes, each call's piece whole. DisconnectNILO
// while another thread is inside a call on the handle waits for that call
// to finish, then closes the handle; calls that were waiting for it, and all
// later ones, find the handle closed (NILO_ERROR, GetLog null). A closed
// handle's value is not given to a later handle (until 2^32 handles have
// been opened on a 32-bit system), so using it by mistake does not reach
// another source. The text GetLog returns belongs to the handle: another
// thread's GetLog or DisconnectNILO of that handle ends it. Diagnostic lines
// on standard output and error are written whole. Unloading the library
// while calls are still running is not allowed.

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
// size: in, the room at destination; out, the bytes delivered. NILO_ERROR
// delivers nothing; for a null, unknown or closed handle size is left as it
// was.
NILO_API NILOState GetData(const void* handle, char* destination, unsigned& size);
// The text stays valid until the next GetLog or DisconnectNILO of the handle.
// At most 64 KiB are kept between two calls; later entries are dropped.
NILO_API const char* GetLog(const void* handle);
NILO_API NILOState WriteData(const void* handle, char* bytes, unsigned count);
