#pragma once
// In-memory settings file and main-window state for the settings tests.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/settings/IniFile.h"
#include "core/settings/ProfileStore.h"
#include "core/settings/SettingsWindow.h"

namespace corvane::test {

struct FakeProfileStore : IProfileStore {
    struct Write {
        std::string section, key, value;
        bool operator==(const Write&) const = default;
    };

    std::string path = "C:\\Corvane\\Corvane.ini";
    // Keyed by lower-case "section/key", like the profile functions ignore case.
    std::map<std::string, std::string> values;
    std::vector<Write> writes;           // every accepted write, in order
    std::string refuseKey;               // writes to this key are refused
    std::uint32_t refuseCode = 5;        // with this error code

    static std::string Id(const std::string& section, const std::string& key) {
        std::string id = section + "/" + key;
        for (auto& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return id;
    }
    void Set(const std::string& section, const std::string& key, const std::string& value) {
        values[Id(section, key)] = value;
    }
    const std::string* Find(const std::string& section, const std::string& key) const {
        const auto it = values.find(Id(section, key));
        return it == values.end() ? nullptr : &it->second;
    }

    std::string Path() const override { return path; }
    std::string ReadString(const std::string& section, const std::string& key) override {
        const auto* value = Find(section, key);
        return value ? *value : std::string();
    }
    std::uint32_t WriteString(const std::string& section, const std::string& key,
                              const std::string& value) override {
        if (!refuseKey.empty() && Id("", key) == Id("", refuseKey)) return refuseCode;
        Set(section, key, value);
        writes.push_back({section, key, value});
        return 0;
    }
    bool ReadStruct(const std::string& section, const std::string& key, void* buffer,
                    std::size_t size) override {
        const auto* value = Find(section, key);
        return value && DecodeProfileStruct(*value, buffer, size);
    }
    std::uint32_t WriteStruct(const std::string& section, const std::string& key, const void* data,
                              std::size_t size) override {
        return WriteString(section, key, EncodeProfileStruct(data, size));
    }
};

struct FakeSettingsWindow : ISettingsWindow {
    WindowPlacementRecord placement{};
    std::vector<WindowPlacementRecord> placementsSet;
    bool minimized = false;
    int dpi = 96;
    std::vector<int> sessionWidths = std::vector<int>(6, 0);
    std::vector<int> resourceWidths = std::vector<int>(2, 0);
    int tabIndex = 0;
    int tabIndexSets = 0;

    std::vector<int>& Widths(ListKind list) {
        return list == ListKind::Sessions ? sessionWidths : resourceWidths;
    }
    WindowPlacementRecord GetPlacement() override { return placement; }
    void SetPlacement(const WindowPlacementRecord& p) override {
        placement = p;
        placementsSet.push_back(p);
    }
    bool IsProgramMinimized() override { return minimized; }
    int ColumnDpi() override { return dpi; }
    int ColumnCount(ListKind list) override { return static_cast<int>(Widths(list).size()); }
    int GetColumnWidth(ListKind list, int column) override {
        return Widths(list).at(static_cast<std::size_t>(column));
    }
    void SetColumnWidth(ListKind list, int column, int width) override {
        Widths(list).at(static_cast<std::size_t>(column)) = width;
    }
    int GetTabIndex() override { return tabIndex; }
    void SetTabIndex(int index) override {
        tabIndex = index;
        ++tabIndexSets;
    }
};

}  // namespace corvane::test
