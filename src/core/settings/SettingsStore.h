#pragma once
// Reading and writing the Settings record and the window state in Corvane.ini.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/settings/ProfileStore.h"
#include "core/settings/Settings.h"
#include "core/settings/SettingsWindow.h"

namespace corvane {

inline constexpr const char* kSettingsFileName = "Corvane.ini";

// The settings file refused a write. The message names the file; the code is
// the system's.
class SettingsWriteError : public std::runtime_error {
public:
    SettingsWriteError(const std::string& path, std::uint32_t code);
    const std::string& Path() const noexcept { return path_; }
    std::uint32_t Code() const noexcept { return code_; }
private:
    std::string path_;
    std::uint32_t code_;
};

// Reads every key into `settings` and `window`; converts disconnect times kept
// in minutes to seconds and marks the file with IsSecond at once.
// Throws SettingsWriteError when IsSecond cannot be written.
void LoadSettings(IProfileStore& store, ISettingsWindow& window, Settings& settings);

// Writes every key. Throws SettingsWriteError at the first refused key; the
// keys after it keep their stored values.
void SaveSettings(IProfileStore& store, ISettingsWindow& window, const Settings& settings);

// The main window's settings: saves only after a load succeeded, so a start
// that ends before loading never overwrites the stored settings.
class SettingsStore {
public:
    SettingsStore(IProfileStore& store, ISettingsWindow& window, Settings& settings) noexcept
        : store_(store), window_(window), settings_(settings) {}

    void LoadSettings();
    // Does nothing until LoadSettings has succeeded.
    void SaveSettings();
    bool Loaded() const noexcept { return loaded_; }

private:
    IProfileStore& store_;
    ISettingsWindow& window_;
    Settings& settings_;
    bool loaded_ = false;
};

}  // namespace corvane
