#include "support/private_keyring.h"

#include <gio/gio.h>

#include <csignal>
#include <string>

// gcr's scripted prompter, from the runtime library (its headers would bring all of GTK).
extern "C" {
const char* gcr_mock_prompter_start(void);
void gcr_mock_prompter_stop(void);
void gcr_mock_prompter_expect_password_ok(const char* password, const char* firstProperty, ...);
void gcr_mock_prompter_expect_password_cancel(void);
void gcr_mock_prompter_set_delay_msec(guint delay);
gboolean gcr_mock_prompter_is_expecting(void);
}

namespace tessel::test {

namespace {

// Whether `name` appears on the bus at `address` within ten seconds.
bool owned(const std::string& address, const char* name) {
    const gchar* argv[] = {"gdbus",     "wait", "--address", address.c_str(),
                           "--timeout", "10",   name,        nullptr};
    gint status = -1;
    return g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                        nullptr, nullptr, nullptr, &status, nullptr) &&
           status == 0;
}

void end(GSubprocess*& process) {
    if (!process)
        return;
    g_subprocess_send_signal(process, SIGKILL); // also ends a stopped process
    g_subprocess_wait(process, nullptr, nullptr);
    g_clear_object(&process);
}

} // namespace

PrivateKeyring::PrivateKeyring() {
    bus_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "dbus-daemon", "--session",
                            "--nofork", "--print-address=1", nullptr);
    if (!bus_)
        return;
    GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(bus_));
    gchar* line = g_data_input_stream_read_line(out, nullptr, nullptr, nullptr);
    g_object_unref(out);
    if (!line)
        return;
    const std::string address = g_strstrip(line);
    g_free(line);
    session_.emplace("DBUS_SESSION_BUS_ADDRESS", address);

    const char* prompter = gcr_mock_prompter_start();
    prompter_ = true;
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    g_subprocess_launcher_setenv(launcher, "XDG_DATA_HOME", (dir_.path() / "data").c_str(), TRUE);
    g_subprocess_launcher_setenv(launcher, "XDG_RUNTIME_DIR", dir_.path().c_str(), TRUE);
    g_subprocess_launcher_setenv(launcher, "GNOME_KEYRING_TEST_PROMPTER", prompter, TRUE);
    keyring_ = g_subprocess_launcher_spawn(launcher, nullptr, "gnome-keyring-daemon",
                                           "--foreground", "--components=secrets", nullptr);
    g_object_unref(launcher);
    ready_ = keyring_ && owned(address, "org.freedesktop.secrets");
}

PrivateKeyring::~PrivateKeyring() {
    // The key store's connection to this bus would end the process (SIGTERM) when the bus goes.
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
    session_.reset();
    end(keyring_);
    if (prompter_)
        gcr_mock_prompter_stop();
    end(bus_);
}

void PrivateKeyring::answer(const char* password) {
    gcr_mock_prompter_expect_password_ok(password, nullptr);
}

void PrivateKeyring::dismiss() {
    gcr_mock_prompter_expect_password_cancel();
}

void PrivateKeyring::think(std::chrono::milliseconds time) {
    gcr_mock_prompter_set_delay_msec(guint(time.count()));
}

bool PrivateKeyring::expecting() const {
    return gcr_mock_prompter_is_expecting();
}

void PrivateKeyring::freeze() {
    g_subprocess_send_signal(keyring_, SIGSTOP);
}

void PrivateKeyring::thaw() {
    g_subprocess_send_signal(keyring_, SIGCONT);
}

} // namespace tessel::test
