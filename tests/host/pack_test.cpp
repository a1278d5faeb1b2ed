// The block writer and the description reader, byte for byte.
#include "describe.h"
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

TEST(Describe, ReadsEveryKindOfLine) {
    const char *text = "# sample\n"
                       "text Caption\n"
                       "text Remove %s?\r\n"
                       "file shared,comserver .|lib.dll\n"
                       "file - C:\\Data|\n"
                       "folder 2 C:\\A\\B|extra.txt\n"
                       "registry HKLM Software\\Vendor\\App\n"
                       "registry 0x80000001 Software\\V\\\\Name\n"
                       "options wait,keeptheme\n"
                       "program setup.exe /clean\n"
                       "document http://example.test/\n";
    pack::Block block;
    std::string error;
    ASSERT_TRUE(pack::ParseDescription(text, &block, &error)) << error;
    EXPECT_EQ((std::vector<std::string>{"Caption", "Remove %s?"}), block.texts);
    ASSERT_EQ(2u, block.files.size());
    EXPECT_EQ("lib.dll", block.files[0].name);
    EXPECT_EQ(pack::FILE_SHARED | pack::FILE_COMSERVER, block.files[0].flags);
    EXPECT_EQ("C:\\Data", block.files[1].folder);
    EXPECT_EQ("", block.files[1].name);
    ASSERT_EQ(1u, block.folders.size());
    EXPECT_EQ(2, block.folders[0].levels);
    EXPECT_EQ("extra.txt", block.folders[0].file);
    ASSERT_EQ(2u, block.registry.size());
    EXPECT_EQ(0x80000002u, block.registry[0].root);
    EXPECT_EQ(0x80000001u, block.registry[1].root);
    EXPECT_EQ("Software\\V\\\\Name", block.registry[1].path);
    EXPECT_EQ(pack::OPTION_WAIT | pack::OPTION_KEEPTHEME, block.optionFlags);
    EXPECT_EQ("setup.exe /clean", block.program);
    EXPECT_EQ("http://example.test/", block.document);
}

TEST(Describe, RefusesWhatItDoesNotUnderstand) {
    for (const char *line : {"file bogus .|a", "file - no-bar", "registry HKXX Software",
                             "options fast", "remove everything", "registry HKCU"}) {
        SCOPED_TRACE(line);
        pack::Block block;
        std::string error;
        EXPECT_FALSE(pack::ParseDescription(std::string("text a\n") + line + "\n", &block, &error));
        EXPECT_NE(std::string::npos, error.find("line 2"));
    }
}

} // namespace
