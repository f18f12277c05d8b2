#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cli/CliApp.h"

namespace pulsewright {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Each document beside the state that `pulsewright-cli compile` prints for it alone.
TEST(Golden, WholeDocumentsCompileToTheirRecordedState) {
  for (const char* name : {"basic-rock", "tuplets", "waves", "grid-above-section",
                           "parts-programs", "windows-1252"}) {
    const std::string base = std::string(PW_TEST_DATA_DIR) + "/" + name;
    const std::string expected = readFile(base + ".json");
    ASSERT_FALSE(expected.empty()) << base;
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(runCli({"compile", base + ".tab"}, in, out, err), 0) << name;
    EXPECT_EQ(out.str(), expected) << name;
  }
}

}  // namespace
}  // namespace pulsewright
