#include <gtest/gtest.h>

#include <functional>

#include "support/FakeProfileStore.h"
#include "core/settings/SettingsStore.h"

namespace corvane::test {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void Load() { LoadSettings(store, window, settings); }
    const std::string* Stored(const std::string& section, const std::string& key) {
        return store.Find(section, key);
    }

    FakeProfileStore store;
    FakeSettingsWindow window;
    Settings settings;
};

TEST_F(SettingsStoreTest, EmptyFileGivesDefaultsAndMarksSeconds) {
    window.tabIndex = 1;
    Load();
    EXPECT_TRUE(settings.PopupNotifyWindow);
    EXPECT_TRUE(settings.PopupNotifyWindowByTray);
    EXPECT_FALSE(settings.NotifyConnectSessionBySound);
    EXPECT_FALSE(settings.NotifyResourceAccess);
    EXPECT_TRUE(settings.NotifyResourceAccessByTray);
    EXPECT_FALSE(settings.NotifyResourceAccessBySound);
    EXPECT_FALSE(settings.IgnoreSharedResource);
    EXPECT_TRUE(settings.IgnoreLocalConnection);
    EXPECT_TRUE(settings.IgnoreAutoRefresh);
    EXPECT_FALSE(settings.ExitMessage);
    EXPECT_FALSE(settings.DisconnectMessage);
    EXPECT_FALSE(settings.IgnoreFileCloseMessage);
    EXPECT_FALSE(settings.CloseIsMinimize);
    EXPECT_EQ(settings.DisconnectConnTime, 0);
    EXPECT_EQ(settings.DisconnectIdleTime, 0);
    EXPECT_EQ(settings.MaxLogSize, 1048576);
    EXPECT_TRUE(settings.WriteEventLog);
    EXPECT_EQ(window.sessionWidths, (std::vector<int>{100, 80, 80, 80, 80, 92}));
    EXPECT_EQ(window.resourceWidths, std::vector<int>(2, 100));
    EXPECT_EQ(window.tabIndex, 0);
    EXPECT_TRUE(window.placementsSet.empty());
    // The only thing a first start writes.
    ASSERT_EQ(store.writes.size(), 1u);
    EXPECT_EQ(store.writes[0], (FakeProfileStore::Write{"Environment", "IsSecond", "1"}));
}

TEST_F(SettingsStoreTest, IntegerSyntaxAndDefaults) {
    struct Case {
        const char* key;
        const char* value;
        std::function<std::int32_t(const Settings&)> field;
        std::int32_t expected;
    };
    const auto popup = [](const Settings& s) { return std::int32_t{s.PopupNotifyWindow}; };
    const auto exitMessage = [](const Settings& s) { return std::int32_t{s.ExitMessage}; };
    const auto maxLog = [](const Settings& s) { return s.MaxLogSize; };
    const Case cases[] = {
        {"PopupNotifyWindow", "yes", popup, 1},    // not a number: the default
        {"PopupNotifyWindow", "0", popup, 0},
        {"ExitMessage", "2", exitMessage, 1},      // any non-zero is true
        {"ExitMessage", "-1", exitMessage, 1},
        {"ExitMessage", "yes", exitMessage, 0},
        {"MaxLogSize", "0x1000", maxLog, 4096},
        {"MaxLogSize", "$3C", maxLog, 60},
        {"MaxLogSize", "X10", maxLog, 16},
        {"MaxLogSize", " -5", maxLog, -5},
        {"MaxLogSize", "99999999999", maxLog, 1048576},
        {"MaxLogSize", "-2147483648", maxLog, -2147483647 - 1},
        {"MaxLogSize", "2147483648", maxLog, 1048576},
        {"MaxLogSize", "", maxLog, 1048576},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        FakeProfileStore file;
        FakeSettingsWindow w;
        Settings s;
        file.Set("Environment", c.key, c.value);
        LoadSettings(file, w, s);
        EXPECT_EQ(c.field(s), c.expected);
    }
}

TEST_F(SettingsStoreTest, MinutesBecomeSecondsAndTheFileIsMarkedAtOnce) {
    store.Set("Environment", "DisconnectConnTime", "5");
    store.Set("Environment", "DisconnectIdleTime", "10");
    Load();
    EXPECT_EQ(settings.DisconnectConnTime, 300);
    EXPECT_EQ(settings.DisconnectIdleTime, 600);
    ASSERT_NE(Stored("Environment", "IsSecond"), nullptr);
    EXPECT_EQ(*Stored("Environment", "IsSecond"), "1");
    // The converted times reach the file with the next save only.
    EXPECT_EQ(*Stored("Environment", "DisconnectConnTime"), "5");
    SaveSettings(store, window, settings);
    EXPECT_EQ(*Stored("Environment", "DisconnectConnTime"), "300");
    EXPECT_EQ(*Stored("Environment", "DisconnectIdleTime"), "600");

    // Loaded again, the file is already in seconds.
    Settings again;
    store.writes.clear();
    LoadSettings(store, window, again);
    EXPECT_EQ(again.DisconnectConnTime, 300);
    EXPECT_EQ(again.DisconnectIdleTime, 600);
    EXPECT_TRUE(store.writes.empty());
}

TEST_F(SettingsStoreTest, SecondsAreKeptAndMultiplicationWrapsIn32Bits) {
    store.Set("Environment", "IsSecond", "1");
    store.Set("Environment", "DisconnectConnTime", "5");
    Load();
    EXPECT_EQ(settings.DisconnectConnTime, 5);

    FakeProfileStore minutes;
    minutes.Set("Environment", "DisconnectConnTime", "2147483647");
    minutes.Set("Environment", "DisconnectIdleTime", "-2");
    Settings s;
    LoadSettings(minutes, window, s);
    EXPECT_EQ(s.DisconnectConnTime, -60);  // 0x7FFFFFFF * 60 modulo 2^32
    EXPECT_EQ(s.DisconnectIdleTime, -120);
}

TEST_F(SettingsStoreTest, ConnectSoundFallsBackToAccessSound) {
    store.Set("Environment", "SoundFileName", "C:\\音\\access.wav");
    store.Set("Environment", "SoundFileNameConnectSession", "");
    Load();
    EXPECT_EQ(settings.SoundFileNameConnectSession, "C:\\音\\access.wav");
    SaveSettings(store, window, settings);
    EXPECT_EQ(*Stored("Environment", "SoundFileNameConnectSession"), "C:\\音\\access.wav");

    FakeProfileStore own;
    own.Set("Environment", "SoundFileName", "a.wav");
    own.Set("Environment", "SoundFileNameConnectSession", "b.wav");
    Settings s;
    LoadSettings(own, window, s);
    EXPECT_EQ(s.SoundFileNameConnectSession, "b.wav");
}

TEST_F(SettingsStoreTest, PlacementRoundTripsAndMinimisedProgramStoresShowCmd2) {
    window.placement = {0, 2, 1, -1, -1, -8, -8, 100, 120, 740, 600};
    window.minimized = true;
    settings.MaxLogSize = 1;
    SaveSettings(store, window, settings);

    FakeSettingsWindow restored;
    Settings s;
    LoadSettings(store, restored, s);
    ASSERT_EQ(restored.placementsSet.size(), 1u);
    const WindowPlacementRecord expected{44, 2, 2, -1, -1, -8, -8, 100, 120, 740, 600};
    EXPECT_EQ(restored.placementsSet[0], expected);
}

TEST_F(SettingsStoreTest, ColumnWidthsAreStoredAt96DpiAndShownAtTheWindowsScale) {
    store.Set("Columns", "Column0", "81");
    store.Set("Columns", "ColumnResource1", "300");
    for (int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        FakeSettingsWindow shown;
        shown.dpi = dpi;
        Settings s;
        LoadSettings(store, shown, s);
        EXPECT_EQ(shown.sessionWidths[0], dpi == 96 ? 81 : 122);
        EXPECT_EQ(shown.sessionWidths[1], dpi == 96 ? 80 : 120);  // the designed width
        EXPECT_EQ(shown.resourceWidths[1], dpi == 96 ? 300 : 450);

        FakeProfileStore saved;
        SaveSettings(saved, shown, s);
        const auto stored = [&](const char* key) {
            const std::string* value = saved.Find("Columns", key);
            return value ? *value : std::string("(missing)");
        };
        EXPECT_EQ(stored("Column0"), "81");
        EXPECT_EQ(stored("Column1"), "80");
        EXPECT_EQ(stored("ColumnResource1"), "300");
    }
}

TEST_F(SettingsStoreTest, PlacementIsAppliedOnlyWhenValidAndNotBlank) {
    FakeSettingsWindow source;
    source.placement = {44, 0, 1, 0, 0, 0, 0, 10, 10, 200, 200};
    SaveSettings(store, source, settings);
    const std::string good = *Stored("Window", "Placement");
    ASSERT_EQ(good.size(), 90u);

    Load();
    EXPECT_EQ(window.placementsSet.size(), 1u);

    std::string damaged = good;
    damaged[20] = damaged[20] == '0' ? '1' : '0';  // the checksum no longer matches
    const std::string rejected[] = {damaged, good.substr(0, 88), good + "00", "G" + good.substr(1)};
    for (const auto& value : rejected) {
        SCOPED_TRACE(value);
        FakeSettingsWindow w;
        Settings s;
        store.Set("Window", "Placement", value);
        LoadSettings(store, w, s);
        EXPECT_TRUE(w.placementsSet.empty());
    }

    // Valid but blank: flags and show command both zero.
    const WindowPlacementRecord blank{44, 0, 0, 0, 0, 0, 0, 10, 10, 200, 200};
    const auto bytes = EncodePlacement(blank);
    store.Set("Window", "Placement", EncodeProfileStruct(bytes.data(), bytes.size()));
    FakeSettingsWindow w;
    LoadSettings(store, w, settings);
    EXPECT_TRUE(w.placementsSet.empty());
}

TEST_F(SettingsStoreTest, SaveWritesEveryKeyInOrder) {
    settings.PopupNotifyWindow = true;
    settings.SoundFileName = "a.wav";
    settings.IgnoreAutoRefresh = true;
    settings.DisconnectConnTime = -7;
    settings.MaxLogSize = 4096;
    settings.Sort = 3;
    settings.SortResource = 1;
    window.sessionWidths = {10, 11, 12, 13, 14, 15};
    window.resourceWidths = {20, 300};
    window.tabIndex = 1;
    SaveSettings(store, window, settings);

    std::vector<std::string> keys;
    for (const auto& w : store.writes) keys.push_back(w.section + "/" + w.key + "=" + (w.key == "Placement" ? "" : w.value));
    const std::vector<std::string> expected = {
        "Window/Placement=",
        "Columns/Sort=3", "Columns/Column0=10", "Columns/Column1=11", "Columns/Column2=12",
        "Columns/Column3=13", "Columns/Column4=14", "Columns/Column5=15",
        "Columns/SortResource=1", "Columns/ColumnResource0=20", "Columns/ColumnResource1=300",
        "Environment/PopupNotifyWindow=1", "Environment/PopupNotifyWindowByTray=0",
        "Environment/NotifyConnectSessionBySound=0", "Environment/NotifyResourceAccess=0",
        "Environment/NotifyResourceAccessByTray=0", "Environment/NotifyResourceAccessBySound=0",
        "Environment/SoundFileName=a.wav", "Environment/SoundFileNameConnectSession=",
        "Environment/IgnoreSharedResource=0", "Environment/IgnoreLocalConnection=0",
        "Environment/IgnoreAutoRefresh=1", "Environment/DisconnectConnTime=-7",
        "Environment/DisconnectIdleTime=0", "Environment/ExitMessage=0",
        "Environment/DisconnectMessage=0", "Environment/IgnoreFileCloseMessage=0", "Environment/CloseIsMinimize=0",
        "Environment/MaxLogSize=4096", "Environment/WriteEventLog=0", "Environment/TabIndex=1",
    };
    EXPECT_EQ(keys, expected);
}

TEST_F(SettingsStoreTest, EveryRefusedKeyEndsTheSaveThereWithItsCode) {
    settings.DisconnectConnTime = 42;
    settings.MaxLogSize = 4096;
    SaveSettings(store, window, settings);
    const std::vector<FakeProfileStore::Write> saved = store.writes;
    ASSERT_GT(saved.size(), 20u);

    for (std::size_t refused = 0; refused < saved.size(); ++refused) {
        const std::string& key = saved[refused].key;
        SCOPED_TRACE(key);
        FakeProfileStore file;
        for (const auto& w : saved) file.Set(w.section, w.key, "old");
        file.refuseKey = key;
        file.refuseCode = 1000 + static_cast<std::uint32_t>(refused);
        bool raised = false;
        try {
            SaveSettings(file, window, settings);
        } catch (const SettingsWriteError& e) {
            raised = true;
            EXPECT_EQ(e.Code(), file.refuseCode);
            EXPECT_STREQ(e.what(), "C:\\Corvane\\Corvane.ini に書き込めません");
        }
        // The window placement is best effort; every other key stops the save.
        const bool placement = key == "Placement";
        EXPECT_EQ(raised, !placement);
        for (std::size_t i = 0; i < saved.size(); ++i) {
            const bool written = i < refused || (placement && i != refused);
            EXPECT_EQ(*file.Find(saved[i].section, saved[i].key), written ? saved[i].value : "old")
                << saved[i].key;
        }
        file.refuseKey.clear();
        SaveSettings(file, window, settings);
        for (const auto& w : saved) EXPECT_EQ(*file.Find(w.section, w.key), w.value) << w.key;
    }
}

TEST_F(SettingsStoreTest, LoadFailsWhenTheSecondsMarkCannotBeWritten) {
    store.refuseKey = "IsSecond";
    EXPECT_THROW(Load(), SettingsWriteError);
}

TEST_F(SettingsStoreTest, StoreSavesOnlyAfterASuccessfulLoad) {
    store.Set("Environment", "PopupNotifyWindow", "0");
    SettingsStore owner(store, window, settings);
    owner.SaveSettings();  // the start ended before loading
    EXPECT_FALSE(owner.Loaded());
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(*Stored("Environment", "PopupNotifyWindow"), "0");

    FakeProfileStore refusing;
    refusing.refuseKey = "IsSecond";
    SettingsStore failed(refusing, window, settings);
    EXPECT_THROW(failed.LoadSettings(), SettingsWriteError);
    refusing.refuseKey.clear();
    failed.SaveSettings();
    EXPECT_TRUE(refusing.writes.empty());

    owner.LoadSettings();
    EXPECT_TRUE(owner.Loaded());
    owner.SaveSettings();
    EXPECT_EQ(*Stored("Environment", "PopupNotifyWindow"), "0");
    EXPECT_NE(Stored("Environment", "TabIndex"), nullptr);
}

}  // namespace
}  // namespace corvane::test
