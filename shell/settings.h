// The settings commands SHOW, SET and RESET.
#pragma once

#include <string_view>

#include "shell/commands.h"
#include "state/console_state.h"

command_result command_show(command_line& cl);
command_result command_set(command_line& cl);
command_result command_reset(command_line& cl);

// Parses a date pattern such as yyyy-mm-dd or dd/mm/yyyy into f, printing the messages of a
// pattern it cannot take. Positions and texts parsed before an error keep their new values.
// Returns true on success.
bool parse_date_format(std::string_view text, datef_t& f);
