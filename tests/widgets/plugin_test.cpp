// The built plug-in as the host sees it: what it links, and the contract through QPluginLoader.
#include <QPluginLoader>

#include <elf.h>

#include <fstream>
#include <iterator>

#include "widget_fixture.h"

using namespace tessel;
using Family = widget::Family;

namespace {

// DT_NEEDED entries of a 64-bit ELF shared object.
std::vector<std::string> needed(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), {});
    if (image.size() < sizeof(Elf64_Ehdr))
        return {};
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    std::vector<std::string> out;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNAMIC)
            continue;
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto* entry =
            reinterpret_cast<const Elf64_Dyn*>(image.data() + sections[i].sh_offset);
        for (; entry->d_tag != DT_NULL; ++entry)
            if (entry->d_tag == DT_NEEDED)
                out.emplace_back(strings + entry->d_un.d_val);
    }
    return out;
}

} // namespace

class Plugin : public test::ContainerTest {
protected:
    void SetUp() override {
        ContainerTest::SetUp();
        loader.setFileName(TESSEL_WIDGETS_PLUGIN);
        plugin = qobject_cast<widget::WidgetPlugin*>(loader.instance());
        ASSERT_NE(plugin, nullptr) << loader.errorString().toStdString();
    }

    QPluginLoader loader;
    widget::WidgetPlugin* plugin = nullptr;
};

TEST(PluginLinks, NeitherTheNetworkNorTheKeyStore) {
    const std::vector<std::string> libraries = needed(TESSEL_WIDGETS_PLUGIN);
    ASSERT_FALSE(libraries.empty());
    bool widgets = false;
    for (const std::string& library : libraries) {
        EXPECT_EQ(library.find("curl"), std::string::npos) << library;
        EXPECT_EQ(library.find("secret"), std::string::npos) << library;
        EXPECT_EQ(library.find("uriparser"), std::string::npos) << library;
        EXPECT_EQ(library.find("Network"), std::string::npos) << library;
        widgets = widgets || library.find("Qt6Widgets") != std::string::npos;
    }
    EXPECT_TRUE(widgets);
}

// The texts a user sees of these are checked where the host shows them (host_test).
TEST_F(Plugin, DescribesItselfAndItsConfigurationAsData) {
    const widget::WidgetDescription description = plugin->description();
    EXPECT_EQ(description.kind, "TesselDesktopWidget");
    EXPECT_EQ(description.families, (QList<Family>{Family::Small, Family::Medium, Family::Large}));
    EXPECT_EQ(loader.metaData().value("MetaData").toObject().value("kind"), "TesselDesktopWidget");

    const QList<widget::Parameter> parameters = plugin->parameters();
    ASSERT_EQ(parameters.size(), 4);
    QStringList keys;
    for (const widget::Parameter& p : parameters)
        keys << p.key;
    EXPECT_EQ(keys, (QStringList{"followsAppSettings", "subscriptions", "metric", "period"}));
    EXPECT_EQ(parameters[0].defaultValue, true);
    EXPECT_FALSE(parameters[1].defaultValue.isValid());
    EXPECT_EQ(parameters[2].typeTitle, "指标");
    // The values are what placed widgets store.
    QStringList metrics;
    for (const widget::Option& o : parameters[2].options)
        metrics << o.value;
    EXPECT_EQ(metrics, (QStringList{"remaining", "used", "reset", "cost", "tokens"}));
}

TEST_F(Plugin, TimelineAndViewThroughTheContract) {
    store(test::sampleSnapshot(std::chrono::system_clock::now()));
    const QList<widget::Entity> entities = plugin->suggestedEntities("subscriptions");
    ASSERT_EQ(entities.size(), 6);
    EXPECT_EQ(entities[0].name, "主力订阅 · Grove 12x");
    const QVariantMap configuration{{"followsAppSettings", false},
                                    {"subscriptions", QStringList{entities[1].id}},
                                    {"metric", "used"}};
    EXPECT_EQ(plugin->entities("subscriptions", {"gone", entities[1].id}).size(), 1);

    const widget::Timeline timeline = plugin->timeline(configuration, {Family::Small});
    ASSERT_EQ(timeline.entries.size(), 1);
    EXPECT_LE(timeline.entries[0].date.secsTo(timeline.after), 181); // fresh until then
    std::unique_ptr<widget::WidgetView> view =
        plugin->createView(timeline.entries[0], Family::Small, {});
    QStringList texts;
    for (const widget::ViewItem& item : view->items())
        texts << item.text;
    EXPECT_EQ(texts.mid(2, 2), (QStringList{"Nimbrel Trail", "12%"}));
    EXPECT_FALSE(view->items()[2].enabled);
    EXPECT_EQ(view->render(1.5).size(), QSize(255, 255));

    const widget::Entry placeholder = plugin->placeholder({Family::Large});
    view->setEntry(placeholder);
    EXPECT_EQ(view->items()[2].text, "等待 Tessel");
}
