#include "recording/Take.h"

namespace pulsewright {

TakeResult writeTake(std::string_view document, std::string_view partName,
                     const std::vector<TakeHit>& hits, TakeMode mode, const PadMap& padMap) {
  (void)partName;
  (void)hits;
  (void)mode;
  (void)padMap;
  TakeResult result;
  result.document = std::string(document);
  result.error = "recording is not written yet";
  return result;
}

}  // namespace pulsewright
