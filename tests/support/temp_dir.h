// A fresh folder for a test's files, removed with everything in it at the end.
#pragma once

#include <string>

struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
};
