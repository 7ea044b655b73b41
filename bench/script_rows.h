// The shipped script with every language block's paper list replaced by n
// rows of varied sizes, in inches and centimetres: the large tables both
// benchmarks read.
#pragma once

#include <string>

namespace bench {

// How the shipped script opens each language block's paper list.
inline constexpr const char* kPaperListKey = "szPaperSizes : [";

inline std::string ScriptWithRows(const std::string& shipped, int rows) {
    std::string list = " ";
    for (int i = 0; i < rows; ++i) {
        if (i > 0) list += ", ";
        list += "\"Paper " + std::to_string(i) + "\", \"" + std::to_string(3 + i % 7) + ".5;" +
                std::to_string(5 + i % 5) + ".0;" + std::to_string(i % 2) + ";" +
                std::to_string(256 + i) + ";\", " + std::to_string(i);
    }
    list += " ";
    std::string text = shipped;
    const std::string key = kPaperListKey;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        size_t open = at + key.size();
        size_t close = text.find(']', open);
        if (close == std::string::npos) break;
        text.replace(open, close - open, list);
        at = open + list.size();
    }
    return text;
}

}  // namespace bench
