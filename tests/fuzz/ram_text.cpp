// The text of a .ram reference file: its lines, URL schemes, file:// URLs
// and percent-escapes.
#include "ram_text.h"

using namespace vellumo::realmedia;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RamEntryPaths(std::vector<uint8_t>(data, data + size));
    return 0;
}
