#pragma once
// Resource identifiers shared by corvane.rc and the program.
#define IDI_MAINICON 1
#define IDB_COMMANDS 201
#define IDB_SESSIONS_DESIGNED 202
