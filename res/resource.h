#pragma once
// Resource identifiers shared by corvane.rc and the program.
#define IDI_MAINICON 1
#define IDB_COMMANDS 201
#define IDB_SESSIONS_DESIGNED 202
// The same pictures drawn for larger display scales (20, 24 and 32 pixels).
#define IDB_COMMANDS_20 203
#define IDB_SESSIONS_DESIGNED_20 204
#define IDB_COMMANDS_24 205
#define IDB_SESSIONS_DESIGNED_24 206
#define IDB_COMMANDS_32 207
#define IDB_SESSIONS_DESIGNED_32 208
