#include "OutputFiles.h"

#include <filesystem>

#include "ReplacementFile.h"

namespace updatetool::cli {

namespace {

bool sameFile(const std::string& first, const std::string& second)
{
    if (isSameFile(first, second))
        return true;
    // Neither exists yet, or only one: the names themselves must differ.
    std::error_code error;
    const auto a = std::filesystem::weakly_canonical(std::filesystem::absolute(first), error);
    if (error)
        return first == second;
    const auto b = std::filesystem::weakly_canonical(std::filesystem::absolute(second), error);
    if (error)
        return first == second;
    return a == b;
}

} // namespace

std::optional<std::string> outputClash(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (const NamedFile& input : inputs)
            if (sameFile(outputs[i].path, input.path))
                return outputs[i].role + " is " + input.role + " itself; nothing was written";
        for (std::size_t j = i + 1; j < outputs.size(); ++j)
            if (sameFile(outputs[i].path, outputs[j].path))
                return outputs[i].role + " and " + outputs[j].role + " would be one file; nothing was written";
    }
    return std::nullopt;
}

} // namespace updatetool::cli
