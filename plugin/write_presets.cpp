// zelvox-lv2-presets: describes the factory bank's pattern files as the plugin's presets, for
// the bundle's presets.ttl. Each preset holds the plugin's state as the plugin saves it (the
// 27,372 bytes of a pattern file under zelvox#patterns, a chunk written as base64), so a host
// that loads it restores patterns, song, tempo, steps and echo as loading the file does.
//
// Usage: zelvox-lv2-presets OUT.ttl FILE.zvx...   (the manifest names the same presets)

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/PatternFileFormat.h"
#include "plugin/Ports.h"

namespace {

std::string Base64(const std::vector<unsigned char>& b) {
    static const char* const kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t n = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? uint32_t(b[i + 1]) << 8 : 0) |
                           (i + 2 < b.size() ? uint32_t(b[i + 2]) : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < b.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < b.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// "song-acid-journey" -> "Song acid journey", the label hosts show; the drum keeps its name
// ("twin-t-groove" -> "Twin-T groove").
std::string Label(const std::string& name) {
    std::string label = name;
    for (size_t at = label.find("twin-t"); at != std::string::npos;
         at = label.find("twin-t", at + 6))
        label.replace(at, 6, "Twin\x01T");
    for (char& c : label)
        if (c == '-' || c == '_')
            c = ' ';
        else if (c == '\x01')
            c = '-';
    if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') label[0] = char(label[0] - 'a' + 'A');
    return label;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: zelvox-lv2-presets OUT.ttl FILE.zvx...\n", stderr);
        return 2;
    }
    std::string ttl = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                      "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                      "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                      "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                      "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n";
    for (int i = 2; i < argc; ++i) {
        const std::string path = argv[i];
        std::ifstream in(path, std::ios::binary);
        const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                               std::istreambuf_iterator<char>()};
        if (!in || bytes.size() != zelvox::kPatternFileSize) {
            std::fprintf(stderr, "zelvox-lv2-presets: %s is not a %zu-byte pattern file\n",
                         path.c_str(), zelvox::kPatternFileSize);
            return 1;
        }
        const size_t slash = path.find_last_of('/');
        std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
        name.resize(name.size() -
                    (name.size() > 4 && name.compare(name.size() - 4, 4, ".zvx") == 0 ? 4 : 0));
        ttl += "\n<" + std::string(zelvox::lv2::kUri) + "/presets#" + name + ">\n" +
               "    a pset:Preset ;\n"
               "    lv2:appliesTo <" +
               zelvox::lv2::kUri + "> , <" + zelvox::lv2::kStereoUri + "> ;\n" +
               "    rdfs:label \"" + Label(name) + "\" ;\n" + "    state:state [\n" + "        <" +
               zelvox::lv2::kPatternsUri + "> \"" + Base64(bytes) + "\"^^xsd:base64Binary\n" +
               "    ] .\n";
    }
    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(ttl.data(), 1, ttl.size(), f) != ttl.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "zelvox-lv2-presets: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
