// The parts of a 32-bit PE file that the builder reads and rewrites: headers, the section
// table, the data directories, the resource tree and the checksum. Every offset is checked
// against the file before it is read.
#include "builder.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace pack {

namespace {

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

constexpr uint32_t SCN_INITIALIZED_DATA = 0x40;
// Offsets inside the 32-bit optional header.
constexpr size_t OPT_INITIALIZED_DATA = 8, OPT_SECTION_ALIGNMENT = 32, OPT_FILE_ALIGNMENT = 36,
                 OPT_SIZE_OF_IMAGE = 56, OPT_SIZE_OF_HEADERS = 60, OPT_CHECKSUM = 64,
                 OPT_DIRECTORY_COUNT = 92, OPT_DIRECTORIES = 96;

} // namespace

bool ReadPe(const Bytes &image, PeFile *pe, std::string *error) {
    *pe = PeFile();
    auto fail = [&](const std::string &why) {
        *error = "not a 32-bit Windows program: " + why;
        return false;
    };
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return fail("no MZ header");
    size_t at = GetU32(image, 0x3C);
    if (at > image.size() || image.size() - at < 24 || GetU32(image, at) != 0x00004550)
        return fail("no PE header");
    size_t count = GetU16(image, at + 6), optionalSize = GetU16(image, at + 20);
    pe->optionalHeader = at + 24;
    if (optionalSize < OPT_DIRECTORIES || image.size() - pe->optionalHeader < optionalSize ||
        GetU16(image, pe->optionalHeader) != 0x10B)
        return fail("no 32-bit optional header");
    pe->characteristics = GetU16(image, at + 22);
    const size_t opt = pe->optionalHeader;
    pe->sectionAlignment = GetU32(image, opt + OPT_SECTION_ALIGNMENT);
    pe->fileAlignment = GetU32(image, opt + OPT_FILE_ALIGNMENT);
    pe->sizeOfImage = GetU32(image, opt + OPT_SIZE_OF_IMAGE);
    pe->sizeOfHeaders = GetU32(image, opt + OPT_SIZE_OF_HEADERS);
    pe->checksum = GetU32(image, opt + OPT_CHECKSUM);
    size_t directories = std::min<size_t>(GetU32(image, opt + OPT_DIRECTORY_COUNT), 16);
    if (OPT_DIRECTORIES + 8 * directories > optionalSize)
        return fail("the data directories run past the optional header");
    for (size_t i = 0; i < directories; i++)
        pe->directories.push_back({GetU32(image, opt + OPT_DIRECTORIES + 8 * i),
                                   GetU32(image, opt + OPT_DIRECTORIES + 8 * i + 4)});
    pe->directories.resize(16);
    if (pe->fileAlignment < 0x200 || (pe->fileAlignment & (pe->fileAlignment - 1)) ||
        pe->sectionAlignment < pe->fileAlignment ||
        (pe->sectionAlignment & (pe->sectionAlignment - 1)))
        return fail("alignments " + Hex(pe->fileAlignment) + " and " + Hex(pe->sectionAlignment));
    pe->sectionTable = opt + optionalSize;
    if (count == 0 || (image.size() - pe->sectionTable) / 40 < count)
        return fail("the section table runs past the end of the file");
    for (size_t i = 0; i < count; i++) {
        size_t entry = pe->sectionTable + 40 * i;
        PeSection s;
        for (size_t c = 0; c < 8 && image[entry + c]; c++)
            s.name += char(image[entry + c]);
        s.virtualSize = GetU32(image, entry + 8);
        s.virtualAddress = GetU32(image, entry + 12);
        s.rawSize = GetU32(image, entry + 16);
        s.rawOffset = GetU32(image, entry + 20);
        s.characteristics = GetU32(image, entry + 36);
        if (s.rawSize && (s.rawOffset > image.size() || image.size() - s.rawOffset < s.rawSize))
            return fail("section " + s.name + " runs past the end of the file");
        pe->sectionsEnd = std::max<size_t>(pe->sectionsEnd, size_t(s.rawOffset) + s.rawSize);
        pe->sections.push_back(s);
    }
    pe->sectionsEnd = std::max<size_t>(pe->sectionsEnd, pe->sizeOfHeaders);
    return true;
}

int PeSectionOf(const PeFile &pe, uint32_t rva) {
    for (size_t i = 0; i < pe.sections.size(); i++) {
        const PeSection &s = pe.sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
            return int(i);
    }
    return -1;
}

bool ReadPeExports(const Bytes &image, const PeFile &pe, std::vector<std::string> *names,
                   std::string *error) {
    names->clear();
    // Where count bytes at rva lie in the file, if they lie inside one section's raw data.
    auto inFile = [&](uint32_t rva, size_t count, size_t *offset) {
        int index = PeSectionOf(pe, rva);
        if (index < 0)
            return false;
        const PeSection &s = pe.sections[size_t(index)];
        size_t into = rva - s.virtualAddress;
        if (into > s.rawSize || s.rawSize - into < count)
            return false;
        *offset = size_t(s.rawOffset) + into;
        return *offset <= image.size() && image.size() - *offset >= count;
    };
    const auto [directory, size] = pe.directories[0];
    if (!directory || !size)
        return true;
    size_t at;
    if (!inFile(directory, 40, &at)) {
        *error = "its export directory at " + Hex(directory) + " lies outside the file";
        return false;
    }
    uint32_t count = GetU32(image, at + 24), table = GetU32(image, at + 32);
    size_t names0;
    if (count && (count > image.size() / 4 || !inFile(table, size_t(count) * 4, &names0))) {
        *error = "its table of " + std::to_string(count) + " export names lies outside the file";
        return false;
    }
    for (uint32_t i = 0; i < count; i++) {
        uint32_t rva = GetU32(image, names0 + 4 * size_t(i));
        size_t name;
        if (!inFile(rva, 1, &name)) {
            *error = "export name " + std::to_string(i) + " lies outside the file";
            return false;
        }
        size_t end = name;
        while (end < image.size() && image[end])
            end++;
        names->emplace_back(image.begin() + long(name), image.begin() + long(end));
    }
    return true;
}

// The sum of the file's 16-bit words with the carries folded back in, the checksum field
// counted as zero, plus the file's length: what the system checks for drivers and what a
// signing tool writes.
uint32_t PeChecksum(const Bytes &image, const PeFile &pe) {
    const size_t field = pe.optionalHeader + OPT_CHECKSUM;
    // The field's four bytes count as zero wherever they fall among the words.
    auto byte = [&](size_t i) -> uint32_t {
        return i >= image.size() || (i >= field && i < field + 4) ? 0 : image[i];
    };
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        sum += byte(i) | byte(i + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + image.size());
}

void WritePeChecksum(Bytes &image, const PeFile &pe) {
    SetU32(image, pe.optionalHeader + OPT_CHECKSUM, PeChecksum(image, pe));
}

std::vector<std::string> CheckPeLayout(const Bytes &image) {
    std::vector<std::string> faults;
    PeFile pe;
    std::string error;
    if (!ReadPe(image, &pe, &error))
        return {error};
    uint32_t nextAddress = AlignUp(pe.sizeOfHeaders, pe.sectionAlignment);
    size_t nextRaw = pe.sizeOfHeaders;
    for (const PeSection &s : pe.sections) {
        if (s.virtualAddress != nextAddress)
            faults.push_back("section " + s.name + " starts at " + Hex(s.virtualAddress) +
                             ", not where the one before it ends (" + Hex(nextAddress) + ")");
        if (s.rawOffset % pe.fileAlignment || s.rawSize % pe.fileAlignment)
            faults.push_back("section " + s.name + "'s raw data is not aligned to " +
                             Hex(pe.fileAlignment));
        if (s.rawSize && s.rawOffset < nextRaw)
            faults.push_back("section " + s.name + "'s raw data overlaps what comes before it");
        nextAddress = AlignUp(s.virtualAddress + std::max(s.virtualSize, 1u), pe.sectionAlignment);
        if (s.rawSize)
            nextRaw = size_t(s.rawOffset) + s.rawSize;
    }
    if (pe.sizeOfImage != nextAddress)
        faults.push_back("the image size is " + Hex(pe.sizeOfImage) + ", the sections end at " +
                         Hex(nextAddress));
    static const char *const names[16] = {"export",
                                          "import",
                                          "resource",
                                          "exception",
                                          "security",
                                          "relocation",
                                          "debug",
                                          "architecture",
                                          "global pointer",
                                          "TLS",
                                          "load configuration",
                                          "bound import",
                                          "import address",
                                          "delay import",
                                          "runtime header",
                                          "reserved"};
    for (size_t i = 0; i < 16; i++) {
        auto [rva, size] = pe.directories[i];
        if (!rva && !size)
            continue;
        if (i == PE_SECURITY) { // a file offset, after the sections
            if (rva < pe.sectionsEnd || rva > image.size() || image.size() - rva < size)
                faults.push_back("the certificate table (" + Hex(rva) + ", " + Hex(size) +
                                 " bytes) does not lie after the sections inside the file");
            continue;
        }
        int section = PeSectionOf(pe, rva);
        if (section < 0 || rva - pe.sections[size_t(section)].virtualAddress + uint64_t(size) >
                               std::max(pe.sections[size_t(section)].virtualSize,
                                        pe.sections[size_t(section)].rawSize))
            faults.push_back(std::string("the ") + names[i] + " directory (" + Hex(rva) + ", " +
                             Hex(size) + " bytes) does not lie inside one section");
    }
    if (pe.checksum != PeChecksum(image, pe))
        faults.push_back("the checksum is " + Hex(pe.checksum) + ", the file sums to " +
                         Hex(PeChecksum(image, pe)));
    return faults;
}

// --- The resource tree ---------------------------------------------------------------------

namespace {

// The three levels (type, name, language) of a resource directory, with numbers only:
// what the build links. Every offset is relative to the start of the tree.
struct TreeReader {
    const Bytes &image;
    size_t base;  // file offset of the tree
    size_t limit; // bytes of the tree in the file
    const PeFile &pe;
    std::string *error;
    int nodes = 0;

    bool Directory(size_t offset, std::vector<std::pair<uint32_t, uint32_t>> *entries) {
        // More nodes than a small tree can hold means entries that point back up.
        if (offset > limit || limit - offset < 16 || ++nodes > 4096) {
            *error = "a resource directory lies outside the resources";
            return false;
        }
        size_t named = GetU16(image, base + offset + 12),
               numbered = GetU16(image, base + offset + 14);
        if ((limit - offset - 16) / 8 < named + numbered) {
            *error = "a resource directory's entries run past the resources";
            return false;
        }
        if (named) {
            *error = "a resource named by a string, which the build never makes";
            return false;
        }
        for (size_t i = 0; i < numbered; i++) {
            size_t entry = base + offset + 16 + 8 * i;
            entries->push_back({GetU32(image, entry), GetU32(image, entry + 4)});
        }
        return true;
    }

    bool Leaf(uint32_t offset, Resource *resource) {
        if (offset & 0x80000000u || offset > limit || limit - offset < 16) {
            *error = "a resource's data entry lies outside the resources";
            return false;
        }
        uint32_t dataRva = GetU32(image, base + offset), size = GetU32(image, base + offset + 4);
        resource->codePage = GetU32(image, base + offset + 8);
        int section = PeSectionOf(pe, dataRva);
        if (section < 0) {
            *error = "a resource's data at " + Hex(dataRva) + " lies in no section";
            return false;
        }
        const PeSection &s = pe.sections[size_t(section)];
        uint64_t start = uint64_t(s.rawOffset) + (dataRva - s.virtualAddress);
        if (dataRva - s.virtualAddress + uint64_t(size) > s.rawSize ||
            start + size > image.size()) {
            *error = "a resource's data at " + Hex(dataRva) + " runs past its section";
            return false;
        }
        resource->data.assign(image.begin() + long(start), image.begin() + long(start + size));
        return true;
    }

    bool Subdirectory(uint32_t pointer, size_t *offset) {
        if (!(pointer & 0x80000000u)) {
            *error = "a resource's data entry stands where a directory belongs";
            return false;
        }
        *offset = pointer & 0x7FFFFFFFu;
        return true;
    }
};

struct TreeWriter {
    Bytes out;
    void Put16(uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void Put32(uint32_t v) {
        for (int i = 0; i < 4; i++)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    // A directory of numbered entries; returns where each entry's pointer is to be patched.
    size_t Directory(size_t entries) {
        Put32(0); // characteristics
        Put32(0); // time stamp: left 0, so that a build is the same bytes each time
        Put32(0); // version
        Put16(0);
        Put16(uint16_t(entries));
        size_t first = out.size();
        out.resize(out.size() + 8 * entries);
        return first;
    }
    void Entry(size_t at, uint32_t id, uint32_t pointer) {
        SetU32(out, at, id);
        SetU32(out, at + 4, pointer);
    }
};

} // namespace

bool ReadResources(const Bytes &image, const PeFile &pe, std::vector<Resource> *resources,
                   std::string *error) {
    resources->clear();
    auto [rva, size] = pe.directories[PE_RESOURCE];
    if (!rva)
        return true;
    int section = PeSectionOf(pe, rva);
    if (section < 0) {
        *error = "the resource directory lies in no section";
        return false;
    }
    const PeSection &s = pe.sections[size_t(section)];
    // The tree as far as both its directory entry and the section's raw data reach.
    size_t base = size_t(s.rawOffset) + (rva - s.virtualAddress);
    size_t rawEnd = size_t(s.rawOffset) + s.rawSize;
    size_t limit = base < rawEnd ? std::min<size_t>(size, rawEnd - base) : 0;
    TreeReader tree{image, base, limit, pe, error};
    std::vector<std::pair<uint32_t, uint32_t>> types;
    if (!tree.Directory(0, &types))
        return false;
    for (auto [type, typePointer] : types) {
        size_t offset;
        std::vector<std::pair<uint32_t, uint32_t>> names;
        if (!tree.Subdirectory(typePointer, &offset) || !tree.Directory(offset, &names))
            return false;
        for (auto [name, namePointer] : names) {
            std::vector<std::pair<uint32_t, uint32_t>> languages;
            if (!tree.Subdirectory(namePointer, &offset) || !tree.Directory(offset, &languages))
                return false;
            for (auto [language, leaf] : languages) {
                Resource r;
                r.type = uint16_t(type);
                r.name = uint16_t(name);
                r.language = uint16_t(language);
                if (type > 0xFFFF || name > 0xFFFF || language > 0xFFFF) {
                    *error = "a resource number above 65535";
                    return false;
                }
                if (!tree.Leaf(leaf, &r))
                    return false;
                resources->push_back(r);
            }
        }
    }
    return true;
}

// The tree first (directories of types, names and languages, then the data entries), then
// each resource's data on an 8-byte boundary. The data entries hold addresses, so the tree
// is laid out for the address it will have.
Bytes WriteResourceTree(std::vector<Resource> resources, uint32_t rva) {
    std::stable_sort(resources.begin(), resources.end(), [](const Resource &a, const Resource &b) {
        return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
    });
    std::map<uint16_t, std::map<uint16_t, std::vector<size_t>>> tree;
    for (size_t i = 0; i < resources.size(); i++)
        tree[resources[i].type][resources[i].name].push_back(i);
    TreeWriter w;
    std::vector<std::pair<size_t, size_t>> leaves; // (entry to patch, resource)
    size_t types = w.Directory(tree.size());
    size_t t = 0;
    for (auto &[type, names] : tree) {
        w.Entry(types + 8 * t++, type, 0x80000000u | uint32_t(w.out.size()));
        size_t nameEntries = w.Directory(names.size());
        size_t n = 0;
        for (auto &[name, indexes] : names) {
            w.Entry(nameEntries + 8 * n++, name, 0x80000000u | uint32_t(w.out.size()));
            size_t languageEntries = w.Directory(indexes.size());
            for (size_t l = 0; l < indexes.size(); l++) {
                w.Entry(languageEntries + 8 * l, resources[indexes[l]].language, 0);
                leaves.push_back({languageEntries + 8 * l + 4, indexes[l]});
            }
        }
    }
    std::vector<size_t> dataEntries;
    for (const auto &leaf : leaves) {
        SetU32(w.out, leaf.first, uint32_t(w.out.size()));
        dataEntries.push_back(w.out.size());
        w.out.resize(w.out.size() + 16);
    }
    for (size_t i = 0; i < leaves.size(); i++) {
        const Resource &r = resources[leaves[i].second];
        w.out.resize(AlignUp(uint32_t(w.out.size()), 8));
        SetU32(w.out, dataEntries[i], rva + uint32_t(w.out.size()));
        SetU32(w.out, dataEntries[i] + 4, uint32_t(r.data.size()));
        SetU32(w.out, dataEntries[i] + 8, r.codePage);
        w.out.insert(w.out.end(), r.data.begin(), r.data.end());
    }
    return w.out;
}

bool ReplaceResources(const Bytes &program, const std::vector<Resource> &resources, Bytes *out,
                      std::string *error) {
    PeFile pe;
    if (!ReadPe(program, &pe, error))
        return false;
    if (program.size() != pe.sectionsEnd) {
        *error = "bytes follow its sections";
        return false;
    }
    uint32_t rva = pe.directories[PE_RESOURCE].first;
    int found = PeSectionOf(pe, rva);
    if (!rva || found < 0 || pe.sections[size_t(found)].virtualAddress != rva) {
        *error = "its resources do not start a section of their own";
        return false;
    }
    const size_t index = size_t(found);
    // Only the relocations may follow the resources: nothing in the program points into
    // them, so they can move. Anything else that follows would be cut off from its users.
    const auto [relocRva, relocSize] = pe.directories[PE_RELOCATION];
    for (size_t i = index + 1; i < pe.sections.size(); i++) {
        const PeSection &s = pe.sections[i];
        if (s.virtualAddress != relocRva || relocSize > s.virtualSize) {
            *error = "section " + s.name +
                     " follows the resources and holds more than the "
                     "relocations, so they cannot grow";
            return false;
        }
        for (size_t d = 0; d < 16; d++)
            if (d != PE_RELOCATION && d != PE_SECURITY && pe.directories[d].first &&
                PeSectionOf(pe, pe.directories[d].first) == int(i)) {
                *error = "section " + s.name +
                         " follows the resources and holds more than the "
                         "relocations, so they cannot grow";
                return false;
            }
    }
    // Sections without raw data (uninitialised data) have no place in the file to keep.
    for (size_t i = 0, lastRaw = 0; i < pe.sections.size(); i++) {
        if ((i && pe.sections[i].virtualAddress <= pe.sections[i - 1].virtualAddress) ||
            (pe.sections[i].rawSize && pe.sections[i].rawOffset < lastRaw)) {
            *error = "its sections are not in address order";
            return false;
        }
        if (pe.sections[i].rawSize)
            lastRaw = size_t(pe.sections[i].rawOffset) + pe.sections[i].rawSize;
    }

    Bytes tree = WriteResourceTree(resources, rva);
    PeSection &rsrc = pe.sections[index];
    const uint32_t oldRaw = rsrc.rawSize;
    *out = Bytes(program.begin(), program.begin() + rsrc.rawOffset);
    rsrc.virtualSize = uint32_t(tree.size());
    rsrc.rawSize = AlignUp(rsrc.virtualSize, pe.fileAlignment);
    tree.resize(rsrc.rawSize);
    out->insert(out->end(), tree.begin(), tree.end());
    uint32_t nextAddress = AlignUp(rsrc.virtualAddress + rsrc.virtualSize, pe.sectionAlignment);
    for (size_t i = index + 1; i < pe.sections.size(); i++) {
        PeSection &s = pe.sections[i];
        const Bytes::const_iterator from = program.begin() + s.rawOffset;
        if (s.virtualAddress == relocRva)
            SetU32(*out, pe.optionalHeader + OPT_DIRECTORIES + 8 * PE_RELOCATION, nextAddress);
        s.virtualAddress = nextAddress;
        s.rawOffset = uint32_t(out->size());
        out->insert(out->end(), from, from + s.rawSize);
        nextAddress = AlignUp(s.virtualAddress + s.virtualSize, pe.sectionAlignment);
    }
    for (size_t i = index; i < pe.sections.size(); i++) {
        size_t entry = pe.sectionTable + 40 * i;
        SetU32(*out, entry + 8, pe.sections[i].virtualSize);
        SetU32(*out, entry + 12, pe.sections[i].virtualAddress);
        SetU32(*out, entry + 16, pe.sections[i].rawSize);
        SetU32(*out, entry + 20, pe.sections[i].rawOffset);
    }
    const size_t opt = pe.optionalHeader;
    SetU32(*out, opt + OPT_DIRECTORIES + 8 * PE_RESOURCE, rva);
    SetU32(*out, opt + OPT_DIRECTORIES + 8 * PE_RESOURCE + 4, rsrc.virtualSize);
    SetU32(*out, opt + OPT_SIZE_OF_IMAGE, nextAddress);
    if (rsrc.characteristics & SCN_INITIALIZED_DATA)
        SetU32(*out, opt + OPT_INITIALIZED_DATA,
               GetU32(*out, opt + OPT_INITIALIZED_DATA) - oldRaw + rsrc.rawSize);
    return true;
}

} // namespace pack
