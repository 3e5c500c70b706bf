// A session bus with a keyring-less gnome-keyring whose prompts the test answers. Make it before
// the process's first key-store call: the key store keeps the first bus it talked to.
#pragma once

#include <chrono>
#include <optional>

#include "support/temp_dir.h"

typedef struct _GSubprocess GSubprocess;

namespace tessel::test {

class PrivateKeyring {
public:
    PrivateKeyring();
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    bool ready() const { return ready_; }

    // The user's answers to the next prompts, in order: a password, or closing the prompt.
    void answer(const char* password);
    void dismiss();
    // How long the user takes over each answer.
    void think(std::chrono::milliseconds time);
    // Whether answers are left that no prompt used.
    bool expecting() const;
    // The service stops answering (SIGSTOP), and answers again.
    void freeze();
    void thaw();

private:
    TempDir dir_;
    GSubprocess* bus_ = nullptr;
    GSubprocess* keyring_ = nullptr;
    bool prompter_ = false;
    bool ready_ = false;
    std::optional<ScopedEnv> session_;
};

} // namespace tessel::test
