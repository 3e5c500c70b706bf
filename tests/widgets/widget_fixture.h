// What the widget view tests share: one QApplication, a shared container in a temporary
// directory filled with the sample gateway's answers, and the contract's item listing.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "support/temp_dir.h"
#include "tools/sample-gateway/sample_data.h"
#include "widgets/widget_content.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tessel::test {

inline QApplication& app() {
    static int argc = 1;
    static char name[] = "widgets_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics are gone by the time a static QApplication would be.
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// The snapshot the application would store after one good refresh of the sample gateway.
inline Snapshot sampleSnapshot(Instant now) {
    Snapshot s;
    s.endpoint = "http://127.0.0.1:3425";
    s.updatedAt = s.attemptedAt = s.quotaUpdatedAt = s.usageUpdatedAt = now;
    s.quotas = Wire::decode<QuotaEnvelope>(sample::quotas(now)).data;
    for (const auto& [key, wire] : {std::pair{"today", "today"}, {"week", "7d"}, {"month", "30d"}})
        s.usage[key] = Wire::decode<Usage>(*sample::usage(wire, now));
    return s;
}

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override { app(); }

    std::filesystem::path directory() const {
        return dir.path() / "data" / SharedContainer::groupID();
    }
    void store(const Snapshot& s) const { SnapshotStore(directory()).save(s); }
    void store(const WidgetPreferences& p) const { WidgetPreferencesStore(directory()).save(p); }

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
