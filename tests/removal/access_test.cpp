// Who may change a file or folder: the descriptor the program builds for its folder of items
// that wait for the restart, the reading of descriptors as the system stores them, and paths
// judged folder by folder.
#include "removal_support.h"

#include "guards/guards.h"
#include "support.h"

#include <aclapi.h>
#include <sddl.h>

using namespace removal_tests;
using namespace testing_support;

namespace {

std::string Sddl(const BYTE *descriptor) {
    char *text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            (PSECURITY_DESCRIPTOR)descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return "";
    std::string result = text;
    LocalFree(text);
    return result;
}

// The account this process runs as, as SDDL writes it.
std::string OwnAccount() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "";
    BYTE buffer[256];
    DWORD size;
    std::string result;
    char *text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(((TOKEN_USER *)buffer)->User.Sid, &text)) {
        result = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return result;
}

TEST(Access, TheFolderForTheRestartLetsOnlyAdministratorsIn) {
    BYTE descriptor[128];
    BYTE canary[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    DWORD size = AdministratorsOnlySecurity(descriptor, sizeof descriptor);
    ASSERT_NE(0u, size);
    EXPECT_TRUE(IsValidSecurityDescriptor((PSECURITY_DESCRIPTOR)descriptor));
    EXPECT_EQ(GetSecurityDescriptorLength((PSECURITY_DESCRIPTOR)descriptor), size);
    EXPECT_EQ("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", Sddl(descriptor));
    EXPECT_EQ(0, DescriptorLetsOthers(descriptor, size, 0xFFFFFFFF));
    // A buffer one byte short is refused, and nothing is written past it.
    BYTE tight[sizeof descriptor + sizeof canary];
    FillMemory(tight, sizeof tight, 0xCC);
    EXPECT_EQ(0u, AdministratorsOnlySecurity(tight, size - 1));
    EXPECT_EQ(0, memcmp(tight + size - 1, canary, 1));
}

TEST(Access, DescriptorsAsTheSystemStoresThem) {
    const std::string self = OwnAccount();
    ASSERT_FALSE(self.empty());
    ASSERT_TRUE(RunsAsAdministrator()) << "Wine gives every program an administrator's token";
    static const DWORD replace = RIGHTS_TO_REPLACE, child = RIGHTS_TO_REPLACE_CHILD,
                       add = RIGHTS_TO_ADD;
    const struct {
        const char *name;
        std::string sddl;
        DWORD rights;
        int others;
    } rows[] = {
        {"administrators and the system", "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)", replace | add, 0},
        {"everyone reads", "O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;WD)", replace | add, 0},
        {"everyone writes", "O:BAD:(A;;FA;;;BA)(A;;FA;;;WD)", replace, 1},
        {"users add files, which only adding counts", "O:BAD:(A;;0x1200af;;;BU)", replace, 0},
        {"users add files", "O:BAD:(A;;0x1200af;;;BU)", add, 1},
        {"users delete children", "O:BAD:(A;;0x1200e9;;;BU)", child, 1},
        {"users delete children, which replacing the folder needs not", "O:BAD:(A;;0x1200e9;;;BU)",
         replace, 0},
        {"users change the access", "O:BAD:(A;;WD;;;BU)", replace, 1},
        {"for children only", "O:BAD:(A;OICIIO;FA;;;BU)", replace | child | add, 0},
        {"generic all", "O:BAD:(A;;GA;;;AU)", replace, 1},
        {"a denial takes away only", "O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)", replace, 0},
        {"owned by another account", "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", 0, 1},
        {"owned by TrustedInstaller",
         "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)",
         replace | add, 0},
        {"another account writes", "O:BAD:(A;;FA;;;S-1-5-21-1-2-3-1001)", replace, 1},
        {"this administrator's own account", "O:" + self + "D:(A;;FA;;;" + self + ")",
         replace | add, 0},
        {"no access list: everyone", "O:BA", 0, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            row.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << row.sddl;
        DWORD size = GetSecurityDescriptorLength(descriptor);
        EXPECT_EQ(row.others, DescriptorLetsOthers((const BYTE *)descriptor, size, row.rights))
            << row.sddl;
        // Cut anywhere, it lets everyone in rather than read past its end.
        EXPECT_EQ(1, DescriptorLetsOthers((const BYTE *)descriptor, size / 2, row.rights | 1));
        LocalFree(descriptor);
    }
    // An entry of a kind not read here may grant anything: an allowed entry made a callback.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "O:BAD:(A;;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr));
    DWORD size = GetSecurityDescriptorLength(descriptor);
    BYTE *bytes = (BYTE *)descriptor;
    DWORD dacl = bytes[16] | (bytes[17] << 8);
    ASSERT_LT(dacl + 8, size);
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, bytes[dacl + 8]);
    EXPECT_EQ(0, DescriptorLetsOthers(bytes, size, RIGHTS_TO_REPLACE));
    bytes[dacl + 8] = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    EXPECT_EQ(1, DescriptorLetsOthers(bytes, size, RIGHTS_TO_REPLACE));
    LocalFree(descriptor);
}

// Folders as Wine stores them: its default access (the system, this administrator, everyone
// reading) holds a path; everyone writing, or a link on the way, does not.
TEST(Access, PathsJudgedFolderByFolder) {
    if (!CanCheckNames())
        GTEST_SKIP() << "95/98/Me: every program may change every file";
    std::string folder = ScratchFolder("PathsJudgedFolderByFolder");
    std::string inner = folder + "\\inner", file = inner + "\\held.dll";
    ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(file, "application"));
    EXPECT_EQ(1, PathHeldByAdministrators(file.c_str()));
    EXPECT_EQ(1, FolderHeldByAdministrators(inner.c_str()));
    {
        std::string linked = folder + "\\linked";
        UnixLink link(linked, inner);
        ASSERT_TRUE(link.made());
        EXPECT_EQ(0, PathHeldByAdministrators((linked + "\\held.dll").c_str()));
    }
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
    ASSERT_TRUE(SetFileSecurityA(inner.c_str(), DACL_SECURITY_INFORMATION, open));
    LocalFree(open);
    EXPECT_EQ(0, PathHeldByAdministrators(file.c_str()));
    EXPECT_EQ(0, FolderHeldByAdministrators(inner.c_str()));
    EXPECT_EQ(0, PathHeldByAdministrators("relative\\held.dll"));
}

} // namespace
