#include "host/render.h"

#include "host/widget_window.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPalette>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// A new file beside `path` renamed over it: readers never see half an image. The mode is the
// replaced file's, or what the umask leaves of 0666 for a new one, as any program would write.
bool replaceFile(const QByteArray& path, const QByteArray& bytes, const struct stat* existing) {
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray temporary = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    mode_t mode = existing ? existing->st_mode & 07777 : 0;
    if (!existing) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // rename() replaces the name itself and never follows a link put there meanwhile.
    if (!ok || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

enum class Target { Refused, Stream, Pipe, File, Failed };

// Where the image goes. Only a regular file (or nothing) is replaced; a pipe, and standard
// output under any of its names, are written as a stream; everything else is refused, and so
// is a link to a file, whose target a planted link would otherwise choose.
Target target(const QString& out, FILE* stream, struct stat& existing, QString& why) {
    if (out == u"-")
        return Target::Stream;
    const QByteArray path = QFile::encodeName(out);
    if (::lstat(path.constData(), &existing) != 0)
        return errno == ENOENT ? Target::File : Target::Failed;
    if (S_ISREG(existing.st_mode))
        return Target::File;
    if (S_ISFIFO(existing.st_mode))
        return Target::Pipe;
    struct stat resolved {
    }, own{};
    if (S_ISLNK(existing.st_mode) && ::stat(path.constData(), &resolved) == 0) {
        // /dev/stdout, /dev/fd/1, /proc/self/fd/1.
        if (::fstat(fileno(stream), &own) == 0 && own.st_dev == resolved.st_dev &&
            own.st_ino == resolved.st_ino)
            return Target::Stream;
        // /dev/fd/63 of a shell's process substitution.
        if (S_ISFIFO(resolved.st_mode))
            return Target::Pipe;
        why = QStringLiteral("它是一个符号链接，请直接给出目标文件的路径");
        return Target::Refused;
    }
    why = S_ISLNK(existing.st_mode) ? QStringLiteral("它是一个指向不存在目标的符号链接")
          : S_ISDIR(existing.st_mode) ? QStringLiteral("它是一个目录")
                                      : QStringLiteral("它是设备或套接字，不是普通文件");
    return Target::Refused;
}

int writeImage(const QString& out, const QByteArray& png, bool describe, FILE* stream, FILE* err) {
    struct stat existing {};
    QString why;
    const Target where = target(out, stream, existing, why);
    if (where == Target::Stream && describe)
        why = QStringLiteral("--describe 也写到标准输出");
    else if (where == Target::Stream && ::isatty(fileno(stream)))
        why = QStringLiteral("标准输出是终端；请重定向到文件或管道");
    if (!why.isEmpty()) {
        std::fprintf(err, "tessel-widget-host: 拒绝写入 %s：%s\n", qPrintable(out),
                     qPrintable(why));
        return 2;
    }
    bool ok = false;
    const QByteArray path = QFile::encodeName(out);
    switch (where) {
    case Target::Stream:
        std::fflush(stream);
        ok = writeAll(fileno(stream), png);
        break;
    case Target::Pipe: {
        // Waits for a reader, as any writer into a named pipe does.
        const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        struct stat info {};
        ok = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) && writeAll(fd, png);
        if (fd >= 0)
            ok = ::close(fd) == 0 && ok;
        break;
    }
    case Target::File:
        ok = replaceFile(path, png, S_ISREG(existing.st_mode) ? &existing : nullptr);
        break;
    case Target::Refused:
    case Target::Failed:
        break;
    }
    if (!ok) {
        std::fprintf(err, "tessel-widget-host: 无法写入 %s：请检查目录是否存在、是否可写\n",
                     qPrintable(out));
        return 2;
    }
    return 0;
}

} // namespace

QString argumentError(const QCommandLineParser& parser, const QStringList& arguments) {
    if (!parser.unknownOptionNames().isEmpty()) {
        // "-xy" is read as "-x -y"; the message shows the word that was given.
        const QString name = parser.unknownOptionNames().constFirst();
        const QString option = QStringLiteral("--") + name;
        for (const QString& a : arguments)
            if (a == option || a.startsWith(option + u'=') ||
                (name.size() == 1 && a.startsWith(u'-') && !a.startsWith(u"--") &&
                 a.contains(name)))
                return QStringLiteral("未知参数“%1”").arg(a);
        return QStringLiteral("未知参数“%1”").arg(option);
    }
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("未知参数“%1”").arg(parser.positionalArguments().constFirst());
    // Else a value option ended the line, or a switch was given a value (--describe=x).
    const QString& last = arguments.constLast();
    if (last.contains(u'='))
        return QStringLiteral("未知参数“%1”").arg(last);
    return QStringLiteral("%1 需要一个值").arg(last);
}

int parseRender(const QStringList& arguments, RenderOptions& o, QString& error) {
    const QCommandLineOption family(QStringLiteral("family"), {}, QStringLiteral("FAMILY"));
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption scale(QStringLiteral("scale"), {}, QStringLiteral("S"));
    const QCommandLineOption theme(QStringLiteral("theme"), {}, QStringLiteral("THEME"));
    const QCommandLineOption out(QStringLiteral("out"), {}, QStringLiteral("FILE"));
    const QCommandLineOption describe(QStringLiteral("describe"));
    QCommandLineParser parser;
    parser.addOptions({family, config, scale, theme, out, describe});
    const QStringList line = QStringList{QStringLiteral("render")} + arguments;
    if (!parser.parse(line) || !parser.positionalArguments().isEmpty()) {
        error = argumentError(parser, line);
        return 2;
    }
    o.family = parser.value(family);
    o.configFile = parser.value(config);
    o.out = parser.value(out);
    o.describe = parser.isSet(describe);
    if (parser.isSet(theme)) {
        o.theme = parser.value(theme);
        if (o.theme != u"light" && o.theme != u"dark") {
            error = QStringLiteral("--theme 只接受 light 或 dark，而不是“%1”").arg(o.theme);
            return 2;
        }
    }
    if (parser.isSet(scale)) {
        const QString text = parser.value(scale);
        bool ok = false;
        o.scale = text.toDouble(&ok);
        if (!ok || !std::isfinite(o.scale) || o.scale < 0.5 || o.scale > 8) {
            error = QStringLiteral("--scale 应是 0.5 到 8 之间的数字，而不是“%1”").arg(text);
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
    if (o.out == u"-" && o.describe) {
        error = QStringLiteral("--out - 与 --describe 都写到标准输出，只能选一个");
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
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!view->render(o.scale).save(&buffer, "PNG")) {
            std::fprintf(err, "tessel-widget-host: 插件没有给出图像\n");
            return 1;
        }
        if (const int status = writeImage(o.out, png, o.describe, out, err); status != 0)
            return status;
    }
    if (o.describe) {
        const QByteArray text = describe(plugin.description.kind, family, *view, timeline.after);
        std::fwrite(text.constData(), 1, size_t(text.size()), out);
        std::fflush(out);
    }
    return 0;
}

} // namespace tessel::host
