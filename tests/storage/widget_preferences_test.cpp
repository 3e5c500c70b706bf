#include <gtest/gtest.h>

#include <system_error>

#include <sys/stat.h>

#include "storage/file_io.h"
#include "storage/widget_preferences.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tessel;

TEST(WidgetPreferencesStore, WithoutContainerDefaultsAndSaveFailsNotFound) {
    WidgetPreferencesStore store(std::nullopt);
    EXPECT_EQ(store.load(), WidgetPreferences{});
    try {
        store.save({});
        FAIL() << "save without a container succeeded";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    }
}

TEST(WidgetPreferencesStore, RoundTripsAnyValuesUnchanged) {
    test::TempDir tmp;
    WidgetPreferencesStore store(tmp.path() / "group");
    store.save({});
    EXPECT_EQ(store.load(), WidgetPreferences{});
    const std::string defaults = FileIO::read(tmp.path() / "group" / "widget-preferences.json");
    EXPECT_NE(defaults.find("\"providerIDs\":[]"), std::string::npos) << defaults;
    struct stat info {};
    ASSERT_EQ(::stat((tmp.path() / "group" / "widget-preferences.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // No clamping or validation: readers decide what an odd value means.
    WidgetPreferences odd;
    odd.providerIDs = {WidgetPreferences::noneSelected};
    odd.quotaCount = 7;
    odd.metric = "sideways";
    odd.period = "";
    odd.showQuotas = false;
    odd.showReset = true;
    odd.chartMetric = "价格";
    odd.showAgents = true;
    store.save(odd);
    EXPECT_EQ(store.load(), odd);
}

TEST(WidgetPreferencesStore, AnyUnusableFileReadsAsCompleteDefaults) {
    test::TempDir tmp;
    WidgetPreferencesStore store(tmp.path());
    WidgetPreferences custom;
    custom.quotaCount = 1;
    custom.showAgents = true;
    store.save(custom);
    std::string good = FileIO::read(tmp.path() / "widget-preferences.json");
    ASSERT_EQ(store.load(), custom);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    // Each is a whole-document failure, never a merge with defaults.
    for (const std::string& bad : {
             replaced(",\"showAgents\":true", ""),
             replaced("\"quotaCount\":1", "\"quotaCount\":\"1\""),
             replaced("\"quotaCount\":1", "\"quotaCount\":1.5"),
             replaced("\"showAgents\":true", "\"showAgents\":1"),
             replaced("\"showAgents\":true", "\"showAgents\":null"),
             replaced("\"providerIDs\":[]", "\"providerIDs\":[1]"),
             good.substr(0, good.size() / 2),
             std::string("[]"),
             std::string("\xff\xfe", 2),
         }) {
        tmp.write("widget-preferences.json", bad);
        EXPECT_EQ(store.load(), WidgetPreferences{}) << bad;
    }
}
