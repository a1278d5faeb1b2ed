// The resources as they are in the built uninstall.exe: both dialog templates, the manifest
// and the icon group, read back from the file and compared with the tables they follow.
#include "ui_support.h"

#include <cstring>

using namespace testing_support;
using namespace ui_tests;

namespace {

const WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Resource {
    const BYTE *data = nullptr;
    DWORD size = 0;
};

Resource Find(LPCSTR type, LPCSTR name) {
    Resource found;
    HRSRC info = FindResourceExA(ProgramResources(), type, name, kEnglishUS);
    if (!info)
        return found;
    HGLOBAL loaded = LoadResource(ProgramResources(), info);
    found.data = (const BYTE *)LockResource(loaded);
    found.size = SizeofResource(ProgramResources(), info);
    return found;
}

// Reads a classic dialog template field by field, keeping to the resource's size.
class TemplateReader {
  public:
    explicit TemplateReader(Resource resource) : r_(resource) {}
    bool ok() const {
        return ok_;
    }
    DWORD Dword() {
        DWORD value = 0;
        Take(&value, 4);
        return value;
    }
    WORD Word() {
        WORD value = 0;
        Take(&value, 2);
        return value;
    }
    short Short() {
        return (short)Word();
    }
    // A name or ordinal: empty, 0xFFFF and a number (shown as "#n"), or a string.
    std::string NameOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c && ok_; c = Word())
            text += (char)c;
        return text;
    }
    void AlignDword() {
        at_ = (at_ + 3) & ~3u;
    }

  private:
    void Take(void *target, DWORD count) {
        if (at_ + count > r_.size) {
            ok_ = false;
            std::memset(target, 0, count);
            return;
        }
        std::memcpy(target, r_.data + at_, count);
        at_ += count;
    }
    Resource r_;
    DWORD at_ = 0;
    bool ok_ = true;
};

struct ControlRow {
    WORD id;
    const char *cls; // "#128" button, "#130" static, or a class name
    short x, y, cx, cy;
    DWORD style;
};

struct DialogRow {
    WORD id;
    DWORD style;
    std::vector<ControlRow> controls;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DialogRow kDialogs[] = {
    {IDD_READONLY,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
     {{IDYES, "#128", 20, 52, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
      {IDC_YESTOALL, "#128", 75, 52, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON},
      {IDC_TEXT, "#130", 7, 7, 243, 36, kChild | WS_GROUP | SS_LEFT},
      {IDNO, "#128", 130, 52, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON},
      {IDC_NOTOALL, "#128", 186, 52, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON}}},
    {IDD_PROGRESS,
     WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
     {{IDC_TEXT, "#130", 7, 24, 243, 8, kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX},
      {IDC_PROGRESS, "msctls_progress32", 7, 38, 243, 12, kChild}}},
};

TEST(Resources, DialogTemplatesMatchTheirTables) {
    for (const DialogRow &dialog : kDialogs) {
        SCOPED_TRACE(dialog.id);
        Resource resource = Find(RT_DIALOG, MAKEINTRESOURCEA(dialog.id));
        ASSERT_NE(nullptr, resource.data) << "no English (US) template";
        TemplateReader t(resource);
        DWORD style = t.Dword();
        ASSERT_NE(0xFFFF0001u, style) << "an extended template";
        EXPECT_EQ(dialog.style, style) << std::hex << style;
        EXPECT_EQ(0u, t.Dword()) << "extended style";
        WORD count = t.Word();
        short x = t.Short(), y = t.Short(), cx = t.Short(), cy = t.Short();
        EXPECT_EQ(0, x);
        EXPECT_EQ(0, y);
        EXPECT_EQ(257, cx);
        EXPECT_EQ(73, cy);
        EXPECT_EQ("", t.NameOrOrdinal()) << "menu";
        EXPECT_EQ("", t.NameOrOrdinal()) << "class";
        EXPECT_EQ("", t.NameOrOrdinal()) << "caption";
        EXPECT_EQ(8, t.Word()) << "point size";
        EXPECT_EQ("Arial", t.NameOrOrdinal());
        ASSERT_EQ(dialog.controls.size(), count);
        for (const ControlRow &row : dialog.controls) {
            SCOPED_TRACE(row.id);
            t.AlignDword();
            DWORD controlStyle = t.Dword();
            EXPECT_EQ(row.style, controlStyle) << std::hex << controlStyle;
            EXPECT_EQ(0u, t.Dword()) << "extended style";
            EXPECT_EQ(row.x, t.Short());
            EXPECT_EQ(row.y, t.Short());
            EXPECT_EQ(row.cx, t.Short());
            EXPECT_EQ(row.cy, t.Short());
            EXPECT_EQ(row.id, t.Word());
            std::string cls = t.NameOrOrdinal();
            EXPECT_EQ(0, lstrcmpiA(row.cls, cls.c_str())) << cls;
            EXPECT_EQ("", t.NameOrOrdinal()) << "the template carries no text";
            EXPECT_EQ(0, t.Word()) << "creation data";
        }
        EXPECT_TRUE(t.ok()) << "the template ends early";
    }
}

// The value of attribute in the first element that starts with tag at or after from.
std::string Attribute(const std::string &xml, const std::string &tag, const std::string &name,
                      size_t from = 0) {
    size_t start = xml.find("<" + tag, from);
    if (start == std::string::npos)
        return "(no " + tag + ")";
    size_t end = xml.find('>', start);
    std::string element = xml.substr(start, end - start);
    size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos)
        return "(no " + name + ")";
    at += name.size() + 3;
    return element.substr(at, element.find('"', at) - at);
}

TEST(Resources, ManifestAsksForCommonControlsSix) {
    Resource resource = Find(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    ASSERT_NE(nullptr, resource.data) << "no English (US) manifest 1";
    std::string xml((const char *)resource.data, resource.size);
    size_t dependency = xml.find("<dependentAssembly>");
    ASSERT_NE(std::string::npos, dependency);
    struct Row {
        size_t from;
        const char *name;
        const char *value;
    };
    const Row rows[] = {
        {0, "version", "1.0.0.0"},
        {0, "processorArchitecture", "X86"},
        {0, "name", "UninstallProgram"},
        {0, "type", "win32"},
        {dependency, "name", "Microsoft.Windows.Common-Controls"},
        {dependency, "type", "win32"},
        {dependency, "version", "6.0.0.0"},
        {dependency, "processorArchitecture", "X86"},
        {dependency, "publicKeyToken", "6595b64144ccf1df"},
        {dependency, "language", "*"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.from ? "dependency " : "identity ") + row.name);
        EXPECT_EQ(row.value, Attribute(xml, "assemblyIdentity", row.name, row.from));
    }
    EXPECT_NE(std::string::npos, xml.find("<description>Uninstall Program</description>"));
    EXPECT_EQ(xml.find("<dependency>"), xml.rfind("<dependency>")) << "one dependency only";
}

#pragma pack(push, 1)
struct GroupHeader {
    WORD reserved, type, count;
};
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

BOOL CALLBACK CountNames(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
    ++*(int *)count;
    return TRUE;
}

// Five images: 16 and 32 pixels at 4 and 8 bits per pixel, 48 pixels at 8 bits. Each has the
// whole colour table its bits allow (biClrUsed 0), as every system back to Windows 95 reads
// it, and the system picks the image of each size.
TEST(Resources, IconGroupHasFiveImages) {
    int groups = 0;
    EnumResourceNamesA(ProgramResources(), RT_GROUP_ICON, CountNames, (LONG_PTR)&groups);
    EXPECT_EQ(1, groups) << "the shell shows the only icon group";

    Resource group = Find(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UNINSTALL));
    ASSERT_NE(nullptr, group.data) << "no English (US) icon group 800";
    ASSERT_GE(group.size, sizeof(GroupHeader));
    const GroupHeader *header = (const GroupHeader *)group.data;
    EXPECT_EQ(1, header->type);
    static const struct {
        int size, bits;
    } kImages[] = {{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}};
    const int count = sizeof kImages / sizeof kImages[0];
    ASSERT_EQ(count, header->count);
    ASSERT_EQ(sizeof(GroupHeader) + count * sizeof(GroupEntry), group.size);
    const GroupEntry *entries = (const GroupEntry *)(header + 1);

    for (int i = 0; i < count; i++) {
        SCOPED_TRACE(std::to_string(kImages[i].size) + "x" + std::to_string(kImages[i].size) +
                     " at " + std::to_string(kImages[i].bits));
        const GroupEntry &entry = entries[i];
        EXPECT_EQ(kImages[i].size, entry.width);
        EXPECT_EQ(kImages[i].size, entry.height);
        EXPECT_EQ(kImages[i].bits, entry.bits);
        EXPECT_EQ(kImages[i].bits == 4 ? 16 : 0, entry.colours);

        Resource image = Find(RT_ICON, MAKEINTRESOURCEA(entry.id));
        ASSERT_NE(nullptr, image.data);
        ASSERT_EQ(entry.bytes, image.size);
        const BITMAPINFOHEADER *bitmap = (const BITMAPINFOHEADER *)image.data;
        EXPECT_EQ(40u, bitmap->biSize);
        EXPECT_EQ(kImages[i].size, bitmap->biWidth);
        EXPECT_EQ(2 * kImages[i].size, bitmap->biHeight) << "colour bits and mask";
        EXPECT_EQ(kImages[i].bits, bitmap->biBitCount);
        EXPECT_EQ((DWORD)BI_RGB, bitmap->biCompression);
        EXPECT_EQ(0u, bitmap->biClrUsed) << "the whole colour table";
        DWORD colourStride = ((kImages[i].size * kImages[i].bits + 31) / 32) * 4;
        DWORD maskStride = ((kImages[i].size + 31) / 32) * 4;
        DWORD expected =
            40 + 4 * (1u << kImages[i].bits) + (colourStride + maskStride) * kImages[i].size;
        EXPECT_EQ(expected, image.size);

        // The mask leaves the corners transparent and the middle drawn.
        HICON icon = CreateIconFromResourceEx((BYTE *)image.data, image.size, TRUE, 0x00030000,
                                              kImages[i].size, kImages[i].size, 0);
        EXPECT_NE(nullptr, icon) << "the system cannot read the image";
        if (icon)
            DestroyIcon(icon);
        if (image.size == expected) {
            const BYTE *mask = image.data + expected - maskStride * kImages[i].size;
            int n = kImages[i].size;
            auto transparent = [&](int x, int y) {
                return (mask[(n - 1 - y) * maskStride + x / 8] & (0x80 >> (x % 8))) != 0;
            };
            EXPECT_TRUE(transparent(0, 0));
            EXPECT_FALSE(transparent(n / 2, n / 2));
        }
    }

    // Asked for a size, the system takes that size's 8-bit image on a display with more
    // colours, as here. (Wine takes no hint for a 16-colour display, so the 4-bit images'
    // choice is not shown here; the images themselves are checked above.)
    static const struct { int size, image; } kPicks[] = {{16, 1}, {32, 3}, {48, 4}};
    for (const auto &pick : kPicks) {
        SCOPED_TRACE(pick.size);
        int id = LookupIconIdFromDirectoryEx((BYTE *)group.data, TRUE, pick.size, pick.size,
                                             LR_DEFAULTCOLOR);
        EXPECT_EQ(entries[pick.image].id, id);
    }
}

} // namespace
