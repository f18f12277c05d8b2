#include "tabimport/ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

namespace pulsewright {

namespace {

constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kDirectoryEntry = 0x02014b50;
constexpr std::uint32_t kLocalHeader = 0x04034b50;

std::uint32_t read16(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8;
}
std::uint32_t read32(std::string_view b, std::size_t at) {
  return read16(b, at) | read16(b, at + 2) << 16;
}

struct Entry {
  std::string name;
  std::uint32_t method = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::uint32_t localOffset = 0;
};

std::optional<std::vector<Entry>> entries(std::string_view b, std::string* error) {
  if (b.size() < 22) {
    *error = "not a ZIP archive: too short";
    return std::nullopt;
  }
  // The end record is the last 22 bytes, or before a comment of up to 65535 bytes.
  std::size_t end = std::string_view::npos;
  const std::size_t lowest = b.size() > 22 + 65535 ? b.size() - 22 - 65535 : 0;
  for (std::size_t at = b.size() - 22 + 1; at-- > lowest;) {
    if (read32(b, at) == kEndOfDirectory) {
      end = at;
      break;
    }
  }
  if (end == std::string_view::npos) {
    *error = "not a ZIP archive: no central directory";
    return std::nullopt;
  }
  const std::uint32_t count = read16(b, end + 10);
  std::size_t at = read32(b, end + 16);
  std::vector<Entry> list;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + 46 > b.size() || read32(b, at) != kDirectoryEntry) {
      *error = "damaged ZIP archive: its directory runs past its end";
      return std::nullopt;
    }
    Entry e;
    e.method = read16(b, at + 10);
    e.compressedSize = read32(b, at + 20);
    e.size = read32(b, at + 24);
    const std::size_t nameLength = read16(b, at + 28);
    const std::size_t extra = read16(b, at + 30);
    const std::size_t comment = read16(b, at + 32);
    e.localOffset = read32(b, at + 42);
    if (at + 46 + nameLength > b.size()) {
      *error = "damaged ZIP archive: a name runs past its end";
      return std::nullopt;
    }
    e.name = std::string(b.substr(at + 46, nameLength));
    list.push_back(std::move(e));
    at += 46 + nameLength + extra + comment;
  }
  return list;
}

}  // namespace

bool looksLikeZipArchive(std::string_view bytes) {
  return bytes.size() >= 4 && read32(bytes, 0) == kLocalHeader;
}

std::optional<std::vector<std::string>> zipEntryNames(std::string_view archive,
                                                      std::string* error) {
  const auto list = entries(archive, error);
  if (!list) return std::nullopt;
  std::vector<std::string> names;
  for (const Entry& e : *list) names.push_back(e.name);
  return names;
}

std::optional<std::string> readZipEntry(std::string_view b, std::string_view name,
                                        std::size_t maxBytes, std::string* error) {
  const auto list = entries(b, error);
  if (!list) return std::nullopt;
  const auto e = std::find_if(list->begin(), list->end(),
                              [&](const Entry& entry) { return entry.name == name; });
  if (e == list->end()) {
    *error = "the archive holds no " + std::string(name);
    return std::nullopt;
  }
  const std::size_t at = e->localOffset;
  if (at + 30 > b.size() || read32(b, at) != kLocalHeader) {
    *error = "damaged ZIP archive: no header for " + e->name;
    return std::nullopt;
  }
  const std::size_t data = at + 30 + read16(b, at + 26) + read16(b, at + 28);
  if (data > b.size() || e->compressedSize > b.size() - data) {
    *error = "damaged ZIP archive: " + e->name + " runs past its end";
    return std::nullopt;
  }
  if (e->size > maxBytes) {
    *error = e->name + " is larger than " + std::to_string(maxBytes) + " bytes";
    return std::nullopt;
  }
  const std::string_view packed = b.substr(data, e->compressedSize);
  if (e->method == 0) {
    if (e->size != e->compressedSize) {
      *error = "damaged ZIP archive: " + e->name + " has two sizes";
      return std::nullopt;
    }
    return std::string(packed);
  }
  if (e->method != 8) {
    *error = e->name + " is compressed by method " + std::to_string(e->method) +
             ", which only deflate (8) and storing (0) are read of";
    return std::nullopt;
  }
  if (e->size == 0) return std::string();
  std::string out(e->size, '\0');
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    *error = "cannot inflate " + e->name;
    return std::nullopt;
  }
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&z, Z_FINISH);
  const std::size_t written = out.size() - z.avail_out;
  inflateEnd(&z);
  if (status != Z_STREAM_END || written != e->size) {
    *error = "damaged ZIP archive: " + e->name + " does not inflate to its size";
    return std::nullopt;
  }
  return out;
}

}  // namespace pulsewright
