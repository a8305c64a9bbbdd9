// The portable settings-file codec against the system's profile functions:
// both must write the same bytes and accept and reject the same values.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cerrno>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "core/settings/IniFile.h"
#include "core/settings/SettingsStore.h"
#include "core/text/Text.h"
#include "support/FakeProfileStore.h"
#include "support/TestFiles.h"
#include "win/settings/ProfileStoreWin.h"

namespace corvane::test {
namespace {

class ProfileStoreWinTest : public ::testing::Test {
protected:
    std::string Bytes(const fs::path& path) const { return ReadBytes(path); }
    void Put(const fs::path& path, const std::string& bytes) { WriteBytes(path, bytes); }
    // Runs the same calls on both stores, each over its own file.
    void OnBoth(const std::string& initial, const std::function<void(IProfileStore&)>& calls) {
        if (!initial.empty()) {
            Put(dir_ / "portable.ini", initial);
            Put(dir_ / "system.ini", initial);
        }
        IniFile portable(Utf8(dir_ / "portable.ini"));
        win::ProfileStoreWin system(Utf8(dir_ / "system.ini"));
        calls(portable);
        calls(system);
    }
    std::string Portable() const { return Bytes(dir_ / "portable.ini"); }
    std::string System() const { return Bytes(dir_ / "system.ini"); }

    TempFolder folder_{"corvane-profile-"};
    const fs::path dir_ = folder_.Path();
};

TEST_F(ProfileStoreWinTest, SystemFileIsCodePage932) {
    ASSERT_EQ(GetACP(), 932u) << "run with a Japanese locale (LC_ALL=ja_JP.UTF-8)";
    OnBoth("", [](IProfileStore& store) {
        ASSERT_EQ(store.WriteString("Environment", "SoundFileName", "C:\\音\\接続.wav"), 0u);
        EXPECT_EQ(store.ReadString("environment", "SOUNDFILENAME"), "C:\\音\\接続.wav");
    });
    EXPECT_EQ(System(), "[Environment]\r\nSoundFileName=C:\\\x89\xb9\\\x90\xda\x91\xb1.wav\r\n");
    EXPECT_EQ(Portable(), System());
}

TEST_F(ProfileStoreWinTest, SameBytesForTheSameWrites) {
    OnBoth("; note\r\n[Columns]\r\nSort=1\r\nlone line\r\n[Other]\r\nkeep=this\r\n", [](IProfileStore& store) {
        const WindowPlacementRecord placement{44, 2, 1, -1, -1, -8, -8, 100, 120, 740, 600};
        const auto bytes = EncodePlacement(placement);
        ASSERT_EQ(store.WriteStruct("Window", "Placement", bytes.data(), bytes.size()), 0u);
        ASSERT_EQ(store.WriteString("Environment", "IsSecond", "1"), 0u);
        ASSERT_EQ(store.WriteString("columns", "SORT", "3"), 0u);   // stored spelling stays
        ASSERT_EQ(store.WriteString("COLUMNS", "Column0", "80"), 0u);  // after "lone line"
        ASSERT_EQ(store.WriteString("Environment", "SoundFileName", "ｶﾅ全角,=;[x]"), 0u);
        ASSERT_EQ(store.WriteString("Environment", "Empty", ""), 0u);
        ASSERT_EQ(store.WriteString("Window", "Placement2", "x"), 0u);
    });
    EXPECT_EQ(Portable(), System());
}

TEST_F(ProfileStoreWinTest, SameBytesForAFirstStartAndASave) {
    OnBoth("", [](IProfileStore& store) {
        FakeSettingsWindow window;
        Settings settings;
        LoadSettings(store, window, settings);
        settings.SoundFileName = "C:\\Windows\\Media\\ding.wav";
        settings.DisconnectConnTime = -300;
        settings.MaxLogSize = 4096;
        window.placement = {0, 0, 1, -1, -1, -8, -8, 10, 20, 650, 500};
        window.minimized = true;
        window.tabIndex = 1;
        SaveSettings(store, window, settings);

        FakeSettingsWindow restored;
        Settings loaded;
        LoadSettings(store, restored, loaded);
        ASSERT_EQ(restored.placementsSet.size(), 1u);
        EXPECT_EQ(restored.placementsSet[0].showCmd, 2u);
        EXPECT_EQ(restored.placementsSet[0].normalRight, 650);
        EXPECT_EQ(loaded.DisconnectConnTime, -300);
        EXPECT_EQ(loaded.SoundFileNameConnectSession, "C:\\Windows\\Media\\ding.wav");
        EXPECT_EQ(restored.tabIndex, 1);
    });
    EXPECT_EQ(Portable(), System());
}

TEST_F(ProfileStoreWinTest, SameReadingsAndRejections) {
    const WindowPlacementRecord placement{44, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8};
    const auto record = EncodePlacement(placement);
    const std::string good = EncodeProfileStruct(record.data(), record.size());
    std::string lower = good;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string badSum = good;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    std::string badDigit = good;
    badDigit[10] = 'Z';

    const std::vector<std::pair<std::string, std::string>> values = {
        {"Good", good},          {"Lower", lower},
        {"Quoted", "\"" + good + "\""},
        {"BadSum", badSum},      {"BadDigit", badDigit},
        {"Short", good.substr(2)},
        {"Empty", ""},
        {"Number", "  0x1000  "}, {"Single", "'a b'"}, {"Japanese", "音"},
        {"Long3000", std::string(3000, 'a')},
    };
    std::string file = "[Window]\r\n";
    for (const auto& [key, value] : values) file += key + "=" + text::Utf8ToCp932(value) + "\r\n";

    std::vector<std::string> results[2];
    int which = 0;
    OnBoth(file, [&](IProfileStore& store) {
        for (const auto& [key, value] : values) {
            std::array<std::uint8_t, kPlacementRecordSize> buffer{};
            const bool ok = store.ReadStruct("Window", key, buffer.data(), buffer.size());
            results[which].push_back(key + ": struct " + (ok ? "ok" : "rejected") +
                                     (ok && buffer == record ? " (same record)" : "") + ", string " +
                                     std::to_string(store.ReadString("Window", key).size()) + " bytes '" +
                                     store.ReadString("Window", key).substr(0, 20) + "'");
        }
        std::array<std::uint8_t, kPlacementRecordSize> buffer{};
        results[which].push_back(std::string("missing: ") +
                                 (store.ReadStruct("Window", "Missing", buffer.data(), buffer.size()) ? "ok" : "rejected"));
        ++which;
    });
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[1][2].substr(0, 23), "Quoted: struct rejected");
    EXPECT_EQ(results[1][0], "Good: struct ok (same record), string 90 bytes '" + good.substr(0, 20) + "'");
    EXPECT_EQ(results[1][3].substr(0, 23), "BadSum: struct rejected");

    // Digits beyond the record and its checksum: Wine's function ignores them,
    // the portable codec counts the value as damaged (a record of another length).
    Put(dir_ / "portable.ini", "[Window]\r\nPlacement=" + good + "00\r\n");
    IniFile portable(Utf8(dir_ / "portable.ini"));
    std::array<std::uint8_t, kPlacementRecordSize> buffer{};
    EXPECT_FALSE(portable.ReadStruct("Window", "Placement", buffer.data(), buffer.size()));
}

TEST_F(ProfileStoreWinTest, BothRefuseAFileInAMissingFolder) {
    IniFile portable(Utf8(dir_ / "missing" / "Corvane.ini"));
    win::ProfileStoreWin system(Utf8(dir_ / "missing" / "Corvane.ini"));
    EXPECT_EQ(portable.WriteString("Environment", "IsSecond", "1"), std::uint32_t(ENOENT));
    EXPECT_EQ(system.WriteString("Environment", "IsSecond", "1"), std::uint32_t(ERROR_PATH_NOT_FOUND));

    FakeSettingsWindow window;
    Settings settings;
    try {
        LoadSettings(system, window, settings);
        FAIL() << "no error";
    } catch (const SettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()), system.Path() + " に書き込めません");
        EXPECT_EQ(e.Code(), std::uint32_t(ERROR_PATH_NOT_FOUND));
    }
}

}  // namespace
}  // namespace corvane::test
