#include "tablature/SamplePath.h"

#include <filesystem>
#include <system_error>

namespace pulsewright {

std::string samplePathFrom(const std::string& path, const std::string& documentFolder) {
  if (path.empty() || documentFolder.empty()) return path;
  const std::filesystem::path written(path);
  if (written.is_absolute()) return path;
  std::error_code error;
  std::filesystem::path folder = std::filesystem::absolute(documentFolder, error);
  if (error) folder = documentFolder;
  const std::filesystem::path beside = folder / written;
  return std::filesystem::exists(beside, error) ? beside.string() : path;
}

}  // namespace pulsewright
