#include "firmware_files.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace firmware_files {
namespace {

constexpr char kConfigPath[] = "C:\\glintsim\\device.cfg";
constexpr char kLedStatePath[] = "C:\\glintsim\\led.state";
constexpr char kLedWordPath[] = "C:\\glintsim\\led.txt";
constexpr char kHoldPath[] = "C:\\glintsim\\hold";
constexpr char kHoldingPath[] = "C:\\glintsim\\holding";
constexpr DWORD kMaxHoldMs = 15000;
constexpr DWORD kHoldPollMs = 20;

std::string ReadWholeFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The test polls these files, so a reader must never see half of one.
void ReplaceFile(const char* path, const std::string& text) {
    std::string temporary = std::string(path) + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
    }
    MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

devicesim::DeviceConfig LoadConfig() { return devicesim::ParseConfig(ReadWholeFile(kConfigPath)); }

devicesim::Device LoadDevice() {
    devicesim::Device device(LoadConfig());
    std::istringstream state(ReadWholeFile(kLedStatePath));
    unsigned a = 0, b = 0;
    if (state >> a >> b) device.set_led({static_cast<uint8_t>(a), static_cast<uint8_t>(b)});
    return device;
}

void SaveLed(const devicesim::Device& device) {
    devicesim::LedBytes led = device.led();
    ReplaceFile(kLedStatePath, std::to_string(led.a) + " " + std::to_string(led.b) + "\n");
    ReplaceFile(kLedWordPath, std::string(devicesim::DescribeLed(led)) + "\n");
}

void WaitWhileHeld() {
    auto held = [] { return GetFileAttributesA(kHoldPath) != INVALID_FILE_ATTRIBUTES; };
    if (!held()) return;
    ReplaceFile(kHoldingPath, "1\n");
    for (DWORD waited = 0; held() && waited < kMaxHoldMs; waited += kHoldPollMs) Sleep(kHoldPollMs);
    DeleteFileA(kHoldingPath);
}

}  // namespace firmware_files
