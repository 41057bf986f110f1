// EXECFILE and EXECFILE2: SQL from a file or from every file under a directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shell/commands.h"

command_result command_execfile(command_line& cl);
command_result command_execfile2(command_line& cl);

// Appends every file below dir, depth first: a subdirectory is walked where the listing meets it.
// Entries come in the order the file system lists them.
void list_directory(const std::string& dir, std::vector<std::string>& files);
