// The block writer, byte for byte.
#include "pack.h"

#include <gtest/gtest.h>

namespace {

using pack::Bytes;

TEST(Pack, EncodesRecordsLittleEndianWithTheirHeaders) {
    pack::Record record =
        pack::MakeRecord(pack::TAG_FILES, pack::FileEntriesPayload({{".", "a.dll", 0x09}}));
    // clang-format off
    Bytes expected = {0x35, 0x12, 0, 0, 15, 0, 0, 0,      // tag, flags, reserved, length
                      1, 0, 0, 0,                         // one entry
                      1, 0, '.',                          // folder
                      5, 0, 'a', '.', 'd', 'l', 'l',      // name
                      0x09};                              // flags
    // clang-format on
    EXPECT_EQ(expected, pack::EncodeRecord(record));

    record.flags = 1;
    record.declaredLength = 0xAABBCCDD;
    Bytes damaged = pack::EncodeRecord(record);
    EXPECT_EQ(Bytes({0x35, 0x12, 1, 0, 0xDD, 0xCC, 0xBB, 0xAA}),
              Bytes(damaged.begin(), damaged.begin() + 8));
}

TEST(Pack, LaysOutTheOptionsTexts) {
    Bytes options = pack::OptionsPayload(3, "run.exe", "http://x/");
    ASSERT_EQ(12u + 8 + 10, options.size());
    EXPECT_EQ(Bytes({3, 0, 0, 0, 12, 0, 0, 0, 20, 0, 0, 0}),
              Bytes(options.begin(), options.begin() + 12));
    EXPECT_EQ(std::string("run.exe"), std::string((const char *)&options[12]));
    EXPECT_EQ(std::string("http://x/"), std::string((const char *)&options[20]));
    EXPECT_EQ(Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), pack::OptionsPayload(0, "", ""));
}

TEST(Pack, StampsOnlyAnImageWithOneMarker) {
    Bytes image = {'M', 'Z', 0, 'w', 'w', 'g', 'T', ')', 'H', 9, 9, 9, 9, 7};
    Bytes block = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
    std::string error;
    ASSERT_TRUE(pack::Stamp(image, block, &error)) << error;
    uint32_t offset = 0;
    ASSERT_TRUE(pack::ReadOffset(image, &offset, &error));
    EXPECT_EQ(14u, offset);
    EXPECT_EQ(22u, image.size());
    EXPECT_EQ(block, Bytes(image.begin() + 14, image.end()));

    struct Case {
        const char *name;
        Bytes image;
    } bad[] = {
        {"no marker", {'M', 'Z', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"two markers",
         {'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0, 'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0}},
        {"a field cut by the end of the file", {'w', 'w', 'g', 'T', ')', 'H', 0, 0}},
    };
    for (const Case &c : bad) {
        SCOPED_TRACE(c.name);
        Bytes copy = c.image;
        EXPECT_FALSE(pack::Stamp(copy, block, &error));
        EXPECT_EQ(c.image, copy) << "a refused image is left as it was";
    }
}

} // namespace
