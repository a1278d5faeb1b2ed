// What the host tests of the builder share: the source tree and the tool, files, the
// examples in the documentation, manifests read as the tool reads them, and a scratch folder.
#ifndef VANISH_HOST_SUPPORT_H
#define VANISH_HOST_SUPPORT_H

#include "builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace host_support {

namespace fs = std::filesystem;
using pack::Bytes;

// One copy in each file, made before the file's own constants that use it.
const std::string kSource = VANISH_SOURCE_DIR; // the source tree
const std::string kTool = VANISH_PACK_TOOL;    // the vanish-pack the build made

std::string ReadText(const std::string &path);
void WriteText(const std::string &path, const std::string &text);

// A fenced block of a markdown file, found by the line that precedes it.
std::string FencedAfter(const std::string &file, const std::string &marker);
// "0000: 34 12 ...   ; comment" lines to bytes; offsets must run on without a gap.
Bytes ParseListing(const std::string &listing, std::string *error);

// As vanish-pack reads a manifest without --codepage: into a UTF-8 block.
pack::ManifestResult Read(const std::string &json, int page = pack::CODEPAGE_UTF8);
std::string Diagnostics(const pack::ManifestResult &result);

// vanish-pack run with arguments, its output and exit code.
struct ToolRun {
    int code;
    std::string out, err;
};
ToolRun Tool(const std::string &arguments);
// The same without a shell between: the arguments as they are, for tests that run the tool
// thousands of times; runs with different tags may go at once.
ToolRun ToolDirect(const std::vector<std::string> &arguments, int tag = 0);
size_t Lines(const std::string &text);

// A folder of its own for each test, made empty before and removed after.
class Scratch : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string &name) const {
        return (dir_ / name).string();
    }
    fs::path dir_;
};

} // namespace host_support

#endif
