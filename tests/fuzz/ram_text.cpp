// The text of a .ram reference file: its lines, URL schemes, file:// URLs
// and percent-escapes, and where each entry may lead from a local folder and
// from a share.
#include "ram_text.h"
#include "reference_path.h"

using namespace vellumo::realmedia;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const std::string& entry : RamEntryPaths(std::vector<uint8_t>(data, data + size))) {
        const std::wstring wide(entry.begin(), entry.end());
        ResolveReference(wide, L"C:\\lists");
        ResolveReference(wide, L"\\\\host\\share\\lists");
    }
    return 0;
}
