#pragma once

// Resource identifiers, shared by the resource script and the code.
#define IDI_KESTRIN 1

// The tree's pictures and their masks, drawn at several sizes (res/pictures.rc, written by the asset
// generator): resource size * 100 + n, n in image list order.
#define IDB_TICKED 1
#define IDB_TICKED_MASK 2
#define IDB_UNTICKED 3
#define IDB_UNTICKED_MASK 4
#define IDB_FOLDER_CLOSED 5
#define IDB_FOLDER_CLOSED_MASK 6
#define IDB_FOLDER_OPEN 7
#define IDB_FOLDER_OPEN_MASK 8

#ifndef RC_INVOKED
constexpr int PictureResourceId(int size, int picture)
{
    return size * 100 + picture;
}
#endif
