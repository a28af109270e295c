#include "support/StringFunctions.h"

namespace vark {

std::string TrimCrLf(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    std::string t = s.substr(first, last - first + 1);

    std::size_t lead = 0;
    while (lead < t.size() && (t[lead] == '\r' || t[lead] == '\n' || t[lead] == ' ')) ++lead;
    t.erase(0, lead);
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
    return t;
}

std::string GetValueAfterKey(const std::string& source, const std::string& key,
                             const std::string& delimiter, bool toEnd,
                             const std::string& defaultValue) {
    std::string value;
    const auto at = source.find(key);
    if (at != std::string::npos) {
        const std::size_t start = at + key.size();
        std::size_t end = source.size();
        bool hasValue = true;
        if (!delimiter.empty()) {
            const auto d = source.find(delimiter, start);
            if (d != std::string::npos) {
                end = d;
            } else if (!toEnd) {
                hasValue = false;
            }
        }
        if (hasValue) value = TrimCrLf(source.substr(start, end - start));
    }
    if (!defaultValue.empty() && value.empty()) value = defaultValue;
    return value;
}

}  // namespace vark
