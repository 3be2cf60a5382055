#pragma once

// Sends the program's log lines to the system journal (its native socket),
// or to syslog where there is no journal, under the name IDENTIFIER, as long
// as standard error is not a terminal: a program started from a menu, at
// log-in or by the settings page has its standard error on /dev/null, and
// its one line saying why it cannot hide the pointer would be lost there.
// The lines still go to standard error too.
void logToSystemLogUnlessTerminal(const char *identifier);
