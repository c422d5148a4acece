#pragma once

// Resource identifiers, shared by the resource script and the code.
#define IDI_KESTRIN 1
#define IDB_TICKED 101
#define IDB_TICKED_MASK 102
#define IDB_UNTICKED 103
#define IDB_UNTICKED_MASK 104
#define IDB_FOLDER_CLOSED 105
#define IDB_FOLDER_CLOSED_MASK 106
#define IDB_FOLDER_OPEN 107
#define IDB_FOLDER_OPEN_MASK 108
