// Folder and registry entries for the phases' tests, in storage of the test's own: each text
// is a writable buffer of its exact length, as the loader makes it, so that phase 2 can cut
// it in place and a test can read the entry back afterwards.
#ifndef VANISH_ENTRIES_SUPPORT_H
#define VANISH_ENTRIES_SUPPORT_H

#include <string>
#include <vector>

#include "common/common.h"

namespace removal_tests {

struct FolderRow {
    DWORD levels = 0;
    std::string folder;
    std::string file;
};

struct KeyRow {
    HKEY root;
    std::string path;
};

// Points the program's folder and registry entries at this storage; empties them again when
// it goes.
class PhaseEntries {
  public:
    PhaseEntries() = default;
    ~PhaseEntries();
    PhaseEntries(const PhaseEntries &) = delete;
    PhaseEntries &operator=(const PhaseEntries &) = delete;
    void SetFolders(const std::vector<FolderRow> &folders);
    void SetRegistry(const std::vector<KeyRow> &keys);
    // An entry as the phase left it.
    std::string Folder(size_t i) const;
    DWORD Levels(size_t i) const;
    std::string Path(size_t i) const;

  private:
    char *Keep(const std::string &text);
    std::vector<std::vector<char>> texts_;
    std::vector<FolderEntry> folders_;
    std::vector<FolderEntry *> folderPointers_;
    std::vector<RegistryEntry> keys_;
    std::vector<RegistryEntry *> keyPointers_;
};

} // namespace removal_tests

#endif
