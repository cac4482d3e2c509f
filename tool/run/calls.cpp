#include "calls.h"

namespace qm {

std::vector<TArgs> FunctionCalls(const std::vector<std::string>& levelArgs) {
    const std::string level = levelArgs.empty() ? std::string() : levelArgs[0];
    std::vector<std::vector<std::string>> calls{{level}};
    for (size_t i = 1; i < levelArgs.size(); ++i) {
        if (i > 1 && FindRow(levelArgs[i])) calls.push_back({level});
        calls.back().push_back(levelArgs[i]);
    }
    std::vector<TArgs> result;
    result.reserve(calls.size());
    for (std::vector<std::string>& words : calls) result.emplace_back(std::move(words));
    return result;
}

} // namespace qm
