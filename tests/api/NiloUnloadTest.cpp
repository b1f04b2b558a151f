// Unloading the shared library with handles still open closes them, and a
// sink's bytes are in its file afterwards. The library is loaded by hand so
// that the test can unload it.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "FileFixture.h"
#include "nilo.h"

namespace {

size_t OpenDescriptorCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

template <typename F>
F Find(void* library, const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
}

TEST(NiloUnloadTest, UnloadClosesOpenHandles) {
    TempFolder folder;
    writeFile((folder / "in.bin"), PatternBytes(40000));
    const size_t fds = OpenDescriptorCount();

    void* library = dlopen(NILO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto connect = Find<decltype(&ConnectURL)>(library, "_Z10ConnectURLPKciS0_S0_");
    auto getData = Find<decltype(&GetData)>(library, "_Z7GetDataPKvPcRj");
    auto writeData = Find<decltype(&WriteData)>(library, "_Z9WriteDataPKvPcj");
    ASSERT_NE(connect, nullptr);
    ASSERT_NE(getData, nullptr);
    ASSERT_NE(writeData, nullptr);
    const size_t loadedFds = OpenDescriptorCount();

    void* source = connect(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
    void* sink = connect(FileUrl((folder / "out.bin")).c_str(), 0, nullptr, nullptr);
    char piece[1000];
    unsigned size = sizeof piece;
    EXPECT_EQ(getData(source, piece, size), NILO_DATA);
    EXPECT_EQ(writeData(sink, piece, size), NILO_DATA);
    EXPECT_EQ(OpenDescriptorCount(), loadedFds + 2);

    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(dlopen(NILO_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library stayed loaded";
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(readFile((folder / "out.bin")), PatternBytes(1000));
}

}  // namespace
