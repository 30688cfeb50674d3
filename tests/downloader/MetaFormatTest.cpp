// The ".meta" format and the Content-Range text: exact lengths, bounds, and bad input.
#include <gtest/gtest.h>

#include <cstring>

#include "downloader/MetaFormat.h"

using namespace downloader;

namespace {

std::vector<uint8_t> MetaBytes(int64_t size, size_t hashBytes) {
    std::vector<uint8_t> bytes(8 + hashBytes, 0xAB);
    const uint64_t raw = static_cast<uint64_t>(size);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(raw >> (8 * i));
    return bytes;
}

TEST(MetaFormat, BlockCountFollowsTheSize) {
    DownloadMetaSimple meta;
    ASSERT_TRUE(CreateDownloadMetaSimple(MetaBytes(0, 0), &meta));
    EXPECT_EQ(meta.fileSize, 0);
    EXPECT_TRUE(meta.hashes.empty());

    ASSERT_TRUE(CreateDownloadMetaSimple(MetaBytes(1048576, 20), &meta));
    EXPECT_EQ(meta.hashes.size(), 1u);
    ASSERT_TRUE(CreateDownloadMetaSimple(MetaBytes(1048577, 40), &meta));
    EXPECT_EQ(meta.fileSize, 1048577);
    EXPECT_EQ(meta.hashes.size(), 2u);
    EXPECT_EQ(meta.hashes[1][0], 0xAB);
}

TEST(MetaFormat, RefusesEveryOtherLength) {
    DownloadMetaSimple meta;
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(1048576, 19), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(1048576, 21), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(1048577, 20), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(0, 20), &meta));
    const std::vector<uint8_t> seven(7, 0);
    EXPECT_FALSE(CreateDownloadMetaSimple(seven, &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(0, 0), nullptr));
}

TEST(MetaFormat, RefusesHugeAndNegativeSizes) {
    DownloadMetaSimple meta;
    // 2^26 blocks would need 1.25 GiB of metadata; refused before the length is even looked at.
    const int64_t tooMany = static_cast<int64_t>(kMaxBlocks) << 20;
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(tooMany, 0), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(tooMany - 1048575, 0), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(INT64_MAX, 0), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(-1, 0), &meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(MetaBytes(-1048576, 0), &meta));
}

TEST(MetaFormat, SerializeRoundTrips) {
    std::vector<BlockHash> hashes(2);
    hashes[0].fill(1);
    hashes[1].fill(2);
    const std::vector<uint8_t> bytes = SerializeDownloadMeta(1048577, hashes);
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[2], 0x10);
    DownloadMetaSimple meta;
    ASSERT_TRUE(CreateDownloadMetaSimple(bytes, &meta));
    EXPECT_EQ(meta.hashes, hashes);
}

TEST(ContentRange, ParsesTheServerForm) {
    int64_t first = -1, last = -1, total = -1;
    ASSERT_TRUE(ParseContentRange("bytes 100-199/1000", first, last, total));
    EXPECT_EQ(first, 100);
    EXPECT_EQ(last, 199);
    EXPECT_EQ(total, 1000);
    ASSERT_TRUE(ParseContentRange("bytes 7340032-10490080/10490081", first, last, total));
    EXPECT_EQ(last - first + 1, 3150049);
    ASSERT_TRUE(ParseContentRange("bytes 0-0/1", first, last, total));
}

TEST(ContentRange, RefusesMalformedText) {
    int64_t first = 5, last = 6, total = 7;
    for (const char* text : {"", "bytes", "bytes abc", "bytes 1-2", "bytes 1-2/*", "bytes */1000", "items 1-2/3",
                             "bytes 5-4/10", "bytes -1-2/3", "bytes 1-2/3 junk", "bytes 99999999999999999999-1/2",
                             "bytes 0-99/50", "bytes 10-10/10", "bytes 0-9223372036854775807/9223372036854775807"}) {
        EXPECT_FALSE(ParseContentRange(text, first, last, total)) << text;
    }
    // What follows a NUL is still part of the value.
    EXPECT_FALSE(ParseContentRange(std::string("bytes 0-1/2\0junk", 16), first, last, total));
    EXPECT_EQ(first, 5);
    EXPECT_EQ(total, 7);
}

TEST(ContentLength, AcceptsOnlyPlainDecimalNumbers) {
    int64_t value = -1;
    EXPECT_TRUE(ParseContentLength("500", value));
    EXPECT_EQ(value, 500);
    EXPECT_FALSE(ParseContentLength("", value));
    EXPECT_FALSE(ParseContentLength("-5", value));
    EXPECT_FALSE(ParseContentLength("12a", value));
    EXPECT_FALSE(ParseContentLength(std::string("12\0 34", 5), value));
}

} // namespace
