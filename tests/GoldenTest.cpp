#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "tests/support/TestFiles.h"

namespace pulsewright {
namespace {

// Each document in tests/data beside the state that `pulsewright-cli compile` prints for it
// alone, stored indented so that a change reads as a diff. PW_REGENERATE_GOLDEN=1 rewrites
// the recorded states from what the program prints now.
class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, DocumentCompilesToItsRecordedState) {
  const std::string base = std::string(PW_TEST_DATA_DIR) + "/" + GetParam();
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(runCli({"compile", base + ".tab"}, in, out, err), 0) << err.str();
  const std::string printed = out.str();
  ASSERT_EQ(printed.find('\n'), printed.size() - 1) << "one line of JSON";
  // Ordered, so the comparison also holds the order of the fields.
  const std::string indented = nlohmann::ordered_json::parse(printed).dump(2) + "\n";
  if (const char* regenerate = std::getenv("PW_REGENERATE_GOLDEN"); regenerate && *regenerate) {
    writeFile(base + ".json", indented);
    return;
  }
  EXPECT_EQ(indented, readFile(base + ".json"));
}

std::vector<std::string> documents() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(PW_TEST_DATA_DIR)) {
    if (entry.path().extension() == ".tab") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Data, Golden, testing::ValuesIn(documents()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace pulsewright
