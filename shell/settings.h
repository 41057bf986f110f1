// The settings commands SHOW, SET and RESET.
#pragma once

#include <string_view>

#include "shell/commands.h"
#include "state/console_state.h"

// The three handlers take the line that begins with their word; console thread only. An option
// the console keeps (PAGESIZE, STR_SIZE, NUM_SIZE, HEADING, SHOW_TYPE and, for SET, NULL,
// DATE_FORMAT and the ON/OFF switches) is shown or changed in g_console and the outcome printed,
// or the message of a value it cannot take (some of which keep what was read: SET PAGESIZE 0
// stores the 0, as parse_date_format keeps the parts parsed before an error). Any other option is
// sent to the server with the whole line and reported like a statement (run_and_report). Each
// returns command_result::done.

// SHOW option: prints the setting; SHOW TABLES asks the server for its tables.
command_result command_show(command_line& cl);
// SET option value: changes the setting; SET AUTO_COMMIT ON|OFF changes it and also sends the
// line to the server.
command_result command_set(command_line& cl);
// RESET option: puts the setting back to its start-up value.
command_result command_reset(command_line& cl);

// Parses a date pattern such as yyyy-mm-dd or dd/mm/yyyy into f, printing the messages of a
// pattern it cannot take. Positions and texts parsed before an error keep their new values.
// Returns true on success.
bool parse_date_format(std::string_view text, datef_t& f);
