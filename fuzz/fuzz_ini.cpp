/* INI reading on any file content: the platform layer's profile reader
 * (the library's own INI files), qorbsim.ini with its settings applied to
 * the built-in simulated platform, and the sysfs driver's qorbsysfs.ini. */
#include <string.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "qorb_platform.h"
#include "sim_config.h"
#include "sim_platform.h"
#include "sysfs_driver.h"

using qorbfuzz::Require;

namespace {

/* The sections and keys the library reads, and others that may or may not
 * be in the file, each with the buffer sizes callers use and the edges. */
void ReadProfile(const std::string& path)
{
    static const char* const kLookups[][2] = {
        {"DLL", "DLLName"}, {"CfgSpaceInfo", "CfgSpaceLength"}, {"platform", "dump"}, {"sysfs", "root"}, {"", ""},
    };
    static const uint32_t kSizes[] = {1, 32, 255};
    char out[256];
    for (const auto& lookup : kLookups) {
        for (uint32_t size : kSizes) {
            memset(out, 0x5A, sizeof out);
            uint32_t n = PlatformGetPrivateProfileString(lookup[0], lookup[1], "default", out, size, path.c_str());
            Require(n < size && out[n] == '\0' && strlen(out) == n, "the value is cut to the buffer and terminated");
            Require(static_cast<unsigned char>(out[size]) == 0x5A, "nothing is written past the buffer");
        }
    }
}

/* qorbsim.ini is read from the current directory. */
void ReadSimConfig()
{
    char here[4096];
    Require(getcwd(here, sizeof here) != nullptr, "getcwd");
    Require(chdir(qorbfuzz::ScratchDir().c_str()) == 0, "chdir to the scratch folder");
    qorbsim::SimConfig config;
    bool ok = qorbsim::LoadConfig(config);
    Require(chdir(here) == 0, "chdir back");
    /* Building the platform costs far more than reading the file: only a
     * file that asks for something of it is applied. */
    if (!ok || config.functions.empty())
        return;
    Require(config.trainingMs <= qorbsim::kMaxTrainingMs, "training time within its range");
    /* The built-in platform, whatever dumps the file names. */
    config.dumps.clear();
    qorbsim::Platform platform;
    (void)platform.Load(config);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string path = qorbfuzz::WriteScratchFile(qorbsim::kConfigFile, data, size);
    ReadProfile(path);
    ReadSimConfig();
    qorbsysfs::Settings settings;
    if (qorbsysfs::LoadSettings(path.c_str(), &settings))
        Require(!settings.root.empty() && !settings.mcfgPath.empty(), "sysfs paths are never empty");
    return 0;
}
