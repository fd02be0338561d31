#include "ram_text.h"

#include <algorithm>
#include <cctype>

namespace vellumo::realmedia {

namespace {

constexpr size_t kMaxRamBytes = 64 * 1024;

std::vector<std::string> Lines(const std::vector<uint8_t>& text)
{
    std::vector<std::string> lines;
    std::string current;
    for (uint8_t c : text) {
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(c));
        }
    }
    lines.push_back(current);
    return lines;
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    std::string out = s.substr(b, e - b);
    // A UTF-8 byte-order mark at the start of the file.
    if (out.size() >= 3 && out.compare(0, 3, "\xEF\xBB\xBF") == 0) out.erase(0, 3);
    return out;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Length of a URL scheme ("rtsp" in "rtsp://..."), 0 when the text has none.
// A single letter before ':' is a drive, not a scheme.
size_t SchemeLength(const std::string& s)
{
    size_t i = 0;
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '-' || s[i] == '.')) {
        ++i;
    }
    if (i < 2 || i >= s.size() || s[i] != ':') return 0;
    return i;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = HexValue(s[i + 1]);
            int lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

// The path of a file:// URL: file:///C:/x, file://C:\x, file://localhost/C:/x,
// file:/C:/x. Empty for a URL naming another host (file://server/share/x):
// only files on this machine are followed.
std::string PathOfFileUrl(std::string rest)
{
    size_t cut = rest.find_first_of("?#");
    if (cut != std::string::npos) rest.erase(cut);
    rest = PercentDecode(rest);
    if (rest.compare(0, 2, "//") == 0) {
        rest.erase(0, 2);
        if (Lower(rest.substr(0, 10)) == "localhost/") rest.erase(0, 9);
        if (rest.size() >= 2 && rest[1] == ':') return rest;                      // file://C:/x
        if (!rest.empty() && rest[0] != '/') return {};                            // file://server/share
    }
    if (rest.size() >= 3 && rest[0] == '/' && rest[2] == ':') rest.erase(0, 1);    // /C:/x
    return rest;
}

}  // namespace

bool LooksLikeRamFile(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty() || bytes.size() > kMaxRamBytes) return false;
    bool text = false;
    for (uint8_t c : bytes) {
        if (c == 0) return false;
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\f') return false;
        if (!std::isspace(c)) text = true;
    }
    return text;
}

std::vector<std::string> RamEntryPaths(const std::vector<uint8_t>& text)
{
    std::vector<std::string> paths;
    if (!LooksLikeRamFile(text)) return paths;
    for (const auto& raw : Lines(text)) {
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        size_t scheme = SchemeLength(line);
        if (scheme == 0) {
            paths.push_back(line);
        } else if (Lower(line.substr(0, scheme)) == "file") {  // else a network stream
            std::string path = PathOfFileUrl(line.substr(scheme + 1));
            if (!path.empty()) paths.push_back(path);
        }
    }
    return paths;
}

}  // namespace vellumo::realmedia
