#pragma once

// This process's threads by name, from /proc: the stand-in runtime names its worker
// "vy-runtime", so its life and its CPU time can be told from the plug-in's.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vyai::test {

inline constexpr char kRuntimeThreadName[] = "vy-runtime";

/** The /proc/self/task folders of the threads named `name`. */
inline std::vector<std::filesystem::path> threadsNamed(const std::string& name)
{
    std::vector<std::filesystem::path> found;
    std::error_code error; // a thread that ends while listed is simply not found
    for (const auto& task: std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::string comm;
        if (std::getline(std::ifstream(task.path() / "comm"), comm) && comm == name)
            found.push_back(task.path());
    }
    return found;
}

/** CPU seconds the threads named `name` have spent, from the scheduler's account (ns). */
inline double threadCpuSeconds(const std::string& name)
{
    double seconds = 0.0;
    for (const auto& task: threadsNamed(name)) {
        unsigned long long ns = 0;
        if (std::ifstream(task / "schedstat") >> ns)
            seconds += double(ns) * 1e-9;
    }
    return seconds;
}

} // namespace vyai::test
