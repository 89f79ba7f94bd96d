#include "Display.h"

#include "CommandLine.h"
#include "RuntimeError.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace runtime {
namespace {

std::string variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// Why the X display cannot be opened, or "" when it can.
std::string xProblem()
{
    const std::string display = variable("DISPLAY");
    if (display.empty())
        return "DISPLAY is not set";
    xcb_connection_t *connection = xcb_connect(display.c_str(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    return failed ? "the X display " + runtime::quoted(display) + " (DISPLAY) cannot be opened"
                  : "";
}

// Why the Wayland compositor cannot be reached, or "" when it can.
std::string waylandProblem()
{
    if (!variable("WAYLAND_SOCKET").empty())
        return "";
    std::string path = variable("WAYLAND_DISPLAY");
    path = path.empty() ? "wayland-0" : path;
    if (path.front() != '/') {
        if (variable("XDG_RUNTIME_DIR").empty())
            return "the Wayland display " + runtime::quoted(path) +
                   " has no XDG_RUNTIME_DIR to be in";
        path = variable("XDG_RUNTIME_DIR") + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool reached = path.size() < sizeof address.sun_path && fd >= 0 &&
                         (path.copy(address.sun_path, path.size()), true) &&
                         connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return reached ? ""
                   : "the Wayland display " + runtime::quoted(path) +
                         " (WAYLAND_DISPLAY) cannot be reached";
}

// The keys the platform plugins in FOLDER declare; their files are read, not loaded.
void addKeys(const QString &folder, std::vector<std::string> &keys)
{
    if (folder.isEmpty()) // QDir would take the current directory
        return;
    for (const QString &file : QDir(folder).entryList(QDir::Files)) {
        const QJsonArray declared = QPluginLoader(folder + '/' + file)
                                        .metaData()
                                        .value(QStringLiteral("MetaData"))[QStringLiteral("Keys")]
                                        .toArray();
        std::ranges::transform(declared, std::back_inserter(keys), [](const auto &key) {
            return key.toString().toLower().toStdString();
        });
    }
}

// The platform plugins Qt would find, by the keys they declare.
std::vector<std::string> platformKeys()
{
    std::vector<std::string> keys;
    addKeys(qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"), keys);
    for (const QString &folder : QCoreApplication::libraryPaths())
        addKeys(folder + QStringLiteral("/platforms"), keys);
    return keys;
}

// Why Qt's platform NAME cannot start here, or "" when it can.
std::string platformProblem(const std::string &name, const std::vector<std::string> &keys)
{
    if (std::ranges::find(keys, name) == keys.end()) {
        std::string known;
        for (const std::string &key : keys)
            known += (known.empty() ? "" : ", ") + key;
        return "Qt has no platform plugin " + runtime::quoted(name) + " (it has " +
               (known.empty() ? std::string("none") : known) +
               "; name one of them in QT_QPA_PLATFORM or unset it)";
    }
    if (name == "xcb")
        return xProblem();
    return name.starts_with("wayland") ? waylandProblem() : "";
}

std::vector<std::string> namedPlatforms()
{
    const QStringList entries =
        qEnvironmentVariable("QT_QPA_PLATFORM").split(';', Qt::SkipEmptyParts);
    std::vector<std::string> names;
    std::ranges::transform(entries, std::back_inserter(names), [](const QString &entry) {
        return entry.section(':', 0, 0).trimmed().toLower().toStdString();
    });
    return names;
}

[[noreturn]] void noDisplay(const std::string &tried)
{
    throw RuntimeError(ErrorNumber::NoDisplay,
                       "no graphical session: " + tried + ". The " + programName() +
                           " window needs one: start it in a desktop session, or on a headless "
                           "machine under xvfb-run, as in 'xvfb-run -a " +
                           programName() + "'");
}

} // namespace

void requireDisplay()
{
    std::vector<std::string> names = namedPlatforms();
    const bool named = !names.empty();
    if (!named) {
        if (variable("DISPLAY").empty() && variable("WAYLAND_DISPLAY").empty())
            noDisplay("neither DISPLAY nor WAYLAND_DISPLAY is set");
        // The usual case costs one X connection; the plugins are read only after.
        const std::string xWhy = xProblem();
        if (xWhy.empty())
            return;
        names = {"wayland"};
        if (variable("WAYLAND_DISPLAY").empty())
            noDisplay(xWhy + ", and WAYLAND_DISPLAY is not set");
    }
    std::string tried =
        named ? "QT_QPA_PLATFORM is " + runtime::quoted(variable("QT_QPA_PLATFORM")) : xProblem();
    const std::vector<std::string> keys = platformKeys();
    for (const std::string &name : names) {
        const std::string problem = platformProblem(name, keys);
        if (problem.empty())
            return;
        tried += "; " + problem;
    }
    noDisplay(tried);
}

} // namespace runtime
