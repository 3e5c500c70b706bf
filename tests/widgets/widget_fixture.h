// The shared container filled with the sample answers, and the contract's item listing.
#pragma once

#include <gtest/gtest.h>

#include <fstream>

#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "support/app_fixture.h"
#include "support/sample_snapshot.h"
#include "widgets/widget_content.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tessel::test {

// The shared container in a temporary XDG_DATA_HOME.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override { app(); }
    std::filesystem::path directory() const {
        return dir.path() / "data" / SharedContainer::groupID();
    }
    void store(const Snapshot& s) const { SnapshotStore(directory()).save(s); }
    void store(const WidgetPreferences& p) const { WidgetPreferencesStore(directory()).save(p); }
    void writeSuite(const std::string& text) const {
        std::filesystem::create_directories(directory());
        std::ofstream(directory() / "selection.ini") << text;
    }

    TempDir dir;
    ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
};

// Texts of the visible items in reading order; links and charts by their accessible names.
inline QStringList shown(WidgetContent& view) {
    QStringList out;
    for (const widget::ViewItem& item : view.items())
        out << (item.text.isEmpty() ? item.accessibleName : item.text);
    return out;
}

} // namespace tessel::test
