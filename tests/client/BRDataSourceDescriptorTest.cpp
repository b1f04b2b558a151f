// The descriptor's own messages and steps, which the exported functions hide
// behind "can't create data source descriptor" and the handle's buffer.
#include "client/BRDataSourceDescriptor.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "FileFixture.h"
#include "api/nilo.h"
#include "client/BRURLClient.h"
#include "diag/BRException.h"

namespace {

class BRDataSourceDescriptorTest : public ::testing::Test {
protected:
    std::unique_ptr<BRDataSourceDescriptor> make(const std::string& url, int32_t direction) {
        return std::make_unique<BRDataSourceDescriptor>(&client, url, direction, "", "");
    }

    BRURLClient client;
    TempFolder folder;
};

std::string Raised(const std::function<void()>& action) {
    try {
        action();
        return "nothing raised";
    } catch (const BRException& e) {
        return e.what();
    }
}

TEST_F(BRDataSourceDescriptorTest, RefusalsCarryTheirOwnMessages) {
    const std::string missing = (folder / "missing.bin");
    struct Case {
        std::string url;
        int32_t direction;
        std::string message;
    } cases[] = {
        {FileUrl(missing), BR_PROTOCOL_IN, "can't open file /" + missing},
        {FileUrl((folder / "no/dir/out.bin")), BR_PROTOCOL_OUT, "can't open file /" + (folder / "no/dir/out.bin")},
        {"file://", BR_PROTOCOL_IN, "can't open file "},
        {"file://", BR_PROTOCOL_OUT, "can't open file "},
        {"https://camera1/", BR_PROTOCOL_IN, "currently not supported protocol"},
        {"pelix://camera1/", BR_PROTOCOL_IN, "currently not supported protocol"},
        {"gopher://camera1/", BR_PROTOCOL_IN, "currently not supported protocol"},
        {"http://camera1/", BR_PROTOCOL_OUT, "currently not supported protocol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        auto d = make(c.url, c.direction);
        EXPECT_EQ(Raised([&] { d->open(); }), c.message);
        EXPECT_EQ(d->fileIn, nullptr);
        EXPECT_EQ(d->fileOut, nullptr);
        EXPECT_EQ(d->workBuffer, nullptr);
        EXPECT_EQ(d->flags, 0u);
    }
}

TEST_F(BRDataSourceDescriptorTest, ConstructionNeedsAClientAndOpenRunsOnce) {
    EXPECT_EQ(Raised([] { BRDataSourceDescriptor d(nullptr, "file:///x", BR_PROTOCOL_IN, "", ""); }),
              "missing URL client or descriptor ID");
    // The URL is parsed first, so its own refusal wins.
    EXPECT_EQ(Raised([] { BRDataSourceDescriptor d(nullptr, "", BR_PROTOCOL_IN, "", ""); }), "missing URL scheme");

    auto d = make(FileUrl((folder / "out.bin")), BR_PROTOCOL_OUT);
    d->open();
    EXPECT_EQ(d->flags, static_cast<uint32_t>(BR_DS_OPEN));
    EXPECT_EQ(Raised([&] { d->open(); }), "there is an existing connection; can't connect twice");
}

TEST_F(BRDataSourceDescriptorTest, UserAndPasswordReplaceOnlyWhenGiven) {
    BRDataSourceDescriptor both(&client, "http://u:p@camera1/", BR_PROTOCOL_IN, "viewer", "secret");
    EXPECT_EQ(both.url.user, "viewer");
    EXPECT_EQ(both.url.password, "secret");
    BRDataSourceDescriptor userOnly(&client, "http://u:p@camera1/", BR_PROTOCOL_IN, "viewer", "");
    EXPECT_EQ(userOnly.url.user, "viewer");
    EXPECT_EQ(userOnly.url.password, "p");
    BRDataSourceDescriptor neither(&client, "http://u:p@camera1/", BR_PROTOCOL_IN, "", "");
    EXPECT_EQ(neither.url.user, "u");
    EXPECT_EQ(neither.url.password, "p");
    EXPECT_EQ(neither.client, &client);
}

TEST_F(BRDataSourceDescriptorTest, FileSourceReadsInStepsOf16384Bytes) {
    const std::string content = PatternBytes(20000);
    writeFile((folder / "in.bin"), content);
    auto d = make(FileUrl((folder / "in.bin")), BR_PROTOCOL_IN);
    d->open();
    ASSERT_NE(d->workBuffer, nullptr);
    EXPECT_EQ(d->workBuffer->Granularity(), 16384u);

    BRDataBuffer buffer(2048);
    EXPECT_EQ(d->getData(buffer), NILO_DATA);
    EXPECT_EQ(buffer.Size(), 16384u);
    EXPECT_EQ(d->workBuffer->Size(), 0u);  // it only lends its storage
    EXPECT_EQ(d->getData(buffer), NILO_DATA);
    EXPECT_EQ(buffer.Size(), 20000u);
    EXPECT_EQ(d->getData(buffer), NILO_END);
    EXPECT_EQ(d->getData(buffer), NILO_END);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size()), content);
    EXPECT_EQ(d->writeData(buffer), NILO_ERROR);
    EXPECT_EQ(buffer.Size(), 20000u);
}

TEST_F(BRDataSourceDescriptorTest, FileSinkWritesBinaryAndDrainsTheBuffer) {
    auto d = make(FileUrl((folder / "out.bin")), BR_PROTOCOL_OUT);
    d->open();
    EXPECT_EQ(d->workBuffer, nullptr);
    BRDataBuffer buffer(2048);
    EXPECT_EQ(d->writeData(buffer), NILO_DATA);  // nothing to write
    buffer.Append("a\r\nb\n", 5);
    EXPECT_EQ(d->writeData(buffer), NILO_DATA);
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_EQ(readFile((folder / "out.bin")), "a\r\nb\n");
    EXPECT_EQ(d->getData(buffer), NILO_ERROR);
}

TEST_F(BRDataSourceDescriptorTest, LogIsHandedOutOnce) {
    auto d = make(FileUrl((folder / "out.bin")), BR_PROTOCOL_OUT);
    EXPECT_EQ(d->getLog(), "");
    d->log << "GET / HTTP/1.1\r\n";
    EXPECT_EQ(d->getLog(), "GET / HTTP/1.1\r\n");
    EXPECT_EQ(d->getLog(), "");
    d->log << "next";
    EXPECT_EQ(d->getLog(), "next");
}

}  // namespace
