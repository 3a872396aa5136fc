#pragma once

// Stand-ins for the machine's accelerator tools: shell scripts put on PATH, answering the
// command lines the detection runs, and a fake PCI device tree.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "scoped_environment.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace vyai::test {

/** A folder of fake programs, first on PATH for the life of the object. */
class FakeTools
{
public:
    FakeTools():
        m_path("PATH", (m_directory.path() / "bin").string() + ":/usr/local/cuda-12.4/bin:/usr/local/cuda-10.2/bin:/usr/bin:/bin")
    {
        std::filesystem::create_directories(m_directory.path() / "bin");
    }

    /** Exit code and output, by argument text. */
    using Answers = std::vector<std::pair<std::string, std::pair<int, std::string>>>;

    /** A program that answers each listed argument text with its exit code and output; 1 else. */
    void addProgram(const std::string& name, const Answers& answers)
    {
        writeProgram(name, answerLines(answers) + "exit 1\n");
    }

    /**
     * A program that never answers, but for the listed argument texts, answered as by
     * addProgram: a driver tool that hangs. Each run that hangs appends its process id to the
     * file returned, as it starts.
     */
    std::filesystem::path addHangingProgram(const std::string& name, const Answers& answers = {})
    {
        const auto started = m_directory.path() / (name + ".started");
        writeProgram(name, answerLines(answers) + "echo $$ >> '" + started.string() + "'\nexec sleep 600\n");
        return started;
    }

    /** A PCI device folder with the given ids ("0x10de"). */
    void addPciDevice(const std::string& slot, const std::string& vendor, const std::string& device)
    {
        const auto folder = m_directory.path() / "pci" / slot;
        std::filesystem::create_directories(folder);
        writeFile(folder / "vendor", vendor + "\n");
        writeFile(folder / "device", device + "\n");
    }

    std::string pciRoot() const
    {
        std::filesystem::create_directories(m_directory.path() / "pci");
        return (m_directory.path() / "pci").string();
    }

private:
    static std::string answerLines(const Answers& answers)
    {
        std::string lines = "case \"$*\" in\n";
        for (const auto& [arguments, answer]: answers)
        {
            lines += "  \"" + arguments + "\") printf '%s\\n' '" + answer.second + "'; exit "
                + std::to_string(answer.first) + ";;\n";
        }
        return lines + "esac\n";
    }

    void writeProgram(const std::string& name, const std::string& body)
    {
        const auto path = m_directory.path() / "bin" / name;
        writeFile(path, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    ScopedTempDirectory m_directory;
    ScopedEnv m_path;
};

} // namespace vyai::test
