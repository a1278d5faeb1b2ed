// The fuzz build's stand-ins do what the fuzz test relies on: a guarded block ends where an
// inaccessible page begins and keeps the memory helpers' contract, and the memory file reads
// and positions the way a real file does under ReadFile and SetFilePointer.
#include <gtest/gtest.h>

#include "data/data.h"
#include "fuzz_support.h"
#include "pack.h"
#include "support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool PageIsInaccessible(const void *address) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(address, &info, sizeof info))
        return false;
    return info.State != MEM_COMMIT || info.Protect == PAGE_NOACCESS;
}

// Under a user-mode emulator Wine cannot commit a page of a reserved region, so no guarded
// block can be made: every test here and in the fuzzer would fail for that alone.
class GuardPagesAvailable : public ::testing::Environment {
  public:
    void SetUp() override {
        if (testing_support::Emulated())
            GTEST_SKIP() << "Wine under a user-mode emulator commits no page of a reserved "
                            "region; guarded blocks need that";
    }
};
const ::testing::Environment *const guardPages =
    ::testing::AddGlobalTestEnvironment(new GuardPagesAvailable);

TEST(GuardedMemory, EveryBlockEndsAtAnInaccessiblePage) {
    static const DWORD sizes[] = {0, 1, 7, 520, 4095, 4096, 4097, 10000};
    fuzz::ResetMemoryStats();
    for (DWORD size : sizes) {
        SCOPED_TRACE(size);
        for (int zeroed = 0; zeroed < 2; zeroed++) {
            BYTE *block = 0;
            ASSERT_TRUE(zeroed ? AllocateZeroed((void **)&block, size)
                               : AllocateMemory((void **)&block, size));
            EXPECT_EQ(0u, (ULONG_PTR)(block + size) % 4096) << "the block does not end a page";
            EXPECT_TRUE(PageIsInaccessible(block + size));
            EXPECT_EQ(size, fuzz::BlockSize(block));
            for (DWORD i = 0; i < size; i++)
                ASSERT_EQ(zeroed ? 0 : 0xCD, block[i]) << "byte " << i;
            ReleaseMemory((void **)&block);
            EXPECT_EQ(nullptr, block);
        }
    }
    EXPECT_EQ("", fuzz::GetMemoryStats().error);
    EXPECT_EQ(0u, fuzz::GetMemoryStats().live);
}

TEST(GuardedMemory, ResizeKeepsTheBytesAndARefusedOneKeepsTheBlock) {
    fuzz::ResetMemoryStats();
    BYTE *block = 0;
    ASSERT_TRUE(AllocateZeroed((void **)&block, 10));
    for (int i = 0; i < 10; i++)
        block[i] = BYTE(i + 1);
    ASSERT_TRUE(ResizeMemory((void **)&block, 5000));
    EXPECT_TRUE(PageIsInaccessible(block + 5000));
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(i + 1, block[i]);
    ASSERT_TRUE(ResizeMemory((void **)&block, 4));
    EXPECT_EQ(4u, fuzz::BlockSize(block));
    EXPECT_EQ(4, block[3]);

    BYTE *before = block;
    fuzz::FailRequests(fuzz::GetMemoryStats().requests + 1, false);
    EXPECT_FALSE(ResizeMemory((void **)&block, 8));
    EXPECT_EQ(before, block);
    EXPECT_EQ(4u, fuzz::BlockSize(block));
    EXPECT_TRUE(AllocateMemory((void **)&block, 8)) << "only the one request is refused";
    ReleaseMemory((void **)&block);
    ReleaseMemory((void **)&before);
    EXPECT_EQ(0u, fuzz::GetMemoryStats().live);
    EXPECT_EQ("", fuzz::GetMemoryStats().error);
}

TEST(GuardedMemory, ReportsAWriteBeforeABlockAndAForeignRelease) {
    fuzz::ResetMemoryStats();
    BYTE *block = 0;
    ASSERT_TRUE(AllocateMemory((void **)&block, 100));
    block[-1] = 0;
    ReleaseMemory((void **)&block);
    EXPECT_NE(std::string::npos, fuzz::GetMemoryStats().error.find("bytes before a block"));

    fuzz::ResetMemoryStats();
    char local[4];
    void *foreign = local;
    ReleaseMemory(&foreign);
    EXPECT_NE(std::string::npos, fuzz::GetMemoryStats().error.find("not a live block"));
    fuzz::ResetMemoryStats();
}

// The same operations on a real file, through the system, and on the memory file, through
// the stand-in helpers, give the same results, bytes and positions.
TEST(MemoryFile, ReadsAndSeeksAsARealFileDoes) {
    Bytes content;
    for (int i = 0; i < 40; i++)
        content.push_back(uint8_t(i * 7));
    std::string folder = testing_support::ScratchFolder("memoryfile");
    std::string path = folder + "\\file.bin";
    ASSERT_TRUE(pack::WriteWholeFile(path, content, nullptr));
    HANDLE real = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, real);
    fuzz::SetMemoryFile(path, &content);
    fuzz::ResetFileStats(1000);
    HANDLE memory = OpenExistingFile(path.c_str(), OPEN_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, memory);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenExistingFile("C:\\other.bin", OPEN_READ));

    struct Step {
        const char *name;
        int seek; // 1: set the position first
        DWORD position;
        DWORD read;
    } steps[] = {
        {"a read from the start", 0, 0, 8},
        {"a read of nothing", 0, 0, 0},
        {"a read across the end", 1, 36, 8},
        {"a read at the end", 0, 0, 4},
        {"a position past the end, then a read", 1, 100, 2},
        {"a position of 2 GiB and more is refused", 1, 0x80000000u, 4},
        {"a position of 0xFFFFFFFF is refused", 1, 0xFFFFFFFFu, 4},
        {"back to the start", 1, 0, 40},
        {"the largest position that is taken", 1, 0x7FFFFFFF, 1},
    };
    EXPECT_EQ(GetFileSize(real, 0), GetFileLength(memory));
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        if (s.seek) {
            SetFilePointer(real, LONG(s.position), 0, FILE_BEGIN);
            SetFilePosition(memory, s.position);
        }
        Bytes a(s.read + 1, 0xEE), b(s.read + 1, 0xEE);
        DWORD got = 0;
        int realResult = !ReadFile(real, a.data(), s.read, &got, 0) || got != s.read;
        EXPECT_EQ(realResult, ReadExactly(memory, b.data(), s.read));
        EXPECT_EQ(a, b);
        EXPECT_EQ(SetFilePointer(real, 0, 0, FILE_CURRENT), GetFilePosition(memory));
    }
    CloseHandle(real);
    CloseFile(memory);
    EXPECT_EQ("", fuzz::GetFileStats().error);
    CloseFile(memory);
    EXPECT_NE("", fuzz::GetFileStats().error) << "a second close is reported";
    testing_support::RemoveTree(folder);
}

} // namespace
