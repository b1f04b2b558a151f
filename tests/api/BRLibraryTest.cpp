// What the exported functions cannot show: how much the handle tables hold.
#include "api/BRLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileFixture.h"

namespace {

TEST(BRLibraryTest, SourceBufferStaysBoundedWhateverThePieceSize) {
    TempFolder folder;
    const std::string content = PatternBytes(512 * 1024);
    writeFile((folder / "in.bin"), content);
    BRLibrary& library = BRLibrary::instance();

    for (unsigned room : {1u, 1023u, 20000u}) {
        SCOPED_TRACE(room);
        void* h = library.connectURL(FileUrl((folder / "in.bin")).c_str(), 1, nullptr, nullptr);
        std::vector<char> destination(room);
        std::string bytes;
        uint32_t largest = 0;
        for (NILOState r = NILO_DATA; r <= NILO_MULTIPART;) {
            unsigned size = room;
            r = library.getData(h, destination.data(), size);
            bytes.append(destination.data(), size);
            largest = std::max(largest, library.bufferedBytes(h));
            if (largest >= room + 16384u) break;  // unbounded: stop before it gets slow
        }
        // At most one 16384-byte step beyond what a caller takes per call.
        EXPECT_LT(largest, room + 16384u);
        EXPECT_EQ(bytes, content);
        library.disconnect(h);
    }
}

TEST(BRLibraryTest, FailedSinkKeepsNothingBuffered) {
    NILO_SKIP_WITHOUT_FULL_DEVICE();
    BRLibrary& library = BRLibrary::instance();
    void* h = library.connectURL(FileUrl("/dev/full").c_str(), 0, nullptr, nullptr);
    const std::string bytes = PatternBytes(50000);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(library.writeData(h, bytes.data(), 50000), NILO_ERROR);
    EXPECT_EQ(library.bufferedBytes(h), 0u);
    library.disconnect(h);
}

}  // namespace

namespace {

TEST(BRLibraryTest, LoadingBuildsTheCssRegistryAndColourSet) {
    const BRLibrary& library = BRLibrary::instance();
    EXPECT_EQ(library.propertyRegistry().getPropertyFactories().size(), 175u);
    EXPECT_EQ(library.propertyRegistry().getHelperFactories().size(), 12u);
    EXPECT_EQ(library.colorNames().size(), 140u);
}

}  // namespace
