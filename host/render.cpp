#include "host/render.h"

#include "host/widget_window.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPalette>
#include <QSaveFile>

#include <cmath>

namespace tessel::host {

namespace {

QByteArray json(const QJsonValue& value) {
    // QJsonDocument takes only containers; the one-element array's brackets are cut off.
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
}

QPalette themePalette(const QString& theme) {
    const bool dark = theme == u"dark";
    QPalette p;
    const QColor window = dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(0xf6, 0xf6, 0xf6);
    const QColor text = dark ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1d, 0x1d, 0x1f);
    const QColor base = dark ? QColor(0x2a, 0x2a, 0x2a) : Qt::white;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::WindowText, text);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::Text, text);
        p.setColor(g, QPalette::Button, window);
        p.setColor(g, QPalette::ButtonText, text);
        p.setColor(g, QPalette::PlaceholderText,
                   dark ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x6e, 0x6e, 0x73));
    }
    p.setColor(QPalette::Disabled, QPalette::WindowText,
               dark ? QColor(0x80, 0x80, 0x80) : QColor(0x9a, 0x9a, 0x9a));
    p.setColor(QPalette::Disabled, QPalette::ButtonText,
               dark ? QColor(0x80, 0x80, 0x80) : QColor(0x9a, 0x9a, 0x9a));
    p.setColor(QPalette::Disabled, QPalette::Text,
               dark ? QColor(0x80, 0x80, 0x80) : QColor(0x9a, 0x9a, 0x9a));
    return p;
}

} // namespace

int parseRender(const QStringList& arguments, RenderOptions& o, QString& error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        auto value = [&](QString& into) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 需要一个值").arg(a);
                return false;
            }
            into = arguments[++i];
            return true;
        };
        QString text;
        if (a == u"--family") {
            if (!value(o.family))
                return 2;
        } else if (a == u"--config") {
            if (!value(o.configFile))
                return 2;
        } else if (a == u"--out") {
            if (!value(o.out))
                return 2;
        } else if (a == u"--theme") {
            if (!value(o.theme))
                return 2;
            if (o.theme != u"light" && o.theme != u"dark") {
                error = QStringLiteral("--theme 只接受 light 或 dark，而不是“%1”").arg(o.theme);
                return 2;
            }
        } else if (a == u"--scale") {
            if (!value(text))
                return 2;
            bool ok = false;
            o.scale = text.toDouble(&ok);
            if (!ok || !std::isfinite(o.scale) || o.scale < 0.5 || o.scale > 8) {
                error = QStringLiteral("--scale 应是 0.5 到 8 之间的数字，而不是“%1”").arg(text);
                return 2;
            }
        } else if (a == u"--describe") {
            o.describe = true;
        } else {
            error = QStringLiteral("未知参数“%1”").arg(a);
            return 2;
        }
    }
    if (!widget::familyFromName(o.family)) {
        error = o.family.isEmpty()
                    ? QStringLiteral("缺少 --family（small、medium 或 large）")
                    : QStringLiteral("未知的尺寸“%1”：应为 small、medium 或 large").arg(o.family);
        return 2;
    }
    if (o.out.isEmpty() && !o.describe) {
        error = QStringLiteral("请给出 --out FILE.png 或 --describe");
        return 2;
    }
    return 0;
}

bool readConfiguration(const QByteArray& text, const QList<widget::Parameter>& parameters,
                       QJsonObject& configuration, QString& error) {
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = parse.error != QJsonParseError::NoError
                    ? QStringLiteral("不是有效的 JSON（第 %1 个字节附近）").arg(parse.offset)
                    : QStringLiteral("应是一个 JSON 对象");
        return false;
    }
    configuration = doc.object();
    for (auto it = configuration.begin(); it != configuration.end(); ++it) {
        const auto p = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const widget::Parameter& p) { return p.key == it.key(); });
        if (p == parameters.end()) {
            error = QStringLiteral("未知的键“%1”").arg(it.key());
            return false;
        }
        bool ok = false;
        switch (p->type) {
        case widget::Parameter::Type::Flag:
            ok = it->isBool();
            break;
        case widget::Parameter::Type::Choice:
            ok = it->isString() &&
                 std::any_of(p->options.begin(), p->options.end(),
                             [&](const widget::Option& o) { return o.value == it->toString(); });
            break;
        case widget::Parameter::Type::EntityList:
            ok = it->isNull() ||
                 (it->isArray() && std::all_of(it->toArray().begin(), it->toArray().end(),
                                               [](const QJsonValue& v) { return v.isString(); }));
            break;
        }
        if (!ok) {
            QStringList offered;
            for (const widget::Option& o : p->options)
                offered.append(o.value);
            error = p->type == widget::Parameter::Type::Choice
                        ? QStringLiteral("“%1”应是 %2 之一").arg(it.key(), offered.join(u'、'))
                    : p->type == widget::Parameter::Type::Flag
                        ? QStringLiteral("“%1”应是 true 或 false").arg(it.key())
                        : QStringLiteral("“%1”应是由文本组成的列表").arg(it.key());
            return false;
        }
    }
    return true;
}

QByteArray describe(const QString& kind, widget::Family family, const widget::WidgetView& view,
                    const QDateTime& reloadAfter) {
    QByteArray out = "{\"kind\":" + json(kind) + ",\"family\":" + json(widget::familyName(family)) +
                     ",\"url\":" + json(view.tapUrl().toString()) + ",\"reloadAfter\":" +
                     (reloadAfter.isValid() ? json(reloadAfter.toUTC().toString(Qt::ISODate))
                                            : QByteArray("null")) +
                     ",\"items\":[";
    bool first = true;
    for (const widget::ViewItem& item : view.items()) {
        out += first ? "" : ",";
        first = false;
        out += "{\"role\":" + json(widget::roleName(item.role)) + ",\"text\":" + json(item.text) +
               ",\"accessibleName\":" + json(item.accessibleName) +
               ",\"enabled\":" + (item.enabled ? "true" : "false");
        if (item.role == widget::ViewItem::Role::Link)
            out += ",\"url\":" + json(item.url.toString());
        out += "}";
    }
    return out + "]}\n";
}

int render(const RenderOptions& o, const QList<LoadedPlugin>& plugins, FILE* out, FILE* err) {
    if (plugins.isEmpty()) {
        std::fprintf(err, "tessel-widget-host: 未找到桌面小组件插件\n");
        return 1;
    }
    const LoadedPlugin& plugin = plugins.first();
    const widget::Family family = *widget::familyFromName(o.family);
    QJsonObject configuration;
    if (!o.configFile.isEmpty()) {
        QFile file(o.configFile);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(err, "tessel-widget-host: 无法读取配置文件 %s：文件不存在或没有读取权限\n",
                         qPrintable(o.configFile));
            return 2;
        }
        QString error;
        if (!readConfiguration(file.read(1 << 20), plugin.plugin->parameters(), configuration,
                               error)) {
            std::fprintf(err, "tessel-widget-host: 配置文件 %s 有误：%s\n",
                         qPrintable(o.configFile), qPrintable(error));
            return 2;
        }
    }
    const widget::Timeline timeline =
        plugin.plugin->timeline(pluginConfiguration(configuration), {family, false});
    if (timeline.entries.isEmpty()) {
        std::fprintf(err, "tessel-widget-host: 插件没有给出内容\n");
        return 1;
    }
    std::unique_ptr<widget::WidgetView> view =
        plugin.plugin->createView(timeline.entries.first(), family, {}, nullptr);
    if (!view) {
        std::fprintf(err, "tessel-widget-host: 插件没有给出视图\n");
        return 1;
    }
    if (!o.theme.isEmpty())
        view->widget()->setPalette(themePalette(o.theme));
    view->widget()->setFixedSize(widget::familySize(family));
    // Laid out as on the desktop; the platform is the off-screen one, so nothing appears.
    view->widget()->show();
    if (!o.out.isEmpty()) {
        QSaveFile file(o.out);
        const QImage image = view->render(o.scale);
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
            std::fprintf(err, "tessel-widget-host: 无法写入 %s：请检查目录是否存在、是否可写\n",
                         qPrintable(o.out));
            return 2;
        }
    }
    if (o.describe) {
        const QByteArray text = describe(plugin.description.kind, family, *view, timeline.after);
        std::fwrite(text.constData(), 1, size_t(text.size()), out);
        std::fflush(out);
    }
    return 0;
}

} // namespace tessel::host
