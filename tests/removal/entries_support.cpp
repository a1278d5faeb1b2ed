#include "entries_support.h"

namespace removal_tests {

PhaseEntries::~PhaseEntries() {
    folderEntries = nullptr;
    folderEntryCount = 0;
    registryEntries = nullptr;
    registryEntryCount = 0;
}

char *PhaseEntries::Keep(const std::string &text) {
    texts_.emplace_back(text.begin(), text.end());
    texts_.back().push_back(0);
    return texts_.back().data();
}

void PhaseEntries::SetFolders(const std::vector<FolderRow> &folders) {
    folders_.clear();
    folderPointers_.clear();
    for (const FolderRow &row : folders)
        folders_.push_back({row.levels, Keep(row.folder), Keep(row.file)});
    for (FolderEntry &entry : folders_)
        folderPointers_.push_back(&entry);
    folderEntries = folderPointers_.data();
    folderEntryCount = (DWORD)folderPointers_.size();
}

void PhaseEntries::SetRegistry(const std::vector<KeyRow> &keys) {
    keys_.clear();
    keyPointers_.clear();
    for (const KeyRow &row : keys)
        keys_.push_back({(DWORD)(ULONG_PTR)row.root, Keep(row.path)});
    for (RegistryEntry &entry : keys_)
        keyPointers_.push_back(&entry);
    registryEntries = keyPointers_.data();
    registryEntryCount = (DWORD)keyPointers_.size();
}

std::string PhaseEntries::Folder(size_t i) const {
    return folders_.at(i).folder;
}

DWORD PhaseEntries::Levels(size_t i) const {
    return folders_.at(i).levels;
}

std::string PhaseEntries::Path(size_t i) const {
    return keys_.at(i).path;
}

} // namespace removal_tests
