// Resource ids of notelia.rc, grouped by the resource that uses them.
#pragma once

// The main frame: menu, accelerators, icon and title share the id.
#define IDR_MAINFRAME 128

// String table.
#define IDS_SOCKETS_INIT_FAILED 104
#define IDS_APPLICATION_NAME 57344
