// What an author's manifest puts into the program's resources: the application manifest
// with the execution level, the version information and the icon; and reading them back.
#include "builder.h"

#include <algorithm>
#include <cstdio>

namespace pack {

namespace {

constexpr uint16_t RT_ICON = 3, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;
constexpr uint16_t PROGRAM_ICON = 800; // the icon group the program loads
constexpr uint16_t ENGLISH_US = 0x0409;

const struct {
    ExecutionLevel level;
    const char *name;     // in the JSON manifest
    const char *requests; // in the program's manifest
} levels[] = {
    {ExecutionLevel::Admin, "admin", "requireAdministrator"},
    {ExecutionLevel::User, "user", "asInvoker"},
    {ExecutionLevel::Highest, "highest", "highestAvailable"},
};

// Windows Vista, 7, 8, 8.1, and 10 and 11 (one identifier): with these the system reports
// its own version to GetVersionEx instead of 6.2.
const char *const supportedSystems[] = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};

void Pad4(Bytes &b) {
    while (b.size() % 4)
        b.push_back(0);
}

void PutUtf16(Bytes &out, const std::u16string &text) {
    for (char16_t c : text)
        PutU16(out, uint16_t(c));
    PutU16(out, 0);
}

// One node of a version resource: its length, the value's length, its type (1: text),
// its key, then the value and the children, each on a 4-byte boundary.
Bytes VersionNode(const std::u16string &key, const Bytes &value, uint16_t valueLength,
                  uint16_t type, const std::vector<Bytes> &children) {
    Bytes out(6, 0);
    out[2] = uint8_t(valueLength);
    out[3] = uint8_t(valueLength >> 8);
    out[4] = uint8_t(type);
    PutUtf16(out, key);
    Pad4(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes &child : children) {
        Pad4(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = uint8_t(out.size());
    out[1] = uint8_t(out.size() >> 8);
    return out;
}

std::u16string Wide(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

Bytes TextNode(const std::string &key, const std::u16string &text) {
    Bytes value;
    PutUtf16(value, text);
    return VersionNode(Wide(key), value, uint16_t(text.size() + 1), 1, {});
}

// A version resource's texts by key, read from its first string table.
bool ReadVersionTexts(const Bytes &data, std::vector<std::pair<std::string, std::string>> *texts,
                      uint16_t version[4]) {
    struct Node {
        size_t start, end, value;
        std::u16string key;
    };
    auto read = [&](size_t at, size_t limit, Node *node) {
        if (limit - at < 6 || GetU16(data, at) < 6 || GetU16(data, at) > limit - at)
            return false;
        node->start = at;
        node->end = at + GetU16(data, at);
        node->key.clear();
        size_t p = at + 6;
        for (; p + 1 < node->end && GetU16(data, p); p += 2)
            node->key.push_back(char16_t(GetU16(data, p)));
        p += 2;
        node->value = (p + 3) / 4 * 4;
        return node->value <= node->end;
    };
    Node root;
    if (!read(0, data.size(), &root) || root.key != u"VS_VERSION_INFO" ||
        root.end - root.value < 52 || GetU32(data, root.value) != 0xFEEF04BD)
        return false;
    for (int i = 0; i < 2; i++) {
        uint32_t word = GetU32(data, root.value + 8 + 4 * size_t(i));
        version[2 * i] = uint16_t(word >> 16);
        version[2 * i + 1] = uint16_t(word);
    }
    // The children of a node: each starts on a 4-byte boundary after the one before.
    auto children = [&](size_t first, size_t end, std::vector<Node> *out) {
        for (size_t at = (first + 3) / 4 * 4; at < end;) {
            Node child;
            if (!read(at, end, &child))
                return false;
            out->push_back(child);
            at = (child.end + 3) / 4 * 4;
        }
        return true;
    };
    std::vector<Node> top;
    if (!children(root.value + 52, root.end, &top))
        return false;
    for (const Node &info : top) {
        std::vector<Node> tables, strings;
        if (info.key != u"StringFileInfo" || !children(info.value, info.end, &tables) ||
            tables.empty() || !children(tables[0].value, tables[0].end, &strings))
            continue;
        for (const Node &s : strings) {
            std::u16string text;
            for (size_t p = s.value; p + 1 < s.end && GetU16(data, p); p += 2)
                text.push_back(char16_t(GetU16(data, p)));
            std::string key, value, error;
            if (Utf16ToUtf8(s.key, &key, &error) && Utf16ToUtf8(text, &value, &error))
                texts->push_back({key, value});
        }
    }
    return true;
}

} // namespace

const char *ExecutionLevelName(ExecutionLevel level) {
    for (const auto &l : levels)
        if (l.level == level)
            return l.name;
    return "";
}

bool ParseExecutionLevel(const std::string &name, ExecutionLevel *level) {
    for (const auto &l : levels)
        if (name == l.name) {
            *level = l.level;
            return true;
        }
    return false;
}

// One line per element, no indentation. Windows 95/98/Me and NT 4 never read it. Windows
// XP SP2 and Server 2003 without a service pack fail on a trustInfo with a second namespace
// declaration and refuse one without any, so it declares exactly one. The dialogs are laid
// out in dialog units of their own font, so they scale with the system's DPI: a DPI-aware
// program is drawn sharp instead of stretched.
std::string ProgramManifest(ExecutionLevel level) {
    const char *requests = "";
    for (const auto &l : levels)
        if (l.level == level)
            requests = l.requests;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "<assemblyIdentity type=\"win32\" name=\"UninstallProgram\" version=\"1.0.0.0\" "
        "processorArchitecture=\"X86\"/>\n"
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"X86\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        "</dependentAssembly></dependency>\n"
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"";
    xml += requests;
    xml += "\"/></requestedPrivileges></security></trustInfo>\n"
           "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>";
    for (const char *id : supportedSystems)
        xml += std::string("<supportedOS Id=\"") + id + "\"/>";
    xml += "</application></compatibility>\n"
           "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
           "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true"
           "</dpiAware></windowsSettings></application>\n"
           "</assembly>\n";
    return xml;
}

bool ParseVersion(const std::string &text, uint16_t version[4]) {
    std::fill(version, version + 4, 0);
    for (size_t parts = 0, start = 0;; parts++) {
        size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 5 || parts == 4 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 0xFFFF)
            return false;
        version[parts] = uint16_t(std::stoul(part));
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}

Bytes VersionResource(const ProgramInfo &info) {
    Bytes fixed;
    PutU32(fixed, 0xFEEF04BD); // signature
    PutU32(fixed, 0x00010000); // structure version 1.0
    for (int twice = 0; twice < 2; twice++) {
        PutU32(fixed, uint32_t(info.version[0]) << 16 | info.version[1]);
        PutU32(fixed, uint32_t(info.version[2]) << 16 | info.version[3]);
    }
    PutU32(fixed, 0x3F); // flags mask
    PutU32(fixed, 0);    // flags
    PutU32(fixed, 4);    // VOS__WINDOWS32: both system families
    PutU32(fixed, 1);    // VFT_APP
    PutU32(fixed, 0);    // subtype
    PutU32(fixed, 0);    // date
    PutU32(fixed, 0);
    std::u16string name, publisher, version;
    std::string error;
    Utf8ToUtf16(info.name, &name, &error);
    Utf8ToUtf16(info.publisher, &publisher, &error);
    Utf8ToUtf16(info.versionText, &version, &error);
    std::vector<Bytes> strings;
    if (!publisher.empty())
        strings.push_back(TextNode("CompanyName", publisher));
    strings.push_back(TextNode("FileDescription", u"Uninstall " + name));
    strings.push_back(TextNode("FileVersion", version));
    strings.push_back(TextNode("ProductName", name));
    strings.push_back(TextNode("ProductVersion", version));
    // U.S. English in UTF-16, the one table, named by language and code page.
    Bytes table = VersionNode(u"040904B0", {}, 0, 1, strings);
    Bytes stringInfo = VersionNode(u"StringFileInfo", {}, 0, 1, {table});
    Bytes translation;
    PutU16(translation, ENGLISH_US);
    PutU16(translation, 1200);
    Bytes var = VersionNode(u"Translation", translation, 4, 0, {});
    Bytes varInfo = VersionNode(u"VarFileInfo", {}, 0, 1, {var});
    return VersionNode(u"VS_VERSION_INFO", fixed, uint16_t(fixed.size()), 0, {stringInfo, varInfo});
}

bool ReadIconFile(const Bytes &ico, std::vector<IconImage> *images, std::string *error) {
    images->clear();
    if (ico.size() < 6 || GetU16(ico, 0) != 0 || GetU16(ico, 2) != 1 || GetU16(ico, 4) == 0) {
        *error = "not an icon file (.ico): it does not start with an icon directory";
        return false;
    }
    size_t count = GetU16(ico, 4);
    if ((ico.size() - 6) / 16 < count) {
        *error = "its directory lists " + std::to_string(count) + " images, the file ends first";
        return false;
    }
    for (size_t i = 0; i < count; i++) {
        size_t entry = 6 + 16 * i;
        IconImage image;
        image.width = ico[entry];
        image.height = ico[entry + 1];
        image.colours = ico[entry + 2];
        image.planes = GetU16(ico, entry + 4);
        image.bitCount = GetU16(ico, entry + 6);
        uint32_t size = GetU32(ico, entry + 8), offset = GetU32(ico, entry + 12);
        if (size < 40 || offset > ico.size() || ico.size() - offset < size) {
            *error = "image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                     " lies outside the file";
            return false;
        }
        image.data.assign(ico.begin() + offset, ico.begin() + offset + size);
        static const uint8_t png[] = {0x89, 'P', 'N', 'G'};
        bool isPng = std::equal(png, png + 4, image.data.begin());
        if (!isPng && GetU32(image.data, 0) != 40) {
            *error = "image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                     " is neither a bitmap nor a PNG image";
            return false;
        }
        // Some editors leave the bit count out of the directory; the system chooses an
        // image by it, so it is taken from the bitmap.
        if (!isPng && image.bitCount == 0) {
            image.planes = GetU16(image.data, 12);
            image.bitCount = GetU16(image.data, 14);
        }
        images->push_back(image);
    }
    return true;
}

bool ApplyProgramInfo(std::vector<Resource> &resources, const ProgramInfo &info,
                      const std::vector<IconImage> *icon, std::string *error) {
    auto find = [&](uint16_t type, uint16_t name) {
        return std::find_if(resources.begin(), resources.end(),
                            [&](const Resource &r) { return r.type == type && r.name == name; });
    };
    auto manifest = find(RT_MANIFEST, 1);
    if (manifest == resources.end()) {
        *error = "it has no application manifest; use the uninstall.exe the build made";
        return false;
    }
    std::string xml = ProgramManifest(info.level);
    manifest->data.assign(xml.begin(), xml.end());
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource &r) { return r.type == RT_VERSION; }),
                    resources.end());
    if (info.hasVersion) {
        Resource version;
        version.type = RT_VERSION;
        version.name = 1;
        version.language = ENGLISH_US;
        version.data = VersionResource(info);
        resources.push_back(version);
    }
    if (!icon)
        return true;
    auto group = find(RT_GROUP_ICON, PROGRAM_ICON);
    if (group == resources.end()) {
        *error = "it has no icon group " + std::to_string(PROGRAM_ICON) +
                 "; use the uninstall.exe the build made";
        return false;
    }
    // The program has one icon group, so every icon image is its.
    uint16_t language = group->language;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource &r) {
                                       return r.type == RT_ICON || r.type == RT_GROUP_ICON;
                                   }),
                    resources.end());
    Resource directory;
    directory.type = RT_GROUP_ICON;
    directory.name = PROGRAM_ICON;
    directory.language = language;
    PutU16(directory.data, 0);
    PutU16(directory.data, 1);
    PutU16(directory.data, uint16_t(icon->size()));
    for (size_t i = 0; i < icon->size(); i++) {
        const IconImage &image = (*icon)[i];
        Resource r;
        r.type = RT_ICON;
        r.name = uint16_t(i + 1);
        r.language = language;
        r.data = image.data;
        resources.push_back(r);
        for (uint8_t b : {image.width, image.height, image.colours, uint8_t(0)})
            PutU8(directory.data, b);
        PutU16(directory.data, image.planes);
        PutU16(directory.data, image.bitCount);
        PutU32(directory.data, uint32_t(image.data.size()));
        PutU16(directory.data, uint16_t(i + 1));
    }
    resources.push_back(directory);
    return true;
}

bool ReadProgramInfo(const Bytes &image, ProgramInfo *info, std::vector<std::string> *notes) {
    PeFile pe;
    std::vector<Resource> resources;
    std::string error;
    *info = ProgramInfo();
    if (!ReadPe(image, &pe, &error) || !ReadResources(image, pe, &resources, &error)) {
        notes->push_back("its resources cannot be read: " + error);
        return false;
    }
    bool known = false, named = false;
    for (const Resource &r : resources) {
        if (r.type == RT_MANIFEST && r.name == 1) {
            named = true;
            for (const auto &l : levels) {
                std::string xml = ProgramManifest(l.level);
                if (r.data == Bytes(xml.begin(), xml.end())) {
                    info->level = l.level;
                    known = true;
                }
            }
            // The stub's own manifest asks for common controls alone.
            static const char element[] = "<requestedExecutionLevel";
            if (!known && std::search(r.data.begin(), r.data.end(), element,
                                      element + sizeof element - 1) == r.data.end())
                notes->push_back("its manifest names no execution level, as the stub's own "
                                 "does: Windows Vista and later decide by its file name whether "
                                 "it asks for administrator rights; build writes the level");
            else if (!known)
                notes->push_back("its application manifest is not one vanish-pack writes");
        }
        if (r.type == RT_VERSION) {
            std::vector<std::pair<std::string, std::string>> texts;
            if (!ReadVersionTexts(r.data, &texts, info->version)) {
                notes->push_back("its version information cannot be read");
                continue;
            }
            info->hasVersion = true;
            for (const auto &[key, value] : texts) {
                if (key == "ProductName")
                    info->name = value;
                if (key == "CompanyName")
                    info->publisher = value;
                if (key == "FileVersion")
                    info->versionText = value;
            }
        }
    }
    if (!named)
        notes->push_back("it has no application manifest");
    return known;
}

} // namespace pack
