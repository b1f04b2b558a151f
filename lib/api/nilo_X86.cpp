// The five exported functions. Everything else in the shared library is
// hidden; the version script nilo_X86.map lists exactly these (on Windows,
// their dllexport marks in nilo.h do).
#include "api/nilo.h"

#include "api/BRLibrary.h"

void* ConnectURL(const char* url, int direction, const char* user, const char* password) {
    return BRLibrary::instance().connectURL(url, direction, user, password);
}

void DisconnectNILO(const void* handle) { BRLibrary::instance().disconnect(handle); }

NILOState GetData(const void* handle, char* destination, unsigned& size) {
    return BRLibrary::instance().getData(handle, destination, size);
}

const char* GetLog(const void* handle) { return BRLibrary::instance().getLog(handle); }

NILOState WriteData(const void* handle, char* bytes, unsigned count) {
    return BRLibrary::instance().writeData(handle, bytes, count);
}
