// Resource identifiers of corvane.dll.
#pragma once

#define IDR_CORVANE_APPID 101
#define IDR_ATLHALVEX     106
#define IDR_ATLHALVEX_PROGID 107
#define IDB_ATLHALVEX     105
#define IDS_PROJNAME      100
