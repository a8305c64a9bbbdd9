#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/FakeProfileStore.h"
#include "core/settings/IniFile.h"
#include "core/settings/SettingsStore.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

class SettingsIniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("corvane-ini-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                "-" + std::to_string(counter++));
        fs::create_directories(dir_);
        path_ = dir_ / "Corvane.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string PathUtf8() const { return Utf8(path_); }
    static std::string Utf8(const fs::path& path) {
        const auto u8 = path.u8string();
        return std::string(u8.begin(), u8.end());
    }
    std::string Bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void Put(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    fs::path dir_;
    fs::path path_;
};

TEST(ProfileStructText, HexDigitsThenChecksum) {
    const std::uint8_t bytes[] = {0x01, 0xAB, 0x00, 0x10, 0xFF};
    EXPECT_EQ(EncodeProfileStruct(bytes, sizeof bytes), "01AB0010FFBB");

    std::array<std::uint8_t, 5> out{};
    ASSERT_TRUE(DecodeProfileStruct("01AB0010FFBB", out.data(), out.size()));
    EXPECT_EQ(out, (std::array<std::uint8_t, 5>{0x01, 0xAB, 0x00, 0x10, 0xFF}));

    std::array<std::uint8_t, 5> untouched{9, 9, 9, 9, 9};
    for (const char* bad : {"01AB0010FFBC", "01AB0010FF", "01AB0010FFBB00", "01AB0010FFB", "01AG0010FFBB",
                            "01AB 010FFBB", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(DecodeProfileStruct(bad, untouched.data(), untouched.size()));
    }
    EXPECT_EQ(untouched, (std::array<std::uint8_t, 5>{9, 9, 9, 9, 9}));
}

TEST_F(SettingsIniFileTest, WritesCodePage932WithCrLfAndReadsBack) {
    IniFile ini(PathUtf8());
    EXPECT_EQ(ini.ReadString("Environment", "SoundFileName"), "");  // no file yet
    ASSERT_EQ(ini.WriteString("Environment", "IsSecond", "1"), 0u);
    ASSERT_EQ(ini.WriteString("Environment", "SoundFileName", "C:\\音\\接続.wav"), 0u);
    ASSERT_EQ(ini.WriteString("Columns", "Sort", "2"), 0u);
    ASSERT_EQ(ini.WriteString("environment", "ISSECOND", "0"), 0u);  // names ignore case
    ASSERT_EQ(ini.WriteString("ENVIRONMENT", "TabIndex", "1"), 0u);  // joins the existing section

    EXPECT_EQ(Bytes(),
              "[Environment]\r\nIsSecond=0\r\nSoundFileName=C:\\\x89\xb9\\\x90\xda\x91\xb1.wav\r\n"
              "TabIndex=1\r\n[Columns]\r\nSort=2\r\n");
    EXPECT_EQ(ini.ReadString("ENVIRONMENT", "soundfilename"), "C:\\音\\接続.wav");
    EXPECT_EQ(ini.ReadString("Columns", "Column0"), "");
    EXPECT_EQ(ini.ReadString("Window", "Sort"), "");
}

TEST_F(SettingsIniFileTest, HandEditedFileKeepsItsOtherLines) {
    Put("; kept\n[Environment]\n  MaxLogSize =  0x1000  \nSoundFileName=\"a b.wav\"\nnoequals\n\n"
        "[Columns]\nSort=1\n");
    IniFile ini(PathUtf8());
    EXPECT_EQ(ini.ReadString("Environment", "MaxLogSize"), "0x1000");
    EXPECT_EQ(ini.ReadString("Environment", "SoundFileName"), "a b.wav");
    EXPECT_EQ(ini.ReadString("Environment", "noequals"), "");

    ASSERT_EQ(ini.WriteString("Environment", "IsSecond", "1"), 0u);
    ASSERT_EQ(ini.WriteString("Columns", "Sort", "4"), 0u);
    EXPECT_EQ(Bytes(),
              "; kept\r\n[Environment]\r\n  MaxLogSize =  0x1000  \r\nSoundFileName=\"a b.wav\"\r\nnoequals\r\n"
              "IsSecond=1\r\n\r\n[Columns]\r\nSort=4\r\n");
}

TEST_F(SettingsIniFileTest, LongValuesAreCut) {
    IniFile ini(PathUtf8());
    ASSERT_EQ(ini.WriteString("Environment", "SoundFileName", std::string(3000, 'a')), 0u);
    EXPECT_EQ(ini.ReadString("Environment", "SoundFileName"), std::string(2047, 'a'));
}

TEST_F(SettingsIniFileTest, UnwritableFileIsRefused) {
    IniFile ini(Utf8(dir_ / "missing" / "Corvane.ini"));
    EXPECT_NE(ini.WriteString("Environment", "IsSecond", "1"), 0u);
    Settings settings;
    FakeSettingsWindow window;
    EXPECT_THROW(LoadSettings(ini, window, settings), SettingsWriteError);
}

TEST_F(SettingsIniFileTest, SettingsSurviveASaveAndLoad) {
    IniFile ini(PathUtf8());
    FakeSettingsWindow window;
    Settings settings;
    LoadSettings(ini, window, settings);
    EXPECT_EQ(Bytes(), "[Environment]\r\nIsSecond=1\r\n");

    settings.SoundFileName = "C:\\音.wav";
    settings.DisconnectIdleTime = 600;
    settings.CloseIsMinimize = true;
    window.placement = {44, 0, 3, -1, -1, -8, -8, 10, 20, 300, 400};
    window.sessionWidths[5] = 123;
    window.tabIndex = 1;
    SaveSettings(ini, window, settings);

    FakeSettingsWindow restored;
    Settings loaded;
    LoadSettings(ini, restored, loaded);
    EXPECT_EQ(loaded.SoundFileName, "C:\\音.wav");
    EXPECT_EQ(loaded.SoundFileNameConnectSession, "C:\\音.wav");
    EXPECT_EQ(loaded.DisconnectIdleTime, 600);
    EXPECT_TRUE(loaded.CloseIsMinimize);
    ASSERT_EQ(restored.placementsSet.size(), 1u);
    EXPECT_EQ(restored.placementsSet[0], window.placement);
    EXPECT_EQ(restored.sessionWidths[5], 123);
    EXPECT_EQ(restored.tabIndex, 1);
}

}  // namespace
}  // namespace corvane::test
