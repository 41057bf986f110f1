#include "tests/support/temp_dir.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"

temp_dir::temp_dir() {
    make_temp_folder("norvlite-test-", path);
}

temp_dir::~temp_dir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}
