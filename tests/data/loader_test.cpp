// The loader against blocks appended to copies of a tiny DLL: the loader reads the file
// behind its module handle, so each copy plays the uninstaller's own file.
#include <gtest/gtest.h>

#include <algorithm>

#include "data/data.h"
#include "support.h"

using namespace testing_support;
using pack::Bytes;
using pack::MakeRecord;
using pack::Record;

namespace {

const std::vector<std::string> kTexts = {"Caption", "Sure? %s", "Done",       "",           "",
                                         "",        "",         "Memory: %s", "Damaged: %s"};

Record Strings(const std::vector<std::string> &texts) {
    return MakeRecord(pack::TAG_STRINGS, pack::StringTablePayload(texts));
}
Record Files(const std::vector<pack::FileEntry> &entries) {
    return MakeRecord(pack::TAG_FILES, pack::FileEntriesPayload(entries));
}
Record Folders(const std::vector<pack::FolderEntry> &entries) {
    return MakeRecord(pack::TAG_FOLDERS, pack::FolderEntriesPayload(entries));
}
Record Registry(const std::vector<pack::RegistryEntry> &entries) {
    return MakeRecord(pack::TAG_REGISTRY, pack::RegistryEntriesPayload(entries));
}
Record Options(uint32_t flags, const std::string &program = "", const std::string &document = "") {
    return MakeRecord(pack::TAG_OPTIONS, pack::OptionsPayload(flags, program, document));
}
Record Raw(uint16_t tag, Bytes payload = {}) {
    return MakeRecord(tag, std::move(payload));
}
Record End() {
    return Raw(pack::TAG_END);
}

std::vector<std::string> FileNames() {
    std::vector<std::string> names;
    for (DWORD i = 0; i < fileEntryCount; i++)
        names.push_back(std::string(fileEntries[i]->folder) + "|" + fileEntries[i]->name);
    return names;
}

class Loader : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder("loader");
        ASSERT_TRUE(pack::ReadWholeFile(BuildFolder() + "\\tests\\fixtures\\blockhost.dll", &host_,
                                        nullptr));
        modulePath = modulePathBuffer_;
        FreeUninstallData();
    }
    void TearDown() override {
        FreeUninstallData();
        if (library_)
            FreeLibrary(library_);
        moduleHandle = nullptr;
        mainWindow = nullptr;
    }

    // Appends the bytes to a fresh copy of the host DLL, loads it and runs the loader; the
    // boxes it shows are answered with OK and kept in boxes_.
    int Load(const Bytes &block, uint32_t offsetDelta = 0, bool useOffsetZero = false) {
        static int copies = 0;
        path_ = folder_ + "\\host" + std::to_string(++copies) + ".dll";
        Bytes image = host_;
        image.insert(image.end(), block.begin(), block.end());
        if (!pack::WriteWholeFile(path_, image, nullptr))
            return -100;
        if (library_)
            FreeLibrary(library_);
        library_ = LoadLibraryA(path_.c_str());
        if (!library_)
            return -101;
        moduleHandle = library_;
        uninstallLocator.uninstallDataOffset =
            useOffsetZero ? 0 : uint32_t(host_.size()) + offsetDelta;
        BoxWatcher watcher(GetCurrentProcessId(), {}, Action::Press(IDOK));
        int result = LoadUninstallData();
        boxes_ = watcher.Stop();
        return result;
    }
    int Load(const std::vector<Record> &records) {
        return Load(pack::EncodeRecords(records));
    }

    std::string folder_, path_;
    Bytes host_;
    HMODULE library_ = nullptr;
    char modulePathBuffer_[PATH_SIZE] = {};
    std::vector<Box> boxes_;
};

TEST_F(Loader, ReadsAWellFormedBlockIntoTheLists) {
    pack::Block block;
    block.texts = kTexts;
    block.files = {{".", "app.exe", pack::FILE_CHECKINUSE}, {"C:\\Shared", "lib.dll", 0x05}};
    block.folders = {{2, "C:\\A\\B", "extra.txt"}};
    block.registry = {{0x80000002, "Software\\Vendor\\App"}};
    block.optionFlags = pack::OPTION_WAIT;
    block.program = "setup.exe";
    block.document = "http://example.test/";
    ASSERT_EQ(1, Load(pack::EncodeBlock(block)));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_STREQ(path_.c_str(), modulePath);

    EXPECT_STREQ("Sure? %s", GetMessageText(1));
    ASSERT_EQ(2u, fileEntryCount);
    EXPECT_STREQ(".", fileEntries[0]->folder);
    EXPECT_STREQ("app.exe", fileEntries[0]->name);
    EXPECT_EQ(pack::FILE_CHECKINUSE, fileEntries[0]->flags);
    EXPECT_EQ(0x05, fileEntries[1]->flags);
    ASSERT_EQ(1u, folderEntryCount);
    EXPECT_EQ(2u, folderEntries[0]->levels);
    EXPECT_STREQ("C:\\A\\B", folderEntries[0]->folder);
    EXPECT_STREQ("extra.txt", folderEntries[0]->file);
    ASSERT_EQ(1u, registryEntryCount);
    EXPECT_EQ(0x80000002u, registryEntries[0]->root);
    EXPECT_STREQ("Software\\Vendor\\App", registryEntries[0]->path);
    EXPECT_EQ(pack::OPTION_WAIT, GetOptionFlags());
    EXPECT_STREQ("setup.exe", GetProgramName());
    EXPECT_STREQ("http://example.test/", GetDocumentName());

    FreeUninstallData();
    EXPECT_EQ(nullptr, stringTable);
    EXPECT_EQ(nullptr, fileEntries);
    EXPECT_EQ(0u, fileEntryCount);
    EXPECT_EQ(nullptr, optionsRecord);
    EXPECT_STREQ("", GetMessageText(1));
}

TEST_F(Loader, FollowsTheStreamRules) {
    Record endWithPayload = Raw(pack::TAG_END, {1, 2, 3, 4});
    Record padded = Files({{"C:\\P", "padded.txt", 0}});
    padded.payload.insert(padded.payload.end(), 7, 0xEE); // excess skipped by length
    Record emptyOptions = Raw(pack::TAG_OPTIONS);         // length 0: nothing dispatched
    Record emptyFiles = Raw(pack::TAG_FILES);
    Bytes afterEnd = pack::EncodeRecords({Files({{"C:\\X", "after-end.txt", 0}})});

    struct Case {
        const char *name;
        std::vector<Record> records;
        Bytes trailing;
        std::vector<std::string> files;
        std::string text1;
        DWORD flags;
    } cases[] = {
        {"two file records append in stream order",
         {Files({{"C:\\A", "1", 0}, {"C:\\A", "2", 0}}),
          Files({{"C:\\B", "3", 0}, {"C:\\B", "4", 0}, {"C:\\B", "5", 0}}), End()},
         {},
         {"C:\\A|1", "C:\\A|2", "C:\\B|3", "C:\\B|4", "C:\\B|5"},
         "",
         0},
        {"records come in any order",
         {Options(2), Files({{"C:\\A", "1", 0}}), Strings({"c", "one"}), End()},
         {},
         {"C:\\A|1"},
         "one",
         2},
        {"a later options record replaces the earlier",
         {Options(1), Options(2), End()},
         {},
         {},
         "",
         2},
        {"an options record of length 0 keeps the earlier",
         {Options(1), emptyOptions, End()},
         {},
         {},
         "",
         1},
        {"a later string table replaces the earlier",
         {Strings({"c", "old"}), Strings({"c", "new"}), End()},
         {},
         {},
         "new",
         0},
        {"a string table with no strings keeps the earlier",
         {Strings({"c", "old"}), Strings({}), End()},
         {},
         {},
         "old",
         0},
        {"a string table count of 0 yields no texts",
         {Raw(pack::TAG_STRINGS, {0, 0}), End()},
         {},
         {},
         "",
         0},
        {"only the first of three tables is read",
         {MakeRecord(pack::TAG_STRINGS,
                     pack::StringTablesPayload({{"c", "first"}, {"c", "second"}, {"third"}})),
          End()},
         {},
         {},
         "first",
         0},
        {"tags without a reader are skipped by their length",
         {Raw(0x1238, {1, 2, 3}), Raw(0x1239, {9}), Raw(0x4242, Bytes(300, 0x34)),
          Files({{"C:\\A", "kept", 0}}), End()},
         {},
         {"C:\\A|kept"},
         "",
         0},
        {"a payload longer than its entries is skipped to its end",
         {padded, Files({{"C:\\Q", "next.txt", 0}}), End()},
         {},
         {"C:\\P|padded.txt", "C:\\Q|next.txt"},
         "",
         0},
        {"an end record with a payload ends the stream", {endWithPayload}, afterEnd, {}, "", 0},
        {"zero entries and empty records add nothing",
         {Files({}), emptyFiles, Folders({}), Registry({}), End()},
         {},
         {},
         "",
         0},
        {"an entry with two empty texts", {Files({{"", "", 0}}), End()}, {}, {"|"}, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FreeUninstallData();
        Bytes block = pack::EncodeRecords(c.records);
        block.insert(block.end(), c.trailing.begin(), c.trailing.end());
        ASSERT_EQ(1, Load(block));
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(c.files, FileNames());
        EXPECT_STREQ(c.text1.c_str(), GetMessageText(1));
        EXPECT_EQ(c.flags, GetOptionFlags());
    }
}

// Every failure ends the load with 0 and shows the message text of its code, formatted
// with the module path, from the texts loaded so far.
TEST_F(Loader, ReportsEachFailureWithTheTextOfItsCode) {
    if (Emulated())
        GTEST_SKIP() << "under a user-mode emulator Wine's X11 driver ends a program that "
                        "opens and closes boxes of its own this fast (BadWindow); the real "
                        "uninstaller's boxes are read and answered in program_tests";
    Record refused = Options(0);
    refused.flags = 1;
    Record shortOptions = Options(0, "run.exe");
    shortOptions.declaredLength = uint32_t(shortOptions.payload.size() + 50);
    Record hugeOptions = Options(0);
    hugeOptions.declaredLength = 0xFFFFFFF0u;
    Record shortFiles = Files({{"C:\\A", "one.txt", 0}, {"C:\\A", "two.txt", 0}});
    shortFiles.declaredLength = uint32_t(shortFiles.payload.size() - 3);
    Record hugeCount = Files({{"C:\\A", "one.txt", 0}});
    hugeCount.payload[0] = hugeCount.payload[1] = hugeCount.payload[2] = hugeCount.payload[3] =
        0xFF;
    Record pastEnd = Raw(0x1238, {1, 2});
    pastEnd.declaredLength = 4000;
    Bytes partialHeader = {0x35, 0x12, 0, 0};

    const std::string texts = "Caption";
    struct Case {
        const char *name;
        std::vector<Record> records;
        Bytes trailing;
        const char *format; // expected text, %s standing for the module path
        const char *caption;
        DWORD files; // entries of earlier records stay; those of a refused record never count
    } cases[] = {
        {"a stream without an end record",
         {Strings(kTexts), Files({{"C:\\A", "a", 0}})},
         {},
         "Damaged: %s",
         "Caption",
         1},
        {"a header cut short", {Strings(kTexts)}, partialHeader, "Damaged: %s", "Caption"},
        {"a failure before the string table shows an empty box", {Raw(0x1238, {1})}, {}, "", ""},
        {"an options record flagged as refused",
         {Strings(kTexts), refused},
         {},
         "Sure? %s",
         "Caption"},
        {"an options payload cut short",
         {Strings(kTexts), shortOptions},
         {},
         "Sure? %s",
         "Caption"},
        {"an options length past the end of the file",
         {Strings(kTexts), hugeOptions},
         {},
         "Sure? %s",
         "Caption"},
        {"file entries that do not fit their record",
         {Strings(kTexts), shortFiles, End()},
         {},
         "Damaged: %s",
         "Caption"},
        {"an entry count far beyond the record",
         {Strings(kTexts), hugeCount, End()},
         {},
         "Damaged: %s",
         "Caption"},
        {"a payload that runs past the end of the file",
         {Strings(kTexts), pastEnd, End()},
         {},
         "Damaged: %s",
         "Caption"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FreeUninstallData();
        Bytes block = pack::EncodeRecords(c.records);
        block.insert(block.end(), c.trailing.begin(), c.trailing.end());
        EXPECT_EQ(0, Load(block));
        ASSERT_EQ(1u, boxes_.size());
        std::string expected = c.format;
        size_t at = expected.find("%s");
        if (at != std::string::npos)
            expected.replace(at, 2, path_);
        EXPECT_EQ(expected, boxes_[0].text);
        EXPECT_EQ(std::string(c.caption), boxes_[0].caption);
        EXPECT_EQ(c.files, fileEntryCount);
    }
}

TEST_F(Loader, FailsSilentlyWithoutAnOffsetAndReportsAnEmptyBlock) {
    EXPECT_EQ(0, Load(Bytes{}, 0, true));
    EXPECT_TRUE(boxes_.empty()) << "an offset of 0 shows nothing";

    EXPECT_EQ(0, Load(Bytes{})); // nothing appended: the first header meets the end
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ("", boxes_[0].text);
    EXPECT_EQ("", boxes_[0].caption);
}

TEST_F(Loader, KeepsEarlierTextsWhenAStringTableIsCutShort) {
    Record cut = Strings({"New caption", "new one", "", "", "", "", "", "", "New damaged %s"});
    cut.declaredLength = 20;
    EXPECT_EQ(0, Load({Strings(kTexts), cut, End()}));
    ASSERT_EQ(1u, boxes_.size());
    EXPECT_EQ("Damaged: " + path_, boxes_[0].text);
    EXPECT_STREQ("Caption", GetMessageText(0));
}

// Texts that do not fit the scratch buffer (two paths of 777 bytes, the longest path the
// system takes in UTF-8, with their terminators) drop their entry, whole; the rest of the
// record is read normally.
TEST_F(Loader, DropsEntriesWhoseTextsDoNotFit) {
    const DWORD half = SCRATCH_SIZE / 2 - 1;
    const std::string a259(half, 'a'), b259(half, 'b'), b260(half + 1, 'b');
    const std::string r519(SCRATCH_SIZE - 1, 'r'), r520(SCRATCH_SIZE, 'r');
    ASSERT_EQ(1, Load({Files({{a259, b259, 0}, {a259, b260, 0}, {"C:\\A", "after", 0}}),
                       Folders({{1, b260, a259}, {0, "C:\\F", ""}}),
                       Registry({{0x80000001, r520}, {0x80000001, r519}}), End()}));
    ASSERT_EQ(2u, fileEntryCount);
    EXPECT_EQ(b259, std::string(fileEntries[0]->name)); // both with terminators just fit
    EXPECT_STREQ("after", fileEntries[1]->name);
    ASSERT_EQ(1u, folderEntryCount);
    EXPECT_STREQ("C:\\F", folderEntries[0]->folder);
    ASSERT_EQ(1u, registryEntryCount);
    EXPECT_EQ(r519, std::string(registryEntries[0]->path));
}

// A record much longer than one read of the loader: entries of varying lengths straddle
// the pieces it reads, and texts that do not fit are passed over both within a piece and
// across several. Every other entry comes out whole and in order, and the record after it
// is read from where its header says.
TEST_F(Loader, ReadsRecordsLargerThanOneRead) {
    std::vector<pack::FileEntry> files;
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; i++) {
        std::string folder = "C:\\Folder" + std::string(size_t(i % 37), 'f');
        std::string name = "file" + std::to_string(i) + std::string(size_t(i % 11), 'n');
        if (i == 700)
            name = std::string(1600, 's'); // dropped; read past inside one piece
        if (i == 1500)
            name = std::string(40000, 'l'); // dropped; read past across pieces
        files.push_back({folder, name, uint8_t(i % 16)});
        if (i != 700 && i != 1500)
            expected.push_back(folder + "|" + name);
    }
    ASSERT_GT(pack::FileEntriesPayload(files).size(), 100000u);
    ASSERT_EQ(1, Load({Files(files), Registry({{0x80000001, "Software\\After"}}), End()}));
    EXPECT_EQ(expected, FileNames());
    ASSERT_EQ(2998u, fileEntryCount);
    EXPECT_EQ(2999 % 16, fileEntries[2997]->flags);
    ASSERT_EQ(1u, registryEntryCount);
    EXPECT_STREQ("Software\\After", registryEntries[0]->path);

    // The same record at the very end of the file: no read goes past it, so its entries
    // load before the missing end record is reported.
    FreeUninstallData();
    ASSERT_EQ(0, Load({Files(files)}));
    EXPECT_EQ(expected, FileNames());
}

// A text with a zero byte inside would end there, and its rest would be read as the next
// text: the folder "C:\\A" + zero + "victim.txt" with the name "intended.txt" would name
// C:\\A\\victim.txt, which nothing lists. Such an entry is dropped, whole; so is a registry
// path cut at a zero byte, which would widen a tree deletion.
TEST_F(Loader, DropsEntriesWhoseTextsHoldAZeroByte) {
    using namespace std::string_literals;
    const std::string victim = "C:\\A\0victim.txt"s;
    ASSERT_EQ(1, Load({Files({{victim, "intended.txt", 0},
                              {"C:\\A", "intended.txt\0victim.txt"s, 0},
                              {"C:\\A", "kept.txt", 0},
                              {"C:\\A\0"s, "", 0}}),
                       Folders({{1, victim, "intended.txt"},
                                {1, "C:\\A", "\0victim.txt"s},
                                {2, "C:\\F", "kept.txt"}}),
                       Registry({{0x80000001, "Software\0\\Vendor\\App"s},
                                 {0x80000001, "Software\\Vendor\\App\0"s},
                                 {0x80000001, "Software\\Vendor\\Kept"}}),
                       End()}));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(std::vector<std::string>{"C:\\A|kept.txt"}, FileNames());
    ASSERT_EQ(1u, folderEntryCount);
    EXPECT_STREQ("C:\\F", folderEntries[0]->folder);
    EXPECT_STREQ("kept.txt", folderEntries[0]->file);
    ASSERT_EQ(1u, registryEntryCount);
    EXPECT_STREQ("Software\\Vendor\\Kept", registryEntries[0]->path);
}

// The loader reads at the block's offset or not at all. The system takes a seek of 2 GiB
// or more as negative and leaves the file where it was, at its start: a stream planted in
// the executable's own header (bytes 4 to 59 of the DOS header, which no system reads)
// would be read instead. An offset that lands on the planted stream shows it is one.
TEST_F(Loader, ReadsNothingFromAnOffsetItCannotReach) {
    Bytes stream = pack::EncodeRecords({Files({{"C:\\P", "header", 0}}), End()});
    ASSERT_LE(stream.size() + 8, 0x3Cu) << "the stream must end before the PE header's offset";
    // SetUp reads the host afresh for every test.
    std::fill(host_.begin() + 4, host_.begin() + 8, 0); // "MZ" with a length of 0
    std::copy(stream.begin(), stream.end(), host_.begin() + 8);
    struct Case {
        const char *name;
        uint32_t offset;
        int result;
        std::vector<std::string> files;
    } cases[] = {
        {"the planted stream itself", 8, 1, {"C:\\P|header"}},
        {"2 GiB", 0x80000000u, 0, {}},
        {"the largest offset", 0xFFFFFFFFu, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FreeUninstallData();
        EXPECT_EQ(c.result, Load(Bytes{}, c.offset - uint32_t(host_.size())));
        EXPECT_EQ(c.files, FileNames());
        EXPECT_EQ(c.result ? 0u : 1u, boxes_.size()) << "a block that cannot be read is reported";
    }
}

// A missing or damaged options record never leads a read outside it.
TEST_F(Loader, ReadsOptionsOnlyInsideTheRecord) {
    auto with = [](Bytes payload) {
        return std::vector<Record>{Raw(pack::TAG_OPTIONS, payload), End()};
    };
    Bytes unterminated = pack::OptionsPayload(3, "run.exe", "");
    unterminated.pop_back();
    Bytes outside = {1, 0, 0, 0, 200, 0, 0, 0, 12, 0, 0, 0};
    struct Case {
        const char *name;
        std::vector<Record> records;
        DWORD flags;
        const char *program;
        const char *document;
    } cases[] = {
        {"no options record", {End()}, 0, nullptr, nullptr},
        {"a record shorter than 12 bytes", with({3, 0, 0, 0, 12, 0, 0}), 0, nullptr, nullptr},
        {"an offset past the record", with(outside), 1, nullptr, nullptr},
        {"a text without its terminator", with(unterminated), 3, nullptr, nullptr},
        {"both texts", with(pack::OptionsPayload(0, "a.exe", "b.htm")), 0, "a.exe", "b.htm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FreeUninstallData();
        ASSERT_EQ(1, Load(c.records));
        EXPECT_EQ(c.flags, GetOptionFlags());
        EXPECT_STREQ(c.program, GetProgramName());
        EXPECT_STREQ(c.document, GetDocumentName());
    }
}

} // namespace
