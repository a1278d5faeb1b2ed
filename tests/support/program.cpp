// The program's own pieces that tests borrow: its resources and its string table.
#include "support.h"

#include "common/common.h"

namespace testing_support {

HMODULE ProgramResources() {
    static HMODULE resources = [] {
        std::string copy = ScratchFolder("resources") + "\\uninstall.exe";
        if (!CopyFileA((BuildFolder() + "\\uninstall.exe").c_str(), copy.c_str(), FALSE))
            return HMODULE(nullptr);
        return LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }();
    return resources;
}

TextTable::TextTable(const std::vector<std::string> &texts) : texts(texts) {}

TextTable::~TextTable() {
    if (stringTable == slots_.data())
        stringTable = nullptr;
}

void TextTable::Install() {
    slots_.clear();
    for (std::string &text : texts)
        slots_.push_back(&text[0]);
    slots_.push_back(nullptr);
    stringTable = slots_.data();
}

} // namespace testing_support
