// The process services that do not depend on the platform: the exit path and its test hook,
// and the control handler's installation (the halves call it from their signal or event
// handlers).
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/system.h"
#include "platform/system_shared.h"

std::atomic<bool (*)(int)> plat_installed_ctrl_handler{nullptr};

namespace {

void (*exit_hook)(int) = nullptr;

}  // namespace

void plat_exit(int status) {
    con_flush();
    con_restore_terminal();
    std::fflush(nullptr);
    if (exit_hook) exit_hook(status);
    std::_Exit(status);
}

void plat_set_exit_hook(void (*hook)(int status)) {
    exit_hook = hook;
}

void plat_set_ctrl_handler(bool (*handler)(int event), bool add) {
    plat_installed_ctrl_handler = add ? handler : nullptr;
}
