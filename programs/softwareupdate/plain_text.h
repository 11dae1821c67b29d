// Trimming, splitting and lower-casing the plain text of sources files and
// settings values.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace vynd::softwareupdate {

inline std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

inline std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

inline std::vector<std::string> words(const std::string& s, const char* separators = " \t") {
    std::vector<std::string> out;
    for (size_t i = 0; (i = s.find_first_not_of(separators, i)) != std::string::npos;) {
        size_t end = s.find_first_of(separators, i);
        out.push_back(s.substr(i, end == std::string::npos ? end : end - i));
        i = end;
    }
    return out;
}

}  // namespace vynd::softwareupdate
